#include "tests/netlib/streams/ZipTestSupport.h"

namespace ziptest {

namespace {

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kDescriptorSignature = 0x08074b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kAesExtraId = 0x9901;
constexpr std::uint16_t kAesExtraSize = 7;
constexpr std::uint16_t kAesVendorVersion = 2;

} // namespace

std::string aesExtra(int mode, std::uint16_t method) {
    std::string e;
    put16(e, kAesExtraId), put16(e, kAesExtraSize), put16(e, kAesVendorVersion);
    e += "AE";
    e += static_cast<char>(mode);
    put16(e, method);
    return e;
}

void put16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v);
    s += static_cast<char>(v >> 8);
}

void put32(std::string& s, std::uint32_t v) {
    put16(s, v);
    put16(s, v >> 16);
}

std::uint32_t get16(const std::string& s, std::size_t at) {
    return static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8;
}

std::uint32_t get32(const std::string& s, std::size_t at) {
    return get16(s, at) | get16(s, at + 2) << 16;
}

std::string packZip(const std::vector<Entry>& entries) {
    std::string archive, central;
    for (const Entry& e : entries) {
        bool descriptor = e.flags & kFlagDescriptor;
        std::uint32_t packed = static_cast<std::uint32_t>(e.packed.size());
        std::string fields; // flags to the date, shared by both records
        put16(fields, e.flags), put16(fields, e.method), put16(fields, kDosTime), put16(fields, kDosDate);
        std::uint32_t offset = static_cast<std::uint32_t>(archive.size());

        put32(archive, kLocalSignature), put16(archive, kVersion);
        archive += fields;
        put32(archive, descriptor ? 0 : e.crc), put32(archive, descriptor ? 0 : packed),
            put32(archive, descriptor ? 0 : e.size);
        put16(archive, static_cast<std::uint32_t>(e.name.size())),
            put16(archive, static_cast<std::uint32_t>(e.extra.size()));
        archive += e.name + e.extra + e.packed;
        if (descriptor)
            put32(archive, kDescriptorSignature), put32(archive, e.crc), put32(archive, packed), put32(archive, e.size);

        put32(central, kCentralSignature), put16(central, kVersion), put16(central, kVersion);
        central += fields;
        put32(central, e.crc), put32(central, packed), put32(central, e.size);
        put16(central, static_cast<std::uint32_t>(e.name.size())),
            put16(central, static_cast<std::uint32_t>(e.extra.size()));
        put16(central, 0), put32(central, 0), put32(central, 0), put32(central, offset);
        central += e.name + e.extra;
    }
    std::uint32_t count = static_cast<std::uint32_t>(entries.size());
    std::string end;
    put32(end, kEndSignature), put32(end, 0), put16(end, count), put16(end, count);
    put32(end, static_cast<std::uint32_t>(central.size())), put32(end, static_cast<std::uint32_t>(archive.size()));
    put16(end, 0);
    return archive + central + end;
}

} // namespace ziptest
