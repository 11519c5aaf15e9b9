#pragma once
// One action (a walk, a treatment …) as a detail of the current entry: its
// name, category, effect on the pain, duration and a reference text.
#include <QString>
#include <string>
#include <vector>

#include "app/shell/DialogBase.h"
#include "app/store/EntryRecords.h"

class CJournalDb;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QSlider;

class CGRVDlgActions : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgActions(QWidget* parent = nullptr);

    CJournalDb* m_pDb = nullptr; // lent by the caller
    CEntryActions m_action;      // the record OK saves
    int m_bEdit = 0;             // 1: an existing action is shown for change
    QString m_strEntryId;
    QString m_strName;
    QString m_strCategory;
    int m_nPainEffect = 0;
    int m_bContinue = 0; // asks the caller to open the dialog again
    QString m_strPainEffect;
    QString m_strHours;
    QString m_strMinutes;
    QString m_strReference;

    // The category list; 1 when the journal gave at least one category.
    int FillCategoryCombo();
    // The names of one category (every name of every action when empty).
    int FillNameCombo(const QString& category);

    void OnCbnSelchangeCategory();
    void OnCbnSelchangeName() {}
    void OnHScroll(QSlider* slider);
    void OnBnClickedOk();

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override;

private:
    void DoDataExchange(bool save);
    int OnInitDialog() override;
    void OnShowWindow() override;
    // The texts, sorted, as the combo's list; 1 when there was one at least.
    static int FillCombo(QComboBox* combo, const std::vector<std::string>& texts);

    QComboBox* m_ctlName = nullptr;
    QComboBox* m_ctlCategory = nullptr;
    QLineEdit* m_ctlPainEffect = nullptr;
    QSlider* m_ctlPainSlider = nullptr;
    QCheckBox* m_ctlContinue = nullptr;
    QLineEdit* m_ctlHours = nullptr;
    QLineEdit* m_ctlMinutes = nullptr;
    QPlainTextEdit* m_ctlReference = nullptr;
};
