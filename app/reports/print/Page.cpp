#include "app/reports/print/Page.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdarg>

#include "app/reports/print/DeviceContext.h"
#include "app/reports/print/PrintRegion.h"
#include "app/reports/print/PrintTable.h"
#include "app/reports/print/PrintText.h"
#include "app/reports/print/Printer.h"

namespace {

const QColor kWhite(255, 255, 255);

// Truncates toward zero like the page's integer arithmetic, kept in range.
int TruncToInt(double value) {
    if (!(value > INT_MIN))
        return value != value ? 0 : INT_MIN; // NaN gives 0
    if (value >= INT_MAX)
        return INT_MAX;
    return static_cast<int>(value);
}

// Background and colour of text printed over a region's fill; put back when
// the object goes.
class RegionInk {
public:
    RegionInk(DeviceContext* dc, const CPrintRegion* region) : m_dc(dc) {
        if (region->m_nFill != 0)
            m_oldBk = dc->SetBkMode(print::kTransparent);
        if (region->m_nFill > 2)
            m_oldColor = dc->SetTextColor(kWhite);
    }
    ~RegionInk() {
        if (m_oldBk)
            m_dc->SetBkMode(m_oldBk);
        if (m_oldColor.isValid())
            m_dc->SetTextColor(m_oldColor);
    }
    RegionInk(const RegionInk&) = delete;
    RegionInk& operator=(const RegionInk&) = delete;

private:
    DeviceContext* m_dc;
    int m_oldBk = 0;
    QColor m_oldColor;
};

} // namespace

CPage::CPage(const PrintRect& rect, DeviceContext* dc, int mapMode)
    : CPage(rect, dc, mapMode, std::make_unique<CPrinter>()) {}

CPage::CPage(const PrintRect& rect, DeviceContext* dc, int mapMode, std::unique_ptr<CPrinter> printer)
    : m_printer(std::move(printer)) {
    m_mapMode = (mapMode == print::kMapText || mapMode == print::kMapAnisotropic) ? mapMode : print::kMapText;
    dc->SetMapMode(m_mapMode);
    m_orientation = GetPrinterOrientation(dc);
    if (m_mapMode == print::kMapAnisotropic) {
        dc->SetWindowOrg(0, 0);
        dc->SetWindowExt(print::kAnisotropicExtent, print::kAnisotropicExtent);
        dc->SetViewportOrg(rect.left, rect.top);
        dc->SetViewportExt(rect.right, rect.bottom);
        m_state.left = m_state.top = 0;
        m_state.right = m_state.bottom = print::kAnisotropicExtent;
        m_state.pageWidth = m_state.pageHeight = print::kAnisotropicExtent;
    } else {
        m_state.SetRect(rect.left, rect.top, rect.right, rect.bottom);
        m_state.pageWidth = rect.right;
        m_state.pageHeight = rect.bottom;
    }
    m_logPixelsX = dc->GetDeviceCaps(print::kLogPixelsX);
    m_logPixelsY = dc->GetDeviceCaps(print::kLogPixelsY);
    if (m_logPixelsX > 0)
        m_pageWidthInches = static_cast<double>(rect.right) / m_logPixelsX;
    if (m_logPixelsY > 0)
        m_pageHeightInches = static_cast<double>(rect.bottom) / m_logPixelsY;

    m_state.dc = dc;
    m_state.metrics = &m_metrics;
    if (m_orientation != print::kLandscape) {
        if (m_pageWidthInches > 8.0)
            m_state.offset = TruncToInt(ConvertToUnits(m_pageWidthInches - 8.0, print::kHorizontal) / 2.0);
    } else if (m_pageWidthInches > 10.9) {
        m_state.offset = TruncToInt(ConvertToUnits(m_pageWidthInches - 10.5, print::kHorizontal) / 2.0);
    }
}

CPage::~CPage() = default;

int CPage::GetPrinterOrientation(const DeviceContext* dc) {
    return dc->PrinterOrientation();
}

// ---- Units

int CPage::ConvertToUnits(double inches, int axis) const {
    if (!(inches > 0.0))
        return 0;
    if (m_mapMode == print::kMapAnisotropic) {
        const double extent = axis == print::kHorizontal ? m_pageWidthInches : m_pageHeightInches;
        if (!(extent > 0.0))
            return 0;
        return TruncToInt(inches / (extent / print::kAnisotropicExtent));
    }
    return TruncToInt(inches * (axis == print::kHorizontal ? m_logPixelsX : m_logPixelsY));
}

