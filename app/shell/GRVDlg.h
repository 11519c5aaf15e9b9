#pragma once
// The main window: entry form, entries list, pain-trend strip, menus,
// toolbar and tray icon. It runs modally for the life of the program and
// hides to the tray instead of closing when asked to.
#include <QDateTime>
#include <QDialog>
#include <QIcon>
#include <QString>
#include <QSystemTrayIcon>
#include <map>

#include "app/shell/Profile.h"
#include "app/shell/UsageWorkers.h"
#include "app/store/EntryRecords.h"
#include "app/store/JournalDb.h"
#include "app/store/Medicine.h"

class COScopeCtrl;
class QAction;
class QComboBox;
class QFrame;
class QGroupBox;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPushButton;
class QDateEdit;
class QTimeEdit;
class QToolBar;
class QTreeWidget;

class CGRVDlg : public QDialog {
    Q_OBJECT

public:
    explicit CGRVDlg(QWidget* parent = nullptr);
    ~CGRVDlg() override;

    // Hands the label to the usage reporter on a worker of its own.
    void SendUsageStat(QString label);

    // The action of a command id; null when the window has none.
    QAction* CommandAction(int id) const;
    // Runs the handler of a command, as choosing it does; false when the
    // command is unknown or disabled.
    bool OnCommand(int id);
    QMenu* TrayMenu() const { return m_pTrayMenu; }
    QMenu* EntriesContextMenu() const { return m_pEntriesMenu; }
    QToolBar* ToolBar() const { return m_wndToolBar; }
    bool HasTrayIcon() const { return m_pTrayIcon != nullptr; }
    CJournalDb& Db() { return m_db; }
    const QString& UsageLabel() const { return m_strUsageLabel; }
    COScopeCtrl* TrendChart() const { return m_wndGraph; }

    // Tool tip text of a command: its string, cut to 79 characters.
    static QString OnToolTipText(int id);

    // Handlers of this window's frame.
    void OnClose();
    void QuitApp();
    void OnExit();
    void OnTrayShow();
    void OnTrayHide();
    void OnTrayNewEntry();
    void OnTrayNotify(QSystemTrayIcon::ActivationReason reason);
    void ShowTrayMenu();
    void OnContextMenu(const QPoint& globalPos);
    void OnHiddenDetailsButton();
    void OnPreferences();
    void SetAutoStart(int flag);

    // Handlers that other parts of the window fill; their commands stay
    // disabled until they do.
    void OnNewEntry();
    void OnFindEntry();
    void OnSaveEntry();
    void OnCloseEntry();
    void OnDeleteEntry();
    void OnToolbarMedicineCabinet();
    void OnMedicineCabinet();
    void OnActionDetails();
    void OnMoodDetails();
    void OnMedicineDetails();
    void OnSideEffectDetails();
    void OnQuestionDetails();
    void OnNewPainScore();
    void OnEditEntryText();
    void OnDetailsActions();
    void OnDetailsJournal();
    void OnDetailsMedicines();
    void OnDetailsMood();
    void OnDetailsSideEffects();
    void OnDetailsQuestions();
    void OnDatabaseNew();
    void OnDatabaseOpen();
    void OnDatabaseClose();
    void OnBackup();
    void OnRestore();
    void OnFilePrint();
    void ShowGraph();
    void HideGraph();
    void OnToggleGraph();
    void OnTrendCurrent();
    void OnTrendAverage();
    void OnTrendLowest();
    void OnTrendWorst();
    void OnAbout();
    void OnHelpContents();
    void OnReports();
    void OnRangeKind0();
    void OnRangeKindDates();
    void OnRangeKind2();
    void OnRangeKind3();
    int RefreshTrend();
    void InitEntryList();
    void ClearForm(int summary);
    void RefreshEntryList();
    // Entry form (GRVDlgEntryForm.cpp).
    void OnTypeSelChange();
    void OnDateChange();
    void OnDateKillFocus();
    // The question about a date in the future, as leaving the date asks it;
    // false when the user answers No, and is back in the date.
    bool ConfirmFormDate();
    void OnEntryListChanged();
    // 1 when the store saved the form's entry, which the strip chart then
    // shows; a failure has been shown.
    int SaveFormEntry();
    int RefreshDetails();
    // The form's date and time as Timestamp text, and its two halves.
    std::string FormTimestamp() const;
    QString GetDateText() const;
    QString GetTimeText() const;
    // Entry details (GRVDlgDetails.cpp).
    void OnCurrentPainKillFocus();
    // 1..6 for the six type names; 0 for any other text.
    static int TypeCodeFromName(const QString& name);
    void OnEntryListActivate();
    int OfferTypeDetails();
    // edit 0: a new record; 1: this window's record of that kind.
    int OpenActionsDialog(int edit);
    int OpenEntryTextDialog(int edit);
    int OpenMedicineDialog(int edit);
    int OpenMoodDialog(int edit);
    int OpenQuestionDialog(int edit);
    int OpenSideEffectDialog(int edit);
    // Runs the first-run wizard; true with the journal it made or chose.
    virtual bool RunFirstTimeWizard(QString& fileName, QString& folder);
    // Closes the journal and empties the window as Database Close does;
    // false when the journal is still open afterwards.
    bool CloseJournalAsDatabaseClose();

