#include "netlib/transport/RateControl.h"

#include <algorithm>
#include <new>

#include "netlib/core/Progress.h"
#include "platform/Ticks.h"

namespace tessik {
namespace {

constexpr std::uint64_t kMsPerSecond = 1000;
constexpr std::uint64_t k32Bits = 0x100000000ULL;

} // namespace

TickClock::~TickClock() = default;

DWORD TickClock::ticks() {
    return platform::GetTickCount();
}

void TickClock::sleep(DWORD ms) {
    platform::Sleep(ms);
}

TickClock& TickClock::system() {
    static TickClock clock;
    return clock;
}

BandwidthThrottle::BandwidthThrottle(TickClock* clock)
    : m_clock(clock != nullptr ? clock : &TickClock::system()), m_start(m_clock->ticks()), m_elapsedMs(0), m_bytes(0),
      m_limit(0) {}

BandwidthThrottle::~BandwidthThrottle() = default;

void BandwidthThrottle::addBytes(std::uint64_t n) {
    if (m_limit == 0) {
        return;
    }
    std::uint64_t now = m_clock->ticks();
    if (now <= m_start) {
        m_start = now;
        m_elapsedMs = 0;
        m_bytes = 0;
        return;
    }
    m_elapsedMs = now - m_start;
    m_bytes += n;
}

void BandwidthThrottle::throttle(unsigned int heartbeatMs, ProgressMonitor* pm, bool* aborted) {
    *aborted = false;
    if (m_limit == 0) {
        return;
    }
    addBytes(0);
    if (m_elapsedMs < kMinElapsedMs) {
        return;
    }
    if (m_bytes * kMsPerSecond / m_elapsedMs < m_limit) {
        return;
    }
    std::uint64_t target = m_bytes * kMsPerSecond / m_limit;
    if (m_elapsedMs >= target) {
        return;
    }
    DWORD wait = static_cast<DWORD>(std::min(target - m_elapsedMs, kMaxWaitMs));
    if (heartbeatMs == 0 || pm == nullptr || wait < heartbeatMs) {
        m_clock->sleep(wait);
        return;
    }
    while (wait > 0) {
        DWORD slice = std::min<DWORD>(heartbeatMs, wait);
        m_clock->sleep(slice);
        wait -= slice;
        if (pm->abortCheck(heartbeatMs, 0)) {
            *aborted = true;
            return;
        }
    }
}

PerformanceMon::PerformanceMon(TickClock* clock)
    : m_clock(clock != nullptr ? clock : &TickClock::system()), m_earlierElapsedMs(0), m_earlierBytes(0),
      m_periodStart(m_clock->ticks()), m_currentBytes(0), m_lastUpdate(0), m_lastTotal(0), m_lastRate(0),
      m_minIntervalMs(kMinIntervalMs), m_direction(kNone) {}

PerformanceMon::~PerformanceMon() = default;

void PerformanceMon::addBytes(std::uint64_t n, ProgressMonitor* pm) {
    if (n == 0) {
        return;
    }
    m_currentBytes += n;
    if (pm != nullptr && pm->getEventSink() != nullptr) {
        update(false, pm->getEventSink());
    }
}

void PerformanceMon::update(bool forced, ProgressEvent* sink) {
    if (sink == nullptr) {
        return;
    }
    DWORD now = m_clock->ticks();
    if (!forced) {
        if (now < m_periodStart || now < m_lastUpdate) {
            reset();
            return;
        }
        if (now - m_lastUpdate < m_minIntervalMs) {
            return;
        }
    }
    if (m_currentBytes >= k32Bits) {
        return;
    }
    m_lastUpdate = now;
    DWORD d = now - m_periodStart;
    if (d == 0) {
        return;
    }
    std::uint64_t total = m_earlierBytes + m_currentBytes;
    std::uint64_t ms = m_earlierElapsedMs + d;
    std::uint64_t rate = total * kMsPerSecond / ms;
    if (rate >= k32Bits || (total == m_lastTotal && rate == m_lastRate)) {
        return;
    }
    if (m_direction == kSend) {
        sink->SendRate(static_cast<unsigned int>(total), static_cast<unsigned int>(rate));
    } else {
        sink->ReceiveRate(static_cast<unsigned int>(total), static_cast<unsigned int>(rate));
    }
    m_lastTotal = total;
    m_lastRate = rate;
}

void PerformanceMon::start() {
    m_currentBytes = 0;
    m_lastUpdate = 0;
    m_periodStart = m_clock->ticks();
}

void PerformanceMon::finish(ProgressMonitor* pm) {
    if (pm == nullptr || pm->getEventSink() == nullptr) {
        return;
    }
    update(true, pm->getEventSink());
    DWORD now = m_clock->ticks();
    if (now < m_periodStart || now < m_lastUpdate) {
        reset();
        return;
    }
    if (m_currentBytes < k32Bits) {
        m_earlierElapsedMs += now - m_periodStart;
        m_earlierBytes += m_currentBytes;
        m_currentBytes = 0;
        m_lastUpdate = 0;
        m_periodStart = now;
    }
}

void PerformanceMon::reset() {
    m_earlierElapsedMs = 0;
    m_earlierBytes = 0;
    m_currentBytes = 0;
    m_lastUpdate = 0;
    m_lastTotal = 0;
    m_lastRate = 0;
    m_periodStart = m_clock->ticks();
}

ParseBuffer::ParseBuffer() : m_data(nullptr), m_length(0), m_capacity(0), m_maxSize(kMaxSize) {
    m_data = new (std::nothrow) unsigned char[kInitialCapacity];
    if (m_data != nullptr) {
        m_data[0] = 0;
        m_capacity = kInitialCapacity;
    }
}

ParseBuffer::~ParseBuffer() {
    delete[] m_data;
}

void ParseBuffer::clear() {
    if (m_length != 0 && m_data != nullptr) {
        m_data[0] = 0;
        m_length = 0;
    }
}

} // namespace tessik