double CPage::ConvertToInches(int units, int axis) const {
    if (units < 1)
        return 0.0;
    if (m_mapMode == print::kMapAnisotropic) {
        const double extent = axis == print::kHorizontal ? m_pageWidthInches : m_pageHeightInches;
        return units * (extent / print::kAnisotropicExtent);
    }
    const int dpi = axis == print::kHorizontal ? m_logPixelsX : m_logPixelsY;
    return dpi > 0 ? static_cast<double>(units) / dpi : 0.0;
}

void CPage::ConvertPosition(double& row, double& column) const {
    row = ConvertToUnits(row, print::kVertical);
    column = ConvertToUnits(column, print::kHorizontal);
}

void CPage::ConvertArea(double& top, double& left, double& bottom, double& right) const {
    top = ConvertToUnits(top, print::kVertical);
    bottom = ConvertToUnits(bottom, print::kVertical);
    left = ConvertToUnits(left, print::kHorizontal);
    right = ConvertToUnits(right, print::kHorizontal);
}

// ---- Saved states

void CPage::SaveState() {
    m_saved.push_back(m_state);
}

void CPage::RestoreState() {
    if (m_saved.empty())
        return;
    m_state = m_saved.back();
    m_saved.pop_back();
}

// ---- Text

void CPage::SetTextCallback(TextCallback callback) {
    m_callback = callback;
}

const char* CPage::CallbackText(std::uint32_t data) const {
    return m_callback ? m_callback(data) : nullptr;
}

int CPage::PrintText(const char* text, int column, int flags, int pointSize) {
    if (column > SetRightMargin(0))
        return m_state.top;
    if (m_state.top > SetBottomMargin(0))
        return m_state.top;
    m_state.text = print::DecodeText(text);
    if (pointSize > 0)
        m_state.pointSize = pointSize;
    if (flags != print::kKeepFlags)
        m_state.flags = flags;
    m_state.left = column == -1 ? m_state.lastEndColumn : column;
    // Nothing is drawn for an empty text, so the row stays where it is.
    if (m_state.text.isEmpty())
        return m_state.top;
    m_printer->OutputText(&m_state, m_lineSpacing);
    m_nextColumn = m_state.lastEndColumn;
    return m_state.lastRect.bottom;
}

int CPage::RowAfter(int printedRow) const {
    int extra = 0;
    if (m_lineSpacing > 1.0)
        extra = TruncToInt(ConvertToUnits(m_state.pointSize / 72.0, print::kVertical) * (m_lineSpacing - 1.0));
    return printedRow + extra;
}

int CPage::PrintFormatted(int row, int column, int flags, int pointSize, const char* text) {
    m_state.top = row;
    return RowAfter(PrintText(text, column, flags, pointSize));
}

double CPage::PrintData(double row, double column, std::uint32_t data) {
    return PrintData(row, column, m_state.flags, m_state.pointSize, data);
}

int CPage::PrintData(int row, int column, std::uint32_t data) {
    return PrintData(row, column, m_state.flags, m_state.pointSize, data);
}

double CPage::PrintData(double row, double column, int flags, int pointSize, std::uint32_t data) {
    if (!m_callback)
        return 0.0;
    ConvertPosition(row, column);
    return ConvertToInches(PrintData(TruncToInt(row), TruncToInt(column), flags, pointSize, data), print::kVertical);
}

int CPage::PrintData(int row, int column, int flags, int pointSize, std::uint32_t data) {
    if (!m_callback)
        return 0;
    return PrintFormatted(row, column, flags, pointSize, CallbackText(data));
}

double CPage::Print(double row, double column, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    ConvertPosition(row, column);
    return ConvertToInches(
        PrintFormatted(TruncToInt(row), TruncToInt(column), m_state.flags, m_state.pointSize, text.c_str()),
        print::kVertical);
}

int CPage::Print(int row, int column, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    return PrintFormatted(row, column, m_state.flags, m_state.pointSize, text.c_str());
}

double CPage::Print(double row, double* column, int flags, int pointSize, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    double col = column ? *column : 0.0;
    ConvertPosition(row, col);
    const int below = PrintFormatted(TruncToInt(row), TruncToInt(col), flags, pointSize, text.c_str());
    if (column)
        *column = GetNextColumn(true, false);
    return ConvertToInches(below, print::kVertical);
}

