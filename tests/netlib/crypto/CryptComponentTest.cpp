#include <gtest/gtest.h>

#include <string>

#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/crypto/CryptoAlg.h"
#include "netlib/crypto/CryptoPtr.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TessikDes.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

struct Bytes : DataBuffer {
    explicit Bytes(const std::string& s) { append(s.data(), static_cast<unsigned int>(s.size())); }
};

std::string ivHex(const ClsCrypt& c) {
    DataBuffer iv;
    c.getIV(iv);
    return grvtest::ToHex(iv.getData(), iv.getSize());
}

// Names are normalised, unknown ones fall back to AES; IVs are cut to a block.
TEST(CryptComponent, SettersNormaliseAndClamp) {
    ClsCrypt c;
    c.setCryptAlgorithm(" Triple-DES ");
    EXPECT_STREQ(c.getAlgorithmName().getString(), "tripledes");
    EXPECT_EQ(c.getAlgorithmId(), kCipherDes);
    EXPECT_EQ(c.getBlockSize(), 8);
    c.setCryptAlgorithm("Blowfish2");
    EXPECT_EQ(c.getAlgorithmId(), kCipherBlowfish2);
    c.setCryptAlgorithm("Serpent-X");
    EXPECT_EQ(c.getAlgorithmId(), kCipherAes);
    EXPECT_STREQ(c.getAlgorithmName().getString(), "serpentx");
    for (int id : {1, 5, 10, 11}) {
        c.setAlgorithmId(id);
        EXPECT_EQ(c.getBlockSize(), 0) << id;
    }
    c.setAlgorithmId(kCipherRc4);
    EXPECT_EQ(c.getBlockSize(), 1);

    const std::string twenty = "0123456789abcdefghij";
    c.setIV(Bytes(twenty));
    EXPECT_EQ(ivHex(c), grvtest::ToHex(twenty.substr(0, 16)));
    c.setIVBytes(twenty.data(), 8);
    EXPECT_EQ(ivHex(c), grvtest::ToHex(twenty.substr(0, 8)));

    // An id without a display name turns into public-key encryption.
    c.setAlgorithmId(kCipherDes);
    c.setNameFromAlgorithmId();
    EXPECT_EQ(c.getAlgorithmId(), kCipherPki);
    EXPECT_STREQ(c.getDisplayName().getString(), "pki");
}

TEST(CryptComponent, ParameterLog) {
    ClsCrypt c;
    c.setSecretKeyBytes("\x01\xAB", 2);
    c.setIVBytes("\x10\x20", 2);
    for (int mode : {0, 1, 2, 3}) {
        c.setCipherMode(mode);
        Logger log;
        c.logEncryptionParams(Bytes(std::string(1000, 'A')), log);
        StringBuffer text;
        log.getLogText(text);
        const std::string t = text.getString();
        EXPECT_NE(t.find(mode == 0 ? "cbc" : mode == 2 ? "cfb" : "ecb"), std::string::npos) << t;
        EXPECT_NE(t.find("01AB"), std::string::npos) << t;
        EXPECT_NE(t.find("1020"), std::string::npos) << t;
        EXPECT_NE(t.find("1000"), std::string::npos) << t;
        int bytesLogged = 0; // 'A' is 41: the only 41s in the log are input bytes
        for (std::size_t at = t.find("41"); at != std::string::npos; at = t.find("41", at + 2))
            ++bytesLogged;
        EXPECT_EQ(bytesLogged, 256) << t;
    }
    c.SetHmacKeyBytes(Bytes("k"));
    StringBuffer text;
    c.getLog().getLogText(text);
    EXPECT_TRUE(text.containsSubstring("SetHmacKeyBytes")) << text.getString();
}

