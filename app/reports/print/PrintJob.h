#pragma once
// A print job on a QPrinter, driven the way the printouts expect: start the
// document, start and end each page, end or abort the document. The device
// context of the pages lives as long as the job.
#include <QPainter>
#include <QString>
#include <functional>
#include <memory>
#include <string>

#include "app/reports/print/DeviceContext.h"
#include "platform/PartFile.h"

class QPrinter;

namespace print_texts {

// Shown in a message box when a job fails, with the reason in place of %1.
constexpr char kPrintFailedFormat[] = "The document was not printed. %1";
constexpr char kNoPrinter[] =
    "No printer is available. To keep the document as a PDF file, choose \"Print to File (PDF)\" in the print "
    "dialog.";
constexpr char kPrinterRefused[] = "The printer \"%1\" did not accept the document.";
constexpr char kFileNotWritable[] = "The file \"%1\" cannot be written: %2.";
constexpr char kPageRefused[] = "The printer stopped at page %1.";
constexpr char kNotFinished[] = "The document could not be finished.";
constexpr char kFileDiskFull[] =
    "The disk where \"%1\" was to be written is full. Please make room there or choose another place, and try "
    "again.";
constexpr char kUnknownReason[] = "reason unknown";
// A report or print named as (or linked to) the journal it is made from, or
// as one of the side files SQLite keeps beside a database.
constexpr char kOntoItsJournal[] =
    "\"%1\" is the journal this document is made from: writing the document there would replace the journal. "
    "Please choose another file.";
constexpr char kOntoSideFile[] =
    "\"%1\" is a file a database beside it keeps for itself (its name ends in -journal, -wal or -shm): writing "
    "the document there would damage that database. Please choose another file.";

} // namespace print_texts

class PrintJob {
public:
    // A file printed to is no more readable than readers allows, and is
    // never source, the journal printed from.
    explicit PrintJob(QPrinter* printer, mode_t readers = 07777, std::string source = {});
    ~PrintJob(); // aborts a document that was not ended
    PrintJob(const PrintJob&) = delete;
    PrintJob& operator=(const PrintJob&) = delete;

    // A positive job number when the document started, else 0.
    int StartDoc(const QString& docName);
    int StartPage();
    // Positive when the page was accepted.
    int EndPage();
    // Positive when the document is whole where it was sent: a file printed
    // to is replaced only then, and a device or pipe gets it in one go.
    int EndDoc();
    void AbortDoc();

    // Valid between StartDoc and EndDoc/AbortDoc.
    DeviceContext* Dc() { return m_dc.get(); }
    // The printable area in device pixels: (0, 0, HORZRES, VERTRES).
    PrintRect DrawingRect() const;

    // Why the job stopped, in words for the user; empty while nothing failed.
    const QString& FailureReason() const { return m_failure; }

private:
    QString StartFailureReason() const;
    // Printing to a file: the document goes to a spool in memory, and only
    // a whole one on to the path (as platform::PartFile writes). False with the
    // failure set when the path cannot be written.
    bool StartSpool();
    void EndSpool();

    QPrinter* m_printer;
    mode_t m_readers;
    std::string m_source;
    QPainter m_painter;
    std::unique_ptr<DeviceContext> m_dc;
    int m_pagesStarted = 0;
    bool m_inPage = false;
    QString m_failure;
    QString m_path; // the file printed to, while a document is spooled
    int m_spool = -1;
    // Where the spool is named when no /proc names it.
    platform::PrivateFolder m_spare;
    platform::PartFile m_output;
};

// Sets the printer's margins to the smallest it allows, so the printable
// area holds a 7.5-inch layout on A4 and Letter.
void UseSmallestMargins(QPrinter* printer);

// What a print loop tells the page it prints: the page range, the page in
// hand and the drawing rectangle.
struct PrintInfo {
    int minPage = 1;
    int maxPage = 1;
    int curPage = 1;
    PrintRect drawRect;
};

// The drawing rectangle less half an inch (whole pixels) on every side.
PrintRect WithHalfInchMargins(const PrintRect& area, const DeviceContext* dc);

// Starts the document, prints every page of the range while printing goes
// on and ends the document, or aborts it when it did not start or a page
// was refused. begin runs once the document has started and sets the range;
// printPage prints info.curPage. Returns 1 when the document was ended, else
// 0 with the job's FailureReason set.
int RunPrintJob(PrintJob& job, const QString& docName, PrintInfo& info,
                const std::function<void(DeviceContext*, PrintInfo*)>& begin,
                const std::function<void(DeviceContext*, PrintInfo*)>& printPage);

// The message for a failed job: the failure text with the reason.
QString PrintFailedMessage(const QString& reason);
