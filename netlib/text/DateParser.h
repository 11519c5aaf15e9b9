#pragma once
// RFC 822/1123 and ISO 8601 date text to UTC records and back, the
// strftime-style formatter and the machine's zone offset.
#include <ctime>

#include "netlib/text/DateTimeValue.h"
#include "platform/WinTime.h"

namespace tessik {

class DataBuffer;

class StringBuffer;

class DateParser {
public:
    DateParser() = default;
    virtual ~DateParser() = default;

    // The instant the text names, as a UTC record; a text without a zone is
    // taken as UTC. False for text that is no date or names no valid time;
    // the record may then hold some fields.
    bool parseDate(const char* text, SysTimeValue& out);
    // YYYY-MM-DDThh:mm:ss with an optional fraction and Z or +hh:mm offset.
    // Leaves isLocal as it was.
    bool parseIsoDate(const StringBuffer& text, SysTimeValue& out);

    // "%a, %d %b %Y %H:%M:%S +0000" of the current time.
    void generateCurrentGmtDate(StringBuffer& out);
    // The current local time with its offset, e.g. "... 10:00:00 +0200".
    void generateCurrentLocalDate(StringBuffer& out);
};

// Same as DateParser::parseIsoDate, on plain text.
bool parseIsoDateText(const char* text, SysTimeValue& out);

// A cookie's Expires text, read as RFC 6265 (5.1.1) reads it: the first
// time, day of month, month name and year among its tokens, whatever the
// order and the separators (RFC 1123, RFC 850, asctime and the forms
// browsers meet). False when one is missing or the date is not valid.
bool parseCookieDate(const char* text, SysTimeValue& out);

class TessikTimeZone {
public:
    TessikTimeZone();
    virtual ~TessikTimeZone() = default;

    // Minutes to add to local time to get UTC, daylight time included.
    int getCurrentBias() const;

    platform::TIME_ZONE_INFORMATION info{};
    bool isDaylight = false;
};

// Writes the format with its %-directives expanded into [out, outEnd) and
// returns the position after the last byte written; the caller adds the NUL.
char* formatDateTime(const char* format, const std::tm& t, char* out, char* outEnd);
// One number through a printf format, cut at outEnd.
char* formatNumberField(const char* printfFormat, int value, char* out, char* outEnd);

// 0 = Sunday; month 1-12.
int dayOfWeekFromDate(int year, int month, int day);

// Empties the buffer, then writes the current UTC time as a FILETIME, low
// word first, each little-endian.
void appendCurrentFileTime(DataBuffer& out);

} // namespace tessik
