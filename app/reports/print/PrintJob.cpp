#include "app/reports/print/PrintJob.h"

#include <sys/statvfs.h>

#include <QFile>
#include <QFileInfo>
#include <QPrinter>

namespace {

// Every PDF ends with this marker; the writer does not report a failed write.
constexpr char kPdfEnd[] = "%%EOF";
constexpr qint64 kPdfTailBytes = 64;

bool EndsAsAPdf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(qMax<qint64>(0, file.size() - kPdfTailBytes)))
        return false;
    return file.readAll().contains(kPdfEnd);
}

// Whether the disk holding path has no block left, as after a write that
// failed for want of room.
bool DiskIsFull(const QString& path) {
    struct statvfs fs {};
    return ::statvfs(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), &fs) == 0 && fs.f_bavail == 0;
}

} // namespace

PrintJob::PrintJob(QPrinter* printer) : m_printer(printer) {}

PrintJob::~PrintJob() {
    if (m_painter.isActive())
        AbortDoc();
}

int PrintJob::StartDoc(const QString& docName) {
    if (m_painter.isActive())
        return 0;
    m_printer->setDocName(docName);
    m_failure.clear();
    const QFileInfo output(m_printer->outputFileName());
    m_outputCreated = m_printer->outputFormat() == QPrinter::PdfFormat && !output.filePath().isEmpty() &&
                      !output.exists() && !output.isSymLink();
    if (!m_painter.begin(m_printer)) {
        m_failure = StartFailureReason();
        return 0;
    }
    m_dc = std::make_unique<DeviceContext>(&m_painter);
    m_pagesStarted = 0;
    return 1;
}

int PrintJob::StartPage() {
    if (!m_painter.isActive() || m_inPage)
        return 0;
    // The painter opens on the first page; later pages are new sheets.
    if (m_pagesStarted > 0 && !m_printer->newPage())
        return 0;
    ++m_pagesStarted;
    m_inPage = true;
    return 1;
}

int PrintJob::EndPage() {
    if (!m_painter.isActive() || !m_inPage)
        return 0;
    m_inPage = false;
    if (m_printer->printerState() != QPrinter::Error)
        return 1;
    m_failure = QString::fromLatin1(print_texts::kPageRefused).arg(m_pagesStarted);
    return 0;
}

int PrintJob::EndDoc() {
    if (!m_painter.isActive())
        return 0;
    m_dc.reset();
    const bool ended = m_painter.end() && m_printer->printerState() != QPrinter::Error;
    const QString path = m_printer->outputFormat() == QPrinter::PdfFormat ? m_printer->outputFileName() : QString();
    if (ended && (path.isEmpty() || EndsAsAPdf(path)))
        return 1;
    const bool full = !path.isEmpty() && DiskIsFull(path);
    // A file printer keeps no half-written document.
    if (!path.isEmpty())
        QFile::remove(path);
    m_failure = full ? QString::fromLatin1(print_texts::kFileDiskFull).arg(path)
                     : QString::fromLatin1(print_texts::kNotFinished);
    return 0;
}

QString PrintJob::StartFailureReason() const {
    using namespace print_texts;
    // Without a print system Qt turns a printer into a PDF writer with no file.
    const QString path = m_printer->outputFileName();
    if (m_printer->outputFormat() == QPrinter::PdfFormat && !path.isEmpty()) {
        // Qt does not say why; opening the file the same way does.
        const bool existed = QFileInfo::exists(path);
        QFile probe(path);
        QString why = probe.open(QIODevice::Append) ? QString::fromLatin1(kUnknownReason) : probe.errorString();
        probe.close();
        if (!existed)
            QFile::remove(path);
        return QString::fromLatin1(kFileNotWritable).arg(path, why);
    }
    if (m_printer->printerName().isEmpty() || !m_printer->isValid())
        return QString::fromLatin1(kNoPrinter);
    return QString::fromLatin1(kPrinterRefused).arg(m_printer->printerName());
}

void PrintJob::AbortDoc() {
    if (!m_painter.isActive())
        return;
    m_printer->abort();
    m_dc.reset();
    m_painter.end();
    // A file printer keeps no half-written document of its own making; a
    // file that was there, a link, a device or a pipe is left where it is.
    const QFileInfo output(m_printer->outputFileName());
    if (m_outputCreated && output.isFile() && !output.isSymLink())
        QFile::remove(output.filePath());
}

PrintRect PrintJob::DrawingRect() const {
    return {0, 0, m_printer->width(), m_printer->height()};
}

void UseSmallestMargins(QPrinter* printer) {
    QPageLayout layout = printer->pageLayout();
    printer->setFullPage(false);
    printer->setPageMargins(layout.minimumMargins(), layout.units());
}

PrintRect WithHalfInchMargins(const PrintRect& area, const DeviceContext* dc) {
    const int x = dc->GetDeviceCaps(print::kLogPixelsX) / 2;
    const int y = dc->GetDeviceCaps(print::kLogPixelsY) / 2;
    return {area.left + x, area.top + y, area.right - x, area.bottom - y};
}

int RunPrintJob(PrintJob& job, const QString& docName, PrintInfo& info,
                const std::function<void(DeviceContext*, PrintInfo*)>& begin,
                const std::function<void(DeviceContext*, PrintInfo*)>& printPage) {
    bool printing = job.StartDoc(docName) > 0;
    if (printing) {
        info.drawRect = job.DrawingRect();
        begin(job.Dc(), &info);
        for (int page = info.minPage; page <= info.maxPage && printing; ++page) {
            printing = job.StartPage() > 0;
            if (!printing)
                break;
            info.curPage = page;
            printPage(job.Dc(), &info);
            printing = job.EndPage() > 0;
        }
    }
    if (printing)
        return job.EndDoc() > 0 ? 1 : 0;
    job.AbortDoc();
    return 0;
}

QString PrintFailedMessage(const QString& reason) {
    return QString::fromLatin1(print_texts::kPrintFailedFormat).arg(reason);
}
