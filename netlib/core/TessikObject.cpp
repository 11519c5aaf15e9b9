#include "netlib/core/TessikObject.h"

#include <atomic>

namespace tessik {

namespace {
// Objects are created on many threads; a plain counter would hand out
// duplicate serials. Each thread draws them from a block of its own, so the
// shared counter is touched once per block rather than once per object.
constexpr std::uint64_t kSerialBlock = 1024;
std::atomic<std::uint64_t> g_nextBlock{100};

std::uint64_t nextSerial() {
    thread_local std::uint64_t next = 0;
    thread_local std::uint64_t end = 0;
    if (next == end) {
        next = g_nextBlock.fetch_add(kSerialBlock, std::memory_order_relaxed);
        end = next + kSerialBlock;
    }
    return next++;
}
} // namespace

TessikObject::TessikObject() : m_serial(nextSerial()) {}

// A copy is a new object and draws its own serial.
TessikObject::TessikObject(const TessikObject&) : TessikObject() {}

TessikObject::~TessikObject() = default;

TessikInt::~TessikInt() = default;

} // namespace tessik
