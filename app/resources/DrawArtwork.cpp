// Draws the application's artwork into PNG files. The pictures are committed;
// run this again only to change them:
//   cmake --build build --target grv_draw_artwork
//   QT_QPA_PLATFORM=offscreen build/app/shell/grv_draw_artwork app/resources
#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>
#include <functional>

namespace {

const QColor kTeal(0x1f, 0x6f, 0x8b);
const QColor kSea(0x2a, 0x9d, 0x8f);
const QColor kRed(0xd6, 0x28, 0x28);
const QColor kInk(0x30, 0x36, 0x3d);

QFont Font(int pixels, bool bold) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// A notebook page with a pain trend across it: the application's sign.
void DrawSign(QPainter& p, const QRectF& r) {
    const double s = r.width() / 256.0;
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, kSea);
    g.setColorAt(1, kTeal);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(r.adjusted(8 * s, 8 * s, -8 * s, -8 * s), 44 * s, 44 * s);
    const QRectF page(r.left() + 56 * s, r.top() + 40 * s, 144 * s, 176 * s);
    p.setBrush(QColor(0xfb, 0xf8, 0xef));
    p.drawRoundedRect(page, 12 * s, 12 * s);
    p.setPen(QPen(QColor(0xb8, 0xcf, 0xd8), 5 * s));
    for (int i = 0; i < 6; ++i) {
        const double y = page.top() + (38 + 24 * i) * s;
        p.drawLine(QPointF(page.left() + 18 * s, y), QPointF(page.right() - 18 * s, y));
    }
    QPainterPath trend;
    trend.moveTo(page.left() + 10 * s, page.top() + 120 * s);
    trend.lineTo(page.left() + 42 * s, page.top() + 92 * s);
    trend.lineTo(page.left() + 64 * s, page.top() + 128 * s);
    trend.lineTo(page.left() + 96 * s, page.top() + 58 * s);
    trend.lineTo(page.left() + 134 * s, page.top() + 84 * s);
    p.setPen(QPen(kRed, 13 * s, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(trend);
}

QImage Icon() {
    QImage img(256, 256, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    DrawSign(p, QRectF(0, 0, 256, 256));
    return img;
}

// One 24 x 24 toolbar picture each, in the toolbar's button order.
using Draw = std::function<void(QPainter&)>;

void Page(QPainter& p) {
    QPainterPath page;
    page.moveTo(5, 2.5);
    page.lineTo(14, 2.5);
    page.lineTo(19, 7.5);
    page.lineTo(19, 21.5);
    page.lineTo(5, 21.5);
    page.closeSubpath();
    p.setPen(QPen(kInk, 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(QPointF(14, 2.5), QPointF(14, 7.5));
    p.drawLine(QPointF(14, 7.5), QPointF(19, 7.5));
}

void Plus(QPainter& p, QPointF c, QColor colour) {
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(c, 5.5, 5.5);
    p.setPen(QPen(Qt::white, 2));
    p.drawLine(c + QPointF(-3, 0), c + QPointF(3, 0));
    p.drawLine(c + QPointF(0, -3), c + QPointF(0, 3));
}

const Draw kButtons[12] = {
    // New entry
    [](QPainter& p) {
        Page(p);
        Plus(p, {16.5, 17}, QColor(0x2e, 0x9e, 0x44));
    },
    // Save entry: a disk
    [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(0x2f, 0x6d, 0xc4));
        p.drawRoundedRect(QRectF(3.5, 3.5, 17, 17), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(7.5, 3.5, 9, 6));
        p.setBrush(QColor(0xdd, 0xe6, 0xf2));
        p.drawRect(QRectF(6.5, 13.5, 11, 7));
    },
    // Delete entry: a red cross over a page
    [](QPainter& p) {
        Page(p);
        p.setPen(QPen(kRed, 3, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(8, 9), QPointF(17, 18));
        p.drawLine(QPointF(17, 9), QPointF(8, 18));
    },
    // Find: a magnifier
    [](QPainter& p) {
        p.setPen(QPen(QColor(0x6b, 0x4a, 0x2b), 3.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(14.5, 14.5), QPointF(20.5, 20.5));
        p.setPen(QPen(kInk, 2));
        p.setBrush(QColor(0xcf, 0xe8, 0xf7));
        p.drawEllipse(QPointF(10, 10), 6.5, 6.5);
    },
    // Medicine cabinet: a cupboard with a cross
    [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(0xf4, 0xf4, 0xf4));
        p.drawRoundedRect(QRectF(3.5, 2.5, 17, 19), 2, 2);
        p.drawLine(QPointF(12, 2.5), QPointF(12, 21.5));
        p.setPen(Qt::NoPen);
        p.setBrush(kRed);
        p.drawRect(QRectF(10, 6, 4, 12));
        p.drawRect(QRectF(6, 10, 12, 4));
    },
    // Actions: a walking figure
    [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0xe0, 0x7a, 0x1f));
        p.drawEllipse(QPointF(13, 4.5), 2.5, 2.5);
        p.setPen(QPen(QColor(0xe0, 0x7a, 0x1f), 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(12, 8.5), QPointF(10.5, 15));               // body
        p.drawPolyline(QPolygonF({{10.5, 15}, {13.5, 18}, {13, 22}})); // front leg
        p.drawPolyline(QPolygonF({{10.5, 15}, {8, 18.5}, {5, 20}}));   // back leg
        p.drawPolyline(QPolygonF({{6.5, 11}, {9, 9}, {12, 8.5}, {15, 11.5}, {18, 12}}));
    },
    // Side effects: a warning sign
    [](QPainter& p) {
        p.setPen(QPen(kInk, 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(QColor(0xf5, 0xc2, 0x1b));
        p.drawPolygon(QPolygonF({{12, 2.5}, {22, 20.5}, {2, 20.5}}));
        p.setPen(QPen(kInk, 2.5, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(12, 8.5), QPointF(12, 13.5));
        p.drawPoint(QPointF(12, 17.5));
    },
    // Question: a bubble with a question mark
    [](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2f, 0x6d, 0xc4));
        p.drawEllipse(QPointF(12, 11), 9.5, 8.5);
        p.drawPolygon(QPolygonF({{7, 17}, {5, 22.5}, {12, 18.5}}));
        p.setPen(Qt::white);
        p.setFont(Font(14, true));
        p.drawText(QRectF(2, 1, 20, 20), Qt::AlignCenter, QStringLiteral("?"));
    },
    // Medicines taken: a capsule
    [](QPainter& p) {
        p.translate(12, 12);
        p.rotate(-45);
        QPainterPath left, right;
        left.addRoundedRect(QRectF(-9.5, -4.5, 19, 9), 4.5, 4.5);
        right.addRect(QRectF(0, -5, 10, 10));
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::white);
        p.drawPath(left);
        p.setBrush(kRed);
        p.drawPath(left.intersected(right));
    },
    // Mood: a face
    [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(0xf5, 0xc2, 0x1b));
        p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
        p.setBrush(kInk);
        p.drawEllipse(QPointF(8.5, 9.5), 1.3, 1.6);
        p.drawEllipse(QPointF(15.5, 9.5), 1.3, 1.6);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(7, 8, 10, 9), 200 * 16, 140 * 16);
    },
    // Print: a printer
    [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 2.5, 11, 7));
        p.setBrush(QColor(0x8a, 0x93, 0x9c));
        p.drawRoundedRect(QRectF(2.5, 8.5, 19, 9), 2, 2);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(6.5, 14.5, 11, 7));
        p.setPen(QPen(QColor(0xb0, 0xb6, 0xbc), 1));
        p.drawLine(QPointF(8.5, 17.5), QPointF(15.5, 17.5));
        p.drawLine(QPointF(8.5, 19.5), QPointF(13.5, 19.5));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2e, 0x9e, 0x44));
        p.drawEllipse(QPointF(18.5, 11), 1, 1);
    },
    // Show or hide the graph: a strip chart
    [](QPainter& p) {
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::black);
        p.drawRect(QRectF(2.5, 4.5, 19, 15));
        p.setPen(QPen(QColor(192, 192, 255), 1, Qt::DotLine));
        p.drawLine(QPointF(3, 12), QPointF(21, 12));
        p.setPen(QPen(QColor(255, 0, 0), 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPolyline(QPolygonF({{4, 15}, {8, 10}, {11, 13}, {15, 7}, {20, 11}}));
    },
};

