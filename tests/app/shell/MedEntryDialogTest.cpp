#include <gtest/gtest.h>

#include <QCheckBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>

#include "DetailTestSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/GRVDlgDetEntList.h"
#include "app/shell/GRVDlgMedEntry.h"

using namespace grv;
using platform::ui::Answer;

namespace {

class MedEntryDialogTest : public DetailTest {
protected:
    void OpenNew(CGRVDlgMedEntry& dlg, int eid) {
        dlg.m_pDb = &m_db;
        dlg.m_strEntryId = QString::number(eid);
        dlg.show();
    }
    // As the main window hands a stored row in for change.
    void OpenEdit(CGRVDlgMedEntry& dlg, int eid, int rowId) {
        ASSERT_EQ(m_db.LoadEntryMeds(std::to_string(rowId), dlg.m_meds), 1);
        dlg.m_pDb = &m_db;
        dlg.m_strEntryId = QString::number(eid);
        dlg.m_medicine.id = dlg.m_meds.mid;
        dlg.m_strDosage = QString::fromStdString(dlg.m_meds.dosage);
        dlg.m_strQuantity = QString::number(dlg.m_meds.quantity);
        dlg.m_strDesc = QString::fromStdString(dlg.m_meds.desc);
        dlg.show();
    }
    static QComboBox* Medicines(QWidget* d) { return Ctl<QComboBox>(d, IDC_ME_MEDICINE); }
    // Dosage, quantity and description, as shown.
    static QString Shown(QWidget* d) {
        return Ctl<QLineEdit>(d, IDC_ME_DOSAGE)->text() + "|" + Ctl<QLineEdit>(d, IDC_ME_QUANTITY)->text() + "|" +
               Ctl<QPlainTextEdit>(d, IDC_ME_DESC)->toPlainText();
    }
    static const char* kRow;
};

const char* MedEntryDialogTest::kRow =
    "SELECT id,eid,mid,name,dosage,quantity,override,desc,del FROM entry_meds ORDER BY id;";

TEST_F(MedEntryDialogTest, ChoosingAMedicineShowsItsDefaultsAndOkWritesTheRow) {
    const int eid = AddEntry();
    AddMedicine("Ibuprofen", 200, "mg", "Tablet", 1);
    AddMedicine("Aspirin", 100, "mg", "Tablet", 2);
    CGRVDlgMedEntry dlg;
    OpenNew(dlg, eid);
    EXPECT_EQ(dlg.windowTitle(), "Medicine Entry");
    EXPECT_EQ(Items(Medicines(&dlg)), (QStringList{"Aspirin (100 mg) Tablet", "Ibuprofen (200 mg) Tablet"}));
    EXPECT_EQ(Medicines(&dlg)->currentIndex(), -1);
    Choose(Medicines(&dlg), "Aspirin (100 mg) Tablet");
    EXPECT_EQ(Shown(&dlg), "100mg|2|Aspirin notes");
    Type(Ctl<QLineEdit>(&dlg, IDC_ME_QUANTITY), "3");
    Ctl<QPlainTextEdit>(&dlg, IDC_ME_DESC)->setPlainText("after lunch");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(dlg.m_bContinue, 0);
    EXPECT_EQ(Cli(kRow), "1|1|2|Aspirin (100 mg) Tablet|100 mg|3|0|after lunch|0\n");
}

TEST_F(MedEntryDialogTest, EmptyCabinetOnlyAsksForASelection) {
    const int eid = AddEntry();
    CGRVDlgMedEntry dlg;
    OpenNew(dlg, eid);
    EXPECT_EQ(Medicines(&dlg)->count(), 0);
    Press(&dlg, IDOK);
    Press(&dlg, IDOK);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(Told(), (QStringList{kMustSelectMedicine, kMustSelectMedicine}));
    Press(&dlg, IDCANCEL);
    EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_meds;"), "0\n");
}

TEST_F(MedEntryDialogTest, ContinueSavesAndAsksToReopen) {
    const int eid = AddEntry();
    AddMedicine("Aspirin");
    CGRVDlgMedEntry dlg;
    OpenNew(dlg, eid);
    Choose(Medicines(&dlg), "Aspirin (100 mg) Tablet");
    Ctl<QCheckBox>(&dlg, IDC_ME_CONTINUE)->setChecked(true);
    Press(&dlg, IDOK);
    EXPECT_EQ(dlg.m_bContinue, 1);
    EXPECT_EQ(Cli("SELECT count(*) FROM entry_meds;"), "1\n");
}

TEST_F(MedEntryDialogTest, WithoutAnActiveEntryTheDialogCancelsItself) {
    AddMedicine("Aspirin");
    CGRVDlgMedEntry dlg;
    OpenNew(dlg, -1);
    EXPECT_TRUE(QTest::qWaitFor([&dlg] { return !dlg.isVisible(); }, 2000));
    EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    EXPECT_EQ(Told(), QStringList{kNeedActiveEntryForMeds});

    // Run modally, as the main window does, it ends by itself as well.
    CGRVDlgMedEntry modal;
    modal.m_pDb = &m_db;
    bool stuck = false;
    QTimer::singleShot(3000, &modal, [&] {
        stuck = true;
        QCoreApplication::exit(0); // leaves every running event loop
    });
    EXPECT_EQ(modal.exec(), IDCANCEL);
    EXPECT_FALSE(stuck);
}

TEST_F(MedEntryDialogTest, EditingSelectsTheRowsMedicineAndShowsItsPresentDefaults) {
    const int eid = AddEntry();
    AddMedicine("Aspirin", 100, "mg", "Tablet", 2);
    AddMedicine("Aspirin", 100, "mg", "Tablet Extra", 1);
    {
        CGRVDlgMedEntry dlg;
        OpenNew(dlg, eid);
        Choose(Medicines(&dlg), "Aspirin (100 mg) Tablet");
        Press(&dlg, IDOK);
    }
    Cli("UPDATE medicine_cabinet SET dos_qty=4, desc='new advice' WHERE id=1;");
    CGRVDlgMedEntry dlg;
    OpenEdit(dlg, eid, 1);
    // Not "… Tablet Extra", whose label merely begins alike.
    EXPECT_EQ(Medicines(&dlg)->currentText(), "Aspirin (100 mg) Tablet");
    EXPECT_EQ(Shown(&dlg), "100mg|4|new advice");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli(kRow), "1|1|1|Aspirin (100 mg) Tablet|100 mg|4|0|new advice|0\n");
}

