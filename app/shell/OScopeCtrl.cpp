#include "app/shell/OScopeCtrl.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QResizeEvent>
#include <cmath>

namespace {

// A rectangle from its edges, right and bottom outside it.
QRect Edges(int left, int top, int right, int bottom) {
    return QRect(left, top, right - left, bottom - top);
}

// Digits of a limit's integer part, less one; 0 for 0.
int Magnitude(double limit) {
    if (limit == 0.0)
        return 0;
    return std::abs(static_cast<int>(std::log10(std::fabs(limit))));
}

QFont AxisFont() {
    QFont font(QStringLiteral("Arial"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(14);
    font.setWeight(QFont::Light);
    return font;
}

QString FormatLimit(double value, int decimals) {
    return QString::number(value, 'f', decimals);
}

// A history long enough for any sensible window; a resize never needs more.
constexpr std::size_t kMaxHistory = 4096;

} // namespace

COScopeCtrl::COScopeCtrl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    OnSize();
    RedrawControl();
}

void COScopeCtrl::SetRange(double lower, double upper, int decimalPlaces) {
    m_dLowerLimit = lower;
    m_dUpperLimit = upper;
    m_nYDecimals = decimalPlaces;
    m_dRange = m_dUpperLimit - m_dLowerLimit;
    m_dVerticalFactor = m_dRange != 0.0 ? (m_bottom - m_top) / m_dRange : 0.0;
    RedrawControl();
}

void COScopeCtrl::SetXUnits(const QString& text) {
    m_strXUnitsString = text;
    RedrawControl();
}

void COScopeCtrl::SetYUnits(const QString& text) {
    m_strYUnitsString = text;
    RedrawControl();
}

void COScopeCtrl::SetGridColor(QColor color) {
    m_crGridColor = color;
    RedrawControl();
}

void COScopeCtrl::SetPlotColor(QColor color) {
    m_crPlotColor = color;
    RedrawControl();
}

void COScopeCtrl::Reset() {
    RedrawControl();
}

double COScopeCtrl::AppendPoint(double value) {
    SyncSize();
    const double before = m_dCurrentPosition;
    m_dCurrentPosition = value;
    m_history.push_back(value);
    if (m_history.size() > kMaxHistory)
        m_history.pop_front();
    DrawPoint();
    update();
    return before;
}

void COScopeCtrl::OnSize() {
    m_clientWidth = std::max(width(), 1);
    m_clientHeight = std::max(height(), 1);
    m_left = 20;
    m_top = 10;
    m_right = m_clientWidth - 10;
    m_bottom = m_clientHeight - 25;
    m_dVerticalFactor = m_dRange != 0.0 ? (m_bottom - m_top) / m_dRange : 0.0;
}

void COScopeCtrl::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    SyncSize();
}

void COScopeCtrl::SyncSize() {
    // A hidden window hears of its new size only when shown.
    if (std::max(width(), 1) == m_clientWidth && std::max(height(), 1) == m_clientHeight)
        return;
    // The images follow the window's size; the trace is drawn again on them.
    const std::deque<double> points = m_history;
    const double current = m_dCurrentPosition;
    RedrawControl();
    for (double v : points) {
        m_dCurrentPosition = v;
        m_history.push_back(v);
        DrawPoint();
    }
    m_dCurrentPosition = points.empty() ? current : points.back();
}

void COScopeCtrl::RedrawControl() {
    OnSize();
    const QSize size(m_clientWidth, m_clientHeight);
    if (m_imgGrid.size() != size)
        m_imgGrid = QImage(size, QImage::Format_RGB32);
    if (m_imgPlot.size() != size)
        m_imgPlot = QImage(size, QImage::Format_RGB32);
    DrawGrid();
    m_imgPlot.fill(m_crBackColor);
    m_history.clear();
    m_bHavePrevious = false;
    update();
}

