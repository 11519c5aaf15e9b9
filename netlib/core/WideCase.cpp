#include "netlib/core/WideCase.h"

namespace tessik {

namespace {
#include "netlib/core/WideCaseTables.inc"

std::uint16_t lookup(const std::uint16_t (&table)[100][50][2], std::uint16_t c) {
    const auto& bucket = table[c % 100];
    for (const auto& pair : bucket) {
        if (pair[0] == 0)
            break;
        if (pair[0] == c)
            return pair[1];
    }
    return c;
}
} // namespace

// Latin-1 letters map by the 0x20 offset, except the two signs (U+00D7,
// U+00F7), sharp s (no simple uppercase) and y-diaeresis (uppercase U+0178),
// which the table decides.
std::uint16_t wideToLower(std::uint16_t c) {
    if (c == 0)
        return 0;
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? static_cast<std::uint16_t>(c + 0x20) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return static_cast<std::uint16_t>(c + 0x20);
    return lookup(kLowerTable, c);
}

std::uint16_t wideToUpper(std::uint16_t c) {
    if (c == 0)
        return 0;
    if (c < 0x80)
        return (c >= 'a' && c <= 'z') ? static_cast<std::uint16_t>(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<std::uint16_t>(c - 0x20);
    return lookup(kUpperTable, c);
}

} // namespace tessik
