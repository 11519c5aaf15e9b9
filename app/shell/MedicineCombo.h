#pragma once
// The cabinet as a sorted combo list, each label carrying its medicine's id,
// so a choice names one medicine even when labels look alike.
class CJournalDb;
class QComboBox;

namespace grv {

// Clears the combo and adds every undeleted medicine; 1 on success, 0 when
// the journal could not be read (the combo stays empty).
int FillMedicineCombo(CJournalDb& db, QComboBox* combo);

} // namespace grv
