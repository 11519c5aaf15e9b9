#pragma once
// The control behaviours the journal's dialogs were designed around, on Qt
// widgets: sorted combo lists, the combo's prefix search, the rating scale
// (a slider with a number box) and digits-only edits.
#include <QString>
#include <functional>
#include <optional>
#include <vector>

class QComboBox;
class QDialogButtonBox;
class QGridLayout;
class QLineEdit;
class QSlider;
class QTreeWidget;
class QWidget;

namespace grv {

// Like C atoi: leading blanks, a sign, digits; no digits gives 0.
int TextToInt(const QString& text);

// Adds text to a sorted combo at its place in case-insensitive order, after
// any item that compares equal; the item carries data when data >= 0. The
// index it got.
int AddSortedString(QComboBox* combo, const QString& text, int data = -1);

// The combo's own search: the first item whose text begins with text
// (case-insensitive), looking from the item after start to the end and then
// from the top up to start itself; start -1 looks from the top. -1 when none.
int FindStringPrefix(const QComboBox* combo, int start, const QString& text);
// As FindStringPrefix, but the whole text must match (case-insensitive).
int FindStringExact(const QComboBox* combo, int start, const QString& text);

// Selects the item for a stored text: an exact match first, only then the
// first prefix match, both searched as the combo does from start 0. An
// empty text or no match leaves no selection; an editable combo then keeps
// the text in its edit field so nothing the user had is lost. The index.
int SelectComboText(QComboBox* combo, const QString& text);
// Selects the item carrying data; none when no item does. The index.
int SelectComboData(QComboBox* combo, int data);
// The data of the selected item, or -1 with none selected.
int SelectedComboData(const QComboBox* combo);

// A number edit's text as a whole number from min to max: digits with an
// optional leading minus and an optional ".0" (as the pain summary writes
// levels); an empty text is 0. None for anything else, letters included.
std::optional<int> ScaleNumber(const QString& text, int min, int max);

// Lets only digits be typed (and a leading minus when signed); at most
// maxLength characters when it is above 0. Text set by the program is not
// checked, as with the platform's number edits.
void MakeDigitEdit(QLineEdit* edit, int maxLength = 0, bool allowSign = false);

// A horizontal slider over min..max with a tick at every step.
QSlider* MakeScaleSlider(QWidget* parent, int min, int max, int id);

// Runs handler whenever the user moves the slider (keyboard, mouse, wheel),
// with the slider already at its new position. Positions set by the
// program do not run it.
void OnUserScroll(QSlider* slider, QWidget* context, std::function<void(QSlider*)> handler);

// Moves the slider to the number the user types into edit. A text that is
// no number on the slider's scale puts the slider at 0, where the typed text
// decides (and is refused) when the dialog's OK is pressed; an emptied edit
// leaves the slider where it is.
void SliderFollowsEdit(QLineEdit* edit, QSlider* slider);

// A report-style list: the given column headings and widths, full-row
// single selection, no sorting.
void SetupReportList(QTreeWidget* list, const QStringList& headings, const QList<int>& widths);

// The object name every control carries: its control id.
inline QString ControlName(int id) {
    return QString::number(id);
}

// "OK" and "Cancel", named by their result codes.
QDialogButtonBox* MakeOkCancel(QWidget* parent);

// The rows of a rating grid, each a right-aligned label, a small number
// edit and a slider over 0..10, with the edits' texts; exchanged with the
// dialog's scale members, given in row order.
class RatingRows {
public:
    void Add(QGridLayout* grid, const char* label, int editId, int sliderId, bool digitsOnly);
    int Count() const { return static_cast<int>(m_sliders.size()); }
    QSlider* Slider(int row) const { return m_sliders[row]; }

    // Scales into the sliders and texts into the edits, or with save set,
    // slider positions into the scales and the edits into the texts.
    void Exchange(bool save, const std::vector<int*>& scales);
    // Each edit shows its scale and each slider stands at it.
    void Show(const std::vector<int*>& scales);
    // Shows the slider's position in its own row's edit; false when the
    // slider is none of these rows'.
    bool ShowPosition(const QSlider* slider);
    // Each scale becomes its row's rating: the slider unless at 0, then
    // the typed number. Reads the controls first. The first row whose typed
    // text counts but is no rating from 0 to 10, or -1 when every row has one;
    // that row's edit then has the focus.
    int Settle(const std::vector<int*>& scales);

private:
    std::vector<QSlider*> m_sliders;
    std::vector<QLineEdit*> m_edits;
    std::vector<QString> m_texts;
};

} // namespace grv
