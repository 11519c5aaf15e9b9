#pragma once
// Shared by the text tests: data files, a pinned TZ and a pinned clock.
#include <random>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

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

// The pinned TZ and clock every test folder shares.
using grvtest::ScopedClock;
using grvtest::ScopedTimeZone;

} // namespace texttest
