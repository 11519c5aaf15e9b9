#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>
#include <functional>
#include <map>

#include "JournalWindowSupport.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlgFind.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/store/StoreTexts.h"
#include "platform/ui/Prompter.h"

using namespace grv;
using platform::ui::Answer;

namespace {

class EntryFormTest : public JournalWindowTest {
protected:
    // Picks the first result row of the Find dialog whose subject is sbj,
    // after searching field for text.
    static void FindAndSelect(QWidget* modal, const QString& field, const QString& text, const char* sbj) {
        auto* find = qobject_cast<CGRVDlgFind*>(modal);
        ASSERT_NE(find, nullptr);
        auto* fields = Child<QComboBox>(*find, IDC_FIND_FIELD);
        fields->setCurrentIndex(fields->findText(field));
        Child<QLineEdit>(*find, IDC_FIND_TEXT)->setText(text);
        Click(find, IDC_FIND_SEARCH);
        auto* results = Child<QTableWidget>(*find, IDC_FIND_RESULTS);
        for (int r = 0; r < results->rowCount(); ++r) {
            if (sbj && results->item(r, 2)->text() == sbj && find->m_strSelectedId.isEmpty()) {
                results->selectRow(r);
                find->OnClickResults();
            }
        }
        Click(find, IDOK);
    }
    static void Click(QWidget* dlg, int id) { QTest::mouseClick(Child<QPushButton>(*dlg, id), Qt::LeftButton); }
    // The four level edits' texts, worst to current.
    static QStringList Levels(CGRVDlg& dlg) {
        QStringList out;
        for (int id : {IDC_WORST_PAIN, IDC_AVERAGE_PAIN, IDC_LOWEST_PAIN, IDC_CURRENT_PAIN})
            out << Edit(dlg, id)->text();
        return out;
    }
};

// The main road from an empty profile: a new journal, an entry written,
// listed, found, and a second journal that never receives the first one's entry.
TEST_F(EntryFormTest, NewJournalSaveListFindAndSwitchJournals) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    const QString first = PathOf("first.grv");
    files->Queue(first);
    ASSERT_TRUE(dlg.OnCommand(ID_DATABASE_NEW));
    EXPECT_EQ(prompter->Texts().back(), QString(kDbCreated));
    EXPECT_EQ(dlg.windowTitle(), "Gorvane - first.grv");

    SetFormTime(dlg, QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)));
    SetPain(dlg, "8", "5", "2", "4");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    EXPECT_EQ(Sql(first, "SELECT id,ts,wpl,apl,lpl,cpl,sbj,del FROM entry"), "1|2026-03-07 09:05:03|8|5|2|4|Journal|0");
    EXPECT_EQ(dlg.m_entry.id, 1);
    EXPECT_EQ(dlg.m_bNewEntry, 0);

    // Two more, with subjects of their own written in by the store.
    for (auto [day, sbj, apl] : {std::tuple{8, "Knee's bad day", 7}, std::tuple{9, "Walk", 3}}) {
        dlg.OnCommand(ID_FILE_NEW_ENTRY);
        dlg.m_entry.sbj = sbj;
        SetFormTime(dlg, QDateTime(QDate(2026, 3, day), QTime(20, 0, 0)));
        SetPain(dlg, "9", QByteArray::number(apl).constData(), "1", "6");
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    }
    EXPECT_EQ(ListColumn(dlg, 0), QStringList({"03-09 20:00", "03-08 20:00", "03-07 09:05"}));
    EXPECT_EQ(ListColumn(dlg, 1), QStringList({"Walk", "Knee's bad day", "Journal"}));
    EXPECT_EQ(ListColumn(dlg, 4), QStringList({"3", "7", "5"}));

    // Picking the oldest row loads it into the form.
    List(dlg)->setCurrentItem(List(dlg)->topLevelItem(2));
    EXPECT_EQ(dlg.m_entry.id, 1);
    EXPECT_EQ(Child<QDateEdit>(dlg, IDC_DATE)->date(), QDate(2026, 3, 7));
    EXPECT_EQ(Child<QTimeEdit>(dlg, IDC_TIME)->time(), QTime(9, 5, 3));
    EXPECT_EQ(Levels(dlg), QStringList({"8", "5", "2", "4"}));

    // Find by a subject with an apostrophe.
    WhenModal([](QWidget* m) { FindAndSelect(m, "Subject", "Knee's", "Knee's bad day"); });
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_FIND_ENTRY));
    EXPECT_EQ(dlg.m_entry.sbj, "Knee's bad day");
    EXPECT_EQ(Edit(dlg, IDC_AVERAGE_PAIN)->text(), "7");
    // Tools > Find Entries is the same dialog.
    WhenModal([&](QWidget* m) { FindAndSelect(m, "Subject", "Walk", "Walk"); });
    ASSERT_TRUE(dlg.OnCommand(ID_TOOLS_FIND_ENTRIES));
    EXPECT_EQ(Child<QDateEdit>(dlg, IDC_DATE)->date(), QDate(2026, 3, 9));

    // A second journal: the form is cleared and the next save adds a row there.
    const QString second = MakeJournal("second.grv", {{"2026-01-01 08:00:00", "Old", 3, 3, 3, 3}});
    OpenThroughMenu(dlg, second);
    EXPECT_EQ(dlg.windowTitle(), "Gorvane - second.grv");
    EXPECT_EQ(dlg.m_entry.id, -1);
    EXPECT_TRUE(Edit(dlg, IDC_CURRENT_PAIN)->text().isEmpty());
    EXPECT_EQ(ListColumn(dlg, 1), QStringList({"Old"}));
    SetPain(dlg, "4", "4", "4", "4");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    EXPECT_EQ(Sql(second, "SELECT id,sbj,cpl FROM entry ORDER BY id"), "1|Old|3\n2|Journal|4");
    EXPECT_EQ(Sql(first, "SELECT count(*) FROM entry"), "3");
    EXPECT_EQ(Sql(first, "SELECT sbj,cpl FROM entry WHERE id=3"), "Walk|6");
}

