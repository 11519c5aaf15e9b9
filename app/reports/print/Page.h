#pragma once
// One printed page: lays out texts, lines, boxes, check boxes, tables,
// regions and bitmaps in page units or inches, and hands each of them to
// its printer component. It draws nothing itself.
#include <QColor>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/reports/print/PrintState.h"

class CPrinter;
class CPrintRegion;
class DeviceContext;
struct PrintTableHeader;

#define GRV_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

class CPage {
public:
    using TextCallback = const char* (*)(std::uint32_t data);

    static constexpr int kFormatChars = 5120;
    static constexpr int kCellChars = 1000;

    // rect: the printable area in device pixels (left and top are the
    // viewport origin, right and bottom its size); mode 1 or 8.
    CPage(const PrintRect& rect, DeviceContext* dc, int mapMode);
    // The same with another printer component (tests record through one).
    CPage(const PrintRect& rect, DeviceContext* dc, int mapMode, std::unique_ptr<CPrinter> printer);
    virtual ~CPage();
    CPage(const CPage&) = delete;
    CPage& operator=(const CPage&) = delete;

    virtual void SetTextCallback(TextCallback callback);
    virtual int PrintText(const char* text, int column, int flags, int pointSize);
    // The text of a cell is formatted; pass "%s" and the text to print it as it is.
    virtual void PrintCell(PrintTableHeader* header, int row, int column, int pointSize, int flags, const char* fmt,
                           ...) GRV_PRINTF(7, 8);
    virtual double PrintDataInRegion(CPrintRegion* region, double row, double column, int flags, int pointSize,
                                     std::uint32_t data);
    virtual int PrintDataInRegion(CPrintRegion* region, int row, int column, int flags, int pointSize,
                                  std::uint32_t data);
    virtual double PrintInRegion(CPrintRegion* region, double row, double column, int flags, int pointSize,
                                 const char* fmt, ...) GRV_PRINTF(7, 8);
    virtual int PrintInRegion(CPrintRegion* region, int row, int column, int flags, int pointSize, const char* fmt, ...)
        GRV_PRINTF(7, 8);
    virtual double PrintData(double row, double column, std::uint32_t data);
    virtual int PrintData(int row, int column, std::uint32_t data);
    virtual double Print(double row, double column, const char* fmt, ...) GRV_PRINTF(4, 5);
    virtual int Print(int row, int column, const char* fmt, ...) GRV_PRINTF(4, 5);
    virtual double PrintData(double row, double column, int flags, int pointSize, std::uint32_t data);
    // column: in, and out where the text ended.
    virtual double Print(double row, double* column, int flags, int pointSize, const char* fmt, ...) GRV_PRINTF(6, 7);
    virtual double Print(double row, double column, int flags, int pointSize, const char* fmt, ...) GRV_PRINTF(6, 7);
    virtual int PrintData(int row, int column, int flags, int pointSize, std::uint32_t data);
    virtual int Print(int row, int* column, int flags, int pointSize, const char* fmt, ...) GRV_PRINTF(6, 7);
    virtual int Print(int row, int column, int flags, int pointSize, const char* fmt, ...) GRV_PRINTF(6, 7);
    virtual void PrintDataInRegionRect(CPrintRegion* region, double top, double left, double bottom, double right,
                                       int flags, int pointSize, std::uint32_t data);
    virtual void PrintDataInRegionRect(CPrintRegion* region, int top, int left, int bottom, int right, int flags,
                                       int pointSize, std::uint32_t data);
    virtual void PrintInRegionRect(CPrintRegion* region, double top, double left, double bottom, double right,
                                   int flags, int pointSize, const char* text);
    virtual void PrintInRegionRect(CPrintRegion* region, int top, int left, int bottom, int right, int flags,
                                   int pointSize, const char* text);
    virtual void PrintDataInRect(double top, double left, double bottom, double right, int flags, int pointSize,
                                 std::uint32_t data);
    virtual void PrintDataInRect(int top, int left, int bottom, int right, int flags, int pointSize,
                                 std::uint32_t data);
    virtual void PrintInRect(double top, double left, double bottom, double right, int flags, int pointSize,
                             const char* text);
    virtual void PrintInRect(int top, int left, int bottom, int right, int flags, int pointSize, const char* text);
    virtual double SetLineSpacing(double factor);
    // Returns the face in use before; null keeps it.
    virtual std::string SetFont(const char* faceName);
    virtual double GetNextColumn(bool inInches, bool plusOneCharacter);
    virtual QColor SetColor(const QColor& color);
    virtual int SetFontSize(int points);
    virtual double SetRightMargin(double inches);
    virtual int SetRightMargin(int units);
    virtual double SetBottomMargin(double inches);
    virtual int SetBottomMargin(int units);
    virtual void LineInRegion(CPrintRegion* region, double top, double left, double bottom, double right, int penWidth,
                              int lineStyle);
    virtual void LineInRegion(CPrintRegion* region, int top, int left, int bottom, int right, int penWidth,
                              int lineStyle);
    virtual void Line(double top, double left, double bottom, double right, int penWidth, int lineStyle);
    virtual void Line(int top, int left, int bottom, int right, int penWidth, int lineStyle);
    virtual void BoxInRegion(CPrintRegion* region, double top, double left, double bottom, double right, int penWidth,
                             int fill, int lineStyle);
    virtual void BoxInRegion(CPrintRegion* region, int top, int left, int bottom, int right, int penWidth, int fill,
                             int lineStyle);
    virtual void Box(double top, double left, double bottom, double right, int penWidth, int fill, int lineStyle);
    virtual void Box(int top, int left, int bottom, int right, int penWidth, int fill, int lineStyle);
    // The label is printed as it is.
    virtual void CheckBoxInRegion(CPrintRegion* region, const char* label, bool ticked, double row, double column,
                                  int pointSize, bool labelFirst, int penWidth, int fill, int flags);
    virtual void CheckBoxInRegion(CPrintRegion* region, const char* label, bool ticked, int row, int column,
                                  int pointSize, bool labelFirst, int penWidth, int fill, int flags);
    virtual void CheckBox(const char* label, bool ticked, double row, double column, int pointSize, bool labelFirst,
                          int penWidth, int fill, int flags);
    virtual void CheckBox(const char* label, bool ticked, int row, int column, int pointSize, bool labelFirst,
                          int penWidth, int fill, int flags);
    virtual void Table(PrintTableHeader* header);
    virtual CPrintRegion* CreateRegion(int top, int left, int bottom, int right, int fill);
    virtual CPrintRegion* CreateRegion(double top, double left, double bottom, double right, int fill);
    virtual void PrintBitmap(double top, double left, double bottom, double right, const char* fileName);
    virtual void PrintBitmap(int top, int left, int bottom, int right, const char* fileName);

