#include "app/shell/GRVDlgMedCab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace grv;

namespace {

const char* const kMeasures[] = {"g",  "kg",   "mg",  "ug",  "l",     "cc", "cl",   "ml",
                                 "ul", "tbsp", "tsp", "ozs", "fl.oz", "gr", "dram", "gtts"};
const char* const kForms[] = {"Capsules", "Cream", "Drops", "Gel",   "Injection",
                              "Liquid",   "Other", "Pills", "Syrup", "Tablet"};
const char* const kIntervals[] = {"Hours", "Days", "Weeks", "Months"};

template <size_t N>
void FillChoices(QComboBox* combo, const char* const (&texts)[N]) {
    for (const char* text : texts)
        AddSortedString(combo, QString::fromLatin1(text));
    combo->setCurrentIndex(-1);
}

QLineEdit* MakeEdit(QWidget* parent, int id, bool digits) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(ControlName(id));
    if (digits) {
        MakeDigitEdit(edit, 9); // beyond nine digits the numbers would not fit
        edit->setAlignment(Qt::AlignCenter);
    }
    return edit;
}

QComboBox* MakeList(QWidget* parent, int id) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(ControlName(id));
    return combo;
}

QString Selected(const QComboBox* combo) {
    return combo->currentIndex() < 0 ? QString() : combo->currentText();
}

} // namespace

