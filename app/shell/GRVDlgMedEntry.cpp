#include "app/shell/GRVDlgMedEntry.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
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
constexpr int kQuantityDigits = 9;
}

CGRVDlgMedEntry::CGRVDlgMedEntry(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("Medicine Entry"));
    auto* top = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_ctlMedicine = new QComboBox(this);
    m_ctlMedicine->setObjectName(ControlName(IDC_ME_MEDICINE));
    m_ctlMedicine->setMinimumWidth(260);
    form->addRow(QStringLiteral("Medicine:"), m_ctlMedicine);
    m_ctlDosage = new QLineEdit(this);
    m_ctlDosage->setObjectName(ControlName(IDC_ME_DOSAGE));
    m_ctlQuantity = new QLineEdit(this);
    m_ctlQuantity->setObjectName(ControlName(IDC_ME_QUANTITY));
    MakeDigitEdit(m_ctlQuantity, kQuantityDigits);
    m_ctlOverride = new QPushButton(QStringLiteral("Dose/Quantity Override"), this);
    m_ctlOverride->setObjectName(ControlName(IDC_ME_OVERRIDE));
    m_ctlOverride->setCheckable(true);
    m_ctlOverride->setAutoDefault(false);
    auto* amounts = new QHBoxLayout;
    amounts->addWidget(m_ctlDosage);
    amounts->addWidget(m_ctlOverride);
    form->addRow(QStringLiteral("Dosage:"), amounts);
    form->addRow(QStringLiteral("Quantity:"), m_ctlQuantity);
    top->addLayout(form);
    auto* descBox = new QGroupBox(QStringLiteral("Description / Detailed Notes"), this);
    m_ctlDesc = new QPlainTextEdit(descBox);
    m_ctlDesc->setObjectName(ControlName(IDC_ME_DESC));
    (new QVBoxLayout(descBox))->addWidget(m_ctlDesc);
    top->addWidget(descBox, 1);
    auto* bottom = new QHBoxLayout;
    m_ctlContinue = new QCheckBox(QStringLiteral("Continue adding medicines..."), this);
    m_ctlContinue->setObjectName(ControlName(IDC_ME_CONTINUE));
    bottom->addWidget(m_ctlContinue);
    auto* buttons = MakeOkCancel(this);
    bottom->addWidget(buttons);
    top->addLayout(bottom);
    resize(500, 260);

    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgMedEntry::OnBnClickedOk);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgMedEntry::reject);
    connect(m_ctlOverride, &QPushButton::clicked, this, &CGRVDlgMedEntry::OnBnClickedOverride);
    connect(m_ctlMedicine, &QComboBox::activated, this, &CGRVDlgMedEntry::OnCbnSelchangeMedicine);
}

void CGRVDlgMedEntry::DoDataExchange(bool save) {
    if (save) {
        m_strDosage = m_ctlDosage->text();
        m_strQuantity = m_ctlQuantity->text();
        m_strDesc = m_ctlDesc->toPlainText();
        m_bContinue = m_ctlContinue->isChecked() ? 1 : 0;
        m_bOverride = m_ctlOverride->isChecked() ? 1 : 0;
    } else {
        m_ctlDosage->setText(m_strDosage);
        m_ctlQuantity->setText(m_strQuantity);
        m_ctlDesc->setPlainText(m_strDesc);
        m_ctlContinue->setChecked(m_bContinue != 0);
        m_ctlOverride->setChecked(m_bOverride != 0);
    }
}

int CGRVDlgMedEntry::OnInitDialog() {
    if (m_pDb && m_pDb->IsOpen()) {
        DoDataExchange(false);
        FillMedicineCombo(*m_pDb, m_ctlMedicine);
        DoDataExchange(true);
    } else {
        TellNoJournal();
    }
    return 1;
}

void CGRVDlgMedEntry::OnShowWindow() {
    if (TextToInt(m_strEntryId) < 1) {
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kNeedActiveEntryForMeds));
        // Ended from the event loop: a modal run that ended while it was
        // still being shown would never return.
        QMetaObject::invokeMethod(this, &CGRVDlgMedEntry::reject, Qt::QueuedConnection);
        return;
    }
    if (m_meds.id < 1 && m_meds.name.empty())
        return;
    // A stored row: its own medicine by id, else by its label.
    if (SelectComboData(m_ctlMedicine, m_meds.mid) < 0)
        SelectComboText(m_ctlMedicine, QString::fromStdString(m_meds.name));
    if (m_meds.override == 1) {
        // The row's own amounts were meant to stand; show them, not the cabinet's.
        m_bOverride = 1;
        m_ctlOverride->setChecked(true);
    }
    OnCbnSelchangeMedicine();
}

void CGRVDlgMedEntry::OnCbnSelchangeMedicine() {
    const int id = SelectedComboData(m_ctlMedicine);
    // Only the chosen item's own medicine may stand in the record.
    if (id < 1 || !m_pDb || !m_pDb->LoadMedicine(id, m_medicine)) {
        m_medicine.Reset();
        return;
    }
    m_medicine.id = id;
    DoDataExchange(true);
    if (!m_bOverride) {
        m_strQuantity = QString::number(m_medicine.dos_qty);
        m_strDosage = QString::number(m_medicine.dos_size) + QString::fromStdString(m_medicine.dos_msr);
        m_strDesc = QString::fromStdString(m_medicine.desc);
    }
    DoDataExchange(false);
}

void CGRVDlgMedEntry::OnBnClickedOverride() {
    m_bOverride = m_ctlOverride->isChecked() ? 1 : 0;
}

void CGRVDlgMedEntry::OnBnClickedOk() {
    if (m_medicine.id < 1) {
        platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kMustSelectMedicine));
        return;
    }
    DoDataExchange(true);
    m_meds.mid = m_medicine.id;
    m_meds.eid = TextToInt(m_strEntryId);
    m_meds.name = m_ctlMedicine->currentText().toStdString();
    m_meds.dosage =
        m_bOverride ? m_strDosage.toStdString() : std::to_string(m_medicine.dos_size) + " " + m_medicine.dos_msr;
    m_meds.quantity = TextToInt(m_strQuantity);
    m_meds.override = m_bOverride;
    m_meds.desc = m_strDesc.toStdString();
    DoDataExchange(false);
    SaveAndEnd(m_pDb, m_meds, &CJournalDb::SaveEntryMeds);
}

void CGRVDlgMedEntry::reject() {
    done(IDCANCEL);
}
