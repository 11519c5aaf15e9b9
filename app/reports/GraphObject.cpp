#include "app/reports/GraphObject.h"

#include <QLinearGradient>
#include <QPainter>

#include "app/reports/BarGraph.h"
#include "app/reports/ChartPaint.h"
#include "app/reports/LineGraph.h"
#include "app/reports/PieGraph.h"

using namespace charts;

namespace {

const QColor kShadowGrey(128, 128, 128);

} // namespace

template <class Fn>
void CGraphObject::WithGraph(Fn&& fn) const {
    if (m_pBarGraph)
        fn(*m_pBarGraph);
    if (m_pLineGraph)
        fn(*m_pLineGraph);
    if (m_pPieGraph)
        fn(*m_pPieGraph);
}

CGraphObject::CGraphObject() {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    m_animationTimer.setObjectName(QStringLiteral("animationTimer"));
    m_animationTimer.setInterval(kAnimationIntervalMs);
    connect(&m_animationTimer, &QTimer::timeout, this, &CGraphObject::OnTimer);
}

CGraphObject::~CGraphObject() = default;

bool CGraphObject::Create(const QRect& rect, QWidget* parent, int id) {
    const Rect r = AdjustWindowRect({rect.left(), rect.top(), rect.left() + rect.width(), rect.top() + rect.height()});
    m_ptOrigin = {r.left, r.top};
    m_szWindow = {r.Width(), r.Height()};
    m_crBackground = Rgb(255, 255, 255);
    m_bFullRedraw = 1;
    const FontSize title = TitleFontSize(m_szWindow);
    const FontSize subtitle = SubtitleFontSize(m_szWindow);
    m_titleFont = MakeChartFont(QStringLiteral("Arial"), title.height, title.width);
    m_subtitleFont = MakeChartFont(QStringLiteral("Arial"), subtitle.height, subtitle.width);
    if (parent)
        setParent(parent);
    if (objectName().isEmpty())
        setObjectName(QString::number(id));
    setGeometry(r.left, r.top, r.Width(), r.Height());
    // Created hidden: showing the parent does not show it, its owner does.
    hide();
    return true;
}

void CGraphObject::SetMessageSink(ChartMessageSink sink) {
    m_sink = std::move(sink);
    if (m_pBarGraph)
        m_pBarGraph->SetMessageSink(m_sink);
    if (m_pLineGraph)
        m_pLineGraph->SetMessageSink(m_sink);
}

void CGraphObject::SetGraphType(int type) {
    m_nGraphType = type;
    m_pBarGraph.reset();
    m_pLineGraph.reset();
    m_pPieGraph.reset();
    PlotRect plot;
    if (GraphPlotRect(type, m_szWindow, &plot)) {
        const int x = plot.origin.x, y = plot.origin.y, cx = plot.size.cx, cy = plot.size.cy;
        switch (type) {
        case kBarGraph:
            m_pBarGraph = std::make_unique<C2DBarGraph>(x, y, cx, cy);
            m_pBarGraph->SetWindowSize(m_szWindow.cx, m_szWindow.cy);
            m_pBarGraph->SetMessageSink(m_sink);
            break;
        case kLineGraph:
            m_pLineGraph = std::make_unique<C2DLineGraph>(x, y, cx, cy);
            m_pLineGraph->SetWindowSize(m_szWindow.cx, m_szWindow.cy);
            m_pLineGraph->SetMessageSink(m_sink);
            break;
        case kPieGraph:
            m_pPieGraph = std::make_unique<C2DPieGraph>(x, y, cx, cy);
            m_pPieGraph->SetWindowSize(m_szWindow.cx, m_szWindow.cy);
            break;
        }
    }
    const QSize size(m_szWindow.cx, m_szWindow.cy);
    m_drawSurface = QImage(size, QImage::Format_RGB32);
    m_drawSurface.fill(ToQColor(m_crBackground));
    m_backSurface = QImage(size, QImage::Format_RGB32);
    PaintGradient();
}

void CGraphObject::PaintGradient() {
    if (m_backSurface.isNull())
        return;
    const double w = m_szWindow.cx;
    const double h = m_szWindow.cy;
    // Half-pixel ends, so the first and last rows (or columns) are sampled at
    // exactly the start and end colours.
    QLinearGradient gradient = m_nGradientMode == kGradientHorizontal ? QLinearGradient(0.5, 0, w - 0.5, 0)
                                                                      : QLinearGradient(0, 0.5, 0, h - 0.5);
    gradient.setColorAt(0, ToQColor(m_crGradientStart));
    gradient.setColorAt(1, ToQColor(m_crGradientEnd));
    QPainter p(&m_backSurface);
    p.fillRect(m_backSurface.rect(), gradient);
}

void CGraphObject::ClearGraph() {
    WithGraph([](auto& graph) { graph.Clear(); });
}

void CGraphObject::SetGraphTitle(const QString& title) {
    m_strTitle = title;
    m_bFullRedraw = 1;
    update();
}

void CGraphObject::SetGraphSubtitle(const QString& subtitle) {
    m_strSubtitle = subtitle;
    m_bFullRedraw = 1;
    update();
}

void CGraphObject::SetGraphFillType(int fillType) {
    m_nFillType = fillType == kFillGradient ? kFillGradient : kFillSolid;
}

void CGraphObject::SetGraphGradientColors(COLORREF start, COLORREF end) {
    m_crGradientStart = start;
    m_crGradientEnd = end;
    PaintGradient();
}

