#pragma once
// Calendar dates and times as SYSTEMTIME-shaped records, FILETIMEs, and the
// OLE Automation date (days since 1899-12-30) their arithmetic goes through.
#include <cstdint>

#include "netlib/core/FileTimeValue.h"

namespace tessik {

class StringBuffer;

// An OLE date of invalid fields, 1900-01-01 00:00.
constexpr double kInvalidOleDate = 2.0;
constexpr double kMinOleDate = -657434.0; // 0100-01-01
constexpr double kMaxOleDate = 2958465.0; // 9999-12-31

struct SysTimeValue {
    std::uint16_t year = 0;
    std::uint16_t month = 0;     // 1-12
    std::uint16_t dayOfWeek = 0; // 0 = Sunday
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
    std::uint8_t isLocal = 0; // 0: the fields are UTC

    SysTimeValue() = default;
    void clear() { *this = SysTimeValue(); }

    void setCurrentUtc();
    void setCurrentLocal();
    // False (and a zero output) for fields that are no valid time.
    bool toFileTime(FileTimeValue& out) const;
    double toOleDate() const;
    // Out of range, the record becomes the current UTC time.
    void setFromOleDate(double oleDate);
    // The fields taken as UTC, as the same instant in local time with the
    // offset in force at that instant; false (out unchanged) for fields
    // that are no valid time.
    bool toLocalTime(SysTimeValue& out) const;
    void addDays(int n);
    // Both ends at 02:00 of their days and included.
    bool isInRange(int month1, int day1, int year1, int month2, int day2, int year2) const;
    // Replaces the text with e.g. "Sun, 15 Jan 2012 10:00:00 GMT"; a local
    // record carries the offset in force at its own date.
    void getRfc822String(StringBuffer& out);
};

// Fields of an OLE date; dayOfWeek 1 = Sunday to 7, dayOfYear 1 to 366.
struct OleDateFields {
    int second = 0;
    int minute = 0;
    int hour = 0;
    int day = 0;
    int month = 0;
    int year = 0;
    int dayOfWeek = 0;
    int dayOfYear = 0;
};

bool isLeapYear(int year);
// Days in a month of a year; 0 for a month outside 1-12.
int daysInMonth(int year, int month);
// On failure stores kInvalidOleDate. Hours, minutes or seconds out of range
// count as 0.
bool oleDateFromFields(std::uint16_t year, std::uint16_t month, std::uint16_t day, std::uint16_t hour,
                       std::uint16_t minute, std::uint16_t second, double& out);
bool fieldsFromOleDate(double oleDate, OleDateFields& out);
// -1, 0 or +1 hours: whether the current moment and the given hour lie on
// different sides of a North American daylight-saving change (2006-2015).
int daylightSavingShift(int year, int month, int day, int hour);

} // namespace tessik
