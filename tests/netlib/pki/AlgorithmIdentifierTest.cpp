#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "PkiTestSupport.h"
#include "netlib/core/ClsXml.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/pki/AlgorithmIdentifier.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using pkitest::fromHex;
using pkitest::toHex;

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The DER that openssl builds from a generation config.
std::string opensslDer(const std::string& conf) {
    grvtest::TempDir dir;
    const std::string path = dir.File("alg.cnf"), out = dir.File("alg.der");
    EXPECT_TRUE(grvtest::WriteFile(path, conf));
    auto run = grvtest::RunProgram({"openssl", "asn1parse", "-genconf", path, "-noout", "-out", out});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string der = grvtest::ReadFile(out);
    DataBuffer db;
    db.append(der.data(), static_cast<unsigned int>(der.size()));
    return upper(toHex(db));
}

// Loads an identifier from the XML rendering of its DER.
bool load(const DataBuffer& der, AlgorithmIdentifier& alg) {
    LogNull log;
    StringBuffer xml;
    if (!derToXml(der, xml, nullptr, log, false))
        return false;
    ClsXml node;
    if (!node.LoadXml(xml.getString(), true))
        return false;
    return alg.loadXml(node, log, true);
}

// Written DER against openssl's, and read back from the rendering.
TEST(AlgorithmIdentifierPeers, WrittenAsOpensslBuildsAndReadBack) {
    struct Case {
        const char* oid;
        int keyLength;
        const char* ivHex;
        const char* saltHex;
        int iterations;
        std::string params; // genconf lines after the OID
        int keyLengthRead;
    };
    const std::string iv16 = "000102030405060708090A0B0C0D0E0F", iv8 = "F0E1D2C3B4A59687";
    const Case cases[] = {
        {alg_oid::kAes128Cbc, 0, iv16.c_str(), "", 0, "p=FORMAT:HEX,OCTETSTRING:" + iv16 + "\n", 0},
        {alg_oid::kAes256Cbc, 0, iv16.c_str(), "", 0, "p=FORMAT:HEX,OCTETSTRING:" + iv16 + "\n", 0},
        {alg_oid::kDesEde3Cbc, 0, iv8.c_str(), "", 0, "p=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 0},
        {alg_oid::kDesCbc, 0, iv8.c_str(), "", 0, "p=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 0},
        {alg_oid::kRc4, 0, "", "", 0, "p=OCTETSTRING:\n", 0},
        {alg_oid::kRsaEncryption, 0, "", "", 0, "p=NULL\n", 0},
        {alg_oid::kRc2Cbc, 40, iv8.c_str(), "", 0,
         "p=SEQUENCE:r\n[r]\nv=INTEGER:160\ni=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 40},
        {alg_oid::kRc2Cbc, 56, iv8.c_str(), "", 0,
         "p=SEQUENCE:r\n[r]\nv=INTEGER:52\ni=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 56},
        {alg_oid::kRc2Cbc, 64, iv8.c_str(), "", 0,
         "p=SEQUENCE:r\n[r]\nv=INTEGER:120\ni=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 64},
        {alg_oid::kRc2Cbc, 128, iv8.c_str(), "", 0,
         "p=SEQUENCE:r\n[r]\nv=INTEGER:58\ni=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 128},
        {alg_oid::kRc2Cbc, 512, iv8.c_str(), "", 0,
         "p=SEQUENCE:r\n[r]\nv=INTEGER:512\ni=FORMAT:HEX,OCTETSTRING:" + iv8 + "\n", 512},
        {"1.2.840.113549.1.12.1.3", 0, "", iv8.c_str(), 2048,
         "p=SEQUENCE:s\n[s]\ns=FORMAT:HEX,OCTETSTRING:" + iv8 + "\ni=INTEGER:2048\n", 0},
    };
    for (const Case& c : cases) {
        AlgorithmIdentifier alg;
        alg.oid.setString(c.oid);
        alg.keyLength = c.keyLength;
        alg.iv.appendDb(*fromHex(c.ivHex));
        alg.salt.appendDb(*fromHex(c.saltHex));
        alg.iterations = c.iterations;
        LogNull log;
        std::unique_ptr<Asn1> asn(alg.toAsn(log));
        ASSERT_TRUE(asn) << c.oid;
        DataBuffer der;
        ASSERT_TRUE(asn->encodeDer(der, false, nullptr, log));
        EXPECT_EQ(upper(toHex(der)), opensslDer("asn1=SEQUENCE:a\n[a]\no=OID:" + std::string(c.oid) + "\n" + c.params))
            << c.oid << " " << c.keyLength;
        AlgorithmIdentifier back;
        ASSERT_TRUE(load(der, back)) << c.oid;
        EXPECT_STREQ(back.oid.getString(), c.oid);
        EXPECT_EQ(upper(toHex(back.iv)), upper(c.ivHex)) << c.oid;
        EXPECT_EQ(upper(toHex(back.salt)), upper(c.saltHex));
        EXPECT_EQ(back.iterations, c.iterations);
        EXPECT_EQ(back.keyLength, c.keyLengthRead) << c.oid;
    }
}

TEST(AlgorithmIdentifierEdges, DigestsUnknownVersionsAndFreshRc2Iv) {
    LogNull log;
    AlgorithmIdentifier sha1;
    ASSERT_TRUE(load(*fromHex("300906052b0e03021a0500"), sha1));
    EXPECT_STREQ(sha1.oid.getString(), "1.3.14.3.2.26");
    EXPECT_FALSE(std::unique_ptr<Asn1>(sha1.toAsn(log)));

    // RC2 with version 0x1F.
    AlgorithmIdentifier rc2;
    EXPECT_FALSE(load(*fromHex("3015"
                               "06082a864886f70d0302"
                               "3009"
                               "02011f"
                               "0404"
                               "01020304"),
                      rc2));

    AlgorithmIdentifier fresh;
    fresh.oid.setString(alg_oid::kRc2Cbc);
    fresh.keyLength = 128;
    std::unique_ptr<Asn1> asn(fresh.toAsn(log));
    ASSERT_TRUE(asn);
    EXPECT_EQ(fresh.iv.getSize(), 8u);
    DataBuffer der;
    asn->encodeDer(der, false, nullptr, log);
    AlgorithmIdentifier back;
    ASSERT_TRUE(load(der, back));
    EXPECT_EQ(toHex(back.iv), toHex(fresh.iv));
}

TEST(AlgorithmIdentifierContent, ChoiceAndComponentSettings) {
    struct Case {
        int id, bits;
        const char* oid;
        int keyLength;
        unsigned ivSize;
        const char* cipher;
    };
    const Case cases[] = {
        {kCipherAes, 128, alg_oid::kAes128Cbc, 128, 16, "aes"}, {kCipherAes, 160, alg_oid::kAes192Cbc, 192, 16, "aes"},
        {kCipherAes, 256, alg_oid::kAes256Cbc, 256, 16, "aes"}, {kCipherDes, 56, alg_oid::kDesEde3Cbc, 192, 8, "des"},
        {kCipherDes, 40, alg_oid::kDesCbc, 64, 8, "des"},       {kCipherRc2, 40, alg_oid::kRc2Cbc, 40, 8, "rc2"},
        {kCipherRc4, 128, alg_oid::kRc4, 128, 0, "arc4"},
    };
    for (const Case& c : cases) {
        AlgorithmIdentifier alg;
        alg.salt.append("old", 3);
        alg.iterations = 9;
        LogNull log;
        ASSERT_TRUE(setPkcs7ContentEncAlgId(c.id, c.bits, alg, log));
        EXPECT_STREQ(alg.oid.getString(), c.oid);
        EXPECT_EQ(alg.keyLength, c.keyLength) << c.oid;
        EXPECT_EQ(alg.iv.getSize(), c.ivSize);
        EXPECT_EQ(alg.salt.getSize(), 0u);
        EXPECT_EQ(alg.iterations, 0);

        ClsCrypt crypt;
        DataBuffer before;
        before.append("12345678", 8);
        crypt.setIV(before);
        ASSERT_TRUE(crypt.setFromContentEncAlgId(alg.oid.getString(), alg.keyLength, alg.iv, log));
        EXPECT_STREQ(crypt.getAlgorithmName().getString(), c.cipher);
        EXPECT_EQ(crypt.getKeyLength(), c.keyLength) << c.oid;
        DataBuffer iv;
        crypt.getIV(iv);
        EXPECT_EQ(toHex(iv), toHex(c.ivSize ? alg.iv : before));
    }
    AlgorithmIdentifier alg;
    LogNull log;
    EXPECT_FALSE(setPkcs7ContentEncAlgId(kCipherBlowfish2, 128, alg, log));
    ClsCrypt crypt;
    EXPECT_FALSE(crypt.setFromContentEncAlgId("1.2.3.4", 128, alg.iv, log));
    EXPECT_EQ(crypt.getAlgorithmId(), kCipherAes);
}

TEST(AlgorithmIdentifierContent, OctetsInlineOrByReference) {
    ClsXml node;
    ASSERT_TRUE(node.LoadXml("<octets src=\"ext\">1</octets>", true));
    ExtPtrArray list;
    list.setOwnsObjects(true);
    for (const char* text : {"zero", "one"}) {
        auto* db = new DataBuffer();
        db->append(text, static_cast<unsigned int>(std::strlen(text)));
        list.appendPtr(db);
    }
    DataBuffer out;
    EXPECT_TRUE(getOctetsFromXml(node, &list, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()), "one");
    ASSERT_TRUE(node.LoadXml("<octets src=\"ext\">7</octets>", true));
    EXPECT_FALSE(getOctetsFromXml(node, &list, out));
    ASSERT_TRUE(node.LoadXml("<octets>aGVsbG8=</octets>", true));
    out.clear();
    EXPECT_TRUE(getOctetsFromXml(node, &list, out));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()), "hello");
}

} // namespace
