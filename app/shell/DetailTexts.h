#pragma once
// Texts of the entry detail dialogs and the medicine cabinet. Tests compare
// against these, so they are never retyped.

namespace grv {

inline constexpr char kNeedOpenDb[] = "Need to open a database first.";

// Detail list.
inline constexpr char kUnknownTypeForDeletion[] = "Unknown Type for Deletion";
inline constexpr char kAskDeleteDetail[] = "Are you sure you wish to delete this entry?";
inline constexpr char kAskDeleteDetailTitle[] = "Delete Entry";
inline constexpr char kDetailDeleted[] = "Entry Deleted";
inline constexpr char kErrorDeleting[] = "Error Deleting.  Did you pick a entry?";
inline constexpr char kAskDeleteAllDetails[] = "Are you sure you wish to delete all entries?";
inline constexpr char kAskDeleteAllDetailsTitle[] = "Delete Entries";
inline constexpr char kAllDetailsDeleted[] = "All Details Deleted";

// Current pain.
// %1 and %2 the lowest and highest score.
inline constexpr char kInvalidPainScore[] =
    "You have not entered a valid pain score: it is a whole number from %1 to %2. Please try again or Cancel.";

// Medicine cabinet.
inline constexpr char kMedCabErrorTitle[] = "Error";
inline constexpr char kMedNeedsName[] = "Your medicine must have a name.";
inline constexpr char kMedNeedsDosage[] = "Your medicine must have a dosage value.";
inline constexpr char kMedNeedsMeasure[] = "Your medicine must have a dosage weight (mg, cc, etc)";
inline constexpr char kMedNeedsForm[] = "Your medicine must have a specific form (tablet, injection, etc).";
inline constexpr char kMedNeedsTake[] = "Your medicine must have a quantity to take.";
inline constexpr char kMedNeedsEvery[] = "Your medicine must have a interval (like ever 4 hours).";
inline constexpr char kMedNeedsInterval[] =
    "Your medicine must have a interval defined in the drop down (hours, days, etc).";
inline constexpr char kAskDeleteMedicine[] = "Are you sure you wish to delete %1?";
// A save or delete the journal refused: the store's reason follows.
inline constexpr char kMedSaveFailed[] = "Your medicine was not saved.\n\n%1";
inline constexpr char kMedDeleteFailed[] = "Your medicine was not deleted.\n\n%1";

// An action's pain level effect, typed beside its slider.
inline constexpr char kPainEffectOutOfScale[] =
    "Please correct \"Pain Level Effect\": it is a whole number from -10 to 10.";

// Mood and side-effect ratings; the row's label.
inline constexpr char kRatingOutOfScale[] = "Please correct \"%1\": a rating is a whole number from 0 to 10.";

// Medicine entry.
inline constexpr char kNeedActiveEntryForMeds[] = "You must have an active entry to add medicines to.";
inline constexpr char kMustSelectMedicine[] = "You must select a medicine, or Cancel if you do not wish to add one";

// Mood and side effects.
inline constexpr char kMoodInstructions[] =
    "Describe using the sliders below how pain has interfered with each area.  Moving the slider "
    "completely to the right means it completely interferes.  You can also simply enter a number "
    "from 1 to 10.";
inline constexpr char kSideEffectInstructions[] =
    "Rate the symptoms or side effects of a treatment option.  Move the slider to the right to "
    "rate how bad the side effects or symptoms are.  With the slider all the way to the right "
    "meaning that they are severe enough to stop the treatment.";

} // namespace grv
