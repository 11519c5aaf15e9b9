#pragma once
// Gzip members (RFC 1952) for the HTTP layer: bodies sent with the gzip
// content coding (and the deflate one) are unpacked in memory or from a
// stream, cached files in place, and request bodies compressed. The deflate
// work runs through the zip entry pipeline.
#include <cstdint>
#include <memory>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/Output.h"

namespace tessik {

namespace gzip_msg {
constexpr const char* kTooSmall = "Gzip data too small";
constexpr const char* kBadId = "Invalid GZip ID";
constexpr const char* kBadMethod = "Invalid GZip compression method";
constexpr const char* kOverrun = "Buffer would have been overrun";
constexpr const char* kNoTrailer = "Not enough data for trailing CRC32 or ISIZE";
constexpr const char* kCrcMismatch = "Gzip CRC-32 does not match the data";
constexpr const char* kSizeMismatch = "Gzip ISIZE does not match the data";
constexpr const char* kNoFileName = "Failed to read original filename";
constexpr const char* kTrailingGarbage = "Bytes after the last gzip member are not a gzip member";
constexpr const char* kAdlerMismatch = "Zlib Adler-32 does not match the data";
constexpr const char* kAfterDeflate = "Bytes follow the deflate data";
constexpr const char* kZlibDictionary = "Zlib data asks for a preset dictionary";
} // namespace gzip_msg

class Gzip {
public:
    static constexpr int kLevel = 6;
    static constexpr std::uint32_t kHeaderSize = 10;
    static constexpr std::uint32_t kTrailerSize = 8;

    virtual ~Gzip();

    // Every member's data, concatenated (RFC 1952, 2.2), each checked against
    // the CRC-32 and ISIZE right after its deflate data. Zero bytes after
    // the last member are padding; any other bytes there fail the whole.
    static bool unGzipMemory(const DataBuffer& gz, DataBuffer& out, LogBase& log);
    static bool unGzipSource(DataSource& source, Output& out, LogBase& log);
    // The HTTP deflate coding: zlib data (RFC 1950) with its Adler-32
    // checked and nothing after it or, when the first two bytes are no zlib
    // header, raw deflate data followed by at most four bytes, as the other
    // readers of that coding take it.
    static bool unDeflateSource(DataSource& source, Output& out, LogBase& log);
    // Raw deflate data at level 6, no gzip framing.
    static bool deflateSourceToOutput(DataSource& source, Output& out, std::uint64_t* inputBytes);
    static bool deflateMemory(const DataBuffer& in, DataBuffer& out);
    // A whole member (header, deflate data, CRC-32, ISIZE) appended to out.
    static bool gzipMemory(const DataBuffer& in, DataBuffer& out, LogBase& log);
    // Replaces a gzip file by its content (every member); the file stays as
    // it was unless all of it was read and checked.
    static bool unGzipFile(const char* utf8Path, LogBase& log);
};

// Gzip data (every member, as unGzipSource reads it) or the HTTP deflate
// coding (as unDeflateSource reads it) written in pieces of any size: the
// content goes on to `out` as it is unpacked, and nothing is held but the
// inflater's window and the few bytes of a head or trailer. A write fails
// once the data is found broken or out refuses what it is given; finish(),
// after the last piece, says whether all of it was whole.
class UnpackOutput : public Output {
public:
    enum class Format { kGzip, kDeflate };

    UnpackOutput(Format format, Output& out);
    ~UnpackOutput() override;

    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    // The packed bytes taken so far.
    std::int64_t getPosition64() override { return static_cast<std::int64_t>(m_taken); }
    bool isHalted() override { return m_failed || m_out.isHalted(); }
    bool finish(LogBase& log);

private:
    class Checked;
    enum class Stage { kHead, kData, kTrailer, kNext, kPadding };
    enum class HeadPart { kFixed, kExtraLength, kExtra, kName, kComment, kHeadCrc };

    bool take(const unsigned char* p, std::uint64_t n, LogBase& log);
    // Takes bytes from the front of p for the stage it is in; how many.
    std::uint64_t step(const unsigned char* p, std::uint64_t n, LogBase& log);
    std::uint64_t stepHead(const unsigned char* p, std::uint64_t n, LogBase& log);
    std::uint64_t stepData(const unsigned char* p, std::uint64_t n, LogBase& log);
    std::uint64_t stepAfterData(const unsigned char* p, std::uint64_t n, LogBase& log);
    void nextHeadPart();
    void startData();
    bool endOfDeflate(LogBase& log);
    // What followed the deflate data, gathered in m_part.
    bool judgeDeflateTail(LogBase& log);
    bool fail(LogBase& log, const char* reason);

    Format m_format;
    Output& m_out;
    std::unique_ptr<InflateState2> m_inflater;
    std::unique_ptr<Checked> m_checked;
    Stage m_stage = Stage::kHead;
    HeadPart m_headPart = HeadPart::kFixed;
    // The bytes of a head or trailer part gathered so far.
    unsigned char m_part[Gzip::kHeaderSize] = {};
    std::uint32_t m_partSize = 0;
    unsigned char m_flags = 0;
    std::uint32_t m_skip = 0;
    bool m_zlib = false;
    std::uint32_t m_members = 0;
    // Bytes the inflater took past the end of its data before this write.
    std::string m_carry;
    std::uint64_t m_taken = 0;
    bool m_failed = false;
};

} // namespace tessik
