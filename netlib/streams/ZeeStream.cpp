#include "netlib/streams/ZeeStream.h"

#include "netlib/streams/StreamConstants.h"
#include "platform/Adler32.h"

namespace tessik {

using Engine = platform::DeflateEngine;

ZeeStream::ZeeStream(int level, bool keep) {
    keepChecksum = keep;
    checksum = platform::kAdler32Start;
    state = Engine::create(*this, level);
}

ZeeStream::~ZeeStream() = default;

void ZeeStream::setLevel(int level) {
    if (state)
        state->setLevel(level);
}

void ZeeStream::syncStatus() {
    status = state->finishing() ? kStatusFinishing : kStatusBusy;
}

bool ZeeStream::deflate(bool finish, bool& finished) {
    finished = false;
    if (!state)
        return false;
    Engine::Result result = state->deflate(finish ? Engine::Flush::kFinish : Engine::Flush::kNone);
    syncStatus();
    if (result == Engine::Result::kStreamEnd)
        finished = true;
    return result == Engine::Result::kOk || result == Engine::Result::kStreamEnd;
}

bool ZeeStream::deflateFlushedChunk(LogBase& log) {
    if (!state || nextOut == nullptr || (nextIn == nullptr && availIn != 0) || availOut == 0)
        return false;
    if (!m_chunkFlushing) {
        if (availIn == 0)
            return true;
        if (state->pending() != 0) {
            log.logError(stream_msg::kUnexpectedPendingZlib);
            return false;
        }
        if (status == kStatusFinishing) {
            log.logError(stream_msg::kZlibStreamError2);
            return false;
        }
        state->setLevel(availIn >= kMinCompressedChunk ? kChunkLevel : 0);
    }
    if (m_chunkFlushing && state->fullFlushWritten()) {
        // Only output of the finished flush is left to hand over; input
        // given meanwhile is the next chunk's.
        state->flushPending();
        m_chunkFlushing = state->pending() != 0;
        return true;
    }
    Engine::Result result = state->deflate(Engine::Flush::kFull);
    syncStatus();
    if (result == Engine::Result::kStreamError) {
        log.logError(stream_msg::kZlibStreamError2);
        return false;
    }
    m_chunkFlushing = !(availIn == 0 && state->fullFlushWritten() && state->pending() == 0);
    return true;
}

void ZeeStream::flushPending() {
    if (state)
        state->flushPending();
}

std::uint32_t ZeeStream::updateChecksum(std::uint32_t running, const void* bytes, std::uint32_t length) {
    return platform::Adler32(running, bytes, length);
}

} // namespace tessik
