#include "platform/ui/Prompter.h"

#include <QApplication>
#include <QMessageBox>

namespace platform::ui {

void Prompter::Tell(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    Ask(parent, Prompt{title, text, Buttons::Ok, icon, std::nullopt});
}

bool Prompter::AskYesNo(QWidget* parent, const QString& text, const QString& title, Icon icon,
                        std::optional<Answer> defaultButton) {
    return Ask(parent, Prompt{title, text, Buttons::YesNo, icon, defaultButton}) == Answer::Yes;
}

namespace {

QMessageBox::Icon ToQt(Icon icon) {
    switch (icon) {
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Information: return QMessageBox::Information;
    case Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons ToQt(Buttons buttons) {
    switch (buttons) {
    case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case Buttons::Ok: break;
    }
    return QMessageBox::Ok;
}

QMessageBox::StandardButton ToQt(Answer answer) {
    switch (answer) {
    case Answer::Ok: return QMessageBox::Ok;
    case Answer::Cancel: return QMessageBox::Cancel;
    case Answer::Yes: return QMessageBox::Yes;
    case Answer::No: return QMessageBox::No;
    }
    return QMessageBox::NoButton;
}

} // namespace

Answer QtPrompter::Ask(QWidget* parent, const Prompt& prompt) {
    const QString title = prompt.title.isEmpty() ? QApplication::applicationDisplayName() : prompt.title;
    QMessageBox box(ToQt(prompt.icon), title, prompt.text, ToQt(prompt.buttons), parent);
    if (prompt.defaultButton)
        box.setDefaultButton(ToQt(*prompt.defaultButton));
    switch (box.exec()) {
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Ok: return Answer::Ok;
    default: break;
    }
    // Closing the box by its title bar counts as its way out.
    if (prompt.buttons == Buttons::YesNo)
        return Answer::No;
    return prompt.buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
}

} // namespace platform::ui
