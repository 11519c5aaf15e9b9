#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/crypto/CryptoServices.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"
#include "netlib/streams/TessikDeflate.h"
#include "netlib/streams/WinZipAes.h"
#include "tests/netlib/crypto/CryptoTestSupport.h"
#include "tests/netlib/streams/ZipTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::hex;
using cryptotest::unhex;

namespace {

using ziptest::aesExtra;
using ziptest::kMethodAes;

class WinZipAesTest : public ::testing::Test {
protected:
    void SetUp() override { installCryptoServices(); }
};

// A DataBuffer holding a copy of the text.
struct db : DataBuffer {
    explicit db(const std::string& s) { append(s.data(), static_cast<unsigned>(s.size())); }
};

std::string str(const DataBuffer& d) {
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

std::string encrypt(const std::string& plain, const std::string& password, int mode) {
    DataBuffer out;
    OutputDataBuffer sink(&out);
    LogNull log;
    EXPECT_TRUE(WinZipAesEncrypt3(reinterpret_cast<const unsigned char*>(plain.data()), plain.size(), db(password),
                                  mode, sink, nullptr, log, false));
    return str(out);
}

struct Decrypted {
    bool ok = false, badPassword = false, authFailed = false;
    std::string plain, log;
};

Decrypted decrypt(const std::string& data, const std::string& password, int mode, bool stream) {
    Decrypted d;
    DataBuffer out;
    Logger log;
    WinZipAes aes;
    if (stream) {
        MemoryDataSource source;
        source.setData(data.data(), data.size(), false);
        OutputDataBuffer sink(&out);
        d.ok = aes.decryptStream(source, db(password), mode, sink, log, false, &d.badPassword, &d.authFailed);
    } else {
        d.ok = aes.decryptMemory(reinterpret_cast<const unsigned char*>(data.data()),
                                 static_cast<std::uint32_t>(data.size()), db(password), mode, out, log, false,
                                 &d.badPassword, &d.authFailed);
    }
    d.plain = str(out);
    StringBuffer text;
    log.getLogText(text);
    d.log = text.getString();
    return d;
}

} // namespace

TEST_F(WinZipAesTest, PublishedHmacAndPbkdf2Vectors) {
    for (auto& r : cryptotest::readRecords(cryptotest::dataPath("hmac-rfc2202-sha1.txt"), "MD")) {
        HmacSha1 mac;
        ASSERT_TRUE(mac.begin());
        const std::string key = unhex(r["Key"]), msg = unhex(r["Msg"]);
        mac.key(reinterpret_cast<const unsigned char*>(key.data()), static_cast<unsigned>(key.size()));
        mac.data(reinterpret_cast<const unsigned char*>(msg.data()), static_cast<unsigned>(msg.size()));
        unsigned char out[HmacSha1::kDigest];
        mac.end(out, sizeof out);
        EXPECT_EQ(hex(out, sizeof out), r["MD"]) << r["Key"];
    }
    auto records = cryptotest::readRecords(cryptotest::dataPath("pbkdf2-rfc6070-sha1.txt"), "DK");
    ASSERT_EQ(records.size(), 5u);
    for (auto& r : records) {
        const std::string p = unhex(r["P"]), s = unhex(r["S"]);
        std::vector<unsigned char> key(std::stoul(r["dkLen"]));
        LogNull log;
        ASSERT_TRUE(ZipAes_derive_key(reinterpret_cast<const unsigned char*>(p.data()), static_cast<unsigned>(p.size()),
                                      reinterpret_cast<const unsigned char*>(s.data()), static_cast<unsigned>(s.size()),
                                      static_cast<unsigned>(std::stoul(r["c"])), key.data(),
                                      static_cast<unsigned>(key.size()), log, false));
        EXPECT_EQ(hex(key.data(), key.size()), r["DK"]) << r["c"];
    }
}

// Sizes around the 8096-byte piece and the stream reader's carry-over.
TEST_F(WinZipAesTest, RoundTripsThroughMemoryAndStream) {
    const std::size_t sizes[] = {0, 1, 15, 16, 17, 8095, 8096, 8105, 8106, 8107, 16192, 50000};
    for (int mode : {1, 2, 3, 192}) {
        for (std::size_t size : sizes) {
            const grvtest::Bytes bytes = grvtest::RandomBytes(size, static_cast<std::uint32_t>(size + mode));
            const std::string plain(bytes.begin(), bytes.end());
            const std::string packed = encrypt(plain, "pw", mode);
            EXPECT_EQ(packed.size(), size + static_cast<std::size_t>(WinZipAes::overheadSize(mode))) << mode;
            for (bool stream : {false, true}) {
                Decrypted d = decrypt(packed, "pw", mode, stream);
                EXPECT_TRUE(d.ok) << mode << " " << size << " " << stream << d.log;
                EXPECT_TRUE(d.plain == plain) << mode << " " << size << " " << stream;
            }
        }
    }
}

TEST_F(WinZipAesTest, WrongPasswordTamperingAndShortInput) {
    const std::string packed = encrypt("some entry data, long enough to matter", "right", 3);
    std::string flipped = packed;
    flipped[WinZipAes::saltSize(3) + WinZipAes::kVerifierSize + 3] ^= 1;
    std::string cutMac = packed.substr(0, packed.size() - 1);
    for (bool stream : {false, true}) {
        Decrypted wrong = decrypt(packed, "wrong", 3, stream);
        EXPECT_TRUE(!wrong.ok && wrong.badPassword && !wrong.authFailed && wrong.plain.empty());
        Decrypted tampered = decrypt(flipped, "right", 3, stream);
        EXPECT_TRUE(!tampered.ok && !tampered.badPassword && tampered.authFailed);
        EXPECT_NE(tampered.log.find(stream ? wzaes_msg::kAuthStream : wzaes_msg::kAuthMemory), std::string::npos);
        EXPECT_TRUE(decrypt(cutMac, "right", 3, stream).authFailed);
    }
    Decrypted shortInput = decrypt(std::string(19, 'x'), "pw", 1, false);
    EXPECT_FALSE(shortInput.ok);
    EXPECT_NE(shortInput.log.find(wzaes_msg::kTooShort), std::string::npos);
    Decrypted empty = decrypt("", "pw", 1, false);
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.plain.empty());

