#include "netlib/text/DateParser.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

constexpr std::size_t kWorkSize = 200; // the parser reads at most 199 bytes

const char* const kShortDays[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kLongDays[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
const char* const kShortMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kLongMonths[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};

const char* const kDayWords[7] = {"sun", "mon", "tue", "wed", "thu", "fri", "sat"};
const char* const kMonthWords[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                     "jul", "aug", "sep", "oct", "nov", "dec"};
// Month names as some Romance and German mailers write them.
const char* const kOtherMonthWords[12] = {"ian", "fev", "mar", "apr", "mai", "jun",
                                          "jul", "aug", "set", "okt", "nov", "dez"};

struct ZoneWord {
    const char* word;
    const char* zone;
};

// Military letters keep their RFC 822 signs.
constexpr ZoneWord kZoneWords[] = {
    {"ut", "0000"},   {"gmt", "0000"},  {"z", "0000"},    {"est", "-0500"}, {"edt", "-0400"},
    {"cst", "-0600"}, {"cdt", "-0500"}, {"mst", "-0700"}, {"mdt", "-0600"}, {"pst", "-0800"},
    {"pdt", "-0700"}, {"a", "-0100"},   {"m", "-1200"},   {"n", "0100"},    {"y", "1200"},
};

constexpr int kCumulativeDays[13] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// Large enough to be rejected, small enough never to overflow.
constexpr long long kNumberCap = 1000000000LL;
// Years written with at most this many digits take the century rule.
constexpr std::ptrdiff_t kMaxShortYearDigits = 2;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isScanSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// sscanf's %d with an optional width (which counts the sign): white space
// skipped, then a sign and at least one digit.
bool scanInt(const char*& p, int width, int& value) {
    const char* s = p;
    while (isScanSpace(*s))
        ++s;
    int left = width > 0 ? width : 1 << 30;
    bool negative = false;
    if ((*s == '-' || *s == '+') && left > 0) {
        negative = *s == '-';
        ++s;
        --left;
    }
    if (left == 0 || !isDigit(*s))
        return false;
    long long v = 0;
    while (left > 0 && isDigit(*s)) {
        if (v < kNumberCap)
            v = v * 10 + (*s - '0');
        ++s;
        --left;
    }
    value = static_cast<int>(negative ? -v : v);
    p = s;
    return true;
}

// sscanf's %s, bounded by the output size.
bool scanWord(const char*& p, char* out, std::size_t outSize) {
    const char* s = p;
    while (isScanSpace(*s))
        ++s;
    if (!*s)
        return false;
    std::size_t n = 0;
    while (*s && !isScanSpace(*s)) {
        if (n + 1 < outSize)
            out[n++] = *s;
        ++s;
    }
    out[n] = '\0';
    p = s;
    return true;
}

// Reads numbers separated by one literal byte (0: none) and returns how many.
int scanInts(const char* p, char separator, int width, int* values, int count) {
    int read = 0;
    while (read < count) {
        if (read > 0 && separator) {
            if (*p != separator)
                break;
            ++p;
        }
        if (!scanInt(p, width, values[read]))
            break;
        ++read;
    }
    return read;
}

void skipWord(const char*& p) {
    while (*p && !isBlank(*p))
        ++p;
}

void skipBlanks(const char*& p) {
    while (isBlank(*p))
        ++p;
}

long long floorDiv(long long a, long long b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

bool validDate(int year, int month, int day) {
    return year >= 100 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= daysInMonth(year, month);
}

bool validTime(int hour, int minute, int second) {
    return hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 59;
}

// Offsets reach at most a day less a minute.
bool validOffset(int hours, int minutes) {
    return hours >= 0 && hours <= 23 && minutes >= 0 && minutes <= 59;
}

// Stores the date and time, then moves the clock time by offsetMinutes (to
// add to local time for UTC), carrying into earlier or later days.
bool storeUtc(int year, int month, int day, int hour, int minute, int second, long long offsetMinutes,
              SysTimeValue& out) {
    out.year = static_cast<std::uint16_t>(year);
    out.month = static_cast<std::uint16_t>(month);
    out.day = static_cast<std::uint16_t>(day);
    out.dayOfWeek = static_cast<std::uint16_t>(dayOfWeekFromDate(year, month, day));
    out.hour = static_cast<std::uint16_t>(hour);
    out.minute = static_cast<std::uint16_t>(minute);
    out.second = static_cast<std::uint16_t>(second);
    out.milliseconds = 0;

    long long m = offsetMinutes + hour * 60 + minute;
    const long long dayShift = floorDiv(m, 1440);
    m -= dayShift * 1440;
    if (dayShift != 0) {
        const double shifted = out.toOleDate() + static_cast<double>(dayShift);
        if (shifted < kMinOleDate || shifted > kMaxOleDate)
            return false;
        out.addDays(static_cast<int>(dayShift));
    }
    out.hour = static_cast<std::uint16_t>(m / 60);
    out.minute = static_cast<std::uint16_t>(m % 60);
    return true;
}

// A zone text such as "-0500", "0100", "+01:00" or "5" as minutes to add to
// the clock time for UTC.
bool zoneOffsetMinutes(const char* zone, long long& offset) {
    int sign = -1;
    if (*zone == '-') {
        sign = 1;
        ++zone;
    }
    int v[2] = {0, 0};
    if (scanInts(zone, 0, 2, v, 2) != 2 && scanInts(zone, ':', 2, v, 2) != 2) {
        v[1] = 0;
        if (scanInts(zone, 0, 0, v, 1) != 1)
            return false;
    }
    if (!validOffset(v[0], v[1]))
        return false;
    offset = static_cast<long long>(sign) * (v[0] * 60 + v[1]);
    return true;
}

const char* zoneFromWord(const char* word) {
    for (const ZoneWord& z : kZoneWords) {
        if (std::strcmp(z.word, word) == 0)
            return z.zone;
    }
    return "0000";
}

int monthFromWord(const char* word) {
    if (std::strlen(word) < 3)
        return 0;
    for (int i = 0; i < 12; ++i) {
        if (std::strncmp(word, kMonthWords[i], 3) == 0)
            return i + 1;
    }
    for (int i = 0; i < 12; ++i) {
        if (std::strncmp(word, kOtherMonthWords[i], 3) == 0)
            return i + 1;
    }
    return 0;
}

// The RFC 822 road, on the lower-cased work copy.
bool parseRfc822(const char* p, SysTimeValue& out) {
    while (isBlank(*p))
        ++p;
    if (!*p)
        return false;

    bool dayName = false;
    for (const char* word : kDayWords) {
        if (std::strncmp(p, word, 3) == 0)
            dayName = true;
    }
    if (dayName) {
        skipWord(p);
        skipBlanks(p);
        if (*p == ',')
            ++p;
        skipBlanks(p);
        if (!*p)
            return false;
    }

    int day = 0, year = 0;
    char monthWord[kWorkSize];
    const char* s = p;
    if (!scanInt(s, 0, day) || !scanWord(s, monthWord, sizeof monthWord))
        return false;
    while (isScanSpace(*s))
        ++s;
    const char* yearText = s;
    if (!scanInt(s, 0, year))
        return false;
    if (*yearText == '+' || *yearText == '-')
        ++yearText;
    const bool shortYear = s - yearText <= kMaxShortYearDigits;
    for (int i = 0; i < 3; ++i) {
        skipWord(p);
        skipBlanks(p);
    }

    const int month = monthFromWord(monthWord);
    if (month == 0 || year < 0)
        return false;
    // Only a one- or two-digit year names a century by itself; 1800 stays 1800.
    if (shortYear)
        year += year < 50 ? 2000 : 1900;

    int hms[3] = {0, 0, 0};
    if (scanInts(p, ':', 0, hms, 3) != 3) {
        hms[2] = 0;
        if (scanInts(p, ':', 0, hms, 2) != 2)
            return false;
    }
    if (!validDate(year, month, day) || !validTime(hms[0], hms[1], hms[2]))
        return false;

    skipWord(p);
    skipBlanks(p);
    if (*p == '+')
        ++p;
    char zoneWord[kWorkSize];
    std::size_t n = 0;
    while (p[n] && !isBlank(p[n])) {
        zoneWord[n] = p[n];
        ++n;
    }
    zoneWord[n] = '\0';
    const char* zone = "0000";
    if (n > 0)
        zone = (zoneWord[0] == '-' || isDigit(zoneWord[0])) ? p : zoneFromWord(zoneWord);

    long long offset = 0;
    if (!zoneOffsetMinutes(zone, offset))
        return false;
    if (!storeUtc(year, month, day, hms[0], hms[1], hms[2], offset, out))
        return false;
    out.isLocal = 0;
    return true;
}

// Output writer that stops for good at the end of its room.
struct Writer {
    char* p;
    char* end;
    bool full = false;

    void put(char c) {
        if (p >= end) {
            full = true;
            return;
        }
        *p++ = c;
    }
    void text(const char* s) {
        while (*s && !full)
            put(*s++);
    }
};

void formatInto(Writer& w, const char* format, const std::tm& t);

void number(Writer& w, const char* fmt, int value) {
    w.p = formatNumberField(fmt, value, w.p, w.end);
    if (w.p >= w.end)
        w.full = true;
}

// ISO 8601 week-based year and days into its week 1 (glibc's arithmetic).
int isoWeekDays(int yday, int wday) {
    constexpr int kBigMultipleOf7 = (366 / 7 + 2) * 7;
    return yday - (yday - wday + 4 + kBigMultipleOf7) % 7 + 4 - 1;
}

void isoWeek(const std::tm& t, int& isoYear, int& week) {
    long year = t.tm_year + 1900L;
    int days = isoWeekDays(t.tm_yday, t.tm_wday);
    if (days < 0) {
        --year;
        days = isoWeekDays(t.tm_yday + (isLeapYear(static_cast<int>(year)) ? 366 : 365), t.tm_wday);
    } else {
        const int next = isoWeekDays(t.tm_yday - (isLeapYear(static_cast<int>(year)) ? 366 : 365), t.tm_wday);
        if (next >= 0) {
            ++year;
            days = next;
        }
    }
    isoYear = static_cast<int>(year);
    week = days / 7 + 1;
}

int hour12(int hour) {
    const int h = hour % 12;
    return h == 0 ? 12 : h;
}

void directive(Writer& w, char c, const std::tm& t) {
    const int year = t.tm_year + 1900;
    const bool dayOk = t.tm_wday >= 0 && t.tm_wday <= 6;
    const bool monthOk = t.tm_mon >= 0 && t.tm_mon <= 11;
    switch (c) {
    case 'a': w.text(dayOk ? kShortDays[t.tm_wday] : "?"); break;
    case 'A': w.text(dayOk ? kLongDays[t.tm_wday] : "?"); break;
    case 'b':
    case 'h': w.text(monthOk ? kShortMonths[t.tm_mon] : "?"); break;
    case 'B': w.text(monthOk ? kLongMonths[t.tm_mon] : "?"); break;
    case 'C': number(w, "%02d", static_cast<int>(floorDiv(year, 100))); break;
    case 'c': formatInto(w, "%a %b %e %H:%M:%S %Y", t); break;
    case 'D':
    case 'x': formatInto(w, "%m/%d/%y", t); break;
    case 'd': number(w, "%02d", t.tm_mday); break;
    case 'e': number(w, "%2d", t.tm_mday); break;
    case 'F': formatInto(w, "%Y-%m-%d", t); break;
    case 'G':
    case 'g':
    case 'V': {
        int isoYear = 0, week = 0;
        isoWeek(t, isoYear, week);
        if (c == 'G')
            number(w, "%04d", isoYear);
        else if (c == 'g')
            number(w, "%02d", (isoYear % 100 + 100) % 100);
        else
            number(w, "%02d", week);
        break;
    }
    case 'H': number(w, "%02d", t.tm_hour); break;
    case 'I': number(w, "%02d", hour12(t.tm_hour)); break;
    case 'j': number(w, "%03d", t.tm_yday + 1); break;
    case 'k': number(w, "%2d", t.tm_hour); break;
    case 'l': number(w, "%2d", hour12(t.tm_hour)); break;
    case 'M': number(w, "%02d", t.tm_min); break;
    case 'm': number(w, "%02d", t.tm_mon + 1); break;
    case 'n': w.put('\n'); break;
    case 'p': w.text(t.tm_hour < 12 ? "am" : "pm"); break;
    case 'R': formatInto(w, "%H:%M", t); break;
    case 'r': formatInto(w, "%I:%M:%S %p", t); break;
    case 'S': number(w, "%02d", t.tm_sec); break;
    case 's': {
        std::tm copy = t;
        char digits[24];
        std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(std::mktime(&copy)));
        w.text(digits);
        break;
    }
    case 'T':
    case 'X': formatInto(w, "%H:%M:%S", t); break;
    case 't': w.put('\t'); break;
    case 'U': number(w, "%02d", (t.tm_yday - t.tm_wday + 7) / 7); break;
    case 'u': number(w, "%d", t.tm_wday == 0 ? 7 : t.tm_wday); break;
    case 'v': formatInto(w, "%e-%b-%Y", t); break;
    case 'W': number(w, "%02d", (t.tm_yday - (t.tm_wday + 6) % 7 + 7) / 7); break;
    case 'w': number(w, "%d", t.tm_wday); break;
    case 'Y': number(w, "%04d", year); break;
    case 'y': number(w, "%02d", (year % 100 + 100) % 100); break;
    case 'Z': w.put('?'); break;
    case 'z': {
        // The offset in force for this time, not the standard-time one.
        const long offset = t.tm_gmtoff;
        const long magnitude = offset < 0 ? -offset : offset;
        w.put(offset < 0 ? '-' : '+');
        number(w, "%02d", static_cast<int>(magnitude / 3600));
        number(w, "%02d", static_cast<int>(magnitude / 60 % 60));
        break;
    }
    case '+': formatInto(w, "%a, %d %b %Y %H:%M:%S %z", t); break;
    default: w.put(c); break;
    }
}

void formatInto(Writer& w, const char* format, const std::tm& t) {
    for (const char* f = format; *f && !w.full; ++f) {
        if (*f != '%' || f[1] == '\0') {
            w.put(*f);
            continue;
        }
        ++f;
        directive(w, *f, t);
    }
}

// "+hhmm" or "-hhmm" of an offset east of UTC in seconds.
void appendOffset(long offsetSeconds, StringBuffer& out) {
    const long magnitude = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
    char text[16];
    std::snprintf(text, sizeof text, "%c%02ld%02ld", offsetSeconds < 0 ? '-' : '+', magnitude / 3600 % 100,
                  magnitude / 60 % 60);
    out.append(text);
}

void formatNow(const char* format, bool local, StringBuffer& out) {
    const std::time_t now = static_cast<std::time_t>(platform::CurrentUnixTimeMs() / 1000);
    std::tm t{};
    if (local)
        localtime_r(&now, &t);
    else
        gmtime_r(&now, &t);
    char text[kWorkSize];
    char* end = formatDateTime(format, t, text, text + sizeof text - 1);
    *end = '\0';
    out.clear();
    out.append(text);
    if (local)
        appendOffset(t.tm_gmtoff, out);
}

} // namespace

char* formatNumberField(const char* printfFormat, int value, char* out, char* outEnd) {
    char digits[32];
    const int n = std::snprintf(digits, sizeof digits, printfFormat, value);
    for (int i = 0; i < n && out < outEnd; ++i)
        *out++ = digits[i];
    return out;
}

char* formatDateTime(const char* format, const std::tm& t, char* out, char* outEnd) {
    if (!format || !out || out >= outEnd)
        return out;
    Writer w{out, outEnd};
    formatInto(w, format, t);
    return w.p;
}

int dayOfWeekFromDate(int year, int month, int day) {
    if (month < 1 || month > 12)
        return 0;
    const int p = year - 1;
    const int k = p / 4 - p / 100 + p / 400 + 1;
    const int leapDay = (month > 2 && isLeapYear(year)) ? 1 : 0;
    const int r = (kCumulativeDays[month - 1] + k + year + 20 + leapDay + day - 1) % 7;
    return r < 0 ? r + 7 : r;
}

bool DateParser::parseDate(const char* text, SysTimeValue& out) {
    if (!text)
        return false;
    const std::size_t length = strnlen(text, kWorkSize);
    if (length > 10 && text[10] == 'T' && text[4] == '-' && text[7] == '-') {
        if (!parseIsoDateText(text, out))
            return false;
        out.isLocal = 0;
        return true;
    }
    char work[kWorkSize] = {};
    std::memcpy(work, text, length < kWorkSize ? length : kWorkSize - 1);
    for (char& c : work) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return parseRfc822(work, out);
}

bool parseIsoDateText(const char* text, SysTimeValue& out) {
    out.milliseconds = 0;
    out.dayOfWeek = 0;
    if (!text)
        return false;
    const std::string whole(text);
    const std::size_t tPos = whole.find('T');

    std::string datePart = whole.substr(0, tPos);
    for (char& c : datePart) {
        if (c == '-')
            c = ' ';
    }
    int ymd[3] = {0, 0, 0};
    const int read = scanInts(datePart.c_str(), 0, 0, ymd, 3);
    if (read == 1) {
        // The compact form YYYYMMDD.
        const char* p = datePart.c_str();
        if (!scanInt(p, 4, ymd[0]) || !scanInt(p, 2, ymd[1]) || !scanInt(p, 2, ymd[2]))
            return false;
    } else if (read < 3) {
        return false;
    }
    out.year = static_cast<std::uint16_t>(ymd[0]);
    out.month = static_cast<std::uint16_t>(ymd[1]);
    out.day = static_cast<std::uint16_t>(ymd[2]);
    if (!validDate(ymd[0], ymd[1], ymd[2]))
        return false;
    out.dayOfWeek = static_cast<std::uint16_t>(dayOfWeekFromDate(ymd[0], ymd[1], ymd[2]));
    if (tPos == std::string::npos)
        return false;

    const std::string afterT = whole.substr(tPos + 1);
    std::string timePart = afterT.substr(0, afterT.find_first_of("+-"));
    if (!timePart.empty() && timePart.back() == 'Z')
        timePart.pop_back();
    for (char& c : timePart) {
        if (c == ':')
            c = ' ';
    }
    int hms[3] = {0, 0, 0};
    if (scanInts(timePart.c_str(), 0, 0, hms, 3) != 3)
        return false;
    if (!validTime(hms[0], hms[1], hms[2]))
        return false;

    long long offset = 0;
    std::size_t zonePos = afterT.find('+');
    if (zonePos == std::string::npos)
        zonePos = afterT.find('-');
    if (zonePos != std::string::npos) {
        std::string zone;
        for (char c : afterT.substr(zonePos)) {
            if (c != ':' && c != '+')
                zone += c;
        }
        int sign = -1;
        const char* z = zone.c_str();
        if (*z == '-') {
            sign = 1;
            ++z;
        }
        int v[2] = {0, 0};
        if (scanInts(z, 0, 2, v, 2) != 2) {
            v[1] = 0;
            if (scanInts(z, 0, 0, v, 1) != 1)
                return false;
        }
        if (!validOffset(v[0], v[1]))
            return false;
        offset = static_cast<long long>(sign) * (v[0] * 60 + v[1]);
    }
    return storeUtc(ymd[0], ymd[1], ymd[2], hms[0], hms[1], hms[2], offset, out);
}

bool DateParser::parseIsoDate(const StringBuffer& text, SysTimeValue& out) {
    return parseIsoDateText(text.getString(), out);
}

void DateParser::generateCurrentGmtDate(StringBuffer& out) {
    formatNow("%a, %d %b %Y %H:%M:%S +0000", false, out);
}

void DateParser::generateCurrentLocalDate(StringBuffer& out) {
    formatNow("%a, %d %b %Y %H:%M:%S ", true, out);
}

void SysTimeValue::getRfc822String(StringBuffer& out) {
    if (dayOfWeek > 6)
        dayOfWeek = 0;
    if (month == 0 || month > 12)
        month = 1;
    char text[96];
    std::snprintf(text, sizeof text, "%s, %02d %s %d %02d:%02d:%02d ", kShortDays[dayOfWeek], day,
                  kShortMonths[month - 1], year, hour, minute, second);
    out.clear();
    out.append(text);
    if (!isLocal) {
        out.append("GMT");
        return;
    }
    // The offset in force on the record's own date.
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    long offset = 0;
    if (std::mktime(&t) != static_cast<std::time_t>(-1)) {
        offset = t.tm_gmtoff;
    } else {
        offset = -60L * TessikTimeZone().getCurrentBias();
    }
    appendOffset(offset, out);
}

TessikTimeZone::TessikTimeZone()
    : isDaylight(platform::GetTimeZoneInformation(&info) == platform::TIME_ZONE_ID_DAYLIGHT) {}

int TessikTimeZone::getCurrentBias() const {
    return isDaylight ? info.Bias + info.DaylightBias : info.Bias;
}

void appendCurrentFileTime(DataBuffer& out) {
    platform::FILETIME ft{};
    platform::GetSystemTimeAsFileTime(&ft);
    unsigned char bytes[8];
    platform::StoreLe32(bytes, ft.dwLowDateTime);
    platform::StoreLe32(bytes + 4, ft.dwHighDateTime);
    out.clear();
    out.append(bytes, sizeof bytes);
}

} // namespace tessik
