#pragma once
// Scripted seams for tests: they answer from a queue filled in advance and
// record every request, so a test can check what the user was asked.
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/Seams.h"

namespace platform::ui {

// Unscripted questions get the way out that changes nothing: OK for an OK
// box, No for Yes/No, Cancel otherwise.
class ScriptedPrompter : public Prompter {
public:
    void Queue(Answer answer) { answers_.push_back(answer); }
    Answer Ask(QWidget* parent, const Prompt& prompt) override;

    const std::vector<Prompt>& Prompts() const { return prompts_; }
    // Texts of all prompts in order, for compact assertions.
    std::vector<QString> Texts() const;
    std::size_t Unscripted() const { return unscripted_; }
    void Clear() {
        prompts_.clear();
        answers_.clear();
        unscripted_ = 0;
    }

private:
    std::deque<Answer> answers_;
    std::vector<Prompt> prompts_;
    std::size_t unscripted_ = 0;
};

// Answers with queued paths; an empty path or an empty queue is a cancel.
class ScriptedFileChooser : public FileChooser {
public:
    void Queue(const QString& path) { paths_.push_back(path); }
    QString Choose(QWidget* parent, const FileRequest& request) override;
    const std::vector<FileRequest>& Requests() const { return requests_; }

private:
    std::deque<QString> paths_;
    std::vector<FileRequest> requests_;
};

// Sends each chosen print job into a queued PDF file; an empty path or an
// empty queue is a cancel.
class ScriptedPrinterChooser : public PrinterChooser {
public:
    void Queue(const QString& pdfPath) { paths_.push_back(pdfPath); }
    // Runs on each chosen printer, as the user's paper and resolution.
    void SetUp(std::function<void(QPrinter&)> setUp) { setUp_ = std::move(setUp); }
    bool Choose(QWidget* parent, QPrinter& printer, const PrintRequest& request) override;
    std::size_t Calls() const { return requests_.size(); }
    const std::vector<PrintRequest>& Requests() const { return requests_; }

private:
    std::deque<QString> paths_;
    std::function<void(QPrinter&)> setUp_;
    std::vector<PrintRequest> requests_;
};

class RecordingUsageSink : public UsageSink {
public:
    void Report(const std::string& label) override;
    std::vector<std::string> Labels() const;
    // Waits until at least count labels arrived or the time is up; true when they did.
    bool WaitFor(std::size_t count, int timeoutMs) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable arrived_;
    std::vector<std::string> labels_;
};

} // namespace platform::ui
