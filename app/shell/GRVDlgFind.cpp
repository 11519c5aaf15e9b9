#include "app/shell/GRVDlgFind.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/shell/FormTexts.h"
#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"
#include "app/store/JournalTypes.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::GetPrompter;

namespace {

constexpr int kIdSearch = IDC_FIND_SEARCH;
constexpr int kIdResults = IDC_FIND_RESULTS;
constexpr int kIdField = IDC_FIND_FIELD;
constexpr int kIdText = IDC_FIND_TEXT;
constexpr int kIdSelect = IDOK;
constexpr int kIdCancel = IDCANCEL;
constexpr int kIdDelete = IDC_FIND_DELETE;

struct FieldChoice {
    const char* text;
    const char* column;
};

// Shown sorted, as the list has always sorted them.
const FieldChoice kFields[] = {
    {"All Entries", "sbj"}, {"AVG Pain", "apl"}, {"Entry", "entry"}, {"Subject", "sbj"}, {"Timestamp", "ts"},
};

struct ResultColumn {
    const char* heading;
    int width;
};
const ResultColumn kResultColumns[] = {{"ID", 35}, {"Timestamp", 115}, {"Subject", 220}, {"APL", 35}};

QString Name(int id) {
    return QString::number(id);
}

} // namespace

const char* CGRVDlgFind::ColumnOfField(const QString& field) {
    for (const FieldChoice& f : kFields)
        if (field == QLatin1String(f.text))
            return f.column;
    return "sbj";
}

CGRVDlgFind::CGRVDlgFind(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kFindTitle));
    auto* top = new QVBoxLayout(this);

    auto* criteria = new QGroupBox(QStringLiteral("Criteria"), this);
    auto* grid = new QGridLayout(criteria);
    auto* hint = new QLabel(QString::fromLatin1(kFindHint), criteria);
    hint->setWordWrap(true);
    grid->addWidget(hint, 0, 0, 1, 3);
    m_ctlField = new QComboBox(criteria);
    m_ctlField->setObjectName(Name(kIdField));
    m_ctlText = new QLineEdit(criteria);
    m_ctlText->setObjectName(Name(kIdText));
    auto* search = new QPushButton(QStringLiteral("Search"), criteria);
    search->setObjectName(Name(kIdSearch));
    search->setAutoDefault(false);
    grid->addWidget(m_ctlField, 1, 0);
    grid->addWidget(m_ctlText, 1, 1);
    grid->addWidget(search, 1, 2);
    grid->setColumnStretch(1, 1);
    top->addWidget(criteria);

    auto* results = new QGroupBox(QStringLiteral("Results"), this);
    auto* resultsBox = new QVBoxLayout(results);
    m_ctlResults = new QTableWidget(results);
    m_ctlResults->setObjectName(Name(kIdResults));
    m_ctlResults->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ctlResults->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_ctlResults->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_ctlResults->setSortingEnabled(false);
    m_ctlResults->verticalHeader()->hide();
    m_ctlResults->viewport()->installEventFilter(this);
    // Enter in the text box searches, as the Search button does; it never
    // reaches the default button, which would load whatever row is selected.
    m_ctlText->installEventFilter(this);
    resultsBox->addWidget(m_ctlResults);
    top->addWidget(results, 1);

    auto* buttons = new QHBoxLayout;
    auto* select = new QPushButton(QStringLiteral("Select"), this);
    select->setObjectName(Name(kIdSelect));
    select->setDefault(true);
    auto* del = new QPushButton(QStringLiteral("Delete"), this);
    del->setObjectName(Name(kIdDelete));
    del->setAutoDefault(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(Name(kIdCancel));
    cancel->setAutoDefault(false);
    buttons->addStretch(1);
    buttons->addWidget(select);
    buttons->addWidget(del);
    buttons->addWidget(cancel);
    top->addLayout(buttons);
    resize(640, 420);

    connect(search, &QPushButton::clicked, this, &CGRVDlgFind::OnBnClickedSearch);
    connect(select, &QPushButton::clicked, this, &QDialog::accept);
    connect(del, &QPushButton::clicked, this, &CGRVDlgFind::OnBnClickedDelete);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    OnInitDialog();
}

void CGRVDlgFind::OnInitDialog() {
    for (const FieldChoice& f : kFields)
        m_ctlField->addItem(QString::fromLatin1(f.text));
    m_ctlField->setCurrentIndex(m_ctlField->findText(QStringLiteral("All Entries")));
    InitResultColumns();
}

