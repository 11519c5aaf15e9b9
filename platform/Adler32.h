#pragma once
// The RFC 1950 checksum (two 16-bit sums modulo 65521) that zlib-framed
// streams carry.
#include <cstddef>
#include <cstdint>

namespace platform {

constexpr std::uint32_t kAdler32Start = 1;

// Continues `adler` over the bytes; null data gives the start value.
std::uint32_t Adler32(std::uint32_t adler, const void* data, std::size_t length);

} // namespace platform
