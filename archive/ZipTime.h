#pragma once
// Times of the zip format: DOS date-time (local time, two-second steps,
// 1980 to 2107), Unix seconds (UTC) and FILETIME.
#include <time.h>

#include <cstdint>

#include "archive/ZipArchive.h"

namespace archive {

// Local time of the given Unix seconds as a DOS date-time (date in the high
// half); earlier than 1980 gives 1980-01-01 00:00:00, later than the format
// holds gives 2107-12-31 23:59:58.
std::uint32_t UnixToDosDateTime(std::int64_t unixSeconds);

// The DOS date-time read as local time; false when it names no real time.
bool DosDateTimeToUnix(std::uint32_t dosDateTime, std::int64_t* unixSeconds);

ZipFileTime UnixToFileTime(std::int64_t unixSeconds);
std::int64_t FileTimeToUnix(ZipFileTime fileTime);
// For futimens: a time of zero is none, and leaves the file's time alone.
struct timespec ToTimespec(ZipFileTime fileTime);

} // namespace archive
