#pragma once
// The device context a page prints on: a QPainter (on a QPrinter, or an image
// in tests) with the few settings pages expect of a printer's context: a
// text colour, a background mode and the text or anisotropic mapping.
#include <QColor>
#include <vector>

#include "app/reports/print/PrintState.h"

class QPainter;
class QPoint;

class DeviceContext {
public:
    // The painter must be active and outlive this object.
    explicit DeviceContext(QPainter* painter);

    QPainter* Painter() const { return m_painter; }

    // LOGPIXELSX/Y (88, 90), HORZRES/VERTRES (8, 10) of the painted device.
    int GetDeviceCaps(int index) const;
    // The orientation of the printer painted on, 0 when not printing.
    int PrinterOrientation() const;

    int SetMapMode(int mode);
    int GetMapMode() const { return m_settings.mapMode; }
    void SetWindowOrg(int x, int y);
    void SetWindowExt(int cx, int cy);
    void SetViewportOrg(int x, int y);
    void SetViewportExt(int cx, int cy);

    PrintRect LPtoDP(const PrintRect& r) const;
    PrintRect DPtoLP(const PrintRect& r) const;
    int DeviceToLogicalX(int length) const;
    int DeviceToLogicalY(int length) const;

    QColor SetTextColor(const QColor& color);
    QColor GetTextColor() const { return m_settings.textColor; }
    int SetBkMode(int mode);
    int GetBkMode() const { return m_settings.bkMode; }

    // Saves and restores the settings above together with the painter's.
    void SaveDC();
    void RestoreDC();
    // Draws in device pixels until the next RestoreDC.
    void UseDevicePixels();

private:
    struct Settings {
        QColor textColor = Qt::black;
        int bkMode = print::kOpaque;
        int mapMode = print::kMapText;
        int winX = 0, winY = 0, winW = 1, winH = 1;
        int vpX = 0, vpY = 0, vpW = 1, vpH = 1;
    };
    int MapX(int x) const;
    int MapY(int y) const;
    int UnmapX(int x) const;
    int UnmapY(int y) const;
    void ApplyMapping();
    void ApplyBkMode();

    QPainter* m_painter;
    Settings m_settings;
    std::vector<Settings> m_saved;
};
