#pragma once
// One journal entry on one sheet: the product and the entry's subject as a
// heading, then a framed block captioned with the entry's date and time,
// divided into the journal text, medicines, pain levels, questions, mood
// and side effects.
#include <QString>
#include <string>

#include "app/store/EntryRecords.h"

class CJournalDb;
class CPage;
class DeviceContext;
class QPrinter;
struct PrintInfo;

namespace entry_print_texts {

constexpr char kProduct[] = "Gorvane";
constexpr char kNoEntryLoaded[] = "You must have a Entry Loaded to Print!";
constexpr char kDocNameFormat[] = "Gorvane - %1";
constexpr char kCaptionFormat[] = "Entry for the %1 entered at %2";
constexpr char kQuestionsIntro[] = "Items to ask your Doctor/Practitioner.\r\n";
constexpr char kAverageNote[] = "*Average pain level is overall.";
// Each followed by a tab and the level.
constexpr char kWorst[] = "Pain Level at its Worst:";
constexpr char kLeast[] = "Pain Level at its Least:";
constexpr char kAverage[] = "Pain Level on Average:";
constexpr char kCurrent[] = "Pain Level when Current:";
constexpr const char* kCaptions[6] = {"Journal Entry", "Medicines Used", "Pain Levels",
                                      "Questions",     "Mood",           "Side Effects"};

} // namespace entry_print_texts

class CEntryPrintout {
public:
    // The entry as the form holds it; the dates as the form shows them
    // (year-MM-DD and HH:MM:SS). The journal is lent for the detail texts.
    CEntryPrintout(CJournalDb* db, const CEntry& entry, QString dateText, QString timeText);

    // The whole job on a chosen printer; 1 when the document was printed,
    // else 0 with the reason in failure (when given).
    int Print(QPrinter& printer, QString* failure = nullptr);
    QString DocumentName() const;

    void OnBeginPrinting(DeviceContext* dc, PrintInfo* info);
    void OnPrint(DeviceContext* dc, PrintInfo* info);
    void PrintEntry(CPage* page);

    enum DetailKind { kMedicines, kQuestions, kMood, kSideEffects };
    // The section's text: its detail lines, each ended by a line break,
    // then a blank line; empty when the entry has none.
    std::string DetailBlock(DetailKind kind);

private:
    CJournalDb* m_pDb;
    CEntry m_entry;
    QString m_strDate;
    QString m_strTime;
};