TEST_F(MedEntryDialogTest, AlikeLabelsStillNameTheirOwnMedicine) {
    const int eid = AddEntry();
    AddMedicine("Aspirin", 100, "mg", "Tablet", 2);
    AddMedicine("Aspirin (coated)", 100, "mg", "Tablet", 1);
    AddMedicine("Aspirin", 100, "mg", "Tablet", 3); // the very same label again
    CGRVDlgMedEntry dlg;
    OpenNew(dlg, eid);
    QComboBox* combo = Medicines(&dlg);
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toInt() != 3)
            continue;
        combo->setCurrentIndex(i);
        emit combo->activated(i);
    }
    EXPECT_EQ(Shown(&dlg), "100mg|3|Aspirin notes");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT mid,name,quantity FROM entry_meds;"), "3|Aspirin (100 mg) Tablet|3\n");

    // A label with parentheses in the name is found as well.
    CGRVDlgMedEntry coated;
    OpenNew(coated, eid);
    Choose(Medicines(&coated), "Aspirin (coated) (100 mg) Tablet");
    EXPECT_EQ(coated.m_medicine.id, 2);
}

TEST_F(MedEntryDialogTest, RowWhoseMedicineWasRemovedAsksForANewChoice) {
    const int eid = AddEntry();
    CMedicine gone = AddMedicine("Codeine", 30, "mg", "Tablet", 1);
    AddMedicine("Aspirin");
    {
        CGRVDlgMedEntry dlg;
        OpenNew(dlg, eid);
        Choose(Medicines(&dlg), "Codeine (30 mg) Tablet");
        Press(&dlg, IDOK);
    }
    ASSERT_EQ(m_db.DeleteMedicine(gone), 1);
    CGRVDlgMedEntry dlg;
    OpenEdit(dlg, eid, 1);
    EXPECT_EQ(Medicines(&dlg)->currentIndex(), -1);
    Press(&dlg, IDOK);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(Told(), QStringList{kMustSelectMedicine});
    EXPECT_EQ(Cli("SELECT mid,name FROM entry_meds;"), "1|Codeine (30 mg) Tablet\n");
    Choose(Medicines(&dlg), "Aspirin (100 mg) Tablet");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT id,mid,name FROM entry_meds;"), "1|2|Aspirin (100 mg) Tablet\n");
}

