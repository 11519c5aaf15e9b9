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
        {IDS_WIZ_WELCOME, "Welcome to Gorvane (GRV).  Here we will help you create your first database which "
                          "will be used to store all your information in that we track with GRV.  This database "
                          "is a single file much like a document or image that is designed specifically for "
                          "holding information and data about chronic pain."},
        {IDS_WIZ_NAME, "Here we need to know what you want to name the file that will hold your information.  "
                       "We want just a plain name.  If your a computer geek, we do not want you to put any "
                       "fancy extensions on because the wizard will do that for you.  Once you have named your "
                       "database click Next to continue."},
        {IDS_WIZ_FOLDER, "Now you need to pick where we will store this data file.  One of the common places on "
                         "Windows machines to store your files is in My Documents.  If you wish to store the "
                         "file somewhere else that is fine, just remember where you put it for future "
                         "reference.  Click the button to browse the folders.  Once you have selected a folder, "
                         "click Next to continue."},
        {IDS_WIZ_DONE, "Congratulations on creating your first database!  Everything you record with "
                       "Gorvane will be kept in it, ready whenever you need it.  We hope Gorvane helps you "
                       "find relief from your pain."},
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

} // namespace

QString LoadResourceString(int id) {
    const auto it = Table().find(id);
    return it == Table().end() ? QStringLiteral("???") : QString::fromUtf8(it->second);
}

bool HasResourceString(int id) {
    return Table().count(id) != 0;
}

} // namespace grv
