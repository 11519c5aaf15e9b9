#pragma once
// System time, file times and the time-zone record in the Win32 shapes the
// library is written against, over the C library's clock and tzdata.
#include "platform/WinTypes.h"

namespace platform {

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// 100-nanosecond intervals since 1601-01-01 UTC, low word first.
struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

// Bias is in minutes, UTC = local time + bias. StandardDate and DaylightDate
// are left zero: the transition rules live in tzdata, not in this record.
struct TIME_ZONE_INFORMATION {
    LONG Bias;
    char16_t StandardName[32];
    SYSTEMTIME StandardDate;
    LONG StandardBias;
    char16_t DaylightName[32];
    SYSTEMTIME DaylightDate;
    LONG DaylightBias;
};

constexpr DWORD TIME_ZONE_ID_UNKNOWN = 0;
constexpr DWORD TIME_ZONE_ID_STANDARD = 1;
constexpr DWORD TIME_ZONE_ID_DAYLIGHT = 2;

// FILETIME count of the Unix epoch, and FILETIME ticks in a second.
constexpr INT64 kFileTimeUnixEpoch = 116444736000000000LL;
constexpr INT64 kFileTimeTicksPerSecond = 10000000;

// The one home of the FILETIME <-> Unix time arithmetic.
inline INT64 FileTimeToTicks(const FILETIME& ft) {
    return static_cast<INT64>((static_cast<UINT64>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}
inline FILETIME FileTimeFromTicks(INT64 ticks) {
    const UINT64 u = static_cast<UINT64>(ticks);
    return FILETIME{static_cast<DWORD>(u), static_cast<DWORD>(u >> 32)};
}
inline INT64 UnixTimeToFileTimeTicks(INT64 seconds, INT64 nanoseconds = 0) {
    return seconds * kFileTimeTicksPerSecond + nanoseconds / 100 + kFileTimeUnixEpoch;
}
// Rounded down, so times before 1970 keep their whole second.
inline INT64 FileTimeTicksToUnixTime(INT64 ticks) {
    const INT64 t = ticks - kFileTimeUnixEpoch;
    return t / kFileTimeTicksPerSecond - (t % kFileTimeTicksPerSecond < 0 ? 1 : 0);
}

void GetSystemTime(SYSTEMTIME* out);
void GetLocalTime(SYSTEMTIME* out);
void GetSystemTimeAsFileTime(FILETIME* out);

// FALSE (and a zero output) for fields outside their ranges or years
// outside 1601-30827.
BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out);
BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out);
// Uses the offset in force at that instant, so a winter time stays in
// winter time whatever the season is now.
BOOL FileTimeToLocalFileTime(const FILETIME* in, FILETIME* out);

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* out);

// Proleptic Gregorian calendar: days since 1970-01-01 and back.
INT64 DaysFromCivil(INT64 year, unsigned month, unsigned day);
void CivilFromDays(INT64 days, INT64& year, unsigned& month, unsigned& day);

// The clock every function above reads: milliseconds since the Unix epoch.
INT64 CurrentUnixTimeMs();
// Tests pin the clock to a fixed instant; 0 returns to the real clock.
void SetClockOverrideForTest(INT64 unixTimeMs);

} // namespace platform
