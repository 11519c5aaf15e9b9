#pragma once
// The journal file's tables, created once when a new journal is made.
#include <string>
#include <vector>

struct SchemaStatement {
    std::string table;
    std::string sql;
    // printf format taking the journal's full path.
    std::string failure;
};

// The creation statements in the order they are run.
const std::vector<SchemaStatement>& JournalSchemaStatements();
