#pragma once
// Opening a web address in the user's browser, behind a seam of its own so
// tests can see what would be opened without starting a browser.
#include <QUrl>
#include <memory>
#include <vector>

namespace platform::ui {

class UrlOpener {
public:
    virtual ~UrlOpener() = default;
    // False when the desktop could not hand the address on.
    virtual bool Open(const QUrl& url) = 0;
};

// The desktop's URL handler (QDesktopServices).
class QtUrlOpener : public UrlOpener {
public:
    bool Open(const QUrl& url) override;
};

// Records the addresses and answers with a set result.
class RecordingUrlOpener : public UrlOpener {
public:
    explicit RecordingUrlOpener(bool result = true) : result_(result) {}
    bool Open(const QUrl& url) override;
    const std::vector<QUrl>& Opened() const { return opened_; }

private:
    bool result_;
    std::vector<QUrl> opened_;
};

// The opener in force; the Qt one until a scope installs another.
UrlOpener& GetUrlOpener();

// Puts an opener in force for its lifetime (user-interface thread only).
class ScopedUrlOpener {
public:
    explicit ScopedUrlOpener(std::shared_ptr<UrlOpener> opener);
    ~ScopedUrlOpener();
    ScopedUrlOpener(const ScopedUrlOpener&) = delete;
    ScopedUrlOpener& operator=(const ScopedUrlOpener&) = delete;

private:
    std::shared_ptr<UrlOpener> previous_;
};

} // namespace platform::ui
