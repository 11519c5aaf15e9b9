#include "platform/ui/Prompter.h"

#include <QApplication>
#include <QMessageBox>

namespace platform::ui {

void Prompter::Tell(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    Ask(parent, Prompt{title, text, Buttons::Ok, icon});
}

bool Prompter::AskYesNo(QWidget* parent, const QString& text, const QString& title, Icon icon) {
    return Ask(parent, Prompt{title, text, Buttons::YesNo, icon}) == Answer::Yes;
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

} // namespace

Answer QtPrompter::Ask(QWidget* parent, const Prompt& prompt) {
    const QString title = prompt.title.isEmpty() ? QApplication::applicationDisplayName() : prompt.title;
    QMessageBox box(ToQt(prompt.icon), title, prompt.text, ToQt(prompt.buttons), parent);
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
