#pragma once
// Subject and body of a journal entry; OK saves the entry itself.
#include <QString>

#include "app/shell/DialogBase.h"
#include "app/store/EntryRecords.h"

class CJournalDb;
class QLineEdit;
class QPlainTextEdit;

class CGRVDlgEntry : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgEntry(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    CEntry m_entry;              // the entry being edited, filled by the caller
    QString m_strSubject;
    QString m_strBody;

    void OnBnClickedOk();
    void OnBnClickedCancel();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override { OnBnClickedCancel(); }

private:
    void DoDataExchange(bool save);
    void OnShowWindow() override;

    QLineEdit* m_ctlSubject = nullptr;
    QPlainTextEdit* m_ctlBody = nullptr;
};
