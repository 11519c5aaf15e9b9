#pragma once
// Simple case mapping of single UTF-16 units (Basic Multilingual Plane).
#include <cstdint>

namespace tessik {

std::uint16_t wideToLower(std::uint16_t c);
std::uint16_t wideToUpper(std::uint16_t c);

} // namespace tessik
