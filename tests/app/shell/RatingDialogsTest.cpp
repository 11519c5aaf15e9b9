#include <gtest/gtest.h>

#include "DetailTestSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/GRVDlgMood.h"
#include "app/shell/GRVDlgSideEffect.h"

using namespace grv;

namespace {

// Row order of the two dialogs.
enum MoodRow { kActivity, kMoodRow, kWork, kSleep, kLife, kConcentrate, kRelations, kWalking };
enum SideEffectRow { kNausea, kVomiting, kConstipation, kAppetite, kTired, kItching };

class MoodDialogTest : public DetailTest {
protected:
    void Open(CGRVDlgMood& dlg, int eid) {
        dlg.m_pDb = &m_db;
        dlg.m_strEntryId = QString::number(eid);
        dlg.show();
    }
    static QSlider* Slider(QWidget* d, int row) { return Ctl<QSlider>(d, IDC_MOOD_SLIDER_FIRST + row); }
    static QLineEdit* Edit(QWidget* d, int row) { return Ctl<QLineEdit>(d, IDC_MOOD_EDIT_FIRST + row); }
    static QStringList Edits(QWidget* d) {
        QStringList out;
        for (int r = 0; r < CGRVDlgMood::kRows; ++r)
            out << Edit(d, r)->text();
        return out;
    }
    static const char* kRow;
};
const char* MoodDialogTest::kRow =
    "SELECT id,eid,act,mood,work,sleep,life,concn,relat,walk,del FROM entry_mood ORDER BY id;";

TEST_F(MoodDialogTest, NewRecordOpensAtZeroAndOkWritesTheRow) {
    const int eid = AddEntry();
    CGRVDlgMood dlg;
    Open(dlg, eid);
    EXPECT_EQ(dlg.windowTitle(), "How is Pain Interfering with...");
    for (int r = 0; r < CGRVDlgMood::kRows; ++r)
        EXPECT_EQ(Slider(&dlg, r)->maximum(), 10);
    EXPECT_EQ(Edits(&dlg), QStringList(8, "0"));
    Drag(Slider(&dlg, kActivity), 3);
    Drag(Slider(&dlg, kSleep), 4);
    Type(Edit(&dlg, kSleep), "7");   // the slider follows: 7
    Type(Edit(&dlg, kWork), "7");    // slider at 0: the typed 7
    Type(Edit(&dlg, kWalking), "9"); // slider at 0: the typed 9
    Type(Edit(&dlg, kLife), "-2x");  // digits only: 2
    QTest::keyClick(Slider(&dlg, kRelations), Qt::Key_End);
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Cli(kRow), "1|" + std::to_string(eid) + "|3|0|7|7|2|0|10|9|0\n");
    EXPECT_EQ(dlg.m_nWalking, 9);
    EXPECT_EQ(dlg.m_nSleep, 7);
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(MoodDialogTest, MovingASliderWritesOnlyItsOwnEdit) {
    CGRVDlgMood dlg;
    Open(dlg, AddEntry());
    Drag(Slider(&dlg, kMoodRow), 6);
    QTest::keyClick(Slider(&dlg, kConcentrate), Qt::Key_Right);
    EXPECT_EQ(Edits(&dlg), (QStringList{"0", "6", "0", "0", "0", "1", "0", "0"}));
    // Typing moves its own row's slider only.
    Type(Edit(&dlg, kWork), "9");
    EXPECT_EQ(Slider(&dlg, kWork)->value(), 9);
    EXPECT_EQ(Slider(&dlg, kMoodRow)->value(), 6);
    EXPECT_EQ(Slider(&dlg, kConcentrate)->value(), 1);
}

// A rating typed off the 0 to 10 scale was stored and printed as it stood.
// It is refused with the row named; the dialog stays with what was typed.
TEST_F(MoodDialogTest, TypedRatingOffTheScaleIsRefusedAndNothingIsStored) {
    const int eid = AddEntry();
    CGRVDlgMood dlg;
    Open(dlg, eid);
    for (const char* typed : {"15", "11", "999"}) {
        prompter->Clear();
        Type(Edit(&dlg, kWalking), typed);
        Press(&dlg, IDOK);
        EXPECT_TRUE(dlg.isVisible()) << typed;
        EXPECT_EQ(Told(), QStringList{QString::fromLatin1(kRatingOutOfScale).arg("Walking")});
        EXPECT_TRUE(Told().at(0).contains("a whole number from 0 to 10"));
        EXPECT_EQ(Edit(&dlg, kWalking)->text(), typed);
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_mood;"), "0\n");
    // A slider away from 0 decides; the edit beside it does not count.
    Drag(Slider(&dlg, kWalking), 2);
    Type(Edit(&dlg, kSleep), "10");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Cli("SELECT sleep, walk FROM entry_mood;"), "10|2\n");
}

TEST_F(MoodDialogTest, ExistingRecordIsShownAndUpdatedInPlace) {
    const int eid = AddEntry();
    CEntryMood stored;
    stored.eid = eid;
    stored.act = 1, stored.mood = 2, stored.work = 3, stored.sleep = 4;
    stored.life = 5, stored.concn = 6, stored.relat = 7, stored.walk = 8;
    ASSERT_EQ(m_db.SaveEntryMood(stored), 1);
    CGRVDlgMood dlg;
    dlg.m_mood.id = stored.id;
    dlg.m_nGenActivity = 1, dlg.m_nMood = 2, dlg.m_nNormalWork = 3, dlg.m_nSleep = 4;
    dlg.m_nEnjoyLife = 5, dlg.m_nConcentrate = 6, dlg.m_nRelations = 7, dlg.m_nWalking = 8;
    Open(dlg, eid);
    EXPECT_EQ(Edits(&dlg), (QStringList{"1", "2", "3", "4", "5", "6", "7", "8"}));
    for (int r = 0; r < CGRVDlgMood::kRows; ++r)
        EXPECT_EQ(Slider(&dlg, r)->value(), r + 1);
    Drag(Slider(&dlg, kWalking), 2);
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli(kRow), "1|" + std::to_string(eid) + "|1|2|3|4|5|6|7|2|0\n");
}

