#pragma once
// Ruled print tables: the caller describes a table in a PrintTableHeader,
// CPage::Table draws its skeleton, CPage::PrintCell fills it cell by cell.
#include <memory>
#include <string>

struct PrintState;
class CPage;
struct PrintTableHeader;

namespace print {
constexpr int kMaxTableColumns = 25;
}

struct PrintTableColumn {
    double width = 0.0;  // inches when the header's units switch is set
    std::string heading; // "\n" breaks a heading into lines
    int fillCode = 0;

    void Set(double newWidth, const std::string& newHeading, int newFill) {
        width = newWidth;
        heading = newHeading;
        fillCode = newFill;
    }
};

class CPrintTable {
public:
    CPrintTable(PrintState* state, PrintTableHeader* header, CPage* page);
    virtual ~CPrintTable() = default;

    virtual void Draw();
    virtual void PrintCell(const char* text, int row, int column, int pointSize, int flags);
    virtual void PrintCellPlain(const char* text, int row, int column, int pointSize, int flags);
    virtual void PrintHeadings();
    virtual void PrintFrame();
    virtual void PrintRowRules();
    virtual void PrintColumnRules();
    // Height of a data row (dataRow true) or of one heading line, page units.
    virtual int GetRowHeight(bool dataRow);
    virtual void FrameCell(int row, int column);

    // Geometry of the laid-out table, page units.
    int HeadingBand();
    int FirstRowTop(); // top of data row 0
    int ColumnLeft(int column) const;
    int ColumnRight(int column) const;

private:
    void PrintCellText(const char* text, int column, int pointSize, int flags, int inset, int rowTop);

    PrintState* m_state;
    PrintTableHeader* m_header;
    CPage* m_page;
};

struct PrintTableHeader {
    int ruleInterval = 0; // 0: rule under every row and every cell framed
    int unitsInches = 0;  // geometry and widths in inches
    int equalWidths = 1;
    int headingFill = 0;
    int pointSize = 10;
    int penWidth = 1;
    int columns = 2; // at most 25
    int rows = 2;
    int frame = 1;
    int columnRules = 1;
    int rowRules = 1;
    int plain = 0; // no frame, no rules; cells by PrintCellPlain
    int noHeadings = 0;
    int headingLines = 1;
    int linesPerRow = 1;
    double top = 0.0;
    double left = 0.0;
    double right = 0.0;
    double bottom = 0.0; // written by the table: the row below it
    PrintTableColumn column[print::kMaxTableColumns];
    std::unique_ptr<CPrintTable> table; // made by CPage::Table
};
