#pragma once
// One anonymous usage report: a form POST of the command's label and the
// machine's identifier to the statistics server, whose answer is not read.
// Fire and forget: nothing is retried, kept or shown, and a failure ends
// like a success.
#include <atomic>
#include <string>

namespace grv {

// The reserved ".invalid" name never resolves: no report leaves a user's
// machine until a real server exists.
inline constexpr const char* kStatsHost = "stats.gorvane.invalid";
inline constexpr int kStatsPort = 80;
inline constexpr const char* kStatsPath = "/a_p_i/grv2webmgt_api.php";
inline constexpr const char* kNoMachineId = "NO MAC";
// A report gives up on a server that does not answer within these.
inline constexpr unsigned int kStatsConnectTimeoutSec = 10;
inline constexpr unsigned int kStatsReadTimeoutSec = 10;

// 12 lower-case hex digits of the first adapter's hardware address, else
// "NO MAC".
std::string GetMachineId();

class CUsageReporter {
public:
    explicit CUsageReporter(std::string host = kStatsHost, int port = kStatsPort);

    // Sends one report; returns when it has been delivered or given up.
    void PostUsageStat(const std::string& label) const;

    // Reports being sent right now, process-wide.
    static int InFlight() { return s_inFlight.load(); }

private:
    std::string m_host;
    int m_port;
    static std::atomic<int> s_inFlight;
};

} // namespace grv
