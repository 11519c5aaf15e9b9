#include <gtest/gtest.h>

#include <QPlainTextEdit>

#include "DetailTestSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/GRVDlgEntry.h"
#include "app/shell/GRVDlgQnA.h"
#include "app/shell/GRVDlgRecCPL.h"

using namespace grv;

namespace {

class EntryDialogTest : public DetailTest {
protected:
    void Open(CGRVDlgEntry& dlg, int id) {
        dlg.m_pDb = &m_db;
        ASSERT_EQ(m_db.LoadEntry(std::to_string(id), dlg.m_entry), 1);
        dlg.m_strSubject = QString::fromStdString(dlg.m_entry.sbj);
        dlg.m_strBody = QString::fromStdString(dlg.m_entry.entry);
        dlg.show();
    }
};

TEST_F(EntryDialogTest, OkStoresSubjectAndBodyInTheEntrysRow) {
    const int id = AddEntry("Morning");
    AddEntry("Other");
    CGRVDlgEntry dlg;
    Open(dlg, id);
    EXPECT_EQ(dlg.windowTitle(), "Entry Dialog");
    auto* subject = Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT);
    auto* body = Ctl<QPlainTextEdit>(&dlg, IDC_ENTRY_BODY);
    EXPECT_EQ(subject->text() + "|" + body->toPlainText(), "Morning|body");
    Type(subject, "St. John's \"Wort\" day");
    body->setPlainText("Line one\nLine two");
    dlg.m_entry.cpl = 9; // what the caller handed in is written too
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Cli("SELECT id,ts,wpl,apl,lpl,cpl,sbj,entry,del FROM entry ORDER BY id;"),
              "1|2024-03-05 09:07:30|7|5|2|9|St. John's \"Wort\" day|Line one\nLine two|0\n"
              "2|2024-03-05 09:07:30|7|5|2|4|Other|body|0\n");
}

TEST_F(EntryDialogTest, NewEntryIsInsertedAndCancelWritesNothing) {
    {
        CGRVDlgEntry dlg;
        dlg.m_pDb = &m_db;
        dlg.m_entry.ts = "2024-04-01 10:00:00";
        dlg.m_entry.wpl = dlg.m_entry.apl = dlg.m_entry.lpl = dlg.m_entry.cpl = 3;
        dlg.show();
        Type(Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT), "New");
        Press(&dlg, IDCANCEL);
        EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
        EXPECT_EQ(Cli("SELECT count(*) FROM entry;"), "0\n");
        dlg.show();
        EXPECT_EQ(Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT)->text(), "") << "shown from the members";
        Type(Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT), "New");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT id,ts,sbj,cpl FROM entry;"), "1|2024-04-01 10:00:00|New|3\n");
}

TEST_F(EntryDialogTest, WithNoJournalOpenTheUserIsToldAndNothingIsStored) {
    const int id = AddEntry("Morning");
    CGRVDlgEntry dlg;
    Open(dlg, id);
    m_db.Close();
    Type(Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT), "Changed");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Told(), QStringList{kNeedOpenDb});
    EXPECT_EQ(Cli("SELECT sbj FROM entry;"), "Morning\n");
}

// A save the store refuses is shown, and the dialog stays open with what was
// typed (it closed and the subject and body were lost).
TEST_F(EntryDialogTest, ASaveTheStoreRefusesIsShownAndTheTextsStay) {
    // Older journals hold entries whose levels were never set.
    Cli("INSERT INTO entry (ts, wpl, apl, lpl, cpl, sbj) VALUES ('2024-01-01 08:00:00', -1, -1, -1, -1, 'Old');");
    CGRVDlgEntry dlg;
    Open(dlg, 1);
    Type(Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT), "Kept in the dialog");
    auto* body = Ctl<QPlainTextEdit>(&dlg, IDC_ENTRY_BODY);
    body->clear();
    QTest::keyClicks(body, "Two lines");
    QTest::keyClick(body, Qt::Key_Return);
    QTest::keyClicks(body, "of body");
    Press(&dlg, IDOK);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(Ctl<QLineEdit>(&dlg, IDC_ENTRY_SUBJECT)->text(), "Kept in the dialog");
    EXPECT_EQ(body->toPlainText(), "Two lines\nof body");
    EXPECT_EQ(Told(), QStringList{QString::fromStdString(m_db.GetLastErrorText())});
    EXPECT_TRUE(Told()[0].startsWith("Can't save entry: the worst pain level is -1"));
    EXPECT_EQ(Cli("SELECT sbj, wpl FROM entry;"), "Old|-1\n");
    Press(&dlg, IDCANCEL);
    EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
}

using QuestionDialogTest = DetailTest;

std::string Handed(const CEntryQuestions& q) {
    return std::to_string(q.eid) + "|" + q.q + "|" + q.a + "|" + q.ref;
}

