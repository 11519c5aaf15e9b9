#include "app/shell/DlgControls.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QHeaderView>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTreeWidget>

#include "app/store/JournalTypes.h"

namespace grv {

int TextToInt(const QString& text) { return IdFromText(text.toStdString()); }

int AddSortedString(QComboBox* combo, const QString& text, int data) {
    int at = combo->count();
    for (int i = 0; i < combo->count(); ++i) {
        if (QString::compare(text, combo->itemText(i), Qt::CaseInsensitive) < 0) {
            at = i;
            break;
        }
    }
    combo->insertItem(at, text, data >= 0 ? QVariant(data) : QVariant());
    return at;
}

namespace {

int Search(const QComboBox* combo, int start, const std::function<bool(const QString&)>& match) {
    const int n = combo->count();
    if (n == 0) return -1;
    const int first = start < 0 || start >= n ? 0 : start + 1;
    for (int k = 0; k < n; ++k) {
        const int i = (first + k) % n;
        if (match(combo->itemText(i))) return i;
    }
    return -1;
}

}  // namespace

int FindStringPrefix(const QComboBox* combo, int start, const QString& text) {
    return Search(combo, start, [&text](const QString& item) {
        return item.startsWith(text, Qt::CaseInsensitive);
    });
}

int FindStringExact(const QComboBox* combo, int start, const QString& text) {
    return Search(combo, start, [&text](const QString& item) {
        return QString::compare(item, text, Qt::CaseInsensitive) == 0;
    });
}

int SelectComboText(QComboBox* combo, const QString& text) {
    int index = -1;
    if (!text.isEmpty()) {
        index = FindStringExact(combo, 0, text);
        if (index < 0) index = FindStringPrefix(combo, 0, text);
    }
    combo->setCurrentIndex(index);
    if (index < 0 && combo->isEditable()) combo->setEditText(text);
    return index;
}

int SelectComboData(QComboBox* combo, int data) {
    const int index = combo->findData(data);
    combo->setCurrentIndex(index);
    return index;
}

int SelectedComboData(const QComboBox* combo) {
    const QVariant data = combo->currentIndex() < 0 ? QVariant() : combo->currentData();
    return data.isValid() ? data.toInt() : -1;
}

int RatingValue(int sliderPosition, const QString& editText) {
    return sliderPosition != 0 ? sliderPosition : TextToInt(editText);
}

void MakeDigitEdit(QLineEdit* edit, int maxLength, bool allowSign) {
    const QString pattern = allowSign ? QStringLiteral("-?[0-9]*") : QStringLiteral("[0-9]*");
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
    if (maxLength > 0) edit->setMaxLength(maxLength);
}

QSlider* MakeScaleSlider(QWidget* parent, int min, int max, int id) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(ControlName(id));
    slider->setRange(min, max);
    slider->setTickInterval(1);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setTickPosition(QSlider::TicksAbove);
    slider->setValue(0);
    return slider;
}

void OnUserScroll(QSlider* slider, QWidget* context, std::function<void(QSlider*)> handler) {
    // actionTriggered comes only from the user's keys, clicks, drags and
    // wheel, with the new position already in sliderPosition(); setValue()
    // by the program never emits it.
    QObject::connect(slider, &QAbstractSlider::actionTriggered, context,
                     [slider, handler](int) { handler(slider); });
    QObject::connect(slider, &QAbstractSlider::sliderReleased, context,
                     [slider, handler] { handler(slider); });
}

void SetupReportList(QTreeWidget* list, const QStringList& headings, const QList<int>& widths) {
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setSortingEnabled(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setColumnCount(static_cast<int>(headings.size()));
    list->setHeaderLabels(headings);
    for (int i = 0; i < widths.size() && i < headings.size(); ++i)
        list->setColumnWidth(i, widths[i]);
}

RatingRow AddRatingRow(QGridLayout* grid, int row, const char* label, int editId, int sliderId,
                       bool digitsOnly) {
    QWidget* parent = grid->parentWidget();
    auto* text = new QLabel(QString::fromLatin1(label), parent);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    RatingRow r;
    r.edit = new QLineEdit(parent);
    r.edit->setObjectName(ControlName(editId));
    r.edit->setFixedWidth(36);
    r.edit->setAlignment(Qt::AlignCenter);
    if (digitsOnly) MakeDigitEdit(r.edit);
    r.slider = MakeScaleSlider(parent, 0, 10, sliderId);
    r.slider->setMinimumWidth(300);
    grid->addWidget(text, row, 0);
    grid->addWidget(r.edit, row, 1);
    grid->addWidget(r.slider, row, 2);
    return r;
}

}  // namespace grv