    CPrintRegion* CreateSubRegion(CPrintRegion* parent, int top, int left, int bottom, int right, int fill);
    CPrintRegion* CreateRegionScaled(CPrintRegion* parent, double top, double left, double bottom, double right,
                                     int fill);
    void SaveState();
    void RestoreState();
    int ConvertToUnits(double inches, int axis) const;
    double ConvertToInches(int units, int axis) const;
    void ConvertPosition(double& row, double& column) const;
    void ConvertArea(double& top, double& left, double& bottom, double& right) const;
    static int GetPrinterOrientation(const DeviceContext* dc);

    // What the page's companions (tables, regions) and callers read.
    PrintState& State() { return m_state; }
    CPrinter& Printer() { return *m_printer; }
    const TextMetrics& Metrics() const { return m_metrics; }
    int LogPixelsX() const { return m_logPixelsX; }
    int LogPixelsY() const { return m_logPixelsY; }
    int MapMode() const { return m_mapMode; }
    int Orientation() const { return m_orientation; }
    double PageWidthInches() const { return m_pageWidthInches; }
    double PageHeightInches() const { return m_pageHeightInches; }
    void SetNextColumn(int column) { m_nextColumn = column; }
    std::size_t SavedStates() const { return m_saved.size(); }

private:
    int RowAfter(int printedRow) const;
    int PrintFormatted(int row, int column, int flags, int pointSize, const char* text);
    int PrintTextInRegion(CPrintRegion* region, int row, int column, int flags, int pointSize, const char* text);
    void PrintTextInRect(int top, int left, int bottom, int right, int flags, int pointSize, const char* text);
    void PrintTextInRegionRect(CPrintRegion* region, int top, int left, int bottom, int right, int flags, int pointSize,
                               const char* text, bool setNextColumn);
    PrintRect RegionArea(const CPrintRegion* region, int top, int left, int bottom, int right) const;
    void DrawCheckBox(const char* label, bool ticked, int row, int column, int pointSize, bool labelFirst, int penWidth,
                      int fill, int flags);
    const char* CallbackText(std::uint32_t data) const;

    std::unique_ptr<CPrinter> m_printer;
    PrintState m_state;
    std::vector<PrintState> m_saved; // grows as operations nest
    int m_logPixelsX = 0;
    int m_logPixelsY = 0;
    int m_nextColumn = 0;
    TextMetrics m_metrics;
    int m_orientation = 0;
    TextCallback m_callback = nullptr;
    double m_lineSpacing = 1.0;
    double m_pageWidthInches = 0.0;
    double m_pageHeightInches = 0.0;
    std::vector<std::unique_ptr<CPrintRegion>> m_regions;
    int m_mapMode = print::kMapText;
};
