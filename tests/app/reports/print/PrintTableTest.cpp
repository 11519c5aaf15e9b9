// Print tables: geometry, headings, rules and cell frames, cells, and the
// limits on what a caller's description may ask for.
#include <gtest/gtest.h>

#include "PrintTestSupport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintTable.h"

using namespace printtest;

namespace {

// Inches header from 0.5 to 7.5 at the given top, like the report tables.
void InchesHeader(PrintTableHeader& h, int columns, int rows) {
    h.unitsInches = 1;
    h.top = 0.5;
    h.left = 0.5;
    h.right = 7.5;
    h.columns = columns;
    h.rows = rows;
}

std::vector<Call> Boxes(const RecordedPage& p) {
    return CallsOf(p.calls, Call::Box);
}

TEST(PrintTableGeometry, EqualWidthsAndHeights) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 10, 4);
    p.page.Table(&h);
    ASSERT_NE(h.table, nullptr);
    for (int c = 0; c < 10; ++c)
        EXPECT_EQ(h.column[c].width, 420) << c;
    EXPECT_EQ(h.table->GetRowHeight(true), 125);  // trunc(10 / 72 x 600 x 1.5)
    EXPECT_EQ(h.table->GetRowHeight(false), 125); // one heading line: factor 1.5
    EXPECT_EQ(h.table->FirstRowTop(), 300 + 125);
    EXPECT_DOUBLE_EQ(h.bottom, (425 + 4 * 125) / 600.0); // given back in inches
    EXPECT_EQ(h.table->ColumnLeft(3), 300 + 3 * 420);
    EXPECT_EQ(p.page.SavedStates(), 0u);
    EXPECT_EQ(p.page.State().pointSize, 10);
    EXPECT_EQ(p.page.State().flags, print::kDefaultFlags);
}

TEST(PrintTableGeometry, HeadingLinesAndLinesPerRow) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 2, 2);
    h.headingLines = 2;
    h.linesPerRow = 3;
    h.pointSize = 7;
    p.page.Table(&h);
    ASSERT_NE(h.table, nullptr);
    EXPECT_EQ(h.table->GetRowHeight(false), 58); // trunc(7 / 72 x 600), factor 1.0
    EXPECT_EQ(h.table->HeadingBand(), 116);
    EXPECT_EQ(h.table->GetRowHeight(true), 3 * 87); // trunc(7 / 72 x 600 x 1.5)
    // The heading box spans the band.
    const Call headingBox = Boxes(p).at(0);
    EXPECT_EQ(headingBox.state.top, 300);
    EXPECT_EQ(headingBox.state.bottom, 416);
}

TEST(PrintTableHeadings, NumberedWhenEmptyAndFittedToTheRight) {
    const struct {
        double widths[3];
        int lastWidth;
    } cases[] = {{{1.0, 1.0, 1.0}, 4200 - 1200}, {{3.0, 3.0, 3.0}, 4200 - 3600}};
    for (const auto& c : cases) {
        RecordedPage p;
        PrintTableHeader h;
        InchesHeader(h, 3, 1);
        h.equalWidths = 0;
        h.column[0].Set(c.widths[0], "", 0);
        h.column[1].Set(c.widths[1], "Named", 0);
        h.column[2].Set(c.widths[2], "", 0);
        p.page.Table(&h);
        EXPECT_EQ(h.column[2].width, c.lastWidth);
        const auto texts = p.Outputs();
        ASSERT_EQ(texts.size(), 3u);
        EXPECT_EQ(texts[0].state.text, "Col 1");
        EXPECT_EQ(texts[1].state.text, "Named");
        EXPECT_EQ(texts[2].state.text, "Col 3");
        EXPECT_EQ(texts[2].state.right, 4500); // the last column ends at the table's right
        for (const Call& t : texts) {
            EXPECT_EQ(t.state.flags, 0x891);
            EXPECT_EQ(t.factor, 2.0);
        }
    }
}

TEST(PrintTableHeadings, DarkHeadingFillPrintsWhite) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 2, 1);
    h.headingFill = print::kFillBlack;
    p.page.Table(&h);
    EXPECT_EQ(p.Outputs().at(0).textColor, QColor(255, 255, 255));
    EXPECT_EQ(p.Outputs().at(0).state.fillCode, print::kFillBlack);
    EXPECT_EQ(p.canvas.Dc()->GetTextColor(), QColor(Qt::black));
}

