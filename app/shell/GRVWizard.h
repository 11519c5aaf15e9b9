#pragma once
// The first-run wizard: four pages that help the user create the first
// journal. Its way out is the sheet's Cancel button (labelled "Finish") or
// its Help button (labelled "Close"); both end it with 0.
#include <QDialog>
#include <QString>

class CJournalDb;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class CGRVFirstTimeWiz;

namespace grv {

constexpr int IDD_WIZ_TEXT = 106;
constexpr int IDD_WIZ_EDIT = 163;
constexpr int IDD_WIZ_EDIT_BUTTON = 164;
constexpr int IDC_WIZ_NAME = 1081;
constexpr int IDC_WIZ_TEXT = 1082;
constexpr int IDC_WIZ_EDIT_TEXT = 1083;
constexpr int IDC_WIZ_BROWSE_TEXT = 1084;
constexpr int IDC_WIZ_BROWSE = 1031;
// The sheet's own buttons.
constexpr int ID_WIZBACK = 12323;
constexpr int ID_WIZNEXT = 12324;
constexpr int IDHELP = 9;

} // namespace grv

// A page of the wizard; the sheet calls OnSetActive when it comes up.
class CGRVWizPage : public QWidget {
    Q_OBJECT

public:
    CGRVWizPage(int templateId, CGRVFirstTimeWiz* sheet);
    virtual void OnSetActive() = 0;
    // Called as the page is left, either way.
    virtual void OnLeave() {}

protected:
    CGRVFirstTimeWiz* m_pSheet;
};

class CGRVWizPgTxt : public CGRVWizPage {
    Q_OBJECT

public:
    CGRVWizPgTxt(int stringId, int finalPage, CGRVFirstTimeWiz* sheet);
    void OnSetActive() override;

    int m_bFinalPage;

private:
    int m_nStringId;
    QLabel* m_ctlText = nullptr;
};

class CGRVWizPgEdit : public CGRVWizPage {
    Q_OBJECT

public:
    explicit CGRVWizPgEdit(CGRVFirstTimeWiz* sheet);
    void OnSetActive() override;
    void OnLeave() override { OnKillFocusName(); }
    void OnKillFocusName();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_ctlText = nullptr;
    QLineEdit* m_ctlName = nullptr;
};

class CGRVWizPgEdtBut : public CGRVWizPage {
    Q_OBJECT

public:
    explicit CGRVWizPgEdtBut(CGRVFirstTimeWiz* sheet);
    void OnSetActive() override;
    void OnBrowse();

    QString m_strFullPath;
    QString m_strFileName;
    QString m_strFolder;

private:
    QLabel* m_ctlText = nullptr;
    QPushButton* m_btnBrowse = nullptr;
    QLineEdit* m_ctlPath = nullptr;
};

class CGRVFirstTimeWiz : public QDialog {
    Q_OBJECT

public:
    CGRVFirstTimeWiz(const QString& caption, QWidget* parent = nullptr, int firstPage = 0);

    // 1 created, -1 the data store refused, -2 a name is missing.
    int CreateDatabase(const QString& folder, const QString& fileName);
    void OnFinish();
    // Enables Back and Next; a page that is not shown has nothing to enable.
    void SetWizardButtons(bool back, bool next);
    void SetActivePage(int index);
    int GetActiveIndex() const;
    CGRVWizPage* GetPage(int index) const;
    // The folder as the data store and the profile keep it: no trailing separator.
    QString StoreFolder() const;
    // True when the journal named now was created by this wizard and is open.
    bool HasCreated() const;

    QString m_strFileName;
    QString m_strFolder;
    QString m_strTitle;
    QString m_strError;
    CJournalDb* m_pDb = nullptr;

public slots:
    // Esc is the sheet's Cancel button: it ends the wizard as Finish does.
    void reject() override { OnFinish(); }
    void accept() override {}

protected:
    void showEvent(QShowEvent* event) override;

private:
    void OnInitDialog();
    void OnBack();
    void OnNext();

    QStackedWidget* m_pages = nullptr;
    QPushButton* m_btnBack = nullptr;
    QPushButton* m_btnNext = nullptr;
    QPushButton* m_btnCancel = nullptr;
    QPushButton* m_btnHelp = nullptr;
    QString m_strCreatedPath;
    int m_nFirstPage;
    bool m_bInitialised = false;
};
