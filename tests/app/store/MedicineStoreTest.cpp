#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "app/store/SqlText.h"
#include "app/store/StoreTexts.h"
#include "tests/support/JournalFixture.h"

namespace {

using StoreTest = grvtest::JournalTest;

using MedicineStoreTest = StoreTest;

// The whole row round trip is with the other record kinds'.
TEST_F(MedicineStoreTest, UpdateKeepsTheIdAndStoresNoRefillCount) {
    CMedicine m = AddMedicine("Ibuprofen");
    m.dos_size = 400;
    m.refill_cnt = 5;
    ASSERT_EQ(m_db.SaveMedicine(m), 1);
    EXPECT_EQ(m.id, 1);
    EXPECT_EQ(Cli("SELECT id, dos_size, refill_cnt FROM medicine_cabinet;"), "1|400|0\n");
}

// Typed texts in every field are with the other record kinds'; the list's
// filter is the cabinet's own.
TEST_F(MedicineStoreTest, InjectedFilterTextIsMatchedAsText) {
    AddMedicine("Evil");
    ListRows rows;
    EXPECT_EQ(m_db.FillMedicineList("name", "'); DROP TABLE entry; --", rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(Cli("SELECT count(*) FROM sqlite_master WHERE type='table';"), "9\n");
}

TEST_F(MedicineStoreTest, CabinetListComboAndLabels) {
    AddMedicine("Bb");
    AddMedicine("Aa");
    AddMedicine("Cc", 250, "ml", "Liquid");

    ListRows rows;
    ASSERT_EQ(m_db.FillMedicineList("*", "ignored", rows), 1);
    EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"Aa", "Bb", "Cc"}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].texts, (std::vector<std::string>{"3", "Cc", "2", "250 ml", "Liquid"}));
    EXPECT_FALSE(rows[2].data.has_value());

    // Labels and ids come together, in id order; a deleted id is not offered.
    AddMedicine("Dd");
    Cli("DELETE FROM medicine_cabinet WHERE name='Aa';");
    ComboItems combo;
    ASSERT_TRUE(m_db.FillMedicineCombo(combo));
    std::vector<std::pair<std::string, int>> got;
    for (const ComboItem& item : combo)
        got.emplace_back(item.label, item.id);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                       {"Bb (100 mg) Tablet", 1}, {"Cc (250 ml) Liquid", 3}, {"Dd (100 mg) Tablet", 4}}));

    EXPECT_EQ(m_db.GetMedicineLabel(3), "Cc (250 ml)");
    EXPECT_EQ(m_db.GetMedicineLabel(99), "N/A");
}

TEST_F(MedicineStoreTest, ListFilterMatchesAnyCaseAndRefusesUnknownColumns) {
    AddMedicine("Ibuprofen");
    AddMedicine("Propranolol");
    AddMedicine("Paracetamol");
    ListRows rows;
    ASSERT_EQ(m_db.FillMedicineList("name", "pro", rows), 1);
    EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"Ibuprofen", "Propranolol"}));

    ListRows refused;
    EXPECT_EQ(m_db.FillMedicineList("name='x' OR 1=1 --", "", refused), 0);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(m_db.GetLastErrorText(), SqlFormat(kErrUnknownSearchField, "name=''x'' OR 1=1 --"));
}

TEST_F(MedicineStoreTest, FindMedicineByItsFourValues) {
    AddMedicine("Aspirin");
    const CMedicine ibu = AddMedicine("Ibuprofen", 200, "mg", "Tablet");
    CMedicine found;
    ASSERT_EQ(m_db.FindMedicine("Ibuprofen", 200, "mg", "Tablet", found), 1);
    EXPECT_EQ(found.id, ibu.id);
    CMedicine none;
    EXPECT_EQ(m_db.FindMedicine("Ibuprofen", 400, "mg", "Tablet", none), 0);
    EXPECT_EQ(none.id, -1);
}

TEST_F(MedicineStoreTest, IdsBelowOneInsert) {
    CMedicine zero;
    zero.id = 0;
    zero.name = "Zero";
    ASSERT_EQ(m_db.SaveMedicine(zero), 1);
    EXPECT_EQ(zero.id, 1);
    EXPECT_EQ(Cli("SELECT id, name FROM medicine_cabinet;"), "1|Zero\n");
}

TEST_F(MedicineStoreTest, DeleteRemovesTheRowAndResetsTheRecord) {
    CMedicine unstored;
    unstored.name = "x";
    EXPECT_EQ(m_db.DeleteMedicine(unstored), 1);
    EXPECT_EQ(unstored.name, "");

    CMedicine m = AddMedicine("Gone");
    AddMedicine("Kept");
    ASSERT_EQ(m_db.DeleteMedicine(m), 1);
    EXPECT_EQ(m.id, -1);
    EXPECT_EQ(m.name, "");
    EXPECT_EQ(Cli("SELECT name FROM medicine_cabinet;"), "Kept\n");
    EXPECT_EQ(m_db.GetMedicineLabel(1), "N/A");
    CMedicine back;
    EXPECT_EQ(m_db.LoadMedicine(1, back), 0);

    // The next medicine gets a new id, never the removed one's.
    m.name = "New";
    ASSERT_EQ(m_db.SaveMedicine(m), 1);
    EXPECT_EQ(m.id, 3);
}

TEST_F(MedicineStoreTest, FailedDeleteKeepsTheConnectionAndTheRecord) {
    CMedicine m = AddMedicine("Kept");
    std::vector<std::string> ignored;
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA query_only=1", ignored), 1);
    EXPECT_EQ(m_db.DeleteMedicine(m), 0);
    EXPECT_EQ(m.id, 1);
    EXPECT_EQ(m.name, "Kept");
    EXPECT_EQ(m_db.GetLastErrorText(), SqlFormat(kErrDeleteMedicine, JournalPath().c_str(), m.GetDeleteSql().c_str()) +
                                           SqlFormat(kErrReason, kReasonCannotWrite));
    EXPECT_EQ(m_db.SaveMedicine(m), 0);
    CMedicine back;
    EXPECT_EQ(m_db.LoadMedicine(1, back), 1);
}

} // namespace
