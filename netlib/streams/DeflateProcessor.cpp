#include "netlib/streams/DeflateProcessor.h"

#include <new>

#include "netlib/streams/StreamConstants.h"
#include "platform/Adler32.h"

namespace tessik {

DeflateProcessor::DeflateProcessor()
    : m_level(platform::DeflateEngine::kDefaultLevel), m_nextIn(nullptr), m_inAvailable(0), m_deflateFinished(false),
      m_pendingOut(0), m_pendingOutDone(0), m_bytesIn(0), m_bytesOut(0), m_crcResult(0),
      m_checksum(platform::kAdler32Start), m_computeCrc(true), m_keepChecksum(false), m_keepCrc(false) {}

DeflateProcessor::~DeflateProcessor() = default;

const char* DeflateProcessor::getProcessorName() const {
    return "DeflateProcessor";
}

void DeflateProcessor::beginProcessing() {
    m_stream.reset(new (std::nothrow) ZeeStream(m_level, m_keepChecksum));
    if (m_stream)
        m_stream->setLevel(m_level);
    if (!m_output)
        m_output.reset(new (std::nothrow) unsigned char[kDeflateOutputSize]);
    m_nextIn = nullptr;
    m_inAvailable = 0;
    m_deflateFinished = false;
    m_pendingOut = m_pendingOutDone = 0;
    m_bytesIn = m_bytesOut = 0;
    m_headerSent = false;
    if (m_computeCrc && !isEncrypting())
        m_zipCrc.beginStream();
    m_crcResult = 0;
    m_checksum = platform::kAdler32Start;
}

void DeflateProcessor::endProcessing() {
    if (!m_keepCrc && !isEncrypting() && m_computeCrc)
        m_crcResult = m_zipCrc.endStream();
}

std::uint32_t DeflateProcessor::getCrc() const {
    return isEncrypting() ? checkCrc : m_crcResult;
}

std::uint64_t DeflateProcessor::getNumBytesHeld64() {
    std::uint64_t held = m_ring.getHeld() + m_pendingOut - m_pendingOutDone;
    if (m_source)
        held += m_inAvailable;
    // The run goes on until the stream has emitted its end.
    if (!m_deflateFinished || cryptHeaderOwed())
        held += 1;
    return held;
}

void DeflateProcessor::takeIn(const unsigned char* data, std::uint32_t n) {
    if (n == 0)
        return;
    m_bytesIn += n;
    if (m_computeCrc && !isEncrypting())
        m_zipCrc.moreData(data, n);
    if (m_keepChecksum)
        m_checksum = platform::Adler32(m_checksum, data, n);
}

int DeflateProcessor::deflateStep(const unsigned char* input, std::uint32_t available, bool finish,
                                  std::uint32_t& consumed, LogBase* log) {
    m_stream->nextIn = input;
    m_stream->availIn = available;
    m_stream->nextOut = m_output.get();
    m_stream->availOut = kDeflateOutputSize;
    bool finished = false;
    if (!m_stream->deflate(finish, finished)) {
        if (log)
            log->logError(stream_msg::kDeflateStepFailed);
        return kChunkFailed;
    }
    consumed = available - m_stream->availIn;
    m_pendingOut = kDeflateOutputSize - m_stream->availOut;
    m_pendingOutDone = 0;
    if (finish && finished)
        m_deflateFinished = true;
    return kChunkOk;
}

int DeflateProcessor::passOutput(LogBase* log) {
    std::uint32_t capacity = sinkCapacity();
    // The header goes ahead of the first compressed byte.
    if (m_pendingOut > m_pendingOutDone || m_deflateFinished) {
        if (sendCryptHeaderOnce(m_cipher, capacity, m_bytesOut, log) != kChunkOk)
            return kChunkFailed;
        if (cryptHeaderOwed())
            return kChunkOk;
    }
    std::uint32_t left = m_pendingOut - m_pendingOutDone;
    std::uint32_t n = left < capacity ? left : capacity;
    if (n == 0)
        return kChunkOk;
    unsigned char* data = m_output.get() + m_pendingOutDone;
    if (appliesTraditionalCipher())
        m_cipher.encryptBytes(data, n);
    m_bytesOut += n;
    m_moved += n;
    if (!m_sink->writeBytes(data, n, log))
        return kChunkFailed;
    m_pendingOutDone += n;
    if (m_pendingOutDone == m_pendingOut)
        m_pendingOut = m_pendingOutDone = 0;
    return kChunkOk;
}

int DeflateProcessor::processChunk(LogBase* log) {
    if (m_sink == nullptr)
        return kChunkFailed;
    if (!m_stream || !m_stream->isReady() || !m_output) {
        if (log)
            log->logError(stream_msg::kDeflateNoMemory);
        return kChunkFailed;
    }
    if (m_source == nullptr)
        return processFromRing(log);

    bool eof = m_source->endOfStream();
    if (m_inAvailable == 0 && !eof) {
        std::uint32_t n = 0;
        if (!readSource(n, eof))
            return kChunkFailed;
        takeIn(m_input, n);
        m_nextIn = m_input;
        m_inAvailable = n;
    }
    // The step writes its output buffer from the start: only once the last
    // output has gone on.
    if (m_pendingOut == 0 && (m_inAvailable > 0 || (eof && !m_deflateFinished))) {
        std::uint32_t consumed = 0;
        if (deflateStep(m_nextIn, m_inAvailable, eof, consumed, log) != kChunkOk)
            return kChunkFailed;
        m_nextIn += consumed;
        m_inAvailable -= consumed;
    }
    if (passOutput(log) != kChunkOk)
        return kChunkFailed;
    if (m_pendingOut == 0 && m_inAvailable == 0 && eof && m_deflateFinished && !cryptHeaderOwed())
        m_sink->setInputFinished();
    return kChunkOk;
}

int DeflateProcessor::processFromRing(LogBase* log) {
    unsigned char* regions[2];
    std::uint32_t lengths[2];
    m_ring.getReadRegions(&regions[0], &lengths[0], &regions[1], &lengths[1]);
    bool finish = lengths[0] == 0 && isInputFinished();
    if (m_pendingOut == 0 && (lengths[0] > 0 || (finish && !m_deflateFinished))) {
        std::uint32_t consumed = 0;
        if (deflateStep(regions[0], lengths[0], finish, consumed, log) != kChunkOk)
            return kChunkFailed;
        takeIn(regions[0], consumed);
        m_moved += consumed;
        m_ring.consume(consumed);
    }
    if (passOutput(log) != kChunkOk)
        return kChunkFailed;
    if (m_ring.getHeld() == 0 && m_pendingOut == 0 && isInputFinished() && m_deflateFinished && !cryptHeaderOwed())
        m_sink->setInputFinished();
    return kChunkOk;
}

} // namespace tessik
