#pragma once
// A bounds-checked view of bytes that lie either in a memory block or in a
// file. Requests are (offset, size) ranges; a pointer comes back only when
// the whole range is there.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/streams/FileAccess.h"

namespace tessik {

class MemoryData : public TessikObject {
public:
    MemoryData();
    ~MemoryData() override;
    MemoryData(const MemoryData&) = delete;
    MemoryData& operator=(const MemoryData&) = delete;

    // Memory mode over the block. While ownsData is set (the default) the
    // block is a malloc/free block that this object frees.
    void setData(const void* data, std::uint32_t length);
    void setOwnsData(bool owns) { m_ownsData = owns; }
    // File mode over the file; the path is kept.
    bool openFile(const char* utf8Path, LogBase& log);

    // The range's bytes, or null when it is not all there. In file mode the
    // pointer is valid until the next request.
    const unsigned char* getMemData64(std::int64_t offset, std::uint32_t size, LogBase& log);
    const unsigned char* getMemData(std::uint32_t offset, std::uint32_t size, LogBase& log);

    // Closes the file, frees an owned block and forgets both.
    void clear();

    bool isFile() const { return m_isFile; }
    const StringBuffer& getPath() const { return m_path; }

private:
    void releaseBlock();

    bool m_isFile;
    bool m_ownsData;
    const unsigned char* m_data;
    std::uint32_t m_dataLength;
    std::int64_t m_windowOffset;
    std::uint32_t m_windowSize;
    DataBuffer m_window;
    StringBuffer m_path;
    FileAccess m_file;
};

} // namespace tessik
