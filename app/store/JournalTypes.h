#pragma once
// Types the journal's data store shares with its callers: Timestamp text,
// entry-type codes, Id text and the row shapes the queries hand back.
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Entry types: the same code selects the detail table, the display name
// and the detail dialog.
enum EntryType : int {
    kEntryTypeAction = 1,
    kEntryTypeJournal = 2,
    kEntryTypeMedicine = 3,
    kEntryTypeMood = 4,
    kEntryTypeQuestion = 5,
    kEntryTypeSideEffects = 6,
};

// Pain levels run from 0 to 10.
inline constexpr int kPainLevelMin = 0;
inline constexpr int kPainLevelMax = 10;
constexpr bool IsPainLevel(int level) {
    return level >= kPainLevelMin && level <= kPainLevelMax;
}
// Mood and side-effect ratings run from 0 to 10 as well.
inline constexpr int kRatingMin = 0;
inline constexpr int kRatingMax = 10;

// Table of the type ("entry_actions" …), empty for an unknown code.
std::string EntryTypeTableName(int type);
// "Actions", "Journal" …, empty for an unknown code.
std::string EntryTypeDisplayName(int type);

// A calendar date and time of day, local time, as the date pickers give it.
struct JournalDateTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Timestamp text: "2024-03-05 09:07:30". The year is written unpadded and
// every other part as two digits, exactly as the journal has always stored it.
std::string MakeTimestampText(const JournalDateTime& when);

// Reads the fixed positions of a Timestamp text (separators are not looked
// at). Empty when the text does not hold a valid local date and time.
std::optional<JournalDateTime> SplitTimestampText(std::string_view ts);

// The local calendar time of a Timestamp text (daylight saving decided by
// the C library), empty when the text holds no valid date and time.
std::optional<std::time_t> ParseTimestampText(std::string_view ts);

// "03-05 09:07" of "2024-03-05 09:07:30": from index 5, 8 characters short
// of the whole; a text of 8 characters or fewer gives an empty text.
std::string ShortenTimestampText(std::string_view ts);

// Id text: ids travel between windows as decimal text.
std::string IdText(int id);
// Like C atoi: leading blanks, a sign, then digits; no digits gives 0.
// Values beyond int are clamped instead of being undefined.
int IdFromText(std::string_view text);

// Report rows: each row holds exactly as many column texts as were asked for.
using ReportRow = std::vector<std::string>;
using ReportRows = std::vector<ReportRow>;

// One row of a list control: the item text, then its sub-item texts, and
// the item data where the list carries one.
struct ListRow {
    std::vector<std::string> texts;
    std::optional<int> data;
};
using ListRows = std::vector<ListRow>;

// One item of a combo box: its label and the id of the row it stands for.
struct ComboItem {
    std::string label;
    int id = 0;
};
using ComboItems = std::vector<ComboItem>;
