// The main window's entry form and entries list: starting, saving, finding,
// closing and clearing an entry, and loading the one picked in the list.
#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLineEdit>
#include <QTimeEdit>
#include <QTreeWidget>
#include <iterator>
#include <optional>

#include "app/shell/DlgControls.h"
#include "app/shell/FormTexts.h"
#include "app/shell/GRVDlg.h"
#include "app/shell/GRVDlgFind.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/store/JournalTypes.h"
#include "platform/ui/Seams.h"

using namespace grv;
using platform::ui::GetPrompter;

namespace {

struct ListColumn {
    const char* heading;
    int width;
    Qt::Alignment align;
};

const ListColumn kEntryColumns[] = {
    {"Date", 68, Qt::AlignLeft}, {"Subject", 195, Qt::AlignLeft}, {"C", 22, Qt::AlignHCenter},
    {"L", 22, Qt::AlignHCenter}, {"A", 22, Qt::AlignHCenter},     {"W", 22, Qt::AlignHCenter},
};
constexpr int kEntryIdRole = Qt::UserRole;

QString PainText(int level) {
    return QString::number(level);
}

} // namespace

void CGRVDlg::WireEntryForm() {
    CreateTrendChart();
    connect(m_ctlTypeList, &QComboBox::currentIndexChanged, this, &CGRVDlg::OnTypeSelChange);
    connect(m_ctlDate, &QDateEdit::dateChanged, this, &CGRVDlg::OnDateChange);
    connect(m_ctlDate, &QDateEdit::editingFinished, this, &CGRVDlg::OnDateKillFocus);
    connect(m_ctlEntryList, &QTreeWidget::itemSelectionChanged, this, &CGRVDlg::OnEntryListChanged);
    WireDetails();
}

void CGRVDlg::UnwireEntryForm() {
    for (QObject* sender : std::initializer_list<QObject*>{m_ctlTypeList, m_ctlDate, m_ctlEntryList})
        disconnect(sender, nullptr, this, nullptr);
    UnwireDetails();
}

void CGRVDlg::InitEntryList() {
    QStringList headings;
    for (const ListColumn& c : kEntryColumns)
        headings << QString::fromLatin1(c.heading);
    m_ctlEntryList->setColumnCount(static_cast<int>(headings.size()));
    m_ctlEntryList->setHeaderLabels(headings);
    m_ctlEntryList->setUniformRowHeights(true);
    m_ctlEntryList->setAllColumnsShowFocus(true);
    QHeaderView* header = m_ctlEntryList->header();
    header->setStretchLastSection(false);
    header->setSectionsClickable(false);
    const QFontMetrics fm(m_ctlEntryList->font());
    // The widths are the least; a date "12-31 23:59" is never cut.
    const int dateWidth = fm.horizontalAdvance(QStringLiteral("00-00 00:00")) + 16;
    const int levelWidth = fm.horizontalAdvance(QStringLiteral("10")) + 14;
    for (int i = 0; i < m_ctlEntryList->columnCount(); ++i) {
        const ListColumn& c = kEntryColumns[i];
        int width = c.width;
        if (i == 0)
            width = std::max(width, dateWidth);
        if (c.align == Qt::AlignHCenter)
            width = std::max(width, levelWidth);
        header->resizeSection(i, width);
        // The subject takes what the list's width leaves, so every level shows.
        if (i == 1)
            header->setSectionResizeMode(i, QHeaderView::Stretch);
        m_ctlEntryList->headerItem()->setTextAlignment(i, c.align | Qt::AlignVCenter);
    }
}

void CGRVDlg::RefreshEntryList() {
    {
        // Emptying the list is not a choice of the user: no entry is loaded.
        // Emptied first, so no row of another journal (or of this one before
        // it failed) can be picked and acted on in this journal.
        const QSignalBlocker quiet(m_ctlEntryList);
        m_ctlEntryList->clear();
    }
    if (!m_db.IsOpen())
        return;
    ListRows rows;
    if (!m_db.FillEntryList("*", std::string(), rows)) {
        GetPrompter().Tell(this,
                           QString::fromLatin1(kEntryListFailed).arg(QString::fromStdString(m_db.GetLastErrorText())),
                           QString::fromLatin1(kTitleGorvane));
        return;
    }
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(rows.size()));
    for (const ListRow& row : rows) {
        auto* item = new QTreeWidgetItem;
        for (int i = 0; i < static_cast<int>(row.texts.size()); ++i) {
            item->setText(i, QString::fromStdString(row.texts[i]));
            if (kEntryColumns[i].align != Qt::AlignLeft)
                item->setTextAlignment(i, kEntryColumns[i].align | Qt::AlignVCenter);
        }
        item->setData(0, kEntryIdRole, row.data.value_or(0));
        items << item;
    }
    const QSignalBlocker quiet(m_ctlEntryList);
    m_ctlEntryList->addTopLevelItems(items);
}

