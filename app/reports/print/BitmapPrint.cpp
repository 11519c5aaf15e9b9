#include <QFile>
#include <QImage>
#include <QPainter>

#include "app/reports/print/BitmapFile.h"
#include "app/reports/print/DeviceContext.h"
#include "app/reports/print/Printer.h"

QImage ReadBitmapImage(const QString& path) {
    std::vector<std::uint8_t> bytes;
    if (bitmap::ReadBitmapFile(QFile::encodeName(path).toStdString(), bytes) != bitmap::Error::None)
        return {};
    bitmap::Layout layout;
    if (bitmap::ReadBitmapHeader(bytes.data(), bytes.size(), layout) != bitmap::Error::None)
        return {};
    QImage image(layout.header.width, layout.header.height, QImage::Format_RGB32);
    if (image.isNull())
        return {}; // no memory for it
    for (int y = 0; y < image.height(); ++y)
        bitmap::DecodeRow(layout, bytes.data(), bytes.size(), static_cast<std::uint32_t>(y),
                          reinterpret_cast<std::uint32_t*>(image.scanLine(y)));
    return image;
}

int PrintBitmapFile(PrintState* state) {
    // The bitmap lives only for this call.
    const QImage image = ReadBitmapImage(state->text);
    if (image.isNull())
        return 0;
    const int width = state->right - state->left;
    const int height = state->bottom - state->top;
    state->right = width;
    state->bottom = height;
    // Drawn in page units; the centring offset does not apply to bitmaps.
    state->dc->Painter()->drawImage(QRect(state->left, state->top, width, height), image);
    return 1;
}
