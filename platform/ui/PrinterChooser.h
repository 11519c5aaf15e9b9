#pragma once
// The print dialog behind a seam (see Prompter.h).
#include <QString>

class QPrinter;
class QWidget;

namespace platform::ui {

// What the print dialog offers. Print to a PDF file is on by default: many
// desktops have no printer, and a file is then the only way to print.
struct PrintRequest {
    QString docName;    // also names the proposed PDF file
    QString fileFolder; // where the proposed PDF file goes; empty: the dialog's own choice
    bool printToFile = true;
    bool pageRange = false;
    bool selection = false;
};

class PrinterChooser {
public:
    virtual ~PrinterChooser() = default;
    // Sets the printer up as the user chose; false when the user cancelled,
    // and then the printer must not be used.
    virtual bool Choose(QWidget* parent, QPrinter& printer, const PrintRequest& request) = 0;
};

// "Pain vs. Time" -> "Pain vs. Time.pdf"; no folder separators, "print.pdf"
// for an unnamed document.
QString ProposedPdfName(const QString& docName);

// QPrintDialog with all pages and the request's options.
class QtPrinterChooser : public PrinterChooser {
public:
    bool Choose(QWidget* parent, QPrinter& printer, const PrintRequest& request) override;
};

} // namespace platform::ui
