#pragma once
// How much the pain interfered with eight areas of life, each 0 to 10, for
// the current entry; OK writes one mood record.
#include <QString>
#include <vector>

#include "app/shell/DialogBase.h"
#include "app/shell/DlgControls.h"
#include "app/store/EntryRecords.h"

class CJournalDb;
class QSlider;

class CGRVDlgMood : public CDialogBase {
    Q_OBJECT

public:
    static constexpr int kRows = 8;

    explicit CGRVDlgMood(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    CEntryMood m_mood;           // its id decides whether OK adds or changes
    QString m_strEntryId;
    int m_nGenActivity = 0;
    int m_nMood = 0;
    int m_nNormalWork = 0;
    int m_nSleep = 0;
    int m_nEnjoyLife = 0;
    int m_nConcentrate = 0;
    int m_nRelations = 0;
    int m_nWalking = 0;

    void OnHScroll(QSlider* slider);
    void OnBnClickedOk();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override;

private:
    struct Row {
        const char* label;
        int CGRVDlgMood::* scale;
        int CEntryMood::* field;
    };
    static const Row kRowTable[kRows];

    // The scale members in row order.
    std::vector<int*> Scales();
    void DoDataExchange(bool save);
    int OnInitDialog() override;
    void OnShowWindow() override;

    grv::RatingRows m_rows;
};
