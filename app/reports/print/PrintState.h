#pragma once
// The print state a page hands to its printer component, and the codes of
// the page's text flags, fills, line styles, mapping modes and axes.
#include <QString>

class DeviceContext;

namespace print {

// Text flags.
constexpr int kBold = 0x001;
constexpr int kItalic = 0x002;
constexpr int kUnderline = 0x004;
constexpr int kStrikeOut = 0x008;
constexpr int kFramed = 0x010;
constexpr int kRight = 0x040;
constexpr int kCentred = 0x080;
constexpr int kExpandTabs = 0x100;
constexpr int kSingleLine = 0x200;
constexpr int kNoClip = 0x400;
constexpr int kVCentred = 0x800;
constexpr int kDefaultFlags = 0x420;
constexpr int kKeepFlags = 0xffff; // as a flags argument: keep the current flags

// Fill codes (tested bit by bit, in this order).
constexpr int kFillGray = 1;
constexpr int kFillLightGray = 2;
constexpr int kFillDarkGray = 4;
constexpr int kFillBlack = 8;

// Line styles.
constexpr int kSolid = 0;
constexpr int kDotted = 1;
constexpr int kDashed = 2;
constexpr int kDashDot = 0x10;
constexpr int kDashDotDot = 0x20;

// Mapping modes and the axes of unit conversions.
constexpr int kMapText = 1;
constexpr int kMapAnisotropic = 8;
constexpr int kHorizontal = 8; // HORZRES
constexpr int kVertical = 10;  // VERTRES
constexpr int kLogPixelsX = 88;
constexpr int kLogPixelsY = 90;

// Background modes of the device context.
constexpr int kTransparent = 1;
constexpr int kOpaque = 2;

// Orientation of the printer's paper (0 = not printing).
constexpr int kPortrait = 1;
constexpr int kLandscape = 2;

constexpr int kAnisotropicExtent = 1000;
constexpr int kDefaultPointSize = 10;
constexpr int kMaxFaceNameChars = 39;
constexpr char kDefaultFace[] = "Times New Roman";

} // namespace print

// A rectangle as the page gives them: edges, right and bottom exclusive.
struct PrintRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// What the printer component leaves about the font of the last text, in
// page units.
struct TextMetrics {
    int height = 0;
    int ascent = 0;
    int descent = 0;
    int aveCharWidth = 0;
    int maxCharWidth = 0;
};

struct PrintState {
    DeviceContext* dc = nullptr;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int pointSize = print::kDefaultPointSize;
    QString text; // or the bitmap file name
    int flags = print::kDefaultFlags;
    int fillCode = 0;
    int lineStyle = print::kSolid;
    QString faceName = QString::fromLatin1(print::kDefaultFace);
    int pageWidth = 0;
    int pageHeight = 0;
    int lastEndColumn = 0;
    int lastHeight = print::kDefaultPointSize;
    PrintRect lastRect;
    int offset = 0; // added to every left and right that is drawn
    TextMetrics* metrics = nullptr;

    void SetRect(int newLeft, int newTop, int newRight, int newBottom) {
        left = newLeft;
        top = newTop;
        right = newRight;
        bottom = newBottom;
    }
};
