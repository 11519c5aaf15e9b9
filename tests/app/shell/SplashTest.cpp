#include <QApplication>
#include <QRegion>
#include <QScreen>
#include <QWidget>

#include "ShellTestSupport.h"
#include "app/shell/Resources.h"
#include "app/shell/Splash.h"

namespace {

const QRgb kKey = qRgb(128, 128, 128);

int VisibleSplashWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "SPLASH" && w->isVisible())
            ++n;
    return n;
}

TEST(Splash, PictureHasTheSizeAndTheSeeThroughSurround) {
    const QImage img = grv::SplashImage();
    ASSERT_EQ(img.size(), QSize(350, 263));
    EXPECT_EQ(img.pixel(0, 0) & 0xffffff, kKey & 0xffffff);
    EXPECT_NE(img.pixel(175, 131) & 0xffffff, kKey & 0xffffff);
}

TEST(Splash, KeyColourPixelsAndOnlyThoseAreMaskedOut) {
    const QImage img = grv::SplashImage().convertToFormat(QImage::Format_RGB32);
    CSplash splash(img, kKey);
    QWidget* w = splash.Show();
    ASSERT_NE(w, nullptr);
    const QRegion mask = w->mask();
    ASSERT_FALSE(mask.isEmpty());
    int seeThrough = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const bool key = (img.pixel(x, y) & 0xffffff) == (kKey & 0xffffff);
            seeThrough += key;
            ASSERT_EQ(mask.contains(QPoint(x, y)), !key) << x << "," << y;
        }
    EXPECT_GT(seeThrough, 0);
}

TEST(Splash, ShownCentredTopMostWithoutTaskbarButton) {
    CSplash splash(grv::SplashImage(), kKey);
    QWidget* w = splash.Show();
    ASSERT_NE(w, nullptr);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(w->geometry().size(), QSize(350, 263));
    EXPECT_EQ(w->x(), screen.left() + (screen.width() - 350) / 2);
    EXPECT_EQ(w->y(), screen.top() + (screen.height() - 263) / 2);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(w->windowType(), Qt::SplashScreen);
    EXPECT_EQ(w->windowTitle(), "Banner");
}

TEST(Splash, HideAndShowKeepAtMostOneWindow) {
    CSplash splash(grv::SplashImage(), kKey);
    EXPECT_EQ(splash.Hide(), 0);
    EXPECT_EQ(splash.Window(), nullptr);
    splash.Show();
    splash.Show();
    EXPECT_EQ(VisibleSplashWindows(), 1);
    EXPECT_EQ(splash.Hide(), 1);
    EXPECT_EQ(VisibleSplashWindows(), 0);
    EXPECT_EQ(splash.Hide(), 0);
}

TEST(Splash, NoPictureGivesAnEmptyWindowAndNoKeyNoMask) {
    CSplash none(QImage(), kKey);
    EXPECT_EQ(none.Width(), 0);
    EXPECT_EQ(none.SetBitmap(QImage()), 1);
    EXPECT_NE(none.Show(), nullptr);
    EXPECT_TRUE(none.Window()->mask().isEmpty());

    CSplash unkeyed(grv::SplashImage(), 0);
    ASSERT_NE(unkeyed.Show(), nullptr);
    EXPECT_TRUE(unkeyed.Window()->mask().isEmpty());
    EXPECT_EQ(unkeyed.ApplyColorKey(), 1);
}

} // namespace
