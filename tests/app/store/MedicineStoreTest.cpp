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

class MedicineStoreTest : public StoreTest {
protected:
    CMedicine Add(const char* name, int size = 100, const char* measure = "mg",
                  const char* form = "Tablet") {
        CMedicine m;
        m.name = name;
        m.dos_size = size;
        m.dos_msr = measure;
        m.dos_form = form;
        m.dos_qty = 1;
        EXPECT_EQ(m_db.SaveMedicine(m), 1) << m_db.GetLastErrorText();
        return m;
    }
    static std::vector<std::string> Column(const ListRows& rows, size_t column) {
        std::vector<std::string> out;
        for (const auto& row : rows) out.push_back(row.texts.at(column));
        return out;
    }
};

TEST_F(MedicineStoreTest, MedicineRoundTripsThroughTheFile) {
    CMedicine m;
    m.name = "Ibuprofen";
    m.dos_size = 200;
    m.dos_msr = "mg";
    m.dos_form = "Tablet";
    m.dos_qty = 2;
    m.dos_dur_size = 6;
    m.dos_dur_form = "Hours";
    m.qty_per_span = 30;
    m.span_length = 1;
    m.span_form = "Months";
    m.refill_cnt = 3;
    m.dosage_text = "2 every 6 hours";
    m.desc = "with food";
    m.url = "http://example.invalid/i";
    ASSERT_EQ(m_db.SaveMedicine(m), 1);
    EXPECT_EQ(m.id, 1);
    // The refill count is always stored as 0.
    EXPECT_EQ(Cli("SELECT * FROM medicine_cabinet;"),
              "1|Ibuprofen|200|mg|Tablet|2|6|Hours|30|1|Months|0|2 every 6 hours|with food|"
              "http://example.invalid/i|0\n");

    CMedicine back;
    ASSERT_EQ(m_db.LoadMedicine(1, back), 1);
    EXPECT_EQ(back.id, 1);
    EXPECT_EQ(back.name, "Ibuprofen");
    EXPECT_EQ(back.dos_size, 200);
    EXPECT_EQ(back.dos_qty, 2);
    EXPECT_EQ(back.dos_dur_form, "Hours");
    EXPECT_EQ(back.qty_per_span, 30);
    EXPECT_EQ(back.span_form, "Months");
    EXPECT_EQ(back.refill_cnt, 0);
    EXPECT_EQ(back.dosage_text, "2 every 6 hours");
    EXPECT_EQ(back.url, "http://example.invalid/i");

    back.dos_size = 400;
    back.refill_cnt = 5;
    ASSERT_EQ(m_db.SaveMedicine(back), 1);
    EXPECT_EQ(back.id, 1);
    EXPECT_EQ(Cli("SELECT id, dos_size, refill_cnt FROM medicine_cabinet;"), "1|400|0\n");
}

TEST_F(MedicineStoreTest, QuotedTextsSaveUpdateAndFind) {
    CMedicine m = Add("Dr's \"Best\"", 5, "m'l", "Syr'up");
    m.desc = "it's";
    for (int i = 0; i < 3; ++i) ASSERT_EQ(m_db.SaveMedicine(m), 1) << m_db.GetLastErrorText();
    EXPECT_EQ(Cli("SELECT name, dos_msr, dos_form, desc FROM medicine_cabinet;"),
              "Dr's \"Best\"|m'l|Syr'up|it's\n");
    CMedicine found;
    ASSERT_EQ(m_db.FindMedicine("Dr's \"Best\"", 5, "m'l", "Syr'up", found), 1)
        << m_db.GetLastErrorText();
    EXPECT_EQ(found.id, m.id);
    EXPECT_EQ(found.desc, "it's");
}

