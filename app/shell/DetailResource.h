#pragma once
// Control ids of the entry detail dialogs and the medicine cabinet. Each
// control's object name is its id, so tests find it by that number.

namespace grv {

// Detail list.
constexpr int IDC_DETAILS = 1079;
constexpr int IDC_DETAILS_ADD = 1080;
constexpr int IDC_DETAILS_DELETE = 1031;
constexpr int IDC_DETAILS_DELETE_ALL = 1078;

// Answers of the detail list.
constexpr int kDetailAnswerAdd = 0;
constexpr int kDetailAnswerEdit = 3;
constexpr int kDetailAnswerNone = 4;

// Entry text, question and current pain.
constexpr int IDC_ENTRY_SUBJECT = 1071;
constexpr int IDC_ENTRY_BODY = 1027;
constexpr int IDC_QNA_QUESTION = 1027;
constexpr int IDC_QNA_ANSWER = 1029;
constexpr int IDC_QNA_REFERENCE = 1030;
constexpr int IDC_CPL_NUMBER = 1027;
constexpr int IDC_CPL_SLIDER = 1028;
constexpr int IDC_CPL_DESCRIPTION = 1043;

// Actions.
constexpr int IDC_ACT_NAME = 1013;
constexpr int IDC_ACT_CATEGORY = 1014;
constexpr int IDC_ACT_PAIN_SLIDER = 1077;
constexpr int IDC_ACT_PAIN_EFFECT = 1029;
constexpr int IDC_ACT_HOURS = 1027;
constexpr int IDC_ACT_MINUTES = 1028;
constexpr int IDC_ACT_REFERENCE = 1030;
constexpr int IDC_ACT_CONTINUE = 1025;

// Medicine cabinet.
constexpr int IDC_MC_LIST = 1030;
constexpr int IDC_MC_NAME = 1028;
constexpr int IDC_MC_DOSAGE = 1029;
constexpr int IDC_MC_MEASURE = 1014;
constexpr int IDC_MC_FORM = 1013;
constexpr int IDC_MC_TAKE = 1033;
constexpr int IDC_MC_TAKE_FORM = 1039;
constexpr int IDC_MC_EVERY = 1035;
constexpr int IDC_MC_EVERY_INTERVAL = 1016;
constexpr int IDC_MC_QUANTITY = 1027;
constexpr int IDC_MC_QTY_FORM = 1040;
constexpr int IDC_MC_SPAN = 1034;
constexpr int IDC_MC_SPAN_INTERVAL = 1015;
constexpr int IDC_MC_URL = 1032;
constexpr int IDC_MC_DESC = 1031;
constexpr int IDC_MC_SCHEDULE = 1025;
constexpr int IDC_MC_NEW = 1041;
constexpr int IDC_MC_SAVE = 1036;
constexpr int IDC_MC_DELETE = 1038;

// Medicine entry.
constexpr int IDC_ME_MEDICINE = 1013;
constexpr int IDC_ME_DOSAGE = 1041;
constexpr int IDC_ME_QUANTITY = 1027;
constexpr int IDC_ME_OVERRIDE = 1042;
constexpr int IDC_ME_DESC = 1043;
constexpr int IDC_ME_CONTINUE = 1025;

// Mood: sliders 1044 to 1051 and edits 1056 to 1063, in row order.
constexpr int IDC_MOOD_SLIDER_FIRST = 1044;
constexpr int IDC_MOOD_EDIT_FIRST = 1056;

// Side effects: edits 1027 to 1036 in row order; the first row's slider is
// 1054, the other rows' run from 1045.
constexpr int IDC_SE_MEDICINE = 1013;
constexpr int IDC_SE_EDIT_FIRST = 1027;
constexpr int IDC_SE_SLIDER_FIRST_ROW = 1054;
constexpr int IDC_SE_SLIDER_SECOND_ROW = 1045;

} // namespace grv