TEST_F(MoodDialogTest, CancelWritesNothingAndNoJournalIsReported) {
    {
        CGRVDlgMood dlg;
        Open(dlg, AddEntry());
        Drag(Slider(&dlg, kSleep), 5);
        Press(&dlg, IDCANCEL);
        EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_mood;"), "0\n");
    m_db.Close();
    CGRVDlgMood dlg;
    Open(dlg, 1);
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Told(), (QStringList{kNeedOpenDb, kNeedOpenDb}));
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_mood;"), "0\n");
}

class SideEffectDialogTest : public DetailTest {
protected:
    void Open(CGRVDlgSideEffect& dlg, int eid) {
        dlg.m_pDb = &m_db;
        dlg.m_strEntryId = QString::number(eid);
        dlg.show();
    }
    static QSlider* Slider(QWidget* d, int row) {
        return Ctl<QSlider>(d, row == 0 ? IDC_SE_SLIDER_FIRST_ROW : IDC_SE_SLIDER_SECOND_ROW + row - 1);
    }
    // Each row's slider position and edit text.
    static QStringList Rows(QWidget* d) {
        QStringList out;
        for (int r = 0; r < CGRVDlgSideEffect::kRows; ++r)
            out << QString::number(Slider(d, r)->value()) + "/" + Edit(d, r)->text();
        return out;
    }
    static QLineEdit* Edit(QWidget* d, int row) { return Ctl<QLineEdit>(d, IDC_SE_EDIT_FIRST + row); }
    static QComboBox* Medicines(QWidget* d) { return Ctl<QComboBox>(d, IDC_SE_MEDICINE); }
    static const char* kRow;
};
const char* SideEffectDialogTest::kRow =
    "SELECT id,eid,mid,nausea,vomit,constip,appet,tired,itch,night,sweat,think,insomn,del "
    "FROM entry_sideff ORDER BY id;";

TEST_F(SideEffectDialogTest, NewRowWithoutMedicineAndTheScalesRules) {
    const int eid = AddEntry();
    AddMedicine("Aspirin");
    CGRVDlgSideEffect dlg;
    Open(dlg, eid);
    EXPECT_EQ(dlg.windowTitle(), "Side Effects or Symptoms");
    EXPECT_EQ(Medicines(&dlg)->currentIndex(), -1);
    EXPECT_EQ(Rows(&dlg), QStringList(CGRVDlgSideEffect::kRows, "0/0"));
    Type(Edit(&dlg, kItching), "6"); // slider at 0: 6
    Drag(Slider(&dlg, kTired), 3);
    Type(Edit(&dlg, kTired), "6"); // the slider follows: 6
    Type(Edit(&dlg, kNausea), "8");
    Type(Edit(&dlg, kVomiting), ""); // nothing typed counts 0
    Drag(Slider(&dlg, 9), 10);
    EXPECT_EQ(Edit(&dlg, 9)->text(), "10");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Cli(kRow), "1|" + std::to_string(eid) + "|0|8|0|0|0|6|6|0|0|0|10|0\n");
    EXPECT_EQ(dlg.m_mid, 0);
}

