#pragma once
// What every socket owns to pace and measure one direction of transfer, and
// its receive buffer. Time is the millisecond tick count; a tick that goes
// backwards starts a new period.
#include <cstdint>

#include "netlib/core/Progress.h"
#include "platform/WinTypes.h"

namespace tessik {

// The tick count and the sleep of the rate classes; tests put a fake clock
// in its place.
class TickClock {
public:
    virtual ~TickClock();
    virtual DWORD ticks();
    virtual void sleep(DWORD ms);
    static TickClock& system();
};

// Caps the average rate of one direction by sleeping before a transfer.
class BandwidthThrottle {
public:
    static constexpr std::uint64_t kMinElapsedMs = 200;
    static constexpr std::uint64_t kMaxWaitMs = 20000;

    explicit BandwidthThrottle(TickClock* clock = nullptr);
    virtual ~BandwidthThrottle();

    // Bytes per second; 0 = unlimited.
    void setLimit(std::uint64_t bytesPerSecond) { m_limit = bytesPerSecond; }
    std::uint64_t getLimit() const { return m_limit; }

    void addBytes(std::uint64_t n);
    void throttle(unsigned int heartbeatMs, ProgressMonitor* pm, bool* aborted);

private:
    TickClock* m_clock;
    std::uint64_t m_start;
    std::uint64_t m_elapsedMs;
    std::uint64_t m_bytes;
    std::uint64_t m_limit;
};

// Measures the rate of one direction and reports it to the progress sink
// at most every kMinIntervalMs.
class PerformanceMon {
public:
    static constexpr DWORD kMinIntervalMs = 100;
    enum Direction : unsigned int { kNone = 0, kSend = 1, kReceive = 2 };

    explicit PerformanceMon(TickClock* clock = nullptr);
    virtual ~PerformanceMon();

    void setDirection(Direction direction) { m_direction = direction; }
    void addBytes(std::uint64_t n, ProgressMonitor* pm);
    void update(bool forced, ProgressEvent* sink);
    void start();
    void finish(ProgressMonitor* pm);
    void reset();

    std::uint64_t lastReportedTotal() const { return m_lastTotal; }
    std::uint64_t lastReportedRate() const { return m_lastRate; }

private:
    TickClock* m_clock;
    std::uint64_t m_earlierElapsedMs;
    std::uint64_t m_earlierBytes;
    DWORD m_periodStart;
    std::uint64_t m_currentBytes;
    DWORD m_lastUpdate;
    std::uint64_t m_lastTotal;
    std::uint64_t m_lastRate;
    DWORD m_minIntervalMs;
    Direction m_direction;
};

// The socket's receive buffer, emptied on connect and close.
class ParseBuffer {
public:
    static constexpr std::uint32_t kInitialCapacity = 32000;
    static constexpr std::uint32_t kMaxSize = 100000;

    ParseBuffer();
    virtual ~ParseBuffer();
    ParseBuffer(const ParseBuffer&) = delete;
    ParseBuffer& operator=(const ParseBuffer&) = delete;

    void clear();
    const unsigned char* data() const { return m_data; }
    std::uint32_t length() const { return m_length; }
    std::uint32_t capacity() const { return m_capacity; }
    std::uint32_t maxSize() const { return m_maxSize; }

private:
    unsigned char* m_data;
    std::uint32_t m_length;
    std::uint32_t m_capacity;
    std::uint32_t m_maxSize;
};

} // namespace tessik
