#include "netlib/streams/Gzip.h"

#include <string>

#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/PipelineHelp.h"
#include "netlib/streams/ZipPipeline.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned char kId1 = 0x1F;
constexpr unsigned char kId2 = 0x8B;
constexpr unsigned char kMethodDeflate = 8;
constexpr unsigned char kFlagHeaderCrc = 2;
constexpr unsigned char kFlagExtra = 4;
constexpr unsigned char kFlagName = 8;
constexpr unsigned char kFlagComment = 16;
constexpr unsigned char kOsUnix = 3;
constexpr std::uint32_t kReserveSlack = 200;
// ISIZE only hints at the room to reserve; a hostile one must not allocate.
constexpr std::uint32_t kMaxReserve = 64u * 1024 * 1024;
constexpr int kCallerMemory = 18920;
constexpr int kCallerDeflate = 18922;
constexpr int kCallerSource = 18923;
// What the inflater read past the deflate data is within its last buffer.
constexpr std::size_t kTailKept = InflateState2::kSourceChunk;

void putLe32(DataBuffer& out, std::uint32_t v) {
    unsigned char b[4];
    platform::StoreLe32(b, v);
    out.append(b, sizeof b);
}

bool checkIdAndMethod(const unsigned char* h, LogBase& log) {
    if (h[0] != kId1 || h[1] != kId2) {
        log.logError(gzip_msg::kBadId);
        return false;
    }
    if (h[2] != kMethodDeflate) {
        log.logError(gzip_msg::kBadMethod);
        return false;
    }
    return true;
}

bool checkTrailer(std::uint32_t crc, std::uint64_t size, const unsigned char* trailer, LogBase& log) {
    if (platform::LoadLe32(trailer) != crc) {
        log.logError(gzip_msg::kCrcMismatch);
        return false;
    }
    if (platform::LoadLe32(trailer + 4) != static_cast<std::uint32_t>(size)) {
        log.logError(gzip_msg::kSizeMismatch);
        return false;
    }
    return true;
}

// Passes reads through and keeps the last bytes read, so the trailer the
// inflater read past can be found again.
class TailSource : public DataSource {
public:
    explicit TailSource(DataSource& inner) : m_inner(inner) {}
    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override {
        const bool ok = m_inner.readChunk(buffer, size, bytesRead, log);
        if (*bytesRead) {
            m_tail.append(static_cast<const char*>(buffer), *bytesRead);
            if (m_tail.size() > 2 * kTailKept)
                m_tail.erase(0, m_tail.size() - kTailKept);
        }
        return ok;
    }
    bool endOfStream() override { return m_inner.endOfStream(); }
    const std::string& tail() const { return m_tail; }

private:
    DataSource& m_inner;
    std::string m_tail;
};

// Counts what reaches the output.
class CountingOutput : public Output {
public:
    explicit CountingOutput(Output& inner) : m_inner(inner) {}
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override {
        const std::uint32_t n = m_inner.writeBytes(data, size, count, monitor, log);
        m_bytes += static_cast<std::uint64_t>(size) * n;
        return n;
    }
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override {
        const std::uint32_t n = m_inner.writeBytes64(data, size, count, monitor, log);
        m_bytes += size * n;
        return n;
    }
    bool isHalted() override { return m_inner.isHalted(); }
    std::uint64_t bytes() const { return m_bytes; }

private:
    Output& m_inner;
    std::uint64_t m_bytes = 0;
};

bool readExactly(DataSource& source, unsigned char* buffer, std::uint32_t n, LogBase& log) {
    std::uint32_t got = 0;
    while (got < n) {
        std::uint32_t r = 0;
        if (!source.readChunk(buffer + got, n - got, &r, &log) || r == 0)
            return false;
        got += r;
    }
    return true;
}

bool skipZeroTerminated(DataSource& source, LogBase& log) {
    unsigned char c = 1;
    while (c != 0)
        if (!readExactly(source, &c, 1, log))
            return false;
    return true;
}

} // namespace

Gzip::~Gzip() = default;

