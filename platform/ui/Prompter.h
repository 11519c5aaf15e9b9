#pragma once
// Message boxes and questions, behind a seam so windows can be driven
// headless: the application shows real boxes, tests script the answers.
#include <QString>
#include <optional>

class QWidget;

namespace platform::ui {

// The values are the class library's, so callers can keep its numbers.
enum class Buttons { Ok = 0, OkCancel = 1, YesNoCancel = 3, YesNo = 4 };
enum class Icon { None = 0, Error = 0x10, Question = 0x20, Warning = 0x30, Information = 0x40 };
enum class Answer { Ok = 1, Cancel = 2, Yes = 6, No = 7 };

struct Prompt {
    QString title; // empty: the application's own name
    QString text;
    Buttons buttons = Buttons::Ok;
    Icon icon = Icon::None;
    // The button Enter presses; none: the box's own choice (Yes, OK).
    std::optional<Answer> defaultButton;
};

class Prompter {
public:
    virtual ~Prompter() = default;
    virtual Answer Ask(QWidget* parent, const Prompt& prompt) = 0;

    // A plain OK box.
    void Tell(QWidget* parent, const QString& text, const QString& title = {}, Icon icon = Icon::None);
    // True only for Yes.
    bool AskYesNo(QWidget* parent, const QString& text, const QString& title = {}, Icon icon = Icon::Question,
                  std::optional<Answer> defaultButton = std::nullopt);
};

// Modal QMessageBox.
class QtPrompter : public Prompter {
public:
    Answer Ask(QWidget* parent, const Prompt& prompt) override;
};

} // namespace platform::ui
