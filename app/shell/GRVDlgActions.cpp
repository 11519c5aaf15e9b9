#include "app/shell/GRVDlgActions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <optional>

#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace grv;

namespace {

constexpr int kMinutesPerHour = 60;
constexpr int kDurationDigits = 5; // 99999 hours still fit the minutes column

int DurationMinutes(const QString& hours, const QString& minutes) {
    const long long total = static_cast<long long>(TextToInt(hours)) * kMinutesPerHour + TextToInt(minutes);
    return static_cast<int>(std::clamp<long long>(total, INT_MIN, INT_MAX));
}

QComboBox* MakeEditableCombo(QWidget* parent, int id) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(ControlName(id));
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    // Typing "Walk" beside "Walking" must give "Walk": no inline completion.
    combo->setCompleter(nullptr);
    combo->setMinimumWidth(200);
    return combo;
}

} // namespace

CGRVDlgActions::CGRVDlgActions(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("Actions Effect on Pain"));
    auto* top = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* names = new QFormLayout;
    m_ctlName = MakeEditableCombo(this, IDC_ACT_NAME);
    m_ctlCategory = MakeEditableCombo(this, IDC_ACT_CATEGORY);
    names->addRow(QStringLiteral("Name:"), m_ctlName);
    names->addRow(QStringLiteral("Category:"), m_ctlCategory);
    left->addLayout(names);

    auto* painBox = new QGroupBox(QStringLiteral("Pain Level Effect"), this);
    auto* painRow = new QHBoxLayout(painBox);
    m_ctlPainSlider = MakeScaleSlider(painBox, -10, 10, IDC_ACT_PAIN_SLIDER);
    m_ctlPainSlider->setTickPosition(QSlider::TicksBothSides);
    m_ctlPainEffect = new QLineEdit(painBox);
    m_ctlPainEffect->setObjectName(ControlName(IDC_ACT_PAIN_EFFECT));
    m_ctlPainEffect->setAlignment(Qt::AlignCenter);
    m_ctlPainEffect->setFixedWidth(40);
    // Every key goes in; OK refuses what is no effect on the slider's scale.
    painRow->addWidget(m_ctlPainSlider, 1);
    painRow->addWidget(m_ctlPainEffect);
    left->addWidget(painBox);

    auto* durationBox = new QGroupBox(QStringLiteral("Duration"), this);
    auto* durationRow = new QHBoxLayout(durationBox);
    m_ctlHours = new QLineEdit(durationBox);
    m_ctlHours->setObjectName(ControlName(IDC_ACT_HOURS));
    MakeDigitEdit(m_ctlHours, kDurationDigits);
    m_ctlMinutes = new QLineEdit(durationBox);
    m_ctlMinutes->setObjectName(ControlName(IDC_ACT_MINUTES));
    MakeDigitEdit(m_ctlMinutes, kDurationDigits);
    durationRow->addWidget(new QLabel(QStringLiteral("Hours:"), durationBox));
    durationRow->addWidget(m_ctlHours);
    durationRow->addWidget(new QLabel(QStringLiteral("Minutes:"), durationBox));
    durationRow->addWidget(m_ctlMinutes);
    left->addWidget(durationBox);
    columns->addLayout(left, 1);

    auto* refBox = new QGroupBox(QStringLiteral("Reference"), this);
    m_ctlReference = new QPlainTextEdit(refBox);
    m_ctlReference->setObjectName(ControlName(IDC_ACT_REFERENCE));
    (new QVBoxLayout(refBox))->addWidget(m_ctlReference);
    columns->addWidget(refBox, 1);
    top->addLayout(columns);

    auto* bottom = new QHBoxLayout;
    m_ctlContinue = new QCheckBox(QStringLiteral("Continue adding actions..."), this);
    m_ctlContinue->setObjectName(ControlName(IDC_ACT_CONTINUE));
    bottom->addWidget(m_ctlContinue);
    auto* buttons = MakeOkCancel(this);
    bottom->addWidget(buttons);
    top->addLayout(bottom);

    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgActions::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgActions::reject);
    connect(m_ctlCategory, &QComboBox::activated, this, &CGRVDlgActions::OnCbnSelchangeCategory);
    connect(m_ctlName, &QComboBox::activated, this, &CGRVDlgActions::OnCbnSelchangeName);
    OnUserScroll(m_ctlPainSlider, this, [this](QSlider* s) { OnHScroll(s); });
    SliderFollowsEdit(m_ctlPainEffect, m_ctlPainSlider);
}

