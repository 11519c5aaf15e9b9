#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTreeWidget>

#include "DetailTestSupport.h"
#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/GRVDlgMedCab.h"
#include "app/shell/ShellTexts.h"
#include "app/store/StoreTexts.h"

using namespace grv;
using platform::ui::Answer;

namespace {

class MedCabDialogTest : public DetailTest {
protected:
    void Open(CGRVDlgMedCab& dlg) {
        dlg.m_pDb = &m_db;
        dlg.show();
    }
    static QTreeWidget* List(QWidget* d) { return Ctl<QTreeWidget>(d, IDC_MC_LIST); }
    static QStringList Lines(QWidget* d) {
        QStringList out;
        for (int i = 0; i < List(d)->topLevelItemCount(); ++i) {
            QStringList cells;
            for (int c = 0; c < 5; ++c)
                cells << List(d)->topLevelItem(i)->text(c);
            out << cells.join('|');
        }
        return out;
    }
    // Clicks the list line whose name column is name.
    static void Click(QWidget* d, const QString& name) {
        const auto found = List(d)->findItems(name, Qt::MatchExactly, 1);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        List(d)->setCurrentItem(found.first());
        emit List(d)->itemClicked(found.first(), 1);
    }
    // What the form shows of the parts every medicine needs.
    static QString Shown(QWidget* d) {
        return QStringList{Ctl<QLineEdit>(d, IDC_MC_NAME)->text(),
                           Ctl<QLineEdit>(d, IDC_MC_DOSAGE)->text(),
                           Ctl<QComboBox>(d, IDC_MC_MEASURE)->currentText(),
                           Ctl<QComboBox>(d, IDC_MC_FORM)->currentText(),
                           Ctl<QLineEdit>(d, IDC_MC_TAKE)->text(),
                           Ctl<QLineEdit>(d, IDC_MC_EVERY)->text(),
                           Ctl<QComboBox>(d, IDC_MC_EVERY_INTERVAL)->currentText()}
            .join('|');
    }
    // Fills the parts every medicine needs; leave out the last `missing` of them.
    static void FillRequired(QWidget* d, const QString& name, int missing = 0) {
        const int parts = 7 - missing;
        if (parts > 0)
            Type(Ctl<QLineEdit>(d, IDC_MC_NAME), name);
        if (parts > 1)
            Type(Ctl<QLineEdit>(d, IDC_MC_DOSAGE), "200");
        if (parts > 2)
            Choose(Ctl<QComboBox>(d, IDC_MC_MEASURE), "mg");
        if (parts > 3)
            Choose(Ctl<QComboBox>(d, IDC_MC_FORM), "Tablet");
        if (parts > 4)
            Type(Ctl<QLineEdit>(d, IDC_MC_TAKE), "2");
        if (parts > 5)
            Type(Ctl<QLineEdit>(d, IDC_MC_EVERY), "6");
        if (parts > 6)
            Choose(Ctl<QComboBox>(d, IDC_MC_EVERY_INTERVAL), "Hours");
    }
};

TEST_F(MedCabDialogTest, ChoiceListsAreSortedAndTheListHasItsColumns) {
    CGRVDlgMedCab dlg;
    Open(dlg);
    EXPECT_EQ(dlg.windowTitle(), "Medicine Cabinet");
    for (int id : {IDC_MC_MEASURE, IDC_MC_FORM, IDC_MC_EVERY_INTERVAL, IDC_MC_SPAN_INTERVAL}) {
        QStringList items = Items(Ctl<QComboBox>(&dlg, id));
        QStringList sorted = items;
        sorted.sort(Qt::CaseInsensitive);
        EXPECT_EQ(items, sorted) << id;
        EXPECT_EQ(Ctl<QComboBox>(&dlg, id)->currentIndex(), -1) << id;
    }
    QStringList heads;
    for (int c = 0; c < List(&dlg)->columnCount(); ++c)
        heads << List(&dlg)->headerItem()->text(c);
    EXPECT_EQ(heads, (QStringList{"ID", "Name", "Take", "Dosage", "Form"}));
    EXPECT_FALSE(Ctl<QCheckBox>(&dlg, IDC_MC_SCHEDULE)->isEnabled());
}

TEST_F(MedCabDialogTest, ValidationNamesTheFirstMissingPartInOrder) {
    CGRVDlgMedCab dlg;
    Open(dlg);
    const char* const messages[] = {kMedNeedsName, kMedNeedsDosage, kMedNeedsMeasure, kMedNeedsForm,
                                    kMedNeedsTake, kMedNeedsEvery,  kMedNeedsInterval};
    for (int missing = 7; missing >= 1; --missing) {
        SCOPED_TRACE(missing);
        dlg.ClearForm();
        FillRequired(&dlg, "Ibuprofen", missing);
        prompter->Clear();
        Press(&dlg, IDC_MC_SAVE);
        EXPECT_EQ(Told(), QStringList{messages[7 - missing]});
        EXPECT_EQ(prompter->Prompts()[0].title, kMedCabErrorTitle);
        EXPECT_EQ(Ctl<QLineEdit>(&dlg, IDC_MC_NAME)->text(), missing == 7 ? "" : "Ibuprofen")
            << "the form keeps its content";
    }
    EXPECT_EQ(Cli("SELECT count(*) FROM medicine_cabinet;"), "0\n");
    // OK with the interval still missing closes without a word and without saving.
    prompter->Clear();
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_TRUE(prompter->Prompts().empty());
    EXPECT_EQ(Cli("SELECT count(*) FROM medicine_cabinet;"), "0\n");
}

TEST_F(MedCabDialogTest, SaveInsertsThenUpdatesTheSameRow) {
    CGRVDlgMedCab dlg;
    Open(dlg);
    FillRequired(&dlg, "Ibuprofen");
    Type(Ctl<QLineEdit>(&dlg, IDC_MC_QUANTITY), "30");
    Type(Ctl<QLineEdit>(&dlg, IDC_MC_SPAN), "1");
    Choose(Ctl<QComboBox>(&dlg, IDC_MC_SPAN_INTERVAL), "Months");
    Type(Ctl<QLineEdit>(&dlg, IDC_MC_URL), "http://example.invalid/ibu");
    Ctl<QPlainTextEdit>(&dlg, IDC_MC_DESC)->setPlainText("with food");
    Press(&dlg, IDC_MC_SAVE);
    EXPECT_EQ(Cli("SELECT * FROM medicine_cabinet;"), "1|Ibuprofen|200|mg|Tablet|2|6|Hours|30|1|Months|0||with food|"
                                                      "http://example.invalid/ibu|0\n");
    EXPECT_EQ(Lines(&dlg), QStringList{"1|Ibuprofen|2|200 mg|Tablet"});
    EXPECT_EQ(dlg.m_medicine.id, 1);

    Type(Ctl<QLineEdit>(&dlg, IDC_MC_TAKE), "3");
    Press(&dlg, IDC_MC_SAVE);
    EXPECT_EQ(Cli("SELECT id,dos_qty FROM medicine_cabinet;"), "1|3\n");
    EXPECT_EQ(Lines(&dlg), QStringList{"1|Ibuprofen|3|200 mg|Tablet"});
    EXPECT_TRUE(prompter->Prompts().empty());
}

TEST_F(MedCabDialogTest, NewSavesTheFormThenStartsAnEmptyOne) {
    CGRVDlgMedCab dlg;
    Open(dlg);
    FillRequired(&dlg, "Ibuprofen");
    Press(&dlg, IDC_MC_NEW);
    EXPECT_EQ(Cli("SELECT id,name FROM medicine_cabinet;"), "1|Ibuprofen\n");
    EXPECT_EQ(Ctl<QLineEdit>(&dlg, IDC_MC_NAME)->text(), "");
    EXPECT_EQ(Ctl<QComboBox>(&dlg, IDC_MC_FORM)->currentIndex(), -1);
    EXPECT_EQ(dlg.m_medicine.id, -1);
    FillRequired(&dlg, "Paracetamol");
    Press(&dlg, IDC_MC_SAVE);
    EXPECT_EQ(Cli("SELECT id,name FROM medicine_cabinet;"), "1|Ibuprofen\n2|Paracetamol\n");
    // New over an incomplete form saves nothing and says nothing.
    Type(Ctl<QLineEdit>(&dlg, IDC_MC_NAME), "Half");
    prompter->Clear();
    Press(&dlg, IDC_MC_NEW);
    EXPECT_TRUE(prompter->Prompts().empty());
    EXPECT_EQ(Cli("SELECT count(*) FROM medicine_cabinet;"), "2\n");
}

TEST_F(MedCabDialogTest, ChoosingAFormNamesItAfterTakeAndQuantity) {
    CGRVDlgMedCab dlg;
    Open(dlg);
    Choose(Ctl<QComboBox>(&dlg, IDC_MC_FORM), "Capsules");
    EXPECT_EQ(Ctl<QLabel>(&dlg, IDC_MC_TAKE_FORM)->text(), "Capsules");
    EXPECT_EQ(Ctl<QLabel>(&dlg, IDC_MC_QTY_FORM)->text(), "Capsules");
    dlg.ClearForm();
    EXPECT_EQ(Ctl<QLabel>(&dlg, IDC_MC_TAKE_FORM)->text(), "Capsules") << "statics are kept";
}

TEST_F(MedCabDialogTest, DeleteWithNothingLoadedRemovesNothing) {
    AddMedicine("Ibuprofen");
    CGRVDlgMedCab dlg;
    Open(dlg);
    prompter->Queue(Answer::Yes);
    Press(&dlg, IDC_MC_DELETE);
    EXPECT_EQ(Told(), QStringList{"Are you sure you wish to delete ?"});
    EXPECT_EQ(prompter->Prompts()[0].title, kAppCaption);
    EXPECT_EQ(Cli("SELECT count(*) FROM medicine_cabinet;"), "1\n");
    EXPECT_EQ(Lines(&dlg).size(), 1);
}

TEST_F(MedCabDialogTest, UnknownStoredMeasureMustBeChosenAgain) {
    CMedicine odd = AddMedicine("Balm", 5, "dab", "Cream");
    CGRVDlgMedCab dlg;
    Open(dlg);
    Click(&dlg, "Balm");
    EXPECT_EQ(Shown(&dlg), "Balm|5||Cream|2|4|Hours");
    Press(&dlg, IDC_MC_SAVE);
    EXPECT_EQ(Told(), QStringList{kMedNeedsMeasure});
    EXPECT_EQ(Cli("SELECT dos_msr FROM medicine_cabinet;"), "dab\n");
}

TEST_F(MedCabDialogTest, ApostropheNamedMedicineWorksEndToEnd) {
    AddMedicine("Aspirin");
    CGRVDlgMedCab dlg;
    Open(dlg);
    FillRequired(&dlg, "St. John's Wort");
    Choose(Ctl<QComboBox>(&dlg, IDC_MC_FORM), "Capsules");
    Press(&dlg, IDC_MC_NEW);
    EXPECT_EQ(Cli("SELECT id,name,dos_form FROM medicine_cabinet ORDER BY id;"),
              "1|Aspirin|Tablet\n2|St. John's Wort|Capsules\n");
    EXPECT_EQ(Lines(&dlg), (QStringList{"1|Aspirin|2|100 mg|Tablet", "2|St. John's Wort|2|200 mg|Capsules"}));
    // Selected again from the list, changed and saved in place.
    Click(&dlg, "St. John's Wort");
    EXPECT_EQ(dlg.m_medicine.id, 2);
    EXPECT_EQ(Shown(&dlg), "St. John's Wort|200|mg|Capsules|2|6|Hours");
    EXPECT_EQ(Ctl<QLabel>(&dlg, IDC_MC_TAKE_FORM)->text(), "Capsules");
    Type(Ctl<QLineEdit>(&dlg, IDC_MC_DOSAGE), "300");
    Press(&dlg, IDC_MC_SAVE);
    EXPECT_EQ(Cli("SELECT id,name,dos_size FROM medicine_cabinet WHERE id=2;"), "2|St. John's Wort|300\n");
    // Deleted after the question names it.
    prompter->Queue(Answer::Yes);
    Press(&dlg, IDC_MC_DELETE);
    EXPECT_EQ(Told(), QStringList{"Are you sure you wish to delete St. John's Wort?"});
    EXPECT_EQ(Cli("SELECT id,name FROM medicine_cabinet;"), "1|Aspirin\n");
    EXPECT_EQ(Lines(&dlg), QStringList{"1|Aspirin|2|100 mg|Tablet"});
    EXPECT_EQ(Ctl<QLineEdit>(&dlg, IDC_MC_NAME)->text(), "St. John's Wort") << "form not cleared";
}

TEST_F(MedCabDialogTest, WithNoJournalOpenSaveTellsTheUser) {
    m_db.Close();
    CGRVDlgMedCab dlg;
    Open(dlg);
    FillRequired(&dlg, "Ibuprofen");
    Press(&dlg, IDC_MC_SAVE);
    EXPECT_EQ(Told(), QStringList{kNeedOpenDb});
    Press(&dlg, IDCANCEL);
    EXPECT_TRUE(EndedWith(dlg, IDCANCEL));
    EXPECT_EQ(Cli("SELECT count(*) FROM medicine_cabinet;"), "0\n");
}

// A medicine typed while the journal could not be written was silently lost:
// Save and OK went on as if it were stored. Each says so and keeps the
// dialog with what was typed; New after a refused save starts an empty form
// and stores nothing behind the user's back.
TEST_F(MedCabDialogTest, RefusedSaveIsToldAndKeepsTheDialogAndTheForm) {
    CGRVDlgMedCab dlg;
    Open(dlg);
    // The superuser writes any file: the connection stands in for a
    // journal the user may not write (the window tests run as nobody).
    std::vector<std::string> rows;
    ASSERT_TRUE(m_db.QueryFirstColumn("PRAGMA query_only=1", rows));
    for (int button : {IDC_MC_SAVE, IDOK}) {
        SCOPED_TRACE(button);
        prompter->Clear();
        FillRequired(&dlg, "Morphine");
        Press(&dlg, button);
        EXPECT_TRUE(dlg.isVisible());
        ASSERT_EQ(Told().size(), 1);
        EXPECT_TRUE(Told()[0].startsWith("Your medicine was not saved.\n\nCan't save entry to database:"));
        EXPECT_TRUE(Told()[0].contains(kReasonCannotWrite)) << Told()[0].toStdString();
        EXPECT_EQ(Shown(&dlg), "Morphine|200|mg|Tablet|2|6|Hours");
    }
    prompter->Clear();
    ASSERT_TRUE(m_db.QueryFirstColumn("PRAGMA query_only=0", rows));
    Press(&dlg, IDC_MC_NEW);
    EXPECT_TRUE(Told().isEmpty());
    EXPECT_EQ(Shown(&dlg), "||||||");
    EXPECT_EQ(Cli("SELECT count(*) FROM medicine_cabinet;"), "0\n");
    // Once the journal takes it, OK stores what the form holds and closes.
    FillRequired(&dlg, "Morphine");
    Press(&dlg, IDOK);
    EXPECT_TRUE(EndedWith(dlg, IDOK));
    EXPECT_EQ(Cli("SELECT name, dos_size, dos_msr, dos_form FROM medicine_cabinet;"), "Morphine|200|mg|Tablet\n");
}

// While another program held the journal, a refused save emptied the list
// (its own query failed too) and the message gave the list's error ("Error:
// 5 : database is locked") instead of why the save failed. The list keeps
// what the journal holds, as the sqlite3 shell reads it.
TEST_F(MedCabDialogTest, ListKeepsTheJournalsMedicinesWhenTheJournalIsHeld) {
    AddMedicine("Ibuprofen", 200);
    CGRVDlgMedCab dlg;
    Open(dlg);
    ASSERT_EQ(Lines(&dlg).size(), 1);
    const QStringList before = Lines(&dlg);
    QProcess other;
    other.start("sqlite3", {QString::fromStdString(JournalPath())});
    ASSERT_TRUE(other.waitForStarted());
    other.write("BEGIN EXCLUSIVE; SELECT 'held';\n");
    while (!other.readAllStandardOutput().contains("held"))
        ASSERT_TRUE(other.waitForReadyRead(5000));
    FillRequired(&dlg, "Morphine");
    Press(&dlg, IDC_MC_SAVE);
    ASSERT_EQ(Told().size(), 1);
    EXPECT_TRUE(Told()[0].startsWith("Your medicine was not saved.\n\nCan't save entry to database:"))
        << Told()[0].toStdString();
    EXPECT_TRUE(Told()[0].contains(kReasonLocked)) << Told()[0].toStdString();
    EXPECT_EQ(Lines(&dlg), before);
    other.write("ROLLBACK;\n.quit\n");
    ASSERT_TRUE(other.waitForFinished(5000));
    EXPECT_EQ(Cli("SELECT id, name FROM medicine_cabinet;"), "1|Ibuprofen\n");
    EXPECT_EQ(Lines(&dlg), before);
}

} // namespace
