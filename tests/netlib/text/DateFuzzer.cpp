// Date texts (cookie Expires dates among them) and charset names arrive in
// headers from any server.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "netlib/text/CharsetNames.h"
#include "netlib/text/DateParser.h"

using namespace tessik;

namespace {

void requireValid(const tessik::SysTimeValue& v) {
    if (v.month < 1 || v.month > 12 || v.day < 1 || v.day > tessik::daysInMonth(v.year, v.month) || v.hour > 23 ||
        v.minute > 59 || v.second > 59 || v.dayOfWeek > 6)
        std::abort();
    if (v.dayOfWeek != tessik::dayOfWeekFromDate(v.year, v.month, v.day))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    tessik::DateParser parser;
    tessik::SysTimeValue v;
    if (parser.parseDate(text.c_str(), v))
        requireValid(v);
    tessik::SysTimeValue cookie;
    if (tessik::parseCookieDate(text.c_str(), cookie))
        requireValid(cookie);
    tessik::SysTimeValue iso;
    if (tessik::parseIsoDateText(text.c_str(), iso))
        requireValid(iso);

    tessik::charsetNameToCodePage(text.c_str());

    std::tm t{};
    t.tm_year = 112;
    t.tm_mday = 15;
    char out[64];
    char* end = tessik::formatDateTime(text.c_str(), t, out, out + sizeof out);
    if (end < out || end > out + sizeof out)
        std::abort();
    return 0;
}
