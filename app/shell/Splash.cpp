#include "app/shell/Splash.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QWidget>

namespace {

class SplashWindow : public QWidget {
public:
    explicit SplashWindow(const QImage& bitmap)
        : QWidget(nullptr,
                  Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus),
          m_bitmap(bitmap) {
        setObjectName(QStringLiteral("SPLASH"));
        setWindowTitle(QStringLiteral("Banner"));
        setAttribute(Qt::WA_ShowWithoutActivating);
        setCursor(Qt::WaitCursor);
        // Light grey wherever the picture does not cover.
        setAutoFillBackground(true);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, QColor(0xc0, 0xc0, 0xc0));
        setPalette(pal);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        if (m_bitmap.isNull())
            return;
        QPainter p(this);
        p.drawImage(0, 0, m_bitmap);
    }

private:
    QImage m_bitmap;
};

} // namespace

CSplash::CSplash(const QImage& bitmap, QRgb colorKey) {
    SetBitmap(bitmap);
    SetColorKey(colorKey);
}

CSplash::~CSplash() = default;

int CSplash::SetBitmap(const QImage& bitmap) {
    m_bitmap = QImage();
    m_nWidth = m_nHeight = 0;
    if (bitmap.isNull())
        return 1;
    if (bitmap.width() <= 0 || bitmap.height() <= 0)
        return 0;
    m_bitmap = bitmap;
    m_nWidth = bitmap.width();
    m_nHeight = bitmap.height();
    return 1;
}

void CSplash::SetColorKey(QRgb colorKey) {
    m_colorKey = colorKey;
    ApplyColorKey();
}

int CSplash::ApplyColorKey() {
    if (!m_pWnd || m_colorKey == 0 || m_bitmap.isNull())
        return 1;
    // The key's pixels become 1 in the mask image, which QBitmap takes as
    // colour0: see-through.
    const QImage mask =
        m_bitmap.convertToFormat(QImage::Format_RGB32).createMaskFromColor(m_colorKey | 0xff000000u, Qt::MaskInColor);
    m_pWnd->setMask(QBitmap::fromImage(mask));
    return 1;
}

QWidget* CSplash::Show() {
    Hide();
    return CreateSplashWindow();
}

int CSplash::Hide() {
    if (!m_pWnd)
        return 0;
    m_pWnd->hide();
    m_pWnd.reset();
    return 1;
}

QWidget* CSplash::CreateSplashWindow() {
    m_pWnd = std::make_unique<SplashWindow>(m_bitmap);
    m_pWnd->resize(m_nWidth, m_nHeight);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        m_pWnd->move(s.left() + (s.width() - m_nWidth) / 2, s.top() + (s.height() - m_nHeight) / 2);
    }
    ApplyColorKey();
    m_pWnd->show();
    m_pWnd->repaint(); // painted at once, before start-up goes on
    return m_pWnd.get();
}