double CPage::Print(double row, double column, int flags, int pointSize, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    ConvertPosition(row, column);
    return ConvertToInches(PrintFormatted(TruncToInt(row), TruncToInt(column), flags, pointSize, text.c_str()),
                           print::kVertical);
}

int CPage::Print(int row, int* column, int flags, int pointSize, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    const int below = PrintFormatted(row, column ? *column : 0, flags, pointSize, text.c_str());
    if (column)
        *column = TruncToInt(GetNextColumn(false, false));
    return below;
}

int CPage::Print(int row, int column, int flags, int pointSize, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    return PrintFormatted(row, column, flags, pointSize, text.c_str());
}

// ---- Text in regions

int CPage::PrintTextInRegion(CPrintRegion* region, int row, int column, int flags, int pointSize, const char* text) {
    if (!region)
        return 0;
    SaveState();
    m_state.top = row + region->m_nContentRow;
    m_state.bottom = region->m_nBottom;
    m_state.right = region->m_nRight;
    m_state.left = region->m_nContentColumn;
    int below = 0;
    {
        RegionInk ink(m_state.dc, region);
        below = PrintText(text, column + region->m_nContentColumn, flags, pointSize);
        below = RowAfter(below);
    }
    RestoreState();
    return below - region->m_nContentRow;
}

double CPage::PrintDataInRegion(CPrintRegion* region, double row, double column, int flags, int pointSize,
                                std::uint32_t data) {
    if (!m_callback)
        return 0.0;
    ConvertPosition(row, column);
    return ConvertToInches(PrintDataInRegion(region, TruncToInt(row), TruncToInt(column), flags, pointSize, data),
                           print::kVertical);
}

int CPage::PrintDataInRegion(CPrintRegion* region, int row, int column, int flags, int pointSize, std::uint32_t data) {
    if (!m_callback)
        return 0;
    return PrintTextInRegion(region, row, column, flags, pointSize, CallbackText(data));
}

double CPage::PrintInRegion(CPrintRegion* region, double row, double column, int flags, int pointSize, const char* fmt,
                            ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    ConvertPosition(row, column);
    return ConvertToInches(
        PrintTextInRegion(region, TruncToInt(row), TruncToInt(column), flags, pointSize, text.c_str()),
        print::kVertical);
}

int CPage::PrintInRegion(CPrintRegion* region, int row, int column, int flags, int pointSize, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kFormatChars, fmt, args);
    va_end(args);
    return PrintTextInRegion(region, row, column, flags, pointSize, text.c_str());
}

// ---- Text in rectangles

void CPage::PrintTextInRect(int top, int left, int bottom, int right, int flags, int pointSize, const char* text) {
    if (left > m_state.right || top > m_state.bottom)
        return;
    SaveState();
    m_state.text = print::DecodeText(text);
    if (pointSize > 0)
        m_state.pointSize = pointSize;
    if (flags != print::kKeepFlags)
        m_state.flags = flags;
    m_state.SetRect(left, top, right, bottom);
    m_printer->OutputText(&m_state, m_lineSpacing);
    m_nextColumn = m_state.lastEndColumn;
    RestoreState();
}

PrintRect CPage::RegionArea(const CPrintRegion* region, int top, int left, int bottom, int right) const {
    PrintRect r{left + region->m_nContentColumn, top + region->m_nContentRow, right + region->m_nContentColumn,
                bottom + region->m_nContentRow};
    r.top = std::min(r.top, region->m_nBottom);
    r.bottom = std::min(r.bottom, region->m_nBottom);
    r.left = std::min(r.left, region->m_nRight);
    r.right = std::min(r.right, region->m_nRight);
    return r;
}

void CPage::PrintTextInRegionRect(CPrintRegion* region, int top, int left, int bottom, int right, int flags,
                                  int pointSize, const char* text, bool setNextColumn) {
    if (!region)
        return;
    const PrintRect r = RegionArea(region, top, left, bottom, right);
    SaveState();
    {
        RegionInk ink(m_state.dc, region);
        m_state.text = print::DecodeText(text);
        if (pointSize > 0)
            m_state.pointSize = pointSize;
        if (flags != print::kKeepFlags)
            m_state.flags = flags;
        m_state.SetRect(r.left, r.top, r.right, r.bottom);
        m_printer->OutputText(&m_state, m_lineSpacing);
    }
    if (setNextColumn)
        m_nextColumn = m_state.lastEndColumn;
    RestoreState();
}

