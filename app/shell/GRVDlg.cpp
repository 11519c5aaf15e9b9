#include "app/shell/GRVDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QDateEdit>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QPushButton>
#include <QTimeEdit>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/shell/FormTexts.h"
#include "app/shell/JournalFiles.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/shell/Resources.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/StringTable.h"
#include "app/shell/TypeList.h"
#include "platform/ui/Seams.h"

using namespace grv;

// Which handler each command reaches.
const CGRVDlg::Route CGRVDlg::kRoutes[] = {
    {ID_FILE_EXIT, &CGRVDlg::OnExit},
    {ID_TRAY_EXIT, &CGRVDlg::OnExit},
    {ID_TRAY_NEW_ENTRY, &CGRVDlg::OnTrayNewEntry},
    {ID_TRAY_SHOW, &CGRVDlg::OnTrayShow},
    {ID_TRAY_HIDE, &CGRVDlg::OnTrayHide},
    {ID_EDIT_PREFERENCES, &CGRVDlg::OnPreferences},
    {ID_FILE_NEW_ENTRY, &CGRVDlg::OnNewEntry},
    {ID_TB_NEW_ENTRY, &CGRVDlg::OnNewEntry},
    {ID_FILE_FIND_ENTRY, &CGRVDlg::OnFindEntry},
    {ID_TB_FIND, &CGRVDlg::OnFindEntry},
    {ID_TOOLS_FIND_ENTRIES, &CGRVDlg::OnFindEntry},
    {ID_FILE_SAVE_ENTRY, &CGRVDlg::OnSaveEntry},
    {ID_TB_SAVE_ENTRY, &CGRVDlg::OnSaveEntry},
    {ID_FILE_CLOSE_ENTRY, &CGRVDlg::OnCloseEntry},
    {ID_TB_DELETE_ENTRY, &CGRVDlg::OnDeleteEntry},
    {ID_ENTRY_DELETE, &CGRVDlg::OnDeleteEntry},
    {ID_TB_MEDICINE_CABINET, &CGRVDlg::OnToolbarMedicineCabinet},
    {ID_TOOLS_MEDICINE_CABINET, &CGRVDlg::OnMedicineCabinet},
    {ID_TB_ACTIONS, &CGRVDlg::OnActionDetails},
    {ID_TB_MOOD, &CGRVDlg::OnMoodDetails},
    {ID_TB_MEDICINES, &CGRVDlg::OnMedicineDetails},
    {ID_TB_SIDE_EFFECTS, &CGRVDlg::OnSideEffectDetails},
    {ID_TB_QUESTION, &CGRVDlg::OnQuestionDetails},
    {ID_TRAY_NEW_PAIN_SCORE, &CGRVDlg::OnNewPainScore},
    {ID_ENTRY_EDIT, &CGRVDlg::OnEditEntryText},
    {ID_DETAILS_ACTIONS, &CGRVDlg::OnDetailsActions},
    {ID_DETAILS_JOURNAL, &CGRVDlg::OnDetailsJournal},
    {ID_DETAILS_MEDICINES, &CGRVDlg::OnDetailsMedicines},
    {ID_DETAILS_MOOD, &CGRVDlg::OnDetailsMood},
    {ID_DETAILS_SIDE_EFFECTS, &CGRVDlg::OnDetailsSideEffects},
    {ID_DETAILS_QUESTIONS, &CGRVDlg::OnDetailsQuestions},
    {ID_DATABASE_NEW, &CGRVDlg::OnDatabaseNew},
    {ID_DATABASE_OPEN, &CGRVDlg::OnDatabaseOpen},
    {ID_DATABASE_CLOSE, &CGRVDlg::OnDatabaseClose},
    {ID_DATABASE_BACKUP, &CGRVDlg::OnBackup},
    {ID_DATABASE_RESTORE, &CGRVDlg::OnRestore},
    {ID_FILE_PRINT, &CGRVDlg::OnFilePrint},
    {ID_TB_PRINT, &CGRVDlg::OnFilePrint},
    {ID_GRAPH_SHOW, &CGRVDlg::ShowGraph},
    {ID_GRAPH_HIDE, &CGRVDlg::HideGraph},
    {ID_TB_TOGGLE_GRAPH, &CGRVDlg::OnToggleGraph},
    {ID_TREND_CURRENT, &CGRVDlg::OnTrendCurrent},
    {ID_TREND_AVERAGE, &CGRVDlg::OnTrendAverage},
    {ID_TREND_LOWEST, &CGRVDlg::OnTrendLowest},
    {ID_TREND_WORST, &CGRVDlg::OnTrendWorst},
    {ID_HELP_ABOUT, &CGRVDlg::OnAbout},
    {ID_HELP_CONTENTS, &CGRVDlg::OnHelpContents},
    {ID_TOOLS_REPORTS, &CGRVDlg::OnReports},
    {ID_RANGE_KIND0, &CGRVDlg::OnRangeKind0},
    {ID_RANGE_KIND_DATES, &CGRVDlg::OnRangeKindDates},
    {ID_RANGE_KIND2, &CGRVDlg::OnRangeKind2},
    {ID_RANGE_KIND3, &CGRVDlg::OnRangeKind3},
};

