#include "app/store/Medicine.h"

#include "app/store/SqlText.h"

namespace {

std::string Esc(const std::string& text) {
    return EscapeSqlText(text);
}

// Refills are not tracked: every insert and update writes 0.
constexpr int kStoredRefillCount = 0;

} // namespace

void CMedicine::Reset() {
    *this = CMedicine();
}

std::string CMedicine::EscapeText(std::string text) {
    return EscapeSqlText(text);
}

std::string CMedicine::GetInsertSql() const {
    std::string sql = "INSERT into [medicine_cabinet] (";
    sql += "name, dos_size, dos_msr, dos_form, dos_qty, dos_dur_size, dos_dur_form, qty_per_span, ";
    sql += "span_length, span_form, refill_cnt, dosage_text, desc, url) ";
    sql += SqlFormat("VALUES('%s', %d, '%s', '%s', %d, %d, '%s', %d, %d, '%s', %d, '%s', '%s', '%s');",
                     Esc(name).c_str(), dos_size, Esc(dos_msr).c_str(), Esc(dos_form).c_str(), dos_qty, dos_dur_size,
                     Esc(dos_dur_form).c_str(), qty_per_span, span_length, Esc(span_form).c_str(), kStoredRefillCount,
                     Esc(dosage_text).c_str(), Esc(desc).c_str(), Esc(url).c_str());
    return TrimText(sql);
}

std::string CMedicine::GetUpdateSql(std::string keyColumn, std::string keyValue) const {
    return TrimText(SqlFormat("UPDATE [medicine_cabinet] SET name = '%s', dos_size = %d, dos_msr = '%s', "
                              "dos_form = '%s', dos_qty = %d, dos_dur_size = %d, dos_dur_form = '%s', "
                              "qty_per_span = %d, span_length = %d, span_form = '%s', refill_cnt = %d, "
                              "dosage_text = '%s', desc = '%s', url = '%s' WHERE %s='%s'",
                              Esc(name).c_str(), dos_size, Esc(dos_msr).c_str(), Esc(dos_form).c_str(), dos_qty,
                              dos_dur_size, Esc(dos_dur_form).c_str(), qty_per_span, span_length,
                              Esc(span_form).c_str(), kStoredRefillCount, Esc(dosage_text).c_str(), Esc(desc).c_str(),
                              Esc(url).c_str(), keyColumn.c_str(), Esc(keyValue).c_str()));
}

std::string CMedicine::GetDeleteSql() const {
    return TrimText(SqlFormat("DELETE from [medicine_cabinet] WHERE id='%d'", id));
}