TEST(CryptoRecords, OidsFollowTheTables) {
    struct Case {
        std::uint32_t algId;
        std::uint32_t bits;
        const char* name;
        const char* oid;
        bool known;
    } cases[] = {
        {0x8004, 160, "SHA-1", "1.3.14.3.2.26", true},
        {0x8004, 160, "sha", "1.3.14.3.2.18", true},
        {0x8003, 128, "MD5", "1.2.840.113549.2.5", true},
        {0x8002, 128, "md4", "1.2.840.113549.2.4", true},
        {0x8001, 128, "md2", "1.2.840.113549.2.2", true},
        {0x801E, 256, "GOST R 34.11-94", "1.2.643.2.2.9", true},
        {0x800C, 256, "whatever", "2.16.840.1.101.3.4.2.1", true},
        {0x800D, 384, "x", "2.16.840.1.101.3.4.2.2", true},
        {0x800E, 512, "x", "2.16.840.1.101.3.4.2.3", true},
        {0x8099, 0, "unknown", "1.3.14.3.2.26", false},
        {0x6601, 56, "DES", "1.3.14.3.2.7", true},
        {0x6603, 168, "3des", "1.2.840.113549.3.7", true},
        {0x6609, 112, "3DES TWO KEY", "1.2.840.113549.3.7", true},
        {0x6602, 128, "RC2", "1.2.840.113549.3.2", true},
        {0x6801, 128, "RC4", "1.2.840.113549.3.4", true},
        {0x6801, 128, "arc4", "1.2.840.113549.3.4", true},
        {0x6801, 128, "RC4 ", "1.2.840.113549.3.2", false},
        {0x661E, 256, "GOST 28147-89", "1.2.643.2.2.21", true},
        {0x660E, 128, "AES 128", "2.16.840.1.101.3.4.1.2", true},
        {0x660F, 192, "aes 192", "2.16.840.1.101.3.4.1.22", true},
        {0x6610, 256, "AES 128", "2.16.840.1.101.3.4.1.42", true},
        {0x4610, 256, "aes", "2.16.840.1.101.3.4.1.42", true},
        {0x6666, 64, "Skipjack", "1.2.840.113549.3.2", false},
        {0xA400, 2048, "RSA_KEYX", "", false},
        {0x2400, 2048, "RSA_SIGN", "", false},
    };
    for (const auto& c : cases) {
        CryptoAlg alg(c.algId, c.bits, c.name);
        StringBuffer oid;
        EXPECT_EQ(alg.getOid(oid), c.known) << c.name;
        EXPECT_STREQ(oid.getString(), c.oid) << c.name;
    }
    CryptoAlg twice(0x8003, 128, "md5");
    StringBuffer oid;
    twice.getOid(oid);
    twice.getOid(oid);
    EXPECT_STREQ(oid.getString(), "1.2.840.113549.2.51.2.840.113549.2.5");
}

TEST(CipherHolder, HoldsOneCipherAtATime) {
    CryptoPtr holder(kCipherAes);
    RijndaelContext* aes = holder.getAes();
    ASSERT_NE(aes, nullptr);
    EXPECT_EQ(holder.getAes(), aes) << "the held object is kept";
    EXPECT_NE(holder.getDes(), nullptr);
    EXPECT_NE(holder.getAes(), nullptr) << "a fresh, unkeyed context";
    EXPECT_NE(holder.getRc4(), nullptr);
    EXPECT_TRUE(CryptoPtr(kCipherNone).isEmpty());
    EXPECT_FALSE(CryptoPtr(kCipherDes).isEmpty());

    // A held context keeps its key schedule and chain between chunks.
    CryptoPtr chunks;
    RijndaelContext* ctx = chunks.getAes();
    ctx->setKeyLength(128);
    ctx->setKeyBytes("0123456789abcdef", 16);
    LogNull quiet;
    DataBuffer carried;
    std::unique_ptr<DataBuffer> first(ctx->encryptFirstChunk(Bytes(std::string(32, 'a')), carried, quiet));
    Bytes rest(std::string(16, 'a'));
    std::unique_ptr<DataBuffer> next(chunks.getAes()->encryptNextChunk(rest, carried, quiet));
    RijndaelContext whole;
    whole.setKeyLength(128);
    whole.setKeyBytes("0123456789abcdef", 16);
    whole.setPaddingScheme(kPadZeros);
    Bytes all(std::string(48, 'a'));
    std::unique_ptr<DataBuffer> expect(whole.encryptDbNew(all, quiet));
    ASSERT_EQ(expect->getSize(), 48u);
    EXPECT_EQ(grvtest::ToHex(first->getData(), 32) + grvtest::ToHex(next->getData(), next->getSize()),
              grvtest::ToHex(expect->getData(), 48));
}

} // namespace