CGRVDlgMedCab::CGRVDlgMedCab(QWidget* parent) : CDialogBase(parent) {
    setWindowTitle(QStringLiteral("Medicine Cabinet"));
    auto* top = new QVBoxLayout(this);
    m_ctlMedList = new QTreeWidget(this);
    m_ctlMedList->setObjectName(ControlName(IDC_MC_LIST));
    top->addWidget(m_ctlMedList, 1);

    auto* buttonRow = new QHBoxLayout;
    auto button = [&](int id, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(ControlName(id));
        b->setAutoDefault(false);
        buttonRow->addWidget(b);
        return b;
    };
    auto* btnNew = button(IDC_MC_NEW, "New");
    m_btnSave = button(IDC_MC_SAVE, "Save");
    auto* btnDelete = button(IDC_MC_DELETE, "Delete");
    buttonRow->addStretch();
    auto* btnOk = button(IDOK, "OK");
    btnOk->setDefault(true);
    auto* btnCancel = button(IDCANCEL, "Cancel");
    top->addLayout(buttonRow);

    auto* formBox = new QGroupBox(QStringLiteral("Medicine and Prescription Information"), this);
    auto* formRow = new QHBoxLayout(formBox);
    auto* rxBox = new QGroupBox(QStringLiteral("Prescription"), formBox);
    auto* grid = new QGridLayout(rxBox);
    m_ctlName = MakeEdit(rxBox, IDC_MC_NAME, false);
    m_ctlDosage = MakeEdit(rxBox, IDC_MC_DOSAGE, true);
    m_ctlMeasure = MakeList(rxBox, IDC_MC_MEASURE);
    m_ctlForm = MakeList(rxBox, IDC_MC_FORM);
    m_ctlTake = MakeEdit(rxBox, IDC_MC_TAKE, true);
    m_ctlTakeForm = new QLabel(rxBox);
    m_ctlTakeForm->setObjectName(ControlName(IDC_MC_TAKE_FORM));
    m_ctlEvery = MakeEdit(rxBox, IDC_MC_EVERY, true);
    m_ctlEveryInterval = MakeList(rxBox, IDC_MC_EVERY_INTERVAL);
    m_ctlQuantity = MakeEdit(rxBox, IDC_MC_QUANTITY, true);
    m_ctlQtyForm = new QLabel(rxBox);
    m_ctlQtyForm->setObjectName(ControlName(IDC_MC_QTY_FORM));
    m_ctlSpan = MakeEdit(rxBox, IDC_MC_SPAN, true);
    m_ctlSpanInterval = MakeList(rxBox, IDC_MC_SPAN_INTERVAL);
    m_ctlUrl = MakeEdit(rxBox, IDC_MC_URL, false);
    auto label = [&](const char* text) { return new QLabel(QString::fromLatin1(text), rxBox); };
    grid->addWidget(label("Name:"), 0, 0);
    grid->addWidget(m_ctlName, 0, 1, 1, 4);
    grid->addWidget(label("Dosage:"), 1, 0);
    grid->addWidget(m_ctlDosage, 1, 1);
    grid->addWidget(m_ctlMeasure, 1, 2);
    grid->addWidget(label("Form:"), 1, 3);
    grid->addWidget(m_ctlForm, 1, 4);
    grid->addWidget(label("Take:"), 2, 0);
    grid->addWidget(m_ctlTake, 2, 1);
    grid->addWidget(m_ctlTakeForm, 2, 2);
    grid->addWidget(label("every"), 2, 3);
    auto* everyRow = new QHBoxLayout;
    everyRow->addWidget(m_ctlEvery);
    everyRow->addWidget(m_ctlEveryInterval);
    grid->addLayout(everyRow, 2, 4);
    grid->addWidget(label("Quantity:"), 3, 0);
    grid->addWidget(m_ctlQuantity, 3, 1);
    grid->addWidget(m_ctlQtyForm, 3, 2);
    grid->addWidget(label("for"), 3, 3);
    auto* spanRow = new QHBoxLayout;
    spanRow->addWidget(m_ctlSpan);
    spanRow->addWidget(m_ctlSpanInterval);
    grid->addLayout(spanRow, 3, 4);
    grid->addWidget(label("URL:"), 4, 0);
    grid->addWidget(m_ctlUrl, 4, 1, 1, 4);
    m_ctlSchedule = new QCheckBox(QStringLiteral("Schedule Medicine for Auto Entry"), rxBox);
    m_ctlSchedule->setObjectName(ControlName(IDC_MC_SCHEDULE));
    m_ctlSchedule->setEnabled(false);
    grid->addWidget(m_ctlSchedule, 5, 0, 1, 5);
    formRow->addWidget(rxBox, 3);
    auto* descBox = new QGroupBox(QStringLiteral("Description"), formBox);
    m_ctlDesc = new QPlainTextEdit(descBox);
    m_ctlDesc->setObjectName(ControlName(IDC_MC_DESC));
    (new QVBoxLayout(descBox))->addWidget(m_ctlDesc);
    formRow->addWidget(descBox, 2);
    top->addWidget(formBox);
    resize(760, 520);

    connect(btnNew, &QPushButton::clicked, this, &CGRVDlgMedCab::OnBnClickedNew);
    connect(m_btnSave, &QPushButton::clicked, this, &CGRVDlgMedCab::OnBnClickedSave);
    connect(btnDelete, &QPushButton::clicked, this, &CGRVDlgMedCab::OnBnClickedDelete);
    connect(btnOk, &QPushButton::clicked, this, &CGRVDlgMedCab::OnBnClickedOk);
    connect(btnCancel, &QPushButton::clicked, this, &CGRVDlgMedCab::OnBnClickedCancel);
    connect(m_ctlForm, &QComboBox::activated, this, &CGRVDlgMedCab::OnCbnSelchangeForm);
    connect(m_ctlMedList, &QTreeWidget::itemClicked, this, &CGRVDlgMedCab::OnNMClickMedList);
    connect(m_ctlMedList, &QTreeWidget::itemDoubleClicked, this, &CGRVDlgMedCab::OnNMClickMedList);
}

