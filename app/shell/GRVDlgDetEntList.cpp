#include "app/shell/GRVDlgDetEntList.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/shell/DetailResource.h"
#include "app/shell/DetailTexts.h"
#include "app/shell/DlgControls.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "platform/ui/Seams.h"

using namespace grv;

CGRVDlgDetEntList::CGRVDlgDetEntList(QWidget* parent) : CDialogBase(parent) {
    auto* top = new QVBoxLayout(this);
    m_ctlDetails = new QTreeWidget(this);
    m_ctlDetails->setObjectName(ControlName(IDC_DETAILS));
    top->addWidget(m_ctlDetails);
    auto* row = new QHBoxLayout;
    auto button = [&](int id, const char* text) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(ControlName(id));
        b->setAutoDefault(false);
        row->addWidget(b);
        return b;
    };
    m_btnAdd = button(IDC_DETAILS_ADD, "Add");
    m_btnDelete = button(IDC_DETAILS_DELETE, "Delete");
    m_btnDeleteAll = button(IDC_DETAILS_DELETE_ALL, "Delete All");
    row->addStretch();
    auto* buttons = MakeOkCancel(this);
    row->addWidget(buttons);
    top->addLayout(row);
    resize(480, 240);

    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgDetEntList::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgDetEntList::reject);
    connect(m_btnAdd, &QPushButton::clicked, this, &CGRVDlgDetEntList::OnBnClickedAdd);
    connect(m_btnDelete, &QPushButton::clicked, this, &CGRVDlgDetEntList::OnBnClickedDelete);
    connect(m_btnDeleteAll, &QPushButton::clicked, this, &CGRVDlgDetEntList::OnBnClickedDeleteAll);
    connect(m_ctlDetails, &QTreeWidget::itemSelectionChanged, this, &CGRVDlgDetEntList::OnItemchangedDetails);
}

int CGRVDlgDetEntList::OnInitDialog() {
    setWindowTitle(QString::fromStdString(CJournalDb::GetTypeDisplayName(m_nType)));
    m_nAnswer = kDetailAnswerNone;
    SetupReportList(m_ctlDetails, {QStringLiteral("ID"), QStringLiteral("Detail Name or Subject")}, {35, 250});
    m_ctlDetails->headerItem()->setTextAlignment(0, Qt::AlignCenter);
    RefreshList();
    return 1;
}

void CGRVDlgDetEntList::OnShowWindow() {
    m_btnDelete->setEnabled(m_bDeleteAllowed != 0);
    m_btnDeleteAll->setEnabled(m_bDeleteAllowed != 0);
}

void CGRVDlgDetEntList::RefreshList() {
    // Clearing the list changes the selection; what was picked stays picked.
    const QSignalBlocker quiet(m_ctlDetails);
    m_ctlDetails->clear();
    if (!m_pDb)
        return;
    ListRows rows;
    m_pDb->FillDetailList(rows, m_nType, m_nEntryId);
    for (const ListRow& r : rows) {
        auto* item = new QTreeWidgetItem(m_ctlDetails);
        for (int c = 0; c < 2 && c < static_cast<int>(r.texts.size()); ++c)
            item->setText(c, QString::fromStdString(r.texts[c]));
        item->setTextAlignment(0, Qt::AlignCenter);
    }
}

void CGRVDlgDetEntList::OnItemchangedDetails() {
    const QList<QTreeWidgetItem*> picked = m_ctlDetails->selectedItems();
    if (picked.isEmpty()) {
        m_nAnswer = kDetailAnswerNone;
        return;
    }
    m_strSelectedId = picked.first()->text(0);
    m_nAnswer = kDetailAnswerEdit;
}

namespace {

// Loads the record and marks it deleted; a record the store refuses to
// delete (one without an entry, -1) is a failure, not a success.
template <typename Record, typename Load, typename Del>
int LoadAndDelete(Record& rec, Load load, Del del) {
    rec.Reset();
    if (!load(rec))
        return 0;
    return del(rec) == 1 ? 1 : 0;
}

} // namespace

int CGRVDlgDetEntList::DeleteSelected() {
    if (!m_pDb)
        return 0;
    CJournalDb& db = *m_pDb;
    const std::string id = m_strSelectedId.toStdString();
    switch (m_nType) {
    case kEntryTypeAction:
        return LoadAndDelete(
            m_action, [&](CEntryActions& r) { return db.LoadEntryActions(id, r); },
            [&](CEntryActions& r) { return db.DeleteEntryActions(r); });
    case kEntryTypeJournal:
        // A missing entry loads "successfully" without changing the record,
        // so the reset record's id tells whether one was found.
        return LoadAndDelete(
            m_entry, [&](CEntry& r) { return db.LoadEntry(id, r) && r.id >= 1; },
            [&](CEntry& r) { return db.DeleteEntry(r.id); });
    case kEntryTypeMedicine:
        return LoadAndDelete(
            m_meds, [&](CEntryMeds& r) { return db.LoadEntryMeds(id, r); },
            [&](CEntryMeds& r) { return db.DeleteEntryMeds(r); });
    case kEntryTypeMood:
        return LoadAndDelete(
            m_mood, [&](CEntryMood& r) { return db.LoadEntryMoodText(id, r); },
            [&](CEntryMood& r) { return db.DeleteEntryMood(r); });
    case kEntryTypeQuestion:
        return LoadAndDelete(
            m_question, [&](CEntryQuestions& r) { return db.LoadEntryQuestionText(id, r); },
            [&](CEntryQuestions& r) { return db.DeleteEntryQuestion(r); });
    case kEntryTypeSideEffects:
        return LoadAndDelete(
            m_sideEff, [&](CEntrySideEff& r) { return db.LoadEntrySideEffText(id, r); },
            [&](CEntrySideEff& r) { return db.DeleteEntrySideEff(r); });
    default: platform::ui::GetPrompter().Tell(this, QString::fromLatin1(kUnknownTypeForDeletion)); return 0;
    }
}

void CGRVDlgDetEntList::OnBnClickedDelete() {
    auto& prompter = platform::ui::GetPrompter();
    if (!prompter.AskYesNo(this, QString::fromLatin1(kAskDeleteDetail), QString::fromLatin1(kAskDeleteDetailTitle)))
        return;
    if (DeleteSelected()) {
        prompter.Tell(this, QString::fromLatin1(kDetailDeleted));
        RefreshList();
    } else {
        prompter.Tell(this, QString::fromLatin1(kErrorDeleting));
    }
}

void CGRVDlgDetEntList::OnBnClickedDeleteAll() {
    // Nothing listed, nothing to confirm or report.
    const int count = m_ctlDetails->topLevelItemCount();
    if (count == 0)
        return;
    auto& prompter = platform::ui::GetPrompter();
    if (!prompter.AskYesNo(this, QString::fromLatin1(kAskDeleteAllDetails),
                           QString::fromLatin1(kAskDeleteAllDetailsTitle)))
        return;
    for (int i = 0; i < count; ++i) {
        m_strSelectedId = m_ctlDetails->topLevelItem(i)->text(0);
        if (!DeleteSelected()) {
            prompter.Tell(this, QString::fromLatin1(kErrorDeleting));
            return;
        }
    }
    prompter.Tell(this, QString::fromLatin1(kAllDetailsDeleted));
    RefreshList();
}

void CGRVDlgDetEntList::OnBnClickedAdd() {
    m_nAnswer = kDetailAnswerAdd;
    done(IDOK);
}

void CGRVDlgDetEntList::accept() {
    done(IDOK);
}
void CGRVDlgDetEntList::reject() {
    done(IDCANCEL);
}
