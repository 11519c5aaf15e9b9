#include "netlib/core/ZipCRC.h"

#include "platform/Crc32.h"

namespace tessik {

// The running value starts preset so a forgotten beginStream still yields
// a proper CRC rather than one of whatever the memory held.
ZipCRC::ZipCRC() : m_value(platform::kCrc32Preset) {}

ZipCRC::~ZipCRC() = default;

void ZipCRC::beginStream() {
    m_value = platform::kCrc32Preset;
}

void ZipCRC::moreData(const void* data, std::uint32_t length) {
    if (!data || length == 0)
        return;
    m_value = platform::Crc32Update(m_value, data, length);
}

std::uint32_t ZipCRC::endStream() const {
    return ~m_value;
}

std::uint32_t ZipCRC::stepByte(std::uint32_t reg, unsigned char byte) {
    return platform::Crc32Step(reg, byte);
}

std::uint32_t ZipCRC::crc32WithBinaryFlag(const void* data, std::uint32_t length, std::uint16_t* binaryFlag) {
    if (!data || length == 0)
        return 0;
    if (!binaryFlag)
        return platform::Crc32(0, data, length);
    // The CRC and the count of binary bytes (below 7 or above 127) in one
    // pass; binary when they outnumber a quarter of the text bytes.
    std::uint64_t binary = 0;
    const std::uint32_t crc = ~platform::Crc32UpdateCountingBinary(platform::kCrc32Preset, data, length, binary);
    const std::uint64_t text = length - binary;
    *binaryFlag = binary > text / 4 ? 1 : 0;
    return crc;
}

} // namespace tessik
