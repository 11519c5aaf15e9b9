#pragma once
// CRC-32 as zip uses it (reflected polynomial 0xEDB88320, complemented in and
// out). The writer computes its own; the reader takes zlib's.
#include <cstddef>
#include <cstdint>

namespace archive {

// The 256-entry table of the polynomial, also the step of the cipher's keys.
const std::uint32_t* ZipCrcTable();

// One CRC step without the complements: the cipher's key update.
inline std::uint32_t ZipCrcStep(std::uint32_t crc, std::uint8_t byte) {
  return (crc >> 8) ^ ZipCrcTable()[(crc ^ byte) & 0xFF];
}

// Continues a CRC-32 over more bytes; start with 0.
std::uint32_t ZipCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length);

}  // namespace archive
