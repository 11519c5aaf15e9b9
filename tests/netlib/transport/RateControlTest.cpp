// Throttle waits and rate events under a fake clock.
#include <gtest/gtest.h>

#include <vector>

#include "netlib/core/Progress.h"
#include "netlib/transport/RateControl.h"

namespace {

// The core's types are moving into tessik; this finds them either way.
using namespace tessik;

using tessik::BandwidthThrottle;
using tessik::PerformanceMon;

class FakeClock : public tessik::TickClock {
public:
    DWORD now = 1000;
    std::vector<DWORD> sleeps;
    DWORD ticks() override { return now; }
    void sleep(DWORD ms) override {
        sleeps.push_back(ms);
        now += ms;
    }
};

DWORD sumOf(const std::vector<DWORD>& v) {
    DWORD sum = 0;
    for (DWORD x : v)
        sum += x;
    return sum;
}

struct ThrottleCase {
    std::uint64_t limit;
    std::uint64_t bytes;
    DWORD afterMs;
    DWORD expectedWait;
};

TEST(BandwidthThrottle, WaitsUntilTheAverageFallsToTheLimit) {
    const ThrottleCase cases[] = {
        {10000, 30000, 1000, 2000},   // 30000 bytes in 1 s at 10000/s: 2 more seconds
        {10000, 30000, 150, 0},       // under 200 ms: too early to judge
        {10000, 9000, 1000, 0},       // below the limit
        {10000, 610000, 1000, 20000}, // 60 s wanted, capped
        {0, 999999, 1000, 0},         // unlimited
    };
    for (const ThrottleCase& c : cases) {
        FakeClock clock;
        BandwidthThrottle throttle(&clock);
        throttle.setLimit(c.limit);
        clock.now += c.afterMs;
        throttle.addBytes(c.bytes);
        bool aborted = true;
        throttle.throttle(0, nullptr, &aborted);
        EXPECT_FALSE(aborted);
        EXPECT_EQ(sumOf(clock.sleeps), c.expectedWait) << c.bytes << " bytes after " << c.afterMs;
    }
}

TEST(BandwidthThrottle, TickGoingBackRestartsThePeriodWithoutCounting) {
    FakeClock clock;
    BandwidthThrottle throttle(&clock);
    throttle.setLimit(1000);
    clock.now -= 10;
    throttle.addBytes(1000000);
    clock.now += 1000;
    throttle.addBytes(100);
    bool aborted = false;
    throttle.throttle(0, nullptr, &aborted);
    EXPECT_TRUE(clock.sleeps.empty());
}

class AbortAfter : public ProgressEvent {
public:
    int checks = 0;
    int abortAt = 0;
    void HeartbeatCheck(unsigned int, bool* abort) override { *abort = ++checks >= abortAt; }
};

TEST(BandwidthThrottle, WaitsInHeartbeatSlicesAndStopsOnAbort) {
    FakeClock clock;
    AbortAfter sink;
    sink.abortAt = 3;
    // The monitor's clock leaps a second a call, so every check reaches the sink.
    ProgressMonitor pm(&sink, 0, [] {
        static DWORD t = 0;
        return t += 1000;
    });
    BandwidthThrottle throttle(&clock);
    throttle.setLimit(10000);
    clock.now += 1000;
    throttle.addBytes(30000);
    bool aborted = false;
    throttle.throttle(500, &pm, &aborted);
    EXPECT_EQ(clock.sleeps, (std::vector<DWORD>{500, 500, 500}));
    EXPECT_TRUE(aborted);
}

class RateSink : public ProgressEvent {
public:
    std::vector<std::pair<unsigned, unsigned>> sent, received;
    void SendRate(unsigned int total, unsigned int rate) override { sent.push_back({total, rate}); }
    void ReceiveRate(unsigned int total, unsigned int rate) override { received.push_back({total, rate}); }
};

TEST(PerformanceMon, ReportsAtMostEvery100MsAndNeverRepeats) {
    FakeClock clock;
    RateSink sink;
    ProgressMonitor pm(&sink, 0);
    PerformanceMon mon(&clock);
    mon.setDirection(PerformanceMon::kReceive);
    clock.now += 500;
    mon.addBytes(1000, &pm); // 1000 bytes in 500 ms
    clock.now += 50;
    mon.addBytes(1000, &pm); // within 100 ms of the last report: quiet
    clock.now += 450;
    mon.addBytes(2000, &pm); // 4000 bytes in 1000 ms
    mon.update(true, &sink); // same total and rate: not repeated
    using Events = std::vector<std::pair<unsigned, unsigned>>;
    EXPECT_EQ(sink.received, (Events{{1000, 2000}, {4000, 4000}}));
    EXPECT_TRUE(sink.sent.empty());
}

TEST(PerformanceMon, FinishFoldsThePeriodIntoTheTotals) {
    FakeClock clock;
    RateSink sink;
    ProgressMonitor pm(&sink, 0);
    PerformanceMon mon(&clock);
    mon.setDirection(PerformanceMon::kSend);
    clock.now += 1000;
    mon.addBytes(3000, &pm);
    mon.finish(&pm);
    clock.now += 5000; // idle between transfers is not counted
    mon.start();
    clock.now += 1000;
    mon.addBytes(1000, &pm);
    using Events = std::vector<std::pair<unsigned, unsigned>>;
    EXPECT_EQ(sink.sent, (Events{{3000, 3000}, {4000, 2000}}));
}

TEST(PerformanceMon, TickGoingBackResetsTheCounters) {
    FakeClock clock;
    RateSink sink;
    ProgressMonitor pm(&sink, 0);
    PerformanceMon mon(&clock);
    clock.now += 1000;
    mon.addBytes(5000, &pm);
    clock.now -= 600;
    mon.addBytes(7000, &pm); // counted, then the reset drops it
    clock.now += 1000;
    mon.addBytes(500, &pm);
    using Events = std::vector<std::pair<unsigned, unsigned>>;
    EXPECT_EQ(sink.received, (Events{{5000, 5000}, {500, 500}}));
}

} // namespace
