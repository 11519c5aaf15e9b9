#pragma once
// Gathers converter output in a small local area and appends it to the
// buffer in chunks rather than byte by byte.
#include <cstdint>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "platform/ByteOrder.h"

namespace tessik {

template <unsigned int Size>
class ByteStaging {
public:
    explicit ByteStaging(DataBuffer& out) : m_out(out) {}
    ~ByteStaging() { flush(); }
    ByteStaging(const ByteStaging&) = delete;
    ByteStaging& operator=(const ByteStaging&) = delete;

    void put(const unsigned char* p, unsigned int n) {
        if (m_fill + n > Size)
            flush();
        if (n > Size) {
            m_out.append(p, n);
            return;
        }
        std::memcpy(m_area + m_fill, p, n);
        m_fill += n;
    }
    void put(unsigned char c) {
        if (m_fill == Size)
            flush();
        m_area[m_fill++] = c;
    }
    void put(unsigned char a, unsigned char b) {
        put(a);
        put(b);
    }
    // A UTF-16 code unit, low byte first.
    void putUnit(unsigned int u) {
        unsigned char le[2];
        platform::StoreLe16(le, static_cast<std::uint16_t>(u));
        put(le[0], le[1]);
    }
    void flush() {
        if (m_fill)
            m_out.append(m_area, m_fill);
        m_fill = 0;
    }

private:
    DataBuffer& m_out;
    unsigned char m_area[Size];
    unsigned int m_fill = 0;
};

// What a decoder does with input its page does not map: skip it, noted as
// dropped input (the decoder's result is then false), or, when `replaced`
// is given, write U+FFFD in its place and count it there.
struct UnmappedInput {
    std::uint64_t* replaced = nullptr;

    // True when the input was replaced.
    template <class Staging>
    bool take(Staging& s, unsigned int bytes) const {
        if (!replaced) {
            noteDroppedInput(bytes);
            return false;
        }
        s.putUnit(kReplacementUnit);
        *replaced += bytes;
        return true;
    }

    static constexpr unsigned int kReplacementUnit = 0xFFFD;
};

} // namespace tessik
