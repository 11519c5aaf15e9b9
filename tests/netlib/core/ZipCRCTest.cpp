#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "netlib/core/ZipCRC.h"

using namespace tessik;

namespace {

std::uint32_t oneShot(const std::string& s, std::uint16_t* flag = nullptr) {
    return ZipCRC::crc32WithBinaryFlag(s.data(), static_cast<std::uint32_t>(s.size()), flag);
}

std::uint32_t reference(const unsigned char* p, size_t n) {
    return static_cast<std::uint32_t>(::crc32(::crc32(0L, Z_NULL, 0), p, static_cast<uInt>(n)));
}

TEST(ZipCRC, EveryByteValueMatchesZlib) {
    for (int v = 0; v < 256; ++v) {
        unsigned char b = static_cast<unsigned char>(v);
        EXPECT_EQ(ZipCRC::crc32WithBinaryFlag(&b, 1, nullptr), reference(&b, 1)) << v;
    }
}

TEST(ZipCRC, StreamContinuesAfterEndAndIgnoresNothing) {
    ZipCRC crc;
    crc.beginStream();
    crc.moreData("1234", 4);
    std::uint32_t partial = crc.endStream();
    EXPECT_EQ(partial, oneShot("1234"));
    EXPECT_EQ(crc.endStream(), partial);
    crc.moreData(nullptr, 5);
    crc.moreData("56789", 0);
    EXPECT_EQ(crc.endStream(), partial);
    crc.moreData("56789", 5);
    EXPECT_EQ(crc.endStream(), 0xCBF43926u);

    // beginStream starts over.
    crc.beginStream();
    crc.moreData("abc", 3);
    EXPECT_EQ(crc.endStream(), 0x352441C2u);

    // Without beginStream the object still starts from the preset value.
    ZipCRC fresh;
    fresh.moreData("abc", 3);
    EXPECT_EQ(fresh.endStream(), 0x352441C2u);
}

TEST(ZipCRC, RandomBuffersSplitAtRandomPointsMatchZlib) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 300; ++round) {
        size_t n = rng() % (round < 200 ? 100 : 70000);
        std::vector<unsigned char> buf(n);
        for (auto& b : buf)
            b = static_cast<unsigned char>(rng());
        std::uint32_t want = reference(buf.data(), n);

        EXPECT_EQ(ZipCRC::crc32WithBinaryFlag(buf.data(), static_cast<std::uint32_t>(n), nullptr), n ? want : 0u);
        std::uint16_t flag = 7;
        EXPECT_EQ(ZipCRC::crc32WithBinaryFlag(buf.data(), static_cast<std::uint32_t>(n), &flag), n ? want : 0u);

        ZipCRC crc;
        crc.beginStream();
        size_t pos = 0;
        while (pos < n) {
            size_t piece = std::min<size_t>(n - pos, rng() % (rng() % 2 ? 40 : 5000));
            // Unaligned starts exercise the 16-byte blocks at every offset.
            crc.moreData(buf.data() + pos, static_cast<std::uint32_t>(piece));
            pos += piece;
        }
        ASSERT_EQ(crc.endStream(), want) << "round " << round << " size " << n;
    }
}

TEST(ZipCRC, BinaryFlag) {
    const std::string text12 = "Hello world!";
    ASSERT_EQ(text12.size(), 12u);
    struct Case {
        const char* what;
        std::string data;
        std::uint16_t flag;
    } cases[] = {
        {"plain text", "Hello", 0},
        {"control bytes", std::string("\x00\x01\x02", 3), 1},
        {"12 text, 3 zero bytes", text12 + std::string(3, '\0'), 0},
        {"12 text, 4 zero bytes", text12 + std::string(4, '\0'), 1},
        {"one zero, 3 text", std::string("abc") + '\0', 1},
        {"one zero, 4 text", std::string("abcd") + '\0', 0},
        {"bytes 7 and 127 are text", std::string("\x07\x7f\x07\x7f", 4), 0},
        {"byte 6 is binary", std::string("\x06", 1), 1},
        {"byte 128 is binary", std::string("\x80", 1), 1},
        {"byte 255 is binary", std::string("\xff", 1), 1},
        {"UTF-8 umlauts among four ASCII", std::string("Ma\xc3\x9f") + "ab", 1},
        {"UTF-8 umlaut among eight ASCII", std::string("Stra\xc3\x9f") + "enbahn", 0},
    };
    for (const auto& c : cases) {
        std::uint16_t flag = 9;
        std::uint32_t crc = oneShot(c.data, &flag);
        EXPECT_EQ(flag, c.flag) << c.what;
        EXPECT_EQ(crc, oneShot(c.data)) << c.what;
        EXPECT_EQ(crc, reference(reinterpret_cast<const unsigned char*>(c.data.data()), c.data.size())) << c.what;
    }

    std::uint16_t untouched = 42;
    EXPECT_EQ(ZipCRC::crc32WithBinaryFlag("x", 0, &untouched), 0u);
    EXPECT_EQ(ZipCRC::crc32WithBinaryFlag(nullptr, 10, &untouched), 0u);
    EXPECT_EQ(untouched, 42);
}

TEST(ZipCRC, BinaryFlagOnLargeBuffersAgreesWithCounting) {
    std::mt19937 rng(4);
    for (int round = 0; round < 40; ++round) {
        size_t n = 1 + rng() % 5000;
        // Mostly text with a varying share of binary bytes around the 1:4 edge.
        unsigned binaryPerMille = rng() % 400;
        std::vector<unsigned char> buf(n);
        std::uint64_t text = 0, binary = 0;
        for (auto& b : buf) {
            if (rng() % 1000 < binaryPerMille) {
                unsigned v = rng() % 135;
                b = static_cast<unsigned char>(v < 7 ? v : 128 + (v - 7));
                ++binary;
            } else {
                b = static_cast<unsigned char>(7 + rng() % 121);
                ++text;
            }
        }
        std::uint16_t flag = 5;
        ZipCRC::crc32WithBinaryFlag(buf.data(), static_cast<std::uint32_t>(n), &flag);
        EXPECT_EQ(flag, binary > text / 4 ? 1 : 0) << "text " << text << " binary " << binary;
    }
}

} // namespace
