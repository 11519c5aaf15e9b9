// The current entry's details from the main window, over real journals read
// back with the sqlite3 shell: toolbar, entries context menu, the automatic
// save's offer, the tray's New Pain Score and Delete.
#include <sys/stat.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFocusEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>
#include <algorithm>
#include <deque>

#include "JournalWindowSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlgRecCPL.h"
#include "app/shell/LauncherTexts.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/store/Medicine.h"
#include "app/store/StoreTexts.h"
#include "tests/support/JournalFixture.h"

using namespace grv;
using platform::ui::Answer;

namespace {

const char* const kDetailTables[] = {"entry_actions", "entry_meds", "entry_mood", "entry_question", "entry_sideff"};

class MainDetailsTest : public JournalWindowTest {
protected:
    using Act = std::function<void(QWidget*)>;

    MainDetailsTest() {
        // Every modal dialog a command opens meets the next scripted act; one
        // nobody expected is cancelled and counted.
        m_modals.setInterval(0);
        QObject::connect(&m_modals, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            m_opened << QString::fromLatin1(modal->metaObject()->className());
            if (m_acts.empty()) {
                ++m_unexpected;
                static_cast<QDialog*>(modal)->reject();
                return;
            }
            const Act act = m_acts.front();
            m_acts.pop_front();
            act(modal);
        });
        m_modals.start();
    }

    void Then(Act act) { m_acts.push_back(std::move(act)); }

    // The window over a journal of two entries (ids 1 and 2), with entry id current.
    void OpenTwoEntries(CGRVDlg& dlg, int id = 1) {
        m_path = MakeJournal(
            "pain.grv", {{"2026-03-01 08:00:00", "First", 8, 5, 2, 4}, {"2026-03-02 08:00:00", "Second", 9, 6, 3, 7}});
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, m_path);
        if (id)
            SelectEntry(dlg, id);
    }
    static void SelectEntry(CGRVDlg& dlg, int id) {
        QTreeWidget* list = List(dlg);
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            if (list->topLevelItem(i)->data(0, Qt::UserRole).toInt() == id) {
                list->setCurrentItem(list->topLevelItem(i));
                ASSERT_EQ(dlg.m_entry.id, id);
                return;
            }
        }
        FAIL() << "entry " << id << " not listed";
    }
    QString Q(const QString& sql) { return Sql(m_path, sql); }
    // No detail against an unsaved entry, no level outside 0-10.
    void ExpectSoundRows() {
        for (const char* table : kDetailTables)
            EXPECT_EQ(Q(QStringLiteral("SELECT count(*) FROM %1 WHERE eid<1 OR eid NOT IN "
                                       "(SELECT id FROM entry)")
                            .arg(table)),
                      "0")
                << table;
        EXPECT_EQ(Q("SELECT count(*) FROM entry WHERE wpl NOT BETWEEN 0 AND 10 OR apl NOT "
                    "BETWEEN 0 AND 10 OR lpl NOT BETWEEN 0 AND 10 OR cpl NOT BETWEEN 0 AND 10"),
                  "0");
    }

    template <typename W>
    static W* In(QWidget* dlg, int id) {
        W* w = dlg->findChild<W*>(QString::number(id));
        EXPECT_NE(w, nullptr) << "no control " << id;
        return w;
    }
    static void Ok(QWidget* dlg) { In<QAbstractButton>(dlg, IDOK)->click(); }
    static void SetText(QWidget* dlg, int id, const QString& text) {
        if (auto* line = dlg->findChild<QLineEdit*>(QString::number(id))) {
            line->setText(text);
            return;
        }
        In<QPlainTextEdit>(dlg, id)->setPlainText(text);
    }
    static void Slide(QWidget* dlg, int id, int value) { In<QSlider>(dlg, id)->setSliderPosition(value); }
    static void FocusLeaves(CGRVDlg& dlg, Qt::FocusReason reason) {
        QFocusEvent out(QEvent::FocusOut, reason);
        QCoreApplication::sendEvent(Edit(dlg, IDC_CURRENT_PAIN), &out);
    }
    QStringList Told() const {
        QStringList out;
        for (const QString& t : prompter->Texts())
            out << t;
        return out;
    }

    QTimer m_modals;
    std::deque<Act> m_acts;
    QStringList m_opened;
    int m_unexpected = 0;
    QString m_path;
};

struct Refusal {
    int command;
    const char* unsaved; // the refusal for an entry never saved
};

