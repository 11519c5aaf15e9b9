#include "app/reports/EntryPrintout.h"

#include <QPrinter>
#include <utility>
#include <vector>

#include "app/reports/ReportExport.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/PrintJob.h"
#include "app/reports/print/PrintRegion.h"
#include "app/reports/print/PrintText.h"
#include "app/store/JournalDb.h"

using namespace entry_print_texts;

namespace {

constexpr int kHeadingFlags = print::kBold | print::kCentred;
constexpr int kCaptionFlags = print::kBold | print::kFramed | print::kCentred;
constexpr int kCaptionPoints = 10;
constexpr int kTextPoints = 9;
constexpr double kTextInset = 0.1; // inches from the section's content origin

// Top, left, bottom, right in inches.
struct Area {
    double top, left, bottom, right;
};
constexpr Area kOuter = {1.0, 0.75, 10.0, 7.5};
// Inside the outer block, below its caption; in the order of kCaptions.
constexpr Area kSections[6] = {
    {0.25, 0.1, 4.6, 3.4}, // journal
    {4.7, 0.1, 8.5, 3.4},  // medicines
    {0.25, 3.6, 1.7, 6.9}, // pain levels
    {1.8, 3.6, 5.6, 6.9},  // questions
    {5.7, 3.6, 8.5, 5.2},  // mood
    {5.7, 5.4, 8.5, 6.9},  // side effects
};
enum Section { kJournal, kMedicinesUsed, kPainLevels, kQuestionsAsked, kMoodRatings, kSideEff };

} // namespace

CEntryPrintout::CEntryPrintout(CJournalDb* db, const CEntry& entry, QString dateText, QString timeText)
    : m_pDb(db), m_entry(entry), m_strDate(std::move(dateText)), m_strTime(std::move(timeText)) {}

QString CEntryPrintout::DocumentName() const {
    return QString::fromLatin1(kDocNameFormat).arg(print::DecodeText(m_entry.sbj.c_str()));
}

int CEntryPrintout::Print(QPrinter& printer, QString* failure) {
    PrintJob job(&printer, reports::ReadersOfJournal(m_pDb), reports::JournalOf(m_pDb));
    PrintInfo info;
    const int printed = RunPrintJob(
        job, DocumentName(), info, [this](DeviceContext* dc, PrintInfo* i) { OnBeginPrinting(dc, i); },
        [this](DeviceContext* dc, PrintInfo* i) { OnPrint(dc, i); });
    if (failure)
        *failure = job.FailureReason();
    return printed;
}

void CEntryPrintout::OnBeginPrinting(DeviceContext* dc, PrintInfo* info) {
    info->minPage = 1;
    info->maxPage = 1;
    info->drawRect = WithHalfInchMargins(info->drawRect, dc);
}

void CEntryPrintout::OnPrint(DeviceContext* dc, PrintInfo* info) {
    CPage page(info->drawRect, dc, print::kMapText);
    PrintEntry(&page);
}

std::string CEntryPrintout::DetailBlock(DetailKind kind) {
    std::vector<std::string> lines;
    int found = 0;
    if (m_pDb) {
        switch (kind) {
        case kMedicines: found = m_pDb->GetEntryMedsText(m_entry.id, lines); break;
        case kQuestions: found = m_pDb->GetEntryQuestionsText(m_entry.id, lines); break;
        case kMood: found = m_pDb->GetEntryMoodText(m_entry.id, lines); break;
        case kSideEffects: found = m_pDb->GetEntrySideEffText(m_entry.id, lines); break;
        }
    }
    if (!found)
        return {};
    std::string text = kind == kQuestions ? kQuestionsIntro : "";
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text + "\r\n\r\n";
}

void CEntryPrintout::PrintEntry(CPage* page) {
    const double row = page->Print(0.0, 0.0, kHeadingFlags, 20, "%s", kProduct);
    page->Print(row, 0.0, kHeadingFlags, 14, "%s", m_entry.sbj.c_str());

    // Paper too small for the block keeps just the heading.
    CPrintRegion* outer = page->CreateRegion(kOuter.top, kOuter.left, kOuter.bottom, kOuter.right, 0);
    if (!outer)
        return;
    outer->DrawBorder();
    const QString caption = QString::fromLatin1(kCaptionFormat).arg(m_strDate, m_strTime);
    outer->SetTitle(caption.toUtf8().constData(), kCaptionPoints, kCaptionFlags, 0);

    CPrintRegion* sections[6] = {};
    for (int s = 0; s < 6; ++s) {
        const Area& a = kSections[s];
        sections[s] = page->CreateRegionScaled(outer, a.top, a.left, a.bottom, a.right, 0);
    }
    for (int s = 0; s < 6; ++s) {
        CPrintRegion* region = sections[s];
        if (!region)
            continue;
        region->DrawBorder();
        region->SetTitle(kCaptions[s], kCaptionPoints, kCaptionFlags, 0);
        std::string text;
        switch (s) {
        case kJournal: text = m_entry.entry; break;
        case kMedicinesUsed: text = DetailBlock(kMedicines); break;
        case kQuestionsAsked: text = DetailBlock(kQuestions); break;
        case kMoodRatings: text = DetailBlock(kMood); break;
        case kSideEff: text = DetailBlock(kSideEffects); break;
        case kPainLevels: {
            double r = page->PrintInRegion(region, kTextInset, kTextInset, print::kSingleLine, kTextPoints, "%s",
                                           kAverageNote);
            const std::pair<const char*, int> levels[] = {
                {kWorst, m_entry.wpl}, {kLeast, m_entry.lpl}, {kAverage, m_entry.apl}, {kCurrent, m_entry.cpl}};
            for (const auto& [label, level] : levels) {
                const std::string line = std::string(label) + "\t" + std::to_string(level);
                r = page->PrintInRegion(region, r, kTextInset, print::kSingleLine, kTextPoints, "%s", line.c_str());
            }
            continue;
        }
        }
        page->PrintInRegion(region, kTextInset, kTextInset, 0, kTextPoints, "%s", text.c_str());
    }
}