namespace {

// The five Edit items that have never done anything.
bool IsInertEditCommand(int id) {
    return id >= ID_EDIT_UNDO && id <= ID_EDIT_PASTE;
}

QString IdName(int id) {
    return QString::number(id);
}

} // namespace

CGRVDlg::CGRVDlg(QWidget* parent) : QDialog(parent) {
    InitShellResources();
    m_hIcon = AppIcon();
    setWindowTitle(QString::fromLatin1(kAppCaption));
    setWindowIcon(m_hIcon);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    m_dtDate = m_dtTime = QDateTime::currentDateTime();
    BuildControls();
}

CGRVDlg::~CGRVDlg() {
    UnwireEntryForm();
    RemoveTrayIcon();
}

QAction* CGRVDlg::MakeCommand(int id, const QString& text) {
    auto* action = new QAction(text, this);
    action->setObjectName(IdName(id));
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    m_actions[id] = action;
    return action;
}

QAction* CGRVDlg::CommandAction(int id) const {
    const auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

bool CGRVDlg::OnCommand(int id) {
    const QAction* action = CommandAction(id);
    if (!action || !action->isEnabled())
        return false;
    for (const Route& r : kRoutes) {
        if (r.id == id) {
            (this->*r.handler)();
            return true;
        }
    }
    return IsInertEditCommand(id);
}

QString CGRVDlg::OnToolTipText(int id) {
    if (id == 0 || !HasResourceString(id))
        return {};
    return LoadResourceString(id).left(79);
}

void CGRVDlg::BuildControls() {
    auto* top = new QVBoxLayout(this);
    auto* bar = new QMenuBar(this);
    BuildMenus(bar);
    top->setMenuBar(bar);
    CreateToolBar();
    if (m_wndToolBar)
        top->addWidget(m_wndToolBar);

    // Date, time and type.
    auto* dateGroup = new QGroupBox(QStringLiteral("Date "), this);
    auto* dateRow = new QHBoxLayout(dateGroup);
    m_ctlDate = new QDateEdit(m_dtDate.date(), dateGroup);
    m_ctlDate->setObjectName(IdName(IDC_DATE));
    m_ctlDate->setCalendarPopup(true);
    m_ctlDate->setAlignment(Qt::AlignRight);
    m_ctlTime = new QTimeEdit(m_dtTime.time(), dateGroup);
    m_ctlTime->setObjectName(IdName(IDC_TIME));
    m_ctlTime->setAlignment(Qt::AlignRight);
    m_ctlTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    m_ctlTypeList = new QComboBox(dateGroup);
    m_ctlTypeList->setObjectName(IdName(IDC_ENTRY_TYPE));
    dateRow->addWidget(m_ctlDate);
    dateRow->addWidget(m_ctlTime);
    dateRow->addSpacing(12);
    dateRow->addWidget(new QLabel(QStringLiteral("Type of Entry"), dateGroup));
    dateRow->addWidget(m_ctlTypeList, 1);
    top->addWidget(dateGroup);

    // The four pain levels.
    auto* painGroup = new QGroupBox(QStringLiteral("Pain Assessment"), this);
    auto* painForm = new QFormLayout(painGroup);
    // The edits take every key: a level that is no whole number 0 to 10 is
    // refused, with the reason, when the form is saved. Keys swallowed as they
    // are typed ("12" leaving "1") would store a level nobody gave.
    auto makePain = [&](int id, const char* question) {
        auto* edit = new QLineEdit(painGroup);
        edit->setObjectName(IdName(id));
        edit->setAlignment(Qt::AlignCenter);
        edit->setFixedWidth(48);
        painForm->addRow(QString::fromLatin1(question), edit);
        return edit;
    };
    m_ctlWorstPain = makePain(IDC_WORST_PAIN, "What was (is) your worst pain level?");
    m_ctlAveragePain = makePain(IDC_AVERAGE_PAIN, "What was (is) your average pain level?");
    m_ctlLowestPain = makePain(IDC_LOWEST_PAIN, "What was (is) your lowest pain level?");
    m_ctlCurrentPain = makePain(IDC_CURRENT_PAIN, "What is your pain level right NOW?");
    top->addWidget(painGroup);

    m_ctlEntriesGroup = new QGroupBox(QStringLiteral("Entries"), this);
    m_ctlEntriesGroup->setObjectName(IdName(IDC_ENTRIES_GROUP));
    auto* entriesBox = new QVBoxLayout(m_ctlEntriesGroup);
    m_ctlEntryList = new QTreeWidget(m_ctlEntriesGroup);
    m_ctlEntryList->setObjectName(IdName(IDC_ENTRY_LIST));
    m_ctlEntryList->setRootIsDecorated(false);
    m_ctlEntryList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_ctlEntryList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_ctlEntryList->setHeaderLabel(QString()); // the columns come with the list's filling
    m_ctlEntryList->setMinimumHeight(120);
    entriesBox->addWidget(m_ctlEntryList);
    top->addWidget(m_ctlEntriesGroup, 1);

    m_ctlTrendGroup = new QGroupBox(QStringLiteral("Current Pain Trend"), this);
    m_ctlTrendGroup->setObjectName(IdName(IDC_TREND_GROUP));
    auto* trendBox = new QVBoxLayout(m_ctlTrendGroup);
    m_ctlTrendFrame = new QFrame(m_ctlTrendGroup);
    m_ctlTrendFrame->setObjectName(IdName(IDC_TREND_FRAME));
    m_ctlTrendFrame->setFrameShape(QFrame::StyledPanel);
    m_ctlTrendFrame->setFixedHeight(115);
    trendBox->addWidget(m_ctlTrendFrame);
    top->addWidget(m_ctlTrendGroup);

    // Never shown: the hidden details button and the template's OK and Cancel.
    m_btnHiddenDetails = new QPushButton(QStringLiteral("X"), this);
    m_btnHiddenDetails->setObjectName(IdName(IDC_HIDDEN_DETAILS));
    m_btnHiddenDetails->setAutoDefault(false);
    m_btnHiddenDetails->hide();
    connect(m_btnHiddenDetails, &QPushButton::clicked, this, &CGRVDlg::OnHiddenDetailsButton);
    for (auto [id, text] : {std::pair{IDOK, "OK"}, std::pair{IDCANCEL, "Cancel"}}) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(IdName(id));
        b->setAutoDefault(false);
        b->hide();
    }

    CreateTrayMenu();
    CreateEntriesMenu();
    WireEntryForm();
}

