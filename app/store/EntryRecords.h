#pragma once
// One record per journal table: a row in memory and the statements that
// store, change and mark it deleted. Builders never change the record, so
// saving the same record again writes the same texts.
#include <ctime>
#include <optional>
#include <string>

class CEntryBase {
public:
    virtual ~CEntryBase() = default;

    // Back to the start values: numbers -1, texts empty.
    virtual void Reset();

    // The local calendar time of ts; empty when ts holds no valid date.
    std::optional<std::time_t> ParseTimestamp() const;

    // ' doubled: the text as it may stand inside single quotes.
    static std::string EscapeText(std::string text);

    int id = -1;  // -1 (below 1) while the record is not stored
    int eid = -1; // the entry a detail belongs to
    std::string ts;

protected:
    CEntryBase() = default;
    CEntryBase(const CEntryBase&) = default;
    CEntryBase& operator=(const CEntryBase&) = default;
};

class CEntry : public CEntryBase {
public:
    void Reset() override;
    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    // hard = 0 marks the row deleted; "ERROR" while id is negative.
    std::string GetDeleteSql(int hard) const;

    std::string sbj;
    std::string entry;
    int wpl = -1;
    int lpl = -1;
    int apl = -1;
    int cpl = -1;
};

class CEntryActions : public CEntryBase {
public:
    void Reset() override;
    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    std::string GetDeleteSql(int hard) const;

    std::string name;
    std::string cat;
    int plmod = -1;
    int durmin = -1;
    std::string ref;
};

class CEntryMeds : public CEntryBase {
public:
    void Reset() override;
    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    std::string GetDeleteSql(int hard) const;

    int mid = -1;
    std::string name;
    std::string dosage;
    int quantity = -1;
    int override = -1;
    std::string desc;
};

class CEntryMood : public CEntryBase {
public:
    void Reset() override;
    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    std::string GetDeleteSql(int hard) const;

    int act = -1;
    int mood = -1;
    int walk = -1;
    int work = -1;
    int relat = -1;
    int sleep = -1;
    int life = -1;
    int concn = -1;
};

class CEntryQuestions : public CEntryBase {
public:
    void Reset() override;
    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    std::string GetDeleteSql(int hard) const;

    std::string q;
    std::string a;
    std::string ref;
};

class CEntrySideEff : public CEntryBase {
public:
    void Reset() override;
    std::string GetInsertSql() const;
    std::string GetUpdateSql(std::string keyColumn, std::string keyValue) const;
    std::string GetDeleteSql(int hard) const;

    int mid = -1; // below 1: general symptoms
    int nausea = -1;
    int vomit = -1;
    int constip = -1;
    int appet = -1;
    int tired = -1;
    int itch = -1;
    int night = -1;
    int sweat = -1;
    int think = -1;
    int insomn = -1;
};