void CGRVDlgFind::InitResultColumns() {
    m_ctlResults->setColumnCount(4);
    QStringList headings;
    for (const ResultColumn& c : kResultColumns)
        headings << QString::fromLatin1(c.heading);
    m_ctlResults->setHorizontalHeaderLabels(headings);
    m_ctlResults->setShowGrid(true);
    for (int i = 0; i < 4; ++i)
        m_ctlResults->horizontalHeader()->resizeSection(i, kResultColumns[i].width);
    m_ctlResults->horizontalHeader()->setStretchLastSection(true);
}

void CGRVDlgFind::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        OnShowWindow();
}

void CGRVDlgFind::OnShowWindow() {
    if (!m_strInitField.isEmpty()) {
        // The list's own prefix search: after the first item, wrapping.
        const int n = m_ctlField->count();
        for (int k = 1; k <= n; ++k) {
            const int i = k % n;
            if (m_ctlField->itemText(i).startsWith(m_strInitField, Qt::CaseInsensitive)) {
                m_ctlField->setCurrentIndex(i);
                break;
            }
        }
    }
    if (!m_strInitText.isEmpty())
        m_ctlText->setText(m_strInitText);
    if (m_bSearchOnShow)
        OnBnClickedSearch();
}

void CGRVDlgFind::OnBnClickedSearch() {
    // With no field chosen the subject is searched, as for any other text.
    const QString field = m_ctlField->currentIndex() < 0 ? QString() : m_ctlField->currentText();
    const std::string column = ColumnOfField(field);
    m_ctlResults->setRowCount(0);
    ListRows rows;
    if (m_pDb && !m_pDb->FindEntries(column, m_ctlText->text().toStdString(), rows)) {
        GetPrompter().Tell(this,
                           QString::fromLatin1(kFindListFailed).arg(QString::fromStdString(m_pDb->GetLastErrorText())));
        return;
    }
    m_ctlResults->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const ListRow& row = rows[r];
        for (int c = 0; c < 4 && c < static_cast<int>(row.texts.size()); ++c)
            m_ctlResults->setItem(r, c, new QTableWidgetItem(QString::fromStdString(row.texts[c])));
    }
}

void CGRVDlgFind::OnClickResults() {
    const QList<QTableWidgetItem*> selected = m_ctlResults->selectedItems();
    if (selected.isEmpty()) {
        GetPrompter().Tell(this, QString::fromLatin1(kFindNoneSelected));
        return;
    }
    const QTableWidgetItem* id = m_ctlResults->item(selected.first()->row(), 0);
    m_strSelectedId = id ? id->text() : QString();
}

void CGRVDlgFind::OnDblclkResults() {
    OnClickResults();
}

void CGRVDlgFind::OnBnClickedDelete() {
    const int id = IdFromText(m_strSelectedId.toStdString());
    if (id < 1) {
        GetPrompter().Tell(this, QString::fromLatin1(kFindDeleteWhich));
        return;
    }
    if (!GetPrompter().AskYesNo(this, QString::fromLatin1(kFindDeleteQuestion), QString::fromLatin1(kFindDeleteTitle),
                                platform::ui::Icon::Question))
        return;
    if (!m_pDb || !m_pDb->DeleteEntry(id)) {
        GetPrompter().Tell(this, QString::fromLatin1(kFindDeleteFailed));
        return;
    }
    // The deleted entry can no longer be picked.
    m_strSelectedId.clear();
    OnBnClickedSearch();
}

bool CGRVDlgFind::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_ctlText && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnBnClickedSearch();
            return true;
        }
    }
    if (watched == m_ctlResults->viewport()) {
        const auto type = event->type();
        if (type == QEvent::MouseButtonRelease || type == QEvent::MouseButtonDblClick) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            // The row under the pointer is the one picked; a click beside
            // every row takes the selection away.
            const QModelIndex at = m_ctlResults->indexAt(mouse->position().toPoint());
            if (at.isValid())
                m_ctlResults->selectRow(at.row());
            else
                m_ctlResults->clearSelection();
            if (type == QEvent::MouseButtonRelease)
                OnClickResults();
            else
                OnDblclkResults();
        }
    }
    return QDialog::eventFilter(watched, event);
}
