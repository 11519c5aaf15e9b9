#include "app/reports/print/PrintTable.h"

#include <cstdio>

#include "app/reports/print/DeviceContext.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintText.h"
#include "app/reports/print/Printer.h"

namespace {

constexpr double kCellSpacing = 2.0; // line-spacing argument of cell and heading texts
const QColor kWhite(255, 255, 255);

int Trunc(double value) {
    return static_cast<int>(value);
}

} // namespace

CPrintTable::CPrintTable(PrintState* state, PrintTableHeader* header, CPage* page)
    : m_state(state), m_header(header), m_page(page) {}

int CPrintTable::GetRowHeight(bool dataRow) {
    const PrintTableHeader& h = *m_header;
    const double factor = dataRow || h.headingLines == 1 ? 1.5 : 1.0;
    const double line = m_page->MapMode() == print::kMapAnisotropic
                            ? h.pointSize * factor
                            : h.pointSize / 72.0 * m_page->LogPixelsY() * factor;
    return dataRow ? h.linesPerRow * Trunc(line) : Trunc(line);
}

int CPrintTable::HeadingBand() {
    return m_header->headingLines * GetRowHeight(false);
}

int CPrintTable::FirstRowTop() {
    return Trunc(m_header->top) + HeadingBand();
}

int CPrintTable::ColumnLeft(int column) const {
    int x = Trunc(m_header->left);
    for (int c = 0; c < column; ++c)
        x += Trunc(m_header->column[c].width);
    return x;
}

int CPrintTable::ColumnRight(int column) const {
    return Trunc(ColumnLeft(column) + m_header->column[column].width);
}

void CPrintTable::Draw() {
    PrintTableHeader& h = *m_header;
    m_page->SaveState();
    if (h.equalWidths == 1) {
        const int width = Trunc(h.right - h.left) / h.columns;
        for (int c = 0; c < h.columns; ++c)
            h.column[c].width = width;
    }
    PrintHeadings();
    PrintFrame();
    PrintRowRules();
    PrintColumnRules();
    for (int c = 0; c < h.columns; ++c)
        for (int r = 0; r < h.rows; ++r)
            FrameCell(r, c);
    m_page->RestoreState();
}

void CPrintTable::PrintHeadings() {
    PrintTableHeader& h = *m_header;
    if (h.noHeadings == 1)
        return;
    m_page->SetFontSize(h.pointSize);
    const int top = Trunc(h.top);
    const int band = HeadingBand();
    m_page->Box(top, Trunc(h.left), top + band, Trunc(h.right), h.penWidth, 0, print::kSolid);

    const int total = ColumnLeft(h.columns);
    PrintTableColumn& last = h.column[h.columns - 1];
    if (total < h.right)
        last.width += h.right - total;
    else if (total > h.right)
        last.width -= total - h.right;

    DeviceContext* dc = m_state->dc;
    int x = Trunc(h.left);
    for (int c = 0; c < h.columns; ++c) {
        char numbered[32];
        std::snprintf(numbered, sizeof numbered, "Col %d", c + 1);
        const std::string& heading = h.column[c].heading;
        m_state->text = print::DecodeText(heading.empty() ? numbered : heading.c_str());
        m_state->SetRect(x, top, Trunc(x + h.column[c].width), top + band);
        m_state->flags = print::kBold | print::kFramed | print::kCentred | print::kVCentred;
        m_state->fillCode = h.headingFill;
        const QColor oldColor = h.headingFill > 2 ? dc->SetTextColor(kWhite) : QColor();
        m_page->Printer().OutputText(m_state, kCellSpacing);
        if (oldColor.isValid())
            dc->SetTextColor(oldColor);
        m_page->SetNextColumn(m_state->lastEndColumn);
        x = m_state->right;
    }
}

