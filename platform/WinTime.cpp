#include "platform/WinTime.h"

#include <atomic>
#include <cstring>
#include <ctime>

namespace platform {
namespace {

std::atomic<INT64> g_clockOverrideMs{0};

constexpr INT64 kTicksPerMs = 10000;

INT64 floorDiv(INT64 a, INT64 b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

} // namespace

INT64 DaysFromCivil(INT64 y, unsigned m, unsigned d) {
    y -= m <= 2;
    const INT64 era = floorDiv(y, 400);
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<INT64>(doe) - 719468;
}

void CivilFromDays(INT64 z, INT64& y, unsigned& m, unsigned& d) {
    z += 719468;
    const INT64 era = floorDiv(z, 146097);
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<INT64>(yoe) + era * 400 + (m <= 2);
}

namespace {

bool isLeap(INT64 y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

unsigned daysInMonth(INT64 y, unsigned m) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return (m == 2 && isLeap(y)) ? 29 : kDays[m - 1];
}

void fillSystemTime(INT64 unixMs, SYSTEMTIME* out) {
    const INT64 days = floorDiv(unixMs, 86400000);
    const INT64 msOfDay = unixMs - days * 86400000;
    INT64 y = 0;
    unsigned m = 0, d = 0;
    CivilFromDays(days, y, m, d);
    out->wYear = static_cast<WORD>(y);
    out->wMonth = static_cast<WORD>(m);
    out->wDay = static_cast<WORD>(d);
    // 1970-01-01 was a Thursday.
    out->wDayOfWeek = static_cast<WORD>(((days % 7) + 7 + 4) % 7);
    out->wHour = static_cast<WORD>(msOfDay / 3600000);
    out->wMinute = static_cast<WORD>(msOfDay / 60000 % 60);
    out->wSecond = static_cast<WORD>(msOfDay / 1000 % 60);
    out->wMilliseconds = static_cast<WORD>(msOfDay % 1000);
}

// Offset east of UTC in seconds in force at a Unix time.
long offsetAt(time_t t, bool* isDst = nullptr) {
    tm local{};
    if (!localtime_r(&t, &local))
        return 0;
    if (isDst)
        *isDst = local.tm_isdst > 0;
    return local.tm_gmtoff;
}

void copyZoneName(const char* name, char16_t (&out)[32]) {
    std::memset(out, 0, sizeof out);
    for (int i = 0; name && name[i] && i < 31; ++i)
        out[i] = static_cast<unsigned char>(name[i]);
}

} // namespace

INT64 CurrentUnixTimeMs() {
    const INT64 pinned = g_clockOverrideMs.load(std::memory_order_relaxed);
    if (pinned != 0)
        return pinned;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<INT64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SetClockOverrideForTest(INT64 unixTimeMs) {
    g_clockOverrideMs.store(unixTimeMs, std::memory_order_relaxed);
}

void GetSystemTime(SYSTEMTIME* out) {
    fillSystemTime(CurrentUnixTimeMs(), out);
}

void GetLocalTime(SYSTEMTIME* out) {
    const INT64 nowMs = CurrentUnixTimeMs();
    const long offset = offsetAt(static_cast<time_t>(floorDiv(nowMs, 1000)));
    fillSystemTime(nowMs + static_cast<INT64>(offset) * 1000, out);
}

void GetSystemTimeAsFileTime(FILETIME* out) {
    *out = FileTimeFromTicks(UnixTimeToFileTimeTicks(0) + CurrentUnixTimeMs() * kTicksPerMs);
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* in, FILETIME* out) {
    *out = FileTimeFromTicks(0);
    if (in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 ||
        in->wDay > daysInMonth(in->wYear, in->wMonth) || in->wHour > 23 || in->wMinute > 59 || in->wSecond > 59 ||
        in->wMilliseconds > 999)
        return FALSE;
    const INT64 days = DaysFromCivil(in->wYear, in->wMonth, in->wDay);
    const INT64 seconds = days * 86400 + in->wHour * 3600 + in->wMinute * 60 + in->wSecond;
    *out = FileTimeFromTicks(UnixTimeToFileTimeTicks(seconds) + in->wMilliseconds * kTicksPerMs);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* in, SYSTEMTIME* out) {
    const INT64 ticks = FileTimeToTicks(*in);
    if (ticks < 0)
        return FALSE;
    fillSystemTime(floorDiv(ticks - kFileTimeUnixEpoch, kTicksPerMs), out);
    return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* in, FILETIME* out) {
    const INT64 ticks = FileTimeToTicks(*in);
    if (ticks < 0) {
        *out = FileTimeFromTicks(0);
        return FALSE;
    }
    const INT64 unixSeconds = FileTimeTicksToUnixTime(ticks);
    const long offset = offsetAt(static_cast<time_t>(unixSeconds));
    *out = FileTimeFromTicks(ticks + static_cast<INT64>(offset) * kFileTimeTicksPerSecond);
    return TRUE;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* out) {
    std::memset(out, 0, sizeof *out);
    tzset();
    const time_t now = static_cast<time_t>(floorDiv(CurrentUnixTimeMs(), 1000));
    bool nowDst = false;
    const long nowOffset = offsetAt(now, &nowDst);
    // The other half of the year tells the standard offset while daylight
    // time is in force, and the daylight offset while it is not.
    long standardOffset = nowOffset;
    long daylightOffset = nowOffset;
    bool hasDaylight = nowDst;
    for (int month = 1; month <= 12; ++month) {
        bool dst = false;
        const long offset = offsetAt(now + static_cast<time_t>(month) * 30 * 86400, &dst);
        if (dst && !nowDst && !hasDaylight) {
            daylightOffset = offset;
            hasDaylight = true;
        }
        if (!dst && nowDst) {
            standardOffset = offset;
            break;
        }
    }
    out->Bias = static_cast<LONG>(-standardOffset / 60);
    out->DaylightBias = hasDaylight ? static_cast<LONG>(-(daylightOffset - standardOffset) / 60) : 0;
    copyZoneName(tzname[0], out->StandardName);
    copyZoneName(tzname[1], out->DaylightName);
    if (!hasDaylight)
        return TIME_ZONE_ID_UNKNOWN;
    return nowDst ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

} // namespace platform
