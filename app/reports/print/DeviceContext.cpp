#include "app/reports/print/DeviceContext.h"

#include <QPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <cassert>
#include <cmath>

namespace {

// Scales like the system's MulDiv: rounded, and 0 for a zero divisor.
int ScaleRounded(int value, int numerator, int denominator) {
    if (denominator == 0)
        return 0;
    return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

} // namespace

DeviceContext::DeviceContext(QPainter* painter) : m_painter(painter) {
    assert(painter && painter->isActive());
    m_painter->setRenderHint(QPainter::Antialiasing, false);
    m_painter->setRenderHint(QPainter::TextAntialiasing, true);
    m_painter->setBackground(Qt::white);
    ApplyBkMode();
    ApplyMapping();
}

int DeviceContext::GetDeviceCaps(int index) const {
    const QPaintDevice* device = m_painter->device();
    switch (index) {
    case print::kLogPixelsX: return device->logicalDpiX();
    case print::kLogPixelsY: return device->logicalDpiY();
    case print::kHorizontal: return device->width();
    case print::kVertical: return device->height();
    default: return 0;
    }
}

int DeviceContext::PrinterOrientation() const {
    auto* printer = dynamic_cast<QPrinter*>(m_painter->device());
    if (!printer)
        return 0;
    return printer->pageLayout().orientation() == QPageLayout::Landscape ? print::kLandscape : print::kPortrait;
}

int DeviceContext::SetMapMode(int mode) {
    const int old = m_settings.mapMode;
    m_settings.mapMode = mode == print::kMapAnisotropic ? mode : print::kMapText;
    ApplyMapping();
    return old;
}

void DeviceContext::SetWindowOrg(int x, int y) {
    m_settings.winX = x;
    m_settings.winY = y;
    ApplyMapping();
}

void DeviceContext::SetWindowExt(int cx, int cy) {
    m_settings.winW = cx;
    m_settings.winH = cy;
    ApplyMapping();
}

void DeviceContext::SetViewportOrg(int x, int y) {
    m_settings.vpX = x;
    m_settings.vpY = y;
    ApplyMapping();
}

void DeviceContext::SetViewportExt(int cx, int cy) {
    m_settings.vpW = cx;
    m_settings.vpH = cy;
    ApplyMapping();
}

int DeviceContext::MapX(int x) const {
    if (m_settings.mapMode != print::kMapAnisotropic)
        return x;
    return m_settings.vpX + ScaleRounded(x - m_settings.winX, m_settings.vpW, m_settings.winW);
}

int DeviceContext::MapY(int y) const {
    if (m_settings.mapMode != print::kMapAnisotropic)
        return y;
    return m_settings.vpY + ScaleRounded(y - m_settings.winY, m_settings.vpH, m_settings.winH);
}

int DeviceContext::UnmapX(int x) const {
    if (m_settings.mapMode != print::kMapAnisotropic)
        return x;
    return m_settings.winX + ScaleRounded(x - m_settings.vpX, m_settings.winW, m_settings.vpW);
}

int DeviceContext::UnmapY(int y) const {
    if (m_settings.mapMode != print::kMapAnisotropic)
        return y;
    return m_settings.winY + ScaleRounded(y - m_settings.vpY, m_settings.winH, m_settings.vpH);
}

PrintRect DeviceContext::LPtoDP(const PrintRect& r) const {
    return {MapX(r.left), MapY(r.top), MapX(r.right), MapY(r.bottom)};
}

PrintRect DeviceContext::DPtoLP(const PrintRect& r) const {
    return {UnmapX(r.left), UnmapY(r.top), UnmapX(r.right), UnmapY(r.bottom)};
}

int DeviceContext::DeviceToLogicalX(int length) const {
    if (m_settings.mapMode != print::kMapAnisotropic)
        return length;
    return ScaleRounded(length, m_settings.winW, m_settings.vpW);
}

int DeviceContext::DeviceToLogicalY(int length) const {
    if (m_settings.mapMode != print::kMapAnisotropic)
        return length;
    return ScaleRounded(length, m_settings.winH, m_settings.vpH);
}

QColor DeviceContext::SetTextColor(const QColor& color) {
    const QColor old = m_settings.textColor;
    m_settings.textColor = color;
    return old;
}

int DeviceContext::SetBkMode(int mode) {
    const int old = m_settings.bkMode;
    m_settings.bkMode = mode == print::kTransparent ? mode : print::kOpaque;
    ApplyBkMode();
    return old;
}

void DeviceContext::SaveDC() {
    m_saved.push_back(m_settings);
    m_painter->save();
}

void DeviceContext::RestoreDC() {
    if (m_saved.empty())
        return;
    m_settings = m_saved.back();
    m_saved.pop_back();
    m_painter->restore();
}

void DeviceContext::UseDevicePixels() {
    m_painter->setViewTransformEnabled(false);
    m_painter->resetTransform();
}

void DeviceContext::ApplyMapping() {
    const Settings& s = m_settings;
    if (s.mapMode == print::kMapAnisotropic && s.winW != 0 && s.winH != 0) {
        m_painter->setWindow(s.winX, s.winY, s.winW, s.winH);
        m_painter->setViewport(s.vpX, s.vpY, s.vpW, s.vpH);
        m_painter->setViewTransformEnabled(true);
    } else {
        m_painter->setViewTransformEnabled(false);
    }
}

void DeviceContext::ApplyBkMode() {
    m_painter->setBackgroundMode(m_settings.bkMode == print::kTransparent ? Qt::TransparentMode : Qt::OpaqueMode);
}
