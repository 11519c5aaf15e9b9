#pragma once
// The artwork compiled into the program.
#include <QIcon>
#include <QImage>
#include <QPixmap>

namespace grv {

// Registers the compiled-in resources; safe to call any number of times.
void InitShellResources();

QIcon AppIcon();
// The twelve 24 x 24 toolbar pictures side by side, in button order.
QPixmap ToolbarImages();
// 350 x 263; RGB(128, 128, 128) marks the see-through parts.
QImage SplashImage();

} // namespace grv
