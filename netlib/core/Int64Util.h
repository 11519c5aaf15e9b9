#pragma once
// 64-bit values travel through 32-bit interfaces as a low and a high word.
#include <cstdint>

namespace tessik {

class StringBuffer;

std::int64_t parseInt64(const char* text);
inline std::int64_t makeInt64(std::uint32_t low, std::uint32_t high) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
}
inline std::uint32_t getLow32(std::int64_t v) {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(v));
}
inline void splitInt64(std::int64_t v, std::uint32_t& low, std::uint32_t& high) {
    low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v));
    high = static_cast<std::uint32_t>(static_cast<std::uint64_t>(v) >> 32);
}
inline bool isOver32Bits(std::int64_t v) {
    return (static_cast<std::uint64_t>(v) >> 32) != 0;
}
inline std::uint32_t clampToUint32(std::int64_t v) {
    return isOver32Bits(v) ? 0xFFFFFFFFu : getLow32(v);
}

// Digits of `value` in `radix` (2..36, "a".."z" above 9) into `out`, which
// must hold 66 bytes; with `negative` the value is negated first and "-" leads.
void int64ToText(std::uint64_t value, char* out, unsigned radix, bool negative);
void appendInt64Decimal(std::int64_t value, tessik::StringBuffer& out);

} // namespace tessik