bool Gzip::unGzipMemory(const DataBuffer& gz, DataBuffer& out, LogBase& log) {
    out.clear();
    const std::uint32_t size = gz.getSize();
    const unsigned char* p = gz.getData();
    if (size < kHeaderSize) {
        log.logError(gzip_msg::kTooSmall);
        return false;
    }
    if (!checkIdAndMethod(p, log))
        return false;
    const unsigned char flags = p[3];
    std::uint32_t at = kHeaderSize;
    // Every optional field must end before the last byte.
    auto overrun = [&](std::uint32_t end) {
        if (end < size - 1)
            return false;
        log.logError(gzip_msg::kOverrun);
        return true;
    };
    if (flags & kFlagExtra) {
        if (overrun(at + 1))
            return false;
        at += 2 + (static_cast<std::uint32_t>(p[at]) | static_cast<std::uint32_t>(p[at + 1]) << 8);
        if (overrun(at - 1))
            return false;
    }
    for (unsigned char flag : {kFlagName, kFlagComment}) {
        if (!(flags & flag))
            continue;
        while (at < size - 1 && p[at] != 0)
            ++at;
        if (overrun(at))
            return false;
        ++at;
    }
    if (flags & kFlagHeaderCrc) {
        if (overrun(at + 1))
            return false;
        at += 2;
    }
    const std::uint32_t left = size - at;
    if (left < kTrailerSize) {
        log.logError(gzip_msg::kNoTrailer);
        return false;
    }
    const unsigned char* trailer = p + size - kTrailerSize;
    const std::uint32_t isize = platform::LoadLe32(trailer + 4);
    log.logDataLong("CompressedSize", static_cast<int>(left - kTrailerSize));
    log.logDataInt64("UncompressedSize", isize);
    if (left == kTrailerSize)
        return checkTrailer(0, 0, trailer, log);
    out.ensureCapacity((isize < kMaxReserve ? isize : kMaxReserve) + kReserveSlack);

    ZipPipeline pipe;
    pipe.setDeflateLevel(kLevel);
    pipe.setSourceBytes(p + at, left - kTrailerSize);
    pipe.setSourceCompressed(true);
    pipe.setDestCompressed(false);
    OutputDataBuffer sink(&out);
    pipe.setOutput(&sink);
    std::uint32_t crc = 0;
    return pipe.run(&crc, log, kCallerMemory, false) && checkTrailer(crc, out.getSize(), trailer, log);
}

bool Gzip::unGzipSource(DataSource& source, Output& out, LogBase& log) {
    unsigned char h[kHeaderSize];
    if (!readExactly(source, h, kHeaderSize, log)) {
        log.logError("Failed to read 1st 10 bytes.");
        return false;
    }
    if (!checkIdAndMethod(h, log))
        return false;
    unsigned char two[2];
    if (h[3] & kFlagExtra) {
        if (!readExactly(source, two, 2, log)) {
            log.logError("Failed to read XLEN");
            return false;
        }
        std::uint32_t xlen = static_cast<std::uint32_t>(two[0]) | static_cast<std::uint32_t>(two[1]) << 8;
        std::string extra(xlen, '\0');
        if (!readExactly(source, reinterpret_cast<unsigned char*>(extra.data()), xlen, log)) {
            log.logError("Failed to read extra field");
            return false;
        }
    }
    if ((h[3] & kFlagName) && !skipZeroTerminated(source, log)) {
        log.logError(gzip_msg::kNoFileName);
        return false;
    }
    if ((h[3] & kFlagComment) && !skipZeroTerminated(source, log)) {
        log.logError("Failed to read comment");
        return false;
    }
    if ((h[3] & kFlagHeaderCrc) && !readExactly(source, two, 2, log)) {
        log.logError("Failed to read CRC");
        return false;
    }

    TailSource tail(source);
    CountingOutput counted(out);
    ZipPipeline pipe;
    pipe.setDeflateLevel(kLevel);
    pipe.setSourceDataSource(&tail);
    pipe.setSourceCompressed(true);
    pipe.setDestCompressed(false);
    pipe.setOutput(&counted);
    std::uint32_t crc = 0;
    if (!pipe.run(&crc, log, kCallerSource, false))
        return false;
    // The trailer: what the inflater read past the data, then the source.
    unsigned char trailer[kTrailerSize];
    const std::uint32_t leftOver = pipe.getBytesLeftOver();
    if (leftOver > tail.tail().size()) {
        log.logError(gzip_msg::kNoTrailer);
        return false;
    }
    const std::size_t from = tail.tail().size() - leftOver;
    const std::uint32_t have = leftOver < kTrailerSize ? leftOver : kTrailerSize;
    for (std::uint32_t i = 0; i < have; ++i)
        trailer[i] = static_cast<unsigned char>(tail.tail()[from + i]);
    if (!readExactly(source, trailer + have, kTrailerSize - have, log)) {
        log.logError(gzip_msg::kNoTrailer);
        return false;
    }
    return checkTrailer(crc, counted.bytes(), trailer, log);
}

