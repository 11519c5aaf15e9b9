#pragma once
// The scrolling strip chart of the main window: a grid with axis labels drawn
// once into one image, each new value drawn as one segment into a second
// image that scrolls left, and both combined when painted.
#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <QWidget>
#include <deque>

class COScopeCtrl : public QWidget {
    Q_OBJECT

public:
    explicit COScopeCtrl(QWidget* parent = nullptr);

    void SetRange(double lower, double upper, int decimalPlaces);
    void SetXUnits(const QString& text);
    void SetYUnits(const QString& text);
    void SetGridColor(QColor color);
    void SetPlotColor(QColor color);
    // Draws value as the newest point at the right edge; the value that was
    // current before.
    double AppendPoint(double value);
    // An empty plot: the next point starts a new trace.
    void Reset();
    // Draws the grid and labels again and empties the plot.
    void RedrawControl();

    // What the window shows: the grid with the plot combined over it.
    QImage Composite() const;
    // Left and top inside, right and bottom just outside, as the plot's
    // edges are counted.
    QRect PlotRect() const { return QRect(m_left, m_top, m_right - m_left, m_bottom - m_top); }
    QColor PlotColor() const { return m_crPlotColor; }
    QColor GridColor() const { return m_crGridColor; }
    QColor BackgroundColor() const { return m_crBackColor; }
    // The y of a value inside the plot, as its segments are drawn.
    int ValueToY(double value) const;
    int Shift() const { return m_nShiftPixels; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnSize();
    // Images, plot and trace follow the window's current size.
    void SyncSize();
    void DrawPoint();
    void DrawGrid();

    int m_nShiftPixels = 4;
    int m_nHalfShiftPixels = 2;
    int m_nPlotShiftPixels = 6;
    int m_nYDecimals = 3;
    QString m_strXUnitsString = QStringLiteral("Samples");
    QString m_strYUnitsString = QStringLiteral("Y units");
    QColor m_crBackColor{0, 0, 0};
    QColor m_crGridColor{0, 255, 255};
    QColor m_crPlotColor{255, 255, 255};
    double m_dCurrentPosition = 0.0;
    double m_dPreviousPosition = 0.0;
    // False until a point was drawn since the plot was last emptied.
    bool m_bHavePrevious = false;
    double m_dLowerLimit = -10.0;
    double m_dUpperLimit = 10.0;
    double m_dRange = 20.0;
    double m_dVerticalFactor = 0.0;
    int m_clientWidth = 0;
    int m_clientHeight = 0;
    int m_left = 0;
    int m_top = 0;
    int m_right = 0;
    int m_bottom = 0;
    QImage m_imgGrid;
    QImage m_imgPlot;
    // The points since the plot was emptied, newest last, so a resize can
    // draw them again; no more than the plot can show.
    std::deque<double> m_history;
};
