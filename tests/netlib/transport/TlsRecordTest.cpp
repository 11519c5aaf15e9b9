// TLS records: MACs and protection judged by the python reference written
// from RFC 2246 and RFC 6101, the padding rules of both versions, and the
// framer's limits on what a peer announces.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/transport/TlsProtocol.h"
#include "netlib/transport/TlsRecord.h"
#include "tests/netlib/transport/TlsTestSupport.h"

namespace {

using namespace tessik;
using namespace tlstest;

struct SuiteCase {
    std::uint16_t suite;
    std::uint32_t minor;
};

std::vector<SuiteCase> AllSuitesBothVersions() {
    std::vector<SuiteCase> cases;
    for (std::uint16_t suite : kTlsOfferedSuites)
        for (std::uint32_t minor : {kSsl30Minor, kTls10Minor})
            cases.push_back({suite, minor});
    return cases;
}

// Key material for one direction of a suite, drawn from rng.
struct Keys {
    Bytes mac, key, iv;
    Keys(const TlsSuiteInfo& s, std::mt19937& rng)
        : mac(RandomBytes(rng, s.macSize())), key(RandomBytes(rng, s.keySize)), iv(RandomBytes(rng, s.ivSize)) {}
    std::string Json(std::uint16_t suite, std::uint32_t minor) const {
        return "{\"suite\":" + std::to_string(suite) + ",\"minor\":" + std::to_string(minor) + ",\"mac_secret\":\"" +
               Hex(mac) + "\",\"key\":\"" + Hex(key) + "\",\"iv\":\"" + Hex(iv) + "\",\"records\":[";
    }
    void Configure(TlsSecurityParams& p, const TlsSuiteInfo& s) const {
        configureTlsParams(p, s, mac.data(), key.data(), iv.data());
    }
};

TEST(TlsRecordMac, EqualsTheReferenceUnderBothVersionsAndBothHashes) {
    std::mt19937 rng(2246);
    struct Case {
        int mac;
        std::uint64_t seq;
        std::uint32_t type, minor;
        Bytes secret, content;
    };
    std::vector<Case> cases;
    for (int i = 0; i < 120; ++i) {
        const int mac = i % 2 ? kTlsMacMd5 : kTlsMacSha1;
        const std::uint64_t seq = i == 0 ? 0 : i == 1 ? ~0ull : (std::uint64_t(rng()) << 32 | rng());
        cases.push_back({mac, seq, 20 + std::uint32_t(rng() % 4), std::uint32_t(i / 2 % 2),
                         RandomBytes(rng, mac == kTlsMacMd5 ? 16 : 20), RandomBytes(rng, rng() % 400)});
    }
    std::string json = "[";
    std::vector<std::string> ours;
    for (const Case& c : cases) {
        TlsSecurityParams p;
        p.macAlgorithm = c.mac;
        p.macSecret.append(c.secret.data(), c.secret.size());
        unsigned char mac[20];
        tlsRecordMac(p, c.seq, c.type, 3, c.minor, c.content.data(), std::uint32_t(c.content.size()), mac);
        ours.push_back(Hex(mac, p.macLength()));
        json += std::string(json.size() > 1 ? "," : "") + "{\"alg\":\"" + (c.mac == kTlsMacMd5 ? "md5" : "sha1") +
                "\",\"secret\":\"" + Hex(c.secret) + "\",\"seq\":" + std::to_string(c.seq) +
                ",\"type\":" + std::to_string(c.type) + ",\"major\":3,\"minor\":" + std::to_string(c.minor) +
                ",\"content\":\"" + Hex(c.content) + "\"}";
    }
    EXPECT_EQ(ours, Reference("mac", json + "]"));

    // The TLS MAC covers the version and is an HMAC: never the SSL 3.0 one.
    for (const Case& c : cases) {
        TlsSecurityParams p;
        p.macAlgorithm = c.mac;
        p.macSecret.append(c.secret.data(), c.secret.size());
        unsigned char ssl3[20], tls[20];
        tlsRecordMac(p, c.seq, c.type, 3, 0, c.content.data(), std::uint32_t(c.content.size()), ssl3);
        tlsRecordMac(p, c.seq, c.type, 3, 1, c.content.data(), std::uint32_t(c.content.size()), tls);
        EXPECT_NE(Hex(ssl3, p.macLength()), Hex(tls, p.macLength()));
    }
}

// Record sizes that cross block boundaries and the largest content.
const std::vector<std::size_t> kContentSizes = {0, 1, 11, 12, 31, 100, 1000, 16384};

TEST(TlsRecordProtection, TheReferenceReadsWhatEachSuiteWrites) {
    std::mt19937 rng(6101);
    for (const SuiteCase& sc : AllSuitesBothVersions()) {
        const TlsSuiteInfo& suite = *tlsSuiteInfo(sc.suite);
        Keys keys(suite, rng);
        TlsSecurityParams write;
        keys.Configure(write, suite);
        Logger log;
        std::string json = keys.Json(sc.suite, sc.minor);
        std::vector<std::string> contents;
        for (std::size_t k = 0; k < kContentSizes.size(); ++k) {
            Bytes content = RandomBytes(rng, kContentSizes[k]);
            DataBuffer fragment;
            ASSERT_TRUE(tlsProtect(write, k, kTlsApplicationData, 3, sc.minor, content.data(),
                                   std::uint32_t(content.size()), fragment, log));
            json += std::string(k ? "," : "") + "{\"type\":23,\"fragment\":\"" + Hex(fragment) + "\"}";
            contents.push_back(Hex(content));
        }
        EXPECT_EQ(Reference("unprotect", json + "]}"), contents) << sc.suite << " minor " << sc.minor;
    }
}

TEST(TlsRecordProtection, WhatTheReferenceWritesIsReadBackInOrder) {
    std::mt19937 rng(1996);
    for (const SuiteCase& sc : AllSuitesBothVersions()) {
        const TlsSuiteInfo& suite = *tlsSuiteInfo(sc.suite);
        Keys keys(suite, rng);
        std::string json = keys.Json(sc.suite, sc.minor);
        std::vector<Bytes> contents;
        for (std::size_t k = 0; k < kContentSizes.size(); ++k) {
            contents.push_back(RandomBytes(rng, kContentSizes[k]));
            json += std::string(k ? "," : "") + "{\"type\":23,\"content\":\"" + Hex(contents.back()) + "\"}";
        }
        std::vector<std::string> fragments = Reference("protect", json + "]}");
        ASSERT_EQ(fragments.size(), contents.size());
        TlsSecurityParams read;
        keys.Configure(read, suite);
        Logger log;
        for (std::size_t k = 0; k < contents.size(); ++k) {
            TlsRawRecord record;
            record.contentType = kTlsApplicationData;
            record.major = 3;
            record.minor = sc.minor;
            Bytes f = FromHex(fragments[k]);
            record.fragment.append(f.data(), std::uint32_t(f.size()));
            ASSERT_TRUE(tlsUnprotect(read, k, record, log, false)) << sc.suite << " " << LogText(log);
            EXPECT_EQ(Hex(record.fragment), Hex(contents[k]));
        }
    }
}

TEST(TlsRecordProtection, PaddingFillsTheLastBlockOrAddsAWholeOne) {
    // AES and SHA-1: 11 + 20 + 1 is two blocks exactly (padding length 0);
    // 12 content bytes need 15 more.
    const TlsSuiteInfo& aes = *tlsSuiteInfo(kTlsRsaAes128Sha);
    std::mt19937 rng(31);
    Keys keys(aes, rng);
    for (auto [content, fragment] : {std::pair<std::uint32_t, std::uint32_t>{11, 32}, {12, 48}, {0, 32}, {27, 48}}) {
        TlsSecurityParams write;
        keys.Configure(write, aes);
        Bytes data(content, 'x');
        DataBuffer out;
        LogNull log;
        ASSERT_TRUE(tlsProtect(write, 0, kTlsApplicationData, 3, 1, data.data(), content, out, log));
        EXPECT_EQ(out.getSize(), fragment) << content;
    }
}

TEST(TlsRecordProtection, ShortFragmentOrUnevenPaddingIsABadMacUnderTlsOnly) {
    struct Case {
        std::uint32_t minor;
        const char* padding;
        int cut;                 // bytes taken off the end of the fragment
        const char* failureText; // null: the record passes
    };
    const Case cases[] = {
        {kTls10Minor, "uneven", 0, tlsmsg::kInvalidMac},
        {kSsl30Minor, "uneven", 0, nullptr},
        {kTls10Minor, "oversize", 0, tlsmsg::kInvalidMac},
        {kSsl30Minor, "oversize", 0, tlsmsg::kInvalidMac},
        {kTls10Minor, "even", 5, tlsmsg::kInvalidMac},
        {kSsl30Minor, "even", 5, tlsmsg::kDecryptFailed},
        {kTls10Minor, "even", 0, nullptr},
    };
    std::mt19937 rng(47);
    for (std::uint16_t id : {kTlsRsaAes256Sha, kTlsRsa3desSha}) {
        const TlsSuiteInfo& suite = *tlsSuiteInfo(id);
        for (const Case& c : cases) {
            Keys keys(suite, rng);
            // 13 content bytes: a padding length above 0 for both block sizes.
            Bytes content = RandomBytes(rng, 13);
            std::vector<std::string> fragment =
                Reference("protect", keys.Json(id, c.minor) + "{\"type\":23,\"content\":\"" + Hex(content) +
                                         "\",\"padding\":\"" + c.padding + "\"}]}");
            ASSERT_EQ(fragment.size(), 1u);
            Bytes f = FromHex(fragment[0]);
            f.resize(f.size() - std::size_t(c.cut));
            TlsSecurityParams read;
            keys.Configure(read, suite);
            TlsRawRecord record;
            record.contentType = kTlsApplicationData;
            record.major = 3;
            record.minor = c.minor;
            record.fragment.append(f.data(), std::uint32_t(f.size()));
            Logger log;
            const bool ok = tlsUnprotect(read, 0, record, log, false);
            const std::string what = std::to_string(id) + " minor " + std::to_string(c.minor) + " " + c.padding;
            if (c.failureText == nullptr) {
                EXPECT_TRUE(ok) << what << LogText(log);
                EXPECT_EQ(Hex(record.fragment), Hex(content)) << what;
            } else {
                EXPECT_FALSE(ok) << what;
                EXPECT_NE(LogText(log).find(c.failureText), std::string::npos) << what << LogText(log);
            }
        }
    }
}

TEST(TlsRecordFramer, LengthsFromThePeerAreCheckedBeforeUse) {
    struct Case {
        const char* name;
        Bytes stream;
        int result;
        int alert;
        const char* text;
    };
    Bytes tooLong = {22, 3, 1, 0x48, 0x01}; // 18433 bytes announced
    Bytes topBit = {23, 3, 1, 0x80, 0x02, 'h', 'i'};
    Bytes ssl2Short = {0x80, 0x05, 1, 3, 1};
    Bytes bigMessage = {22, 3, 1, 0, 4, 11, 0x04, 0x00, 0x01};
    Bytes version40 = {23, 4, 0, 0, 2, 'h', 'i'};
    Bytes empties, emptiesThenData;
    for (int i = 0; i < 33; ++i)
        empties.insert(empties.end(), {22, 3, 1, 0, 0});
    emptiesThenData.assign(empties.begin() + 5, empties.end());
    emptiesThenData.insert(emptiesThenData.end(), {23, 3, 1, 0, 2, 'h', 'i'});
    const Case cases[] = {
        {"record longer than the protocol allows", tooLong, -1, kTlsAlertRecordOverflow, tlsmsg::kRecordTooLong},
        {"length with its top bit set is 16 bits long", topBit, -1, kTlsAlertRecordOverflow, tlsmsg::kRecordTooLong},
        {"SSL 2.0 header shorter than its fixed fields", ssl2Short, -1, kTlsAlertDecodeError, tlsmsg::kBadSsl2Header},
        {"handshake message above the limit", bigMessage, -1, kTlsAlertDecodeError, tlsmsg::kHandshakeTooLong},
        {"record version 4.0", version40, -1, kTlsAlertProtocolVersion, tlsmsg::kRecordVersion},
        {"33 empty records in a row", empties, -1, kTlsAlertUnexpectedMessage, tlsmsg::kTooManyEmptyRecords},
        {"32 empty records, then data", emptiesThenData, 1, -1, nullptr},
    };
    for (const Case& c : cases) {
        TlsProtocol p;
        Logger log;
        EXPECT_EQ(p.receiveRecordBytes(c.stream.data(), std::uint32_t(c.stream.size()), log, false), c.result)
            << c.name;
        EXPECT_EQ(p.pendingAlert(), c.alert) << c.name;
        if (c.text != nullptr) {
            EXPECT_NE(LogText(log).find(c.text), std::string::npos) << c.name << LogText(log);
        }
    }
    TlsProtocol p;
    LogNull log;
    p.receiveRecordBytes(emptiesThenData.data(), std::uint32_t(emptiesThenData.size()), log, false);
    EXPECT_EQ(Hex(p.heldApplicationData()), "6869");
}

TEST(TlsRecordFramer, AnSsl2ClientHelloBecomesAnSsl3OneWithTheOfferedSuitesOnly) {
    // Cipher specs: AES128-SHA, an SSL 2.0-only spec, RC4-MD5; no session id;
    // a 16-byte challenge.
    Bytes body = {1, 3, 1, 0, 9, 0, 0, 0, 16, 0, 0, 0x2F, 0x07, 0x00, 0xC0, 0, 0, 0x04};
    Bytes challenge(16, 0xAB);
    body.insert(body.end(), challenge.begin(), challenge.end());
    Bytes stream = {std::uint8_t(0x80 | (body.size() >> 8)), std::uint8_t(body.size())};
    stream.insert(stream.end(), body.begin(), body.end());
    std::string random = std::string(32, '0');
    for (int i = 0; i < 16; ++i)
        random += "ab";
    const std::string expected = "ClientHello 3.1 " + random + "  002f0004 00\nheld \nok\n";
    EXPECT_EQ(ParseStream(stream), expected);
    EXPECT_EQ(ReferenceTranscripts({stream})[0], expected);
}

} // namespace
