#include "app/store/JournalSchema.h"

#include <initializer_list>

namespace {

// The statements are stored in existing journals' sqlite_master exactly as
// written here, blanks and tabs included: keep every piece as it is.
SchemaStatement Table(const char* name, std::initializer_list<const char*> pieces) {
    SchemaStatement s;
    s.table = name;
    for (const char* piece : pieces)
        s.sql += piece;
    s.failure = std::string("Can't create database:  %s.  Error creating [") + name + "] table.\n";
    return s;
}

std::vector<SchemaStatement> BuildSchema() {
    return {
        Table("prefs", {"CREATE TABLE IF NOT EXISTS [prefs] (", "[username] TEXT,", "[password] TEXT,", "[key] TEXT,",
                        "[nextid] NUMERIC DEFAULT '0' NOT NULL,", "[hotkey] TEXT);"}),
        Table("entry", {"CREATE TABLE IF NOT EXISTS [entry] ( ", "  [id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
                        "  [ts] TIMESTAMP NOT NULL, ", "  [wpl] NUMERIC DEFAULT '0' NOT NULL,",
                        "  [apl] NUMERIC DEFAULT '0' NOT NULL,", "  [lpl] NUMERIC DEFAULT '0' NOT NULL,",
                        "  [cpl] NUMERIC DEFAULT '0' NOT NULL,", "  [sbj] TEXT DEFAULT ' ' NOT NULL,",
                        "  [entry] TEXT DEFAULT ' ' NOT NULL,", "  [del] NUMERIC DEFAULT '0' NOT NULL );"}),
        Table("entry_actions",
              {"CREATE TABLE IF NOT EXISTS [entry_actions] (", "\t[id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
               "\t[eid] INTEGER DEFAULT '0' NOT NULL,", "\t[name] TEXT DEFAULT ' ' NOT NULL, ",
               "\t[cat] TEXT DEFAULT ' ' NOT NULL, ", "\t[plmod] NUMERIC DEFAULT '0' NOT NULL, ",
               "\t[durmin] NUMERIC DEFAULT '0' NOT NULL, ", "\t[ref] TEXT DEFAULT ' ' NOT NULL,",
               "\t[del] NUMERIC DEFAULT '0' NOT NULL);"}),
        Table("entry_meds",
              {"CREATE TABLE IF NOT EXISTS [entry_meds] (", "\t[id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
               "\t[eid] NUMERIC DEFAULT '0' NOT NULL, ", "\t[mid] NUMERIC DEFAULT '0' NOT NULL, ",
               "\t[name] TEXT DEFAULT ' ' NOT NULL, ", "\t[quantity] NUMERIC DEFAULT '0' NOT NULL, ",
               "\t[override] NUMERIC DEFAULT '0' NOT NULL, ", "\t[dosage] TEXT DEFAULT ' ' NOT NULL, ",
               "\t[desc] TEXT DEFAULT ' ' NOT NULL,", "\t[del] NUMERIC DEFAULT '0' NOT NULL);"}),
        Table("entry_mood",
              {"CREATE TABLE IF NOT EXISTS [entry_mood] (", "\t[id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
               "\t[eid]\tNUMERIC DEFAULT '0' NOT NULL,", " [act] NUMERIC DEFAULT '0' NOT NULL,",
               " [mood] NUMERIC DEFAULT '0' NOT NULL,", " [walk] NUMERIC DEFAULT '0' NOT NULL,",
               " [work] NUMERIC DEFAULT '0' NOT NULL,", " [relat] NUMERIC DEFAULT '0' NOT NULL,",
               " [sleep] NUMERIC DEFAULT '0' NOT NULL,", " [life] NUMERIC DEFAULT '0' NOT NULL,",
               " [concn] NUMERIC DEFAULT '0' NOT NULL,", " [del] NUMERIC DEFAULT '0' NOT NULL);"}),
        Table("entry_question",
              {"CREATE TABLE IF NOT EXISTS [entry_question] ( ", "\t[id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
               "\t[eid] INTEGER DEFAULT '0' NOT NULL,", "\t[q] TEXT DEFAULT ' ' NOT NULL, ",
               "\t[a] TEXT DEFAULT ' ' NOT NULL, ", "\t[ref] TEXT DEFAULT ' ' NOT NULL,",
               "\t[del] NUMERIC DEFAULT '0' NOT NULL);"}),
        Table("entry_sideff",
              {"CREATE TABLE IF NOT EXISTS [entry_sideff] (", " [id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
               " [eid]\tNUMERIC DEFAULT '0' NOT NULL,", " [mid] NUMERIC DEFAULT '0' NOT NULL,",
               " [appet] NUMERIC DEFAULT '0' NOT NULL,", " [constip] NUMERIC DEFAULT '0' NOT NULL,",
               " [insomn] NUMERIC DEFAULT '0' NOT NULL,", " [itch] NUMERIC DEFAULT '0' NOT NULL,",
               " [nausea] NUMERIC DEFAULT '0' NOT NULL,", " [night] NUMERIC DEFAULT '0' NOT NULL,",
               " [sweat] NUMERIC DEFAULT '0' NOT NULL,", " [think] NUMERIC DEFAULT '0' NOT NULL,",
               " [tired] NUMERIC DEFAULT '0' NOT NULL,", " [vomit] NUMERIC DEFAULT '0' NOT NULL,",
               " [del] NUMERIC DEFAULT '0' NOT NULL);"}),
        Table("medicine_cabinet",
              {"CREATE TABLE IF NOT EXISTS [medicine_cabinet] (", " [id] INTEGER NOT NULL PRIMARY KEY AUTOINCREMENT, ",
               " [name] TEXT DEFAULT ' ' NOT NULL, ", " [dos_size] NUMERIC DEFAULT '100' NOT NULL, ",
               " [dos_msr] TEXT DEFAULT ' ' NOT NULL, ", " [dos_form] TEXT DEFAULT ' ' NOT NULL, ",
               " [dos_qty] NUMERIC DEFAULT '0' NOT NULL, ", " [dos_dur_size] NUMERIC DEFAULT '0' NOT NULL, ",
               " [dos_dur_form] TEXT DEFAULT ' ' NOT NULL, ", " [qty_per_span] NUMERIC DEFAULT '0' NOT NULL, ",
               " [span_length] NUMERIC DEFAULT '0' NOT NULL, ", " [span_form] TEXT DEFAULT ' ' NOT NULL, ",
               " [refill_cnt] NUMERIC DEFAULT '0' NOT NULL, ", " [dosage_text] TEXT DEFAULT ' ' NOT NULL, ",
               " [desc] TEXT DEFAULT ' ' NOT NULL, ", " [url] TEXT DEFAULT ' ' NOT NULL,",
               " [del] NUMERIC DEFAULT '0' NOT NULL);"}),
    };
}

} // namespace

const std::vector<SchemaStatement>& JournalSchemaStatements() {
    static const std::vector<SchemaStatement> statements = BuildSchema();
    return statements;
}
