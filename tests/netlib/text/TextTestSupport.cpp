#include "TextTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "netlib/text/DateTimeValue.h"
#include "platform/WinTime.h"

using namespace tessik;

namespace texttest {

std::vector<std::string> readDataLines(const std::string& name) {
    const std::string path = std::string(GRV_TEST_DATA_DIR) + "/text/" + name;
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '#') continue;
        lines.push_back(line);
    }
    return lines;
}

std::string describe(const tessik::SysTimeValue& v) {
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d %d", v.year, v.month, v.day,
                  v.hour, v.minute, v.second, v.dayOfWeek);
    return text;
}

ScopedTimeZone::ScopedTimeZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadPrevious_ = old != nullptr;
    if (old) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
    if (hadPrevious_) setenv("TZ", previous_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
}

ScopedClock::ScopedClock(int year, int month, int day, int hour, int minute, int second) {
    const long long days = platform::DaysFromCivil(year, static_cast<unsigned>(month),
                                                   static_cast<unsigned>(day));
    const long long seconds = days * 86400 + hour * 3600 + minute * 60 + second;
    platform::SetClockOverrideForTest(seconds * 1000);
}

ScopedClock::~ScopedClock() { platform::SetClockOverrideForTest(0); }

}  // namespace texttest