void CPrintTable::PrintFrame() {
    PrintTableHeader& h = *m_header;
    const int bottom = FirstRowTop() + h.rows * GetRowHeight(true);
    h.bottom = bottom;
    if (h.frame && h.plain != 1)
        m_page->Box(Trunc(h.top), Trunc(h.left), bottom, Trunc(h.right), h.penWidth, 0, print::kSolid);
}

void CPrintTable::PrintRowRules() {
    const PrintTableHeader& h = *m_header;
    if (h.rowRules == 0 || h.plain == 1)
        return;
    const int rowHeight = GetRowHeight(true);
    const int first = h.noHeadings == 1 ? Trunc(h.top) + rowHeight : FirstRowTop();
    for (int i = 0; i < h.rows; ++i) {
        if (h.ruleInterval > 0 && (i + 1) % h.ruleInterval != 0)
            continue;
        const int y = first + i * rowHeight;
        m_page->Line(y, Trunc(h.left), y, Trunc(h.right), h.penWidth, print::kSolid);
    }
}

void CPrintTable::PrintColumnRules() {
    const PrintTableHeader& h = *m_header;
    if (h.columnRules == 0 || h.plain == 1)
        return;
    const int top = FirstRowTop();
    const int bottom = top + h.rows * GetRowHeight(true);
    for (int c = 1; c < h.columns; ++c) {
        const int x = ColumnLeft(c);
        m_page->Line(top, x, bottom, x, h.penWidth, m_state->lineStyle);
    }
}

void CPrintTable::FrameCell(int row, int column) {
    const PrintTableHeader& h = *m_header;
    if (h.ruleInterval != 0)
        return;
    const int rowHeight = GetRowHeight(true);
    const int top = FirstRowTop() + row * rowHeight;
    m_page->Box(top, ColumnLeft(column), top + rowHeight, ColumnRight(column), 1, h.column[column].fillCode,
                print::kSolid);
}

void CPrintTable::PrintCellText(const char* text, int column, int pointSize, int flags, int inset, int rowTop) {
    const PrintTableHeader& h = *m_header;
    const int rowHeight = GetRowHeight(true);
    m_state->left = ColumnLeft(column) + inset;
    m_state->right = ColumnRight(column) - inset;
    m_state->top = rowTop + inset;
    m_state->bottom = rowTop + rowHeight - inset;
    m_state->text = print::DecodeText(text);
    m_state->pointSize = pointSize;
    m_state->flags = flags;
    const int fill = h.column[column].fillCode;
    m_state->fillCode = fill;
    DeviceContext* dc = m_state->dc;
    const QColor oldColor = fill > 2 ? dc->SetTextColor(kWhite) : QColor();
    const int oldBk = fill != 0 ? dc->SetBkMode(print::kTransparent) : 0;
    m_page->Printer().OutputText(m_state, kCellSpacing);
    if (oldColor.isValid())
        dc->SetTextColor(oldColor);
    if (oldBk)
        dc->SetBkMode(oldBk);
    m_page->SetNextColumn(m_state->lastEndColumn);
}

void CPrintTable::PrintCell(const char* text, int row, int column, int pointSize, int flags) {
    const PrintTableHeader& h = *m_header;
    if (row < 0 || row >= h.rows || column < 0 || column >= h.columns)
        return;
    if (pointSize <= 0)
        pointSize = h.pointSize;
    if (h.rowRules == 1 && h.plain != 1 && pointSize > h.pointSize)
        pointSize = h.pointSize;
    if (h.linesPerRow == 1)
        flags |= print::kSingleLine | print::kVCentred;
    PrintCellText(text, column, pointSize, flags, 2, FirstRowTop() + row * GetRowHeight(true));
}

void CPrintTable::PrintCellPlain(const char* text, int row, int column, int pointSize, int flags) {
    const PrintTableHeader& h = *m_header;
    if (h.plain == 0 || row < 0 || column < 0 || column >= h.columns)
        return;
    if (pointSize <= 0)
        pointSize = h.pointSize;
    PrintCellText(text, column, pointSize, flags, 1, FirstRowTop() + row * GetRowHeight(true));
}
