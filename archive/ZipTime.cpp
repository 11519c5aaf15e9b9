#include "archive/ZipTime.h"

#include <sys/stat.h>

#include <ctime>

#include "platform/WinTime.h"

namespace archive {
namespace {

constexpr int kDosFirstYear = 1980;
constexpr int kDosLastYear = kDosFirstYear + 127;

} // namespace

std::uint32_t UnixToDosDateTime(std::int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm) || tm.tm_year + 1900 < kDosFirstYear) {
        return (1u << 5 | 1u) << 16; // 1980-01-01 00:00:00
    }
    if (tm.tm_year + 1900 > kDosLastYear) {
        tm = std::tm{};
        tm.tm_year = kDosLastYear - 1900;
        tm.tm_mon = 11;
        tm.tm_mday = 31;
        tm.tm_hour = 23;
        tm.tm_min = 59;
        tm.tm_sec = 58;
    }
    // A leap second would overflow the five bits of seconds / 2.
    int sec = tm.tm_sec > 59 ? 59 : tm.tm_sec;
    std::uint32_t date =
        static_cast<std::uint32_t>((tm.tm_year + 1900 - kDosFirstYear) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
    std::uint32_t time = static_cast<std::uint32_t>(tm.tm_hour << 11 | tm.tm_min << 5 | sec / 2);
    return date << 16 | time;
}

bool DosDateTimeToUnix(std::uint32_t dosDateTime, std::int64_t* unixSeconds) {
    unsigned date = dosDateTime >> 16;
    unsigned time = dosDateTime & 0xFFFF;
    std::tm tm{};
    tm.tm_year = static_cast<int>((date >> 9) + kDosFirstYear - 1900);
    tm.tm_mon = static_cast<int>((date >> 5) & 15) - 1;
    tm.tm_mday = static_cast<int>(date & 31);
    tm.tm_hour = static_cast<int>(time >> 11);
    tm.tm_min = static_cast<int>((time >> 5) & 63);
    tm.tm_sec = static_cast<int>((time & 31) * 2);
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_hour > 23 || tm.tm_min > 59 || tm.tm_sec > 59)
        return false;
    std::tm check = tm;
    std::time_t t = std::mktime(&check);
    // mktime rolls 31 February into March; such a date is not real.
    if (check.tm_mon != tm.tm_mon || check.tm_mday != tm.tm_mday)
        return false;
    *unixSeconds = static_cast<std::int64_t>(t);
    return true;
}

ZipFileTime UnixToFileTime(std::int64_t unixSeconds) {
    const platform::FILETIME ft = platform::FileTimeFromTicks(platform::UnixTimeToFileTimeTicks(unixSeconds));
    return ZipFileTime{ft.dwLowDateTime, ft.dwHighDateTime};
}

std::int64_t FileTimeToUnix(ZipFileTime fileTime) {
    return platform::FileTimeTicksToUnixTime(
        platform::FileTimeToTicks(platform::FILETIME{fileTime.low, fileTime.high}));
}

struct timespec ToTimespec(ZipFileTime fileTime) {
    struct timespec ts{};
    if (fileTime.low == 0 && fileTime.high == 0)
        ts.tv_nsec = UTIME_OMIT;
    else
        ts.tv_sec = static_cast<time_t>(FileTimeToUnix(fileTime));
    return ts;
}

} // namespace archive
