// Loading whole files into a byte buffer, through the library's file handle.
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/XString.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;

void logErr(LogBase* log, const char* text) {
    if (log)
        log->logError(text);
}
void logStr(LogBase* log, const char* tag, const char* value) {
    if (log)
        log->logData(tag, value);
}

// Reads exactly `count` bytes unless the file ends or fails first.
bool readFully(TessikHandle& h, unsigned char* dst, std::uint64_t count, std::uint64_t& got, LogBase* log) {
    got = 0;
    while (got < count) {
        std::uint32_t piece = static_cast<std::uint32_t>(count - got > 0x40000000u ? 0x40000000u : count - got);
        std::uint32_t n = 0;
        bool eof = false;
        if (!h.readBytes(dst + got, piece, &n, &eof, log))
            return false;
        got += n;
        if (eof || n == 0)
            break;
    }
    return true;
}

// Sizes a buffer for the file and reads it; the wide and ANSI forms differ
// only in what they log.
bool loadOpened(DataBuffer& db, TessikHandle& h, XString& path, bool wideForm, LogBase* log) {
    std::int64_t size = h.getFileSize64(log);
    if (size < 0)
        return false;
    if (size == 0)
        return true;
    if (static_cast<std::uint64_t>(size) > kMax32 - 4) {
        logErr(log, "Out of memory for data buffer");
        if (log)
            log->logDataInt64("fileSize", size);
        return false;
    }
    std::uint32_t n = static_cast<std::uint32_t>(size);
    if (!db.ensureCapacity(n + 4)) {
        logErr(log, wideForm ? "Out of memory when loading Unicode file into data buffer." : "Out of memory");
        if (log)
            log->logDataInt64("fileSize", size);
        return false;
    }
    std::memset(db.getData(), 0, n + 4);
    std::uint64_t got = 0;
    if (!readFully(h, db.getData(), n, got, log)) {
        if (wideForm) {
            if (log)
                log->logLastError();
        } else {
            logStr(log, "filename", path.getUtf8());
            XString cwd;
            getCurrentDirectory(cwd);
            logStr(log, "current_dir", cwd.getUtf8());
        }
        return false;
    }
    db.setSize(static_cast<std::uint32_t>(got));
    if (got != n) {
        if (!wideForm)
            logErr(log, "Failed to read the entire file");
        return false;
    }
    return true;
}

bool loadPath(DataBuffer& db, XString& path, bool wideForm, LogBase* log) {
    TessikHandle h;
    int kind = 0;
    if (!openFileForRead(h, path, kind, log))
        return false;
    return loadOpened(db, h, path, wideForm, log);
}

} // namespace

bool DataBuffer::loadFileUtf8(const char* path, LogBase* log) {
    check("loadFileUtf8");
    XString p;
    p.setFromUtf8(path ? path : "");
    if (p.isAnsiExact())
        return loadFileAnsi(p.getAnsi(), log);
    return loadFileWide(p.getUtf16(), log);
}

bool DataBuffer::loadFileAnsi(const char* path, LogBase* log) {
    check("loadFileAnsi");
    release();
    if (!path)
        return false;
    XString p;
    p.setFromAnsi(path);
    return loadPath(*this, p, false, log);
}

bool DataBuffer::loadFileWide(const std::uint16_t* path, LogBase* log) {
    check("loadFileWide");
    release();
    if (!path)
        return false;
    XString p;
    p.setFromUtf16(path);
    return loadPath(*this, p, true, log);
}

bool DataBuffer::loadFileWithHeader(const char* path, DataBuffer& header, unsigned int maxHeaderSize, LogBase* log) {
    check("loadFileWithHeader");
    header.check("loadFileWithHeader");
    release();
    if (!path)
        return false;
    XString p;
    p.setFromUtf8(path);
    TessikHandle h;
    int kind = 0;
    if (!openFileForRead(h, p, kind, log))
        return false;
    std::int64_t fileSize = h.getFileSize64(log);
    if (fileSize < 0)
        return false;
    if (fileSize < 4) {
        // Nothing usable: an error, not an empty success.
        logErr(log, "File is empty or too small");
        header.clear();
        return false;
    }
    unsigned char nBytes[4];
    std::uint64_t got = 0;
    if (!readFully(h, nBytes, 4, got, log) || got != 4)
        return false;
    std::uint32_t n = platform::LoadLe32(nBytes);
    if (n < 5 || n > maxHeaderSize) {
        logErr(log, "Invalid header size");
        logStr(log, "filename", path);
        return false;
    }
    DataBuffer hdr;
    if (!hdr.ensureCapacity(n - 4)) {
        logErr(log, "Out of memory for header.");
        return false;
    }
    if (!readFully(h, hdr.getData(), n - 4, got, log) || got != n - 4) {
        logErr(log, "Failed to read the entire header");
        logStr(log, "filename", path);
        return false;
    }
    hdr.setSize(n - 4);
    header.clear();
    if (!header.appendDb(hdr))
        return false;
    std::uint64_t bodySize = fileSize > n ? static_cast<std::uint64_t>(fileSize) - n : 0;
    if (bodySize > kMax32 - 4) {
        logErr(log, "Out of memory reading file after header");
        return false;
    }
    if (!ensureCapacity(static_cast<std::uint32_t>(bodySize + 4))) {
        logErr(log, "Out of memory reading file after header");
        return false;
    }
    std::memset(m_data, 0, bodySize + 4);
    if (!readFully(h, m_data, bodySize, got, log)) {
        logStr(log, "filename", path);
        return false;
    }
    m_size = static_cast<std::uint32_t>(got);
    if (got != bodySize) {
        logErr(log, "Failed to read the entire file");
        return false;
    }
    return true;
}

} // namespace tessik