const Refusal kRefusals[] = {
    {ID_TB_ACTIONS, kNeedSavedForActions},          {ID_TB_MOOD, kNeedSavedForMood},
    {ID_TB_MEDICINES, kNeedSavedForMeds},           {ID_TB_SIDE_EFFECTS, kNeedSavedForSideEff},
    {ID_TB_QUESTION, kNeedSavedForQuestions},       {ID_ENTRY_EDIT, kNeedSavedForJournal},
    {ID_DETAILS_JOURNAL, kNeedSavedForJournal},     {ID_DETAILS_ACTIONS, kNeedSavedForActions},
    {ID_DETAILS_MEDICINES, kNeedSavedForMeds},      {ID_DETAILS_MOOD, kNeedSavedForMood},
    {ID_DETAILS_QUESTIONS, kNeedSavedForQuestions}, {ID_DETAILS_SIDE_EFFECTS, kNeedSavedForSideEff},
    {ID_ENTRY_DELETE, kNeedSavedForDelete},         {ID_TB_DELETE_ENTRY, kNeedSavedForDelete},
};

// Without a journal every launcher refuses; with one, a new entry not yet
// saved gets its kind's refusal and no dialog, so nothing goes to eid -1.
TEST_F(MainDetailsTest, LaunchersRefuseWithoutJournalOrSavedEntry) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    for (const Refusal& r : kRefusals) {
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(r.command)) << r.command;
        EXPECT_EQ(Told(), QStringList{kNeedDbForDetails}) << r.command;
    }
    for (int command : {ID_TB_MEDICINE_CABINET, ID_TOOLS_MEDICINE_CABINET}) {
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(command));
        EXPECT_EQ(Told(), QStringList{kNeedDbForDetails}) << command;
    }

    OpenTwoEntries(dlg, 0);
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_NEW_ENTRY));
    SetPain(dlg, "6", "5", "4", "3");
    for (const Refusal& r : kRefusals) {
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(r.command)) << r.command;
        EXPECT_EQ(Told(), QStringList{r.unsaved}) << r.command;
        EXPECT_EQ(prompter->Prompts().front().title, "Gorvane");
    }
    EXPECT_TRUE(m_opened.isEmpty()) << m_opened.join(',').toStdString();
    for (const char* table : kDetailTables)
        EXPECT_EQ(Q(QStringLiteral("SELECT count(*) FROM %1").arg(table)), "0") << table;
    EXPECT_EQ(Q("SELECT count(*) FROM entry"), "2");
    EXPECT_EQ(Q("SELECT count(*) FROM entry WHERE del<>0"), "0");
}

// The Mood button on two entries stores one record for each; Side Effects
// likewise, each with the current entry's id.
TEST_F(MainDetailsTest, ToolbarMoodAndSideEffectsStoreOneRecordPerUse) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 1);
    for (const auto& [id, mood] : {std::pair{1, 3}, std::pair{2, 5}}) {
        const int level = mood; // clang 14 lambdas cannot capture a structured binding
        SelectEntry(dlg, id);
        Then([level](QWidget* d) {
            Slide(d, IDC_MOOD_SLIDER_FIRST, level);
            Ok(d);
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TB_MOOD));
        Then([level](QWidget* d) {
            Slide(d, IDC_SE_SLIDER_SECOND_ROW, level + 1); // vomiting
            Ok(d);
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TB_SIDE_EFFECTS));
    }
    EXPECT_EQ(m_opened, QStringList({"CGRVDlgMood", "CGRVDlgSideEffect", "CGRVDlgMood", "CGRVDlgSideEffect"}));
    EXPECT_EQ(m_unexpected, 0);
    EXPECT_EQ(Q("SELECT eid,act,mood FROM entry_mood ORDER BY id"), "1|3|0\n2|5|0");
    EXPECT_EQ(Q("SELECT eid,mid,vomit,nausea FROM entry_sideff ORDER BY id"), "1|0|4|0\n2|0|6|0");
    ASSERT_TRUE(usage->WaitFor(4, 5000));
    std::vector<std::string> labels = usage->Labels();
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(labels, (std::vector<std::string>{"TB Mood", "TB Mood", "TB SideEff", "TB SideEff"}));
    ExpectSoundRows();
}