    // Passwords up to 128 bytes.
    const std::string longest(WinZipAes::kMaxPassword, 'p');
    EXPECT_EQ(decrypt(encrypt("x", longest, 1), longest, 1, false).plain, "x");
    DataBuffer out;
    OutputDataBuffer sink(&out);
    LogNull log;
    const unsigned char x = 'x';
    EXPECT_FALSE(WinZipAesEncrypt3(&x, 1, db(longest + "p"), 1, sink, nullptr, log, false));
}

// 7-Zip reads our entries, and we read its.
TEST_F(WinZipAesTest, InteroperatesWithSevenZip) {
    grvtest::TempDir dir("wzaes");
    const grvtest::Bytes text = grvtest::TextLike(30000, 39);
    const std::string plain(text.begin(), text.end());
    const std::string password = "Tr0ub4dor&3";

    std::vector<ziptest::Entry> entries;
    for (int mode : {1, 2, 3}) {
        ziptest::Entry e;
        e.name = "aes" + std::to_string(mode) + ".txt";
        e.method = kMethodAes;
        e.flags = ziptest::kFlagEncrypted;
        e.packed = encrypt(plain, password, mode);
        e.size = static_cast<std::uint32_t>(plain.size());
        e.extra = aesExtra(mode, ziptest::kMethodStored);
        entries.push_back(e);
    }
    const std::string ours = dir.File("ours.zip");
    ASSERT_TRUE(grvtest::WriteFile(ours, ziptest::packZip(entries)));
    auto tested = grvtest::RunPeer({"7z", "t", "-p" + password, ours});
    EXPECT_TRUE(tested.Ok()) << tested.out;
    auto extracted = grvtest::RunPeer({"7z", "x", "-p" + password, "-o" + dir.File("out"), ours});
    ASSERT_TRUE(extracted.Ok()) << extracted.out;
    for (const auto& e : entries)
        EXPECT_TRUE(grvtest::ReadFile(dir.File("out/" + e.name)) == plain) << e.name;
    EXPECT_FALSE(grvtest::RunPeer({"7z", "t", "-pnot-it", ours}).Ok());

    // 7-Zip's entries, deflated and stored, at each strength.
    ASSERT_TRUE(grvtest::WriteFile(dir.File("in.txt"), plain));
    for (const char* method : {"AES128", "AES192", "AES256"}) {
        for (const char* level : {"-mx=0", "-mx=5"}) {
            const std::string theirs = dir.File(std::string(method) + level + ".zip");
            auto made = grvtest::RunPeer({"7z", "a", "-tzip", std::string("-mem=") + method, level, "-p" + password,
                                          theirs, dir.File("in.txt")});
            ASSERT_TRUE(made.Ok()) << made.out;
            const std::string zip = grvtest::ReadFile(theirs);
            ASSERT_EQ(ziptest::get32(zip, 0), 0x04034b50u);
            const std::uint32_t packedSize = ziptest::get32(zip, 18);
            const std::size_t nameLen = ziptest::get16(zip, 26), extraLen = ziptest::get16(zip, 28);
            const std::string extra = zip.substr(30 + nameLen, extraLen);
            const std::size_t at = extra.find("AE");
            ASSERT_NE(at, std::string::npos);
            const int mode = static_cast<unsigned char>(extra[at + 2]);
            const std::uint32_t realMethod = ziptest::get16(extra, at + 3);
            const std::string data = zip.substr(30 + nameLen + extraLen, packedSize);
            for (bool stream : {false, true}) {
                Decrypted d = decrypt(data, password, mode, stream);
                ASSERT_TRUE(d.ok) << method << level << d.log;
                std::string got = d.plain;
                if (realMethod == ziptest::kMethodDeflated) {
                    DataBuffer inflated;
                    LogNull log;
                    ASSERT_TRUE(TessikDeflate::inflateFromSource(db(d.plain), inflated, log));
                    got = str(inflated);
                }
                EXPECT_TRUE(got == plain) << method << level;
                EXPECT_TRUE(decrypt(data, password + "x", mode, stream).badPassword);
            }
        }
    }
}
