#include "netlib/streams/Gzip.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/PipelineHelp.h"
#include "netlib/streams/StreamConstants.h"
#include "netlib/streams/TessikDeflate.h"
#include "netlib/streams/ZipPipeline.h"
#include "platform/Adler32.h"
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
constexpr int kCallerDeflate = 18922;
constexpr int kCallerSource = 18923;
// What the inflater read past the deflate data is within its last buffer.
constexpr std::size_t kTailKept = InflateState2::kSourceChunk;
constexpr std::uint32_t kZeroScanBlock = 4096;
// The zlib header (RFC 1950), sound as zlibHeaderFault judges it, and a
// preset dictionary nobody sent.
constexpr std::uint32_t kZlibHeaderSize = 2;
constexpr unsigned char kZlibFlagDict = 0x20;

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

// Counts what reaches the output, and sums it as RFC 1950 does when asked.
class CountingOutput : public Output {
public:
    explicit CountingOutput(Output& inner, bool sum = false) : m_inner(inner), m_sum(sum) {}
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override {
        const std::uint32_t n = m_inner.writeBytes(data, size, count, monitor, log);
        passed(data, static_cast<std::uint64_t>(size) * n);
        return n;
    }
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override {
        const std::uint32_t n = m_inner.writeBytes64(data, size, count, monitor, log);
        passed(data, size * n);
        return n;
    }
    bool isHalted() override { return m_inner.isHalted(); }
    std::uint64_t bytes() const { return m_bytes; }
    std::uint32_t adler() const { return m_adler; }

private:
    void passed(const void* data, std::uint64_t n) {
        if (m_sum)
            m_adler = platform::Adler32(m_adler, data, static_cast<std::size_t>(n));
        m_bytes += n;
    }

