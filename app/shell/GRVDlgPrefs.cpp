#include "app/shell/GRVDlgPrefs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/shell/GRVDlg.h"
#include "app/shell/Profile.h"
#include "app/shell/Resource.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/TypeList.h"
#include "app/shell/WinStartup.h"

using namespace grv;

CGRVDlgPrefs::CGRVDlgPrefs(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Preferences"));
    auto* top = new QVBoxLayout(this);
    auto check = [&](int id, const char* text) {
        auto* box = new QCheckBox(QString::fromLatin1(text), this);
        box->setObjectName(QString::number(id));
        top->addWidget(box);
        return box;
    };
    m_ctlOpenLastUsedDB = check(IDC_PREF_OPEN_LAST, "Automatically open last used database.");
    m_ctlClearAfterSave = check(IDC_PREF_CLEAR_AFTER_SAVE, "Clear entry automatically after saving.");
    m_ctlAutoSaveEntry = check(IDC_PREF_AUTO_SAVE, "Automatically save entry when adding details.");
    m_ctlAutoSaveEntry->hide(); // changed through the profile only
    auto* typeRow = new QFormLayout;
    m_ctlTypeList = new QComboBox(this);
    m_ctlTypeList->setObjectName(QString::number(IDC_PREF_TYPE));
    typeRow->addRow(QStringLiteral("Default Entry Type"), m_ctlTypeList);
    top->addLayout(typeRow);
    m_ctlFirstTimeWiz = check(IDC_PREF_FIRST_TIME_WIZ, "Use First Time Database Wizard on next run.");
    m_ctlCloseToTray = check(IDC_PREF_CLOSE_TO_TRAY, "Close/Minimize Application to the Tray");
    m_ctlAutoStartWin = check(IDC_PREF_AUTO_START, "Automatically start when you login.");
    m_ctlDisAnonStats = check(IDC_PREF_NO_STATS, "Disable anonymous menu usage statistics.");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QString::number(IDOK));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QString::number(IDCANCEL));
    connect(buttons, &QDialogButtonBox::accepted, this, &CGRVDlgPrefs::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGRVDlgPrefs::reject);
    top->addWidget(buttons);
}

void CGRVDlgPrefs::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

void CGRVDlgPrefs::DoDataExchange(bool save) {
    const std::pair<QCheckBox*, int*> boxes[] = {
        {m_ctlOpenLastUsedDB, &m_bOpenLastUsedDB}, {m_ctlClearAfterSave, &m_bClearAfterSave},
        {m_ctlAutoSaveEntry, &m_bAutoSaveEntry},   {m_ctlFirstTimeWiz, &m_bFirstTimeWiz},
        {m_ctlCloseToTray, &m_bCloseToTray},       {m_ctlAutoStartWin, &m_bAutoStartWin},
        {m_ctlDisAnonStats, &m_bDisAnonStats}};
    for (auto [box, value] : boxes) {
        if (save)
            *value = box->isChecked() ? 1 : 0;
        else
            box->setChecked(*value != 0);
    }
}

int CGRVDlgPrefs::OnInitDialog() {
    DoDataExchange(false);
    FillTypeList(m_ctlTypeList);
    SelectTypeByPrefix(m_ctlTypeList, m_strDefaultType);
    DoDataExchange(true);
    return 1;
}

void CGRVDlgPrefs::OnOK() {
    m_strDefaultType = m_ctlTypeList->currentIndex() < 0 ? QString() : m_ctlTypeList->currentText();
    DoDataExchange(true);
    done(IDOK);
}

void CGRVDlgPrefs::reject() {
    done(IDCANCEL);
}

void CGRVDlgPrefs::SetValues(const Prefs& p) {
    m_bOpenLastUsedDB = p.openLastUsedDB;
    m_bClearAfterSave = p.clearAfterSave;
    m_bAutoSaveEntry = p.autoSaveEntry;
    m_strDefaultType = p.defaultType;
    m_bFirstTimeWiz = p.firstTimeWiz;
    m_bCloseToTray = p.closeToTray;
    m_bAutoStartWin = p.autoStartWin;
    m_bDisAnonStats = p.disAnonStats;
}

Prefs CGRVDlgPrefs::Values() const {
    Prefs p;
    p.openLastUsedDB = m_bOpenLastUsedDB;
    p.clearAfterSave = m_bClearAfterSave;
    p.autoSaveEntry = m_bAutoSaveEntry;
    p.defaultType = m_strDefaultType;
    p.firstTimeWiz = m_bFirstTimeWiz;
    p.closeToTray = m_bCloseToTray;
    p.autoStartWin = m_bAutoStartWin;
    p.disAnonStats = m_bDisAnonStats;
    return p;
}

void CGRVDlg::OnPreferences() {
    CGRVDlgPrefs dlg;
    SendUsageStat(QString::fromLatin1(kUsagePreferences));
    // Read with the defaults of start-up, so OK on a fresh profile keeps
    // "OpenLastUsedDB" and "FirstTimeWiz" on.
    const Prefs before = ReadPrefs();
    dlg.SetValues(before);
    m_prefs.firstTimeWiz = before.firstTimeWiz;

    if (dlg.exec() == IDOK) {
        const bool open = m_db.IsOpen();
        WriteProfileString(kSectionMru, kLastFile, open ? QString::fromStdString(m_db.GetFileName()) : QString());
        WriteProfileString(kSectionMru, kLastPath, open ? QString::fromStdString(m_db.GetFolder()) : QString());
        WritePrefs(dlg.Values());
    }
    ReadPreferences();
    SetAutoStart(m_prefs.autoStartWin);
}

void CGRVDlg::SetAutoStart(int flag) {
    CWinStartup startup;
    const QString name = QString::fromLatin1(kRunValueName);
    if (flag)
        startup.AddApp(QString(), name, false);
    else
        startup.RemoveApp(name, false);
}
