#pragma once
// Shared set-up of the detail dialog tests: scripted seams, a new journal in
// a folder of its own, read back through the sqlite3 shell, and the user's
// gestures on the dialogs' controls.
#include <QAbstractButton>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSlider>
#include <QString>
#include <QTest>
#include <ostream>
#include <string>

#include "ShellTestSupport.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "tests/support/JournalFixture.h"

// Readable failure messages for Qt's lists (texts: ShellTestSupport.h).
inline void PrintTo(const QStringList& texts, std::ostream* os) {
    *os << "{ " << texts.join(QStringLiteral(" | ")).toStdString() << " }";
}

class DetailTest : public ShellTest, protected grvtest::Journal {
protected:
    void SetUp() override {
        ShellTest::SetUp();
        OpenJournal();
    }

    template <typename T>
    static T* Ctl(QWidget* dlg, int id) {
        T* w = dlg->findChild<T*>(grv::ControlName(id));
        EXPECT_NE(w, nullptr) << "no control " << id;
        return w;
    }
    static void Press(QWidget* dlg, int id) { Ctl<QAbstractButton>(dlg, id)->click(); }
    // Replaces the edit's text by typing, so its validator and limit apply.
    static void Type(QLineEdit* edit, const QString& text) {
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    // Drags the slider to a position, as the user's mouse does.
    static void Drag(QSlider* slider, int position) { slider->setSliderPosition(position); }
    // Picks an item from the list, as the user does.
    static void Choose(QComboBox* combo, const QString& text) {
        const int index = combo->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    static QStringList Items(const QComboBox* combo) {
        QStringList out;
        for (int i = 0; i < combo->count(); ++i)
            out << combo->itemText(i);
        return out;
    }
    // Whether the dialog ended, and with which result.
    static bool EndedWith(const QDialog& dlg, int result) { return !dlg.isVisible() && dlg.result() == result; }
    QStringList Told() const {
        QStringList out;
        for (const QString& t : prompter->Texts())
            out << t;
        return out;
    }
};
