// Address texts: the parsers agree with glibc's inet_pton on a corpus, the
// formatter writes the compressed forms and everything it writes reads back.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/transport/WinsockLoader.h"
#include "platform/ByteOrder.h"

namespace {

// The core's types are moving into tessik; this finds them either way.
using namespace tessik;

using tessik::StringBuffer;

std::vector<std::string> corpus() {
    std::ifstream in(std::string(GRV_TEST_DATA_DIR) + "/transport/ip-literals.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        lines.push_back(line == "<empty>" ? "" : line);
    }
    return lines;
}

TEST(AddressText, ParsersAgreeWithInetPtonOnCorpus) {
    std::vector<std::string> lines = corpus();
    ASSERT_GT(lines.size(), 60u);
    for (const std::string& text : lines) {
        std::uint32_t ours4 = 0;
        std::uint32_t theirs4 = 0;
        bool ok4 = inet_pton(AF_INET, text.c_str(), &theirs4) == 1;
        EXPECT_EQ(tessik::parseIpv4(text.c_str(), &ours4), ok4) << "IPv4 '" << text << "'";
        if (ok4) {
            EXPECT_EQ(ours4, theirs4) << text;
        }
        unsigned char ours6[16] = {};
        unsigned char theirs6[16] = {};
        bool ok6 = inet_pton(AF_INET6, text.c_str(), theirs6) == 1;
        EXPECT_EQ(tessik::parseIpv6(text.c_str(), ours6), ok6) << "IPv6 '" << text << "'";
        if (ok6) {
            EXPECT_EQ(std::memcmp(ours6, theirs6, 16), 0) << text;
        }
    }
}

std::string format6(const std::vector<int>& groups) {
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i)
        platform::StoreBe16(bytes + 2 * i, static_cast<std::uint16_t>(groups[i]));
    StringBuffer out;
    tessik::formatIpv6(bytes, out);
    return out.getString();
}

TEST(AddressText, FormatsIpv6CompressedForms) {
    const std::vector<std::pair<std::vector<int>, std::string>> cases = {
        {{0, 0, 0, 0, 0, 0xffff, 0x0a01, 0x0203}, "::ffff:10.1.2.3"},
        {{1, 0, 2, 3, 4, 5, 6, 7}, "1::2:3:4:5:6:7"},
        {{0, 0, 0, 0, 0, 0, 0, 0}, "::"},
        {{0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {{0, 0, 0, 0, 0, 0, 0x0102, 0x0304}, "::1.2.3.4"},
        {{0x2001, 0xdb8, 0, 0, 1, 0, 0, 1}, "2001:db8::1:0:0:1"},
        {{1, 0, 0, 2, 0, 0, 0, 3}, "1:0:0:2::3"},
        {{1, 2, 3, 4, 5, 6, 7, 0}, "1:2:3:4:5:6:7::"},
        {{0xfe80, 0, 0, 0, 0x204, 0x61ff, 0xfe9d, 0xf156}, "fe80::204:61ff:fe9d:f156"},
        {{0xABCD, 0xEF01, 0x10, 0x100, 0x1000, 0xffff, 1, 2}, "abcd:ef01:10:100:1000:ffff:1:2"},
    };
    for (const auto& [groups, text] : cases) {
        EXPECT_EQ(format6(groups), text);
    }
    unsigned char v4[4] = {192, 0, 2, 255};
    StringBuffer out;
    EXPECT_TRUE(tessik::formatAddress(tessik::kFamilyIpv4, v4, out));
    EXPECT_STREQ(out.getString(), "192.0.2.255");
    EXPECT_FALSE(tessik::formatAddress(17, v4, out));
}

TEST(AddressText, EveryFormattedAddressReadsBackThroughInetPton) {
    std::mt19937 random(45);
    std::uniform_int_distribution<int> pick(0, 3);
    for (int n = 0; n < 5000; ++n) {
        unsigned char bytes[16];
        for (unsigned char& b : bytes) {
            // Mostly zeros and small values, so runs of zero groups are common.
            int kind = pick(random);
            b = static_cast<unsigned char>(kind < 2 ? 0 : (kind == 2 ? 1 : random() & 0xFF));
        }
        StringBuffer text;
        tessik::formatIpv6(bytes, text);
        unsigned char back[16];
        ASSERT_EQ(inet_pton(AF_INET6, text.getString(), back), 1) << text.getString();
        EXPECT_EQ(std::memcmp(bytes, back, 16), 0) << text.getString();
        unsigned char ours[16];
        ASSERT_TRUE(tessik::parseIpv6(text.getString(), ours)) << text.getString();
        EXPECT_EQ(std::memcmp(bytes, ours, 16), 0) << text.getString();
    }
}

std::string logText(Logger& log) {
    StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

TEST(SocketErrorLog, KnownCodesGetTheirTextsOthersTheFirewallHint) {
    Logger known;
    tessik::logSocketError(10061, known);
    EXPECT_NE(logText(known).find("WSAECONNREFUSED No connection could be made because the target machine actively "
                                  "refused it."),
              std::string::npos)
        << logText(known);
    Logger other;
    tessik::logSocketError(12345, other);
    std::string text = logText(other);
    EXPECT_NE(text.find("Error 0x3039"), std::string::npos) << text;
    EXPECT_NE(text.find(tessik::kFirewallHint), std::string::npos) << text;
}

} // namespace