TEST_F(MedEntryDialogTest, OverrideLetsTheRowsOwnAmountsStand) {
    const int eid = AddEntry();
    AddMedicine("Aspirin", 100, "mg", "Tablet", 2);
    {
        CGRVDlgMedEntry dlg;
        OpenNew(dlg, eid);
        Choose(Medicines(&dlg), "Aspirin (100 mg) Tablet");
        Ctl<QPushButton>(&dlg, IDC_ME_OVERRIDE)->click();
        Type(Ctl<QLineEdit>(&dlg, IDC_ME_DOSAGE), "50 mg");
        Type(Ctl<QLineEdit>(&dlg, IDC_ME_QUANTITY), "1");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT dosage,quantity,override FROM entry_meds;"), "50 mg|1|1\n");
    CGRVDlgMedEntry dlg;
    OpenEdit(dlg, eid, 1);
    EXPECT_TRUE(Ctl<QPushButton>(&dlg, IDC_ME_OVERRIDE)->isChecked());
    EXPECT_EQ(Shown(&dlg), "50 mg|1|Aspirin notes");
    Press(&dlg, IDOK);
    EXPECT_EQ(Cli("SELECT id,dosage,quantity,override FROM entry_meds;"), "1|50 mg|1|1\n");
}

TEST_F(MedEntryDialogTest, ApostropheNamedMedicineIsStoredListedEditedAndDeleted) {
    const int eid = AddEntry();
    AddMedicine("St. John's Wort", 300, "mg", "Capsules", 1);
    {
        CGRVDlgMedEntry dlg;
        OpenNew(dlg, eid);
        Choose(Medicines(&dlg), "St. John's Wort (300 mg) Capsules");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT name,dosage FROM entry_meds;"), "St. John's Wort (300 mg) Capsules|300 mg\n");
    CGRVDlgDetEntList list;
    list.m_pDb = &m_db;
    list.m_nType = kEntryTypeMedicine;
    list.m_nEntryId = eid;
    list.show();
    auto* lines = Ctl<QTreeWidget>(&list, IDC_DETAILS);
    ASSERT_EQ(lines->topLevelItemCount(), 1);
    EXPECT_EQ(lines->topLevelItem(0)->text(1), "St. John's Wort (300 mg) Capsules 300 mg");
    lines->setCurrentItem(lines->topLevelItem(0));
    {
        CGRVDlgMedEntry dlg;
        OpenEdit(dlg, eid, list.m_strSelectedId.toInt());
        EXPECT_EQ(Medicines(&dlg)->currentText(), "St. John's Wort (300 mg) Capsules");
        Ctl<QPlainTextEdit>(&dlg, IDC_ME_DESC)->setPlainText("Don't mix with the pill");
        Press(&dlg, IDOK);
    }
    EXPECT_EQ(Cli("SELECT id,desc FROM entry_meds;"), "1|Don't mix with the pill\n");
    prompter->Queue(Answer::Yes);
    Press(&list, IDC_DETAILS_DELETE);
    EXPECT_EQ(Cli("SELECT id,del FROM entry_meds;"), "1|1\n");
}

TEST_F(MedEntryDialogTest, WithNoJournalOpenTheUserIsTold) {
    m_db.Close();
    CGRVDlgMedEntry dlg;
    OpenNew(dlg, 1);
    EXPECT_EQ(Medicines(&dlg)->count(), 0);
    EXPECT_EQ(Told(), QStringList{kNeedOpenDb});
}

} // namespace
