#include "platform/ui/UrlOpener.h"

#include <QDesktopServices>

namespace platform::ui {

namespace {

std::shared_ptr<UrlOpener>& Current() {
    static std::shared_ptr<UrlOpener> opener = std::make_shared<QtUrlOpener>();
    return opener;
}

} // namespace

bool QtUrlOpener::Open(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

bool RecordingUrlOpener::Open(const QUrl& url) {
    opened_.push_back(url);
    return result_;
}

UrlOpener& GetUrlOpener() {
    return *Current();
}

ScopedUrlOpener::ScopedUrlOpener(std::shared_ptr<UrlOpener> opener) : previous_(Current()) {
    if (opener)
        Current() = std::move(opener);
}

ScopedUrlOpener::~ScopedUrlOpener() {
    Current() = std::move(previous_);
}

} // namespace platform::ui
