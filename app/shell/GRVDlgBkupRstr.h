#pragma once
// The backup and restore dialog: writes the journal file into a zip archive
// (optionally encrypted) or extracts an archive into a journal file.
#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class CJournalDb;
struct ZipHandle;
namespace platform {
class PartFile;
}
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace grv {

constexpr int IDD_BKUP_RSTR = 175;
constexpr int IDC_BR_DETAILS_GROUP = 1091;
constexpr int IDC_BR_SOURCE_TEXT = 1093;
constexpr int IDC_BR_SOURCE = 1027;
constexpr int IDC_BR_BROWSE_SOURCE = 1031;
constexpr int IDC_BR_TARGET_TEXT = 1094;
constexpr int IDC_BR_TARGET = 1028;
constexpr int IDC_BR_BROWSE_TARGET = 1032;
constexpr int IDC_BR_SECURITY_GROUP = 1095;
constexpr int IDC_BR_SECURITY_TEXT = 1096;
constexpr int IDC_BR_PASSWORD = 1090;
constexpr int IDC_BR_SHOW_PASSWORD = 1025;
constexpr int IDC_BR_ACTION = 1034;

// Splits a path into its folder (ending with its separator, empty when there
// is none) and its file name. Backslashes count as separators.
void SplitPath(const QString& path, QString& folder, QString& fileName);
// True when both paths name one existing file (links included).
bool IsSameFile(const QString& a, const QString& b);

} // namespace grv

class CGRVDlgBkupRstr : public QDialog {
    Q_OBJECT

public:
    static constexpr int kModeRestore = 0;
    static constexpr int kModeBackup = 1;

    explicit CGRVDlgBkupRstr(int mode, QWidget* parent = nullptr);

    int m_nMode;
    QString m_strSourceFolder;
    QString m_strSourceFile;
    QString m_strTargetFolder;
    QString m_strTargetFile;

    // Lent by the main window: its data store, so nothing is written over
    // the open journal unawares, and its way of closing that journal as
    // Database Close does (false when the journal stayed open).
    CJournalDb* m_pDb = nullptr;
    std::function<bool()> m_closeOpenJournal;
    // The folder of the journal the main window has open (or closed for
    // this backup), where the file choosers start; empty when none.
    QString m_strJournalFolder;
    // How long a restore runs before its progress shows.
    int m_nProgressDelayMs = 500;

    void OnShowWindow();
    void OnBrowseSource();
    void OnBrowseTarget();
    void OnBackupRestore();
    void OnShowPassword();
    void OnKillFocusSource();
    void OnKillFocusTarget();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The labels, the password's and the button's texts of the mode.
    void ShowModeTexts();
    void Browse(bool source);
    void TakePath(QLineEdit* edit, QString& folder, QString& fileName);
    // True once the archive is completely written (backup) or the journal
    // completely extracted (restore); otherwise the failure was shown.
    bool RunBackup(const QByteArray& password);
    bool RunRestore(const QByteArray& password);
    void ShowError(const char* text, const char* title);
    // text with why PartFile refused path (error) in place of %1; plain
    // where no reason is known.
    void ShowRefusal(const char* text, const char* plain, int error, const std::string& path);
    QString SourcePath() const;
    QString TargetPath() const;
    bool IsOpenJournal(const QString& path) const;
    // True when the target may be written: it does not exist, or the user
    // agrees now to replace it. Asked before every replacement, No being the
    // answer Enter gives; for the open journal the question says that its
    // entries made since the backup will be lost.
    bool ConfirmReplace(const QString& target);
    // Extracts the archive's journal into part: null, else what to tell.
    const char* ExtractJournal(ZipHandle* zip, int count, platform::PartFile& part);

    QPushButton* m_btnAction = nullptr;
    QGroupBox* m_ctlDetailsGroup = nullptr;
    QLabel* m_ctlSourceText = nullptr;
    QLabel* m_ctlTargetText = nullptr;
    QLabel* m_ctlSecurityText = nullptr;
    QLabel* m_ctlPasswordText = nullptr;
    QCheckBox* m_ctlShowPassword = nullptr;
    QLineEdit* m_ctlPassword = nullptr;
    QLineEdit* m_ctlSource = nullptr;
    QLineEdit* m_ctlTarget = nullptr;
};