// Actions with "continue" ticked opens again; Medicines takes a cabinet
// medicine; the question keeps its reference text.
TEST_F(MainDetailsTest, ToolbarActionsMedicinesAndQuestion) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 2);
    CMedicine med = grvtest::MakeMedicine("Ibuprofen", 200);
    ASSERT_EQ(dlg.Db().SaveMedicine(med), 1);

    Then([](QWidget* d) {
        In<QComboBox>(d, IDC_ACT_NAME)->setEditText("Walk");
        In<QComboBox>(d, IDC_ACT_CATEGORY)->setEditText("Exercise");
        Slide(d, IDC_ACT_PAIN_SLIDER, -2);
        In<QCheckBox>(d, IDC_ACT_CONTINUE)->setChecked(true);
        Ok(d);
    });
    Then([](QWidget* d) {
        In<QComboBox>(d, IDC_ACT_NAME)->setEditText("Stretch");
        In<QComboBox>(d, IDC_ACT_CATEGORY)->setEditText("Exercise");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_ACTIONS));
    EXPECT_EQ(Q("SELECT eid,name,cat,plmod FROM entry_actions ORDER BY id"),
              "2|Walk|Exercise|-2\n2|Stretch|Exercise|0");

    Then([](QWidget* d) {
        auto* combo = In<QComboBox>(d, IDC_ME_MEDICINE);
        ASSERT_GE(combo->count(), 1);
        const int index = combo->findText("Ibuprofen", Qt::MatchStartsWith);
        ASSERT_GE(index, 0);
        combo->setCurrentIndex(index);
        emit combo->activated(index);
        SetText(d, IDC_ME_QUANTITY, "2");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_MEDICINES));
    EXPECT_EQ(Q("SELECT eid,mid,quantity FROM entry_meds"), QStringLiteral("2|%1|2").arg(med.id));

    Then([](QWidget* d) {
        SetText(d, IDC_QNA_QUESTION, "Can I swim?");
        SetText(d, IDC_QNA_ANSWER, "Yes, slowly");
        SetText(d, IDC_QNA_REFERENCE, "Dr. Reyes");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_QUESTION));
    // Cancelled, the question dialog stores nothing.
    Then([](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_QUESTION));
    EXPECT_EQ(Q("SELECT eid,q,a,ref,del FROM entry_question"), "2|Can I swim?|Yes, slowly|Dr. Reyes|0");
    EXPECT_EQ(m_unexpected, 0);
    EXPECT_TRUE(Told().isEmpty()) << Told().join('\n').toStdString();
    ExpectSoundRows();
}

// With AutoSaveEntry on, a detail button on a new entry stores the entry
// first, so the detail goes to it.
TEST_F(MainDetailsTest, AutoSaveEntryStoresTheNewEntryBeforeTheDialog) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 0);
    dlg.m_prefs.autoSaveEntry = 1;
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_NEW_ENTRY));
    SetPain(dlg, "7", "5", "2", "6");
    Then([](QWidget* d) {
        Slide(d, IDC_MOOD_SLIDER_FIRST + 3, 8);
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_MOOD));
    EXPECT_EQ(dlg.m_entry.id, 3);
    EXPECT_EQ(Q("SELECT id,wpl,apl,lpl,cpl FROM entry WHERE id=3"), "3|7|5|2|6");
    EXPECT_EQ(Q("SELECT eid,sleep FROM entry_mood"), "3|8");
    EXPECT_EQ(ListColumn(dlg, 3).size(), 3);
    ExpectSoundRows();
}

// Details > Questions: none opens the question dialog at once; with some
// the list comes first, and an edited question is updated in place.
TEST_F(MainDetailsTest, ContextQuestionsAddThenListAndEdit) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 1);
    Then([](QWidget* d) {
        SetText(d, IDC_QNA_QUESTION, "Dose at night?");
        SetText(d, IDC_QNA_REFERENCE, "leaflet");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_QUESTIONS));
    EXPECT_EQ(m_opened, QStringList{"CGRVDlgQnA"});

    // The list's Add button asks for a second one.
    Then([](QWidget* d) { In<QAbstractButton>(d, IDC_DETAILS_ADD)->click(); });
    Then([](QWidget* d) {
        SetText(d, IDC_QNA_QUESTION, "Ice or heat?");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_QUESTIONS));
    EXPECT_EQ(Q("SELECT id,eid,q,a,ref FROM entry_question ORDER BY id"),
              "1|1|Dose at night?||leaflet\n2|1|Ice or heat?||");

    // Picking the first for editing shows its texts; OK stores the change.
    QString shown;
    Then([](QWidget* d) {
        auto* list = In<QTreeWidget>(d, IDC_DETAILS);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0) == "1")
                list->setCurrentItem(list->topLevelItem(i));
        Ok(d);
    });
    Then([&shown](QWidget* d) {
        shown =
            In<QPlainTextEdit>(d, IDC_QNA_QUESTION)->toPlainText() + "/" + In<QLineEdit>(d, IDC_QNA_REFERENCE)->text();
        SetText(d, IDC_QNA_ANSWER, "Yes, with food");
        SetText(d, IDC_QNA_REFERENCE, "Dr. Reyes");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_QUESTIONS));
    EXPECT_EQ(shown, "Dose at night?/leaflet");
    EXPECT_EQ(Q("SELECT id,eid,q,a,ref FROM entry_question ORDER BY id"),
              "1|1|Dose at night?|Yes, with food|Dr. Reyes\n2|1|Ice or heat?||");
    EXPECT_EQ(m_opened,
              QStringList({"CGRVDlgQnA", "CGRVDlgDetEntList", "CGRVDlgQnA", "CGRVDlgDetEntList", "CGRVDlgQnA"}));

    // Cancel in the list opens nothing.
    Then([](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_QUESTIONS));
    EXPECT_EQ(m_opened.size(), 6);
    EXPECT_EQ(m_unexpected, 0);
    ExpectSoundRows();
}

