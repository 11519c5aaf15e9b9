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
// The first member is fed to the inflater in pieces this large, a later one
// in short pieces, so that many small members cost time in proportion to
// their size (what the inflater took past a member's end is taken again).
constexpr std::uint32_t kFirstMemberPiece = 64 * 1024;
constexpr std::uint32_t kLaterMemberPiece = 8192;
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

// Both read through the one unpacker a piece at a time.
namespace {

bool unpackSource(UnpackOutput::Format format, DataSource& source, Output& out, LogBase& log) {
    UnpackOutput unpack(format, out);
    return source.copyToOutput(unpack, nullptr, &log) && unpack.finish(log);
}

} // namespace

bool Gzip::unGzipSource(DataSource& source, Output& out, LogBase& log) {
    return unpackSource(UnpackOutput::Format::kGzip, source, out, log);
}

bool Gzip::unDeflateSource(DataSource& source, Output& out, LogBase& log) {
    return unpackSource(UnpackOutput::Format::kDeflate, source, out, log);
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

// ---------------------------------------------------------------- unpacker

// What the inflater writes: counted, and checked by the member's CRC-32 or
// the zlib stream's Adler-32 on its way to the output.
class UnpackOutput::Checked : public Output {
public:
    explicit Checked(Output& inner) : m_inner(inner) {}
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override {
        return writeBytes64(data, size, count, monitor, log);
    }
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override {
        const std::uint32_t n = m_inner.writeBytes64(data, size, count, monitor, log);
        std::uint64_t bytes = 0;
        if (n != count || !blockByteCount(size, n, bytes))
            return 0;
        for (std::uint64_t at = 0; at < bytes;) {
            const auto piece = static_cast<std::uint32_t>(bytes - at < UINT32_MAX ? bytes - at : UINT32_MAX);
            const auto* p = static_cast<const unsigned char*>(data) + at;
            if (m_sumCrc)
                m_crc.moreData(p, piece);
            if (m_sumAdler)
                m_adler = platform::Adler32(m_adler, p, piece);
            at += piece;
        }
        m_bytes += bytes;
        return n;
    }
    bool isHalted() override { return m_inner.isHalted(); }
    void restart(bool crc, bool adler) {
        m_sumCrc = crc;
        m_sumAdler = adler;
        m_crc.beginStream();
        m_adler = platform::kAdler32Start;
        m_bytes = 0;
    }
    std::uint32_t crc() const { return m_crc.endStream(); }
    std::uint32_t adler() const { return m_adler; }
    std::uint64_t bytes() const { return m_bytes; }

private:
    Output& m_inner;
    bool m_sumCrc = false;
    bool m_sumAdler = false;
    ZipCRC m_crc;
    std::uint32_t m_adler = platform::kAdler32Start;
    std::uint64_t m_bytes = 0;
};

UnpackOutput::UnpackOutput(Format format, Output& out)
    : m_format(format), m_out(out), m_inflater(std::make_unique<InflateState2>()),
      m_checked(std::make_unique<Checked>(out)) {}

UnpackOutput::~UnpackOutput() = default;

std::uint32_t UnpackOutput::writeBytes(const void* data, std::uint32_t size, std::uint32_t count,
                                       ProgressMonitor* monitor, LogBase& log) {
    return writeBytes64(data, size, count, monitor, log);
}

std::uint32_t UnpackOutput::writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor*,
                                         LogBase& log) {
    std::uint64_t bytes = 0;
    if (m_failed || !blockByteCount(size, count, bytes))
        return 0;
    m_taken += bytes;
    return take(static_cast<const unsigned char*>(data), bytes, log) ? count : 0;
}

bool UnpackOutput::fail(LogBase& log, const char* reason) {
    if (reason != nullptr)
        log.logError(reason);
    m_failed = true;
    return false;
}

bool UnpackOutput::take(const unsigned char* p, std::uint64_t n, LogBase& log) {
    while (!m_failed) {
        // What the inflater took past a member's end comes before the rest.
        if (!m_carry.empty()) {
            std::string carried;
            carried.swap(m_carry);
            if (!take(reinterpret_cast<const unsigned char*>(carried.data()), carried.size(), log))
                return false;
            continue;
        }
        if (n == 0)
            return true;
        const std::uint64_t used = step(p, n, log);
        p += used;
        n -= used;
    }
    return false;
}

std::uint64_t UnpackOutput::step(const unsigned char* p, std::uint64_t n, LogBase& log) {
    switch (m_stage) {
    case Stage::kHead: return stepHead(p, n, log);
    case Stage::kData: return stepData(p, n, log);
    default: return stepAfterData(p, n, log);
    }
}