TEST_F(EntryFormTest, TimestampTextPadsEveryPartButTheYear) {
    CGRVDlg dlg;
    SetFormTime(dlg, QDateTime(QDate(2026, 3, 7), QTime(9, 5, 3)));
    EXPECT_EQ(dlg.GetDateText() + " " + dlg.GetTimeText(), "2026-03-07 09:05:03");
}

TEST_F(EntryFormTest, NewEntryFillsThePainSummary) {
    const QString path = MakeJournal("j.grv", {{"2026-05-01 10:00:00", "a", 8, 5, 2, 4},
                                               {"2026-05-02 10:00:00", "b", 6, 5, 3, 5},
                                               {"2026-05-03 10:00:00", "c", 9, 5, 4, 6}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    Edit(dlg, IDC_CURRENT_PAIN)->setText("7");
    ASSERT_TRUE(dlg.OnCommand(ID_TB_NEW_ENTRY));
    EXPECT_EQ(Levels(dlg), QStringList({"9.0", "5.0", "2.0", ""}));
    EXPECT_EQ(dlg.m_bNewEntry, 1);
    EXPECT_TRUE(usage->WaitFor(1, 5000));
    EXPECT_EQ(usage->Labels().back(), "New Entry");
    // Newest first, 3 May on top.
    EXPECT_EQ(ListColumn(dlg, 0).first(), "05-03 10:00");
}

TEST_F(EntryFormTest, WithoutAJournalEveryCommandSaysWhatIsMissing) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    SetPain(dlg, "3", "3", "3", "3");
    struct Case {
        int command;
        const char* text;
        const char* title;
    };
    const Case cases[] = {
        {ID_FILE_SAVE_ENTRY, kNeedDbForSave, kTitleGorvane},
        {ID_FILE_CLOSE_ENTRY, kNeedDbForClose, ""},
        {ID_FILE_FIND_ENTRY, kNeedDbForFind, ""},
        {ID_FILE_NEW_ENTRY, kNeedDbForNewEntry, ""},
    };
    for (const Case& c : cases) {
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(c.command));
        ASSERT_EQ(prompter->Prompts().size(), 1u) << c.command;
        EXPECT_EQ(prompter->Prompts()[0].title + "/" + prompter->Prompts()[0].text, QString(c.title) + "/" + c.text);
    }
    // Without a journal there is no summary: New Entry empties every level.
    EXPECT_EQ(Levels(dlg), QStringList(4, ""));
}

TEST_F(EntryFormTest, EmptySubjectTakesTheTypesDisplayNameAndSavingTwiceUpdates) {
    const QString path = MakeJournal("j.grv", {});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    auto* types = Child<QComboBox>(dlg, IDC_ENTRY_TYPE);
    types->setCurrentIndex(types->findText("Medicine"));
    EXPECT_EQ(dlg.m_nEntryType, 3);
    SetPain(dlg, "7.0", "4", "2", "9");
    ASSERT_TRUE(dlg.OnCommand(ID_TB_SAVE_ENTRY));
    EXPECT_EQ(Sql(path, "SELECT id,sbj,wpl,apl,lpl,cpl FROM entry"), "1|Medicines|7|4|2|9");
    SetPain(dlg, "6", "6", "6", "6");
    ASSERT_TRUE(dlg.OnCommand(ID_TB_SAVE_ENTRY));
    EXPECT_EQ(Sql(path, "SELECT id,sbj,wpl,apl,lpl,cpl FROM entry"), "1|Medicines|6|6|6|6");
}

