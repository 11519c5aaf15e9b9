#include "app/store/JournalTypes.h"

#include <climits>
#include <cstdio>

namespace {

struct EntryTypeNames {
    const char* table;
    const char* display;
};

constexpr EntryTypeNames kEntryTypes[] = {
    {"entry_actions", "Actions"},
    {"entry", "Journal"},
    {"entry_meds", "Medicines"},
    {"entry_mood", "Mood"},
    {"entry_question", "Questions & Answers"},
    {"entry_sideff", "Side Effects"},
};

const EntryTypeNames* FindEntryType(int type) {
    if (type < kEntryTypeAction || type > kEntryTypeSideEffects)
        return nullptr;
    return &kEntryTypes[type - kEntryTypeAction];
}

// Two digits below 10 get a leading "0"; larger values are written as they are.
void AppendTwoDigits(std::string& out, int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, value <= 9 ? "0%d" : "%2d", value);
    out += buf;
}

int FieldAt(std::string_view ts, size_t pos, size_t len) {
    if (pos >= ts.size())
        return 0;
    return IdFromText(ts.substr(pos, len));
}

} // namespace

std::string EntryTypeTableName(int type) {
    const EntryTypeNames* names = FindEntryType(type);
    return names ? names->table : "";
}

std::string EntryTypeDisplayName(int type) {
    const EntryTypeNames* names = FindEntryType(type);
    return names ? names->display : "";
}

std::string MakeTimestampText(const JournalDateTime& when) {
    std::string out = std::to_string(when.year);
    out += '-';
    AppendTwoDigits(out, when.month);
    out += '-';
    AppendTwoDigits(out, when.day);
    out += ' ';
    AppendTwoDigits(out, when.hour);
    out += ':';
    AppendTwoDigits(out, when.minute);
    out += ':';
    AppendTwoDigits(out, when.second);
    return out;
}

std::optional<JournalDateTime> SplitTimestampText(std::string_view ts) {
    JournalDateTime when;
    when.year = FieldAt(ts, 0, 4);
    when.month = FieldAt(ts, 5, 2);
    when.day = FieldAt(ts, 8, 2);
    when.hour = FieldAt(ts, 11, 2);
    when.minute = FieldAt(ts, 14, 2);
    when.second = FieldAt(ts, 17, 2);
    // The dates and times a journal entry can hold: years from 1900 on.
    if (when.year < 1900 || when.month < 1 || when.month > 12 || when.day < 1 || when.day > 31 || when.hour < 0 ||
        when.hour > 23 || when.minute < 0 || when.minute > 59 || when.second < 0 || when.second > 59) {
        return std::nullopt;
    }
    return when;
}

std::optional<std::time_t> ParseTimestampText(std::string_view ts) {
    const std::optional<JournalDateTime> when = SplitTimestampText(ts);
    if (!when)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = when->year - 1900;
    tm.tm_mon = when->month - 1;
    tm.tm_mday = when->day;
    tm.tm_hour = when->hour;
    tm.tm_min = when->minute;
    tm.tm_sec = when->second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return std::nullopt;
    return t;
}

std::string ShortenTimestampText(std::string_view ts) {
    if (ts.size() <= 8)
        return {};
    return std::string(ts.substr(5, ts.size() - 8));
}

std::string IdText(int id) {
    return std::to_string(id);
}

int IdFromText(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            break;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}
