#pragma once
// The seams every window reaches its surroundings through. The Qt ones are
// in force until something else is installed; tests install scripted ones
// (Scripted.h) with ScopedSeams.
//
//   In a dialog:  if (!GetPrompter().AskYesNo(this, text, title)) return;
//   In a test:    auto p = std::make_shared<ScriptedPrompter>();
//                 p->Queue(Answer::Yes);
//                 ScopedSeams seams({p, nullptr, nullptr, nullptr});
#include <memory>

#include "platform/ui/FileChooser.h"
#include "platform/ui/PrinterChooser.h"
#include "platform/ui/Prompter.h"
#include "platform/ui/UsageSink.h"

namespace platform::ui {

struct Seams {
    std::shared_ptr<Prompter> prompter;
    std::shared_ptr<FileChooser> fileChooser;
    std::shared_ptr<PrinterChooser> printerChooser;
    std::shared_ptr<UsageSink> usageSink;
};

Prompter& GetPrompter();
FileChooser& GetFileChooser();
PrinterChooser& GetPrinterChooser();
// Shared, so a report's worker keeps its sink alive however long it runs.
std::shared_ptr<UsageSink> GetUsageSink();

// Puts the given seams in force for its lifetime; a null member keeps the
// one in force. Scopes nest and must end in reverse order.
class ScopedSeams {
public:
    explicit ScopedSeams(Seams seams);
    ~ScopedSeams();
    ScopedSeams(const ScopedSeams&) = delete;
    ScopedSeams& operator=(const ScopedSeams&) = delete;

private:
    Seams previous_;
};

} // namespace platform::ui
