#include "app/reports/ReportQueries.h"

#include <cassert>
#include <optional>
#include <tuple>

#include "app/reports/ChartGeometry.h"
#include "app/store/JournalDb.h"
#include "platform/WinTime.h"

namespace reports {

namespace {

const std::vector<ListColumn> kPainColumns = {{"Date", 120}, {"Max", 35}, {"Avg", 35}, {"Min", 35}, {"Cur", 35}};

std::vector<ListColumn> PainColumnsAnd(std::vector<ListColumn> own) {
    std::vector<ListColumn> all = kPainColumns;
    all.insert(all.end(), own.begin(), own.end());
    return all;
}

std::vector<ListColumn> EqualWidth(std::vector<const char*> headings, int width) {
    std::vector<ListColumn> out;
    for (const char* h : headings)
        out.push_back({h, width});
    return out;
}

const std::vector<const char*> kSideEffectListHeadings = {"Appetite",   "Constipation", "Insomnia", "Itching", "Nausea",
                                                          "Nightmares", "Sweat",        "Thinking", "Tired",   "Vomit"};

const std::vector<const char*> kSideEffectExportHeadings = {"Appetite", "Constipation", "Insomnia", "Itching",
                                                            "Nausea",   "Nightmares",   "Sweating", "Thinking",
                                                            "Tired",    "Vomiting"};

std::vector<const char*> PainHeadingsAnd(std::vector<const char*> own) {
    std::vector<const char*> all = {"Date", "Max", "Avg", "Min", "Cur"};
    all.insert(all.end(), own.begin(), own.end());
    return all;
}

std::vector<const char*> SideEffectHeadingsAnd(std::vector<const char*> own) {
    std::vector<const char*> all = PainHeadingsAnd(kSideEffectExportHeadings);
    all.insert(all.end(), own.begin(), own.end());
    return all;
}

std::vector<ReportKindInfo> MakeKinds() {
    std::vector<ReportKindInfo> kinds;
    kinds.push_back({"Pain vs. Actions", charts::kLineGraph, "Pain vs. Activities",
                     "Showing Activity Effects on Pain Level", "Pain Compared to Actions",
                     PainHeadingsAnd({"Action", "Name", "Category", "Inc/Dec", "Duration", "Subject"}),
                     PainColumnsAnd({{"Action", 50}, {"Name", 180}, {"Category", 80}, {"Inc/Dec", 60}, {"Time", 60}})});
    kinds.push_back({"Pain vs. Medications", charts::kLineGraph, "Pain vs. Medications",
                     "Showing Medication Effects on Pain Level", "Pain Compared to Medicines",
                     PainHeadingsAnd({"Med ID", "Medicine", "Quantity", "Dosage", "Description", "Subject"}),
                     PainColumnsAnd({{"Med ID", 50}, {"Medicine", 240}, {"Qty", 40}, {"Dosage", 140}})});
    kinds.push_back({"Pain vs. Life", charts::kBarGraph, "Pain vs. Life",
                     "Showing Pain Level Effects on Aspects of Life", "Pains Effects on Life",
                     PainHeadingsAnd({"Activity", "Mood", "Walking", "Work", "Relations", "Sleep", "Life",
                                      "Concentration", "Subject"}),
                     PainColumnsAnd(EqualWidth(
                         {"Activity", "Mood", "Walking", "Work", "Relations", "Sleep", "Life", "Concen"}, 60))});
    kinds.push_back({"Side Effects Over Time", charts::kBarGraph, "Side Effects Over Time",
                     "Showing the level of side effects experienced over time.", "Pain Compared to Site Effects",
                     SideEffectHeadingsAnd({"Subject"}), PainColumnsAnd(EqualWidth(kSideEffectListHeadings, 60))});
    {
        std::vector<const char*> headings = {"Medicine", "Dose", "Type", "Quantity"};
        headings.insert(headings.end(), kSideEffectExportHeadings.begin(), kSideEffectExportHeadings.end());
        std::vector<ListColumn> columns = {{"Medicine", 100}, {"Dose", 60}, {"Type", 60}, {"Qty", 40}};
        for (const ListColumn& c : EqualWidth(kSideEffectListHeadings, 50))
            columns.push_back(c);
        kinds.push_back({"Medicines vs. Side Effects", charts::kLineGraph, "Medication vs. Side Effects",
                         "Showing Which Medicines have the Worst Side Effects", "Medicines Compared to Side Effects",
                         headings, columns});
    }
    kinds.push_back({"Pain vs. Time", charts::kLineGraph, "Pain Levels over Time",
                     "Showing the Maximum, Minimum, Average and Current pain levels over time.", "Pain Over Time",
                     PainHeadingsAnd({"Subject"}), PainColumnsAnd({{"Subject", 260}})});
    return kinds;
}

std::int64_t DayNumber(const JournalDateTime& t) {
    return platform::DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day));
}

