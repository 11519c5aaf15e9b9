#pragma once
// CRC-32 of zip, gzip and PNG: reflected polynomial 0xEDB88320, register
// preset to all ones and complemented at the end. The one home of the table
// the archive, the library and the zip ciphers share.
#include <cstddef>
#include <cstdint>

namespace platform {

// The 256-entry byte table of the polynomial.
const std::uint32_t* Crc32Table();

// One byte of the register update, without the complements: the step the
// traditional zip cipher drives its keys with.
inline std::uint32_t Crc32Step(std::uint32_t reg, std::uint8_t byte) {
    return (reg >> 8) ^ Crc32Table()[(reg ^ byte) & 0xFFu];
}

// The register update over a run of bytes, without the complements, for
// callers that keep the register themselves (preset it to kCrc32Preset).
std::uint32_t Crc32Update(std::uint32_t reg, const void* data, std::size_t length);

constexpr std::uint32_t kCrc32Preset = 0xFFFFFFFFu;

// The same update by byte tables alone: what Crc32Update runs on processors
// without a carry-less multiply, kept callable so that it stays tested.
std::uint32_t Crc32UpdateByTable(std::uint32_t reg, const void* data, std::size_t length);
// Whether Crc32Update folds long runs with the carry-less multiply.
bool Crc32HasCarrylessMultiply();

// The register update that also adds to `binaryBytes` the bytes below 7 or
// above 127 (what zip's text/binary flag counts), in the same pass.
std::uint32_t Crc32UpdateCountingBinary(std::uint32_t reg, const void* data, std::size_t length,
                                        std::uint64_t& binaryBytes);
// The same by byte tables and word arithmetic alone, as processors without a
// carry-less multiply run it.
std::uint32_t Crc32UpdateCountingBinaryByTable(std::uint32_t reg, const void* data, std::size_t length,
                                               std::uint64_t& binaryBytes);

// Continues a finished CRC-32 over more bytes; start with 0.
inline std::uint32_t Crc32(std::uint32_t crc, const void* data, std::size_t length) {
    return ~Crc32Update(~crc, data, length);
}

} // namespace platform