void CGRVDlgMedCab::DoDataExchange(bool save) {
    const std::pair<QLineEdit*, QString*> edits[] = {
        {m_ctlName, &m_strName},   {m_ctlDosage, &m_strDosage},     {m_ctlTake, &m_strTake},
        {m_ctlEvery, &m_strEvery}, {m_ctlQuantity, &m_strQuantity}, {m_ctlSpan, &m_strSpan},
        {m_ctlUrl, &m_strUrl}};
    for (auto [edit, text] : edits) {
        if (save)
            *text = edit->text();
        else
            edit->setText(*text);
    }
    if (save) {
        m_strDesc = m_ctlDesc->toPlainText();
        m_strTakeForm = m_ctlTakeForm->text();
        m_strQtyForm = m_ctlQtyForm->text();
        m_bSchedule = m_ctlSchedule->isChecked() ? 1 : 0;
    } else {
        m_ctlDesc->setPlainText(m_strDesc);
        m_ctlTakeForm->setText(m_strTakeForm);
        m_ctlQtyForm->setText(m_strQtyForm);
        m_ctlSchedule->setChecked(m_bSchedule != 0);
    }
}

int CGRVDlgMedCab::OnInitDialog() {
    DoDataExchange(false);
    FillChoices(m_ctlMeasure, kMeasures);
    FillChoices(m_ctlForm, kForms);
    FillChoices(m_ctlEveryInterval, kIntervals);
    FillChoices(m_ctlSpanInterval, kIntervals);
    SetupReportList(m_ctlMedList,
                    {QStringLiteral("ID"), QStringLiteral("Name"), QStringLiteral("Take"), QStringLiteral("Dosage"),
                     QStringLiteral("Form")},
                    {40, 260, 50, 70, 70});
    m_ctlMedList->headerItem()->setTextAlignment(2, Qt::AlignCenter);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgMedCab::OnShowWindow() {
    RefreshList();
}

void CGRVDlgMedCab::RefreshList() {
    ListRows rows;
    if (!m_pDb || !m_pDb->FillMedicineList("*", "", rows))
        return;
    m_ctlMedList->clear();
    for (const ListRow& r : rows) {
        auto* item = new QTreeWidgetItem(m_ctlMedList);
        for (int c = 0; c < 5 && c < static_cast<int>(r.texts.size()); ++c)
            item->setText(c, QString::fromStdString(r.texts[c]));
        item->setTextAlignment(2, Qt::AlignCenter);
    }
}

int CGRVDlgMedCab::ValidateMedicine(int messages) {
    DoDataExchange(true);
    const std::pair<bool, const char*> tests[] = {
        {m_strName.isEmpty(), kMedNeedsName},
        {m_strDosage.isEmpty(), kMedNeedsDosage},
        {m_ctlMeasure->currentIndex() < 0, kMedNeedsMeasure},
        {m_ctlForm->currentIndex() < 0, kMedNeedsForm},
        {m_strTake.isEmpty(), kMedNeedsTake},
        {m_strEvery.isEmpty(), kMedNeedsEvery},
        {m_ctlEveryInterval->currentIndex() < 0, kMedNeedsInterval},
    };
    for (auto [failed, message] : tests) {
        if (!failed)
            continue;
        if (messages)
            platform::ui::GetPrompter().Tell(this, QString::fromLatin1(message),
                                             QString::fromLatin1(kMedCabErrorTitle));
        return 0;
    }
    DoDataExchange(false);
    return 1;
}

bool CGRVDlgMedCab::OnBnClickedSave() {
    if (!ValidateMedicine(1))
        return true;
    DoDataExchange(true);
    auto take = [](const QComboBox* combo, std::string& field) {
        if (combo->currentIndex() >= 0)
            field = combo->currentText().toStdString();
    };
    m_medicine.name = m_strName.toStdString();
    m_medicine.dos_size = TextToInt(m_strDosage);
    take(m_ctlMeasure, m_medicine.dos_msr);
    take(m_ctlForm, m_medicine.dos_form);
    m_medicine.dos_qty = TextToInt(m_strTake);
    m_medicine.dos_dur_size = TextToInt(m_strEvery);
    take(m_ctlEveryInterval, m_medicine.dos_dur_form);
    m_medicine.qty_per_span = TextToInt(m_strQuantity);
    m_medicine.span_length = TextToInt(m_strSpan);
    take(m_ctlSpanInterval, m_medicine.span_form);
    m_medicine.desc = m_strDesc.toStdString();
    m_medicine.url = m_strUrl.toStdString();
    DoDataExchange(false);
    if (!m_pDb || !m_pDb->IsOpen()) {
        TellNoJournal();
        return true;
    }
    const bool saved = m_pDb->SaveMedicine(m_medicine);
    // Why it failed, before the list's own query can leave another text.
    const std::string reason = saved ? std::string() : m_pDb->GetLastErrorText();
    m_bSaveRefused = !saved;
    RefreshList();
    if (!saved)
        TellRefused(kMedSaveFailed, reason);
    return saved;
}

void CGRVDlgMedCab::TellRefused(const char* what, const std::string& reason) {
    platform::ui::GetPrompter().Tell(this, QString::fromLatin1(what).arg(QString::fromStdString(reason)),
                                     QString::fromLatin1(kMedCabErrorTitle));
}

void CGRVDlgMedCab::OnBnClickedNew() {
    // A complete form is saved first, unless the journal has just refused it:
    // the user was told, and New means a new medicine.
    if (!m_bSaveRefused && ValidateMedicine(0) && !OnBnClickedSave())
        return;
    ClearForm();
    m_medicine.Reset();
}

void CGRVDlgMedCab::ClearForm() {
    m_bSaveRefused = false;
    DoDataExchange(true);
    for (QString* text :
         {&m_strName, &m_strDosage, &m_strTake, &m_strEvery, &m_strQuantity, &m_strSpan, &m_strDesc, &m_strUrl})
        text->clear();
    for (QComboBox* combo : {m_ctlMeasure, m_ctlForm, m_ctlEveryInterval, m_ctlSpanInterval})
        combo->setCurrentIndex(-1);
    DoDataExchange(false);
}

void CGRVDlgMedCab::OnBnClickedDelete() {
    const QString question = QString::fromLatin1(kAskDeleteMedicine).arg(QString::fromStdString(m_medicine.name));
    if (platform::ui::GetPrompter().AskYesNo(this, question, QString::fromLatin1(kAppCaption))) {
        if (m_pDb && !m_pDb->DeleteMedicine(m_medicine))
            TellRefused(kMedDeleteFailed, m_pDb->GetLastErrorText());
    }
    RefreshList();
}

void CGRVDlgMedCab::OnNMClickMedList() {
    const QList<QTreeWidgetItem*> picked = m_ctlMedList->selectedItems();
    if (picked.isEmpty() || !m_pDb)
        return;
    if (!m_pDb->LoadMedicine(TextToInt(picked.first()->text(0)), m_medicine))
        return;
    ClearForm();
    DoDataExchange(true);
    const CMedicine& m = m_medicine;
    m_strName = QString::fromStdString(m.name);
    m_strDosage = QString::number(m.dos_size);
    SelectComboText(m_ctlMeasure, QString::fromStdString(m.dos_msr));
    SelectComboText(m_ctlForm, QString::fromStdString(m.dos_form));
    m_strTake = QString::number(m.dos_qty);
    m_strEvery = QString::number(m.dos_dur_size);
    SelectComboText(m_ctlEveryInterval, QString::fromStdString(m.dos_dur_form));
    m_strQuantity = QString::number(m.qty_per_span);
    m_strSpan = QString::number(m.span_length);
    SelectComboText(m_ctlSpanInterval, QString::fromStdString(m.span_form));
    m_strDesc = QString::fromStdString(m.desc);
    m_strUrl = QString::fromStdString(m.url);
    m_strTakeForm = m_strQtyForm = QString::fromStdString(m.dos_form);
    DoDataExchange(false);
}

void CGRVDlgMedCab::OnCbnSelchangeForm() {
    const QString form = Selected(m_ctlForm);
    m_ctlTakeForm->setText(form);
    m_ctlQtyForm->setText(form);
}

void CGRVDlgMedCab::OnBnClickedOk() {
    // A medicine the journal refused stays in the open dialog, not lost.
    if (ValidateMedicine(0) && !OnBnClickedSave())
        return;
    done(IDOK);
}

void CGRVDlgMedCab::OnBnClickedCancel() {
    done(IDCANCEL);
}
