#include "netlib/streams/TessikDeflate.h"

#include <new>

#include "netlib/streams/Gzip.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/StreamConstants.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

// Deflate, 32 KiB window, default level, no dictionary; check bits valid.
constexpr unsigned char kZlibHeader[2] = {0x78, 0x9C};
constexpr std::uint32_t kZlibHeaderSize = 2;
constexpr unsigned char kMethodDeflate = 8;
constexpr unsigned char kMethodMask = 0x0F;
constexpr unsigned int kWindowInfoShift = 4;
constexpr unsigned int kMaxWindowInfo = 7; // a 32 KiB window
// The two bytes, read as one big-endian number, are a multiple of this.
constexpr unsigned int kCheckDivisor = 31;
constexpr std::uint32_t kAdlerSize = 4;
// Raw deflate data may be followed by this many bytes of anything.
constexpr std::uint32_t kRawDeflateSlack = 4;
static_assert(kDeflateTailLook > kRawDeflateSlack && kDeflateTailLook > kAdlerSize);

} // namespace

const char* zlibHeaderFault(unsigned char cmf, unsigned char flg) {
    if ((cmf * 256u + flg) % kCheckDivisor != 0)
        return "incorrect header check";
    if ((cmf & kMethodMask) != kMethodDeflate)
        return "unknown compression method";
    if ((cmf >> kWindowInfoShift) > kMaxWindowInfo)
        return "invalid window size";
    return nullptr;
}

const char* deflateTailFault(const unsigned char* after, std::uint32_t n, const std::uint32_t* adler) {
    if (!adler)
        return n > kRawDeflateSlack ? gzip_msg::kAfterDeflate : nullptr;
    if (n < kAdlerSize)
        return gzip_msg::kNoTrailer;
    if (platform::LoadBe32(after) != *adler)
        return gzip_msg::kAdlerMismatch;
    return n > kAdlerSize ? gzip_msg::kAfterDeflate : nullptr;
}

TessikDeflate::TessikDeflate() : m_level(kDefaultLevel), m_work(new(std::nothrow) unsigned char[kWorkSize]) {}

TessikDeflate::~TessikDeflate() = default;

bool TessikDeflate::beginCompress(DataBuffer& out) {
    m_stream.reset();
    if (!out.append(kZlibHeader, kZlibHeaderSize))
        return false;
    m_stream.reset(new (std::nothrow) ZeeStream(m_level, false));
    if (m_stream)
        m_stream->setLevel(m_level);
    return true;
}

bool TessikDeflate::compressChunk(const DataBuffer& in, DataBuffer& out, LogBase& log, ProgressMonitor* monitor) {
    if (!m_stream || !m_stream->isReady() || !m_work) {
        log.logError(stream_msg::kDeflateNotInitialized);
        return false;
    }
    if (in.getSize() == 0)
        return true;
    m_stream->nextIn = in.getData();
    m_stream->availIn = in.getSize();
    // Round after round until the chunk and its flush are out, whatever the
    // size of the work buffer.
    do {
        m_stream->nextOut = m_work.get();
        m_stream->availOut = kWorkSize;
        if (!m_stream->deflateFlushedChunk(log))
            return false;
        if (!out.append(m_work.get(), kWorkSize - m_stream->availOut))
            return false;
        if (monitor && monitor->abortCheckDefault()) {
            log.logError(stream_msg::kDeflateAborted2);
            return false;
        }
    } while (m_stream->availIn != 0 || m_stream->chunkFlushPending());
    return true;
}

bool TessikDeflate::inflateFromSource(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    InflateState2 inflater;
    inflater.reset(InflateState2::kWindowSize);
    OutputDataBuffer output(&out);
    bool finished = false;
    int code = 0;
    if (inflater.inflateDataBuffer(in, true, output, finished, log, code) != 1) {
        log.logDataLong("deflateError", code);
        return false;
    }
    if (!finished) {
        log.logError(stream_msg::kDeflatedEndedEarly);
        return false;
    }
    const unsigned char* after = nullptr;
    const std::uint32_t left = inflater.bytesAfterStream(&after);
    if (const char* fault = deflateTailFault(after, left < kDeflateTailLook ? left : kDeflateTailLook, nullptr)) {
        log.logError(fault);
        return false;
    }
    return true;
}

} // namespace tessik
