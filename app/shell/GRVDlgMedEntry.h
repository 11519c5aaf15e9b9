#pragma once
// A medicine from the cabinet taken as a detail of the current entry.
#include <QString>

#include "app/shell/DialogBase.h"
#include "app/store/EntryRecords.h"
#include "app/store/Medicine.h"

class CJournalDb;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class CGRVDlgMedEntry : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgMedEntry(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    CEntryMeds m_meds;           // the record OK saves
    CMedicine m_medicine;        // the cabinet medicine now chosen; id -1: none
    QString m_strDosage;
    QString m_strQuantity;
    QString m_strDesc;
    QString m_strEntryId;
    int m_bContinue = 0; // asks the caller to open the dialog again
    // The row's own dosage and quantity stand instead of the cabinet's.
    int m_bOverride = 0;

    void OnCbnSelchangeMedicine();
    void OnBnClickedOverride();
    void OnBnClickedOk();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override;

private:
    void DoDataExchange(bool save);
    int OnInitDialog() override;
    void OnShowWindow() override;

    QComboBox* m_ctlMedicine = nullptr;
    QLineEdit* m_ctlDosage = nullptr;
    QLineEdit* m_ctlQuantity = nullptr;
    QPushButton* m_ctlOverride = nullptr;
    QPlainTextEdit* m_ctlDesc = nullptr;
    QCheckBox* m_ctlContinue = nullptr;
};
