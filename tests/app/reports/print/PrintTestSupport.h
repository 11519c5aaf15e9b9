#pragma once
// Shared helpers of the print tests: painting on images, PDF printers at
// 600 dpi, a printer component that records what a page hands it, and the
// poppler tools that judge the PDF files.
#include <QImage>
#include <QPainter>
#include <QPrinter>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <vector>

#include "app/reports/print/DeviceContext.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/Printer.h"

namespace printtest {

// An image of the given size and resolution, white, with a device context.
class ImageCanvas {
public:
    ImageCanvas(int width, int height, int dpi);
    ~ImageCanvas();
    DeviceContext* Dc() { return m_dc.get(); }
    // Ends painting (once) and gives the picture.
    const QImage& Finish();
    bool IsDark(int x, int y); // after Finish
    QRgb Pixel(int x, int y);

private:
    QImage m_image;
    QPainter m_painter;
    std::unique_ptr<DeviceContext> m_dc;
};

// What a page asked its printer component to do.
struct Call {
    enum Kind { Measure, Output, Line, Box, Fill } kind;
    PrintState state; // as handed over
    int penWidth = 0;
    double factor = 0.0;
    QColor textColor; // of the device context when handed over
    int bkMode = 0;
};

class RecordingPrinter : public CPrinter {
public:
    explicit RecordingPrinter(std::vector<Call>* calls) : m_calls(calls) {}
    int MeasureText(PrintState* s, double factor) override;
    int OutputText(PrintState* s, double factor) override;
    void DrawLine(PrintState* s, int penWidth) override;
    void DrawBox(PrintState* s, int penWidth) override;
    void FillArea(PrintState* s) override;

private:
    std::vector<Call>* m_calls;
};

std::vector<Call> CallsOf(const std::vector<Call>& calls, Call::Kind kind);

// A PDF printer at 600 dpi with no margins.
void SetUpPdfPrinter(QPrinter& printer, const QString& file, QPageSize::PageSizeId size);

struct PdfWord {
    QString text;
    double xMin, yMin, xMax, yMax; // points from the paper's top-left corner
};
// The words of one page (from 1) as pdftotext -bbox finds them.
std::vector<PdfWord> PdfWords(const QString& pdf, int page);
// The first words at or below minY that spell the line, in order, as one
// box; false when absent.
bool FindLine(const std::vector<PdfWord>& words, const QString& line, PdfWord* box, double minY = -1e9);
QString PdfInfo(const QString& pdf, const QString& field);
// Renders a crop of a page at the given resolution (no anti-aliasing).
QImage RenderPdf(const QString& pdf, int page, int dpi, int x, int y, int w, int h);
// A crop of a rendered page, probed in the page's own pixel coordinates.
class PdfCrop {
public:
    PdfCrop(const QString& pdf, int page, int dpi, int x, int y, int w, int h);
    bool IsNull() const { return m_image.isNull(); }
    bool Dark(int x, int y) const;
    // Dark at the point or one pixel beside it (rules land on whole pixels).
    bool DarkNear(int x, int y) const;
    // The first dark row at or below y in column x, looking at most limit rows; -1 if none.
    int FirstDarkBelow(int x, int y, int limit) const;

private:
    QImage m_image;
    int m_x, m_y;
};
// Runs a program; its standard output, empty when it failed.
QByteArray Run(const QString& program, const QStringList& args, int* exitCode = nullptr);

// Left, top, right and bottom of a state, to compare in one go.
using Sides = std::array<int, 4>;
inline Sides Area(const PrintState& s) {
    return {s.left, s.top, s.right, s.bottom};
}

// A temporary folder for the test's files (under TMPDIR).
QString TempPath(const QString& name);

} // namespace printtest

namespace printtest {

// A page on a small 600 dpi image whose print area is that of Letter with
// half-inch margins (the page only computes beyond the image's edge).
struct RecordedPage {
    explicit RecordedPage(int mapMode = 1, PrintRect rect = {300, 300, 4800, 6300}, int dpi = 600, int imageSize = 64)
        : canvas(imageSize, imageSize, dpi),
          page(rect, canvas.Dc(), mapMode, std::make_unique<RecordingPrinter>(&calls)) {}
    std::vector<Call> Outputs() const { return CallsOf(calls, Call::Output); }
    std::vector<Call> calls;
    ImageCanvas canvas;
    CPage page;
};

} // namespace printtest
