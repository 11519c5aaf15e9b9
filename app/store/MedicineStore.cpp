// The medicine cabinet: one medicine in and out of the file, and the rows of
// the controls that show medicines.
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"
#include "app/store/SqlText.h"
#include "app/store/Statement.h"
#include "app/store/StoreTexts.h"

namespace {

using Statement = CJournalDb::Statement;

// Columns 1 to 14 of a "select *" row of the cabinet.
void FillMedicine(const Statement& st, CMedicine& rec) {
    rec.name = st.Text("name");
    rec.dos_size = st.Int("dos_size");
    rec.dos_msr = st.Text("dos_msr");
    rec.dos_form = st.Text("dos_form");
    rec.dos_qty = st.Int("dos_qty");
    rec.dos_dur_size = st.Int("dos_dur_size");
    rec.dos_dur_form = st.Text("dos_dur_form");
    rec.qty_per_span = st.Int("qty_per_span");
    rec.span_length = st.Int("span_length");
    rec.span_form = st.Text("span_form");
    rec.refill_cnt = st.Int("refill_cnt");
    rec.dosage_text = st.Text("dosage_text");
    rec.desc = st.Text("desc");
    rec.url = st.Text("url");
}

// "Ibuprofen (200 mg)", the label the dialogs show and look medicines up by.
std::string MedicineLabel(const std::string& name, const std::string& size, const std::string& measure) {
    return name + " (" + size + " " + measure + ")";
}

} // namespace

bool CJournalDb::LoadMedicine(int id, CMedicine& rec) {
    return LoadRow(SqlFormat("select * from [medicine_cabinet] where id='%d';", id), false,
                   [&rec, id](const Statement& st) {
                       rec.id = id;
                       FillMedicine(st, rec);
                   });
}

bool CJournalDb::FindMedicine(const std::string& name, int dosSize, const std::string& measure, const std::string& form,
                              CMedicine& rec) {
    const std::string sql =
        SqlFormat("select * from [medicine_cabinet] where name='%s' AND dos_size='%d' AND dos_msr='%s' AND "
                  "dos_form='%s';",
                  EscapeSqlText(name).c_str(), dosSize, EscapeSqlText(measure).c_str(), EscapeSqlText(form).c_str());
    return LoadRow(sql, false, [&rec](const Statement& st) {
        rec.id = st.Int(0);
        FillMedicine(st, rec);
    });
}

bool CJournalDb::SaveMedicine(CMedicine& rec) {
    // Below 1 inserts, as for the entry records: no stored medicine has id 0.
    return SaveRecord(rec, kErrSaveEntry);
}

bool CJournalDb::DeleteMedicine(CMedicine& rec) {
    const std::string sql = rec.id >= 1 ? rec.GetDeleteSql() : std::string();
    if (!Write(sql, kErrDeleteMedicine))
        return false;
    rec.Reset();
    return true;
}

bool CJournalDb::FillMedicineList(std::string column, std::string text, ListRows& rows) {
    const std::string sql =
        SearchStatement(column, text,
                        "SELECT id,name,dos_qty,dos_size,dos_msr,dos_form from [medicine_cabinet] where del=0 "
                        "order by name desc",
                        "SELECT id,name,dos_qty,dos_size,dos_msr,dos_form from [medicine_cabinet] where del=0 "
                        "AND %s like '%%%s%%' order by name desc",
                        {"name"});
    if (sql.empty())
        return false;
    return ListQuery(sql, rows, [](const Statement& st) {
        return ListRow{{st.Text(0), st.Text(1), st.Text(2), st.Text(3) + " " + st.Text(4), st.Text(5)}, std::nullopt};
    });
}

bool CJournalDb::FillMedicineCombo(ComboItems& items) {
    Statement st;
    if (!Prepare("SELECT id,name,dos_size,dos_msr,dos_form from [medicine_cabinet] where del=0 "
                 "order by id asc",
                 st)) {
        return false;
    }
    int r;
    while ((r = st.Step()) == SQLITE_ROW) {
        items.push_back({MedicineLabel(st.Text(1), st.Text(2), st.Text(3)) + " " + st.Text(4), st.Int(0)});
    }
    if (r != SQLITE_DONE)
        SetStepError(r);
    return true;
}

std::string CJournalDb::GetMedicineLabel(int id) {
    Statement st;
    if (!Prepare(SqlFormat("SELECT name,dos_size,dos_msr,dos_form from [medicine_cabinet] where "
                           "id=%d AND del=0",
                           id),
                 st)) {
        return {};
    }
    const int r = st.Step();
    if (r == SQLITE_ROW)
        return MedicineLabel(st.Text(0), st.Text(1), st.Text(2));
    if (r != SQLITE_DONE)
        SetStepError(r);
    return kMedicineNotFound;
}
