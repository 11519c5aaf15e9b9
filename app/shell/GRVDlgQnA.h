#pragma once
// A question for the next appointment with its answer and a reference. The
// dialog saves nothing; the caller takes the texts or the record after OK.
#include <QString>

#include "app/shell/DialogBase.h"
#include "app/store/EntryRecords.h"

class CJournalDb;
class QLineEdit;
class QPlainTextEdit;

class CGRVDlgQnA : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgQnA(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // never used here
    CEntryQuestions m_question;
    QString m_strEntryId;
    QString m_strQuestion;
    QString m_strAnswer;
    QString m_strReference;

    void OnBnClickedOk();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override;

private:
    void DoDataExchange(bool save);
    int OnInitDialog() override;

    QPlainTextEdit* m_ctlQuestion = nullptr;
    QPlainTextEdit* m_ctlAnswer = nullptr;
    QLineEdit* m_ctlReference = nullptr;
};