void CGRVDlgActions::DoDataExchange(bool save) {
    if (save) {
        m_strName = m_ctlName->currentText();
        m_strCategory = m_ctlCategory->currentText();
        m_strPainEffect = m_ctlPainEffect->text();
        m_strHours = m_ctlHours->text();
        m_strMinutes = m_ctlMinutes->text();
        m_strReference = m_ctlReference->toPlainText();
        m_nPainEffect = m_ctlPainSlider->value();
        m_bContinue = m_ctlContinue->isChecked() ? 1 : 0;
    } else {
        m_ctlName->setEditText(m_strName);
        m_ctlCategory->setEditText(m_strCategory);
        m_ctlPainEffect->setText(m_strPainEffect);
        m_ctlHours->setText(m_strHours);
        m_ctlMinutes->setText(m_strMinutes);
        m_ctlReference->setPlainText(m_strReference);
        m_ctlPainSlider->setValue(m_nPainEffect);
        m_ctlContinue->setChecked(m_bContinue != 0);
    }
}

int CGRVDlgActions::OnInitDialog() {
    if (!m_pDb || !m_pDb->IsOpen())
        TellNoJournal();
    DoDataExchange(false);
    m_ctlPainSlider->setRange(-10, 10);
    m_ctlPainSlider->setValue(0);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgActions::OnShowWindow() {
    FillCategoryCombo();
    FillNameCombo(QString());
    if (!m_bEdit)
        return;
    if (!m_strCategory.isEmpty())
        SelectComboText(m_ctlCategory, m_strCategory);
    if (!m_strName.isEmpty())
        SelectComboText(m_ctlName, m_strName);
    m_ctlPainSlider->setValue(m_action.plmod);
    m_ctlPainEffect->setText(QString::number(m_action.plmod));
    m_ctlHours->setText(QString::number(m_action.durmin / kMinutesPerHour));
    m_ctlMinutes->setText(QString::number(m_action.durmin % kMinutesPerHour));
}

int CGRVDlgActions::FillCombo(QComboBox* combo, const std::vector<std::string>& texts) {
    combo->clear();
    combo->setEditText(QString());
    for (const std::string& text : texts)
        AddSortedString(combo, QString::fromStdString(text));
    combo->setCurrentIndex(-1);
    combo->setEditText(QString());
    return texts.empty() ? 0 : 1;
}

int CGRVDlgActions::FillCategoryCombo() {
    std::vector<std::string> categories;
    if (m_pDb)
        m_pDb->GetActionCategories(categories);
    return FillCombo(m_ctlCategory, categories);
}

int CGRVDlgActions::FillNameCombo(const QString& category) {
    std::vector<std::string> names;
    if (m_pDb)
        m_pDb->GetActionNames(category.toStdString(), names);
    return FillCombo(m_ctlName, names);
}

void CGRVDlgActions::OnCbnSelchangeCategory() {
    const int index = m_ctlCategory->currentIndex();
    FillNameCombo(index < 0 ? QString() : m_ctlCategory->itemText(index));
}

void CGRVDlgActions::OnHScroll(QSlider* slider) {
    if (slider == m_ctlPainSlider)
        m_ctlPainEffect->setText(QString::number(slider->sliderPosition()));
}

void CGRVDlgActions::OnBnClickedOk() {
    DoDataExchange(true);
    // The slider counts unless it stands at 0; then the typed number must be
    // one the slider could show.
    const std::optional<int> effect =
        m_nPainEffect != 0 ? std::optional<int>(m_nPainEffect)
                           : ScaleNumber(m_strPainEffect, m_ctlPainSlider->minimum(), m_ctlPainSlider->maximum());
    if (!effect) {
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kPainEffectOutOfScale));
        m_ctlPainEffect->setFocus();
        m_ctlPainEffect->selectAll();
        return;
    }
    m_action.eid = TextToInt(m_strEntryId);
    m_action.cat = m_strCategory.toStdString();
    m_action.name = m_strName.toStdString();
    m_action.plmod = *effect;
    m_action.durmin = DurationMinutes(m_strHours, m_strMinutes);
    m_action.ref = m_strReference.toStdString();
    DoDataExchange(false);
    SaveAndEnd(m_pDb, m_action, &CJournalDb::SaveEntryActions);
}

void CGRVDlgActions::reject() {
    done(IDCANCEL);
}
