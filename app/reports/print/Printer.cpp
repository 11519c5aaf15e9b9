#include "app/reports/print/Printer.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPen>
#include <QPolygon>

#include "app/reports/print/DeviceContext.h"

namespace {

const QColor kWhite(255, 255, 255);

// Stock brushes of the fill codes; no brush for a hollow fill.
Qt::BrushStyle FillBrush(int fill, QColor* color) {
    if (fill & print::kFillGray)
        *color = QColor(128, 128, 128);
    else if (fill & print::kFillLightGray)
        *color = QColor(192, 192, 192);
    else if (fill & print::kFillDarkGray)
        *color = QColor(64, 64, 64);
    else if (fill & print::kFillBlack)
        *color = QColor(0, 0, 0);
    else
        return Qt::NoBrush;
    return Qt::SolidPattern;
}

QBrush BrushOf(int fill) {
    QColor color;
    const Qt::BrushStyle style = FillBrush(fill, &color);
    return style == Qt::NoBrush ? QBrush(Qt::NoBrush) : QBrush(color, style);
}

Qt::PenStyle LinePenStyle(int lineStyle) {
    if (lineStyle & print::kDashed)
        return Qt::DashLine;
    if (lineStyle & print::kDotted)
        return Qt::DotLine;
    if (lineStyle & print::kDashDot)
        return Qt::DashDotLine;
    if (lineStyle & print::kDashDotDot)
        return Qt::DashDotDotLine;
    return Qt::SolidLine;
}

Qt::PenStyle BoxPenStyle(int lineStyle) {
    if (lineStyle & print::kDashed)
        return Qt::DashLine;
    if (lineStyle & print::kDotted)
        return Qt::DotLine;
    return Qt::SolidLine;
}

QPen MakePen(const DeviceContext* dc, int width, Qt::PenStyle style) {
    QPen pen(dc->GetTextColor());
    pen.setWidth(width > 0 ? width : 0);
    pen.setStyle(style);
    pen.setCapStyle(Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

QFont MakeFont(const PrintState* s, const DeviceContext* dc) {
    QFont font(s->faceName);
    font.setStyleHint(QFont::SansSerif);
    // Points to device pixels, rounded as the system's MulDiv does.
    const int dpi = dc->GetDeviceCaps(print::kLogPixelsY);
    const int pixels = static_cast<int>((static_cast<long long>(s->pointSize) * dpi + 36) / 72);
    font.setPixelSize(pixels > 0 ? pixels : 1);
    font.setWeight((s->flags & print::kBold) ? QFont::Bold : QFont::Normal);
    font.setItalic(s->flags & print::kItalic);
    font.setUnderline(s->flags & print::kUnderline);
    font.setStrikeOut(s->flags & print::kStrikeOut);
    font.setKerning(false);
    return font;
}

int TextFormat(int flags) {
    int format = 0;
    if (flags & print::kCentred)
        format |= Qt::AlignHCenter;
    else if (flags & print::kRight)
        format |= Qt::AlignRight;
    else
        format |= Qt::AlignLeft;
    if (flags & print::kSingleLine) {
        format |= Qt::TextSingleLine;
        // Vertical centring applies to single lines only.
        format |= (flags & print::kVCentred) ? Qt::AlignVCenter : Qt::AlignTop;
    } else {
        format |= Qt::TextWordWrap | Qt::AlignTop;
    }
    if (flags & print::kExpandTabs)
        format |= Qt::TextExpandTabs;
    if (flags & print::kNoClip)
        format |= Qt::TextDontClip;
    return format;
}

QRect ToQRect(const PrintRect& r) {
    return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// The size the text takes, anchored at the rectangle's top-left corner.
PrintRect MeasureInto(QPainter* p, const PrintRect& r, int format, const QString& text) {
    const QRect bounds = p->boundingRect(ToQRect(r), format, text);
    return {r.left, r.top, r.left + bounds.width(), r.top + bounds.height()};
}

// Stores the rectangle a text took, in page coordinates (without the offset).
void StoreLastText(PrintState* s, const DeviceContext* dc, const PrintRect& deviceRect) {
    PrintRect r = dc->DPtoLP(deviceRect);
    r.left -= s->offset;
    r.right -= s->offset;
    s->lastHeight = r.bottom - r.top;
    s->lastEndColumn = r.right;
    s->lastRect = r;
}

void StoreMetrics(PrintState* s, const DeviceContext* dc, const QFontMetrics& fm) {
    if (!s->metrics)
        return;
    s->metrics->height = dc->DeviceToLogicalY(fm.height());
    s->metrics->ascent = dc->DeviceToLogicalY(fm.ascent());
    s->metrics->descent = dc->DeviceToLogicalY(fm.descent());
    s->metrics->aveCharWidth = dc->DeviceToLogicalX(fm.averageCharWidth());
    s->metrics->maxCharWidth = dc->DeviceToLogicalX(fm.maxWidth());
}

int ScaledSize(const PrintState* s, double factor) {
    return static_cast<int>(s->pointSize * factor);
}

} // namespace

int CPrinter::MeasureText(PrintState* s, double factor) {
    DeviceContext* dc = s->dc;
    QPainter* p = dc->Painter();
    const PrintRect work = dc->LPtoDP({s->left + s->offset, s->top, s->right + s->offset, s->bottom});
    dc->SaveDC();
    dc->UseDevicePixels();
    p->setFont(MakeFont(s, dc));
    const PrintRect result = MeasureInto(p, work, TextFormat(s->flags), s->text);
    dc->RestoreDC();
    StoreLastText(s, dc, result);
    return ScaledSize(s, factor);
}

int CPrinter::OutputText(PrintState* s, double factor) {
    if (s->text.isEmpty())
        return 2 * s->pointSize;
    DeviceContext* dc = s->dc;
    QPainter* p = dc->Painter();

    PrintRect logical{s->left + s->offset, s->top, s->right + s->offset, s->bottom};
    if (logical.right > s->pageWidth - s->offset)
        logical.right = s->pageWidth - s->offset;
    PrintRect work = dc->LPtoDP(logical);

    dc->SaveDC();
    dc->UseDevicePixels();
    const QFont font = MakeFont(s, dc);
    p->setFont(font);
    const int format = TextFormat(s->flags);
    if (s->right == 0 && s->bottom == 0)
        work = MeasureInto(p, work, format, s->text);

    PrintRect result = work;
    if (s->flags & print::kFramed) {
        if (s->fillCode & (print::kFillBlack | print::kFillLightGray | print::kFillDarkGray))
            dc->SetBkMode(print::kTransparent);
        if (s->fillCode & (print::kFillBlack | print::kFillDarkGray))
            dc->SetTextColor(kWhite);
        p->setPen(QPen(Qt::black, 0));
        p->setBrush(BrushOf(s->fillCode));
        p->drawRect(QRect(work.left, work.top, work.right - work.left - 1, work.bottom - work.top - 1));
    }

    p->setPen(dc->GetTextColor());
    if (m_nTextAngle != 0) {
        p->translate(work.left, work.top);
        p->rotate(-m_nTextAngle / 10.0);
        p->drawText(QRect(0, 0, work.right - work.left, work.bottom - work.top), format, s->text);
    } else {
        p->drawText(ToQRect(work), format, s->text);
    }
    result = MeasureInto(p, result, format, s->text);
    const QFontMetrics metrics = p->fontMetrics();
    dc->RestoreDC(); // also puts back the background mode and colour

    StoreLastText(s, dc, result);
    StoreMetrics(s, dc, metrics);
    m_nTextAngle = 0;
    return ScaledSize(s, factor);
}

void CPrinter::DrawLine(PrintState* s, int penWidth) {
    QPainter* p = s->dc->Painter();
    p->save();
    p->setPen(MakePen(s->dc, penWidth, LinePenStyle(s->lineStyle)));
    p->drawLine(s->left + s->offset, s->top, s->right + s->offset, s->bottom);
    p->restore();
}

void CPrinter::DrawBox(PrintState* s, int penWidth) {
    QPainter* p = s->dc->Painter();
    p->save();
    p->setPen(MakePen(s->dc, penWidth, BoxPenStyle(s->lineStyle)));
    p->setBrush(BrushOf(s->fillCode));
    const QPolygon corners({QPoint(s->left + s->offset, s->top), QPoint(s->right + s->offset, s->top),
                            QPoint(s->right + s->offset, s->bottom), QPoint(s->left + s->offset, s->bottom)});
    p->drawPolygon(corners);
    p->restore();
}

void CPrinter::FillArea(PrintState* s) {
    const QBrush brush = BrushOf(s->fillCode);
    if (brush.style() == Qt::NoBrush)
        return;
    s->dc->Painter()->fillRect(QRect(s->left + s->offset, s->top, s->right - s->left, s->bottom - s->top), brush);
}
