#include "netlib/text/DateTimeValue.h"

#include <cmath>

#include "platform/WinTime.h"

namespace tessik {
namespace {

// Days before each month of a common year, and 365 after December.
constexpr int kCumulativeDays[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

constexpr double kHalfSecond = 0.5 / 86400.0;
// OLE day 0 (1899-12-30) counted in the day numbers of the cycle arithmetic.
constexpr long kOleDayZero = 693959;

void copyFrom(const platform::SYSTEMTIME& st, SysTimeValue& v) {
    v.year = st.wYear;
    v.month = st.wMonth;
    v.dayOfWeek = st.wDayOfWeek;
    v.day = st.wDay;
    v.hour = st.wHour;
    v.minute = st.wMinute;
    v.second = st.wSecond;
    v.milliseconds = st.wMilliseconds;
}

struct DstRange {
    int year;
    int startMonth, startDay;
    int endMonth, endDay;
};

// Ranges for the current moment.
constexpr DstRange kCurrentYearRanges[] = {
    {2010, 3, 14, 11, 6}, {2011, 3, 13, 11, 5}, {2012, 3, 11, 11, 3},
    {2013, 3, 10, 11, 2}, {2014, 3, 9, 11, 1},  {2015, 3, 8, 10, 31},
};

// Ranges for a given date.
constexpr DstRange kGivenYearRanges[] = {
    {2006, 4, 2, 10, 28}, {2007, 3, 11, 11, 3}, {2008, 3, 9, 11, 1},  {2009, 3, 8, 10, 31}, {2010, 3, 14, 11, 6},
    {2011, 3, 13, 11, 5}, {2012, 3, 11, 11, 3}, {2013, 3, 10, 11, 2}, {2014, 3, 9, 11, 1},  {2015, 3, 8, 10, 31},
};

template <std::size_t N>
bool inDaylightTime(const SysTimeValue& v, const DstRange (&table)[N]) {
    for (const DstRange& r : table) {
        if (r.year == v.year)
            return v.isInRange(r.startMonth, r.startDay, r.year, r.endMonth, r.endDay, r.year);
    }
    return false;
}

} // namespace

bool isLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int daysInMonth(int year, int month) {
    if (month < 1 || month > 12)
        return 0;
    const int days = kCumulativeDays[month] - kCumulativeDays[month - 1];
    return (month == 2 && isLeapYear(year)) ? days + 1 : days;
}

bool oleDateFromFields(std::uint16_t year, std::uint16_t month, std::uint16_t day, std::uint16_t hour,
                       std::uint16_t minute, std::uint16_t second, double& out) {
    out = kInvalidOleDate;
    if (year > 9999 || month < 1 || month > 12)
        return false;
    const bool leap = isLeapYear(year);
    if (hour > 23)
        hour = 0;
    if (minute > 59)
        minute = 0;
    if (second > 59)
        second = 0;
    if (day == 0 || day > daysInMonth(year, month))
        return false;

    long n = static_cast<long>(year) * 365 + year / 4 - year / 100 + year / 400 + kCumulativeDays[month - 1] + day;
    if (leap && month <= 2)
        --n;
    n -= kOleDayZero;
    const double t = (hour * 3600 + minute * 60 + second) / 86400.0;
    // Before day 0 the fraction still counts forward within the day.
    out = n >= 0 ? n + t : n - t;
    return true;
}

bool fieldsFromOleDate(double oleDate, OleDateFields& out) {
    if (!(oleDate >= kMinOleDate && oleDate <= kMaxOleDate))
        return false;
    const double v = oleDate + (oleDate > 0.0 ? kHalfSecond : -kHalfSecond);
    const long days = static_cast<long>(v);
    const double absolute = std::fabs(v);
    const long secondsOfDay = static_cast<long>((absolute - std::floor(absolute)) * 86400.0);

    out.dayOfWeek = static_cast<int>((days + kOleDayZero - 1) % 7) + 1;

    // OLE day 0, 1899-12-30, is Unix day -25569.
    const std::int64_t unixDays = days - 25569;
    std::int64_t y = 0;
    unsigned m = 0, d = 0;
    platform::CivilFromDays(unixDays, y, m, d);
    const int year = static_cast<int>(y);
    const long n = static_cast<long>(unixDays - platform::DaysFromCivil(y, 1, 1) + 1);
    const int dayOfYear = static_cast<int>(n);
    out.year = year;
    out.month = static_cast<int>(m);
    out.day = static_cast<int>(d);
    out.dayOfYear = dayOfYear;
    out.hour = static_cast<int>(secondsOfDay / 3600);
    out.minute = static_cast<int>(secondsOfDay / 60 % 60);
    out.second = static_cast<int>(secondsOfDay % 60);
    return true;
}

void SysTimeValue::setCurrentUtc() {
    platform::SYSTEMTIME st{};
    platform::GetSystemTime(&st);
    copyFrom(st, *this);
    isLocal = 0;
}

void SysTimeValue::setCurrentLocal() {
    platform::SYSTEMTIME st{};
    platform::GetLocalTime(&st);
    copyFrom(st, *this);
    isLocal = 1;
}

bool SysTimeValue::toFileTime(FileTimeValue& out) const {
    const platform::SYSTEMTIME st{year, month, dayOfWeek, day, hour, minute, second, milliseconds};
    platform::FILETIME ft{};
    const bool ok = platform::SystemTimeToFileTime(&st, &ft) != FALSE;
    out.setFromFileTime(ft.dwLowDateTime, ft.dwHighDateTime);
    return ok;
}

double SysTimeValue::toOleDate() const {
    double result = kInvalidOleDate;
    oleDateFromFields(year, month, day, hour, minute, second, result);
    return result;
}

void SysTimeValue::setFromOleDate(double oleDate) {
    OleDateFields f;
    if (!fieldsFromOleDate(oleDate, f)) {
        setCurrentUtc();
        return;
    }
    year = static_cast<std::uint16_t>(f.year);
    month = static_cast<std::uint16_t>(f.month);
    day = static_cast<std::uint16_t>(f.day);
    hour = static_cast<std::uint16_t>(f.hour);
    minute = static_cast<std::uint16_t>(f.minute);
    second = static_cast<std::uint16_t>(f.second);
    dayOfWeek = static_cast<std::uint16_t>(f.dayOfWeek - 1);
    milliseconds = 0;
}

bool SysTimeValue::toLocalTime(SysTimeValue& out) const {
    FileTimeValue utc, local;
    if (!toFileTime(utc) || !utc.toLocalFileTime(local))
        return false;
    const platform::FILETIME ft{local.getLowWord(), local.getHighWord()};
    platform::SYSTEMTIME st{};
    if (!platform::FileTimeToSystemTime(&ft, &st))
        return false;
    copyFrom(st, out);
    out.isLocal = 1;
    return true;
}

// The day count and the time of day move apart: before day 0 the fraction
// is subtracted, so plain addition would turn the clock back.
void SysTimeValue::addDays(int n) {
    const double ole = toOleDate();
    const double day = std::trunc(ole);
    const double timeOfDay = std::fabs(ole - day);
    const double moved = day + n;
    setFromOleDate(moved >= 0 ? moved + timeOfDay : moved - timeOfDay);
}

bool SysTimeValue::isInRange(int month1, int day1, int year1, int month2, int day2, int year2) const {
    double lo = 0, hi = 0;
    oleDateFromFields(static_cast<std::uint16_t>(year1), static_cast<std::uint16_t>(month1),
                      static_cast<std::uint16_t>(day1), 2, 0, 0, lo);
    oleDateFromFields(static_cast<std::uint16_t>(year2), static_cast<std::uint16_t>(month2),
                      static_cast<std::uint16_t>(day2), 2, 0, 0, hi);
    const double v = toOleDate();
    return lo <= v && v <= hi;
}

int daylightSavingShift(int year, int month, int day, int hour) {
    SysTimeValue now;
    now.setCurrentLocal();
    const bool nowInDst = inDaylightTime(now, kCurrentYearRanges);

    SysTimeValue given;
    given.year = static_cast<std::uint16_t>(year);
    given.month = static_cast<std::uint16_t>(month);
    given.day = static_cast<std::uint16_t>(day);
    given.hour = static_cast<std::uint16_t>(hour);
    const bool givenInDst = inDaylightTime(given, kGivenYearRanges);

    if (nowInDst && !givenInDst)
        return -1;
    if (givenInDst && !nowInDst)
        return 1;
    return 0;
}

} // namespace tessik
