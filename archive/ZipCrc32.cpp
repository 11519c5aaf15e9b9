#include "archive/ZipCrc32.h"

#include <cstring>

namespace archive {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// Eight tables so the inner loop takes eight bytes a step.
struct CrcTables {
  std::uint32_t t[8][256];
  CrcTables() {
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? kPolynomial ^ (c >> 1) : c >> 1;
      t[0][n] = c;
    }
    for (std::uint32_t n = 0; n < 256; ++n) {
      for (int k = 1; k < 8; ++k) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
  }
};

const CrcTables& Tables() {
  static const CrcTables tables;
  return tables;
}

}  // namespace

const std::uint32_t* ZipCrcTable() { return Tables().t[0]; }

std::uint32_t ZipCrc32(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
  const auto& t = Tables().t;
  crc = ~crc;
  while (length >= 8) {
    std::uint32_t lo, hi;
    std::memcpy(&lo, data, 4);
    std::memcpy(&hi, data + 4, 4);
    // Little-endian words: the first byte sits in the low bits.
    lo ^= crc;
    crc = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
          t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    data += 8;
    length -= 8;
  }
  while (length--) crc = (crc >> 8) ^ t[0][(crc ^ *data++) & 0xFF];
  return ~crc;
}

}  // namespace archive