std::int64_t WallClockSeconds(const JournalDateTime& t) {
    return DayNumber(t) * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
}

// "Jan" of month 1.
std::string MonthName(unsigned month) {
    static const char* const kNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    return kNames[(month + 11) % 12];
}

// "Mar 2" of the day numbered `day`.
std::string DayText(std::int64_t day) {
    std::int64_t y = 0;
    unsigned m = 1, d = 1;
    platform::CivilFromDays(day, y, m, d);
    return MonthName(m) + " " + std::to_string(d);
}

// The Monday that begins the week of `day` (1970-01-01 was a Thursday).
std::int64_t WeekStart(std::int64_t day) {
    const std::int64_t sinceMonday = ((day + 3) % 7 + 7) % 7;
    return day - sinceMonday;
}

struct TimeStep {
    // Segments with the same key share one label.
    std::int64_t (*key)(const JournalDateTime&);
    std::string (*text)(const JournalDateTime&);
};

const TimeStep kDays{[](const JournalDateTime& t) { return DayNumber(t); },
                     [](const JournalDateTime& t) { return DayText(DayNumber(t)); }};
const TimeStep kWeeks{[](const JournalDateTime& t) { return WeekStart(DayNumber(t)); },
                      [](const JournalDateTime& t) { return DayText(WeekStart(DayNumber(t))); }};
// January is named by its year, so that the year can be read too.
const TimeStep kMonths{[](const JournalDateTime& t) { return std::int64_t{t.year} * 12 + t.month; },
                       [](const JournalDateTime& t) {
                           return t.month == 1 ? std::to_string(t.year) : MonthName(static_cast<unsigned>(t.month));
                       }};
const TimeStep kYears{[](const JournalDateTime& t) { return std::int64_t{t.year}; },
                      [](const JournalDateTime& t) { return std::to_string(t.year); }};

// " e.ts <= 'to' AND e.ts >= 'from' ": both ends included, so that From's
// first second and To's last one belong to the range.
std::string DateFilter(const std::string& fromText, const std::string& toText) {
    return " e.ts <= '" + toText + "' AND e.ts >= '" + fromText + "' ";
}

const char* const kOrder = " order by e.ts ASC ";

} // namespace

const ReportKindInfo& KindInfo(int kind) {
    static const std::vector<ReportKindInfo> kinds = MakeKinds();
    assert(kind >= 0 && kind < kReportKindCount);
    return kinds[static_cast<size_t>(kind)];
}

int KindFromComboText(const std::string& text) {
    for (int k = 0; k < kReportKindCount; ++k) {
        if (text == KindInfo(k).comboText)
            return k;
    }
    return -1;
}

const std::array<const char*, kReportKindCount>& ComboTextsInAddOrder() {
    static const std::array<const char*, kReportKindCount> order = {"Medicines vs. Side Effects", "Pain vs. Actions",
                                                                    "Pain vs. Medications",       "Pain vs. Life",
                                                                    "Side Effects Over Time",     "Pain vs. Time"};
    return order;
}

TimeGrouping PainTimeGrouping(std::int64_t spanSeconds) {
    if (spanSeconds < kWeeklyFromSeconds)
        return TimeGrouping::Plain;
    if (spanSeconds < kMonthlyFromSeconds)
        return TimeGrouping::Weekly;
    return TimeGrouping::Monthly;
}

std::int64_t WallClockSpanSeconds(const JournalDateTime& from, const JournalDateTime& to) {
    return WallClockSeconds(to) - WallClockSeconds(from);
}