TEST_F(EntryFormTest, TheTypeShownAtStartIsTheTypeSaved) {
    WriteProfileString(kSectionPrefs, kDefaultType, "Mood");
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    EXPECT_EQ(dlg.m_nEntryType, 4);
}

TEST_F(EntryFormTest, FailedSaveShowsTheStoresErrorAndReportsFailure) {
    const QString path = MakeJournal("j.grv", {});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    // The table goes away behind the window's back.
    Sql(path, "DROP TABLE entry");
    SetPain(dlg, "5", "5", "5", "5");
    prompter->Clear();
    EXPECT_EQ(dlg.SaveFormEntry(), 0);
    ASSERT_EQ(prompter->Prompts().size(), 1u);
    EXPECT_EQ(prompter->Prompts()[0].title, kTitleGorvane);
    EXPECT_EQ(prompter->Prompts()[0].text.toStdString(), dlg.Db().GetLastErrorText());
    EXPECT_TRUE(prompter->Prompts()[0].text.startsWith("Can't save entry to database"));
    EXPECT_EQ(dlg.m_entry.id, -1);
    // The command keeps the new-entry state it had.
    dlg.m_bNewEntry = 1;
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    EXPECT_EQ(dlg.m_bNewEntry, 1);
}

TEST_F(EntryFormTest, PainLevelOutsideTheScaleIsRefusedAndNothingIsStored) {
    const QString path = MakeJournal("j.grv", {});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    // Whatever is in the edits, typed or put there by a program or an entry
    // of an older journal, is checked when the form is saved.
    const char* names[4] = {kPainNameWorst, kPainNameAverage, kPainNameLowest, kPainNameCurrent};
    for (const char* bad : {"11", "-1", "9999", "12.0", "7.5", "0.5"}) {
        for (int at = 0; at < 4; ++at) {
            SCOPED_TRACE(std::string(bad) + " at " + std::to_string(at));
            const char* levels[4] = {"5", "5", "5", "5"};
            levels[at] = bad;
            SetPain(dlg, levels[0], levels[1], levels[2], levels[3]);
            prompter->Clear();
            EXPECT_EQ(dlg.SaveFormEntry(), 0);
            ASSERT_EQ(prompter->Prompts().size(), 1u);
            // A decimal is named for what it is not: a whole number.
            EXPECT_EQ(prompter->Prompts()[0].text, QString::fromLatin1(kPainOutOfRange).arg(names[at]));
            EXPECT_TRUE(prompter->Prompts()[0].text.contains("a whole number from 0 to 10"));
            EXPECT_EQ(dlg.m_entry.id, -1);
        }
    }
    EXPECT_EQ(Sql(path, "SELECT count(*) FROM entry"), "0");
    // The edge of the scale is a level like any other.
    SetPain(dlg, "10.0", "0", "5", "10");
    EXPECT_EQ(dlg.SaveFormEntry(), 1);
    EXPECT_EQ(Sql(path, "SELECT wpl, lpl, apl, cpl FROM entry"), "10|5|0|10");
}

TEST_F(EntryFormTest, ClearAfterSaveClearsTheFormOnlyWhenSet) {
    const QString path = MakeJournal("j.grv", {});
    for (int clear : {0, 1}) {
        WriteProfileInt(kSectionPrefs, kClearAfterSave, clear);
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, path);
        SetPain(dlg, "5", "5", "5", "5");
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
        EXPECT_EQ(dlg.m_entry.id < 1, clear == 1) << clear;
        EXPECT_EQ(Edit(dlg, IDC_CURRENT_PAIN)->text().isEmpty(), clear == 1) << clear;
        EXPECT_EQ(dlg.m_bNewEntry, clear) << clear;
    }
    EXPECT_EQ(Sql(path, "SELECT count(*) FROM entry"), "2");
}

TEST_F(EntryFormTest, CloseEntryStoresOnlyWhatWasStoredBefore) {
    const QString path = MakeJournal("j.grv", {{"2026-05-01 10:00:00", "kept", 5, 5, 5, 5}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    // A new entry is only cleared away: no row of -1 levels appears.
    SetPain(dlg, "2", "2", "2", "2");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_CLOSE_ENTRY));
    EXPECT_EQ(Sql(path, "SELECT count(*) FROM entry"), "1");
    EXPECT_TRUE(Edit(dlg, IDC_CURRENT_PAIN)->text().isEmpty());
    EXPECT_EQ(dlg.m_bNewEntry, 1);
    // A loaded entry keeps what the form shows, then the form is cleared.
    List(dlg)->setCurrentItem(List(dlg)->topLevelItem(0));
    ASSERT_EQ(dlg.m_entry.id, 1);
    Edit(dlg, IDC_CURRENT_PAIN)->setText("9");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_CLOSE_ENTRY));
    EXPECT_EQ(Sql(path, "SELECT id,ts,cpl,sbj FROM entry"), "1|2026-05-01 10:00:00|9|kept");
    EXPECT_EQ(dlg.m_entry.id, -1);
    EXPECT_TRUE(Edit(dlg, IDC_CURRENT_PAIN)->text().isEmpty());
}

