#pragma once
// The printed form of a report: one ruled table of detail rows per page,
// 60 rows to a page, with the kind's heading above it and the maker's
// notice at the foot.
#include <string>
#include <vector>

#include "app/store/JournalTypes.h"

class CPage;

namespace reports {

constexpr int kPrintRowsPerPage = 60;
constexpr char kPrintFace[] = "Ariel"; // spelt so: the face the printouts ask for
constexpr char kPrintFootNotice[] = "Printed with Gorvane, the pain journal from Bravenor";

struct PrintColumn {
    const char* heading; // "\n" breaks it into lines
    double width;        // inches
};

struct ReportPrintLayout {
    const char* heading;
    int headingPoints;
    std::vector<PrintColumn> columns;
    int leftAlignedColumn; // -1 when every cell is centred
};

// The layout of a report kind (0 to 5); kinds outside print as kind 5.
const ReportPrintLayout& PrintLayoutOf(int kind);

// Pages for a number of detail rows, and the rows on the last of them.
int PrintPageCount(int detailRows);
int RowsOnPrintPage(int page, int pageCount, int lastPageRows);

// Prints rows [firstRow, firstRow + rowCount) of the report on the page;
// gives the first row not printed.
int PrintReportPage(CPage& page, const ReportPrintLayout& layout, const ReportRows& rows, int firstRow, int rowCount);

} // namespace reports
