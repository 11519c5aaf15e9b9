#pragma once
// Shared by the text tests: data files, a pinned TZ and a pinned clock.
#include <string>
#include <vector>

namespace tessik {
struct SysTimeValue;
}

namespace texttest {

// "YYYY-MM-DD HH:MM:SS W" of a record, W its day of the week.
std::string describe(const tessik::SysTimeValue& v);

// Lines of tests/data/text/<name>, without comments ('#') and line ends.
std::vector<std::string> readDataLines(const std::string& name);

// Sets TZ for the scope and restores the previous value.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    std::string previous_;
    bool hadPrevious_;
};

// Pins the platform clock for the scope to a UTC calendar time.
class ScopedClock {
public:
    ScopedClock(int year, int month, int day, int hour, int minute, int second);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace texttest