void CGRVDlg::BuildMenus(QMenuBar* bar) {
    QMenu* file = bar->addMenu(QStringLiteral("File"));
    file->addAction(MakeCommand(ID_FILE_NEW_ENTRY, QStringLiteral("New Entry")));
    file->addAction(MakeCommand(ID_FILE_FIND_ENTRY, QStringLiteral("Find Entry")));
    file->addAction(MakeCommand(ID_FILE_SAVE_ENTRY, QStringLiteral("Save Entry")));
    file->addAction(MakeCommand(ID_FILE_CLOSE_ENTRY, QStringLiteral("Close Entry")));
    file->addSeparator();
    QMenu* db = file->addMenu(QStringLiteral("Database"));
    db->addAction(MakeCommand(ID_DATABASE_NEW, QStringLiteral("New")));
    db->addAction(MakeCommand(ID_DATABASE_OPEN, QStringLiteral("Open")));
    db->addAction(MakeCommand(ID_DATABASE_CLOSE, QStringLiteral("Close")));
    db->addSeparator();
    db->addAction(MakeCommand(ID_DATABASE_BACKUP, QStringLiteral("Backup")));
    db->addAction(MakeCommand(ID_DATABASE_RESTORE, QStringLiteral("Restore")));
    file->addSeparator();
    file->addAction(MakeCommand(ID_FILE_PRINT, QStringLiteral("Print")));
    file->addSeparator();
    file->addAction(MakeCommand(ID_FILE_EXIT, QStringLiteral("E&xit")));

    QMenu* edit = bar->addMenu(QStringLiteral("Edit"));
    edit->addAction(MakeCommand(ID_EDIT_UNDO, QStringLiteral("Undo")));
    edit->addAction(MakeCommand(ID_EDIT_REDO, QStringLiteral("Redo")));
    edit->addSeparator();
    edit->addAction(MakeCommand(ID_EDIT_CUT, QStringLiteral("Cut")));
    edit->addAction(MakeCommand(ID_EDIT_COPY, QStringLiteral("Copy")));
    edit->addAction(MakeCommand(ID_EDIT_PASTE, QStringLiteral("Paste")));
    edit->addSeparator();
    edit->addAction(MakeCommand(ID_EDIT_PREFERENCES, QStringLiteral("Preferences")));

    QMenu* tools = bar->addMenu(QStringLiteral("Tools"));
    tools->addAction(MakeCommand(ID_TOOLS_FIND_ENTRIES, QStringLiteral("Find Entries")));
    tools->addAction(MakeCommand(ID_TOOLS_MEDICINE_CABINET, QStringLiteral("Medicine Cabinet")));
    QMenu* graph = tools->addMenu(QStringLiteral("Pain Level Graph"));
    graph->addAction(MakeCommand(ID_GRAPH_SHOW, QStringLiteral("Show")));
    graph->addAction(MakeCommand(ID_GRAPH_HIDE, QStringLiteral("Hide")));
    graph->addSeparator();
    graph->addAction(MakeCommand(ID_TREND_CURRENT, QStringLiteral("Current Pain Level")));
    graph->addAction(MakeCommand(ID_TREND_AVERAGE, QStringLiteral("Average Pain Level")));
    graph->addAction(MakeCommand(ID_TREND_LOWEST, QStringLiteral("Lowest Pain Level")));
    graph->addAction(MakeCommand(ID_TREND_WORST, QStringLiteral("Worst Pain Level")));
    tools->addSeparator();
    tools->addAction(MakeCommand(ID_TOOLS_REPORTS, QStringLiteral("Reports")));

    QMenu* help = bar->addMenu(QStringLiteral("Help"));
    help->addAction(MakeCommand(ID_HELP_CONTENTS, QStringLiteral("Contents")));
    help->addSeparator();
    help->addAction(MakeCommand(ID_HELP_ABOUT, QStringLiteral("About")));

    // Commands no menu carries still have their handlers.
    for (int id : {ID_RANGE_KIND0, ID_RANGE_KIND_DATES, ID_RANGE_KIND2, ID_RANGE_KIND3})
        MakeCommand(id, QString());
}

