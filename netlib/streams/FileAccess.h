#pragma once
// Random-access reading of one file: ranges at any 64-bit offset, seeking
// only when the offset differs from where the last read ended.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikHandle.h"

namespace tessik {

class FileAccess {
public:
    FileAccess();
    virtual ~FileAccess();
    FileAccess(const FileAccess&) = delete;
    FileAccess& operator=(const FileAccess&) = delete;

    // Opens for shared reading; false for a null or empty path.
    bool open(const char* utf8Path, LogBase& log);
    void close();
    bool isOpen() const { return m_handle.isOpen(); }
    // Replaces out with exactly size bytes at offset; false when fewer are
    // there.
    bool read(std::int64_t offset, std::uint32_t size, DataBuffer& out, LogBase& log);

private:
    bool readFully(unsigned char* into, std::uint32_t size, LogBase& log);

    TessikHandle m_handle;
    std::int64_t m_position;
};

} // namespace tessik
