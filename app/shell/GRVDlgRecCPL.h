#pragma once
// Records the current pain level, typed or set with a slider, with a
// one-line description, and hands them back to the caller.
#include <QString>

#include "app/shell/DialogBase.h"

class QLineEdit;
class QSlider;

class CGRVDlgRecCPL : public CDialogBase {
    Q_OBJECT

public:
    explicit CGRVDlgRecCPL(QWidget* parent = nullptr);

    QString m_strPain;
    QString m_strDescription;
    int m_nMin = 1;
    int m_nMax = 10;
    int m_nPain = 0; // the accepted level, set by OK only

    void OnBnClickedOk();
    void OnHScroll(QSlider* slider);

public slots:
    void accept() override { OnBnClickedOk(); }
    void reject() override;

private:
    void DoDataExchange(bool save);
    int OnInitDialog() override;

    QLineEdit* m_ctlPain = nullptr;
    QSlider* m_ctlSlider = nullptr;
    QLineEdit* m_ctlDescription = nullptr;
};