QImage Toolbar() {
    QImage img(24 * 12, 24, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    for (int i = 0; i < 12; ++i) {
        p.save();
        p.translate(24 * i, 0);
        p.setClipRect(0, 0, 24, 24);
        kButtons[i](p);
        p.restore();
    }
    return img;
}

// 350 x 263, 24 bits; every pixel of RGB(128, 128, 128) is shown transparent.
QImage Splash() {
    QImage img(350, 263, QImage::Format_RGB32);
    img.fill(QColor(128, 128, 128));
    QPainter p(&img);
    // The card's outline is drawn without smoothing so no half-grey pixels
    // are left between it and the transparent surround.
    QPainterPath card;
    card.addRoundedRect(QRectF(6, 6, 338, 251), 26, 26);
    QLinearGradient g(0, 0, 350, 263);
    g.setColorAt(0, kSea);
    g.setColorAt(1, kTeal.darker(130));
    p.fillPath(card, g);
    p.setClipPath(card);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    DrawSign(p, QRectF(22, 52, 112, 112));
    p.setPen(Qt::white);
    p.setFont(Font(40, true));
    p.drawText(QRectF(146, 62, 190, 50), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Gorvane"));
    p.setPen(QColor(0xe6, 0xf4, 0xf1));
    p.setFont(Font(17, false));
    p.drawText(QRectF(148, 110, 190, 26), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Pain Journal"));
    p.setFont(Font(12, false));
    p.drawText(QRectF(148, 136, 190, 20), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Version 2.1.3"));
    // A quiet trend line along the foot of the card.
    QPainterPath trend;
    const double ys[] = {212, 198, 220, 190, 204, 184, 196, 176, 188, 170, 182};
    trend.moveTo(6, ys[0]);
    for (int i = 1; i < 11; ++i)
        trend.lineTo(6 + i * 33.8, ys[i]);
    p.setPen(QPen(QColor(255, 255, 255, 90), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(trend);
    p.setPen(QColor(0xcf, 0xe6, 0xe2));
    p.setFont(Font(11, false));
    p.drawText(QRectF(20, 226, 310, 18), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Bravenor"));
    p.drawText(QRectF(20, 226, 310, 18), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Starting\u2026"));
    return img.convertToFormat(QImage::Format_RGB888);
}

bool Save(const QImage& img, const QDir& dir, const char* name) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (img.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT-FOLDER\n", argv[0]);
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const bool ok = Save(Icon(), dir, "gorvane.png") &&
                    Save(Icon().scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation), dir, "gorvane-48.png") &&
                    Save(Toolbar(), dir, "toolbar.png") && Save(Splash(), dir, "splash.png");
    return ok ? 0 : 1;
}
