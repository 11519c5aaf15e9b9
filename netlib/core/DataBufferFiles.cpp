// Loading whole files into a byte buffer, through the library's file handle,
// each read from its one descriptor to its end.
#include <algorithm>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/core/XString.h"
#include "platform/ByteOrder.h"
#include "platform/File.h"

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

// Room asked for at a time while the end is not yet in sight; and the zero
// bytes kept after what was read, for readers that look one past the end.
constexpr std::uint32_t kReadStep = 64 * 1024;
constexpr std::uint32_t kTrailingZeros = 4;
constexpr const char* kWriterWaitFailed = "Failed to wait for the writer of a FIFO";

void logReadFailure(XString& path, bool wideForm, LogBase* log) {
    if (!log)
        return;
    if (wideForm) {
        log->logLastError();
        return;
    }
    logStr(log, "filename", path.getUtf8());
    XString cwd;
    getCurrentDirectory(cwd);
    logStr(log, "current_dir", cwd.getUtf8());
}

// The one reader of a named file: from the descriptor it was opened on to its
// end, appended to db. A FIFO is read once its writer came, and a file that
// grows or shrinks meanwhile is read as it then is: the size asked first only
// sizes the first allocation, never the read.
bool readToEnd(DataBuffer& db, TessikHandle& h, XString& path, bool wideForm, LogBase* log) {
    if (!platform::WaitForWriter(h.getHandle())) {
        logErr(log, kWriterWaitFailed);
        logStr(log, "filename", path.getUtf8());
        return false;
    }
    const bool sized = platform::IsRegularHandle(h.getHandle());
    const std::int64_t size = sized ? h.getFileSize64(nullptr) : 0;
    const std::uint64_t expected = size > 0 ? static_cast<std::uint64_t>(size) : 0;
    for (;;) {
        const std::uint64_t have = db.getSize();
        if (db.getCapacity() < have + 1 + kTrailingZeros) {
            // One byte past the expected end, so that the read which finds
            // the end needs no more room; past it, as much again as was read.
            const std::uint64_t step =
                sized && expected >= have ? expected - have + 1 : std::max<std::uint64_t>(have, kReadStep);
            const std::uint64_t wanted = std::min(have + step + kTrailingZeros, kMax32);
            if (wanted < have + 1 + kTrailingZeros || !db.ensureCapacity(static_cast<std::uint32_t>(wanted))) {
                logErr(log, wideForm ? "Out of memory when loading Unicode file into data buffer." : "Out of memory");
                if (log)
                    log->logDataInt64("fileSize", static_cast<std::int64_t>(have));
                return false;
            }
        }
        const std::uint32_t room = db.getCapacity() - static_cast<std::uint32_t>(have) - kTrailingZeros;
        std::uint32_t got = 0;
        bool eof = false;
        if (!h.readBytes(db.getData() + have, room, &got, &eof, log)) {
            logReadFailure(path, wideForm, log);
            return false;
        }
        db.setSize(static_cast<std::uint32_t>(have + got));
        if (got == 0)
            break;
    }
    std::memset(db.getData() + db.getSize(), 0, kTrailingZeros);
    return true;
}

bool loadPath(DataBuffer& db, XString& path, bool wideForm, LogBase* log) {
    TessikHandle h;
    int kind = 0;
    if (!openFileForRead(h, path, kind, log))
        return false;
    return readToEnd(db, h, path, wideForm, log);
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

bool DataBuffer::loadOpenedFile(TessikHandle& handle, const char* utf8Path, LogBase* log) {
    check("loadOpenedFile");
    release();
    XString p;
    p.setFromUtf8(utf8Path ? utf8Path : "");
    return readToEnd(*this, handle, p, false, log);
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
    // The header is read before the rest: a FIFO's writer must have come.
    if (!platform::WaitForWriter(h.getHandle())) {
        logErr(log, kWriterWaitFailed);
        logStr(log, "filename", path);
        return false;
    }
    unsigned char nBytes[4];
    std::uint64_t got = 0;
    if (!readFully(h, nBytes, 4, got, log))
        return false;
    if (got != 4) {
        // Nothing usable: an error, not an empty success.
        logErr(log, "File is empty or too small");
        header.clear();
        return false;
    }
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
    return readToEnd(*this, h, p, false, log);
}

} // namespace tessik
