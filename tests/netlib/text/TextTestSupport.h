#pragma once
// Shared by the text tests: data files, a pinned TZ and a pinned clock.
#include <random>
#include <string>
#include <vector>

namespace tessik {
struct SysTimeValue;
}

namespace texttest {

// "YYYY-MM-DD HH:MM:SS W" of a record, W its day of the week.
std::string describe(const tessik::SysTimeValue& v);

// Runs the python `body` once per input, in one process, with `data` bound to
// the input's bytes; it leaves its result (bytes) in `out`. Empty when python fails.
std::vector<std::string> pythonEach(const std::string& body, const std::vector<std::string>& inputs);

// n random bytes, drawn from `alphabet` when one is given.
std::string randomText(std::mt19937& rng, std::size_t n, const std::string& alphabet = {});

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

} // namespace texttest
