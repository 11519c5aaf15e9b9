#include "app/reports/print/PrintJob.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QPrinter>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/File.h"

namespace {

// Every PDF ends with this marker; Qt's writer does not report a failed write.
constexpr char kPdfEnd[] = "%%EOF";
constexpr size_t kPdfTailBytes = 64;
constexpr size_t kCopyChunk = 64 * 1024;

// Qt writes a document only to a file it opens by name: the spool's, in
// memory, so that nothing reaches the path before the document is whole.
QString SpoolName(int fd) {
    return QString::fromStdString(platform::DescriptorPath(fd));
}

// 0 when the spool holds a whole PDF; EFBIG when Qt's writes met the file
// size limit; -1 when it was cut short for a reason Qt keeps to itself.
int SpoolError(int fd) {
    struct stat st{};
    if (::fstat(fd, &st) != 0)
        return errno;
    char tail[kPdfTailBytes];
    const off_t from = std::max<off_t>(0, st.st_size - static_cast<off_t>(sizeof tail));
    const ssize_t n = ::pread(fd, tail, sizeof tail, from);
    if (n > 0 && std::string_view(tail, static_cast<size_t>(n)).find(kPdfEnd) != std::string_view::npos)
        return 0;
    struct rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(st.st_size) >= limit.rlim_cur)
        return EFBIG;
    return -1;
}

QString FileFailure(const QString& path, int error) {
    using namespace print_texts;
    if (error < 0)
        return QString::fromLatin1(kNotFinished);
    if (platform::IsDiskFull(error))
        return QString::fromLatin1(kFileDiskFull).arg(path);
    const char* refused = platform::RefusalReason(error, QFile::encodeName(path).toStdString());
    return QString::fromLatin1(kFileNotWritable)
        .arg(path, refused ? QString::fromLatin1(refused) : QString::fromLocal8Bit(std::strerror(error)));
}

} // namespace

PrintJob::PrintJob(QPrinter* printer, mode_t readers, std::string source)
    : m_printer(printer), m_readers(readers), m_source(std::move(source)) {}

PrintJob::~PrintJob() {
    if (m_painter.isActive())
        AbortDoc();
    EndSpool();
}

int PrintJob::StartDoc(const QString& docName) {
    if (m_painter.isActive())
        return 0;
    m_printer->setDocName(docName);
    m_failure.clear();
    // Without a print system Qt turns a printer into a PDF writer with no file.
    if (m_printer->outputFormat() == QPrinter::PdfFormat && !m_printer->outputFileName().isEmpty() && !StartSpool())
        return 0;
    if (!m_painter.begin(m_printer)) {
        m_failure = StartFailureReason();
        EndSpool();
        return 0;
    }
    m_dc = std::make_unique<DeviceContext>(&m_painter);
    m_pagesStarted = 0;
    return 1;
}

bool PrintJob::StartSpool() {
    m_path = m_printer->outputFileName();
    const platform::DatabaseTarget onto = platform::DatabaseTargetOf(QFile::encodeName(m_path).toStdString(), m_source);
    if (onto != platform::DatabaseTarget::None) {
        m_failure = QString::fromLatin1(onto == platform::DatabaseTarget::Database ? print_texts::kOntoItsJournal
                                                                                   : print_texts::kOntoSideFile)
                        .arg(m_path);
        m_path.clear();
        return false;
    }
    int error = m_output.Open(QFile::encodeName(m_path).toStdString(), m_readers);
    // What a print onto this name that was stopped left goes too.
    m_output.RemoveLeftovers();
    if (error == 0 && (m_spool = ::memfd_create("print", MFD_CLOEXEC)) < 0)
        error = errno;
    QString spool = error == 0 ? SpoolName(m_spool) : QString();
    // Without /proc to name it, a file in a private folder.
    if (error == 0 && !platform::DescriptorPathLeadsTo(m_spool)) {
        ::close(m_spool);
        std::string named;
        m_spool = m_spare.MakeFile("print.pdf", named);
        error = m_spool < 0 ? errno : 0;
        spool = QFile::decodeName(named.c_str());
    }
    if (error != 0) {
        m_failure = FileFailure(m_path, error);
        EndSpool();
        return false;
    }
    m_printer->setOutputFileName(spool);
    return true;
}

void PrintJob::EndSpool() {
    if (m_path.isEmpty())
        return;
    if (m_spool >= 0) {
        m_printer->setOutputFileName(m_path);
        ::close(m_spool);
    }
    m_spool = -1;
    m_spare.Remove();
    m_path.clear();
    m_output.Discard();
}

int PrintJob::StartPage() {
    if (!m_painter.isActive() || m_inPage)
        return 0;
    // The painter opens on the first page; later pages are new sheets.
    if (m_pagesStarted > 0 && !m_printer->newPage()) {
        m_failure = QString::fromLatin1(print_texts::kPageRefused).arg(m_pagesStarted + 1);
        return 0;
    }
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
    int error = ended ? 0 : -1;
    if (!m_path.isEmpty()) {
        if (error == 0)
            error = SpoolError(m_spool);
        if (error == 0)
            error = platform::CopyFileBytes(m_spool, m_output.Fd());
        if (error == 0)
            error = m_output.Commit();
        if (error != 0)
            m_failure = FileFailure(m_path, error);
        EndSpool();
    } else if (error != 0) {
        m_failure = QString::fromLatin1(print_texts::kNotFinished);
    }
    return error == 0 ? 1 : 0;
}

QString PrintJob::StartFailureReason() const {
    using namespace print_texts;
    if (!m_path.isEmpty()) {
        // Qt does not say why; opening its file the same way does.
        QFile probe(m_printer->outputFileName());
        const QString why =
            probe.open(QIODevice::WriteOnly) ? QString::fromLatin1(kUnknownReason) : probe.errorString();
        return QString::fromLatin1(kFileNotWritable).arg(m_path, why);
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
    // Nothing reached the path: only the part file the job made goes.
    EndSpool();
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
    return QString::fromLatin1(print_texts::kPrintFailedFormat)
        .arg(reason.isEmpty() ? QString::fromLatin1(print_texts::kNotFinished) : reason);
}
