#pragma once
// Packs entries whose data is ready (stored or deflated, maybe encrypted)
// into a zip archive for the peers (unzip, python's zipfile) to judge.
#include <cstdint>
#include <string>
#include <vector>

namespace ziptest {

constexpr std::uint16_t kDosTime = 0x6000; // 12:00:00
constexpr std::uint16_t kDosDate = 0x5821; // 2024-01-01
constexpr std::uint16_t kFlagEncrypted = 0x1;
constexpr std::uint16_t kFlagDescriptor = 0x8;
constexpr std::uint16_t kMethodStored = 0;
constexpr std::uint16_t kMethodDeflated = 8;
constexpr std::uint16_t kMethodAes = 99;

struct Entry {
    std::string name;
    std::uint16_t method = kMethodStored;
    std::uint16_t flags = 0;
    std::uint32_t crc = 0;
    std::string packed; // the bytes as they stand in the archive
    std::uint32_t size = 0;
    std::string extra = {}; // extra fields, in both headers
};

void put16(std::string& s, std::uint32_t v);
void put32(std::string& s, std::uint32_t v);
std::uint32_t get16(const std::string& s, std::size_t at);
std::uint32_t get32(const std::string& s, std::size_t at);

// The AE-2 extra field: vendor version 2, "AE", strength (1-3), the real method.
std::string aesExtra(int mode, std::uint16_t method);

// Local headers (with a data descriptor after the data when the entry's
// flags ask for one), central directory and end record.
std::string packZip(const std::vector<Entry>& entries);

} // namespace ziptest
