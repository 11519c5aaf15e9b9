#include "platform/ui/Seams.h"

#include <mutex>

namespace platform::ui {

namespace {

std::mutex& SeamsMutex() {
    static std::mutex m;
    return m;
}

Seams& Current() {
    static Seams seams{std::make_shared<QtPrompter>(), std::make_shared<QtFileChooser>(),
                       std::make_shared<QtPrinterChooser>(), std::make_shared<LogUsageSink>()};
    return seams;
}

template <typename T>
std::shared_ptr<T> Get(std::shared_ptr<T> Seams::* member) {
    std::lock_guard lock(SeamsMutex());
    return Current().*member;
}

} // namespace

// The references stay valid while the seams are in force: they are only
// replaced by a ScopedSeams, whose owner outlives the windows it serves.
Prompter& GetPrompter() {
    return *Get(&Seams::prompter);
}
FileChooser& GetFileChooser() {
    return *Get(&Seams::fileChooser);
}
PrinterChooser& GetPrinterChooser() {
    return *Get(&Seams::printerChooser);
}
std::shared_ptr<UsageSink> GetUsageSink() {
    return Get(&Seams::usageSink);
}

ScopedSeams::ScopedSeams(Seams seams) {
    std::lock_guard lock(SeamsMutex());
    Seams& current = Current();
    previous_ = current;
    if (seams.prompter)
        current.prompter = std::move(seams.prompter);
    if (seams.fileChooser)
        current.fileChooser = std::move(seams.fileChooser);
    if (seams.printerChooser)
        current.printerChooser = std::move(seams.printerChooser);
    if (seams.usageSink)
        current.usageSink = std::move(seams.usageSink);
}

ScopedSeams::~ScopedSeams() {
    std::lock_guard lock(SeamsMutex());
    Current() = std::move(previous_);
}

} // namespace platform::ui