    void setVisible(bool visible) override;

    // Preferences, as last read from the profile. Its defaultType also holds
    // the type text chosen in the form.
    grv::Prefs m_prefs;
    // Never set: only DisAnonStats decides whether reports are sent.
    int m_bStatsSecondFlag = 0;

    int m_bNewEntry = 0;
    int m_nEntryType = 0;
    int m_nTrendMode = -1;
    // Set by the range commands; nothing reads it.
    int m_nRangeKind = 0;

    // The entry being edited and one record of each detail kind.
    CEntry m_entry;
    CEntryActions m_entryActions;
    CEntryMeds m_entryMeds;
    CEntryMood m_entryMood;
    CEntryQuestions m_entryQuestions;
    CEntrySideEff m_entrySideEff;
    CMedicine m_medicine;

    int m_bWindowVisible = 1;
    int m_bQuitting = 0;

public slots:
    // Enter and Esc end nothing.
    void accept() override {}
    void reject() override {}

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    using Handler = void (CGRVDlg::*)();
    struct Route {
        int id;
        Handler handler;
    };
    static const Route kRoutes[];

    void BuildControls();
    void BuildMenus(QMenuBar* bar);
    void CreateToolBar();
    void CreateTrayMenu();
    void CreateEntriesMenu();
    QAction* MakeCommand(int id, const QString& text);
    void OnInitDialog();
    void OnShowWindow();
    int AddTrayIcon();
    void RemoveTrayIcon();
    void ReadPreferences();
    bool OpenJournal(const QString& fileName, const QString& folder);
    // Away to the tray, or minimised where there is no tray.
    void HideWindow();
    // Entry form, list and strip chart: controls and signals.
    void WireEntryForm();
    // The dialog's own end moves the focus: no handler may run then.
    void UnwireEntryForm();
    void CreateTrendChart();
    void WireDetails();
    void UnwireDetails();
    // A journal open and the current entry stored, else the type's refusal.
    bool CanAddDetails(int type);
    // The toolbar's check: with AutoSaveEntry on, the form is saved first.
    bool ToolbarGuard(int type);
    // One run of each kind's dialog; true when it asks to be opened again.
    bool RunActionsDialog(int edit);
    bool RunMedicineDialog(int edit);
    // The detail list of a kind when the entry has some, else a new record.
    void EditDetailsOfType(int type);
    void TakeFormIntoMembers();
    // Puts the current entry's time and pain levels into the form.
    void ShowEntryInForm();
    void ResetEntryRecords();
    // The window of a journal just opened, or of none.
    void ShowOpenedJournal();
    void ShowNoJournal();
    // Opens folder/fileName in place of the current journal, which stays
    // open when the new one cannot be made or opened; the failure is shown.
    bool SwitchJournal(const QString& folder, const QString& fileName, int create);
    void ShowAndRaise();

    QIcon m_hIcon;
    QTreeWidget* m_ctlEntryList = nullptr;
    CJournalDb m_db;
    QToolBar* m_wndToolBar = nullptr;
    QComboBox* m_ctlTypeList = nullptr;
    QLineEdit* m_ctlWorstPain = nullptr;
    QLineEdit* m_ctlAveragePain = nullptr;
    QLineEdit* m_ctlLowestPain = nullptr;
    QLineEdit* m_ctlCurrentPain = nullptr;
    QGroupBox* m_ctlEntriesGroup = nullptr;
    QGroupBox* m_ctlTrendGroup = nullptr;
    QFrame* m_ctlTrendFrame = nullptr;
    QDateEdit* m_ctlDate = nullptr;
    QTimeEdit* m_ctlTime = nullptr;
    QDateTime m_dtDate;
    QDateTime m_dtTime;
    // The date asked about while the focus stayed in it (a save, or Enter),
    // and kept: neither a save nor leaving the date asks about it again.
    QDate m_dateKept;
    QPushButton* m_btnHiddenDetails = nullptr;
    QString m_strUsageLabel;
    // Why the last journal could not be opened at start, told once shown.
    QString m_strStartFailure;
    COScopeCtrl* m_wndGraph = nullptr;

    std::map<int, QAction*> m_actions;
    QMenu* m_pTrayMenu = nullptr;
    QMenu* m_pEntriesMenu = nullptr;
    QSystemTrayIcon* m_pTrayIcon = nullptr;
    bool m_bInitialised = false;
    bool m_bShownOnce = false;
    CUsageWorkers m_usageWorkers;
};
