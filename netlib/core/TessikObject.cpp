#include "netlib/core/TessikObject.h"

#include <atomic>

namespace tessik {

namespace {
// Objects are created on many threads; a plain counter would hand out
// duplicate serials. Each thread takes a run of serials at a time, so that
// making an object (a tree node of a large document, say) costs no atomic
// operation: serials stay unique, and rise by one within a thread.
std::atomic<std::uint64_t> g_nextSerial{100};
constexpr std::uint64_t kSerialRun = 1024;
thread_local std::uint64_t t_nextSerial = 0;
thread_local std::uint64_t t_serialEnd = 0;

std::uint64_t nextSerial() {
    if (t_nextSerial == t_serialEnd) {
        t_nextSerial = g_nextSerial.fetch_add(kSerialRun, std::memory_order_relaxed);
        t_serialEnd = t_nextSerial + kSerialRun;
    }
    return t_nextSerial++;
}
} // namespace

TessikObject::TessikObject() : m_serial(nextSerial()) {}

// A copy is a new object and draws its own serial.
TessikObject::TessikObject(const TessikObject&) : TessikObject() {}

TessikObject::~TessikObject() = default;

TessikInt::~TessikInt() = default;

} // namespace tessik
