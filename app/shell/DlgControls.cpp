#include "app/shell/DlgControls.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QTreeWidget>
#include <cassert>

#include "app/shell/Resource.h"
#include "app/store/JournalTypes.h"

namespace grv {

int TextToInt(const QString& text) {
    return IdFromText(text.toStdString());
}

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
    if (n == 0)
        return -1;
    const int first = start < 0 || start >= n ? 0 : start + 1;
    for (int k = 0; k < n; ++k) {
        const int i = (first + k) % n;
        if (match(combo->itemText(i)))
            return i;
    }
    return -1;
}

} // namespace

int FindStringPrefix(const QComboBox* combo, int start, const QString& text) {
    return Search(combo, start, [&text](const QString& item) { return item.startsWith(text, Qt::CaseInsensitive); });
}

int FindStringExact(const QComboBox* combo, int start, const QString& text) {
    return Search(combo, start,
                  [&text](const QString& item) { return QString::compare(item, text, Qt::CaseInsensitive) == 0; });
}

int SelectComboText(QComboBox* combo, const QString& text) {
    int index = -1;
    if (!text.isEmpty()) {
        index = FindStringExact(combo, 0, text);
        if (index < 0)
            index = FindStringPrefix(combo, 0, text);
    }
    combo->setCurrentIndex(index);
    if (index < 0 && combo->isEditable())
        combo->setEditText(text);
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

std::optional<int> ScaleNumber(const QString& text, int min, int max) {
    if (text.isEmpty()) {
        if (min <= 0 && max >= 0)
            return 0;
        return std::nullopt;
    }
    static const QRegularExpression kWhole(QStringLiteral("^-?[0-9]{1,9}(\\.0)?$"));
    if (!kWhole.match(text).hasMatch())
        return std::nullopt;
    const int value = TextToInt(text);
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

void MakeDigitEdit(QLineEdit* edit, int maxLength, bool allowSign) {
    const QString pattern = allowSign ? QStringLiteral("-?[0-9]*") : QStringLiteral("[0-9]*");
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), edit));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
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
    QObject::connect(slider, &QAbstractSlider::actionTriggered, context, [slider, handler](int) { handler(slider); });
    QObject::connect(slider, &QAbstractSlider::sliderReleased, context, [slider, handler] { handler(slider); });
}

void SliderFollowsEdit(QLineEdit* edit, QSlider* slider) {
    // textEdited comes from the user's typing only, never from setText.
    QObject::connect(edit, &QLineEdit::textEdited, slider, [slider](const QString& text) {
        // An emptied edit holds no number: the slider stays.
        if (!text.isEmpty())
            slider->setValue(ScaleNumber(text, slider->minimum(), slider->maximum()).value_or(0));
    });
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

QDialogButtonBox* MakeOkCancel(QWidget* parent) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, parent);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(ControlName(IDOK));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(ControlName(IDCANCEL));
    return buttons;
}

void RatingRows::Add(QGridLayout* grid, const char* label, int editId, int sliderId, bool digitsOnly) {
    QWidget* parent = grid->parentWidget();
    const int row = Count();
    auto* text = new QLabel(QString::fromLatin1(label), parent);
    text->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(ControlName(editId));
    edit->setFixedWidth(36);
    edit->setAlignment(Qt::AlignCenter);
    if (digitsOnly)
        MakeDigitEdit(edit);
    QSlider* slider = MakeScaleSlider(parent, 0, 10, sliderId);
    slider->setMinimumWidth(300);
    grid->addWidget(text, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(slider, row, 2);
    SliderFollowsEdit(edit, slider);
    m_sliders.push_back(slider);
    m_edits.push_back(edit);
    m_texts.emplace_back();
}

void RatingRows::Exchange(bool save, const std::vector<int*>& scales) {
    assert(scales.size() == m_sliders.size());
    for (size_t i = 0; i < m_sliders.size(); ++i) {
        if (save) {
            *scales[i] = m_sliders[i]->value();
            m_texts[i] = m_edits[i]->text();
        } else {
            m_sliders[i]->setValue(*scales[i]);
            m_edits[i]->setText(m_texts[i]);
        }
    }
}

void RatingRows::Show(const std::vector<int*>& scales) {
    for (size_t i = 0; i < m_texts.size(); ++i)
        m_texts[i] = QString::number(*scales[i]);
    Exchange(false, scales);
    Exchange(true, scales);
}

bool RatingRows::ShowPosition(const QSlider* slider) {
    for (size_t i = 0; i < m_sliders.size(); ++i) {
        if (m_sliders[i] == slider) {
            m_edits[i]->setText(QString::number(slider->sliderPosition()));
            return true;
        }
    }
    return false;
}

int RatingRows::Settle(const std::vector<int*>& scales) {
    Exchange(true, scales);
    for (size_t i = 0; i < m_texts.size(); ++i) {
        // A slider away from 0 decides; what its edit holds does not count.
        if (*scales[i] != 0)
            continue;
        const std::optional<int> typed = ScaleNumber(m_texts[i], kRatingMin, kRatingMax);
        if (!typed) {
            m_edits[i]->setFocus();
            m_edits[i]->selectAll();
            return static_cast<int>(i);
        }
        *scales[i] = *typed;
    }
    return -1;
}

} // namespace grv
