#include "app/shell/MedicineCombo.h"

#include <QComboBox>
#include <string>
#include <vector>

#include "app/shell/DlgControls.h"
#include "app/store/JournalDb.h"

namespace grv {

int FillMedicineCombo(CJournalDb& db, QComboBox* combo) {
    combo->clear();
    // The store gives the labels in id order; the ids come in the same order.
    std::vector<std::string> labels;
    ReportRows ids;
    if (!db.FillMedicineCombo(labels) ||
        !db.QueryAllRows("SELECT id from [medicine_cabinet] where del=0 order by id asc", 1, ids) ||
        ids.size() != labels.size())
        return 0;
    for (size_t i = 0; i < labels.size(); ++i)
        AddSortedString(combo, QString::fromStdString(labels[i]), IdFromText(ids[i][0]));
    combo->setCurrentIndex(-1);
    return 1;
}

}  // namespace grv