void CGRVDlg::CreateToolBar() {
    static const int kButtons[12] = {ID_TB_NEW_ENTRY,        ID_TB_SAVE_ENTRY, ID_TB_DELETE_ENTRY, ID_TB_FIND,
                                     ID_TB_MEDICINE_CABINET, ID_TB_ACTIONS,    ID_TB_SIDE_EFFECTS, ID_TB_QUESTION,
                                     ID_TB_MEDICINES,        ID_TB_MOOD,       ID_TB_PRINT,        ID_TB_TOGGLE_GRAPH};
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("toolbar"));
    m_wndToolBar->setIconSize(QSize(24, 24));
    m_wndToolBar->setMovable(false);
    const QPixmap strip = ToolbarImages();
    for (int i = 0; i < 12; ++i) {
        const int id = kButtons[i];
        QAction* a = MakeCommand(id, OnToolTipText(id));
        a->setToolTip(OnToolTipText(id));
        if (strip.width() >= 24 * 12)
            a->setIcon(QIcon(strip.copy(24 * i, 0, 24, 24)));
        m_wndToolBar->addAction(a);
    }
}

void CGRVDlg::CreateTrayMenu() {
    m_pTrayMenu = new QMenu(QStringLiteral("Tray Menu"), this);
    m_pTrayMenu->addAction(MakeCommand(ID_TRAY_NEW_ENTRY, QStringLiteral("New Entry")));
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction(MakeCommand(ID_TRAY_NEW_PAIN_SCORE, QStringLiteral("New Pain Score")));
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction(MakeCommand(ID_TRAY_HIDE, QStringLiteral("Hide")));
    m_pTrayMenu->addAction(MakeCommand(ID_TRAY_SHOW, QStringLiteral("Show")));
    m_pTrayMenu->addSeparator();
    m_pTrayMenu->addAction(MakeCommand(ID_TRAY_EXIT, QStringLiteral("Exit")));
}

