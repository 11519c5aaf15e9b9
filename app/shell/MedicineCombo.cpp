#include "app/shell/MedicineCombo.h"

#include <QComboBox>

#include "app/shell/DlgControls.h"
#include "app/store/JournalDb.h"

namespace grv {

int FillMedicineCombo(CJournalDb& db, QComboBox* combo) {
    combo->clear();
    ComboItems items;
    if (!db.FillMedicineCombo(items))
        return 0;
    for (const ComboItem& item : items)
        AddSortedString(combo, QString::fromStdString(item.label), item.id);
    combo->setCurrentIndex(-1);
    return 1;
}

} // namespace grv
