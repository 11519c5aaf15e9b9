#pragma once
// The application's string table: texts looked up by number.
#include <QString>

namespace grv {

// The text of the id, or "???" when the table has none.
QString LoadResourceString(int id);
// True when the table holds a text for the id.
bool HasResourceString(int id);

} // namespace grv
