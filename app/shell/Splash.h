#pragma once
// The start-up splash: a frameless, top-most picture in the middle of the
// primary screen, its colour-key pixels see-through.
#include <QImage>
#include <QRgb>
#include <memory>

class QWidget;

class CSplash {
public:
    // colorKey 0: no transparency.
    CSplash(const QImage& bitmap, QRgb colorKey);
    virtual ~CSplash();
    CSplash(const CSplash&) = delete;
    CSplash& operator=(const CSplash&) = delete;

    // A null bitmap leaves none and succeeds; 0 when the bitmap has no size.
    int SetBitmap(const QImage& bitmap);
    void SetColorKey(QRgb colorKey);
    // Masks the key colour out of a shown splash; always 1.
    int ApplyColorKey();
    // Replaces any splash window by a new one; null when none could be made.
    QWidget* Show();
    // 0 when no window existed.
    int Hide();

    QWidget* Window() const { return m_pWnd.get(); }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }

private:
    QWidget* CreateSplashWindow();

    std::unique_ptr<QWidget> m_pWnd;
    QImage m_bitmap;
    int m_nWidth = 0;
    int m_nHeight = 0;
    QRgb m_colorKey = 0;
};
