#pragma once
// Numbers of the main window's commands and controls, and the dialog results.

namespace grv {

// Dialog results, as the class library numbers them.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Controls of the main window.
constexpr int IDC_DATE = 1010;
constexpr int IDC_TIME = 1011;
constexpr int IDC_ENTRY_TYPE = 1013;
constexpr int IDC_WORST_PAIN = 1015;
constexpr int IDC_AVERAGE_PAIN = 1016;
constexpr int IDC_LOWEST_PAIN = 1017;
constexpr int IDC_CURRENT_PAIN = 1018;
constexpr int IDC_TREND_GROUP = 1019;
constexpr int IDC_TREND_FRAME = 1021;
constexpr int IDC_HIDDEN_DETAILS = 1031;
constexpr int IDC_ENTRIES_GROUP = 1070;
constexpr int IDC_ENTRY_LIST = 1072;

// Controls of the Preferences dialog.
constexpr int IDC_PREF_OPEN_LAST = 1025;
constexpr int IDC_PREF_CLEAR_AFTER_SAVE = 1026;
constexpr int IDC_PREF_AUTO_SAVE = 1027;
constexpr int IDC_PREF_TYPE = 1013;
constexpr int IDC_PREF_FIRST_TIME_WIZ = 1028;
constexpr int IDC_PREF_CLOSE_TO_TRAY = 1029;
constexpr int IDC_PREF_AUTO_START = 1085;
constexpr int IDC_PREF_NO_STATS = 1101;

// The About box's version line.
constexpr int IDC_ABOUT_VERSION = 1117;

// Controls of the Find dialog; Select and Cancel are IDOK and IDCANCEL.
constexpr int IDC_FIND_FIELD = 1013;
constexpr int IDC_FIND_TEXT = 1022;
constexpr int IDC_FIND_SEARCH = 1023;
constexpr int IDC_FIND_RESULTS = 1024;
constexpr int IDC_FIND_DELETE = 3;

// Commands: main menu.
constexpr int ID_FILE_NEW_ENTRY = 32824;
constexpr int ID_FILE_FIND_ENTRY = 32825;
constexpr int ID_FILE_SAVE_ENTRY = 32829;
constexpr int ID_FILE_CLOSE_ENTRY = 32827;
constexpr int ID_DATABASE_NEW = 32819;
constexpr int ID_DATABASE_OPEN = 32820;
constexpr int ID_DATABASE_CLOSE = 32828;
constexpr int ID_DATABASE_BACKUP = 32822;
constexpr int ID_DATABASE_RESTORE = 32823;
constexpr int ID_FILE_PRINT = 57607;
constexpr int ID_FILE_EXIT = 32774;
constexpr int ID_EDIT_UNDO = 32775;
constexpr int ID_EDIT_REDO = 32776;
constexpr int ID_EDIT_CUT = 32777;
constexpr int ID_EDIT_COPY = 32778;
constexpr int ID_EDIT_PASTE = 32779;
constexpr int ID_EDIT_PREFERENCES = 32780;
constexpr int ID_TOOLS_FIND_ENTRIES = 32848;
constexpr int ID_TOOLS_MEDICINE_CABINET = 32833;
constexpr int ID_GRAPH_SHOW = 32850;
constexpr int ID_GRAPH_HIDE = 32851;
constexpr int ID_TREND_CURRENT = 32853;
constexpr int ID_TREND_AVERAGE = 32852;
constexpr int ID_TREND_LOWEST = 32854;
constexpr int ID_TREND_WORST = 32855;
constexpr int ID_TOOLS_REPORTS = 32900;
constexpr int ID_HELP_CONTENTS = 32781;
constexpr int ID_HELP_ABOUT = 32782;

// Commands: toolbar, in button order.
constexpr int ID_TB_NEW_ENTRY = 32795;
constexpr int ID_TB_SAVE_ENTRY = 32796;
constexpr int ID_TB_DELETE_ENTRY = 32863;
constexpr int ID_TB_FIND = 32816;
constexpr int ID_TB_MEDICINE_CABINET = 32792;
constexpr int ID_TB_ACTIONS = 32865;
constexpr int ID_TB_SIDE_EFFECTS = 32814;
constexpr int ID_TB_QUESTION = 32842;
constexpr int ID_TB_MEDICINES = 32813;
constexpr int ID_TB_MOOD = 32793;
constexpr int ID_TB_PRINT = 32797;
constexpr int ID_TB_TOGGLE_GRAPH = 32864;

// Commands: tray menu.
constexpr int ID_TRAY_NEW_ENTRY = 32799;
constexpr int ID_TRAY_NEW_PAIN_SCORE = 32832;
constexpr int ID_TRAY_HIDE = 32802;
constexpr int ID_TRAY_SHOW = 32800;
constexpr int ID_TRAY_EXIT = 32801;

// Commands: entries context menu.
constexpr int ID_ENTRY_EDIT = 32866;
constexpr int ID_DETAILS_ACTIONS = 32872;
constexpr int ID_DETAILS_JOURNAL = 32873;
constexpr int ID_DETAILS_MEDICINES = 32874;
constexpr int ID_DETAILS_MOOD = 32875;
constexpr int ID_DETAILS_QUESTIONS = 32847;
constexpr int ID_DETAILS_SIDE_EFFECTS = 32876;
constexpr int ID_ENTRY_DELETE = 32871;

// Commands no menu carries.
constexpr int ID_RANGE_KIND0 = 32878;
constexpr int ID_RANGE_KIND_DATES = 32879;
constexpr int ID_RANGE_KIND2 = 32880;
constexpr int ID_RANGE_KIND3 = 32881;

// Strings of the string table with a name of their own.
constexpr int IDS_ABOUTBOX = 101;
constexpr int IDS_TRAY_TIP = 102;
constexpr int IDP_SOCKETS_INIT_FAILED = 103;
// Page texts of the first-run wizard.
constexpr int IDS_WIZ_WELCOME = 104;
constexpr int IDS_WIZ_NAME = 105;
constexpr int IDS_WIZ_FOLDER = 106;
constexpr int IDS_WIZ_DONE = 107;

} // namespace grv
