#pragma once
// How a response body is delimited, and an incremental decoder of chunked
// bodies that plain and TLS connections share: bytes go in as they arrive,
// in pieces of any size, and the decoder says where the body ends.
#include <cstdint>
#include <memory>
#include <vector>

#include "netlib/core/StringBuffer.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/Output.h"

namespace tessik {

class DataBuffer;
class DataSource;
class HttpResponseHeader;
class HttpResult;
class LogBase;
class ProgressMonitor;
class StringBuffer;
class CappedOutput;

namespace http_body {
// A size line or a trailer line longer than this is not HTTP.
inline constexpr std::uint32_t kMaxLineLength = 8192;
// All trailer lines together.
inline constexpr std::uint32_t kMaxTrailerBytes = 65536;
// 16 hex digits fill 64 bits.
inline constexpr int kMaxSizeDigits = 16;
inline constexpr const char* kMsgTooLarge = "Chunked response is too large.";
inline constexpr const char* kMsgBadChunk = "Invalid chunk framing in response body.";
inline constexpr const char* kMsgLengthTooLarge = "Content length more than the maximum allowed.";
inline constexpr const char* kMsgResponseTooLarge = "Response is too large.";
inline constexpr const char* kMsgCodingNotUndone = "The response body is not whole in its content coding.";
inline constexpr const char* kMsgUnknownCoding = "The response has a content coding the library does not undo.";
inline constexpr const char* kMsgDecodedTooLarge = "Decompressed response is larger than the maximum allowed.";
} // namespace http_body

struct BodyFraming {
    enum Kind : int {
        kNone = 0,       // no body at all
        kLength = 1,     // exactly `length` bytes (0 included)
        kChunked = 2,    // chunked transfer coding
        kUntilClose = 3, // until the server closes the connection
        kSkip = 4,       // a body of unknown length nobody needs: not read
        kRefused = 5,    // framed by a Content-Length that is no number
        kBadCoding = 6,  // a transfer coding other than chunked and identity
    };
    Kind kind = kNone;
    std::uint64_t length = 0;
    // The connection cannot carry another response after this one.
    bool closeAfter = false;
};

// HEAD, 1xx, 204 and 304 have no body; then chunked (the Transfer-Encoding
// fields naming chunked and nothing but identity besides; any other coding
// is refused, unless the answer is a redirect the call follows, whose body
// is skipped); then Content-Length for any status (refused when it is no
// valid length); without framing, a 3xx is skipped (and the connection
// closed) and every other status is read until the server closes.
BodyFraming decideBodyFraming(const HttpResponseHeader& header, bool headRequest, bool followsRedirect = false);
// False (with the log line) when a known length passes maxSize (0: none).
bool checkBodyLength(const BodyFraming& framing, std::uint64_t maxSize, LogBase& log);

// Whether an answer names a content coding other than identity.
bool hasContentCoding(const HttpResponseHeader& header);
// Whether the answer names a coding the library does not undo that the
// request, as sent, asked for in its Accept-Encoding: the library asks for
// gzip alone, so it is the caller's own, who takes the body as it came.
bool codingAskedByCaller(const HttpResponseHeader& header, const StringBuffer& requestHead);
// The head an answer is kept under in a cache: the Content-Encoding goes
// from the head of a body whose codings were undone, and stays on one kept
// as it came (a redirect's the road followed, one in a coding the caller
// asked for, one kept before bodies were unpacked whole): a cached body is
// never under a head that misnames its coding.
void storedHead(const HttpResult& result, StringBuffer& out);
// Whether its one coding is gzip: a file named as a gzip file keeps it.
bool codedAsGzipOnly(const HttpResponseHeader& header);
// The one rule for a coded body, on every road: the content of the `size`
// bytes of body read from `in`, each coding its Content-Encoding names
// undone (gzip or x-gzip, deflate, identity; the last applied first), goes
// to out, at most maxSize bytes of it (0: no limit). An empty body is
// nothing to undo. False, with the reason, for any other coding and for a
// body not whole in its coding (bad data, CRC or length, cut short, bytes
// after it): such a body is not the resource.
bool undoContentCodings(const HttpResponseHeader& header, DataSource& in, std::uint64_t size, Output& out,
                        std::uint64_t maxSize, LogBase& log);
// The same rule as the body arrives: written to it, the body's codings are
// undone on the way to out, and only the inflaters' windows are held, however
// many codings are stacked. A write fails once the body is found not whole
// or past the limit; finish(), after the last byte, gives the verdict (each
// logged). With no coding the body passes to out as it is.
class ContentDecoder : public Output {
public:
    ContentDecoder(const HttpResponseHeader& header, Output& out, std::uint64_t maxSize, LogBase& log);
    ~ContentDecoder() override;

    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    // The body's bytes taken so far, as they came.
    std::int64_t getPosition64() override { return static_cast<std::int64_t>(m_taken); }
    bool isHalted() override { return !m_known || m_reported; }
    bool finish(LogBase& log);

private:
    bool failed(LogBase& log);

