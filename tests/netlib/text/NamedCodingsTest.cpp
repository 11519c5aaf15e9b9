// The byte buffer's named encodings reach the text layer once its services are installed.
#include <gtest/gtest.h>

#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"

using namespace tessik;

namespace {

std::string encodedAs(const char* name, const std::string& bytes) {
    DataBuffer db;
    db.append(bytes.data(), static_cast<unsigned int>(bytes.size()));
    StringBuffer out("<");
    db.encodeToSb(name, out);
    return out.getString();
}

std::string decodedAs(const char* name, const char* text, bool expectOk = true) {
    DataBuffer db;
    db.append("<", 1);
    EXPECT_EQ(db.appendEncoded(text, name), expectOk) << name;
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

} // namespace

TEST(NamedCodings, EncodeByName) {
    EXPECT_EQ(encodedAs("base64", std::string(60, 'a')).size(), 81u); // no line breaks
    EXPECT_EQ(encodedAs(" Base-64 ", "abc"), "<YWJj");
    EXPECT_EQ(encodedAs("qp", "a=b"), "<a=3Db");
    EXPECT_EQ(encodedAs("Quoted-Printable", ".x"), "<=2Ex");
    EXPECT_EQ(encodedAs("URL", "a b&"), "<a+b%26");
    EXPECT_EQ(encodedAs("hex", "\x01"), "<01");
}

TEST(NamedCodings, DecodeByNameAppends) {
    EXPECT_EQ(decodedAs("base64", "  YWJj\r\n "), "<abc");
    EXPECT_EQ(decodedAs("BASE-64", ""), "<");
    EXPECT_EQ(decodedAs("qp", " a=3Db "), "<a=b");
    EXPECT_EQ(decodedAs("quoted-printable", "   "), "<");
    EXPECT_EQ(decodedAs("url", " a+b%26"), "< a b&"); // not trimmed
    EXPECT_EQ(decodedAs("hexidecimal", "0a"), "<\x0a");
    EXPECT_EQ(decodedAs("rot13", "abc"), "<");
}