void CPage::PrintDataInRegionRect(CPrintRegion* region, double top, double left, double bottom, double right, int flags,
                                  int pointSize, std::uint32_t data) {
    if (!m_callback)
        return;
    ConvertArea(top, left, bottom, right);
    PrintTextInRegionRect(region, TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), flags,
                          pointSize, CallbackText(data), true);
}

void CPage::PrintDataInRegionRect(CPrintRegion* region, int top, int left, int bottom, int right, int flags,
                                  int pointSize, std::uint32_t data) {
    if (!m_callback)
        return;
    PrintTextInRegionRect(region, top, left, bottom, right, flags, pointSize, CallbackText(data), false);
}

void CPage::PrintInRegionRect(CPrintRegion* region, double top, double left, double bottom, double right, int flags,
                              int pointSize, const char* text) {
    ConvertArea(top, left, bottom, right);
    PrintTextInRegionRect(region, TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), flags,
                          pointSize, text, true);
}

void CPage::PrintInRegionRect(CPrintRegion* region, int top, int left, int bottom, int right, int flags, int pointSize,
                              const char* text) {
    PrintTextInRegionRect(region, top, left, bottom, right, flags, pointSize, text, false);
}

void CPage::PrintDataInRect(double top, double left, double bottom, double right, int flags, int pointSize,
                            std::uint32_t data) {
    if (!m_callback)
        return;
    ConvertArea(top, left, bottom, right);
    PrintTextInRect(TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), flags, pointSize,
                    CallbackText(data));
}

void CPage::PrintDataInRect(int top, int left, int bottom, int right, int flags, int pointSize, std::uint32_t data) {
    if (!m_callback)
        return;
    PrintTextInRect(top, left, bottom, right, flags, pointSize, CallbackText(data));
}

void CPage::PrintInRect(double top, double left, double bottom, double right, int flags, int pointSize,
                        const char* text) {
    ConvertArea(top, left, bottom, right);
    PrintTextInRect(TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), flags, pointSize, text);
}

void CPage::PrintInRect(int top, int left, int bottom, int right, int flags, int pointSize, const char* text) {
    PrintTextInRect(top, left, bottom, right, flags, pointSize, text);
}

// ---- Setters

double CPage::SetLineSpacing(double factor) {
    const double old = m_lineSpacing;
    if (factor > 0.0)
        m_lineSpacing = factor;
    return old;
}

std::string CPage::SetFont(const char* faceName) {
    std::string old = m_state.faceName.toStdString();
    if (faceName)
        m_state.faceName = print::DecodeText(faceName).left(print::kMaxFaceNameChars);
    return old;
}

double CPage::GetNextColumn(bool inInches, bool plusOneCharacter) {
    const int column = m_nextColumn + (plusOneCharacter ? m_metrics.maxCharWidth : 0);
    return inInches ? ConvertToInches(column, print::kHorizontal) : static_cast<double>(column);
}

QColor CPage::SetColor(const QColor& color) {
    return m_state.dc->SetTextColor(color);
}

int CPage::SetFontSize(int points) {
    const int old = m_state.pointSize;
    m_state.pointSize = points;
    return old;
}

namespace {

// Moves one edge of the print area; gives the old edge.
int MoveEdge(int& edge, int units, bool backToPage, int pageExtent) {
    const int old = edge;
    if (units > 0)
        edge = units;
    else if (backToPage)
        edge = pageExtent;
    return old;
}

} // namespace

int CPage::SetRightMargin(int units) {
    return MoveEdge(m_state.right, units, units == -1, m_state.pageWidth);
}

double CPage::SetRightMargin(double inches) {
    const int units = ConvertToUnits(inches, print::kHorizontal);
    return ConvertToInches(MoveEdge(m_state.right, units, inches == -1.0, m_state.pageWidth), print::kHorizontal);
}

int CPage::SetBottomMargin(int units) {
    return MoveEdge(m_state.bottom, units, units == -1, m_state.pageHeight);
}

double CPage::SetBottomMargin(double inches) {
    const int units = ConvertToUnits(inches, print::kVertical);
    return ConvertToInches(MoveEdge(m_state.bottom, units, inches == -1.0, m_state.pageHeight), print::kVertical);
}

// ---- Lines and boxes

void CPage::Line(int top, int left, int bottom, int right, int penWidth, int lineStyle) {
    SaveState();
    if (lineStyle != print::kKeepFlags)
        m_state.lineStyle = lineStyle;
    m_state.SetRect(left, top, right, bottom);
    m_printer->DrawLine(&m_state, penWidth);
    RestoreState();
}

