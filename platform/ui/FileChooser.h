#pragma once
// Open and save file choosers behind a seam (see Prompter.h).
#include <QString>
#include <QStringList>

class QWidget;

namespace platform::ui {

enum class FileMode { Open, Save };

struct FileRequest {
    FileMode mode = FileMode::Open;
    QString title;                // empty: the chooser's own
    QString initialPath;          // absolute folder, or folder/proposed-name (never a pattern)
    QString filter;               // the class library's form: "Gorvane DB (*.grv)|*.grv|"
    QString defaultSuffix;        // added to a typed name without one, e.g. "grv"
    bool confirmOverwrite = true; // Save only
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen absolute path; empty when the user cancelled.
    virtual QString Choose(QWidget* parent, const FileRequest& request) = 0;
};

// QFileDialog.
class QtFileChooser : public FileChooser {
public:
    QString Choose(QWidget* parent, const FileRequest& request) override;
};

// Where a chooser starts: the first of the preferred folders that exists
// (the open journal's, say), else the user's Documents folder, else home;
// never the process's working folder.
QString ChooserStartFolder(const QStringList& preferred = {});

// "Text (*.txt)|*.txt|All (*.*)|*.*||" -> "Text (*.txt);;All (*.*)".
// A description that does not end in its own patterns gets them appended,
// since Qt reads the patterns from the parentheses.
QString QtFilterFromPipes(const QString& filter);

} // namespace platform::ui