// Details > Mood opens an empty dialog the first time and the stored record
// after that; Details > Actions edits the picked action in place.
TEST_F(MainDetailsTest, ContextMoodAndActionsEditStoredRecords) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 2);
    int first = -1;
    Then([&first](QWidget* d) {
        first = In<QSlider>(d, IDC_MOOD_SLIDER_FIRST + 1)->value();
        Slide(d, IDC_MOOD_SLIDER_FIRST + 1, 4);
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_MOOD));
    int second = -1;
    Then([&second](QWidget* d) {
        second = In<QSlider>(d, IDC_MOOD_SLIDER_FIRST + 1)->value();
        Slide(d, IDC_MOOD_SLIDER_FIRST + 1, 9);
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_MOOD));
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 4);
    EXPECT_EQ(Q("SELECT id,eid,mood FROM entry_mood"), "1|2|9");

    CEntryActions a;
    a.eid = 2;
    a.name = "Walk";
    a.plmod = -3;
    a.durmin = 30;
    ASSERT_EQ(dlg.Db().SaveEntryActions(a), 1);
    // One action: Details > Actions lists it; picking it opens it for change.
    QString name;
    Then([](QWidget* d) {
        auto* list = In<QTreeWidget>(d, IDC_DETAILS);
        ASSERT_EQ(list->topLevelItemCount(), 1);
        list->setCurrentItem(list->topLevelItem(0));
        Ok(d);
    });
    Then([&name](QWidget* d) {
        name = In<QComboBox>(d, IDC_ACT_NAME)->currentText();
        Slide(d, IDC_ACT_PAIN_SLIDER, -5);
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_DETAILS_ACTIONS));
    EXPECT_EQ(name, "Walk");
    EXPECT_EQ(Q("SELECT id,eid,name,plmod,durmin FROM entry_actions"), QStringLiteral("%1|2|Walk|-5|30").arg(a.id));
    EXPECT_EQ(m_unexpected, 0);
    ExpectSoundRows();
}

// Edit changes the stored entry's texts; a later save of the form keeps them.
TEST_F(MainDetailsTest, EditEntryTextSurvivesTheNextFormSave) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 1);
    QString subject;
    Then([&subject](QWidget* d) {
        subject = In<QLineEdit>(d, IDC_ENTRY_SUBJECT)->text();
        SetText(d, IDC_ENTRY_SUBJECT, "Bad morning");
        SetText(d, IDC_ENTRY_BODY, "Stiff knee");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_ENTRY_EDIT));
    EXPECT_EQ(subject, "First");
    EXPECT_EQ(Q("SELECT sbj,entry FROM entry WHERE id=1"), "Bad morning|Stiff knee");
    EXPECT_TRUE(ListColumn(dlg, 1).contains("Bad morning"));
    Edit(dlg, IDC_CURRENT_PAIN)->setText("5");
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
    EXPECT_EQ(Q("SELECT sbj,entry,cpl FROM entry WHERE id=1"), "Bad morning|Stiff knee|5");
    EXPECT_EQ(m_opened, QStringList{"CGRVDlgEntry"});
}