// The side-effect edits take any text; what counts must be a rating.
TEST_F(SideEffectDialogTest, TypedRatingOffTheScaleIsRefusedAndNothingIsStored) {
    const int eid = AddEntry();
    CGRVDlgSideEffect dlg;
    Open(dlg, eid);
    for (const char* typed : {"12", "-1", "abc", "5.5", "7.5"}) {
        prompter->Clear();
        Type(Edit(&dlg, kConstipation), typed);
        Press(&dlg, IDOK);
        EXPECT_TRUE(dlg.isVisible()) << typed;
        EXPECT_EQ(Told(), QStringList{QString::fromLatin1(kRatingOutOfScale).arg("Constipation")});
        EXPECT_TRUE(Told().at(0).contains("a whole number from 0 to 10"));
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_sideff;"), "0\n");
    Type(Edit(&dlg, kConstipation), "10.0"); // as a level is written
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Cli("SELECT constip FROM entry_sideff;"), "10\n");
}

TEST_F(SideEffectDialogTest, LastChosenMedicineIsTheOneStored) {
    const int eid = AddEntry();
    AddMedicine("Aspirin");
    AddMedicine("St. John's Wort", 300, "mg", "Capsules");
    CGRVDlgSideEffect dlg;
    Open(dlg, eid);
    Choose(Medicines(&dlg), "Aspirin (100 mg) Tablet");
    EXPECT_EQ(dlg.m_mid, 1);
    Choose(Medicines(&dlg), "St. John's Wort (300 mg) Capsules");
    EXPECT_EQ(dlg.m_mid, 2);
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT mid FROM entry_sideff;"), "2\n");
}

TEST_F(SideEffectDialogTest, ExistingRowShowsItsOwnMedicineAndValues) {
    const int eid = AddEntry();
    AddMedicine("Aspirin", 100, "mg", "Capsules");
    AddMedicine("Aspirin", 100, "mg", "Tablet"); // its label begins like the first one's
    CEntrySideEff stored;
    stored.eid = eid;
    stored.mid = 2;
    stored.nausea = 1, stored.vomit = 2, stored.constip = 3, stored.appet = 4, stored.tired = 5;
    stored.itch = 6, stored.night = 7, stored.sweat = 8, stored.think = 9, stored.insomn = 10;
    ASSERT_EQ(m_db.SaveEntrySideEff(stored), 1);
    CGRVDlgSideEffect dlg;
    dlg.m_sideEff.id = stored.id;
    dlg.m_mid = 2;
    dlg.m_nNausea = 1, dlg.m_nVomiting = 2, dlg.m_nConstipation = 3, dlg.m_nAppetite = 4;
    dlg.m_nTired = 5, dlg.m_nItching = 6, dlg.m_nNightmares = 7, dlg.m_nSweating = 8;
    dlg.m_nThinking = 9, dlg.m_nInsomnia = 10;
    Open(dlg, eid);
    EXPECT_EQ(Medicines(&dlg)->currentText(), "Aspirin (100 mg) Tablet");
    EXPECT_EQ(Rows(&dlg), (QStringList{"1/1", "2/2", "3/3", "4/4", "5/5", "6/6", "7/7", "8/8", "9/9", "10/10"}));
    Drag(Slider(&dlg, kNausea), 0);
    Type(Edit(&dlg, kNausea), "4");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli(kRow), "1|" + std::to_string(eid) + "|2|4|2|3|4|5|6|7|8|9|10|0\n");
}

TEST_F(SideEffectDialogTest, RowOfARemovedMedicineSelectsNoneAndKeepsItsMedicine) {
    const int eid = AddEntry();
    CMedicine gone = AddMedicine("Codeine");
    AddMedicine("Aspirin");
    ASSERT_EQ(m_db.DeleteMedicine(gone), 1);
    CEntrySideEff stored;
    stored.eid = eid;
    stored.mid = 1;
    stored.nausea = stored.vomit = stored.constip = stored.appet = stored.tired = 0;
    stored.itch = stored.night = stored.sweat = stored.think = stored.insomn = 0;
    ASSERT_EQ(m_db.SaveEntrySideEff(stored), 1);
    CGRVDlgSideEffect dlg;
    dlg.m_sideEff.id = stored.id;
    dlg.m_mid = 1;
    Open(dlg, eid);
    EXPECT_EQ(Items(Medicines(&dlg)), QStringList{"Aspirin (100 mg) Tablet"});
    EXPECT_EQ(Medicines(&dlg)->currentIndex(), -1);
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT count(*),mid FROM entry_sideff;"), "1|1\n");
}

TEST_F(SideEffectDialogTest, CancelWritesNothingAndNoJournalIsReported) {
    {
        CGRVDlgSideEffect dlg;
        Open(dlg, AddEntry());
        Drag(Slider(&dlg, kItching), 5);
        Press(&dlg, IDCANCEL);
        EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_sideff;"), "0\n");
    m_db.Close();
    CGRVDlgSideEffect dlg;
    Open(dlg, 1);
    EXPECT_EQ(Medicines(&dlg)->count(), 0);
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Told(), (QStringList{kNeedOpenDb, kNeedOpenDb}));
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_sideff;"), "0\n");
}

} // namespace