TEST(PrintTableRules, EveryRowAndCellOrEveryNthRule) {
    const struct {
        int interval;
        int rows;
        int rules;
        int cellFrames;
    } cases[] = {{0, 6, 6, 6 * 4}, {3, 6, 2, 0}, {3, 8, 2, 0}, {1, 5, 5, 0}};
    for (const auto& c : cases) {
        RecordedPage p;
        PrintTableHeader h;
        InchesHeader(h, 4, c.rows);
        h.ruleInterval = c.interval;
        h.column[2].fillCode = print::kFillLightGray;
        p.page.Table(&h);
        int rowRules = 0, columnRules = 0;
        for (const Call& line : CallsOf(p.calls, Call::Line)) {
            if (line.state.top == line.state.bottom)
                ++rowRules;
            else
                ++columnRules;
        }
        EXPECT_EQ(rowRules, c.rules) << c.interval << "/" << c.rows;
        EXPECT_EQ(columnRules, 3);
        // Heading box and frame, then the cell frames.
        const auto boxes = Boxes(p);
        ASSERT_EQ(static_cast<int>(boxes.size()), 2 + c.cellFrames);
        if (c.cellFrames) {
            const Call& cell = boxes[2 + 2 * c.rows + 1]; // column 2, row 1
            EXPECT_EQ(cell.state.fillCode, print::kFillLightGray);
            EXPECT_EQ(cell.penWidth, 1);
            EXPECT_EQ(cell.state.top, h.table->FirstRowTop() + 125);
            EXPECT_EQ(cell.state.left, 300 + 2 * 1050);
        }
    }
}

TEST(PrintTableRules, PlainTablesHaveNoFrameOrRules) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 3, 3);
    h.plain = 1;
    h.ruleInterval = 2;
    p.page.Table(&h);
    EXPECT_TRUE(CallsOf(p.calls, Call::Line).empty());
    EXPECT_EQ(Boxes(p).size(), 1u); // the heading box only
    p.page.PrintCell(&h, 7, 1, 30, 0x20, "%s", "beyond the rows");
    const Call cell = p.Outputs().back();
    EXPECT_EQ(cell.state.pointSize, 30); // no cut in the plain layout
    EXPECT_EQ(cell.state.flags, 0x20);
    EXPECT_EQ(cell.state.left, 300 + 1400 + 1);
    EXPECT_EQ(cell.state.top, h.table->FirstRowTop() + 7 * 125 + 1);
}

TEST(PrintTableCells, TextInTheInsetCell) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 5, 3);
    h.pointSize = 7;
    h.column[4].fillCode = print::kFillDarkGray;
    p.page.Table(&h);
    const std::size_t before = p.Outputs().size();
    p.page.PrintCell(&h, 1, 4, 9, 0x80, "%s", "50% of 100%d");
    const Call cell = p.Outputs().at(before);
    EXPECT_EQ(cell.state.text, "50% of 100%d");
    EXPECT_EQ(cell.state.pointSize, 7); // cut to the header's
    EXPECT_EQ(cell.state.flags, 0x80 | 0xA00);
    const int rowHeight = 87, left = 300 + 4 * 840;
    EXPECT_EQ(Area(cell.state), (Sides{left + 2, h.table->FirstRowTop() + rowHeight + 2, 4500 - 2,
                                       h.table->FirstRowTop() + 2 * rowHeight - 2}));
    EXPECT_EQ(cell.textColor, QColor(255, 255, 255));
    EXPECT_EQ(cell.bkMode, print::kTransparent);
    EXPECT_EQ(p.page.GetNextColumn(false, false), cell.state.lastEndColumn);
    EXPECT_EQ(p.page.State().pointSize, 10); // the page state is restored
}

TEST(PrintTableLimits, CellsOutsideTheTableAreIgnored) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 3, 2);
    p.page.Table(&h);
    const std::size_t before = p.Outputs().size();
    const int cells[][2] = {{2, 0}, {-1, 0}, {0, 3}, {0, -1}, {0, 25}, {0, 1000}};
    for (const auto& c : cells)
        p.page.PrintCell(&h, c[0], c[1], 0, 0, "%s", "outside");
    EXPECT_EQ(p.Outputs().size(), before);
    p.page.PrintCell(nullptr, 0, 0, 0, 0, "%s", "no header");
    EXPECT_EQ(p.Outputs().size(), before);
}

TEST(PrintTableLimits, MoreThanTwentyFiveColumnsAreClamped) {
    RecordedPage p;
    PrintTableHeader h;
    InchesHeader(h, 40, 1);
    p.page.Table(&h);
    ASSERT_NE(h.table, nullptr);
    EXPECT_EQ(h.columns, 25);
    EXPECT_EQ(p.Outputs().size(), 25u); // 25 headings
    p.page.PrintCell(&h, 0, 30, 0, 0, "%s", "col 30");
    EXPECT_EQ(p.Outputs().size(), 25u);

    RecordedPage none;
    PrintTableHeader empty;
    InchesHeader(empty, 0, 1);
    none.page.Table(&empty);
    EXPECT_EQ(empty.table, nullptr);
    EXPECT_TRUE(none.calls.empty());
}

TEST(PrintTableLimits, TableWiderThanThePrintAreaIsNotDrawn) {
    RecordedPage p(1, {300, 300, 4000, 6300}); // right edge 6.67 inches
    PrintTableHeader h;
    InchesHeader(h, 3, 2);
    p.page.Table(&h);
    EXPECT_EQ(h.table, nullptr);
    EXPECT_TRUE(p.calls.empty());
    p.page.PrintCell(&h, 0, 0, 0, 0, "%s", "nothing");
    EXPECT_TRUE(p.calls.empty());
}

} // namespace