    // A coding named that the library does not undo takes nothing.
    bool m_known = false;
    bool m_reported = false;
    std::uint64_t m_taken = 0;
    std::vector<std::unique_ptr<CappedOutput>> m_limits;
    std::vector<std::unique_ptr<UnpackOutput>> m_layers;
    Output* m_entry;
};

// The same in memory: the body is replaced by its content, or emptied.
bool undoContentCodings(const HttpResponseHeader& header, DataBuffer& body, std::uint64_t maxSize, LogBase& log,
                        ProgressMonitor* pm);

// Passes writes on to another Output until they would take it past a
// limit of bytes written through it (0: none); that write and every later
// one fail, with one log line.
class CappedOutput : public Output {
public:
    CappedOutput(Output& inner, std::uint64_t limit);
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor* monitor,
                             LogBase& log) override;
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* monitor,
                               LogBase& log) override;
    bool seekToEnd(LogBase& log) override { return m_inner.seekToEnd(log); }
    bool seekTo(std::int64_t position, LogBase& log) override { return m_inner.seekTo(position, log); }
    std::int64_t getPosition64() override { return m_inner.getPosition64(); }
    bool resetOutput(LogBase& log) override;
    void getDescription(StringBuffer& out) override { m_inner.getDescription(out); }
    bool copyToDb(DataBuffer& out) override { return m_inner.copyToDb(out); }
    DataBuffer* getDataBuffer() override { return m_inner.getDataBuffer(); }
    bool isHalted() override { return m_limitHit || m_inner.isHalted(); }
    bool ensureCapacity(std::uint32_t n) override;
    bool limitHit() const { return m_limitHit; }
    std::uint64_t written() const { return m_written; }

private:
    bool admit(std::uint64_t bytes, LogBase& log);
    template <class Size, class Write>
    std::uint32_t passOn(Size size, std::uint32_t count, LogBase& log, Write&& write);

    Output& m_inner;
    std::uint64_t m_limit;
    std::uint64_t m_written;
    bool m_limitHit;
};

class ChunkedDecoder {
public:
    explicit ChunkedDecoder(std::uint64_t maxBody = 0);

    void reset();
    // Decodes what it can of data into out and sets `consumed` to the bytes
    // it took; it stops right after the body's end, so what follows belongs
    // to the next response. False on bad framing, a body past maxBody or a
    // failed write (each logged).
    bool feed(const unsigned char* data, std::uint32_t n, Output& out, std::uint32_t& consumed, LogBase& log,
              ProgressMonitor* pm);
    bool isDone() const { return m_state == kDone; }
    std::uint64_t bodySize() const { return m_total; }

private:
    enum State : int { kSizeLine, kData, kDataCr, kDataLf, kTrailer, kDone, kFailed };

    bool fail(LogBase& log, const char* message);
    bool endSizeLine(LogBase& log, ProgressMonitor* pm);

    State m_state;
    std::uint64_t m_maxBody;
    std::uint64_t m_remaining;
    std::uint64_t m_total;
    std::uint32_t m_trailerBytes;
    StringBuffer m_line;
};

} // namespace tessik