bool Gzip::inflateSourceToOutput(DataSource& source, Output& out, LogBase& log) {
    ZipPipeline pipe;
    pipe.setDeflateLevel(kLevel);
    pipe.setSourceDataSource(&source);
    pipe.setSourceCompressed(true);
    pipe.setDestCompressed(false);
    pipe.setOutput(&out);
    std::uint32_t crc = 0;
    return pipe.run(&crc, log, kCallerSource, false);
}

bool Gzip::deflateSourceToOutput(DataSource& source, Output& out, std::uint64_t* inputBytes) {
    LogNull log;
    ZipPipeline pipe;
    pipe.setDeflateLevel(kLevel);
    pipe.setSourceDataSource(&source);
    pipe.setSourceCompressed(false);
    pipe.setDestCompressed(true);
    pipe.setOutput(&out);
    std::uint32_t crc = 0;
    const bool ok = pipe.run(&crc, log, kCallerDeflate, false);
    *inputBytes = pipe.getInputByteCount();
    return ok;
}

bool Gzip::deflateMemory(const DataBuffer& in, DataBuffer& out) {
    MemoryDataSource source;
    source.setData(in.getData(), in.getSize(), false);
    OutputDataBuffer sink(&out);
    std::uint64_t n = 0;
    return deflateSourceToOutput(source, sink, &n);
}

bool Gzip::gzipMemory(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    const unsigned char header[kHeaderSize] = {kId1, kId2, kMethodDeflate, 0, 0, 0, 0, 0, 0, kOsUnix};
    static const unsigned char kEmpty = 0;
    PipelineHelp help;
    PipelineHelp::Deflated r;
    DataBuffer deflated;
    if (!help.deflateMemoryToDb(in.getSize() ? in.getData() : &kEmpty, in.getSize(), kLevel, true, deflated, r, log))
        return false;
    out.append(header, kHeaderSize);
    out.appendDb(deflated);
    putLe32(out, r.crc);
    putLe32(out, in.getSize());
    return true;
}

bool Gzip::unGzipFile(const char* utf8Path, LogBase& log) {
    XString path;
    path.setFromUtf8(utf8Path ? utf8Path : "");
    StringBuffer tmp(path.getUtf8());
    tmp.append(".tmp");
    bool ok = false;
    {
        TessikHandle handle;
        int errorKind = 0;
        if (!openFileForRead(handle, path, errorKind, &log))
            return false;
        FileDataSource source;
        source.setHandle(&handle);
        OutputFile out;
        if (!out.createFile(tmp.getString(), log)) {
            log.logError("Failed to open temp file for ungzip.");
            return false;
        }
        ok = unGzipSource(source, out, log);
        if (!ok)
            log.logError("Failed to unGzip output file");
        out.close();
    }
    if (!ok) {
        deleteFileUtf8(tmp.getString(), &log);
        return false;
    }
    XString from;
    from.setFromUtf8(tmp.getString());
    deleteFileUtf8(path.getUtf8(), &log);
    if (!renameFile(from, path, &log)) {
        log.logError("Failed to move temp file to destination");
        log.logData("tmpFile", tmp.getString());
        log.logData("destFile", path.getUtf8());
        return false;
    }
    return true;
}

} // namespace tessik