TEST_F(EntryFormTest, AnUnreadableTimestampLeavesThePickersAsTheyAre) {
    const QString path = MakeJournal("j.grv", {});
    Sql(path, "INSERT INTO entry (ts,wpl,apl,lpl,cpl,sbj) VALUES ('not a time',7,6,5,4,'odd')");
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    const QDateTime before(QDate(2024, 2, 29), QTime(12, 30, 0));
    SetFormTime(dlg, before);
    List(dlg)->setCurrentItem(List(dlg)->topLevelItem(0));
    EXPECT_EQ(dlg.m_entry.sbj, "odd");
    EXPECT_EQ(Child<QDateEdit>(dlg, IDC_DATE)->date(), before.date());
    EXPECT_EQ(Child<QTimeEdit>(dlg, IDC_TIME)->time(), before.time());
    EXPECT_EQ(Edit(dlg, IDC_WORST_PAIN)->text(), "7");
}

TEST_F(EntryFormTest, FutureDateWarningComparesRealDates) {
    const QString path = MakeJournal("j.grv", {});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    const QDate today = QDate::currentDate();
    struct Case {
        QDate date;
        bool warns;
    };
    // The first of next month is in the future, whatever the day numbers say.
    const QDate firstOfNext = QDate(today.year(), today.month(), 1).addMonths(1);
    const Case cases[] = {{today, false},
                          {today.addDays(-40), false},
                          {today.addDays(1), true},
                          {firstOfNext, true},
                          {today.addYears(1), true}};
    auto* date = Child<QDateEdit>(dlg, IDC_DATE);
    // No journal open: no warning at all.
    date->setDate(today.addDays(3));
    dlg.OnDateKillFocus();
    EXPECT_TRUE(prompter->Prompts().empty());
    OpenThroughMenu(dlg, path);
    for (const Case& c : cases) {
        prompter->Clear();
        date->setDate(c.date);
        emit date->editingFinished();
        EXPECT_EQ(prompter->Prompts().size(), c.warns ? 1u : 0u) << c.date.toString().toStdString();
        if (c.warns) {
            EXPECT_EQ(prompter->Prompts()[0].text, kFutureDate);
            EXPECT_EQ(prompter->Prompts()[0].title, kTitleGorvane);
            EXPECT_EQ(prompter->Prompts()[0].buttons, platform::ui::Buttons::YesNo);
        }
        EXPECT_EQ(date->date(), c.date);
    }
}

