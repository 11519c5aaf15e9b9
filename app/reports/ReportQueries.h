#pragma once
// The six report kinds: their names, chart texts, list columns, export
// headings and the two statements each runs against the journal. Qt-free.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/store/JournalTypes.h"

namespace reports {

enum ReportKind : int {
    kPainVsActions = 0,
    kPainVsMedications = 1,
    kPainVsLife = 2,
    kSideEffectsOverTime = 3,
    kMedicinesVsSideEffects = 4,
    kPainVsTime = 5,
};
constexpr int kReportKindCount = 6;

struct ListColumn {
    const char* heading;
    int width;
};

struct ReportKindInfo {
    const char* comboText;
    int graphType; // charts::GraphType
    const char* chartTitle;
    const char* chartSubtitle;
    const char* exportTitle;
    // One name for every column the detail statement returns.
    std::vector<const char*> exportHeadings;
    std::vector<ListColumn> listColumns;
};

// Info of kind 0 to 5; the kind must be valid.
const ReportKindInfo& KindInfo(int kind);
// The kind whose combo text this is, -1 when none is.
int KindFromComboText(const std::string& text);
// Combo texts in the order they are added to the combo.
const std::array<const char*, kReportKindCount>& ComboTextsInAddOrder();

// How the pain-versus-time summary groups its rows.
enum class TimeGrouping { Plain, Weekly, Monthly };
constexpr std::int64_t kSecondsPerDay = 24 * 60 * 60;
constexpr std::int64_t kWeeklyFromSeconds = 7 * kSecondsPerDay;
constexpr std::int64_t kMonthlyFromSeconds = 70 * kSecondsPerDay;
TimeGrouping PainTimeGrouping(std::int64_t spanSeconds);

// To minus From in seconds, counting every day as 24 hours (the dates are
// wall-clock times, daylight saving plays no part).
std::int64_t WallClockSpanSeconds(const JournalDateTime& from, const JournalDateTime& to);
// Labels of a time axis whose segments stand at `times` (oldest first), one
// list per step the grouping allows, finest first (days, weeks, months,
// years): the first segment of each day (week, month, year) carries its
// label ("Mar 2", the Monday's "Mar 2", "Mar" or for January "2026",
// "2026"), the others an empty text.
std::vector<std::vector<std::string>> TimeLabelSteps(TimeGrouping grouping, const std::vector<JournalDateTime>& times);
// -1, 0 or 1 as a is earlier than, equal to or later than b.
int CompareDateTimes(const JournalDateTime& a, const JournalDateTime& b);

struct ReportStatements {
    std::string summary;
    std::string detail;
    int summaryCols = 0;
    int detailCols = 0;
};

// Both statements of a kind for the range; both ends of the range are
// included. Deleted entries and deleted details never take part.
ReportStatements BuildReportStatements(int kind, const JournalDateTime& from, const JournalDateTime& to);

// Medicines-versus-side-effects charts show this many medicines at most.
constexpr int kMaxMedicineSeries = 14;

} // namespace reports