void CGraphObject::SetGraphTitleShadow(int on) {
    m_bTitleShadow = on == 1 ? 1 : 0;
}
void CGraphObject::SetGraphSubtitleShadow(int on) {
    m_bSubtitleShadow = on == 1 ? 1 : 0;
}
void CGraphObject::SetGraphSubtitleColor(COLORREF colour) {
    m_crSubtitle = colour;
}

void CGraphObject::SetGraphTextColor(COLORREF colour) {
    if (m_nGraphType == kBarGraph && m_pBarGraph)
        m_pBarGraph->SetTextColor(colour);
    if (m_nGraphType == kLineGraph && m_pLineGraph)
        m_pLineGraph->SetTextColor(colour);
    update();
}

void CGraphObject::Add2DBarGraphSegment(const QString& label) {
    if (m_pBarGraph)
        m_pBarGraph->AddSegment(label);
}
void CGraphObject::Add2DBarGraphSeries(const QString& name, COLORREF colour) {
    if (m_pBarGraph)
        m_pBarGraph->AddSeries(name, colour);
}
void CGraphObject::Set2DBarGraphValue(int segment, int series, double value) {
    if (m_pBarGraph)
        m_pBarGraph->SetValue(segment, series, value);
}
void CGraphObject::Add2DLineGraphSegment(const QString& label) {
    if (m_pLineGraph)
        m_pLineGraph->AddSegment(label);
}
void CGraphObject::Add2DLineGraphSeries(const QString& name, COLORREF colour) {
    if (m_pLineGraph)
        m_pLineGraph->AddSeries(name, colour);
}
void CGraphObject::Set2DLineGraphValue(int segment, int series, double value) {
    if (m_pLineGraph)
        m_pLineGraph->SetValue(segment, series, value);
}
void CGraphObject::Set2DLineGraphLabelSteps(std::vector<std::vector<QString>> steps) {
    if (m_pLineGraph)
        m_pLineGraph->SetLabelSteps(std::move(steps));
}
void CGraphObject::Add2DPieGraphSlice(int percent, COLORREF colour, const QString& label) {
    if (m_pPieGraph)
        m_pPieGraph->AddSlice(percent, colour, label);
}

int CGraphObject::GetAnimationPercent() const {
    int percent = 0;
    WithGraph([&](const auto& graph) { percent = graph.GetAnimationPercent(); });
    return percent;
}

void CGraphObject::SetGraphAnimation(int on, int kind) {
    bool accepted = false;
    WithGraph([&](auto& graph) {
        accepted = graph.SetAnimation(on, kind);
        graph.StepAnimation();
    });
    m_bAnimate = accepted ? on : 0;
    if (m_bAnimate == 1) {
        m_animationTimer.start();
    } else {
        m_animationTimer.stop();
    }
}

void CGraphObject::OnTimer() {
    WithGraph([](auto& graph) { graph.StepAnimation(); });
    if (GetAnimationPercent() >= 100 && HasSurfaces()) {
        QPainter p(&m_drawSurface);
        FillArea(p, FinishedStepClearRect(m_szWindow), ToQColor(m_crBackground));
    }
    m_bFullRedraw = 0;
    update();
}

void CGraphObject::DrawGraph() {
    WithGraph([&](auto& graph) { graph.Draw(m_drawSurface); });
}

void CGraphObject::DrawGraphLegend() {
    if (m_bShowLegend == 1)
        WithGraph([&](const auto& graph) { graph.DrawLegend(m_drawSurface); });
}

void CGraphObject::DrawTitles(bool gradient) {
    const TitleLayout t = TitlePositions(m_szWindow, gradient);
    QPainter p(&m_drawSurface);
    PrepareChartPainter(p);
    p.setFont(m_titleFont);
    if (m_bTitleShadow == 1) {
        p.setPen(kShadowGrey);
        DrawTextAt(p, t.titleShadow.x, t.titleShadow.y, m_strTitle);
    }
    p.setPen(ToQColor(m_crTitle));
    DrawTextAt(p, t.title.x, t.title.y, m_strTitle);
    p.setFont(m_subtitleFont);
    if (m_bSubtitleShadow == 1) {
        p.setPen(kShadowGrey);
        DrawTextAt(p, t.subtitleShadow.x, t.subtitleShadow.y, m_strSubtitle);
    }
    p.setPen(ToQColor(m_crSubtitle));
    DrawTextAt(p, t.subtitle.x, t.subtitle.y, m_strSubtitle);
}

void CGraphObject::ComposeFrame() {
    if (!HasSurfaces())
        return;
    const bool gradient = m_nFillType == kFillGradient;
    {
        QPainter p(&m_drawSurface);
        if (gradient) {
            p.drawImage(0, 0, m_backSurface);
        } else if (m_bFullRedraw == 1) {
            // The titles are drawn again: clear what the old ones left.
            p.fillRect(m_drawSurface.rect(), ToQColor(m_crBackground));
        } else {
            FillArea(p, PaintPlotRect(m_nGraphType, m_szWindow), ToQColor(m_crBackground));
        }
    }
    DrawGraph();
    if (gradient || m_bFullRedraw == 1) {
        DrawTitles(gradient);
        DrawGraphLegend();
        if (!gradient)
            m_bFullRedraw = 0;
    }
}

void CGraphObject::paintEvent(QPaintEvent*) {
    if (!HasSurfaces())
        return;
    ComposeFrame();
    QPainter p(this);
    p.drawImage(0, 0, m_drawSurface);
}

void CGraphObject::showEvent(QShowEvent* event) {
    OnEraseBkgnd();
    QWidget::showEvent(event);
}

void CGraphObject::OnEraseBkgnd() {
    m_bFullRedraw = 1;
    if (!HasSurfaces())
        return;
    m_drawSurface.fill(ToQColor(m_crBackground));
}
