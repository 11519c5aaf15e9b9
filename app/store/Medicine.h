#pragma once
// One medicine of the cabinet and the statements that store, change and
// remove it. Builders never change the record.
#include <string>

class CMedicine {
public:
    // Back to the start values: id and numbers -1, texts empty.
    void Reset();

    static std::string EscapeText(std::string text);

    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    std::string GetDeleteSql() const;

    int id = -1; // below 1 while the medicine is not stored
    std::string name;
    int dos_size = -1;
    std::string dos_msr;
    std::string dos_form;
    int dos_qty = -1;
    int dos_dur_size = -1;
    std::string dos_dur_form;
    int qty_per_span = -1;
    int span_length = -1;
    std::string span_form;
    int refill_cnt = -1; // never stored: the file always holds 0
    std::string dosage_text;
    std::string desc;
    std::string url;
};
