#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringPair.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/TessikRand.h"

using namespace tessik;

namespace {

DWORD g_now = 0;
DWORD fakeTicks() {
    return g_now;
}

// Records what the monitor sends and answers with a chosen abort.
struct Sink : ProgressEvent {
    std::vector<int> percents;
    int abortChecks = 0, heartbeats = 0;
    bool answer = false;
    std::vector<std::string> infos;
    void PercentDone(int p, bool* abort) override {
        percents.push_back(p);
        *abort = answer;
    }
    void AbortCheck(bool* abort) override {
        ++abortChecks;
        *abort = answer;
    }
    void HeartbeatCheck(unsigned int, bool* abort) override {
        ++heartbeats;
        *abort = answer;
    }
    void ProgressInfo(const char* n, const char* v) override { infos.push_back(std::string(n) + "=" + v); }
};

TEST(ProgressMonitor, Percentages) {
    struct Case {
        long long done, total;
        int want;
    } cases[] = {{5, 0, 100}, {0, -3, 100}, {999999, 10000000, 9}, {1, 3, 33}};
    for (const auto& c : cases)
        EXPECT_EQ(ProgressMonitor::computePercent(c.done, c.total), c.want) << c.done;
}

TEST(ProgressMonitor, EachPercentOnce) {
    g_now = 1000;
    Sink sink;
    ProgressMonitor m(&sink, 0, fakeTicks);
    m.setTotalInt64(5000000);
    bool abort = true;
    for (int i = 0; i < 100; ++i)
        EXPECT_FALSE(m.consumeProgress(50000, &abort));
    ASSERT_EQ(sink.percents.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(sink.percents[i], i + 1);
    m.consumeProgress(50000, &abort); // beyond the total: capped, nothing new
    EXPECT_EQ(sink.percents.size(), 100u);
}

TEST(ProgressMonitor, ZeroTotalAndHold100) {
    g_now = 1;
    Sink sink;
    ProgressMonitor zero(&sink, 0, fakeTicks);
    bool abort = false;
    zero.consumeProgress(10, &abort);
    zero.endProgress(1);
    EXPECT_TRUE(sink.percents.empty());
    zero.setHold100(true);
    zero.endProgress(2);
    EXPECT_EQ(sink.percents, std::vector<int>{100});

    Sink s2;
    ProgressMonitor held(&s2, 10, fakeTicks);
    held.setHold100(true);
    held.consumeProgress(5, &abort);
    held.consumeProgress(5, &abort);
    EXPECT_EQ(s2.percents, std::vector<int>{50});
    held.endProgress(0);
    EXPECT_EQ(s2.percents, (std::vector<int>{50, 100}));

    Sink s3;
    ProgressMonitor noAbort(&s3, 4, fakeTicks);
    s3.answer = true;
    noAbort.consumeProgressNoAbort(1);
    noAbort.consumeProgressNoAbort(1);
    EXPECT_FALSE(noAbort.isAborted());
    noAbort.endProgress(0);
    EXPECT_EQ(s3.percents, (std::vector<int>{25, 50, 100}));
    noAbort.setPercentOff(true);
    noAbort.setTotalUint32(4);
    noAbort.consumeProgressNoAbort(4);
    EXPECT_EQ(s3.percents.size(), 3u);
}

TEST(ProgressMonitor, HeartbeatsFollowTheClock) {
    g_now = 10000;
    Sink sink;
    ProgressMonitor m(&sink, 1000000, fakeTicks);
    bool abort = false;
    // No heartbeat interval yet: no abort checks between percentages.
    for (int i = 0; i < 5; ++i) {
        g_now += 5000;
        m.consumeProgress(1, &abort);
    }
    EXPECT_EQ(sink.abortChecks, 0);

    EXPECT_FALSE(m.abortCheck(1000, 0)); // first call starts the timing
    EXPECT_EQ(sink.heartbeats, 1);       // 10000+25000 is past the start tick 0
    g_now += 500;
    EXPECT_FALSE(m.abortCheck(1000, 0));
    EXPECT_EQ(sink.heartbeats, 1); // within a second: asked at most once
    g_now += 600;
    EXPECT_FALSE(m.abortCheck(1000, 0));
    EXPECT_EQ(sink.heartbeats, 2);

    g_now += 1001;
    m.consumeProgress(1, &abort); // no new percentage, interval passed
    EXPECT_EQ(sink.abortChecks, 1);
    g_now += 10;
    m.consumeProgress(1, &abort);
    EXPECT_EQ(sink.abortChecks, 1);

    m.setNoHeartbeat(true);
    g_now += 5000;
    m.consumeProgress(1, &abort);
    EXPECT_EQ(sink.abortChecks, 1);

    // A tick count that went backwards re-stamps instead of asking.
    g_now = 20000;
    EXPECT_FALSE(m.abortCheck(1000, 0));
    EXPECT_EQ(sink.heartbeats, 2);
}

TEST(ProgressMonitor, AbortIsStickyUntilNewTotal) {
    g_now = 5;
    Sink sink;
    ProgressMonitor m(&sink, 100, fakeTicks);
    sink.answer = true;
    bool abort = false;
    EXPECT_TRUE(m.consumeProgress(10, &abort));
    EXPECT_TRUE(abort);
    EXPECT_TRUE(m.isAborted());
    sink.answer = false;
    m.consumeProgress(10, &abort);
    EXPECT_TRUE(m.isAborted());
    int asked = sink.heartbeats;
    EXPECT_TRUE(m.abortCheck(1, 0));
    EXPECT_EQ(sink.heartbeats, asked);
    m.setTotalUint32(100);
    EXPECT_FALSE(m.isAborted());

    m.setAmountDoneUint32(40, &abort);
    EXPECT_EQ(sink.percents.back(), 40);
    m.setAmountDone(30, &abort);
    EXPECT_EQ(sink.percents.back(), 40);

    m.progressInfo("HttpInfo", "Reading chunked response.");
    m.progressInfoInt("n", -3);
    m.progressInfoInt64("big", 5000000000LL);
    EXPECT_EQ(sink.infos, (std::vector<std::string>{"HttpInfo=Reading chunked response.", "n=-3", "big=5000000000"}));
}

TEST(ProgressMonitor, InternalSinkAndAsyncAbort) {
    g_now = 1;
    ProgressMonitor m(nullptr, 10, fakeTicks);
    bool abort = false;
    EXPECT_FALSE(m.consumeProgress(5, &abort));
    AsyncProgressEvent async;
    ProgressMonitor m2(&async, 100, fakeTicks);
    std::thread setter([&async] { async.setAbort(true); });
    setter.join();
    EXPECT_TRUE(m2.consumeProgress(10, &abort));
    EXPECT_EQ(async.lastPercent(), 10);
}

TEST(EventHistorian, RecordsAndForwards) {
    EventHistorian h;
    bool abort = false;
    h.PercentDone(5, &abort);
    h.setAbort(true);
    h.PercentDone(6, &abort);
    EXPECT_TRUE(abort);
    h.AbortCheck(&abort);
    EXPECT_TRUE(abort);
    EXPECT_EQ(h.history().events().getCount(), 0); // not recording
    h.setRecord(true);
    h.PercentDone(7, &abort);
    h.ProgressInfo("HttpRequestBegin", "x");
    ASSERT_EQ(h.history().events().getCount(), 2);
    auto* p = static_cast<StringPair*>(h.history().events().elementAt(0));
    EXPECT_STREQ(p->getKey(), "PercentDone");
    EXPECT_STREQ(p->getValue(), "7");
    EXPECT_EQ(h.lastPercent(), 7u);

    Sink target;
    h.setTarget(&target);
    abort = true;
    h.PercentDone(8, &abort);
    EXPECT_FALSE(abort); // the target's answer
    EXPECT_EQ(target.percents, std::vector<int>{8});
    bool redirect = true;
    h.RedirectCheck("a", "b", &redirect);
    EXPECT_FALSE(redirect);
    h.setTarget(nullptr);
    redirect = true;
    h.RedirectCheck("a", "b", &redirect);
    EXPECT_TRUE(redirect); // left as the caller set it
}

TEST(TessikRand, BytesAndRanges) {
    DataBuffer out;
    EXPECT_TRUE(TessikRand::randomBytes(-3, out));
    EXPECT_EQ(out.getSize(), 0u);
    DataBuffer nz;
    EXPECT_TRUE(TessikRand::randomNonZeroBytes(4000, nz));
    ASSERT_EQ(nz.getSize(), 4000u);
    for (unsigned i = 0; i < nz.getSize(); ++i)
        ASSERT_NE(nz.getData()[i], 0);
    EXPECT_EQ(TessikRand::randomIntRange(7, 7), 7u);
    std::set<unsigned> seen;
    for (int i = 0; i < 2000; ++i) {
        unsigned v = TessikRand::randomIntRange(0, 10);
        ASSERT_LT(v, 10u);
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 10u);
    unsigned char a[16], b[16];
    EXPECT_FALSE(cryptGenRandomBytes(4, nullptr));
    ASSERT_TRUE(cryptGenRandomBytes(16, a));
    ASSERT_TRUE(cryptGenRandomBytes(16, b));
    EXPECT_NE(std::string(reinterpret_cast<char*>(a), 16), std::string(reinterpret_cast<char*>(b), 16));
}

// Also run under ThreadSanitizer.
TEST(TessikRand, ManyThreads) {
    std::vector<std::thread> threads;
    std::vector<std::uint32_t> firsts(8);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&firsts, t] {
            DataBuffer db;
            for (int i = 0; i < 200; ++i)
                TessikRand::randomBytes(37, db);
            firsts[t] = TessikRand::randomUint32();
            EXPECT_EQ(db.getSize(), 200u * 37);
        });
    for (auto& th : threads)
        th.join();
    EXPECT_GT(std::set<std::uint32_t>(firsts.begin(), firsts.end()).size(), 6u);
}

TEST(TessikCritSec, ReentrantAndWaitsForHolder) {
    auto* cs = new TessikCritSec;
    cs->enterCriticalSection();
    cs->enterCriticalSection(); // the same thread again
    cs->leaveCriticalSection();
    cs->leaveCriticalSection();

    std::atomic<bool> inside{false}, released{false};
    std::thread holder([&] {
        cs->enterCriticalSection();
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        released = true;
        cs->leaveCriticalSection();
    });
    while (!inside)
        std::this_thread::yield();
    delete cs; // waits until the holder leaves
    EXPECT_TRUE(released.load());
    holder.join();
}

} // namespace
