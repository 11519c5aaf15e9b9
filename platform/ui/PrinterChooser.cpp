#include "platform/ui/PrinterChooser.h"

#include <QPrintDialog>
#include <QPrinter>

namespace platform::ui {

bool QtPrinterChooser::Choose(QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    dialog.setOption(QAbstractPrintDialog::PrintSelection, false);
    dialog.setOption(QAbstractPrintDialog::PrintToFile, false);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace platform::ui
