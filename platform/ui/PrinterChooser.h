#pragma once
// The print dialog behind a seam (see Prompter.h).
class QPrinter;
class QWidget;

namespace platform::ui {

class PrinterChooser {
public:
    virtual ~PrinterChooser() = default;
    // Sets the printer up as the user chose; false when the user cancelled,
    // and then the printer must not be used.
    virtual bool Choose(QWidget* parent, QPrinter& printer) = 0;
};

// QPrintDialog with all pages, no page range, no selection.
class QtPrinterChooser : public PrinterChooser {
public:
    bool Choose(QWidget* parent, QPrinter& printer) override;
};

}  // namespace platform::ui
