#include "platform/ui/Scripted.h"

#include <QPrinter>
#include <chrono>

namespace platform::ui {

Answer ScriptedPrompter::Ask(QWidget*, const Prompt& prompt) {
    prompts_.push_back(prompt);
    if (!answers_.empty()) {
        const Answer a = answers_.front();
        answers_.pop_front();
        return a;
    }
    ++unscripted_;
    switch (prompt.buttons) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::YesNo: return Answer::No;
    default: return Answer::Cancel;
    }
}

std::vector<QString> ScriptedPrompter::Texts() const {
    std::vector<QString> texts;
    for (const Prompt& p : prompts_)
        texts.push_back(p.text);
    return texts;
}

QString ScriptedFileChooser::Choose(QWidget*, const FileRequest& request) {
    requests_.push_back(request);
    if (paths_.empty())
        return {};
    QString path = paths_.front();
    paths_.pop_front();
    return path;
}

bool ScriptedPrinterChooser::Choose(QWidget*, QPrinter& printer, const PrintRequest& request) {
    requests_.push_back(request);
    if (paths_.empty())
        return false;
    const QString path = paths_.front();
    paths_.pop_front();
    if (path.isEmpty())
        return false;
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    if (setUp_)
        setUp_(printer);
    return true;
}

void RecordingUsageSink::Report(const std::string& label) {
    {
        std::lock_guard lock(mutex_);
        labels_.push_back(label);
    }
    arrived_.notify_all();
}

std::vector<std::string> RecordingUsageSink::Labels() const {
    std::lock_guard lock(mutex_);
    return labels_;
}

bool RecordingUsageSink::WaitFor(std::size_t count, int timeoutMs) const {
    std::unique_lock lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return labels_.size() >= count; });
}

} // namespace platform::ui