// Leaving the current-pain edit saves the form; a new entry is offered its
// type's dialog once, after a save that succeeded.
TEST_F(MainDetailsTest, LeavingCurrentPainSavesAndOffersTheTypesDialog) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    auto* types = Child<QComboBox>(dlg, IDC_ENTRY_TYPE);
    ASSERT_GE(types->findText("Side Effects"), 0);
    types->setCurrentIndex(types->findText("Side Effects"));
    SetPain(dlg, "8", "5", "2", "6");
    ASSERT_EQ(dlg.m_bNewEntry, 1);
    FocusLeaves(dlg, Qt::TabFocusReason);
    EXPECT_EQ(Told(), QStringList{kNeedDbForSave});
    EXPECT_TRUE(m_opened.isEmpty());
    EXPECT_EQ(dlg.m_bNewEntry, 1);

    m_path = MakeJournal("pain.grv", {{"2026-03-01 08:00:00", "First", 8, 5, 2, 4}});
    OpenThroughMenu(dlg, m_path);
    ASSERT_TRUE(dlg.OnCommand(ID_FILE_NEW_ENTRY));
    types->setCurrentIndex(types->findText("Side Effects"));
    SetPain(dlg, "8", "5", "2", "6");
    prompter->Clear();
    // Focus taken by another window is no leaving.
    FocusLeaves(dlg, Qt::ActiveWindowFocusReason);
    EXPECT_EQ(Q("SELECT count(*) FROM entry"), "1");
    Then([](QWidget* d) {
        Slide(d, IDC_SE_SLIDER_FIRST_ROW, 2); // nausea
        Ok(d);
    });
    FocusLeaves(dlg, Qt::TabFocusReason);
    EXPECT_EQ(m_opened, QStringList{"CGRVDlgSideEffect"});
    EXPECT_EQ(dlg.m_bNewEntry, 0);
    EXPECT_EQ(Q("SELECT id,wpl,apl,lpl,cpl,sbj FROM entry WHERE id=2"), "2|8|5|2|6|Side Effects");
    EXPECT_EQ(Q("SELECT eid,nausea FROM entry_sideff"), "2|2");

    // Leaving again, by the keyboard, updates the entry and offers nothing.
    dlg.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dlg));
    Edit(dlg, IDC_CURRENT_PAIN)->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(Edit(dlg, IDC_CURRENT_PAIN)->hasFocus());
    Edit(dlg, IDC_CURRENT_PAIN)->setText("3");
    QTest::keyClick(Edit(dlg, IDC_CURRENT_PAIN), Qt::Key_Tab);
    EXPECT_FALSE(Edit(dlg, IDC_CURRENT_PAIN)->hasFocus());
    EXPECT_EQ(m_opened.size(), 1);
    EXPECT_EQ(Q("SELECT count(*),max(cpl) FROM entry WHERE id=2"), "1|3");
    EXPECT_EQ(m_unexpected, 0);
    EXPECT_TRUE(Told().isEmpty()) << Told().join('\n').toStdString();
    ExpectSoundRows();
}

