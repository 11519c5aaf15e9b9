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

namespace {
constexpr int kSecondRow = IDC_SE_SLIDER_SECOND_ROW;
} // namespace

const CGRVDlgSideEffect::Row CGRVDlgSideEffect::kRowTable[kRows] = {
    {"Nausea", IDC_SE_SLIDER_FIRST_ROW, &CGRVDlgSideEffect::m_nNausea, &CEntrySideEff::nausea},
    {"Vomiting", kSecondRow, &CGRVDlgSideEffect::m_nVomiting, &CEntrySideEff::vomit},
    {"Constipation", kSecondRow + 1, &CGRVDlgSideEffect::m_nConstipation, &CEntrySideEff::constip},
    {"Lack of Appetite", kSecondRow + 2, &CGRVDlgSideEffect::m_nAppetite, &CEntrySideEff::appet},
    {"Tired", kSecondRow + 3, &CGRVDlgSideEffect::m_nTired, &CEntrySideEff::tired},
    {"Itching", kSecondRow + 4, &CGRVDlgSideEffect::m_nItching, &CEntrySideEff::itch},
    {"Nightmares", kSecondRow + 5, &CGRVDlgSideEffect::m_nNightmares, &CEntrySideEff::night},
    {"Sweating", kSecondRow + 6, &CGRVDlgSideEffect::m_nSweating, &CEntrySideEff::sweat},
    {"Difficulty Thinking", kSecondRow + 7, &CGRVDlgSideEffect::m_nThinking, &CEntrySideEff::think},
    {"Insomnia", kSecondRow + 8, &CGRVDlgSideEffect::m_nInsomnia, &CEntrySideEff::insomn},
};

CGRVDlgSideEffect::CGRVDlgSideEffect(QWidget* parent) : CDialogBase(parent) {
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
        m_rows.Add(grid, kRowTable[i].label, IDC_SE_EDIT_FIRST + i, kRowTable[i].sliderId, false);
        OnUserScroll(m_rows.Slider(i), this, [this](QSlider* s) { OnHScroll(s); });
    }
    top->addWidget(rows);
    auto* buttons = MakeOkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgSideEffect::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgSideEffect::reject);
    connect(m_ctlMedicine, &QComboBox::activated, this, &CGRVDlgSideEffect::OnCbnSelchangeMedicine);
    top->addWidget(buttons);
}

std::vector<int*> CGRVDlgSideEffect::Scales() {
    std::vector<int*> scales;
    for (const Row& row : kRowTable)
        scales.push_back(&(this->*row.scale));
    return scales;
}

void CGRVDlgSideEffect::DoDataExchange(bool save) {
    m_rows.Exchange(save, Scales());
}

int CGRVDlgSideEffect::OnInitDialog() {
    if (m_pDb && m_pDb->IsOpen()) {
        DoDataExchange(false);
        FillMedicineCombo(*m_pDb, m_ctlMedicine);
        DoDataExchange(true);
    } else {
        TellNoJournal();
    }
    DoDataExchange(false);
    for (int i = 0; i < m_rows.Count(); ++i)
        m_rows.Slider(i)->setRange(0, 10);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgSideEffect::OnShowWindow() {
    m_rows.Show(Scales());
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
    m_rows.ShowPosition(slider);
}

void CGRVDlgSideEffect::OnBnClickedOk() {
    // A typed rating off the scale is refused: nothing is stored and the
    // dialog stays, the row's edit ready for the correction.
    const int bad = m_rows.Settle(Scales());
    if (bad >= 0) {
        platform::ui::GetPrompter().Tell(
            this, QString::fromLatin1(kRatingOutOfScale).arg(QString::fromLatin1(kRowTable[bad].label)));
        return;
    }
    m_sideEff.eid = TextToInt(m_strEntryId);
    m_sideEff.mid = m_mid;
    for (const Row& row : kRowTable)
        m_sideEff.*row.field = this->*row.scale;
    DoDataExchange(false);
    SaveAndEnd(m_pDb, m_sideEff, &CJournalDb::SaveEntrySideEff);
}

void CGRVDlgSideEffect::reject() {
    done(IDCANCEL);
}
