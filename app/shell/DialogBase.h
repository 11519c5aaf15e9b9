#pragma once
// The life of a journal dialog: initialised once before it is first shown,
// told each time it is shown, ended with the class library's result codes.
#include <QDialog>

class CDialogBase : public QDialog {
    Q_OBJECT

public:
    explicit CDialogBase(QWidget* parent = nullptr) : QDialog(parent) {}

    void setVisible(bool visible) override;

protected:
    virtual int OnInitDialog() { return 1; }
    // Runs after the window became visible.
    virtual void OnShowWindow() {}

private:
    bool m_bInitialised = false;
};
