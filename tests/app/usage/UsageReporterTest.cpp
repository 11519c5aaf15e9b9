// The usage report on the wire: every label's POST as a capture server
// receives it, byte for byte beside the request python builds from the same
// label, the machine identifier beside the adapter list the kernel shows,
// and the silence of a report nobody answers.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "app/usage/UsageReporter.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

namespace {

const std::vector<std::string> kLabels = {
    "New Entry", "TM NewEntry", "TM NewPainScore", "TB Question", "TB MedsCab", "Tools MedsCab", "TB Actions",
    "TB Mood",   "TB Meds",     "TB SideEff",      "Preferences", "Reports",    "Close App"};

// The form POST as the statistics server expects it, built by python's own
// form encoder: the request line, the three fields and the body.
constexpr const char* kExpectedPost = R"PY(
import sys
from urllib.parse import urlencode
port, machine = sys.argv[1], sys.argv[2]
for label in sys.argv[3:]:
    body = urlencode([('a', 'a'), ('ud', machine), ('ac', label)]).encode()
    head = ('POST /a_p_i/grv2webmgt_api.php HTTP/1.1\r\n'
            'Content-Type: application/x-www-form-urlencoded\r\n'
            'Host: 127.0.0.1:%s\r\n'
            'Content-Length: %d\r\n\r\n' % (port, len(body))).encode()
    sys.stdout.write((head + body).hex() + '\n')
)PY";

// The first adapter that is no loopback and has a six-byte address, in the
// kernel's order, as /sys shows it.
constexpr const char* kKernelMachineId = R"PY(
import os, socket
for index, name in sorted(socket.if_nameindex()):
    base = '/sys/class/net/' + name
    if open(base + '/type').read().strip() == '772' or open(base + '/addr_len').read().strip() != '6':
        continue
    print(open(base + '/address').read().strip().replace(':', ''))
    break
else:
    print('NO MAC')
)PY";

class UsageReporter : public grvtest::LoopbackPeerTest {};

} // namespace

TEST_F(UsageReporter, EveryLabelReachesTheServerByteForByte) {
    const grvtest::RunResult kernel = grvtest::Python(kKernelMachineId);
    ASSERT_TRUE(kernel.Ok()) << kernel.err;
    const std::string machineId = grv::GetMachineId();
    EXPECT_EQ(machineId + "\n", kernel.out);

    const int port = peers.StartCaptureServer();
    const grv::CUsageReporter reporter("127.0.0.1", port);
    for (const std::string& label : kLabels)
        reporter.PostUsageStat(label);
    const std::vector<std::string> captured = peers.CapturedRequests(port, kLabels.size());

    std::vector<std::string> args = {std::to_string(port), machineId};
    args.insert(args.end(), kLabels.begin(), kLabels.end());
    const grvtest::RunResult expected = grvtest::Python(kExpectedPost, args);
    ASSERT_TRUE(expected.Ok()) << expected.err;
    std::string got;
    for (const std::string& request : captured)
        got += grvtest::ToHex(request) + "\n";
    EXPECT_EQ(got, expected.out);
}

TEST_F(UsageReporter, NoServerAndErrorStatusesEndQuietly) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const grvtest::ClosedLoopbackPort nothingListens;
    grv::CUsageReporter(std::string("127.0.0.1"), nothingListens.port()).PostUsageStat("New Entry");
    // Answers of every kind count as delivered.
    for (const char* answer : {"HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n",
                               "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope"}) {
        const int port = peers.StartCaptureServer(answer);
        grv::CUsageReporter(std::string("127.0.0.1"), port).PostUsageStat("Reports");
        EXPECT_EQ(peers.CapturedRequests(port, 1).size(), 1u);
    }
    // A server that takes the request and never answers is given up.
    grvtest::ScriptPeer silent(R"PY(
s = listen()
c, a = s.accept()
time.sleep(12)
)PY");
    grv::CUsageReporter(std::string("127.0.0.1"), silent.port).PostUsageStat("Close App");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(grv::kStatsReadTimeoutSec + 8));
    EXPECT_EQ(grv::CUsageReporter::InFlight(), 0);
}