// A toolbar button takes no focus: a Save pressed with the focus still in a
// future date stored it, and the question came once the focus left. It is
// asked first now: No stores nothing and leaves the user in the date, Yes
// stores the date, and leaving the date asks no more. A real message box,
// which takes the focus from the date while it asks, asks once as well.
TEST_F(EntryFormTest, AFutureDateIsAskedAboutBeforeAToolbarSaveStoresIt) {
    const QString path = MakeJournal("j.grv", {{"2026-05-01 10:00:00", "kept", 5, 5, 5, 5}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    auto* date = Child<QDateEdit>(dlg, IDC_DATE);
    QWidget* save = nullptr;
    for (QAction* a : dlg.ToolBar()->actions())
        if (a->data().toInt() == ID_TB_SAVE_ENTRY)
            save = dlg.ToolBar()->widgetForAction(a);
    ASSERT_NE(save, nullptr);
    const QDate future = QDate::currentDate().addDays(2);
    const QString stored = QStringLiteral("1|2026-05-01 10:00:00|5|kept");
    const QString kept = QStringLiteral("1|%1 10:00:00|5|kept").arg(future.toString(Qt::ISODate));
    const struct {
        const char* what;
        bool loaded; // the stored entry, else a new one
        bool realBox;
        Answer answer;
        QString rows; // afterwards, as "id|ts|cpl|sbj"
    } rows[] = {
        {"loaded, No", true, false, Answer::No, stored},
        {"new, No", false, false, Answer::No, stored},
        {"loaded, No in a real box", true, true, Answer::No, stored},
        {"loaded, Yes", true, false, Answer::Yes, kept},
        {"new, Yes in a real box", false, true, Answer::Yes,
         kept + QStringLiteral("\n2|") + future.toString(Qt::ISODate)},
    };
    // The texts step asks about, each answered in a real box or by script.
    auto asking = [&](bool realBox, Answer answer, const std::function<void()>& step) {
        prompter->Clear();
        prompter->Queue(answer);
        QStringList asked;
        std::shared_ptr<platform::ui::Prompter> seam = prompter;
        if (realBox)
            seam = std::make_shared<platform::ui::QtPrompter>();
        platform::ui::ScopedSeams boxes{{seam, files, nullptr, usage}};
        QTimer click;
        click.setInterval(0);
        QObject::connect(&click, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box && box->isVisible()) {
                asked << box->text();
                box->button(answer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No)->click();
            }
        });
        click.start();
        step();
        QApplication::processEvents();
        click.stop();
        // The window manager's part: the window is active again.
        dlg.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
        for (const auto& p : prompter->Prompts())
            asked << p.text;
        return asked;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.loaded) {
            List(dlg)->clearSelection();
            List(dlg)->setCurrentItem(List(dlg)->topLevelItem(List(dlg)->topLevelItemCount() - 1));
            ASSERT_EQ(dlg.m_entry.id, 1);
        } else {
            ASSERT_TRUE(dlg.OnCommand(ID_FILE_NEW_ENTRY));
            SetPain(dlg, "6", "6", "6", "6");
        }
        date->setFocus();
        ASSERT_TRUE(date->hasFocus());
        date->setDate(future);
        EXPECT_EQ(asking(row.realBox, row.answer, [&] { QTest::mouseClick(save, Qt::LeftButton); }),
                  QStringList{QString::fromLatin1(kFutureDate)});
        EXPECT_TRUE(date->hasFocus());
        EXPECT_EQ(Sql(path, "SELECT id,ts,cpl,sbj FROM entry ORDER BY id").left(row.rows.size()), row.rows);
        // Leaving the date asks again only about a date the user refused.
        EXPECT_EQ(asking(row.realBox, row.answer, [&] { Edit(dlg, IDC_WORST_PAIN)->setFocus(); }).size(),
                  row.answer == Answer::No ? 1 : 0);
    }
}

