#include "PrintTestSupport.h"

#include <QDir>
#include <QRegularExpression>

#include "tests/support/QtTestSupport.h"

namespace printtest {

ImageCanvas::ImageCanvas(int width, int height, int dpi) : m_image(width, height, QImage::Format_RGB32) {
    const int dotsPerMeter = static_cast<int>(dpi / 0.0254 + 0.5);
    m_image.setDotsPerMeterX(dotsPerMeter);
    m_image.setDotsPerMeterY(dotsPerMeter);
    m_image.fill(Qt::white);
    m_painter.begin(&m_image);
    m_dc = std::make_unique<DeviceContext>(&m_painter);
}

ImageCanvas::~ImageCanvas() {
    Finish();
}

const QImage& ImageCanvas::Finish() {
    if (m_painter.isActive()) {
        m_dc.reset();
        m_painter.end();
    }
    return m_image;
}

QRgb ImageCanvas::Pixel(int x, int y) {
    return Finish().pixel(x, y);
}

bool ImageCanvas::IsDark(int x, int y) {
    return qGray(Pixel(x, y)) < 128;
}

namespace {
Call Record(Call::Kind kind, const PrintState* s, int penWidth, double factor) {
    return {kind, *s, penWidth, factor, s->dc->GetTextColor(), s->dc->GetBkMode()};
}
} // namespace

int RecordingPrinter::MeasureText(PrintState* s, double factor) {
    const int r = CPrinter::MeasureText(s, factor);
    m_calls->push_back(Record(Call::Measure, s, 0, factor));
    return r;
}

int RecordingPrinter::OutputText(PrintState* s, double factor) {
    m_calls->push_back(Record(Call::Output, s, 0, factor));
    const int r = CPrinter::OutputText(s, factor);
    m_calls->back().state = *s; // with the rectangle the text took
    return r;
}

void RecordingPrinter::DrawLine(PrintState* s, int penWidth) {
    m_calls->push_back(Record(Call::Line, s, penWidth, 0.0));
    CPrinter::DrawLine(s, penWidth);
}

void RecordingPrinter::DrawBox(PrintState* s, int penWidth) {
    m_calls->push_back(Record(Call::Box, s, penWidth, 0.0));
    CPrinter::DrawBox(s, penWidth);
}

void RecordingPrinter::FillArea(PrintState* s) {
    m_calls->push_back(Record(Call::Fill, s, 0, 0.0));
    CPrinter::FillArea(s);
}

std::vector<Call> CallsOf(const std::vector<Call>& calls, Call::Kind kind) {
    std::vector<Call> out;
    for (const Call& c : calls)
        if (c.kind == kind)
            out.push_back(c);
    return out;
}

void SetUpPdfPrinter(QPrinter& printer, const QString& file, QPageSize::PageSizeId size) {
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setResolution(600);
    printer.setPageSize(QPageSize(size));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setFullPage(false);
    printer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
}

QByteArray Run(const QString& program, const QStringList& args, int* exitCode) {
    const grvtest::RunResult run = grvtest::RunProgram(program, args);
    if (exitCode)
        *exitCode = run.status;
    return run.Ok() ? QByteArray::fromStdString(run.out) : QByteArray();
}

namespace {

QString Unescape(QString text) {
    // The fonts set some letter pairs as one ligature glyph.
    text.replace(QChar(0xFB00), "ff").replace(QChar(0xFB01), "fi").replace(QChar(0xFB02), "fl");
    text.replace(QChar(0xFB03), "ffi").replace(QChar(0xFB04), "ffl");
    text.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&apos;", "'");
    return text.replace("&amp;", "&");
}

} // namespace

std::vector<PdfWord> PdfWords(const QString& pdf, int page) {
    const QString html = QString::fromUtf8(
        Run("pdftotext", {"-bbox", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"}));
    static const QRegularExpression word(
        R"re(<word xMin="(-?[\d.]+)" yMin="(-?[\d.]+)" xMax="(-?[\d.]+)" yMax="(-?[\d.]+)">([^<]*)</word>)re");
    std::vector<PdfWord> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.push_back({Unescape(m.captured(5)), m.captured(1).toDouble(), m.captured(2).toDouble(),
                         m.captured(3).toDouble(), m.captured(4).toDouble()});
    }
    return words;
}

bool FindLine(const std::vector<PdfWord>& words, const QString& line, PdfWord* box, double minY) {
    const QStringList parts = line.split(' ', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return false;
    for (std::size_t i = 0; i + parts.size() <= words.size(); ++i) {
        bool match = words[i].yMin >= minY;
        for (qsizetype k = 0; k < parts.size() && match; ++k)
            match = words[i + static_cast<std::size_t>(k)].text == parts[k];
        if (!match)
            continue;
        PdfWord b = words[i];
        for (qsizetype k = 1; k < parts.size(); ++k) {
            const PdfWord& w = words[i + static_cast<std::size_t>(k)];
            b.xMin = std::min(b.xMin, w.xMin);
            b.yMin = std::min(b.yMin, w.yMin);
            b.xMax = std::max(b.xMax, w.xMax);
            b.yMax = std::max(b.yMax, w.yMax);
        }
        b.text = line;
        *box = b;
        return true;
    }
    return false;
}

QString PdfInfo(const QString& pdf, const QString& field) {
    const QString info = QString::fromUtf8(Run("pdfinfo", {pdf}));
    for (const QString& l : info.split('\n')) {
        if (l.startsWith(field + ":"))
            return l.mid(field.size() + 1).trimmed();
    }
    return {};
}

QImage RenderPdf(const QString& pdf, int page, int dpi, int x, int y, int w, int h) {
    const QString base = pdf + ".crop";
    Run("pdftoppm", {"-png",      "-singlefile",
                     "-aa",       "no",
                     "-aaVector", "no",
                     "-r",        QString::number(dpi),
                     "-f",        QString::number(page),
                     "-l",        QString::number(page),
                     "-x",        QString::number(x),
                     "-y",        QString::number(y),
                     "-W",        QString::number(w),
                     "-H",        QString::number(h),
                     pdf,         base});
    QImage image(base + ".png");
    QFile::remove(base + ".png");
    return image;
}

PdfCrop::PdfCrop(const QString& pdf, int page, int dpi, int x, int y, int w, int h)
    : m_image(RenderPdf(pdf, page, dpi, x, y, w, h)), m_x(x), m_y(y) {}

bool PdfCrop::Dark(int x, int y) const {
    if (!m_image.valid(x - m_x, y - m_y))
        return false;
    return qGray(m_image.pixel(x - m_x, y - m_y)) < 128;
}

bool PdfCrop::DarkNear(int x, int y) const {
    for (int d = -1; d <= 1; ++d)
        if (Dark(x, y + d) || Dark(x + d, y))
            return true;
    return false;
}

int PdfCrop::FirstDarkBelow(int x, int y, int limit) const {
    for (const int end = y + limit; y < end; ++y)
        if (Dark(x, y))
            return y;
    return -1;
}

QString TempPath(const QString& name) {
    static grvtest::TempDir dir("grv-print");
    // GRV_KEEP_PRINTOUTS=1 keeps the files for a look.
    if (qEnvironmentVariableIntValue("GRV_KEEP_PRINTOUTS") != 0)
        dir.Keep();
    return QString::fromStdString(dir.File(name.toStdString()));
}

} // namespace printtest
