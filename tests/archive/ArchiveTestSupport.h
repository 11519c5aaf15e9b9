#pragma once
// The archive tests' independent reading of what an archive's bytes say.
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace archive_test {

using Bytes = grvtest::Bytes;

// The fields of an archive as the bytes say, read independently of the
// library so tests can check what was written.
struct CentralEntry {
    std::uint16_t madeBy = 0, needed = 0, flags = 0, method = 0;
    std::uint32_t dosDateTime = 0, crc = 0, compressedSize = 0, uncompressedSize = 0;
    std::uint32_t externalAttributes = 0, localOffset = 0;
    std::string name;
    Bytes extra;
    // From the local header.
    std::uint16_t localFlags = 0, localMethod = 0;
    std::uint32_t localCrc = 0, localCompressed = 0, localUncompressed = 0;
    Bytes localExtra;
    std::size_t dataOffset = 0;
    bool hasDescriptor = false; // a signed descriptor right after the data
};

struct Layout {
    bool ok = false;
    std::uint16_t entryCount = 0;
    std::uint32_t directorySize = 0, directoryOffset = 0;
    std::vector<CentralEntry> entries;
};

Layout ParseArchive(const Bytes& zip);

} // namespace archive_test