// The other roads that save with the focus in a future date: the File
// menu's Save and Close Entry (whose menu takes the focus for a while, which
// is no leaving of the date), Enter in the date and then the toolbar's Save,
// a details button of the toolbar that saves first (its dialog takes the
// focus). Each asks once; No stores nothing.
TEST_F(EntryFormTest, EveryRoadThatSavesAsksAboutAFutureDateOnce) {
    const QString path = MakeJournal("j.grv", {{"2026-05-01 10:00:00", "kept", 5, 5, 5, 5}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    auto* date = Child<QDateEdit>(dlg, IDC_DATE);
    auto tool = [&](int id) -> QWidget* {
        for (QAction* a : dlg.ToolBar()->actions())
            if (a->data().toInt() == id)
                return dlg.ToolBar()->widgetForAction(a);
        return nullptr;
    };
    auto* bar = dlg.findChild<QMenuBar*>();
    ASSERT_NE(bar, nullptr);
    QAction* file = bar->actions().first();
    auto fromMenu = [&](const char* item, bool keys) {
        QAction* command = nullptr;
        for (QAction* a : file->menu()->actions())
            if (a->text() == QLatin1String(item))
                command = a;
        ASSERT_NE(command, nullptr);
        const QSignalSpy ran(command, &QAction::triggered);
        // By mouse the pointer goes to the title and then to the item, as a
        // hand moves it: Qt 6.8's menu closes on a press where the pointer
        // stood when it opened, and a pointer never moved stands nowhere.
        if (keys) {
            bar->setActiveAction(file);
        } else {
            QTest::mouseMove(bar, bar->actionGeometry(file).center());
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(file).center());
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return file->menu()->isVisible(); }));
        if (keys) {
            file->menu()->setActiveAction(command);
            QTest::keyClick(file->menu(), Qt::Key_Return);
        } else {
            const QPoint at = file->menu()->actionGeometry(command).center();
            QTest::mouseMove(file->menu(), at);
            QTest::mouseClick(file->menu(), Qt::LeftButton, {}, at);
        }
        EXPECT_EQ(ran.count(), 1) << item;
    };
    const std::map<std::string, std::function<void()>> roads = {
        {"menu Save", [&] { fromMenu("Save Entry", false); }},
        {"menu Save by keys", [&] { fromMenu("Save Entry", true); }},
        {"menu Close Entry", [&] { fromMenu("Close Entry", false); }},
        {"Enter, then toolbar Save",
         [&] {
             QTest::keyClick(date, Qt::Key_Return);
             dlg.activateWindow();
             EXPECT_TRUE(QTest::qWaitForWindowActive(&dlg));
             QTest::mouseClick(tool(ID_TB_SAVE_ENTRY), Qt::LeftButton);
         }},
        {"toolbar Mood, saving first",
         [&] {
             dlg.m_prefs.autoSaveEntry = 1;
             QTest::mouseClick(tool(ID_TB_MOOD), Qt::LeftButton);
             dlg.m_prefs.autoSaveEntry = 0;
         }},
    };
    const QString future = QDate::currentDate().addDays(2).toString(Qt::ISODate) + QStringLiteral(" 10:00:00");
    // Long enough for a menu to close and a box to go.
    constexpr int kSettleMs = 30;
    for (const auto& [road, step] : roads) {
        for (const bool realBox : {false, true}) {
            for (const Answer answer : {Answer::No, Answer::Yes}) {
                SCOPED_TRACE(road + (realBox ? ", real box, " : ", scripted, ") +
                             (answer == Answer::Yes ? "Yes" : "No"));
                Sql(path, "UPDATE entry SET ts = '2026-05-01 10:00:00'");
                dlg.activateWindow();
                ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
                List(dlg)->clearSelection();
                List(dlg)->setCurrentItem(List(dlg)->topLevelItem(0));
                date->setFocus();
                date->setDate(QDate::currentDate().addDays(2));
                prompter->Clear();
                for (int i = 0; i < 3; ++i)
                    prompter->Queue(answer);
                std::shared_ptr<platform::ui::Prompter> seam = prompter;
                if (realBox)
                    seam = std::make_shared<platform::ui::QtPrompter>();
                platform::ui::ScopedSeams boxes{{seam, files, nullptr, usage}};
                int asked = 0;
                // Questions answered in their box; the details dialog closed.
                QTimer click;
                click.setInterval(0);
                QObject::connect(&click, &QTimer::timeout, [&] {
                    QWidget* modal = QApplication::activeModalWidget();
                    if (auto* box = qobject_cast<QMessageBox*>(modal); box && box->isVisible()) {
                        asked += box->text() == QLatin1String(kFutureDate);
                        box->button(answer == Answer::Yes ? QMessageBox::Yes : QMessageBox::No)->click();
                    } else if (auto* details = qobject_cast<QDialog*>(modal); details && details != &dlg) {
                        details->reject();
                    }
                });
                click.start();
                step();
                QTest::qWait(kSettleMs);
                click.stop();
                for (const auto& p : prompter->Prompts())
                    asked += p.text == QLatin1String(kFutureDate);
                // Enter asks, and a save after a No asks once more.
                const bool twice = road.rfind("Enter", 0) == 0 && answer == Answer::No;
                EXPECT_EQ(asked, twice ? 2 : 1);
                EXPECT_EQ(Sql(path, "SELECT ts FROM entry WHERE id = 1"),
                          answer == Answer::Yes ? future : QStringLiteral("2026-05-01 10:00:00"));
            }
        }
    }
}