std::vector<std::vector<std::string>> TimeLabelSteps(TimeGrouping grouping, const std::vector<JournalDateTime>& times) {
    std::vector<TimeStep> steps;
    switch (grouping) {
    case TimeGrouping::Plain: steps = {kDays, kWeeks, kMonths, kYears}; break;
    case TimeGrouping::Weekly: steps = {kWeeks, kMonths, kYears}; break;
    case TimeGrouping::Monthly: steps = {kMonths, kYears}; break;
    }
    std::vector<std::vector<std::string>> out;
    for (const TimeStep& step : steps) {
        std::vector<std::string> labels;
        std::optional<std::int64_t> last;
        for (const JournalDateTime& t : times) {
            const std::int64_t key = step.key(t);
            labels.push_back(last == key ? std::string() : step.text(t));
            last = key;
        }
        out.push_back(std::move(labels));
    }
    return out;
}

int CompareDateTimes(const JournalDateTime& a, const JournalDateTime& b) {
    const auto ka = std::tie(a.year, a.month, a.day, a.hour, a.minute, a.second);
    const auto kb = std::tie(b.year, b.month, b.day, b.hour, b.minute, b.second);
    if (ka < kb)
        return -1;
    return ka == kb ? 0 : 1;
}

ReportStatements BuildReportStatements(int kind, const JournalDateTime& from, const JournalDateTime& to) {
    const std::string F = DateFilter(CJournalDb::FormatTimestamp(from), CJournalDb::FormatTimestamp(to));
    const std::string O = kOrder;
    ReportStatements s;
    switch (kind) {
    case kPainVsActions: {
        const std::string body = "from [entry] as e, [entry_actions] as ea "
                                 "where e.id=ea.eid AND e.del=0 AND ea.del=0 AND " +
                                 F;
        s.detail = "select e.ts, e.wpl, e.apl, e.lpl, e.cpl, ea.id, ea.name, ea.cat, "
                   "ea.plmod, ea.durmin, e.sbj " +
                   body + O;
        s.summary = "select e.ts, round(avg(e.wpl),1), round(avg(e.apl),1), "
                    "round(avg(e.lpl),1), round(avg(e.cpl),1), ea.id, ea.name, ea.cat, "
                    "round(avg(ea.plmod),1), round(avg(ea.durmin),1), e.sbj " +
                    body + "group by ea.name, ea.cat " + O;
        s.detailCols = 11;
        s.summaryCols = 11;
        break;
    }
    case kPainVsMedications: {
        const std::string body = "from [entry] as e, [entry_meds] as em "
                                 "where e.id=em.eid AND e.del=0 AND em.del=0 AND " +
                                 F;
        s.detail = "select e.ts, e.wpl, e.apl, e.lpl, e.cpl, em.id, em.name, em.quantity, "
                   "em.dosage, em.desc, e.sbj " +
                   body + O;
        s.summary = "select e.ts,  round(avg(e.wpl),1), round(avg(e.apl),1), "
                    "round(avg(e.lpl),1), round(avg(e.cpl),1), em.id, em.name, "
                    "em.quantity, em.dosage, em.desc " +
                    body + "group by em.name, em.dosage " + O;
        s.detailCols = 11;
        s.summaryCols = 10;
        break;
    }
    case kPainVsLife: {
        const std::string body = "from [entry] as e, [entry_mood] as em "
                                 "where e.id=em.eid AND e.del=0 AND em.del=0 AND " +
                                 F;
        s.detail = "select e.ts, e.wpl, e.apl, e.lpl, e.cpl, em.act, em.mood, em.walk, "
                   "em.work, em.relat, em.sleep, em.life, em.concn, e.sbj " +
                   body + O;
        s.summary = "select e.ts, min(em.act), round(avg(em.act),1), max(em.act), min(em.mood), "
                    "round(avg(em.mood),1), max(em.mood), min(em.walk), round(avg(em.walk),1), "
                    "max(em.walk), min(em.work), round(avg(em.work),1), max(em.work), "
                    " min(em.relat), round(avg(em.relat),1), max(em.relat), min(em.sleep), "
                    "round(avg(em.sleep),1), max(em.sleep), min(em.life), round(avg(em.life),1), "
                    "max(em.life), min(em.concn), round(avg(em.concn),1), max(em.concn) " +
                    body + O;
        s.detailCols = 14;
        s.summaryCols = 25;
        break;
    }
    case kSideEffectsOverTime: {
        const std::string body = "from [entry] as e, [entry_sideff] as es "
                                 "where e.id = es.eid AND e.del=0 AND es.del=0 AND " +
                                 F;
        s.detail = "select e.ts, e.wpl, e.apl, e.lpl, e.cpl, es.appet, es.constip, "
                   "es.insomn, es.itch, es.nausea, es.night, es.sweat, es.think, es.tired, "
                   "es.vomit, e.sbj " +
                   body + O;
        s.summary = "select e.ts, min(es.appet), round(avg(es.appet),1), max(es.appet), "
                    "min(es.constip), round(avg(es.constip),1), max(es.constip), "
                    "min(es.insomn), round(avg(es.insomn),1), max(es.insomn), min(es.itch), "
                    "round(avg(es.itch),1), max(es.itch), min(es.nausea), "
                    "round(avg(es.nausea),1), max(es.nausea), min(es.night), "
                    "round(avg(es.night),1), max(es.night), min(es.sweat), round(avg(es.sweat),1), "
                    "max(es.sweat), min(es.think), round(avg(es.think),1), max(es.think), "
                    "min(es.tired), round(avg(es.tired),1), max(es.tired), "
                    "min(es.vomit), round(avg(es.vomit),1), max(es.vomit) " +
                    body + O;
        s.detailCols = 18;
        s.summaryCols = 31;
        break;
    }
    case kMedicinesVsSideEffects: {
        // Every side-effect rating in the journal, whatever its date, but
        // only those still standing: neither they nor their entry deleted.
        s.detail = "select mc.name, mc.dos_size || mc.dos_msr, mc.dos_form, mc.dos_qty, "
                   "round(avg(es.appet),1), round(avg(es.constip),1), round(avg(es.insomn),1), "
                   "round(avg(es.itch),1), round(avg(es.nausea),1), round(avg(es.night),1), "
                   "round(avg(es.sweat),1), round(avg(es.think),1), round(avg(es.tired),1), "
                   "round(avg(es.vomit),1) "
                   "from [medicine_cabinet] as mc, [entry_sideff] as es, [entry] as e "
                   "where mc.id = es.mid AND es.del=0 AND e.id = es.eid AND e.del=0 "
                   "group by mc.name, mc.dos_size order by mc.name ASC";
        s.summary = s.detail;
        s.detailCols = 17;
        s.summaryCols = 17;
        break;
    }
    case kPainVsTime: {
        const std::int64_t span = WallClockSpanSeconds(from, to);
        s.detail = "select e.ts, e.wpl, e.apl, e.lpl, e.cpl, e.sbj "
                   "from [entry] as e where e.del=0 AND " +
                   F + O;
        s.detailCols = 6;
        switch (PainTimeGrouping(span)) {
        case TimeGrouping::Plain:
            // Under a week the entries themselves are the summary.
            s.summary = s.detail;
            s.summaryCols = 6;
            break;
        case TimeGrouping::Weekly:
            s.summary = "select strftime('%Y-%W', e.ts) AS w, round(avg(e.wpl),1), "
                        "round(avg(e.apl),1), round(avg(e.lpl),1), round(avg(e.cpl),1), "
                        "e.sbj, e.ts from [entry] as e where e.del=0 AND " +
                        F + "group by w order by e.ts ASC ";
            s.summaryCols = 7;
            break;
        case TimeGrouping::Monthly:
            s.summary = "select strftime('%m', e.ts) AS ms, round(avg(e.wpl),1), "
                        "round(avg(e.apl),1), round(avg(e.lpl),1), round(avg(e.cpl),1), "
                        "e.sbj, e.ts, strftime('%Y-%m', e.ts) AS m "
                        "from [entry] as e where e.del=0 AND " +
                        F + "group by m order by e.ts ASC ";
            s.summaryCols = 8;
            break;
        }
        break;
    }
    default: assert(false && "unknown report kind"); break;
    }
    return s;
}

} // namespace reports