void UnpackOutput::nextHeadPart() {
    m_partSize = 0;
    // The optional parts in their order, each there when its flag is set.
    static constexpr struct {
        HeadPart part;
        unsigned char flag;
    } kParts[] = {{HeadPart::kExtraLength, kFlagExtra},
                  {HeadPart::kExtra, kFlagExtra},
                  {HeadPart::kName, kFlagName},
                  {HeadPart::kComment, kFlagComment},
                  {HeadPart::kHeadCrc, kFlagHeaderCrc}};
    bool past = m_headPart == HeadPart::kFixed;
    for (const auto& next : kParts) {
        if (past && (m_flags & next.flag) != 0) {
            m_headPart = next.part;
            return;
        }
        past = past || next.part == m_headPart;
    }
    startData();
}

void UnpackOutput::startData() {
    m_stage = Stage::kData;
    m_partSize = 0;
    m_inflater->reset(InflateState2::kWindowSize);
    m_checked->restart(m_format == Format::kGzip, m_zlib);
}

std::uint64_t UnpackOutput::stepHead(const unsigned char* p, std::uint64_t n, LogBase& log) {
    // Gathers a part of `want` bytes; true once it is whole.
    std::uint64_t used = 0;
    const auto gather = [&](std::uint32_t want) {
        const std::uint64_t take = std::min<std::uint64_t>(want - m_partSize, n);
        std::memcpy(m_part + m_partSize, p, static_cast<std::size_t>(take));
        m_partSize += static_cast<std::uint32_t>(take);
        used = take;
        return m_partSize == want;
    };
    if (m_format == Format::kDeflate) {
        if (!gather(kZlibHeaderSize))
            return used;
        m_zlib = zlibHeaderFault(m_part[0], m_part[1]) == nullptr;
        if (m_zlib && (m_part[1] & kZlibFlagDict) != 0) {
            fail(log, gzip_msg::kZlibDictionary);
            return used;
        }
        const std::string head(reinterpret_cast<const char*>(m_part), kZlibHeaderSize);
        startData();
        // Raw deflate data begins with the two bytes that were no zlib header.
        if (!m_zlib)
            m_carry = head;
        return used;
    }
    switch (m_headPart) {
    case HeadPart::kFixed:
        if (!gather(Gzip::kHeaderSize))
            return used;
        if (!checkIdAndMethod(m_part, log)) {
            fail(log, nullptr);
            return used;
        }
        m_flags = m_part[3];
        nextHeadPart();
        return used;
    case HeadPart::kExtraLength:
        if (!gather(2))
            return used;
        m_skip = static_cast<std::uint32_t>(m_part[0]) | static_cast<std::uint32_t>(m_part[1]) << 8;
        nextHeadPart();
        if (m_skip == 0)
            nextHeadPart();
        return used;
    case HeadPart::kExtra:
        used = std::min<std::uint64_t>(m_skip, n);
        m_skip -= static_cast<std::uint32_t>(used);
        if (m_skip == 0)
            nextHeadPart();
        return used;
    case HeadPart::kName:
    case HeadPart::kComment: {
        const void* end = std::memchr(p, 0, static_cast<std::size_t>(n));
        if (end == nullptr)
            return n;
        nextHeadPart();
        return static_cast<std::uint64_t>(static_cast<const unsigned char*>(end) - p) + 1;
    }
    case HeadPart::kHeadCrc:
        if (gather(2))
            nextHeadPart();
        return used;
    }
    return used;
}

std::uint64_t UnpackOutput::stepData(const unsigned char* p, std::uint64_t n, LogBase& log) {
    const std::uint32_t piece = m_members == 0 ? kFirstMemberPiece : kLaterMemberPiece;
    const auto feed = static_cast<std::uint32_t>(n < piece ? n : piece);
    bool finished = false;
    int code = 0;
    if (m_inflater->inflateChunk(p, feed, false, *m_checked, finished, log, code, 0) != 1) {
        fail(log, stream_msg::kInflateFailed);
        return feed;
    }
    if (!finished)
        return feed;
    // The bytes it took past the data's end are taken again, for the
    // trailer and what follows it.
    const unsigned char* past = nullptr;
    const std::uint32_t rest = m_inflater->bytesAfterStream(&past);
    m_stage = Stage::kTrailer;
    m_partSize = 0;
    if (rest <= feed)
        return feed - rest;
    m_carry.assign(reinterpret_cast<const char*>(past), rest - feed);
    return 0;
}