// The tray's quick pain score: the dialog's level with the journal's
// summary, or the level alone on a journal without entries.
TEST_F(MainDetailsTest, NewPainScoreStoresAQuickEntry) {
    struct Case {
        bool withEntries;
        const char* description;
        const char* row; // wpl|apl|lpl|cpl|sbj|entry
    };
    const Case cases[] = {
        {false, "",
         "7|7|7|7|Quick Pain Entry from Tray|Pain entry only performed via the Tray "
         "Menu or Hotkey"},
        {true, "After lunch",
         "9|6|2|7|After lunch|Pain entry only performed via the Tray Menu or "
         "Hotkey"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.withEntries);
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        m_path = c.withEntries ? MakeJournal("full.grv", {{"2026-03-01 08:00:00", "A", 8, 5, 2, 4},
                                                          {"2026-03-02 08:00:00", "B", 9, 6, 3, 7}})
                               : MakeJournal("empty.grv", {});
        OpenThroughMenu(dlg, m_path);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        Then([&c](QWidget* d) {
            SetText(d, IDC_CPL_NUMBER, "7");
            SetText(d, IDC_CPL_DESCRIPTION, c.description);
            Ok(d);
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
        const QString id = c.withEntries ? "3" : "1";
        EXPECT_EQ(Q("SELECT wpl,apl,lpl,cpl,sbj,entry FROM entry WHERE id=" + id), c.row);
        const QDateTime stored =
            QDateTime::fromString(Q("SELECT ts FROM entry WHERE id=" + id), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        EXPECT_GE(stored, before);
        EXPECT_LE(stored, QDateTime::currentDateTime().addSecs(1));
        EXPECT_EQ(dlg.m_entry.id, -1); // the form is cleared for the next entry
        EXPECT_EQ(Edit(dlg, IDC_CURRENT_PAIN)->text(), "");
        ExpectSoundRows();
        m_opened.clear();
    }
    ASSERT_TRUE(usage->WaitFor(2, 5000));
    EXPECT_EQ(usage->Labels(), (std::vector<std::string>(2, "TM NewPainScore")));
}

TEST_F(MainDetailsTest, NewPainScoreCancelledOrWithoutJournalStoresNothing) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    Then([](QWidget* d) {
        SetText(d, IDC_CPL_NUMBER, "4");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
    EXPECT_EQ(Told(), QStringList({kNeedDbForDetails, kNeedDbForSave}));

    m_path = MakeJournal("pain.grv", {});
    OpenThroughMenu(dlg, m_path);
    prompter->Clear();
    Then([](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
    ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
    EXPECT_EQ(Q("SELECT count(*) FROM entry"), "0");
    EXPECT_TRUE(Told().isEmpty());
    EXPECT_EQ(m_opened, QStringList({"CGRVDlgRecCPL", "CGRVDlgRecCPL"}));
}

// 11 and -1 never reach the file: the dialog refuses them, and a level that
// got past a dialog is refused by the store, whose reason is shown.
TEST_F(MainDetailsTest, NewPainScoreOutsideTheScaleStoresNothing) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    m_path = MakeJournal("pain.grv", {{"2026-03-01 08:00:00", "A", 8, 5, 2, 4}});
    OpenThroughMenu(dlg, m_path);
    for (const char* bad : {"11", "-1"}) {
        SCOPED_TRACE(bad);
        prompter->Clear();
        Then([bad](QWidget* d) {
            SetText(d, IDC_CPL_NUMBER, bad);
            Ok(d);
            EXPECT_TRUE(d->isVisible());
            static_cast<QDialog*>(d)->reject();
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
        EXPECT_EQ(Told(), QStringList{QString::fromLatin1(kInvalidPainScore).arg(1).arg(10)});

        prompter->Clear();
        Then([bad](QWidget* d) {
            auto* widened = static_cast<CGRVDlgRecCPL*>(d);
            widened->m_nMin = -1;
            widened->m_nMax = 11;
            SetText(d, IDC_CPL_NUMBER, bad);
            Ok(d);
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
        ASSERT_EQ(Told().size(), 1);
        EXPECT_EQ(Told()[0].toStdString(), dlg.Db().GetLastErrorText());
        EXPECT_TRUE(Told()[0].startsWith("Can't save entry: the current pain level is "));
    }
    EXPECT_EQ(Q("SELECT count(*) FROM entry"), "1");
    EXPECT_EQ(m_unexpected, 0);
}

// The tray's score is stored only as typed: its number edit swallowed the key
// that made a text no score ("-1" and "12" left "1", and 1 was stored). Every
// key goes in now, and the dialog refuses what is no score from 1 to 10; the
// sqlite3 shell reads the file after each try.
TEST_F(MainDetailsTest, NewPainScoreIsStoredOnlyAsTyped) {
    CGRVDlg dlg;
    ShowAndSettle(dlg);
    m_path = MakeJournal("pain.grv", {{"2026-03-01 08:00:00", "A", 8, 5, 2, 4}});
    OpenThroughMenu(dlg, m_path);
    for (const char* keys : {"-1", "12", "100", "", "7x"}) {
        SCOPED_TRACE(keys);
        prompter->Clear();
        Then([keys](QWidget* d) {
            auto* number = In<QLineEdit>(d, IDC_CPL_NUMBER);
            QTest::keyClicks(number, keys);
            EXPECT_EQ(number->text(), keys);
            Ok(d);
            EXPECT_TRUE(d->isVisible());
            static_cast<QDialog*>(d)->reject();
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
        EXPECT_EQ(Told(), QStringList{QString::fromLatin1(kInvalidPainScore).arg(1).arg(10)});
        EXPECT_EQ(Q("SELECT count(*) FROM entry"), "1");
    }
    prompter->Clear();
    Then([](QWidget* d) {
        QTest::keyClicks(In<QLineEdit>(d, IDC_CPL_NUMBER), "7");
        Ok(d);
    });
    ASSERT_TRUE(dlg.OnCommand(ID_TRAY_NEW_PAIN_SCORE));
    EXPECT_TRUE(Told().isEmpty());
    // The score with the journal's summary: most worst, rounded average, least lowest.
    EXPECT_EQ(Q("SELECT count(*) FROM entry"), "2");
    EXPECT_EQ(Q("SELECT wpl,apl,lpl,cpl FROM entry WHERE id=2"), "8|4|2|7");
    EXPECT_EQ(m_unexpected, 0);
}

// A journal the user may not write. Failed saves said "the disk reported an
// error" (the cabinet "Error: 10 : disk I/O error"), the Entry dialog closed
// and lost the typed subject and body, and the cabinet emptied its list and
// saved the kept form on New. Every road now says the journal cannot be
// written, keeps what was typed and stores nothing; the sqlite3 shell reads
// the file after each. The kernel must refuse the writes, so the test runs
// as nobody.
using UnwritableJournalTest = MainDetailsTest;

TEST_F(UnwritableJournalTest, FailedSavesSayWhyAndLoseNothing) {
    if (RerunAsNobodyInHomeOfItsOwn())
        return;
    ASSERT_NE(::geteuid(), 0u) << "file modes do not bind the superuser";
    const QString cannotWrite = QString::fromLatin1(kReasonCannotWrite);
    const struct {
        const char* name;
        bool folder; // the folder is made read-only once the journal is open, else the file before
    } cases[] = {{"read-only file", false}, {"read-only folder", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString folder = PathOf(c.name);
        ASSERT_TRUE(QDir().mkpath(folder));
        m_path = MakeJournal(QString(c.name) + "/pain.grv", {{"2026-03-01 08:00:00", "First", 8, 5, 2, 4}});
        {
            CJournalDb db;
            db.SetFolder(folder.toStdString());
            db.SetFileName("pain.grv");
            ASSERT_EQ(db.Open(0), 1);
            CMedicine m = grvtest::MakeMedicine("Ibuprofen", 200);
            ASSERT_EQ(db.SaveMedicine(m), 1);
        }
        const QByteArray file = QFile::encodeName(m_path);
        const QByteArray place = QFile::encodeName(folder);
        if (!c.folder) {
            ASSERT_EQ(::chmod(file.constData(), 0444), 0);
        }
        CGRVDlg dlg;
        ShowAndSettle(dlg);
        OpenThroughMenu(dlg, m_path);
        SelectEntry(dlg, 1);
        if (c.folder) {
            ASSERT_EQ(::chmod(place.constData(), 0555), 0);
        }

        // The form.
        SetPain(dlg, "9", "6", "3", "7");
        prompter->Clear();
        ASSERT_TRUE(dlg.OnCommand(ID_FILE_SAVE_ENTRY));
        ASSERT_EQ(Told().size(), 1);
        EXPECT_TRUE(Told()[0].startsWith("Can't save entry to database")) << Told()[0].toStdString();
        EXPECT_TRUE(Told()[0].contains(cannotWrite)) << Told()[0].toStdString();
        EXPECT_EQ(Q("SELECT wpl,apl,lpl,cpl FROM entry"), "8|5|2|4");

        // The Entry dialog keeps the typed subject and body.
        prompter->Clear();
        Then([](QWidget* d) {
            SetText(d, IDC_ENTRY_SUBJECT, "Knee, evening");
            SetText(d, IDC_ENTRY_BODY, "Stairs were hard.");
            Ok(d);
            EXPECT_TRUE(d->isVisible());
            EXPECT_EQ(In<QLineEdit>(d, IDC_ENTRY_SUBJECT)->text(), "Knee, evening");
            EXPECT_EQ(In<QPlainTextEdit>(d, IDC_ENTRY_BODY)->toPlainText(), "Stairs were hard.");
            static_cast<QDialog*>(d)->reject();
        });
        ASSERT_TRUE(dlg.OnCommand(ID_ENTRY_EDIT));
        ASSERT_EQ(Told().size(), 1);
        EXPECT_TRUE(Told()[0].contains(cannotWrite)) << Told()[0].toStdString();
        EXPECT_EQ(Q("SELECT sbj, entry FROM entry"), "First|");

        // The cabinet: its list keeps the journal's medicine, New saves nothing.
        prompter->Clear();
        Then([](QWidget* d) {
            auto* list = In<QTreeWidget>(d, IDC_MC_LIST);
            ASSERT_EQ(list->topLevelItemCount(), 1);
            SetText(d, IDC_MC_NAME, "Morphine");
            SetText(d, IDC_MC_DOSAGE, "10");
            SetText(d, IDC_MC_TAKE, "1");
            SetText(d, IDC_MC_EVERY, "6");
            for (const auto& [id, item] : {std::pair{IDC_MC_MEASURE, "mg"}, std::pair{IDC_MC_FORM, "Tablet"},
                                           std::pair{IDC_MC_EVERY_INTERVAL, "Hours"}}) {
                auto* combo = In<QComboBox>(d, id);
                combo->setCurrentIndex(combo->findText(item));
            }
            In<QAbstractButton>(d, IDC_MC_SAVE)->click();
            EXPECT_TRUE(d->isVisible());
            ASSERT_EQ(list->topLevelItemCount(), 1);
            EXPECT_EQ(list->topLevelItem(0)->text(1), "Ibuprofen");
            In<QAbstractButton>(d, IDC_MC_NEW)->click();
            EXPECT_EQ(In<QLineEdit>(d, IDC_MC_NAME)->text(), "");
            EXPECT_EQ(list->topLevelItemCount(), 1);
            static_cast<QDialog*>(d)->reject();
        });
        ASSERT_TRUE(dlg.OnCommand(ID_TOOLS_MEDICINE_CABINET));
        ASSERT_EQ(Told().size(), 1); // the save's; New tried nothing
        EXPECT_TRUE(Told()[0].startsWith("Your medicine was not saved.\n\nCan't save entry to database"))
            << Told()[0].toStdString();
        EXPECT_TRUE(Told()[0].contains(cannotWrite)) << Told()[0].toStdString();
        EXPECT_EQ(Q("SELECT name FROM medicine_cabinet"), "Ibuprofen");
        EXPECT_EQ(m_unexpected, 0);
        ::chmod(place.constData(), 0755);
        ::chmod(file.constData(), 0644);
    }
}

// No keeps the entry; Yes flags it, drops it from the list and clears the form.
TEST_F(MainDetailsTest, DeleteAsksThenFlagsTheEntryAndClearsTheForm) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 2);
    prompter->Queue(Answer::No);
    ASSERT_TRUE(dlg.OnCommand(ID_TB_DELETE_ENTRY));
    EXPECT_EQ(Told(), QStringList{"Are you sure you wish to delete entry 2?"});
    EXPECT_EQ(Q("SELECT id,del FROM entry ORDER BY id"), "1|0\n2|0");
    EXPECT_EQ(dlg.m_entry.id, 2);

    prompter->Clear();
    prompter->Queue(Answer::Yes);
    ASSERT_TRUE(dlg.OnCommand(ID_ENTRY_DELETE));
    EXPECT_EQ(Told(), QStringList({"Are you sure you wish to delete entry 2?", kEntryDeleted}));
    EXPECT_EQ(prompter->Prompts().back().title, "Gorvane");
    EXPECT_EQ(Q("SELECT id,del FROM entry ORDER BY id"), "1|0\n2|1");
    EXPECT_EQ(ListColumn(dlg, 1), QStringList{"First"});
    EXPECT_EQ(dlg.m_entry.id, -1);
    EXPECT_EQ(Edit(dlg, IDC_CURRENT_PAIN)->text(), "");

    // The cleared form has nothing to delete.
    prompter->Clear();
    ASSERT_TRUE(dlg.OnCommand(ID_ENTRY_DELETE));
    EXPECT_EQ(Told(), QStringList{kNeedSavedForDelete});
    EXPECT_EQ(Q("SELECT count(*) FROM entry WHERE del=1"), "1");
}

TEST_F(MainDetailsTest, MedicineCabinetFromToolbarAndMenu) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 0);
    Then([](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
    ASSERT_TRUE(dlg.OnCommand(ID_TB_MEDICINE_CABINET));
    Then([](QWidget* d) { static_cast<QDialog*>(d)->reject(); });
    ASSERT_TRUE(dlg.OnCommand(ID_TOOLS_MEDICINE_CABINET));
    EXPECT_EQ(m_opened, QStringList({"CGRVDlgMedCab", "CGRVDlgMedCab"}));
    ASSERT_TRUE(usage->WaitFor(3, 5000));
    // Each report has a worker of its own: they arrive in any order.
    std::vector<std::string> labels = usage->Labels();
    std::sort(labels.begin(), labels.end());
    EXPECT_EQ(labels, (std::vector<std::string>{"TB MedsCab", "Tools MedsCab", "Tools MedsCab"}));
}

// Activating a row loads its entry and shows the entries menu at the cursor.
TEST_F(MainDetailsTest, ActivatingARowLoadsItAndShowsTheEntriesMenu) {
    CGRVDlg dlg;
    OpenTwoEntries(dlg, 2);
    QTreeWidget* list = List(dlg);
    QTreeWidgetItem* first = nullptr;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->text(1) == "First")
            first = list->topLevelItem(i);
    ASSERT_NE(first, nullptr);
    {
        // Selected quietly, so only the activation loads it.
        const QSignalBlocker quiet(list);
        list->setCurrentItem(first);
    }
    ASSERT_EQ(dlg.m_entry.id, 2);
    QCursor::setPos(list->viewport()->mapToGlobal(list->visualItemRect(first).center()));
    emit list->itemActivated(first, 0);
    EXPECT_EQ(dlg.m_entry.id, 1);
    EXPECT_EQ(Edit(dlg, IDC_CURRENT_PAIN)->text(), "4");
    EXPECT_TRUE(dlg.EntriesContextMenu()->isVisible());
    dlg.EntriesContextMenu()->hide();
}

} // namespace
