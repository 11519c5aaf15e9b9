#include "app/shell/GRVDlgSideEffect.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/DlgControls.h"
#include "app/shell/MedicineCombo.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace grv;

const CGRVDlgSideEffect::Row CGRVDlgSideEffect::kRowTable[kRows] = {
    {"Nausea", 1054, &CGRVDlgSideEffect::m_nNausea, &CEntrySideEff::nausea},
    {"Vomiting", 1045, &CGRVDlgSideEffect::m_nVomiting, &CEntrySideEff::vomit},
    {"Constipation", 1046, &CGRVDlgSideEffect::m_nConstipation, &CEntrySideEff::constip},
    {"Lack of Appetite", 1047, &CGRVDlgSideEffect::m_nAppetite, &CEntrySideEff::appet},
    {"Tired", 1048, &CGRVDlgSideEffect::m_nTired, &CEntrySideEff::tired},
    {"Itching", 1049, &CGRVDlgSideEffect::m_nItching, &CEntrySideEff::itch},
    {"Nightmares", 1050, &CGRVDlgSideEffect::m_nNightmares, &CEntrySideEff::night},
    {"Sweating", 1051, &CGRVDlgSideEffect::m_nSweating, &CEntrySideEff::sweat},
    {"Difficulty Thinking", 1052, &CGRVDlgSideEffect::m_nThinking, &CEntrySideEff::think},
    {"Insomnia", 1053, &CGRVDlgSideEffect::m_nInsomnia, &CEntrySideEff::insomn},
};

CGRVDlgSideEffect::CGRVDlgSideEffect(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Side Effects or Symptoms"));
    auto* top = new QVBoxLayout(this);
    auto* help = new QGroupBox(QStringLiteral("Instructions"), this);
    auto* helpText = new QLabel(QString::fromLatin1(kSideEffectInstructions), help);
    helpText->setWordWrap(true);
    (new QVBoxLayout(help))->addWidget(helpText);
    top->addWidget(help);
    auto* medRow = new QFormLayout;
    m_ctlMedicine = new QComboBox(this);
    m_ctlMedicine->setObjectName(ControlName(IDC_SE_MEDICINE));
    medRow->addRow(QStringLiteral("Medicine in Specific:"), m_ctlMedicine);
    top->addLayout(medRow);
    auto* rows = new QWidget(this);
    auto* grid = new QGridLayout(rows);
    for (int i = 0; i < kRows; ++i) {
        const RatingRow r = AddRatingRow(grid, i, kRowTable[i].label, IDC_SE_EDIT_FIRST + i,
                                         kRowTable[i].sliderId, false);
        m_ctlEdits[i] = r.edit;
        m_ctlSliders[i] = r.slider;
        OnUserScroll(r.slider, this, [this](QSlider* s) { OnHScroll(s); });
    }
    top->addWidget(rows);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(ControlName(IDOK));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(ControlName(IDCANCEL));
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgSideEffect::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgSideEffect::reject);
    connect(m_ctlMedicine, &QComboBox::activated, this,
            &CGRVDlgSideEffect::OnCbnSelchangeMedicine);
    top->addWidget(buttons);
}

void CGRVDlgSideEffect::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
    if (visible) OnShowWindow();
}

void CGRVDlgSideEffect::DoDataExchange(bool save) {
    for (int i = 0; i < kRows; ++i) {
        int& scale = this->*kRowTable[i].scale;
        if (save) {
            scale = m_ctlSliders[i]->value();
            m_strEdits[i] = m_ctlEdits[i]->text();
        } else {
            m_ctlSliders[i]->setValue(scale);
            m_ctlEdits[i]->setText(m_strEdits[i]);
        }
    }
}

int CGRVDlgSideEffect::OnInitDialog() {
    if (m_pDb && m_pDb->IsOpen()) {
        DoDataExchange(false);
        FillMedicineCombo(*m_pDb, m_ctlMedicine);
        DoDataExchange(true);
    } else {
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kNeedOpenDb));
    }
    DoDataExchange(false);
    for (QSlider* slider : m_ctlSliders) slider->setRange(0, 10);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgSideEffect::OnShowWindow() {
    for (int i = 0; i < kRows; ++i) m_strEdits[i] = QString::number(this->*kRowTable[i].scale);
    DoDataExchange(false);
    DoDataExchange(true);
    // The row's medicine by its id: labels of different medicines may
    // begin alike. None (general symptoms, or since removed) selects none.
    SelectComboData(m_ctlMedicine, m_mid);
}

void CGRVDlgSideEffect::OnCbnSelchangeMedicine() {
    const int id = SelectedComboData(m_ctlMedicine);
    if (id >= 1 && m_pDb && m_pDb->LoadMedicine(id, m_medicine)) {
        m_medicine.id = id;
        m_mid = id;
    } else {
        m_medicine.Reset();
        m_mid = 0;
    }
}

void CGRVDlgSideEffect::OnHScroll(QSlider* slider) {
    for (int i = 0; i < kRows; ++i) {
        if (m_ctlSliders[i] == slider) {
            m_ctlEdits[i]->setText(QString::number(slider->sliderPosition()));
            return;
        }
    }
}

void CGRVDlgSideEffect::OnBnClickedOk() {
    DoDataExchange(true);
    m_sideEff.eid = TextToInt(m_strEntryId);
    m_sideEff.mid = m_mid;
    for (int i = 0; i < kRows; ++i) {
        int& scale = this->*kRowTable[i].scale;
        scale = RatingValue(scale, m_strEdits[i]);
        m_sideEff.*kRowTable[i].field = scale;
    }
    DoDataExchange(false);
    if (m_pDb && m_pDb->IsOpen())
        m_pDb->SaveEntrySideEff(m_sideEff);
    else
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kNeedOpenDb));
    done(IDOK);
}

void CGRVDlgSideEffect::reject() { done(IDCANCEL); }
