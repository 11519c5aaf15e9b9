#pragma once
// The inflater's input queue: chunks appended as they arrive, joined into one
// block so a bit field may span any of them, and consumed bit by bit from the
// front. Only what the decoder has not yet used is kept.
#include <cstdint>

namespace tessik {

class CircBuf {
public:
    // More unread input than this is refused.
    static constexpr std::uint32_t kMaxQueued = 0x7FFFFFFF;

    CircBuf();
    CircBuf(const CircBuf&) = delete;
    CircBuf& operator=(const CircBuf&) = delete;
    virtual ~CircBuf();

    // False when memory runs out or the queue would pass kMaxQueued; the
    // queue is then as it was.
    bool append(const void* data, std::uint32_t n);
    // At least n whole bytes are queued past the current bit.
    bool hasBytes(std::uint32_t n) const { return bytesQueued() >= n; }
    // Bytes from the one holding the current bit to the end.
    std::uint32_t bytesQueued() const { return m_end - m_start; }
    void bytesQueued(std::uint32_t* count) const { *count = bytesQueued(); }
    // Drops n bits from the front; false (nothing dropped) when they run
    // past the queued data.
    bool consumeBits(std::uint64_t n);
    void reset();

    const unsigned char* front() const { return m_block + m_start; }
    // 0 to 7: bits of the front byte already used.
    unsigned bitOffset() const { return m_bitOffset; }

private:
    unsigned char* m_block;
    std::uint32_t m_capacity;
    std::uint32_t m_start;
    std::uint32_t m_end;
    unsigned m_bitOffset;
};

} // namespace tessik
