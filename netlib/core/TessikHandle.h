#pragma once
// The library's open file: a system file handle (the normal case) or a C
// stdio stream handed in by a caller. Positions and sizes are 64-bit.
#include <cstdint>
#include <cstdio>

#include "platform/File.h"
#include "platform/WinTime.h"

namespace tessik {

class LogBase;

class TessikHandle {
public:
    TessikHandle();
    virtual ~TessikHandle();
    TessikHandle(const TessikHandle&) = delete;
    TessikHandle& operator=(const TessikHandle&) = delete;

    void close();
    bool isOpen() const;
    void takeFrom(TessikHandle& other);
    // Takes ownership of an opened system handle.
    void attachHandle(platform::HANDLE h);
    void attachStdioStream(FILE* stream);
    platform::HANDLE getHandle() const { return m_handle; }

    bool seekToEnd(LogBase* log);
    bool seekAbsolute64(std::int64_t position, LogBase* log);
    bool seekRelative64(std::int64_t offset, LogBase* log);
    std::int64_t getPosition64(LogBase* log);
    // -1 also for a size beyond the signed 32-bit range, which it cannot hold.
    std::int32_t getFileSize32(LogBase* log);
    std::int64_t getFileSize64(LogBase* log);
    bool readBytes(void* buffer, std::uint32_t count, std::uint32_t* bytesRead, bool* endOfFile, LogBase* log);
    bool writeBytes64(const void* bytes, std::uint32_t countLow, std::uint32_t countHigh, std::uint64_t* written,
                      LogBase* log);
    bool writeBytes64(const void* bytes, std::uint64_t count, std::uint64_t* written, LogBase* log) {
        return writeBytes64(bytes, static_cast<std::uint32_t>(count), static_cast<std::uint32_t>(count >> 32), written,
                            log);
    }
    bool getFileTimes(platform::FILETIME* creation, platform::FILETIME* lastAccess, platform::FILETIME* lastWrite);

    // Largest single write; bigger counts go out in pieces of this size.
    static constexpr std::uint32_t kWritePiece = 10000000;
    // Counts the system writes made, so tests can see the pieces.
    static std::uint64_t writeCallCountForTest();

private:
    bool seekHandle(std::int64_t distance, DWORD method, std::int64_t* newPosition);
    bool seekLogged(std::int64_t distance, bool fromStart, LogBase* log);
    std::int64_t handleSize();
    std::int64_t streamSize();

    platform::HANDLE m_handle;
    FILE* m_stream;
};

// The operating system's version. The library chooses between the ANSI and
// the wide file calls on it; this system always answers a modern version,
// and paths are UTF-8 underneath either way.
class WindowsVersion {
public:
    WindowsVersion();
    virtual ~WindowsVersion();
    bool isMajorVersion4() const { return m_major == 4; }
    DWORD majorVersion() const { return m_major; }
    DWORD minorVersion() const { return m_minor; }

private:
    DWORD m_major;
    DWORD m_minor;
};

} // namespace tessik