TEST_F(QuestionDialogTest, OkHandsTheTextsBackAndWritesNothing) {
    {
        CGRVDlgQnA dlg;
        dlg.m_strEntryId = "7";
        dlg.show();
        EXPECT_EQ(dlg.windowTitle(), "Questions I want to ask Next Appointment");
        Press(&dlg, IDOK);
        EXPECT_TRUE(EndedWith(dlg, IDOK));
        EXPECT_EQ(Handed(dlg.m_question), "7|||");
    }
    {
        CGRVDlgQnA dlg;
        dlg.m_pDb = &m_db;
        dlg.m_strQuestion = "Dose?";
        dlg.show();
        EXPECT_EQ(Ctl<QPlainTextEdit>(&dlg, IDC_QNA_QUESTION)->toPlainText(), "Dose?");
        Ctl<QPlainTextEdit>(&dlg, IDC_QNA_ANSWER)->setPlainText("Halve it");
        Type(Ctl<QLineEdit>(&dlg, IDC_QNA_REFERENCE), "Dr. O'Neil");
        Press(&dlg, IDOK);
        EXPECT_EQ(Handed(dlg.m_question), "0|Dose?|Halve it|Dr. O'Neil") << "no entry id given";
        EXPECT_EQ(dlg.m_strReference, "Dr. O'Neil");
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_question;"), "0\n");
}

using CurrentPainDialogTest = DetailTest;

TEST_F(CurrentPainDialogTest, SliderAndNumberDecideTheLevel) {
    struct Case {
        int slider;        // -1: not moved
        const char* typed; // nullptr: the number is left as it is
        bool accepted;
        int pain;
    } cases[] = {
        {-1, nullptr, false, 0}, // OK at once: empty number, slider at 0
        {7, nullptr, true, 7},   // the slider writes its position into the number
        {7, "3", true, 3},       // a typed number wins
        {7, "", true, 7},        // a cleared number leaves the slider
        {-1, "11", false, 0},
        {-1, "10", true, 10},
        {-1, "0", false, 0},
        {-1, "1", true, 1},
        // Every key goes in: the number edit once swallowed the key that made
        // a text no score, so "-1" and "12" left "1", "100" left "10", and
        // that was accepted.
        {-1, "-1", false, 0},
        {-1, "12", false, 0},
        {-1, "100", false, 0},
        {-1, "1x05", false, 0},
        {-1, "7.0", true, 7},
        {-1, "7.5", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.slider) + " " + (c.typed ? c.typed : "-"));
        prompter->Clear();
        CGRVDlgRecCPL dlg;
        dlg.show();
        auto* number = Ctl<QLineEdit>(&dlg, IDC_CPL_NUMBER);
        if (c.slider >= 0) {
            Drag(Ctl<QSlider>(&dlg, IDC_CPL_SLIDER), c.slider);
            EXPECT_EQ(number->text(), QString::number(c.slider));
        }
        if (c.typed) {
            Type(number, QString::fromLatin1(c.typed));
            EXPECT_EQ(number->text(), c.typed);
            // The slider follows a typed level.
            if (c.accepted) {
                EXPECT_EQ(Ctl<QSlider>(&dlg, IDC_CPL_SLIDER)->value(), c.pain);
            }
        }
        Press(&dlg, IDOK);
        if (c.accepted) {
            EXPECT_TRUE(EndedWith(dlg, IDOK));
            EXPECT_EQ(dlg.m_nPain, c.pain);
            EXPECT_TRUE(prompter->Prompts().empty());
        } else {
            EXPECT_TRUE(dlg.isVisible()) << "the dialog stays open";
            // A decimal is refused as what it is not: a whole number.
            EXPECT_EQ(Told(), QStringList{QString::fromLatin1(kInvalidPainScore).arg(1).arg(10)});
            EXPECT_TRUE(Told().at(0).contains("a whole number from 1 to 10"));
        }
    }
}

TEST_F(CurrentPainDialogTest, TheDescriptionComesBackAndCancelGivesNothing) {
    CGRVDlgRecCPL dlg;
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Record Current Pain Level");
    Type(Ctl<QLineEdit>(&dlg, IDC_CPL_NUMBER), "10");
    Type(Ctl<QLineEdit>(&dlg, IDC_CPL_DESCRIPTION), "Knee after the stairs");
    Press(&dlg, IDOK);
    EXPECT_EQ(dlg.m_nPain, 10);
    EXPECT_EQ(dlg.m_strDescription, "Knee after the stairs");

    CGRVDlgRecCPL cancelled;
    cancelled.show();
    Type(Ctl<QLineEdit>(&cancelled, IDC_CPL_NUMBER), "5");
    Press(&cancelled, IDCANCEL);
    EXPECT_TRUE(EndedWith(cancelled, IDCANCEL));
    EXPECT_EQ(cancelled.m_nPain, 0);
}

} // namespace