TEST_F(EntryFormTest, FindCancelledOrWithoutAPickLeavesTheEntryAlone) {
    const QString path = MakeJournal("j.grv", {{"2026-05-01 10:00:00", "one", 5, 5, 5, 5}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    int rows = -1;
    WhenModal([&](QWidget* m) {
        // Opened from the window, it lists every entry at once.
        rows = Child<QTableWidget>(*m, IDC_FIND_RESULTS)->rowCount();
        Click(m, IDOK);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_FIND));
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(dlg.m_entry.id, -1);
    // Cancel after a pick: nothing is loaded.
    WhenModal([](QWidget* m) {
        auto* find = qobject_cast<CGRVDlgFind*>(m);
        Child<QTableWidget>(*find, IDC_FIND_RESULTS)->selectRow(0);
        find->OnClickResults();
        EXPECT_EQ(find->m_strSelectedId, "1");
        Click(find, IDCANCEL);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_FIND));
    EXPECT_EQ(dlg.m_entry.id, -1);
}

// A new or newly opened journal showed the summary of the journal before it,
// and a save of only "right NOW" stored that summary as the entry's levels;
// the summary is gone, and the empty levels are no levels.
TEST_F(EntryFormTest, ANewOrNewlyOpenedJournalShowsNoOtherJournalsSummary) {
    const QString full = MakeJournal("full.grv", {{"2026-05-01 10:00:00", "a", 9, 5, 2, 4}});
    struct Road {
        const char* name;
        QString path;
        int command;
    };
    const Road roads[] = {{"Database New", PathOf("new.grv"), ID_DATABASE_NEW},
                          {"Database Open", MakeJournal("empty.grv", {}), ID_DATABASE_OPEN}};
    for (const Road& road : roads) {
        SCOPED_TRACE(road.name);
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, full);
        ASSERT_EQ(Edit(dlg, IDC_WORST_PAIN)->text(), "9.0");
        files->Queue(road.path);
        ASSERT_TRUE(dlg.OnCommand(road.command));
        ASSERT_EQ(QString::fromStdString(dlg.Db().GetFullPath()), road.path);
        EXPECT_EQ(Levels(dlg).mid(0, 3), QStringList(3, ""));
        QTest::keyClicks(Edit(dlg, IDC_CURRENT_PAIN), "6");
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
        EXPECT_EQ(prompter->Texts(), std::vector<QString>{QString(kPainLevelEmpty).arg(kPainNameWorst)});
        EXPECT_EQ(Sql(road.path, "SELECT count(*) FROM entry"), "0");
    }
}

// Levels are stored only as the user typed them. The edits swallowed the key
// that made a text no level ("12" left "1", "-1" left "1", and 1 was stored),
// and an empty level was stored as 0 (typing only NOW = 3 in a new journal
// stored worst 0). Now every key goes in, and both roads that save the form
// (Save Entry and leaving "right NOW") refuse an empty level by name and a
// text that is no level 0 to 10, storing nothing; the sqlite3 shell reads the
// file after each attempt.
TEST_F(EntryFormTest, LevelsAreStoredOnlyAsTyped) {
    // Each road is told whether the save is to succeed.
    using Save = std::function<void(CGRVDlg&, bool)>;
    const struct {
        const char* name;
        Save save;
    } roads[] = {
        {"Save Entry", [](CGRVDlg& dlg, bool) { ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY)); }},
        {"leaving right NOW",
         [](CGRVDlg& dlg, bool stores) {
             QLineEdit* now = Edit(dlg, IDC_CURRENT_PAIN);
             now->setFocus(Qt::MouseFocusReason);
             ASSERT_TRUE(now->hasFocus());
             // A new journal entry, once stored, offers its text dialog.
             if (stores)
                 WhenModal([](QWidget* offered) { static_cast<QDialog*>(offered)->reject(); });
             QTest::keyClick(now, Qt::Key_Tab);
             ASSERT_FALSE(now->hasFocus());
             QCoreApplication::processEvents();
         }},
    };
    auto outOfRange = [](const char* name) {
        return QString::fromLatin1(kPainOutOfRange).arg(QString::fromLatin1(name));
    };
    auto empty = [](const char* name) { return QString::fromLatin1(kPainLevelEmpty).arg(QString::fromLatin1(name)); };
    const struct {
        const char* keys[4]; // worst, average, lowest, right NOW
        QString told;        // empty: stored
    } cases[] = {
        {{"", "", "", "3"}, empty(kPainNameWorst)},
        {{"7", "", "2", "3"}, empty(kPainNameAverage)},
        {{"7", "5", "", "3"}, empty(kPainNameLowest)},
        {{"7", "5", "2", ""}, empty(kPainNameCurrent)},
        {{"12", "5", "2", "3"}, outOfRange(kPainNameWorst)},
        {{"7", "5", "-1", "3"}, outOfRange(kPainNameLowest)},
        {{"7", "5.5", "2", "3"}, outOfRange(kPainNameAverage)},
        {{"7", "5", "2", "3x"}, outOfRange(kPainNameCurrent)},
        {{"7", "5", "2", "7.5"}, outOfRange(kPainNameCurrent)},
        {{"7.0", "5", "2", "10"}, {}},
    };
    const int ids[] = {IDC_WORST_PAIN, IDC_AVERAGE_PAIN, IDC_LOWEST_PAIN, IDC_CURRENT_PAIN};
    for (const auto& road : roads) {
        SCOPED_TRACE(road.name);
        const QString path = MakeJournal(QString(road.name) + ".grv", {});
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        dlg.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
        OpenThroughMenu(dlg, path);
        for (const auto& c : cases) {
            SCOPED_TRACE(QStringList({c.keys[0], c.keys[1], c.keys[2], c.keys[3]}).join(',').toStdString());
            for (int i = 0; i < 4; ++i) {
                Edit(dlg, ids[i])->clear();
                QTest::keyClicks(Edit(dlg, ids[i]), c.keys[i]);
                EXPECT_EQ(Edit(dlg, ids[i])->text(), c.keys[i]); // every key went in
            }
            prompter->Clear();
            road.save(dlg, c.told.isEmpty());
            if (!c.told.isEmpty()) {
                EXPECT_EQ(prompter->Texts(), std::vector<QString>{c.told});
                EXPECT_EQ(Sql(path, "SELECT count(*) FROM entry"), "0");
            } else {
                EXPECT_TRUE(prompter->Prompts().empty()) << prompter->Texts()[0].toStdString();
                EXPECT_EQ(Sql(path, "SELECT wpl,apl,lpl,cpl FROM entry"), "7|5|2|10");
            }
        }
    }
}

