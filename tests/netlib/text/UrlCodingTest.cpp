#include "netlib/text/UrlCoding.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "PlainUrlDecode.h"
#include "TextTestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"

using namespace tessik;

using Bytes = std::string;

namespace {

std::string encoded(const std::string& in) {
    StringBuffer out;
    tessik::urlEncodeBytes(in.data(), static_cast<unsigned int>(in.size()), out);
    return std::string(out.getString(), static_cast<std::size_t>(out.getSize()));
}

std::string decoded(const std::string& text) {
    DataBuffer out;
    out.append("[", 1);
    tessik::urlDecode(StringBuffer(text.c_str()), out);
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

} // namespace

TEST(UrlCoding, DecodeAgreesWithAPlainByteLoopAtEveryLength) {
    // Texts thick with escapes, broken escapes and pluses, long plain runs
    // and bytes of every value, at every length around the decoder's 64-byte
    // blocks, so that escapes straddle the blocks' edges.
    std::mt19937 rng(31);
    const std::string pieces[] = {"%", "+", "%4", "%41", "%e9", "%G1", "%%", "a", "Z", "09", " ", "\xFF", "plainrun"};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = round < 400 ? static_cast<std::size_t>(round) : rng() % 400;
        while (text.size() < length) {
            if (rng() % 50 == 0)
                text += std::string(rng() % 150, 'q');
            else if (rng() % 40 == 0)
                text += static_cast<char>(rng());
            else
                text += pieces[rng() % std::size(pieces)];
        }
        text.resize(length);
        ASSERT_EQ(decoded(text), "[" + texttest::plainlyUrlDecoded(text)) << text;
    }
}

TEST(UrlCoding, EncodeKeepsOnlyLettersAndDigits) {
    EXPECT_EQ(encoded("a b&c"), "a+b%26c");
    EXPECT_EQ(encoded("\xE9"), "%E9");
    EXPECT_EQ(encoded("a-b.c"), "a%2Db%2Ec");
    EXPECT_EQ(encoded("_~*09AZaz"), "%5F%7E%2A09AZaz");
    EXPECT_EQ(encoded(std::string("\0+", 2)), "%00%2B");
    StringBuffer out("keep");
    tessik::urlEncodeBytes(nullptr, 4, out);
    tessik::urlEncodeBytes("x", 0, out);
    DataBuffer db;
    db.append("a b", 3);
    tessik::urlEncodeDb(db, out);
    EXPECT_STREQ(out.getString(), "keepa+b");
}

TEST(UrlCoding, DecodeAppends) {
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"a+b%26c", "[a b&c"}, {"%e9%E9", "[\xE9\xE9"}, {"ab%4", "[ab"},  {"a%", "[a"}, {"", "["},
        {"%zz1", "[%zz1"},     {"%4g", "[%4g"},         {"100%", "[100"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(decoded(c.in), c.out) << c.in;
}

TEST(UrlCodingPeers, RoundTripsWithUrllibParse) {
    std::mt19937 rng(23);
    std::vector<Bytes> inputs;
    for (int i = 0; i < 100; ++i)
        inputs.push_back(texttest::randomText(rng, rng() % 60));
    std::vector<Bytes> ours;
    for (const Bytes& b : inputs)
        ours.push_back(encoded(b));
    std::vector<Bytes> byPython =
        texttest::pythonEach("out = urllib.parse.unquote_to_bytes(data.decode('ascii').replace('+', ' '))", ours);
    std::vector<Bytes> pythonEncoded =
        texttest::pythonEach("out = urllib.parse.quote_plus(data).encode('ascii')", inputs);
    ASSERT_EQ(byPython.size(), inputs.size());
    ASSERT_EQ(pythonEncoded.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(byPython[i], inputs[i]) << i;
        // NUL ends the text handed to the decoder, and python keeps '~' plain.
        std::string want = "[" + inputs[i];
        EXPECT_EQ(decoded(pythonEncoded[i]), want) << i;
        EXPECT_EQ(decoded(ours[i]), want) << i;
    }
}
