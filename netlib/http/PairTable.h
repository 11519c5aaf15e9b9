#pragma once
// Counted tables of pairs of 32-bit values (the cache files' directory
// slots are read through these): either member of the i-th pair, 0 for an
// index outside the table.
#include <cstdint>

namespace tessik {

struct UintPair {
    std::uint32_t first;
    std::uint32_t second;
};

inline std::uint32_t getPairFirst(const UintPair* table, std::uint32_t count, int index) {
    return table != nullptr && index >= 0 && static_cast<std::uint32_t>(index) < count ? table[index].first : 0;
}

inline std::uint32_t getPairSecond(const UintPair* table, std::uint32_t count, int index) {
    return table != nullptr && index >= 0 && static_cast<std::uint32_t>(index) < count ? table[index].second : 0;
}

} // namespace tessik