// A failed save showed the whole INSERT statement (a long entry made a
// message box of megabytes) and not why it failed. It says why in words,
// after the start of the statement, and nothing is stored.
TEST_F(EntryFormTest, FailedSaveSaysWhyInWordsWithOnlyTheStartOfTheStatement) {
    using Arrange = std::function<void(CGRVDlg&, QProcess&)>;
    // File modes do not bind the superuser, so the connection stands in for
    // a journal the user may not write, and for a disk with no room left.
    const Arrange readOnly = [](CGRVDlg& dlg, QProcess&) {
        std::vector<std::string> rows;
        ASSERT_TRUE(dlg.Db().QueryFirstColumn("PRAGMA query_only=1", rows));
    };
    const Arrange noRoom = [](CGRVDlg& dlg, QProcess&) {
        std::vector<std::string> pages;
        ASSERT_TRUE(dlg.Db().QueryFirstColumn("PRAGMA page_count", pages));
        ASSERT_TRUE(dlg.Db().QueryFirstColumn("PRAGMA max_page_count=" + pages.at(0), pages));
    };
    struct Case {
        const char* name;
        Arrange arrange;
        const char* reason;
    };
    const Case cases[] = {
        {"read-only", readOnly, kReasonCannotWrite},
        {"disk full", noRoom, kReasonDiskFull},
        {"locked",
         [](CGRVDlg& dlg, QProcess& other) {
             // Another program holds the journal while the user saves.
             other.start("sqlite3", {QString::fromStdString(dlg.Db().GetFullPath())});
             ASSERT_TRUE(other.waitForStarted());
             other.write("BEGIN EXCLUSIVE; SELECT 'held';\n");
             while (!other.readAllStandardOutput().contains("held"))
                 ASSERT_TRUE(other.waitForReadyRead(5000));
         },
         kReasonLocked},
    };
    std::string body;
    while (body.size() < (1u << 20))
        body += "a long day, ";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = MakeJournal(QString(c.name) + ".grv", {});
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, path);
        QProcess other;
        c.arrange(dlg, other);
        dlg.m_entry.entry = body;
        SetPain(dlg, "5", "5", "5", "5");
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
        ASSERT_EQ(prompter->Prompts().size(), 1u);
        const QString told = prompter->Prompts()[0].text;
        EXPECT_EQ(prompter->Prompts()[0].title, kTitleGorvane);
        EXPECT_TRUE(told.startsWith(QString("Can't save entry to database:  %1.\n\nSQL: INSERT").arg(path)))
            << told.toStdString();
        EXPECT_TRUE(told.contains(QString::fromLatin1(c.reason))) << told.toStdString();
        EXPECT_LT(told.size(), 600);
        other.closeWriteChannel();
        other.waitForFinished();
        EXPECT_EQ(Sql(path, "SELECT count(*) FROM entry"), "0");
    }
}

// A journal made read-only while it is open said "the disk reported an
// error" on save: SQLite's error number was gone by then. It says the
// journal cannot be written, as when it was read-only before opening. The
// file is made immutable (file modes do not bind the superuser, and a file
// already open for writing stays writable through them).
TEST_F(EntryFormTest, JournalMadeReadOnlyWhileOpenSaysItCannotBeWritten) {
    const QString path = MakeJournal("pain.grv", {{"2026-03-01 08:00:00", "First", 8, 5, 2, 4}});
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    OpenThroughMenu(dlg, path);
    // tests/run-common.sh leaves this test out where chattr +i cannot be done.
    ASSERT_EQ(RunProgram("chattr", {"+i", path}), 0) << "cannot make the journal immutable";
    {
        struct Mutable {
            QString path;
            ~Mutable() { RunProgram("chattr", {"-i", path}); }
        } restore{path};
        SetPain(dlg, "9", "6", "3", "7");
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
        ASSERT_EQ(prompter->Prompts().size(), 1u);
        const QString told = prompter->Prompts()[0].text;
        EXPECT_TRUE(told.startsWith("Can't save entry to database")) << told.toStdString();
        EXPECT_TRUE(told.contains(QString::fromLatin1(kReasonCannotWrite))) << told.toStdString();
        dlg.Db().Close();
    }
    // Writable again, the journal reads as it was before the save.
    EXPECT_EQ(Sql(path, "SELECT sbj, wpl, apl, lpl, cpl FROM entry"), "First|8|5|2|4");
}

} // namespace