std::uint64_t UnpackOutput::stepAfterData(const unsigned char* p, std::uint64_t n, LogBase& log) {
    if (m_format == Format::kDeflate) {
        // Judged by the one rule for what may follow deflate data, at the end
        // or as soon as there is more than it ever needs to see.
        const std::uint64_t take = std::min<std::uint64_t>(kDeflateTailLook - m_partSize, n);
        std::memcpy(m_part + m_partSize, p, static_cast<std::size_t>(take));
        m_partSize += static_cast<std::uint32_t>(take);
        if (m_partSize == kDeflateTailLook) {
            judgeDeflateTail(log);
            return n;
        }
        return take;
    }
    switch (m_stage) {
    case Stage::kTrailer: {
        const std::uint64_t take = std::min<std::uint64_t>(Gzip::kTrailerSize - m_partSize, n);
        std::memcpy(m_part + m_partSize, p, static_cast<std::size_t>(take));
        m_partSize += static_cast<std::uint32_t>(take);
        if (m_partSize == Gzip::kTrailerSize) {
            if (!checkTrailer(m_checked->crc(), m_checked->bytes(), m_part, log))
                fail(log, nullptr);
            ++m_members;
            m_stage = Stage::kNext;
            m_partSize = 0;
        }
        return take;
    }
    case Stage::kNext:
        // Another member, or zero bytes of padding to the end.
        if (m_partSize == 0 && p[0] == 0) {
            m_stage = Stage::kPadding;
            return 0;
        }
        if (p[0] != (m_partSize == 0 ? kId1 : kId2)) {
            fail(log, gzip_msg::kTrailingGarbage);
            return n;
        }
        m_part[m_partSize++] = p[0];
        if (m_partSize == 2) {
            m_stage = Stage::kHead;
            m_headPart = HeadPart::kFixed;
        }
        return 1;
    default:
        for (std::uint64_t i = 0; i < n; ++i) {
            if (p[i] != 0) {
                fail(log, gzip_msg::kTrailingGarbage);
                break;
            }
        }
        return n;
    }
}

bool UnpackOutput::endOfDeflate(LogBase& log) {
    bool finished = false;
    int code = 0;
    if (m_inflater->inflateChunk(nullptr, 0, true, *m_checked, finished, log, code, 0) != 1 || !finished)
        return fail(log, stream_msg::kInflateFailed);
    const unsigned char* past = nullptr;
    const std::uint32_t rest = m_inflater->bytesAfterStream(&past);
    const std::string after(reinterpret_cast<const char*>(past), rest);
    m_stage = Stage::kTrailer;
    m_partSize = 0;
    return take(reinterpret_cast<const unsigned char*>(after.data()), after.size(), log);
}

bool UnpackOutput::judgeDeflateTail(LogBase& log) {
    const std::uint32_t adler = m_checked->adler();
    if (const char* fault = deflateTailFault(m_part, m_partSize, m_zlib ? &adler : nullptr))
        return fail(log, fault);
    return true;
}

bool UnpackOutput::finish(LogBase& log) {
    while (!m_failed) {
        switch (m_stage) {
        case Stage::kHead:
            if (m_format == Format::kDeflate) {
                // Too short for a zlib header: raw data, if anything.
                const std::string head(reinterpret_cast<const char*>(m_part), m_partSize);
                startData();
                m_carry = head;
                if (!take(nullptr, 0, log))
                    return false;
                continue;
            }
            switch (m_headPart) {
            case HeadPart::kFixed: return fail(log, "Failed to read 1st 10 bytes.");
            case HeadPart::kExtraLength: return fail(log, "Failed to read XLEN");
            case HeadPart::kExtra: return fail(log, "Failed to read extra field");
            case HeadPart::kName: return fail(log, gzip_msg::kNoFileName);
            case HeadPart::kComment: return fail(log, "Failed to read comment");
            case HeadPart::kHeadCrc: return fail(log, "Failed to read CRC");
            }
            return false;
        case Stage::kData:
            if (!endOfDeflate(log))
                return false;
            continue;
        case Stage::kTrailer:
            if (m_format == Format::kDeflate)
                return judgeDeflateTail(log);
            return fail(log, gzip_msg::kNoTrailer);
        case Stage::kNext:
            // A lone first byte of a member's id is no member.
            if (m_format == Format::kGzip && m_partSize != 0)
                return fail(log, gzip_msg::kTrailingGarbage);
            return true;
        case Stage::kPadding: return true;
        }
    }
    return false;
}

} // namespace tessik
