#pragma once
// The entry-type lists of the main window and the Preferences dialog.
#include <QString>

class QComboBox;

namespace grv {

// "Action", "Journal", "Medicine", "Mood", "Question", "Side Effects",
// with their type codes 1 to 6 as item data.
void FillTypeList(QComboBox* list);

// Selects the first item, searching after item 0 and wrapping, whose text
// begins with text (case-insensitive); none when no item does. The stored
// "Questions" of earlier preference lists selects "Question". The index
// selected, or -1.
int SelectTypeByPrefix(QComboBox* list, const QString& text);

} // namespace grv
