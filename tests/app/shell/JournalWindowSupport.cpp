#include "JournalWindowSupport.h"

#include <gtest/gtest.h>

#include "app/shell/Resource.h"
#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"

using namespace grv;

QString JournalWindowTest::MakeJournal(const QString& name, std::initializer_list<EntrySeed> entries) {
    CJournalDb db;
    db.SetFolder(dir.path().toStdString());
    db.SetFileName(name.toStdString());
    EXPECT_EQ(db.Open(1), 1) << db.GetLastErrorText();
    for (const EntrySeed& e : entries) {
        CEntry rec;
        rec.ts = e.ts;
        rec.sbj = e.sbj;
        rec.wpl = e.wpl;
        rec.apl = e.apl;
        rec.lpl = e.lpl;
        rec.cpl = e.cpl;
        EXPECT_EQ(db.SaveEntry(rec), 1) << db.GetLastErrorText();
    }
    db.Close();
    return PathOf(name);
}

QString JournalWindowTest::Sql(const QString& path, const QString& sql) {
    QByteArray out;
    EXPECT_EQ(RunProgram(QStringLiteral("sqlite3"), {path, sql}, &out), 0) << sql.toStdString();
    return QString::fromUtf8(out).trimmed();
}

void JournalWindowTest::ShowAndSettle(CGRVDlg& dlg) {
    dlg.show();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

void JournalWindowTest::OpenThroughMenu(CGRVDlg& dlg, const QString& path) {
    files->Queue(path);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_OPEN));
    ASSERT_TRUE(dlg.Db().IsOpen()) << dlg.Db().GetLastErrorText();
}

void JournalWindowTest::WhenModal(std::function<void(QWidget*)> act) {
    QTimer::singleShot(0, [act] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        act(modal);
    });
}

QTreeWidget* JournalWindowTest::List(CGRVDlg& dlg) {
    return Child<QTreeWidget>(dlg, IDC_ENTRY_LIST);
}

QStringList JournalWindowTest::ListColumn(CGRVDlg& dlg, int column) {
    QStringList texts;
    QTreeWidget* list = List(dlg);
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(column);
    return texts;
}

void JournalWindowTest::SetFormTime(CGRVDlg& dlg, const QDateTime& when) {
    Child<QDateEdit>(dlg, IDC_DATE)->setDate(when.date());
    Child<QTimeEdit>(dlg, IDC_TIME)->setTime(when.time());
}

void JournalWindowTest::SetPain(CGRVDlg& dlg, const char* worst, const char* average, const char* lowest,
                                const char* current) {
    Edit(dlg, IDC_WORST_PAIN)->setText(worst);
    Edit(dlg, IDC_AVERAGE_PAIN)->setText(average);
    Edit(dlg, IDC_LOWEST_PAIN)->setText(lowest);
    Edit(dlg, IDC_CURRENT_PAIN)->setText(current);
}
