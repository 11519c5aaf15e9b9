#pragma once
// The child window a report is charted in: one bar, pie or line graph framed
// by a solid or gradient background, a title and a subtitle. Every paint is
// composed in an off-screen image and copied to the window in one go.
#include <QFont>
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

#include "app/reports/ChartGeometry.h"
#include "app/reports/SeriesModel.h"

class C2DBarGraph;
class C2DLineGraph;
class C2DPieGraph;

class CGraphObject : public QWidget {
    Q_OBJECT

public:
    static constexpr int kAnimationIntervalMs = 50;

    CGraphObject();
    ~CGraphObject() override;

    // Takes `rect` in the parent's coordinates, at least 200 by 200.
    bool Create(const QRect& rect, QWidget* parent, int id);
    // Builds the graph of `type` and both drawing surfaces; follows Create.
    void SetGraphType(int type);
    void ClearGraph();

    void SetGraphTitle(const QString& title);
    void SetGraphSubtitle(const QString& subtitle);
    void SetGraphFillType(int fillType);
    void SetGraphGradientColors(charts::COLORREF start, charts::COLORREF end);
    void SetGraphTitleShadow(int on);
    void SetGraphSubtitleShadow(int on);
    void SetGraphSubtitleColor(charts::COLORREF colour);
    void SetGraphTextColor(charts::COLORREF colour);

    void Add2DBarGraphSegment(const QString& label);
    void Add2DBarGraphSeries(const QString& name, charts::COLORREF colour);
    void Set2DBarGraphValue(int segment, int series, double value);
    void Add2DLineGraphSegment(const QString& label);
    void Add2DLineGraphSeries(const QString& name, charts::COLORREF colour);
    void Set2DLineGraphValue(int segment, int series, double value);
    // A time axis: see CSeriesModel::SetLabelSteps.
    void Set2DLineGraphLabelSteps(std::vector<std::vector<QString>> steps);
    void Add2DPieGraphSlice(int percent, charts::COLORREF colour, const QString& label);

    // on 1 starts the 50 ms animation timer, anything else stops it. A graph
    // that cannot animate with its data refuses, and the timer stays off.
    void SetGraphAnimation(int on, int kind);

    // Where the data-entry messages go; the application wires its prompter.
    void SetMessageSink(ChartMessageSink sink);

    // Composes one paint into the drawing surface (what a paint shows).
    void ComposeFrame();
    const QImage& DrawSurface() const { return m_drawSurface; }
    const QImage& BackSurface() const { return m_backSurface; }
    bool HasSurfaces() const { return !m_drawSurface.isNull(); }

    int GraphType() const { return m_nGraphType; }
    charts::Size WindowSize() const { return m_szWindow; }
    charts::Point WindowOrigin() const { return m_ptOrigin; }
    int FillType() const { return m_nFillType; }
    bool IsAnimating() const { return m_bAnimate == 1; }
    bool NeedsFullRedraw() const { return m_bFullRedraw == 1; }
    const QTimer& AnimationTimer() const { return m_animationTimer; }
    const QFont& TitleFont() const { return m_titleFont; }
    const QFont& SubtitleFont() const { return m_subtitleFont; }
    C2DBarGraph* BarGraph() const { return m_pBarGraph.get(); }
    C2DLineGraph* LineGraph() const { return m_pLineGraph.get(); }
    C2DPieGraph* PieGraph() const { return m_pPieGraph.get(); }
    int GetAnimationPercent() const;

public slots:
    void OnTimer();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Runs `fn` on the graph of the current type, if there is one.
    template <class Fn>
    void WithGraph(Fn&& fn) const;
    void OnEraseBkgnd();
    void PaintGradient();
    void DrawTitles(bool gradient);
    void DrawGraph();
    void DrawGraphLegend();

    int m_bShowLegend = 1;
    charts::COLORREF m_crSubtitle = charts::Rgb(0, 0, 0);
    charts::COLORREF m_crTitle = charts::Rgb(0, 0, 0);
    int m_bSubtitleShadow = 0;
    int m_bTitleShadow = 0;
    int m_nGradientMode = charts::kGradientVertical;
    charts::COLORREF m_crGradientEnd = charts::Rgb(0, 0, 216);
    charts::COLORREF m_crGradientStart = charts::Rgb(0, 0, 64);
    int m_nFillType = charts::kFillSolid;
    int m_bAnimate = 0;
    QFont m_subtitleFont;
    QString m_strSubtitle = QStringLiteral("Add graph subtitle here");
    QImage m_backSurface;
    QImage m_drawSurface;
    int m_bFullRedraw = 1;
    QFont m_titleFont;
    QString m_strTitle = QStringLiteral("Add graph title here");
    charts::COLORREF m_crBackground = charts::Rgb(255, 255, 255);
    int m_nGraphType = charts::kNoGraph;
    charts::Size m_szWindow;
    charts::Point m_ptOrigin;
    std::unique_ptr<C2DLineGraph> m_pLineGraph;
    std::unique_ptr<C2DBarGraph> m_pBarGraph;
    std::unique_ptr<C2DPieGraph> m_pPieGraph;
    QTimer m_animationTimer;
    ChartMessageSink m_sink;
};
