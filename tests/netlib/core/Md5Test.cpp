#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Md5.h"
#include "netlib/core/StringBuffer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string md5Hex(const std::string& msg) {
    Md5 md5;
    unsigned char d[16];
    md5.digestBytes(msg.data(), static_cast<std::uint32_t>(msg.size()), d);
    return grvtest::ToHex(d, 16);
}

TEST(Md5, Rfc1321Suite) {
    std::ifstream f(std::string(GRV_TEST_DATA_DIR) + "/core/md5-rfc1321.txt");
    ASSERT_TRUE(f);
    std::string line;
    int n = 0;
    while (std::getline(f, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t close = line.rfind('"');
        std::string msg = line.substr(1, close - 1);
        std::string want = line.substr(close + 2);
        EXPECT_EQ(md5Hex(msg), want) << msg;
        ++n;
    }
    EXPECT_EQ(n, 7);
}

TEST(Md5, BufferFormsCountTheirWholeLength) {
    const char withZero[] = {'a', 0, 'b'};
    Md5 md5;
    unsigned char a[16], b[16];
    md5.digestSb(StringBuffer(withZero, 3u, 0u), a);
    DataBuffer db;
    db.append(withZero, 3);
    md5.digestDb(db, b);
    EXPECT_EQ(grvtest::ToHex(a, 16), md5Hex(std::string(withZero, 3)));
    EXPECT_EQ(grvtest::ToHex(b, 16), md5Hex(std::string(withZero, 3)));
}

TEST(Md5, PiecesAndSnapshots) {
    std::string msg;
    for (int i = 0; i < 700; ++i)
        msg += static_cast<char>(i * 31 + 7);
    std::string whole = md5Hex(msg);
    const std::vector<std::vector<unsigned>> plans = {{1}, {63}, {64}, {65}, {1, 63, 64, 65, 7}, {55, 1, 8}};
    for (const auto& plan : plans) {
        Md5 md5;
        size_t pos = 0, k = 0;
        while (pos < msg.size()) {
            unsigned step = std::min<size_t>(plan[k++ % plan.size()], msg.size() - pos);
            md5.update(msg.data() + pos, step);
            md5.update(nullptr, 5);    // ignored
            md5.update(msg.data(), 0); // ignored
            pos += step;
        }
        unsigned char d[16];
        md5.final(d);
        EXPECT_EQ(grvtest::ToHex(d, 16), whole);
    }

    Md5 running;
    running.update(msg.data(), 100);
    Md5 copy;
    copy.copyState(running);
    unsigned char d[16];
    copy.final(d);
    EXPECT_EQ(grvtest::ToHex(d, 16), md5Hex(msg.substr(0, 100)));
    running.update(msg.data() + 100, 600);
    running.final(d);
    EXPECT_EQ(grvtest::ToHex(d, 16), whole);
}

TEST(Md5, AgreesWithPythonOnEveryLengthUpTo1000) {
    std::mt19937 rng(1321);
    std::string input;
    std::vector<std::string> messages;
    for (int len = 0; len <= 1000; ++len) {
        std::string m(static_cast<size_t>(len), '\0');
        for (auto& ch : m)
            ch = static_cast<char>(rng() & 0xFF);
        input += grvtest::ToHex(reinterpret_cast<const unsigned char*>(m.data()), m.size()) + "\n";
        messages.push_back(std::move(m));
    }
    const auto peer = grvtest::Python("import sys,hashlib\n"
                                      "for l in sys.stdin: print(hashlib.md5(bytes.fromhex(l.strip())).hexdigest())",
                                      {}, input);
    ASSERT_EQ(peer.status, 0) << peer.err;
    std::istringstream lines(peer.out);
    std::string want;
    for (const auto& m : messages) {
        ASSERT_TRUE(std::getline(lines, want));
        ASSERT_EQ(md5Hex(m), want) << "length " << m.size();
    }
}

TEST(Scramble, AgreesWithPythonModel) {
    std::mt19937 rng(77);
    std::vector<std::string> texts = {"ab", "ba", "hello world", "password123", std::string(300, 'z')};
    for (int i = 0; i < 200; ++i) {
        std::string t(2 + rng() % 400, '\0');
        for (auto& ch : t)
            ch = static_cast<char>(1 + rng() % 255); // a C text: no zero bytes
        texts.push_back(t);
    }
    std::string input;
    for (const auto& t : texts)
        input += grvtest::ToHex(reinterpret_cast<const unsigned char*>(t.data()), t.size()) + "\n";
    grvtest::RunOptions fed;
    fed.input = input;
    const auto peer =
        grvtest::RunProgram({"/usr/bin/python3", std::string(GRV_TEST_DATA_DIR) + "/core/scramble_reference.py"}, fed);
    ASSERT_EQ(peer.status, 0) << peer.err;
    std::istringstream lines(peer.out);
    std::string want;
    for (const auto& t : texts) {
        ASSERT_TRUE(std::getline(lines, want));
        StringBuffer sb(t.c_str());
        sb.scrambleBytes();
        EXPECT_EQ(
            grvtest::ToHex(reinterpret_cast<const unsigned char*>(sb.getString()), static_cast<size_t>(sb.getSize())),
            want);
        // Same bytes, other order, and the same order every time.
        std::string got(sb.getString(), static_cast<size_t>(sb.getSize()));
        std::string a = got, b = t;
        std::sort(a.begin(), a.end());
        std::sort(b.begin(), b.end());
        EXPECT_EQ(a, b);
        StringBuffer again(t.c_str());
        again.scrambleBytes();
        EXPECT_TRUE(again.equalsSb(sb));
    }
}

} // namespace
