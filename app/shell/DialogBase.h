#pragma once
// The life of a journal dialog: initialised once before it is first shown,
// told each time it is shown, ended with the class library's result codes.
#include <QDialog>

#include "app/shell/Resource.h"
#include "app/store/JournalDb.h"

class CDialogBase : public QDialog {
    Q_OBJECT

public:
    explicit CDialogBase(QWidget* parent = nullptr) : QDialog(parent) {}

    void setVisible(bool visible) override;

protected:
    virtual int OnInitDialog() { return 1; }
    // Runs after the window became visible.
    virtual void OnShowWindow() {}

    // Saves the record through the store when a journal is open, otherwise
    // tells the user; then ends the dialog with OK. A save the store refuses
    // is shown with the store's reason and the dialog stays open with what
    // was typed, so nothing is lost and the user need not believe it stored.
    template <typename Record>
    void SaveAndEnd(CJournalDb* db, Record& rec, bool (CJournalDb::*save)(Record&)) {
        if (!db || !db->IsOpen()) {
            TellNoJournal();
        } else if (!(db->*save)(rec)) {
            TellStoreError(*db);
            return;
        }
        done(grv::IDOK);
    }
    // "Need to open a database first."
    void TellNoJournal();
    // The store's last error text.
    void TellStoreError(const CJournalDb& db);

private:
    bool m_bInitialised = false;
};