void CGRVDlg::TakeFormIntoMembers() {
    m_dtDate = QDateTime(m_ctlDate->date(), m_dtDate.time());
    m_dtTime = QDateTime(m_dtTime.date(), m_ctlTime->time());
}

std::string CGRVDlg::FormTimestamp() const {
    const QDate date = m_ctlDate->date();
    const QTime time = m_ctlTime->time();
    return MakeTimestampText({date.year(), date.month(), date.day(), time.hour(), time.minute(), time.second()});
}

QString CGRVDlg::GetDateText() const {
    const std::string ts = FormTimestamp();
    return QString::fromStdString(ts.substr(0, ts.find(' ')));
}

QString CGRVDlg::GetTimeText() const {
    const std::string ts = FormTimestamp();
    return QString::fromStdString(ts.substr(ts.find(' ') + 1));
}

void CGRVDlg::ClearForm(int summary) {
    m_entry.Reset();
    TakeFormIntoMembers();
    if (summary) {
        float worst = 0, lowest = 0, current = 0;
        if (m_db.IsOpen() && m_db.GetPainSummary(worst, lowest, current)) {
            m_ctlWorstPain->setText(QString::asprintf("%.1f", worst));
            m_ctlAveragePain->setText(QString::asprintf("%.1f", current));
            m_ctlLowestPain->setText(QString::asprintf("%.1f", lowest));
        } else {
            // No journal or no entries: no summary, and none of another
            // journal's either, or the next save would store it as this entry's.
            m_ctlWorstPain->clear();
            m_ctlAveragePain->clear();
            m_ctlLowestPain->clear();
        }
    } else {
        m_ctlWorstPain->clear();
        m_ctlAveragePain->clear();
        m_ctlLowestPain->clear();
    }
    m_ctlCurrentPain->clear();
    const QDateTime now = QDateTime::currentDateTime();
    {
        // Setting the present time is no date the user chose.
        const QSignalBlocker quiet(m_ctlDate);
        m_ctlDate->setDate(now.date());
    }
    m_ctlTime->setTime(now.time());
    m_dtDate = m_dtTime = now;
    m_bNewEntry = 1;
}

void CGRVDlg::ResetEntryRecords() {
    m_entry.Reset();
    m_entryActions.Reset();
    m_entryMeds.Reset();
    m_entryMood.Reset();
    m_entryQuestions.Reset();
    m_entrySideEff.Reset();
    m_medicine.Reset();
}

void CGRVDlg::OnTypeSelChange() {
    // Also runs for the list's filling at start, so the type shown is the
    // type saved; an empty list shows none.
    if (m_ctlTypeList->currentIndex() < 0) {
        m_nEntryType = 0;
        return;
    }
    if (const int code = TypeCodeFromName(m_ctlTypeList->currentText()))
        m_nEntryType = code;
}

void CGRVDlg::OnNewEntry() {
    ClearForm(1);
    m_bNewEntry = 1;
    if (!m_db.IsOpen())
        GetPrompter().Tell(this, QString::fromLatin1(kNeedDbForNewEntry));
    SendUsageStat(QString::fromLatin1(kUsageNewEntry));
}

int CGRVDlg::SaveFormEntry() {
    if (!m_db.IsOpen()) {
        GetPrompter().Tell(this, QString::fromLatin1(kNeedDbForSave), QString::fromLatin1(kTitleGorvane));
        return 0;
    }
    // Leaving the date asks about one in the future; a save made with the
    // focus still in it (the toolbar's buttons and shortcuts take none)
    // asks before anything is stored, so that No stores nothing.
    if (focusWidget() == m_ctlDate && m_ctlDate->date() != m_dateKept) {
        if (!ConfirmFormDate())
            return 0;
        m_dateKept = m_ctlDate->date();
    }
    TakeFormIntoMembers();
    // Every level must be one the user gave: an empty edit is not 0. The
    // store refuses a level outside the scale as well; the form says so in
    // the user's words, before anything of the entry changes.
    const struct {
        QLineEdit* edit;
        const char* name;
        int CEntry::* field;
    } levels[] = {{m_ctlWorstPain, kPainNameWorst, &CEntry::wpl},
                  {m_ctlAveragePain, kPainNameAverage, &CEntry::apl},
                  {m_ctlLowestPain, kPainNameLowest, &CEntry::lpl},
                  {m_ctlCurrentPain, kPainNameCurrent, &CEntry::cpl}};
    int values[std::size(levels)] = {};
    for (size_t i = 0; i < std::size(levels); ++i) {
        const QString text = levels[i].edit->text();
        const std::optional<int> level =
            text.isEmpty() ? std::nullopt : ScaleNumber(text, kPainLevelMin, kPainLevelMax);
        if (!level) {
            const QString why = QString::fromLatin1(text.isEmpty() ? kPainLevelEmpty : kPainOutOfRange)
                                    .arg(QString::fromLatin1(levels[i].name));
            GetPrompter().Tell(this, why, QString::fromLatin1(kTitleGorvane));
            return 0;
        }
        values[i] = *level;
    }
    m_entry.ts = FormTimestamp();
    for (size_t i = 0; i < std::size(levels); ++i)
        m_entry.*levels[i].field = values[i];
    if (m_entry.sbj.empty())
        m_entry.sbj = CJournalDb::GetTypeDisplayName(m_nEntryType);
    if (m_db.SaveEntry(m_entry)) {
        // Every road that saves the form (Save, Close, the automatic save on
        // leaving "right NOW", the toolbar's) shows the entry in the chart.
        RefreshTrend();
        return 1;
    }
    GetPrompter().Tell(this, QString::fromStdString(m_db.GetLastErrorText()), QString::fromLatin1(kTitleGorvane));
    return 0;
}

