#include "platform/ui/PrinterChooser.h"

#include <QDir>
#include <QLineEdit>
#include <QPrintDialog>
#include <QPrinter>

namespace platform::ui {

QString ProposedPdfName(const QString& docName) {
    QString name = docName.trimmed();
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    return (name.isEmpty() ? QStringLiteral("print") : name) + QStringLiteral(".pdf");
}

bool QtPrinterChooser::Choose(QWidget* parent, QPrinter& printer, const PrintRequest& request) {
    printer.setDocName(request.docName);
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, request.pageRange);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, request.selection);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, request.printToFile);
    if (request.printToFile && !request.fileFolder.isEmpty()) {
        // The dialog would propose the home folder; the file's own edit is
        // the one place its proposal can be set without choosing file
        // output for the user.
        if (auto* file = dialog.findChild<QLineEdit*>(QStringLiteral("filename")))
            file->setText(QDir(request.fileFolder).filePath(ProposedPdfName(request.docName)));
    }
    return dialog.exec() == QDialog::Accepted;
}

} // namespace platform::ui
