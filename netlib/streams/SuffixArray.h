#pragma once
// Suffix array by induced sorting (linear time, independent of how
// repetitive the text is).
#include <cstdint>

namespace tessik::bz2 {

// Sorts the suffixes of text[0..n) into sa[0..n). `sa` needs n entries.
// Returns false when scratch memory could not be had.
bool buildSuffixArray(const std::uint8_t* text, std::int32_t* sa, std::int32_t n);

} // namespace tessik::bz2
