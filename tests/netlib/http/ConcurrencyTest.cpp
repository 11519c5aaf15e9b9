// Several usage-reporter threads at once: each fills its own request and
// sends it through one shared facade and through one of its own, while
// another thread moves the checkpoint words. Run under ThreadSanitizer
// (-DGRV_TSAN=ON) this must stay silent.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Checkpoints.h"
#include "netlib/http/TsHttp.h"
#include "tests/support/LoopbackPeers.h"

using namespace tessik;

namespace {

constexpr int kReporters = 6;
constexpr int kReportsEach = 25;

TEST(Concurrency, ReporterThreadsShareOneFacade) {
    // Nothing listens there: every request fails at its connect.
    const grvtest::ClosedLoopbackPort closed;
    const int closedPort = closed.port();
    TsHttp shared;
    std::atomic<int> failedAsExpected{0};
    std::atomic<bool> stop{false};

    std::thread marker([&stop] {
        for (std::uint32_t step = 1; !stop.load(); ++step)
            setCheckpoint(static_cast<int>(step % kCheckpointWordCount), step);
    });

    std::vector<std::thread> reporters;
    for (int t = 0; t < kReporters; ++t) {
        reporters.emplace_back([&shared, &failedAsExpected, t, closedPort] {
            TsHttp own;
            for (int i = 0; i < kReportsEach; ++i) {
                TsHttpRequest request;
                request.UsePostUrlEncoded();
                request.SetFromUrl("http://stats.gorvane.invalid/usage/post");
                request.AddParam("a", "a");
                request.AddParam("ud", "00-11-22-33-44-55");
                request.AddParam("ac", ("Report " + std::to_string(t)).c_str());
                TsHttp& http = (i % 2 == 0) ? shared : own;
                TsHttpResponse* response = http.SynchronousRequest("127.0.0.1", closedPort, false, request);
                if (!response)
                    ++failedAsExpected;
                delete response;
            }
            std::string text = own.LastErrorText();
            if (text.find("Failed to connect.") == std::string::npos)
                failedAsExpected -= 1000;
        });
    }
    for (std::thread& r : reporters)
        r.join();
    stop = true;
    marker.join();

    EXPECT_EQ(failedAsExpected.load(), kReporters * kReportsEach);
    std::string text = shared.LastErrorText();
    // The last request's frame is whole: opened once, closed once.
    EXPECT_EQ(text.find("  SynchronousRequest:\r\n"), text.rfind("  SynchronousRequest:\r\n"));
    EXPECT_EQ(text.substr(text.size() - 13), "    Failed.\r\n");
}

} // namespace
