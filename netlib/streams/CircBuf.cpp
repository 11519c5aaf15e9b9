#include "netlib/streams/CircBuf.h"

#include <cstdlib>
#include <cstring>

namespace tessik {

namespace {

// Room kept past the data so a word-wide read at its end stays inside.
constexpr std::uint32_t kTailRoom = 8;

} // namespace

CircBuf::CircBuf() : m_block(nullptr), m_capacity(0), m_start(0), m_end(0), m_bitOffset(0) {}

CircBuf::~CircBuf() {
    std::free(m_block);
}

void CircBuf::reset() {
    std::free(m_block);
    m_block = nullptr;
    m_capacity = m_start = m_end = 0;
    m_bitOffset = 0;
}

bool CircBuf::append(const void* data, std::uint32_t n) {
    if (n == 0)
        return true;
    std::uint32_t queued = m_end - m_start;
    if (n > kMaxQueued - queued)
        return false;
    if (static_cast<std::uint64_t>(m_end) + n + kTailRoom > m_capacity) {
        // Move what is unread to the front, growing the block if it must.
        std::uint64_t needed = static_cast<std::uint64_t>(queued) + n + kTailRoom;
        if (needed > m_capacity) {
            std::uint64_t grown = needed + needed / 2;
            auto* block = static_cast<unsigned char*>(std::malloc(grown));
            if (block == nullptr)
                return false;
            if (queued)
                std::memcpy(block, m_block + m_start, queued);
            std::free(m_block);
            m_block = block;
            m_capacity = static_cast<std::uint32_t>(grown);
        } else if (queued) {
            std::memmove(m_block, m_block + m_start, queued);
        }
        m_start = 0;
        m_end = queued;
    }
    std::memcpy(m_block + m_end, data, n);
    m_end += n;
    std::memset(m_block + m_end, 0, kTailRoom);
    return true;
}

bool CircBuf::consumeBits(std::uint64_t n) {
    std::uint64_t available = static_cast<std::uint64_t>(m_end - m_start) * 8 - m_bitOffset;
    if (n > available)
        return false;
    n += m_bitOffset;
    m_start += static_cast<std::uint32_t>(n / 8);
    m_bitOffset = static_cast<unsigned>(n % 8);
    return true;
}

} // namespace tessik