TEST_F(MedicineStoreTest, InjectedFormTextLeavesEveryTableIntact) {
    CMedicine m;
    m.name = "Evil";
    m.dos_form = "Tablet', 1, 1, 'h', 1, 1, 'd', 0, '', '', ''); DROP TABLE entry; --";
    ASSERT_EQ(m_db.SaveMedicine(m), 1) << m_db.GetLastErrorText();
    m.dos_msr = m.dos_form;
    ASSERT_EQ(m_db.SaveMedicine(m), 1) << m_db.GetLastErrorText();
    EXPECT_EQ(Cli("SELECT count(*) FROM sqlite_master WHERE type='table';"), "9\n");
    EXPECT_EQ(Cli("SELECT dos_form FROM medicine_cabinet;"), m.dos_form + "\n");
    CMedicine found;
    EXPECT_EQ(m_db.FindMedicine("Evil", -1, m.dos_msr, m.dos_form, found), 1);
    ListRows rows;
    EXPECT_EQ(m_db.FillMedicineList("name", "'); DROP TABLE entry; --", rows), 1);
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(Cli("SELECT count(*) FROM sqlite_master WHERE type='table';"), "9\n");
}

TEST_F(MedicineStoreTest, CabinetListComboAndLabels) {
    Add("Bb");
    Add("Aa");
    Add("Cc", 250, "ml", "Liquid");

    ListRows rows;
    ASSERT_EQ(m_db.FillMedicineList("*", "ignored", rows), 1);
    EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"Aa", "Bb", "Cc"}));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].texts, (std::vector<std::string>{"3", "Cc", "1", "250 ml", "Liquid"}));
    EXPECT_FALSE(rows[2].data.has_value());

    // Labels and ids come together, in id order; a deleted id is not offered.
    Add("Dd");
    Cli("DELETE FROM medicine_cabinet WHERE name='Aa';");
    ComboItems combo;
    ASSERT_TRUE(m_db.FillMedicineCombo(combo));
    std::vector<std::pair<std::string, int>> got;
    for (const ComboItem& item : combo) got.emplace_back(item.label, item.id);
    EXPECT_EQ(got, (std::vector<std::pair<std::string, int>>{
                       {"Bb (100 mg) Tablet", 1}, {"Cc (250 ml) Liquid", 3}, {"Dd (100 mg) Tablet", 4}}));

    EXPECT_EQ(m_db.GetMedicineLabel(3), "Cc (250 ml)");
    EXPECT_EQ(m_db.GetMedicineLabel(99), "N/A");
}

TEST_F(MedicineStoreTest, ListFilterMatchesAnyCaseAndRefusesUnknownColumns) {
    Add("Ibuprofen");
    Add("Propranolol");
    Add("Paracetamol");
    ListRows rows;
    ASSERT_EQ(m_db.FillMedicineList("name", "pro", rows), 1);
    EXPECT_EQ(Column(rows, 1), (std::vector<std::string>{"Ibuprofen", "Propranolol"}));

    ListRows refused;
    EXPECT_EQ(m_db.FillMedicineList("name='x' OR 1=1 --", "", refused), 0);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(m_db.GetLastErrorText(),
              SqlFormat(kErrUnknownSearchField, "name=''x'' OR 1=1 --"));
}

TEST_F(MedicineStoreTest, FindMedicineByItsFourValues) {
    Add("Aspirin");
    const CMedicine ibu = Add("Ibuprofen", 200, "mg", "Tablet");
    CMedicine found;
    ASSERT_EQ(m_db.FindMedicine("Ibuprofen", 200, "mg", "Tablet", found), 1);
    EXPECT_EQ(found.id, ibu.id);
    EXPECT_EQ(found.name, "Ibuprofen");
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

    CMedicine m = Add("Gone");
    Add("Kept");
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
    CMedicine m = Add("Kept");
    std::vector<std::string> ignored;
    ASSERT_EQ(m_db.QueryFirstColumn("PRAGMA query_only=1", ignored), 1);
    EXPECT_EQ(m_db.DeleteMedicine(m), 0);
    EXPECT_EQ(m.id, 1);
    EXPECT_EQ(m.name, "Kept");
    EXPECT_EQ(m_db.GetLastErrorText(),
              SqlFormat(kErrDeleteMedicine, JournalPath().c_str(), m.GetDeleteSql().c_str()) +
                  SqlFormat(kErrReason, kReasonReadOnly));
    EXPECT_EQ(m_db.SaveMedicine(m), 0);
    CMedicine back;
    EXPECT_EQ(m_db.LoadMedicine(1, back), 1);
}

}  // namespace
