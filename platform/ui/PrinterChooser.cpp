#include "platform/ui/PrinterChooser.h"

#include <QPrintDialog>
#include <QPrinter>

namespace platform::ui {

bool QtPrinterChooser::Choose(QWidget* parent, QPrinter& printer, const PrintRequest& request) {
    printer.setDocName(request.docName);
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, request.pageRange);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, request.selection);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, request.printToFile);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace platform::ui