void CGRVDlg::CreateEntriesMenu() {
    m_pEntriesMenu = new QMenu(QStringLiteral("EntriesContext"), this);
    m_pEntriesMenu->addAction(MakeCommand(ID_ENTRY_EDIT, QStringLiteral("Edit")));
    m_pEntriesMenu->addSeparator();
    QMenu* details = m_pEntriesMenu->addMenu(QStringLiteral("Details"));
    details->addAction(MakeCommand(ID_DETAILS_ACTIONS, QStringLiteral("Actions")));
    details->addAction(MakeCommand(ID_DETAILS_JOURNAL, QStringLiteral("Journal")));
    details->addAction(MakeCommand(ID_DETAILS_MEDICINES, QStringLiteral("Medicines")));
    details->addAction(MakeCommand(ID_DETAILS_MOOD, QStringLiteral("Mood")));
    details->addAction(MakeCommand(ID_DETAILS_QUESTIONS, QStringLiteral("Questions")));
    details->addAction(MakeCommand(ID_DETAILS_SIDE_EFFECTS, QStringLiteral("Side Effects")));
    m_pEntriesMenu->addSeparator();
    m_pEntriesMenu->addAction(MakeCommand(ID_ENTRY_DELETE, QStringLiteral("Delete")));
}

void CGRVDlg::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    // Hidden by the tray's Hide: nothing but Show, New Entry or a double
    // click brings the window back.
    if (visible && !m_bWindowVisible)
        return;
    QDialog::setVisible(visible);
    if (visible && !m_bShownOnce) {
        m_bShownOnce = true;
        QMetaObject::invokeMethod(this, &CGRVDlg::OnShowWindow, Qt::QueuedConnection);
    }
}

void CGRVDlg::ReadPreferences() {
    m_prefs = ReadPrefs();
}

bool CGRVDlg::OpenJournal(const QString& fileName, const QString& folder) {
    m_db.SetFileName(fileName.toStdString());
    m_db.SetFolder(folder.toStdString());
    if (!m_db.Open(0))
        return false;
    setWindowTitle(QString::fromLatin1(kCaptionWithFile).arg(QString::fromStdString(m_db.GetFileName())));
    m_nTrendMode = 3;
    RefreshTrend();
    return true;
}

void CGRVDlg::OnInitDialog() {
    ReadPreferences();
    const QString lastFile = GetProfileString(kSectionMru, kLastFile);
    const QString lastPath = GetProfileString(kSectionMru, kLastPath);
    // A failure leaves the window without a journal. A journal that is there
    // but refused (damaged, or no journal) is told once the window shows, as
    // Database Open tells it; one moved away since is passed over.
    if (!lastFile.isEmpty() && !lastPath.isEmpty() && m_prefs.openLastUsedDB && !OpenJournal(lastFile, lastPath) &&
        QFileInfo::exists(QString::fromStdString(m_db.GetFullPath())))
        m_strStartFailure = QString::fromLatin1(kDbOpenFailed).arg(QString::fromStdString(m_db.GetLastErrorText()));
    // A restore stopped midway by an earlier version left the last journal
    // only under the name it was set aside as: the user is told where.
    if (!lastFile.isEmpty() && !lastPath.isEmpty()) {
        const std::string last = QFile::encodeName(lastPath + QLatin1Char('/') + lastFile).toStdString();
        const std::string aside = FindSetAsideJournal(last);
        if (!aside.empty()) {
            const QString journal = QFile::decodeName(last.c_str()), copy = QFile::decodeName(aside.c_str());
            // Its hot -journal or its -wal goes back with it, or it is
            // half-saved or misses entries.
            QStringList sides;
            for (const std::string& side : SetAsideSideFiles(aside))
                sides << QFile::decodeName(side.c_str());
            m_strStartFailure = sides.isEmpty() ? QString::fromLatin1(kJournalSetAside).arg(journal, copy)
                                                : QString::fromLatin1(kJournalSetAsideWithSides)
                                                      .arg(journal, copy, sides.join(QLatin1String(", ")));
        }
    }
    AddTrayIcon();
    FillTypeList(m_ctlTypeList);
    SelectTypeByPrefix(m_ctlTypeList, m_prefs.defaultType);
    InitEntryList();
    ClearForm(1);
}