    Output& m_inner;
    bool m_sum;
    std::uint64_t m_bytes = 0;
    std::uint32_t m_adler = platform::kAdler32Start;
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

// The source of a member after the first: what the inflater read past
// the previous member is given back to be read first, and reads are kept
// short, so that many small members cost time in proportion to their size.
class MemberSource : public DataSource {
public:
    explicit MemberSource(DataSource& inner) : m_inner(inner) {}
    bool readChunk(void* buffer, std::uint32_t size, std::uint32_t* bytesRead, LogBase* log) override {
        if (m_given)
            size = size < kMemberRead ? size : kMemberRead;
        if (m_at < m_pending.size()) {
            const std::size_t n = std::min<std::size_t>(size, m_pending.size() - m_at);
            std::memcpy(buffer, m_pending.data() + m_at, n);
            m_at += n;
            *bytesRead = static_cast<std::uint32_t>(n);
            return true;
        }
        return m_inner.readChunk(buffer, size, bytesRead, log);
    }
    bool endOfStream() override { return m_at >= m_pending.size() && m_inner.endOfStream(); }
    // The bytes are read again, before anything not read yet; the reads
    // after them are short unless they go back before any data.
    void giveBack(const std::string& bytes, bool shortReads = true) {
        m_pending = bytes + m_pending.substr(m_at);
        m_at = 0;
        m_given = m_given || shortReads;
    }

private:
    // zlib's own gzip reader reads this much at a time.
    static constexpr std::uint32_t kMemberRead = 8192;
    DataSource& m_inner;
    std::string m_pending;
    std::size_t m_at = 0;
    bool m_given = false;
};

// Reads until n bytes or the end of the source; the count read.
std::uint32_t readUpTo(DataSource& source, unsigned char* buffer, std::uint32_t n, LogBase& log) {
    std::uint32_t got = 0;
    while (got < n) {
        std::uint32_t r = 0;
        if (!source.readChunk(buffer + got, n - got, &r, &log) || r == 0)
            break;
        got += r;
    }
    return got;
}

// Whether the bytes already read and the rest of the source are all zero
// (padding, which gzip readers pass over).
bool onlyZerosFollow(DataSource& source, const unsigned char* read, std::uint32_t n, LogBase& log) {
    for (std::uint32_t i = 0; i < n; ++i)
        if (read[i] != 0)
            return false;
    unsigned char block[kZeroScanBlock];
    while (true) {
        std::uint32_t r = 0;
        if (!source.readChunk(block, sizeof block, &r, &log) || r == 0)
            return true;
        for (std::uint32_t i = 0; i < r; ++i)
            if (block[i] != 0)
                return false;
    }
}

bool readMemberHeader(DataSource& source, LogBase& log) {
    unsigned char h[Gzip::kHeaderSize];
    if (!readExactly(source, h, Gzip::kHeaderSize, log)) {
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
    return true;
}

// Where the member's deflate data starts, past the header at p[0]; 0 when
// the header is damaged (logged).
std::uint32_t memberDataStart(const unsigned char* p, std::uint32_t size, LogBase& log) {
    if (size < Gzip::kHeaderSize) {
        log.logError(gzip_msg::kTooSmall);
        return 0;
    }
    if (!checkIdAndMethod(p, log))
        return 0;
    const unsigned char flags = p[3];
    std::uint32_t at = Gzip::kHeaderSize;
    // Every optional field must end before the last byte.
    auto overrun = [&](std::uint32_t end) {
        if (end < size - 1)
            return false;
        log.logError(gzip_msg::kOverrun);
        return true;
    };
    if (flags & kFlagExtra) {
        if (overrun(at + 1))
            return 0;
        at += 2 + (static_cast<std::uint32_t>(p[at]) | static_cast<std::uint32_t>(p[at + 1]) << 8);
        if (overrun(at - 1))
            return 0;
    }
    for (unsigned char flag : {kFlagName, kFlagComment}) {
        if (!(flags & flag))
            continue;
        while (at < size - 1 && p[at] != 0)
            ++at;
        if (overrun(at))
            return 0;
        ++at;
    }
    if (flags & kFlagHeaderCrc) {
        if (overrun(at + 1))
            return 0;
        at += 2;
    }
    return at;
}

// Inflates the deflate data at the front of `in` into out. What the
// inflater read past the data is given back, to be read again: a trailer,
// then whatever follows.
bool inflateFront(MemberSource& in, Output& out, std::uint32_t& crc, LogBase& log) {
    TailSource tail(in);
    ZipPipeline pipe;
    pipe.setDeflateLevel(Gzip::kLevel);
    pipe.setSourceDataSource(&tail);
    pipe.setSourceCompressed(true);
    pipe.setDestCompressed(false);
    pipe.setOutput(&out);
    if (!pipe.run(&crc, log, kCallerSource, false))
        return false;
    const std::uint32_t leftOver = pipe.getBytesLeftOver();
    if (leftOver > tail.tail().size()) {
        log.logError(gzip_msg::kNoTrailer);
        return false;
    }
    in.giveBack(tail.tail().substr(tail.tail().size() - leftOver));
    return true;
}

// What follows a member: the end, zero bytes of padding (both fine), or
// another member.
enum class AfterMember { kEnd, kMember, kGarbage };

AfterMember afterMember(const unsigned char* p, std::uint32_t n) {
    if (n >= 2 && p[0] == kId1 && p[1] == kId2)
        return AfterMember::kMember;
    for (std::uint32_t i = 0; i < n; ++i)
        if (p[i] != 0)
            return AfterMember::kGarbage;
    return AfterMember::kEnd;
}

} // namespace

Gzip::~Gzip() = default;

// Every member in turn, their data concatenated; each member's CRC-32 and
// ISIZE are those right after its own deflate data.
bool Gzip::unGzipMemory(const DataBuffer& gz, DataBuffer& out, LogBase& log) {
    out.clear();
    const std::uint32_t size = gz.getSize();
    const unsigned char* p = gz.getData();
    if (size >= kTrailerSize) {
        // The last ISIZE only hints at the room to reserve.
        const std::uint32_t hint = platform::LoadLe32(p + size - 4);
        out.ensureCapacity((hint < kMaxReserve ? hint : kMaxReserve) + kReserveSlack);
    }
    std::uint32_t at = 0;
    while (true) {
        const std::uint32_t dataStart = memberDataStart(p + at, size - at, log);
        if (dataStart == 0)
            return false;
        const std::uint32_t before = out.getSize();
        const std::uint32_t data = at + dataStart;
        OutputDataBuffer sink(&out);
        PipelineHelp help;
        std::uint32_t crc = 0;
        std::uint32_t consumed = 0;
        if (!help.inflateMemoryToOutput(p + data, size - data, sink, &crc, log, false, &consumed))
            return false;
        const std::uint32_t trailer = data + consumed;
        if (size - trailer < kTrailerSize) {
            log.logError(gzip_msg::kNoTrailer);
            return false;
        }
        log.logDataLong("CompressedSize", static_cast<int>(consumed));
        log.logDataInt64("UncompressedSize", platform::LoadLe32(p + trailer + 4));
        if (!checkTrailer(crc, out.getSize() - before, p + trailer, log))
            return false;
        at = trailer + kTrailerSize;
        switch (afterMember(p + at, size - at)) {
        case AfterMember::kEnd: return true;
        case AfterMember::kMember: continue;
        case AfterMember::kGarbage: log.logError(gzip_msg::kTrailingGarbage); return false;
        }
    }
}

// Every member in turn, their data concatenated into `out`; each member's
// trailer is checked, and what follows the last one must be nothing or
// zero bytes of padding.
bool Gzip::unGzipSource(DataSource& source, Output& out, LogBase& log) {
    MemberSource in(source);
    while (true) {
        if (!readMemberHeader(in, log))
            return false;
        CountingOutput counted(out);
        std::uint32_t crc = 0;
        if (!inflateFront(in, counted, crc, log))
            return false;
        unsigned char trailer[kTrailerSize];
        if (!readExactly(in, trailer, kTrailerSize, log)) {
            log.logError(gzip_msg::kNoTrailer);
            return false;
        }
        if (!checkTrailer(crc, counted.bytes(), trailer, log))
            return false;
        unsigned char next[2];
        const std::uint32_t got = readUpTo(in, next, sizeof next, log);
        if (got == sizeof next && next[0] == kId1 && next[1] == kId2) {
            in.giveBack(std::string(reinterpret_cast<const char*>(next), sizeof next));
            continue;
        }
        if (!onlyZerosFollow(in, next, got, log)) {
            log.logError(gzip_msg::kTrailingGarbage);
            return false;
        }
        return true;
    }
}

bool Gzip::unDeflateSource(DataSource& source, Output& out, LogBase& log) {
    MemberSource in(source);
    unsigned char head[kZlibHeaderSize];
    const std::uint32_t got = readUpTo(in, head, kZlibHeaderSize, log);
    const bool zlib = got == kZlibHeaderSize && zlibHeaderFault(head[0], head[1]) == nullptr;
    if (zlib && (head[1] & kZlibFlagDict) != 0) {
        log.logError(gzip_msg::kZlibDictionary);
        return false;
    }
    if (!zlib)
        in.giveBack(std::string(reinterpret_cast<const char*>(head), got), false);
    CountingOutput counted(out, zlib);
    std::uint32_t crc = 0;
    if (!inflateFront(in, counted, crc, log))
        return false;
    unsigned char rest[kDeflateTailLook];
    const std::uint32_t tail = readUpTo(in, rest, kDeflateTailLook, log);
    const std::uint32_t adler = counted.adler();
    if (const char* fault = deflateTailFault(rest, tail, zlib ? &adler : nullptr)) {
        log.logError(fault);
        return false;
    }
    return true;
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
    // Only a regular file can be read back and replaced: a device or a
    // pipe is refused before it is read.
    if (pathKindUtf8(path.getUtf8()) != platform::PathKind::Regular) {
        log.logError(stream_msg::kNotRegularFile);
        log.logData("path", path.getUtf8());
        return false;
    }
    TessikHandle handle;
    int errorKind = 0;
    if (!openFileForRead(handle, path, errorKind, &log))
        return false;
    FileDataSource source;
    source.setHandle(&handle);
    OutputFile replacement;
    if (!replacement.createReplacement(path.getUtf8(), log)) {
        log.logError("Failed to open temp file for ungzip.");
        return false;
    }
    if (!unGzipSource(source, replacement, log)) {
        log.logError("Failed to unGzip output file");
        return false;
    }
    handle.close();
    if (!replacement.commit(log)) {
        log.logError("Failed to move temp file to destination");
        log.logData("destFile", path.getUtf8());
        return false;
    }
    return true;
}

} // namespace tessik
