#include "netlib/core/Int64Util.h"

#include <cstdlib>

#include "netlib/core/StringBuffer.h"

namespace tessik {

std::int64_t parseInt64(const char* text) {
    if (!text)
        return 0;
    return std::strtoll(text, nullptr, 10);
}

void int64ToText(std::uint64_t value, char* out, unsigned radix, bool negative) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    if (radix < 2 || radix > 36)
        radix = 10;
    char* p = out;
    if (negative) {
        *p++ = '-';
        value = 0 - value;
    }
    char* first = p;
    do {
        *p++ = kDigits[value % radix];
        value /= radix;
    } while (value);
    *p = 0;
    for (char *a = first, *b = p - 1; a < b; ++a, --b) {
        char t = *a;
        *a = *b;
        *b = t;
    }
}

void appendInt64Decimal(std::int64_t value, tessik::StringBuffer& out) {
    char buf[72];
    int64ToText(static_cast<std::uint64_t>(value), buf, 10, value < 0);
    out.append(buf);
}

} // namespace tessik
