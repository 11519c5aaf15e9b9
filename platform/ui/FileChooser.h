#pragma once
// Open and save file choosers behind a seam (see Prompter.h).
#include <QString>

class QWidget;

namespace platform::ui {

enum class FileMode { Open, Save };

struct FileRequest {
    FileMode mode = FileMode::Open;
    QString title;          // empty: the chooser's own
    QString initialPath;    // folder, or folder/proposed-name
    QString filter;         // the class library's form: "Gorvane DB (*.grv)|*.grv|"
    QString defaultSuffix;  // added to a typed name without one, e.g. "grv"
    bool confirmOverwrite = true;  // Save only
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

// "Text (*.txt)|*.txt|All (*.*)|*.*||" -> "Text (*.txt);;All (*.*)".
// A description that does not end in its own patterns gets them appended,
// since Qt reads the patterns from the parentheses.
QString QtFilterFromPipes(const QString& filter);

}  // namespace platform::ui
