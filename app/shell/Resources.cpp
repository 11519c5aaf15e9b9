#include "app/shell/Resources.h"

#include <mutex>

static void InitGorvaneQrc() {
    Q_INIT_RESOURCE(gorvane);
    Q_INIT_RESOURCE(version);
}

namespace grv {

void InitShellResources() {
    static std::once_flag once;
    std::call_once(once, InitGorvaneQrc);
}

QIcon AppIcon() {
    InitShellResources();
    QIcon icon;
    icon.addFile(QStringLiteral(":/gorvane-48.png"), QSize(48, 48));
    icon.addFile(QStringLiteral(":/gorvane.png"), QSize(256, 256));
    return icon;
}

QPixmap ToolbarImages() {
    InitShellResources();
    return QPixmap(QStringLiteral(":/toolbar.png"));
}

QImage SplashImage() {
    InitShellResources();
    return QImage(QStringLiteral(":/splash.png"));
}

} // namespace grv
