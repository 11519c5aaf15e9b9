#pragma once
// The Preferences dialog.
#include <QDialog>
#include <QString>

#include "app/shell/Profile.h"

class QCheckBox;
class QComboBox;

class CGRVDlgPrefs : public QDialog {
    Q_OBJECT

public:
    explicit CGRVDlgPrefs(QWidget* parent = nullptr);

    // Values in from the caller before the dialog runs, out after OK.
    QString m_strDefaultType;
    int m_bOpenLastUsedDB = 0;
    int m_bClearAfterSave = 0;
    int m_bAutoSaveEntry = 0;
    int m_bFirstTimeWiz = 0;
    int m_bCloseToTray = 0;
    int m_bAutoStartWin = 0;
    int m_bDisAnonStats = 0;

    void SetValues(const grv::Prefs& prefs);
    grv::Prefs Values() const;

    void setVisible(bool visible) override;

public slots:
    void accept() override { OnOK(); }
    void reject() override;

private:
    // Values into the controls, or with save set, controls into the values.
    void DoDataExchange(bool save);
    int OnInitDialog();
    void OnOK();

    QComboBox* m_ctlTypeList = nullptr;
    QCheckBox* m_ctlOpenLastUsedDB = nullptr;
    QCheckBox* m_ctlClearAfterSave = nullptr;
    QCheckBox* m_ctlAutoSaveEntry = nullptr;
    QCheckBox* m_ctlFirstTimeWiz = nullptr;
    QCheckBox* m_ctlCloseToTray = nullptr;
    QCheckBox* m_ctlAutoStartWin = nullptr;
    QCheckBox* m_ctlDisAnonStats = nullptr;
    bool m_bInitialised = false;
};
