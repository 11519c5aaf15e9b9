#include "app/reports/ReportPrint.h"

#include <algorithm>

#include "app/reports/ReportQueries.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintTable.h"

namespace reports {
namespace {

constexpr int kHeadingFlags = print::kBold | print::kCentred;
constexpr int kCellFlags = print::kCentred;
constexpr int kLeftCellFlags = 0x20;
constexpr int kCellPoints = 9;
constexpr int kTablePoints = 7;
constexpr int kHeadingLines = 3;
// Rows are measured from the page's origin half an inch below the top of
// the printable area, so the heading keeps the page's top margin instead of
// touching the paper's edge. Columns need no shift: the table's own left
// and right of 0.5 and 7.5 inches lie inside the margins on A4 and Letter.
constexpr double kPageTop = 0.5;
constexpr double kTableTop = 0.5;
constexpr double kTableLeft = 0.5;
constexpr double kTableRight = 7.5;
constexpr double kFootRow = 10.0;
constexpr double kFootColumn = 1.0;
constexpr int kFootPoints = 8;
constexpr double kFootRoom = 2.0 * kFootPoints / 72.0; // inches a foot line needs
constexpr double kFootGap = 0.1;                       // inches between the table and the foot

const std::vector<PrintColumn> kPainColumns = {
    {"\nDate", 1.1}, {"Pain\nMax", 0.45}, {"Pain\nAvg", 0.45}, {"Pain\nMin", 0.45}, {"Pain\nCur", 0.45}};

const std::vector<PrintColumn> kSideEffectColumns = {
    {"Appe\ntite", 0.4},   {"Const\nipated", 0.4}, {"Inso\nmnia", 0.4}, {"Itch\ning", 0.4}, {"Naus\nea", 0.4},
    {"Night\nmares", 0.4}, {"Sweat\ning", 0.4},    {"Think\ning", 0.4}, {"Tired", 0.4},     {"Vomit", 0.4}};

std::vector<PrintColumn> Joined(std::vector<PrintColumn> first, const std::vector<PrintColumn>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

const ReportPrintLayout kLayouts[] = {
    {"Pain vs. Actions", 24,
     Joined(kPainColumns, {{"Action\nID", 0.45},
                           {"Name", 1.75},
                           {"Category", 1.0},
                           {"Pain\nInc/Dec", 0.45},
                           {"Duration\nMinutes", 0.5}}),
     -1},
    {"Pain vs. Medicines", 24,
     Joined(kPainColumns, {{"Medicine\nID", 0.5}, {"Medicine\nName", 2.5}, {"Quantity", 0.5}, {"Dosage", 1.0}}), -1},
    {"Pain vs. Life", 24,
     Joined(kPainColumns, {{"Activity", 0.5},
                           {"Mood", 0.5},
                           {"Walking", 0.5},
                           {"Working", 0.5},
                           {"Relati\nonship", 0.5},
                           {"Sleep", 0.5},
                           {"Life", 0.5},
                           {"Concen\ntration", 0.5}}),
     -1},
    {"Pain vs. Side Effects", 24, Joined(kPainColumns, kSideEffectColumns), -1},
    {"Medicines vs. Side Effects", 20,
     Joined({{"Medicine", 1.25}, {"Dose", 0.75}, {"Type", 0.75}, {"Qty", 0.25}}, kSideEffectColumns), -1},
    {"Pain vs. Time",
     24,
     {{"\nDate", 1.1},
      {"Pain\nMax", 0.4},
      {"Pain\nAvg", 0.4},
      {"Pain\nMin", 0.4},
      {"Pain\nCur", 0.4},
      {"\nSubject", 4.0}},
     5},
};

} // namespace

const ReportPrintLayout& PrintLayoutOf(int kind) {
    if (kind < kPainVsActions || kind > kPainVsTime)
        kind = kPainVsTime;
    return kLayouts[kind];
}

int PrintPageCount(int detailRows) {
    if (detailRows <= 0)
        return 0;
    return detailRows / kPrintRowsPerPage + (detailRows % kPrintRowsPerPage ? 1 : 0);
}

int RowsOnPrintPage(int page, int pageCount, int lastPageRows) {
    if (page < pageCount)
        return kPrintRowsPerPage;
    return lastPageRows > 0 ? lastPageRows : kPrintRowsPerPage;
}

int PrintReportPage(CPage& page, const ReportPrintLayout& layout, const ReportRows& rows, int firstRow, int rowCount) {
    page.SetFont(kPrintFace);
    page.Print(kPageTop, 0.0, kHeadingFlags, layout.headingPoints, "%s", layout.heading);

    const int columns = static_cast<int>(layout.columns.size());
    PrintTableHeader header;
    header.pointSize = kTablePoints;
    header.penWidth = 1;
    header.linesPerRow = 1;
    header.unitsInches = 1;
    header.equalWidths = 0;
    header.frame = 1;
    header.headingFill = 0;
    header.headingLines = kHeadingLines;
    header.top = kPageTop + kTableTop;
    header.left = kTableLeft;
    header.right = kTableRight;
    header.columns = columns;
    header.rows = rowCount;
    for (int c = 0; c < columns; ++c) {
        const PrintColumn& column = layout.columns[static_cast<size_t>(c)];
        header.column[c].Set(column.width, column.heading, 0);
    }
    page.Table(&header);

    const int end = std::min(firstRow + kPrintRowsPerPage, static_cast<int>(rows.size()));
    for (int r = std::max(firstRow, 0); r < end; ++r) {
        const ReportRow& row = rows[static_cast<size_t>(r)];
        const int texts = std::min(columns, static_cast<int>(row.size()));
        for (int c = 0; c < texts; ++c) {
            const int flags = c == layout.leftAlignedColumn ? kLeftCellFlags : kCellFlags;
            page.PrintCell(&header, r - firstRow, c, kCellPoints, flags, "%s", row[static_cast<size_t>(c)].c_str());
        }
    }

    // On paper as short as Letter the foot moves up into the page, never
    // onto the table.
    const double foot =
        std::max(header.bottom + kFootGap, std::min(kPageTop + kFootRow, page.PageHeightInches() - kFootRoom));
    page.Print(foot, kFootColumn, kCellFlags, kFootPoints, "%s", kPrintFootNotice);
    return std::max(end, firstRow);
}

} // namespace reports
