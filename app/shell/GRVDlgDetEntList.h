#pragma once
// The details of one kind that an entry already has: delete one or all of
// them, pick one to edit, or ask for a new one. Adding and editing are the
// caller's; it reads the answer after OK.
#include <QString>

#include "app/shell/DialogBase.h"
#include "app/store/EntryRecords.h"

class CJournalDb;
class QPushButton;
class QTreeWidget;

class CGRVDlgDetEntList : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgDetEntList(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    int m_nType = 0;
    int m_nEntryId = 0;
    // kDetailAnswerNone, kDetailAnswerEdit with m_strSelectedId, or kDetailAnswerAdd.
    int m_nAnswer = 4;
    QString m_strSelectedId;

    // Records loaded just before a delete.
    CEntry m_entry;
    CEntryActions m_action;
    CEntryMeds m_meds;
    CEntryMood m_mood;
    CEntryQuestions m_question;
    CEntrySideEff m_sideEff;
    int m_bDeleteAllowed = 1;

    void RefreshList();
    // Nonzero when the record named by m_strSelectedId was marked deleted.
    int DeleteSelected();

    void OnItemchangedDetails();
    void OnBnClickedDelete();
    void OnBnClickedDeleteAll();
    void OnBnClickedAdd();

public slots:
    void accept() override;
    void reject() override;

private:
    int OnInitDialog() override;
    void OnShowWindow() override;

    QTreeWidget* m_ctlDetails = nullptr;
    QPushButton* m_btnAdd = nullptr;
    QPushButton* m_btnDelete = nullptr;
    QPushButton* m_btnDeleteAll = nullptr;
};
