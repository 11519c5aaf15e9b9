#include "tests/archive/ArchiveTestSupport.h"

#include "platform/ByteOrder.h"

namespace archive_test {
namespace {

// A little-endian field of 2 or 4 bytes; out of range throws.
std::uint32_t Le(const Bytes& b, std::size_t at, int width) {
    (void)b.at(at + static_cast<std::size_t>(width) - 1);
    return width == 2 ? platform::LoadLe16(b.data() + at) : platform::LoadLe32(b.data() + at);
}

} // namespace

Layout ParseArchive(const Bytes& zip) {
    Layout l;
    if (zip.size() < 22)
        return l;
    std::size_t end = zip.size() - 22;
    while (Le(zip, end, 4) != 0x06054B50) {
        if (end == 0)
            return l;
        --end;
    }
    l.entryCount = static_cast<std::uint16_t>(Le(zip, end + 10, 2));
    l.directorySize = Le(zip, end + 12, 4);
    l.directoryOffset = Le(zip, end + 16, 4);
    std::size_t at = l.directoryOffset;
    for (int i = 0; i < l.entryCount; ++i) {
        if (Le(zip, at, 4) != 0x02014B50)
            return l;
        CentralEntry e;
        e.madeBy = static_cast<std::uint16_t>(Le(zip, at + 4, 2));
        e.needed = static_cast<std::uint16_t>(Le(zip, at + 6, 2));
        e.flags = static_cast<std::uint16_t>(Le(zip, at + 8, 2));
        e.method = static_cast<std::uint16_t>(Le(zip, at + 10, 2));
        e.dosDateTime = Le(zip, at + 12, 4);
        e.crc = Le(zip, at + 16, 4);
        e.compressedSize = Le(zip, at + 20, 4);
        e.uncompressedSize = Le(zip, at + 24, 4);
        std::size_t n = Le(zip, at + 28, 2), x = Le(zip, at + 30, 2), c = Le(zip, at + 32, 2);
        e.externalAttributes = Le(zip, at + 38, 4);
        e.localOffset = Le(zip, at + 42, 4);
        e.name.assign(zip.begin() + static_cast<long>(at + 46), zip.begin() + static_cast<long>(at + 46 + n));
        e.extra.assign(zip.begin() + static_cast<long>(at + 46 + n), zip.begin() + static_cast<long>(at + 46 + n + x));
        at += 46 + n + x + c;

        std::size_t lh = e.localOffset;
        if (Le(zip, lh, 4) != 0x04034B50)
            return l;
        e.localFlags = static_cast<std::uint16_t>(Le(zip, lh + 6, 2));
        e.localMethod = static_cast<std::uint16_t>(Le(zip, lh + 8, 2));
        e.localCrc = Le(zip, lh + 14, 4);
        e.localCompressed = Le(zip, lh + 18, 4);
        e.localUncompressed = Le(zip, lh + 22, 4);
        std::size_t ln = Le(zip, lh + 26, 2), lx = Le(zip, lh + 28, 2);
        e.localExtra.assign(zip.begin() + static_cast<long>(lh + 30 + ln),
                            zip.begin() + static_cast<long>(lh + 30 + ln + lx));
        e.dataOffset = lh + 30 + ln + lx;
        std::size_t after = e.dataOffset + e.compressedSize;
        e.hasDescriptor = after + 16 <= zip.size() && Le(zip, after, 4) == 0x08074B50 &&
                          Le(zip, after + 4, 4) == e.crc && Le(zip, after + 8, 4) == e.compressedSize &&
                          Le(zip, after + 12, 4) == e.uncompressedSize;
        l.entries.push_back(e);
    }
    l.ok = true;
    return l;
}

} // namespace archive_test
