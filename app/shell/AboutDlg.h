#pragma once
// The About box: product name, the program's version from its own version
// record, credits and contact.
#include <QDialog>

class QLabel;

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    // Shown when the version record cannot be read.
    static constexpr char kTemplateVersion[] = "Version: unknown";

    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* VersionStatic() const { return m_ctlVersion; }

private:
    void OnInitDialog();

    QLabel* m_ctlVersion = nullptr;
};