void CGRVDlg::OnShowWindow() {
    if (!m_strStartFailure.isEmpty()) {
        platform::ui::GetPrompter().Tell(this, m_strStartFailure, QString::fromLatin1(kTitleGorvane));
        m_strStartFailure.clear();
    }
    // Offered once, at the first show of a run.
    if (m_prefs.firstTimeWiz) {
        QString fileName, folder;
        if (RunFirstTimeWizard(fileName, folder) && !fileName.isEmpty() && !folder.isEmpty() &&
            OpenJournal(fileName, folder)) {
            m_prefs.firstTimeWiz = 0;
            WriteProfileInt(kSectionPrefs, kFirstTimeWiz, 0);
        }
    }
    RefreshEntryList();
}

int CGRVDlg::AddTrayIcon() {
    if (m_pTrayIcon)
        return 1;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return 0;
    m_pTrayIcon = new QSystemTrayIcon(m_hIcon, this);
    m_pTrayIcon->setToolTip(LoadResourceString(IDS_TRAY_TIP).left(127));
    m_pTrayIcon->setContextMenu(m_pTrayMenu);
    connect(m_pTrayIcon, &QSystemTrayIcon::activated, this, &CGRVDlg::OnTrayNotify);
    m_pTrayIcon->show();
    return 1;
}

void CGRVDlg::RemoveTrayIcon() {
    delete m_pTrayIcon;
    m_pTrayIcon = nullptr;
}

void CGRVDlg::OnTrayNotify(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick)
        ShowAndRaise();
    else if (reason == QSystemTrayIcon::Context)
        ShowTrayMenu();
}

void CGRVDlg::ShowTrayMenu() {
    // Some trays open the menu themselves before they report the click.
    if (!m_pTrayMenu->isVisible())
        m_pTrayMenu->popup(QCursor::pos());
}

void CGRVDlg::ShowAndRaise() {
    m_bWindowVisible = 1;
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

void CGRVDlg::HideWindow() {
    if (m_pTrayIcon && m_pTrayIcon->isVisible())
        hide();
    else
        showMinimized(); // no tray to come back from
}

void CGRVDlg::OnTrayShow() {
    ShowAndRaise();
}

void CGRVDlg::OnTrayHide() {
    if (m_pTrayIcon && m_pTrayIcon->isVisible()) {
        m_bWindowVisible = 0;
        hide();
    } else {
        showMinimized();
    }
}

void CGRVDlg::OnTrayNewEntry() {
    ShowAndRaise();
    SendUsageStat(QString::fromLatin1(kUsageTrayNewEntry));
    m_ctlTypeList->setFocus();
}

void CGRVDlg::OnExit() {
    QuitApp();
}

void CGRVDlg::closeEvent(QCloseEvent* event) {
    // The window ends only through QuitApp, which ends the dialog itself.
    event->ignore();
    OnClose();
}

void CGRVDlg::OnClose() {
    if (m_prefs.closeToTray && !m_bQuitting)
        HideWindow();
    else
        QuitApp();
}

void CGRVDlg::QuitApp() {
    if (!platform::ui::GetPrompter().AskYesNo(this, QString::fromLatin1(kQuitQuestion),
                                              QString::fromLatin1(kQuitTitle)))
        return;
    m_bQuitting = 1;
    RemoveTrayIcon();
    SendUsageStat(QString::fromLatin1(kUsageCloseApp));
    done(IDOK);
}

void CGRVDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The keyboard's menu key has no point on the list: nothing is shown.
    if (event->reason() != QContextMenuEvent::Keyboard)
        OnContextMenu(event->globalPos());
}

void CGRVDlg::OnContextMenu(const QPoint& globalPos) {
    if (!m_ctlEntryList->isVisible())
        return;
    const QRect list(m_ctlEntryList->mapToGlobal(QPoint(0, 0)), m_ctlEntryList->size());
    if (list.contains(globalPos))
        m_pEntriesMenu->popup(globalPos);
}

void CGRVDlg::OnHiddenDetailsButton() {
    const QString type = m_ctlTypeList->currentIndex() < 0 ? QString() : m_ctlTypeList->currentText();
    if (type == QLatin1String("Medicine"))
        OnMedicineDetails();
    else if (type == QLatin1String("Question"))
        OnQuestionDetails();
}

void CGRVDlg::SendUsageStat(QString label) {
    m_strUsageLabel = label;
    // DisAnonStats alone silences every report.
    if (m_prefs.disAnonStats != 0)
        return;
    m_usageWorkers.Start(label.toStdString(), platform::ui::GetUsageSink());
}
