#include "netlib/core/TessikObject.h"

#include <atomic>

namespace tessik {

namespace {
// Objects are created on many threads; a plain counter would hand out
// duplicate serials.
std::atomic<std::uint64_t> g_nextSerial{100};
} // namespace

TessikObject::TessikObject() : m_serial(g_nextSerial.fetch_add(1, std::memory_order_relaxed)) {}

// A copy is a new object and draws its own serial.
TessikObject::TessikObject(const TessikObject&) : TessikObject() {}

TessikObject::~TessikObject() = default;

TessikInt::~TessikInt() = default;

} // namespace tessik