void COScopeCtrl::DrawGrid() {
    m_imgGrid.fill(m_crBackColor);
    const int characters = std::max(Magnitude(m_dUpperLimit), Magnitude(m_dLowerLimit)) + 4 + m_nYDecimals;
    m_left = 6 * characters;
    const int plotWidth = m_right - m_left;

    QPainter p(&m_imgGrid);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setRenderHint(QPainter::TextAntialiasing, false);
    p.setPen(QPen(m_crGridColor, 0));
    // The frame lies one pixel outside the plot on the right and bottom.
    const QPoint corners[] = {
        {m_left, m_top}, {m_right + 1, m_top}, {m_right + 1, m_bottom + 1}, {m_left, m_bottom + 1}};
    p.drawPolygon(corners, 4);

    const int mid = (m_top + m_bottom) / 2;
    const int quarter = (m_bottom - m_top) / 4;
    const QRgb grid = m_crGridColor.rgb();
    for (int x = m_left; x < m_right; x += 4) {
        for (int y : {mid - quarter, mid, mid + quarter}) {
            if (m_imgGrid.valid(x, y))
                m_imgGrid.setPixel(x, y, grid);
        }
    }

    const QFont font = AxisFont();
    p.setFont(font);
    const QFontMetrics fm(font);
    constexpr int kWide = 4096;
    const QString upper = FormatLimit(m_dUpperLimit, m_nYDecimals);
    p.drawText(QRect(m_left - 4 - kWide, m_top, kWide, kWide), Qt::AlignRight | Qt::AlignTop, upper);
    const QString lower = FormatLimit(m_dLowerLimit, m_nYDecimals);
    p.drawText(QPoint(m_left - 4 - fm.horizontalAdvance(lower), m_bottom), lower);
    p.drawText(QRect(m_left, m_bottom + 4, kWide, kWide), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("0"));
    p.drawText(QRect(m_right - kWide, m_bottom + 4, kWide, kWide), Qt::AlignRight | Qt::AlignTop,
               QString::number(plotWidth / m_nShiftPixels));
    const int xMid = (m_left + m_right) / 2;
    p.drawText(QRect(xMid - kWide / 2, m_bottom + 4, kWide, kWide), Qt::AlignHCenter | Qt::AlignTop, m_strXUnitsString);

    // Turned a quarter counter-clockwise, centred left of the plot.
    p.translate(m_left / 2, (m_bottom + m_top) / 2);
    p.rotate(-90);
    p.drawText(QPoint(-fm.horizontalAdvance(m_strYUnitsString) / 2, 0), m_strYUnitsString);
}

int COScopeCtrl::ValueToY(double value) const {
    return m_bottom - static_cast<long>((value - m_dLowerLimit) * m_dVerticalFactor);
}

void COScopeCtrl::DrawPoint() {
    if (m_imgPlot.isNull() || m_right - m_left <= m_nPlotShiftPixels)
        return;
    const int plotWidth = m_right - m_left;
    const int plotHeight = m_bottom - m_top;
    QPainter p(&m_imgPlot);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Scroll left by one shift.
    const QImage moved = m_imgPlot.copy(m_left + m_nShiftPixels, m_top + 1, plotWidth, plotHeight);
    p.drawImage(m_left, m_top + 1, moved);
    p.fillRect(Edges(m_right - m_nShiftPixels, m_top, m_right, m_bottom), m_crBackColor);

    // The first point after the plot was emptied starts from itself.
    const double previous = m_bHavePrevious ? m_dPreviousPosition : m_dCurrentPosition;
    const int prevY = ValueToY(previous);
    const int currY = ValueToY(m_dCurrentPosition);
    p.setPen(QPen(m_crPlotColor, 0));
    p.drawLine(m_right - m_nPlotShiftPixels, prevY, m_right - m_nHalfShiftPixels, currY);

    // What went beyond the plot is painted over.
    if (prevY <= m_top || currY <= m_top)
        p.fillRect(Edges(m_right - m_nPlotShiftPixels, 0, m_right - m_nHalfShiftPixels + 1, m_top + 1), m_crBackColor);
    if (prevY >= m_bottom || currY >= m_bottom)
        p.fillRect(
            Edges(m_right - m_nPlotShiftPixels, m_bottom + 1, m_right - m_nHalfShiftPixels + 1, m_clientHeight + 1),
            m_crBackColor);

    m_dPreviousPosition = m_dCurrentPosition;
    m_bHavePrevious = true;
}

QImage COScopeCtrl::Composite() const {
    QImage out = m_imgGrid.copy();
    QPainter p(&out);
    // The plot's background is black, so an OR lets the grid show through.
    p.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    p.drawImage(0, 0, m_imgPlot);
    return out;
}

void COScopeCtrl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, Composite());
}