void CPage::Line(double top, double left, double bottom, double right, int penWidth, int lineStyle) {
    ConvertArea(top, left, bottom, right);
    Line(TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), penWidth, lineStyle);
}

void CPage::LineInRegion(CPrintRegion* region, int top, int left, int bottom, int right, int penWidth, int lineStyle) {
    if (!region)
        return;
    const PrintRect r = RegionArea(region, top, left, bottom, right);
    RegionInk ink(m_state.dc, region);
    Line(r.top, r.left, r.bottom, r.right, penWidth, lineStyle);
}

void CPage::LineInRegion(CPrintRegion* region, double top, double left, double bottom, double right, int penWidth,
                         int lineStyle) {
    ConvertArea(top, left, bottom, right);
    LineInRegion(region, TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), penWidth, lineStyle);
}

void CPage::Box(int top, int left, int bottom, int right, int penWidth, int fill, int lineStyle) {
    SaveState();
    if (lineStyle != print::kKeepFlags)
        m_state.lineStyle = lineStyle;
    if (fill != print::kKeepFlags)
        m_state.fillCode = fill;
    m_state.SetRect(left, top, right, bottom);
    m_printer->DrawBox(&m_state, penWidth);
    RestoreState();
}

void CPage::Box(double top, double left, double bottom, double right, int penWidth, int fill, int lineStyle) {
    ConvertArea(top, left, bottom, right);
    Box(TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), penWidth, fill, lineStyle);
}

void CPage::BoxInRegion(CPrintRegion* region, int top, int left, int bottom, int right, int penWidth, int fill,
                        int lineStyle) {
    if (!region)
        return;
    const PrintRect r = RegionArea(region, top, left, bottom, right);
    RegionInk ink(m_state.dc, region);
    Box(r.top, r.left, r.bottom, r.right, penWidth, fill, lineStyle);
}

void CPage::BoxInRegion(CPrintRegion* region, double top, double left, double bottom, double right, int penWidth,
                        int fill, int lineStyle) {
    ConvertArea(top, left, bottom, right);
    BoxInRegion(region, TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), penWidth, fill,
                lineStyle);
}

// ---- Check boxes

void CPage::DrawCheckBox(const char* label, bool ticked, int row, int column, int pointSize, bool labelFirst,
                         int penWidth, int fill, int flags) {
    SaveState();
    const int w = ConvertToUnits(pointSize / 72.0, print::kHorizontal);
    const int h = ConvertToUnits(pointSize / 72.0, print::kVertical);
    int boxColumn = column;
    if (labelFirst) {
        PrintFormatted(row, column, flags, pointSize, label);
        boxColumn = TruncToInt(GetNextColumn(false, true));
    } else {
        PrintFormatted(row, column + 2 * w, flags, pointSize, label);
    }
    Box(row, boxColumn, row + h, boxColumn + w, penWidth, 0, print::kSolid);
    if (ticked) {
        if (fill != 0) {
            Box(row, boxColumn, row + h, boxColumn + w, penWidth, fill, print::kSolid);
        } else {
            Line(row, boxColumn, row + h, boxColumn + w, penWidth, print::kSolid);
            Line(row + h, boxColumn, row, boxColumn + w, penWidth, print::kSolid);
        }
    }
    RestoreState();
}

void CPage::CheckBox(const char* label, bool ticked, int row, int column, int pointSize, bool labelFirst, int penWidth,
                     int fill, int flags) {
    DrawCheckBox(label, ticked, row, column, pointSize, labelFirst, penWidth, fill, flags);
}

void CPage::CheckBox(const char* label, bool ticked, double row, double column, int pointSize, bool labelFirst,
                     int penWidth, int fill, int flags) {
    ConvertPosition(row, column);
    DrawCheckBox(label, ticked, TruncToInt(row), TruncToInt(column), pointSize, labelFirst, penWidth, fill, flags);
}

void CPage::CheckBoxInRegion(CPrintRegion* region, const char* label, bool ticked, int row, int column, int pointSize,
                             bool labelFirst, int penWidth, int fill, int flags) {
    if (!region)
        return;
    SaveState();
    {
        RegionInk ink(m_state.dc, region);
        m_state.bottom = region->m_nBottom;
        m_state.right = region->m_nRight;
        m_state.left = region->m_nContentColumn;
        DrawCheckBox(label, ticked, row + region->m_nContentRow, column + region->m_nContentColumn, pointSize,
                     labelFirst, penWidth, fill, flags);
    }
    RestoreState();
}