void CGRVDlg::OnSaveEntry() {
    if (!SaveFormEntry())
        return;
    m_bNewEntry = 0;
    RefreshEntryList();
    if (m_prefs.clearAfterSave)
        ClearForm(1);
}

void CGRVDlg::OnCloseEntry() {
    if (!m_db.IsOpen()) {
        GetPrompter().Tell(this, QString::fromLatin1(kNeedDbForClose));
        return;
    }
    // A stored entry keeps what the form shows; a new one was never meant
    // to be stored by closing it.
    if (m_entry.id >= 1) {
        if (!SaveFormEntry())
            return;
        RefreshEntryList();
    }
    ClearForm(1);
}

void CGRVDlg::ShowEntryInForm() {
    // A timestamp that is no date leaves the pickers as they are.
    if (const auto when = SplitTimestampText(m_entry.ts)) {
        const QSignalBlocker quiet(m_ctlDate);
        m_ctlDate->setDate(QDate(when->year, when->month, when->day));
        m_ctlTime->setTime(QTime(when->hour, when->minute, when->second));
    }
    m_ctlLowestPain->setText(PainText(m_entry.lpl));
    m_ctlCurrentPain->setText(PainText(m_entry.cpl));
    m_ctlAveragePain->setText(PainText(m_entry.apl));
    m_ctlWorstPain->setText(PainText(m_entry.wpl));
    TakeFormIntoMembers();
}

void CGRVDlg::OnEntryListChanged() {
    const QList<QTreeWidgetItem*> selected = m_ctlEntryList->selectedItems();
    if (selected.isEmpty())
        return;
    const int id = selected.first()->data(0, kEntryIdRole).toInt();
    if (m_db.LoadEntry(IdText(id), m_entry))
        ShowEntryInForm();
}

int CGRVDlg::RefreshDetails() {
    if (!m_db.IsOpen() || m_entry.id < 1)
        return 0;
    TakeFormIntoMembers();
    return 1;
}

void CGRVDlg::OnFindEntry() {
    if (!m_db.IsOpen()) {
        GetPrompter().Tell(this, QString::fromLatin1(kNeedDbForFind));
        return;
    }
    CGRVDlgFind dlg(this);
    dlg.m_pDb = &m_db;
    dlg.m_bSearchOnShow = 1;
    if (dlg.exec() == IDOK) {
        const std::string id = dlg.m_strSelectedId.toStdString();
        // Select without a result picked hands back no id: nothing to load.
        if (IdFromText(id) >= 1 && m_db.LoadEntry(id, m_entry))
            ShowEntryInForm();
        RefreshDetails();
    }
    RefreshTrend();
    RefreshEntryList();
}

void CGRVDlg::OnDateChange() {
    m_dateKept = QDate();
    TakeFormIntoMembers();
}

void CGRVDlg::OnDateKillFocus() {
    // A menu opened or another window gone to (the question's own box
    // among them) is no leaving of the date: the question comes when the
    // focus moves on in this window, or with the save.
    const QWidget* to = QApplication::focusWidget();
    if (QApplication::activePopupWidget() || !to || to->window() != this)
        return;
    if (m_dateKept.isValid() && m_ctlDate->date() == m_dateKept) {
        // Asked while the focus stayed; once it leaves, leaving asks again.
        if (focusWidget() != m_ctlDate)
            m_dateKept = QDate();
        TakeFormIntoMembers();
        return;
    }
    if (ConfirmFormDate() && focusWidget() == m_ctlDate)
        m_dateKept = m_ctlDate->date();
}

bool CGRVDlg::ConfirmFormDate() {
    TakeFormIntoMembers();
    // A question deserves both answers; No takes the user back to the date,
    // which is left as it is either way.
    if (!m_db.IsOpen() || m_dtDate.date() <= QDate::currentDate())
        return true;
    if (GetPrompter().AskYesNo(this, QString::fromLatin1(kFutureDate), QString::fromLatin1(kTitleGorvane),
                               platform::ui::Icon::None))
        return true;
    m_ctlDate->setFocus();
    return false;
}
