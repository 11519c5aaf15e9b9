#pragma once
// Shared set-up of the tests that drive the main window against real
// journal files: journals made by the store, read back with the sqlite3 shell.
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

#include "ShellTestSupport.h"
#include "app/shell/GRVDlg.h"
#include "app/store/JournalTypes.h"

struct EntrySeed {
    const char* ts;
    const char* sbj;
    int wpl, apl, lpl, cpl;
};

class JournalWindowTest : public ShellTest {
protected:
    QString PathOf(const QString& name) const { return dir.filePath(name); }
    // A new journal holding the entries, in the order given.
    QString MakeJournal(const QString& name, std::initializer_list<EntrySeed> entries);
    // Runs sql through the sqlite3 shell; rows as "a|b|c" lines.
    QString Sql(const QString& path, const QString& sql);

    // Shows the window and lets its queued start-up work run.
    static void ShowAndSettle(CGRVDlg& dlg);
    // Opens path through Database Open and its file chooser.
    void OpenThroughMenu(CGRVDlg& dlg, const QString& path);
    // Runs act on the modal dialog that the next command opens.
    static void WhenModal(std::function<void(QWidget*)> act);

    template <typename W>
    static W* Child(QWidget& parent, int id) {
        return parent.findChild<W*>(QString::number(id));
    }
    static QLineEdit* Edit(CGRVDlg& dlg, int id) { return Child<QLineEdit>(dlg, id); }
    static QTreeWidget* List(CGRVDlg& dlg);
    // The texts of column of every row of the entries list, top first.
    static QStringList ListColumn(CGRVDlg& dlg, int column);
    static void SetFormTime(CGRVDlg& dlg, const QDateTime& when);
    static void SetPain(CGRVDlg& dlg, const char* worst, const char* average, const char* lowest, const char* current);

    grvtest::QtTempDir dir;
};
