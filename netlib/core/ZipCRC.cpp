#include "netlib/core/ZipCRC.h"

#include "platform/Crc32.h"

namespace {

bool isTextByte(unsigned char b) { return b >= 7 && b <= 127; }

}  // namespace

// The running value starts preset so a forgotten beginStream still yields
// a proper CRC rather than one of whatever the memory held.
ZipCRC::ZipCRC() : m_value(platform::kCrc32Preset) {}

ZipCRC::~ZipCRC() = default;

void ZipCRC::beginStream() { m_value = platform::kCrc32Preset; }

void ZipCRC::moreData(const void* data, std::uint32_t length) {
    if (!data || length == 0) return;
    m_value = platform::Crc32Update(m_value, data, length);
}

std::uint32_t ZipCRC::endStream() const { return ~m_value; }

std::uint32_t ZipCRC::stepByte(std::uint32_t reg, unsigned char byte) {
    return platform::Crc32Step(reg, byte);
}

std::uint32_t ZipCRC::crc32WithBinaryFlag(const void* data, std::uint32_t length,
                                          std::uint16_t* binaryFlag) {
    if (!data || length == 0) return 0;
    const std::uint32_t crc = platform::Crc32(0, data, length);
    if (!binaryFlag) return crc;

    // Tally byte values first: a table lookup per byte, no branch.
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t counts[256] = {};
    for (std::uint32_t i = 0; i < length; ++i) ++counts[p[i]];
    std::uint64_t text = 0, binary = 0;
    for (int v = 0; v < 256; ++v) (isTextByte(static_cast<unsigned char>(v)) ? text : binary) += counts[v];
    *binaryFlag = binary > text / 4 ? 1 : 0;
    return crc;
}
