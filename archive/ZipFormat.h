#pragma once
// The zip format as the writer writes it and the reader reads it: record
// signatures and sizes, flags, methods and versions.
#include <cstddef>
#include <cstdint>

namespace archive {

constexpr std::uint16_t kZipVersionMadeBy = 0x0B17;
constexpr std::uint16_t kZipVersionNeeded = 20;
constexpr std::uint32_t kZipLocalHeaderSignature = 0x04034B50;
constexpr std::uint32_t kZipCentralHeaderSignature = 0x02014B50;
constexpr std::uint32_t kZipEndRecordSignature = 0x06054B50;
constexpr std::uint32_t kZipDescriptorSignature = 0x08074B50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr std::size_t kZipLocalHeaderSize = 30;
constexpr std::size_t kZipCentralHeaderSize = 46;
constexpr std::size_t kZipEndRecordSize = 22;
constexpr std::size_t kZipDescriptorSize = 16;
constexpr std::size_t kZip64LocatorSize = 20;
// The extra fields this writer adds: the "UT" times (all three locally, the
// modification time centrally).
constexpr std::size_t kZipLocalExtraSize = 17;
constexpr std::size_t kZipCentralExtraSize = 9;
constexpr std::uint16_t kZipFlagEncrypted = 0x1;
constexpr std::uint16_t kZipFlagDescriptor = 0x8;
// The name (and comment) are UTF-8; without it readers take them as an old
// code page.
constexpr std::uint16_t kZipFlagUtf8 = 0x800;
constexpr std::uint16_t kZipMethodStored = 0;
constexpr std::uint16_t kZipMethodDeflated = 8;
// AES encryption stands in the method field; the real method is in an extra field.
constexpr std::uint16_t kZipMethodAes = 99;
constexpr std::uint32_t kZipFolderAttributes = 0x41C00010;
constexpr std::uint32_t kZipStreamAttributes = 0x80000000;
// Without Zip64 no size or offset may reach 4 GiB.
constexpr std::uint64_t kZipMax32 = 0xFFFFFFFFu;

} // namespace archive
