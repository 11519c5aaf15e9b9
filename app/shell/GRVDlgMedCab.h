#pragma once
// The medicine cabinet: every medicine in a list, one in the form below.
// New, Save and Delete act on the form's medicine and write at once.
#include <QString>
#include <string>

#include "app/shell/DialogBase.h"
#include "app/store/Medicine.h"

class CJournalDb;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

class CGRVDlgMedCab : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgMedCab(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    CMedicine m_medicine;        // the form's medicine; id -1 until stored
    QString m_strName;
    QString m_strDosage;
    QString m_strTake;
    QString m_strEvery;
    QString m_strQuantity;
    QString m_strSpan;
    QString m_strDesc;
    QString m_strUrl;
    QString m_strTakeForm;
    QString m_strQtyForm;
    int m_bSchedule = 0;

    // 1 when the form holds a complete medicine; with messages set, the
    // first missing part is named in a message box.
    int ValidateMedicine(int messages);
    void ClearForm();
    // The list shows the journal's medicines; a query that fails leaves it
    // showing what it showed.
    void RefreshList();

    // False only when the journal refused the save, which has been shown;
    // the form then keeps what was typed.
    bool OnBnClickedSave();
    void OnBnClickedNew();
    void OnBnClickedDelete();
    void OnBnClickedOk();
    void OnBnClickedCancel();
    void OnNMClickMedList();
    void OnCbnSelchangeForm();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override { OnBnClickedCancel(); }

private:
    void DoDataExchange(bool save);
    // Says the journal refused: what (kMedSaveFailed …) with the store's reason.
    void TellRefused(const char* what, const std::string& reason);
    int OnInitDialog() override;
    void OnShowWindow() override;

    QTreeWidget* m_ctlMedList = nullptr;
    QLineEdit* m_ctlName = nullptr;
    QLineEdit* m_ctlDosage = nullptr;
    QComboBox* m_ctlMeasure = nullptr;
    QComboBox* m_ctlForm = nullptr;
    QLineEdit* m_ctlTake = nullptr;
    QLineEdit* m_ctlEvery = nullptr;
    QComboBox* m_ctlEveryInterval = nullptr;
    QLineEdit* m_ctlQuantity = nullptr;
    QLineEdit* m_ctlSpan = nullptr;
    QComboBox* m_ctlSpanInterval = nullptr;
    QPlainTextEdit* m_ctlDesc = nullptr;
    QLineEdit* m_ctlUrl = nullptr;
    QLabel* m_ctlTakeForm = nullptr;
    QLabel* m_ctlQtyForm = nullptr;
    QPushButton* m_btnSave = nullptr;
    // The journal refused to store the form as it stands: New then starts
    // an empty form without trying again behind the user's back.
    bool m_bSaveRefused = false;
    QCheckBox* m_ctlSchedule = nullptr;
};
