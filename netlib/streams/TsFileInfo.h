#pragma once
// What the file system says about one path: kind, size, attributes and the
// three times, read in one go.
#include <cstdint>

#include "netlib/core/FileTimeValue.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"

namespace tessik {

class tsFileInfo : public TessikObject {
public:
    tsFileInfo();
    ~tsFileInfo() override;

    // Clears the record, then fills it; false when the path is missing
    // (notFound set) or cannot be opened (accessDenied set when refused).
    bool loadFileInfo(const char* utf8Path, LogBase* log);
    bool loadFileInfoX(XString& path, LogBase* log);

    std::uint8_t notFound;
    std::uint8_t accessDenied;
    StringBuffer path;
    std::uint8_t isDirectory;
    std::uint8_t reserved;
    std::uint32_t sizeLow;
    std::uint64_t size;
    std::uint32_t attributes;
    // Local time.
    FileTimeValue lastWriteTime;
    FileTimeValue creationTime;
    FileTimeValue lastAccessTime;
    std::uint32_t unused;

private:
    void clearRecord();
};

} // namespace tessik
