#include <gtest/gtest.h>

#include <QPushButton>
#include <QTreeWidget>

#include "DetailTestSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/GRVDlgDetEntList.h"
#include "app/store/StoreTexts.h"

using namespace grv;
using platform::ui::Answer;

namespace {

class DetailListTest : public DetailTest {
protected:
    void Open(CGRVDlgDetEntList& dlg, int type, int eid) {
        dlg.m_pDb = &m_db;
        dlg.m_nType = type;
        dlg.m_nEntryId = eid;
        dlg.show();
    }
    static QTreeWidget* List(QWidget* d) { return Ctl<QTreeWidget>(d, IDC_DETAILS); }
    // Each line as "id: label".
    static QStringList Lines(QWidget* d) {
        QStringList out;
        QTreeWidget* list = List(d);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            out << list->topLevelItem(i)->text(0) + ": " + list->topLevelItem(i)->text(1);
        return out;
    }
    static void Pick(QWidget* d, int line) { List(d)->setCurrentItem(List(d)->topLevelItem(line)); }
    void AddMood(int eid) {
        CEntryMood m;
        m.eid = eid;
        m.act = m.mood = m.walk = m.work = m.relat = m.sleep = m.life = m.concn = 1;
        EXPECT_EQ(m_db.SaveEntryMood(m), 1);
    }
};

TEST_F(DetailListTest, ListsTheEntrysActionsHighestIdFirst) {
    const int eid = AddEntry();
    const int other = AddEntry("Evening");
    AddAction(eid, "Walk", "Exercise");
    AddAction(other, "Nap", "Rest");
    AddAction(eid, "Swim", "Exercise");
    AddAction(eid, "Tea", "St. John's Wort");
    CGRVDlgDetEntList dlg;
    Open(dlg, kEntryTypeAction, eid);
    EXPECT_EQ(dlg.windowTitle(), "Actions");
    EXPECT_EQ(Lines(&dlg), (QStringList{"4: Tea [St. John's Wort]", "3: Swim [Exercise]", "1: Walk [Exercise]"}));
    dlg.RefreshList();
    dlg.RefreshList();
    EXPECT_EQ(Lines(&dlg).size(), 3);
    EXPECT_EQ(List(&dlg)->headerItem()->text(0) + "|" + List(&dlg)->headerItem()->text(1), "ID|Detail Name or Subject");
    EXPECT_TRUE(Ctl<QPushButton>(&dlg, IDC_DETAILS_DELETE)->isEnabled());
    EXPECT_TRUE(Ctl<QPushButton>(&dlg, IDC_DETAILS_DELETE_ALL)->isEnabled());
}

TEST_F(DetailListTest, AnswersNothingEditOrAdd) {
    const int eid = AddEntry();
    AddAction(eid, "Walk", "Exercise");
    AddAction(eid, "Swim", "Exercise");
    {
        CGRVDlgDetEntList dlg;
        Open(dlg, kEntryTypeAction, eid);
        Press(&dlg, IDOK);
        EXPECT_TRUE(EndedWith(dlg, IDOK));
        EXPECT_EQ(dlg.m_nAnswer, kDetailAnswerNone);
    }
    {
        CGRVDlgDetEntList dlg;
        Open(dlg, kEntryTypeAction, eid);
        Pick(&dlg, 1);
        Press(&dlg, IDOK);
        EXPECT_EQ(dlg.m_nAnswer, kDetailAnswerEdit);
        EXPECT_EQ(dlg.m_strSelectedId, "1");
    }
    {
        CGRVDlgDetEntList dlg;
        Open(dlg, kEntryTypeAction, eid);
        Pick(&dlg, 0);
        List(&dlg)->clearSelection();
        EXPECT_EQ(dlg.m_nAnswer, kDetailAnswerNone);
        Pick(&dlg, 0);
        Press(&dlg, IDC_DETAILS_ADD);
        EXPECT_TRUE(EndedWith(dlg, IDOK));
        EXPECT_EQ(dlg.m_nAnswer, kDetailAnswerAdd);
    }
    {
        CGRVDlgDetEntList dlg;
        Open(dlg, kEntryTypeAction, eid);
        Pick(&dlg, 0);
        Press(&dlg, IDCANCEL);
        EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_actions WHERE del=0;"), "2\n");
}

TEST_F(DetailListTest, DeletingAPickedMoodMarksOnlyThatRecord) {
    const int eid = AddEntry();
    AddMood(eid);
    AddMood(eid);
    AddMood(eid);
    CGRVDlgDetEntList dlg;
    Open(dlg, kEntryTypeMood, eid);
    Pick(&dlg, 1);
    ASSERT_EQ(dlg.m_strSelectedId, "2");
    prompter->Queue(Answer::Yes);
    Press(&dlg, IDC_DETAILS_DELETE);
    EXPECT_EQ(Cli("SELECT id,del FROM entry_mood;"), "1|0\n2|1\n3|0\n");
    EXPECT_EQ(Told(), (QStringList{kAskDeleteDetail, kDetailDeleted}));
    EXPECT_EQ(prompter->Prompts()[0].title, kAskDeleteDetailTitle);
    EXPECT_EQ(Lines(&dlg), (QStringList{QString("3: ") + kMoodDetailLabel, QString("1: ") + kMoodDetailLabel}));
}

TEST_F(DetailListTest, AnsweringNoDeletesNothing) {
    const int eid = AddEntry();
    AddAction(eid, "Walk", "Exercise");
    CGRVDlgDetEntList dlg;
    Open(dlg, kEntryTypeAction, eid);
    Pick(&dlg, 0);
    prompter->Queue(Answer::No);
    Press(&dlg, IDC_DETAILS_DELETE);
    prompter->Queue(Answer::No);
    Press(&dlg, IDC_DETAILS_DELETE_ALL);
    EXPECT_EQ(Told(), (QStringList{kAskDeleteDetail, kAskDeleteAllDetails}));
    EXPECT_EQ(Cli("SELECT del FROM entry_actions;"), "0\n");
}

TEST_F(DetailListTest, DeleteAllMarksEveryListedRecord) {
    const int eid = AddEntry();
    const int other = AddEntry("Evening");
    Cli("INSERT INTO entry_question (eid, q) VALUES (" + std::to_string(eid) + ", 'Q1'), (" + std::to_string(eid) +
        ", 'Q2'), (" + std::to_string(eid) + ", 'Q3'), (" + std::to_string(eid) + ", 'Q4'), (" + std::to_string(other) +
        ", 'Other entry''s');");
    CGRVDlgDetEntList dlg;
    Open(dlg, kEntryTypeQuestion, eid);
    EXPECT_EQ(dlg.windowTitle(), "Questions & Answers");
    ASSERT_EQ(Lines(&dlg).size(), 4);
    prompter->Queue(Answer::Yes);
    Press(&dlg, IDC_DETAILS_DELETE_ALL);
    EXPECT_EQ(Told(), (QStringList{kAskDeleteAllDetails, kAllDetailsDeleted}));
    EXPECT_EQ(prompter->Prompts()[0].title, kAskDeleteAllDetailsTitle);
    EXPECT_TRUE(Lines(&dlg).isEmpty());
    EXPECT_EQ(Cli("SELECT id,del FROM entry_question;"), "1|1\n2|1\n3|1\n4|1\n5|0\n");

    // Nothing left: nothing to ask about.
    prompter->Clear();
    Press(&dlg, IDC_DETAILS_DELETE_ALL);
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(DetailListTest, DeleteWithNothingPickedReportsTheError) {
    const int eid = AddEntry();
    AddAction(eid, "Walk", "Exercise");
    for (int type : {kEntryTypeAction, kEntryTypeJournal, kEntryTypeMedicine, kEntryTypeMood, kEntryTypeQuestion,
                     kEntryTypeSideEffects}) {
        SCOPED_TRACE(type);
        prompter->Clear();
        CGRVDlgDetEntList dlg;
        Open(dlg, type, eid);
        prompter->Queue(Answer::Yes);
        Press(&dlg, IDC_DETAILS_DELETE);
        EXPECT_EQ(Told(), (QStringList{kAskDeleteDetail, kErrorDeleting}));
    }
    EXPECT_EQ(Cli("SELECT (SELECT sum(del) FROM entry) || ',' || (SELECT sum(del) FROM entry_actions);"), "0,0\n");
}

TEST_F(DetailListTest, JournalTypeListsEveryEntryAndDeletesThePickedOne) {
    AddEntry("Morning");
    AddEntry("St. John's Wort day");
    AddEntry("Evening");
    CGRVDlgDetEntList dlg;
    Open(dlg, kEntryTypeJournal, 1);
    EXPECT_EQ(dlg.windowTitle(), "Journal");
    EXPECT_EQ(Lines(&dlg), (QStringList{"3: Evening", "2: St. John's Wort day", "1: Morning"}));
    Pick(&dlg, 1);
    prompter->Queue(Answer::Yes);
    Press(&dlg, IDC_DETAILS_DELETE);
    EXPECT_EQ(Told(), (QStringList{kAskDeleteDetail, kDetailDeleted}));
    EXPECT_EQ(Cli("SELECT id,del FROM entry;"), "1|0\n2|1\n3|0\n");
    EXPECT_EQ(Lines(&dlg), (QStringList{"3: Evening", "1: Morning"}));

    // An id that names no entry deletes nothing, whatever was loaded before.
    dlg.m_strSelectedId = "99";
    EXPECT_EQ(dlg.DeleteSelected(), 0);
    EXPECT_EQ(Cli("SELECT sum(del) FROM entry;"), "1\n");
}

TEST_F(DetailListTest, DetailWithoutAnEntryIsNotReportedDeleted) {
    // The store refuses to mark a detail that belongs to no entry.
    Cli("INSERT INTO entry_actions (eid,name,cat,plmod,durmin,ref) VALUES (-1,'Lost','x',0,0,'');");
    CGRVDlgDetEntList dlg;
    Open(dlg, kEntryTypeAction, -1);
    ASSERT_EQ(Lines(&dlg), QStringList{"1: Lost [x]"});
    Pick(&dlg, 0);
    prompter->Queue(Answer::Yes);
    Press(&dlg, IDC_DETAILS_DELETE);
    EXPECT_EQ(Told(), (QStringList{kAskDeleteDetail, kErrorDeleting}));
    EXPECT_EQ(Cli("SELECT del FROM entry_actions;"), "0\n");
}

TEST_F(DetailListTest, UnknownTypeIsRefused) {
    CGRVDlgDetEntList dlg;
    Open(dlg, 9, 1);
    EXPECT_TRUE(Lines(&dlg).isEmpty());
    dlg.m_strSelectedId = "1";
    EXPECT_EQ(dlg.DeleteSelected(), 0);
    EXPECT_EQ(Told(), QStringList{kUnknownTypeForDeletion});
}

} // namespace
