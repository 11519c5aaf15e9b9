#pragma once
// The printer component of a page: turns a print state into output on the
// page's device context, and reports back where a text went.
#include "app/reports/print/PrintState.h"

class QImage;
class QString;

class CPrinter {
public:
    virtual ~CPrinter() = default;

    // Lays a text out as it would be drawn; draws nothing. Returns the point
    // size times the factor.
    virtual int MeasureText(PrintState* state, double factor);
    // Draws the state's text into its rectangle; twice the point size when
    // the text is empty (nothing drawn, state unchanged).
    virtual int OutputText(PrintState* state, double factor);
    virtual void DrawLine(PrintState* state, int penWidth);
    virtual void DrawBox(PrintState* state, int penWidth);
    virtual void FillArea(PrintState* state);

    // Escapement of the next drawn text, tenths of a degree counter-clockwise.
    int m_nTextAngle = 0;
};

// Reads the bitmap file named by the state's text and stretches it into the
// state's rectangle (right and bottom become width and height). 1 when the
// file was read and drawn, 0 when it could not be read.
int PrintBitmapFile(PrintState* state);

// Reads a bitmap file into an image; a null image when it cannot be read.
QImage ReadBitmapImage(const QString& path);