void CPage::CheckBoxInRegion(CPrintRegion* region, const char* label, bool ticked, double row, double column,
                             int pointSize, bool labelFirst, int penWidth, int fill, int flags) {
    ConvertPosition(row, column);
    CheckBoxInRegion(region, label, ticked, TruncToInt(row), TruncToInt(column), pointSize, labelFirst, penWidth, fill,
                     flags);
}

// ---- Tables

void CPage::Table(PrintTableHeader* header) {
    if (!header)
        return;
    header->table.reset();
    // The description comes from the caller: keep it inside the table's limits.
    header->columns = std::clamp(header->columns, 0, print::kMaxTableColumns);
    header->rows = std::max(header->rows, 0);
    header->headingLines = std::max(header->headingLines, 0);
    header->linesPerRow = std::max(header->linesPerRow, 0);
    if (header->noHeadings == 1)
        header->headingLines = 0;
    if (header->unitsInches) {
        header->top = ConvertToUnits(header->top, print::kVertical);
        header->bottom = ConvertToUnits(header->bottom, print::kVertical);
        header->left = ConvertToUnits(header->left, print::kHorizontal);
        header->right = ConvertToUnits(header->right, print::kHorizontal);
        for (int c = 0; c < header->columns; ++c)
            header->column[c].width = ConvertToUnits(header->column[c].width, print::kHorizontal);
    }
    if (header->columns == 0 || header->right > m_state.right)
        return;
    header->table = std::make_unique<CPrintTable>(&m_state, header, this);
    const PrintState kept = m_state;
    header->table->Draw();
    if (header->unitsInches)
        header->bottom = ConvertToInches(TruncToInt(header->bottom), print::kVertical);
    m_state = kept;
}

void CPage::PrintCell(PrintTableHeader* header, int row, int column, int pointSize, int flags, const char* fmt, ...) {
    if (!header || !header->table)
        return;
    if (row < 0 || column < 0 || column >= header->columns)
        return;
    va_list args;
    va_start(args, fmt);
    const std::string text = print::FormatText(kCellChars, fmt, args);
    va_end(args);
    SaveState();
    if (header->plain)
        header->table->PrintCellPlain(text.c_str(), row, column, pointSize, flags);
    else
        header->table->PrintCell(text.c_str(), row, column, pointSize, flags);
    m_nextColumn = m_state.lastEndColumn;
    RestoreState();
}

// ---- Regions

CPrintRegion* CPage::CreateRegion(int top, int left, int bottom, int right, int fill) {
    auto region = std::make_unique<CPrintRegion>();
    region->m_nFill = fill;
    if (!region->Create(this, top, left, right, bottom, fill))
        return nullptr;
    m_regions.push_back(std::move(region));
    return m_regions.back().get();
}

CPrintRegion* CPage::CreateRegion(double top, double left, double bottom, double right, int fill) {
    ConvertArea(top, left, bottom, right);
    return CreateRegion(TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), fill);
}

CPrintRegion* CPage::CreateSubRegion(CPrintRegion* parent, int top, int left, int bottom, int right, int fill) {
    if (!parent)
        return nullptr;
    top += parent->m_nContentRow;
    bottom += parent->m_nContentRow;
    left += parent->m_nContentColumn;
    right += parent->m_nContentColumn;
    right = std::min(right, parent->m_nRight);
    bottom = std::min(bottom, parent->m_nBottom);
    if (fill == 0)
        fill = parent->m_nFill;
    return CreateRegion(top, left, bottom, right, fill);
}

CPrintRegion* CPage::CreateRegionScaled(CPrintRegion* parent, double top, double left, double bottom, double right,
                                        int fill) {
    ConvertArea(top, left, bottom, right);
    return CreateSubRegion(parent, TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), fill);
}

// ---- Bitmaps

void CPage::PrintBitmap(int top, int left, int bottom, int right, const char* fileName) {
    SaveState();
    m_state.SetRect(left, top, right, bottom);
    m_state.text = print::DecodeText(fileName);
    PrintBitmapFile(&m_state);
    RestoreState();
}

void CPage::PrintBitmap(double top, double left, double bottom, double right, const char* fileName) {
    ConvertArea(top, left, bottom, right);
    PrintBitmap(TruncToInt(top), TruncToInt(left), TruncToInt(bottom), TruncToInt(right), fileName);
}
