#include "app/shell/StringTable.h"

#include <map>

#include "app/shell/Resource.h"

namespace grv {

namespace {

const std::map<int, const char*>& Table() {
    static const std::map<int, const char*> table = {
        {IDS_ABOUTBOX, "&About GRV..."},
        {IDS_TRAY_TIP, "Gorvane"},
        {IDP_SOCKETS_INIT_FAILED, "Windows sockets initialization failed."},
        {ID_TB_NEW_ENTRY, "Create a new entry."},
        {ID_TB_SAVE_ENTRY, "Save the current entry."},
        {ID_TB_DELETE_ENTRY, "Delete the current entry."},
        {ID_TB_FIND, "Find/Search for an entry."},
        {ID_TB_MEDICINE_CABINET, "Medicine Cabinet - a list of all medicines and treatments."},
        {ID_TB_ACTIONS, "Add action details to your entry."},
        {ID_TB_SIDE_EFFECTS, "Add side effect and symptom details to your entry."},
        {ID_TB_QUESTION, "Add a question or answer to an entry."},
        {ID_TB_MEDICINES, "Add medications taken to your entry."},
        {ID_TB_MOOD, "Add your mood to your entry."},
        {ID_TB_PRINT, "Print the current entry."},
        {ID_TB_TOGGLE_GRAPH, "Hide or Show the lower graph."},
    };
    return table;
}

}  // namespace

QString LoadResourceString(int id) {
    const auto it = Table().find(id);
    return it == Table().end() ? QStringLiteral("???") : QString::fromUtf8(it->second);
}

bool HasResourceString(int id) { return Table().count(id) != 0; }

}  // namespace grv
