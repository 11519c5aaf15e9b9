#include <chrono>
#include <condition_variable>
#include <mutex>

#include "ShellTestSupport.h"
#include "app/shell/UsageWorkers.h"

namespace {

using Clock = std::chrono::steady_clock;

// Holds every report until released.
class GateSink : public platform::ui::UsageSink {
public:
    void Report(const std::string& label) override {
        std::unique_lock lock(m);
        cv.wait(lock, [this] { return open; });
        labels.push_back(label);
    }
    void Open() {
        {
            std::lock_guard lock(m);
            open = true;
        }
        cv.notify_all();
    }
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    std::vector<std::string> labels;
};

TEST(UsageWorkers, EachReportKeepsTheLabelItStartedWith) {
    auto sink = std::make_shared<platform::ui::RecordingUsageSink>();
    CUsageWorkers workers;
    const std::vector<std::string> sent = {"New Entry", "TB Mood", "Reports", "Close App"};
    for (const auto& s : sent)
        workers.Start(s, sink);
    EXPECT_EQ(workers.WaitAll(5000), 0u);
    auto got = sink->Labels();
    std::sort(got.begin(), got.end());
    auto want = sent;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
}

TEST(UsageWorkers, AtQuitAStuckWorkerGetsABoundedMomentAndNoCrash) {
    auto sink = std::make_shared<GateSink>();
    std::weak_ptr<GateSink> watch = sink;
    const auto start = Clock::now();
    {
        CUsageWorkers workers;
        workers.Start("Close App", sink);
        EXPECT_EQ(workers.Running(), 1u);
        EXPECT_EQ(workers.WaitAll(150), 1u);
        workers.Start("Close App", sink);
    } // the end waits kQuitGraceMs at most
    const auto waited = Clock::now() - start;
    EXPECT_LT(waited, std::chrono::milliseconds(CUsageWorkers::kQuitGraceMs + 1500));
    sink->Open(); // the let-go workers finish on a sink they keep alive
    sink.reset();
    for (int i = 0; i < 500 && !watch.expired(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(watch.expired()) << "the workers released their sink";
}

TEST(UsageWorkers, NoSinkStartsNothing) {
    CUsageWorkers workers;
    workers.Start("New Entry", nullptr);
    EXPECT_EQ(workers.Running(), 0u);
    EXPECT_EQ(workers.WaitAll(0), 0u);
}

} // namespace
