#pragma once
// Side effects or symptoms of one cabinet medicine for the current entry,
// on ten scales from 0 to 10; OK writes one side-effects record.
#include <QString>
#include <vector>

#include "app/shell/DialogBase.h"
#include "app/shell/DlgControls.h"
#include "app/store/EntryRecords.h"
#include "app/store/Medicine.h"

class CJournalDb;
class QComboBox;
class QSlider;

class CGRVDlgSideEffect : public CDialogBase {
    Q_OBJECT

public:
    static constexpr int kRows = 10;

    explicit CGRVDlgSideEffect(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    CMedicine m_medicine;        // the medicine last chosen
    CEntrySideEff m_sideEff;     // the record OK saves
    QString m_strEntryId;
    int m_mid = 0; // 0: no medicine (general symptoms)
    int m_nNausea = 0;
    int m_nVomiting = 0;
    int m_nConstipation = 0;
    int m_nAppetite = 0;
    int m_nTired = 0;
    int m_nItching = 0;
    int m_nNightmares = 0;
    int m_nSweating = 0;
    int m_nThinking = 0;
    int m_nInsomnia = 0;

    void OnCbnSelchangeMedicine();
    void OnHScroll(QSlider* slider);
    void OnBnClickedOk();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override;

private:
    struct Row {
        const char* label;
        int sliderId;
        int CGRVDlgSideEffect::* scale;
        int CEntrySideEff::* field;
    };
    static const Row kRowTable[kRows];

    // The scale members in row order.
    std::vector<int*> Scales();
    void DoDataExchange(bool save);
    int OnInitDialog() override;
    void OnShowWindow() override;

    QComboBox* m_ctlMedicine = nullptr;
    grv::RatingRows m_rows;
};
