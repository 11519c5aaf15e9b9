// The packet and key-exchange engines without a socket: padding, packets
// under every protection, the faults they refuse, negotiation, group sizes,
// key derivation and host keys. python3 (hashlib, hmac, cryptography) and
// ssh-keygen judge what has an outside reference.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"
#include "netlib/transport/SshHostKey.h"
#include "netlib/transport/SshKeyExchange.h"
#include "netlib/transport/SshPacketCodec.h"
#include "netlib/transport/SshTranscript.h"
#include "tests/support/TestSupport.h"

namespace grvtest {
namespace {

using namespace tessik;

// A buffer made from bytes, returned as a temporary (buffers do not copy).
struct Buf : DataBuffer {
    explicit Buf(const std::string& bytes) { append(bytes.data(), static_cast<unsigned int>(bytes.size())); }
};
Buf Db(const std::string& s) {
    return Buf(s);
}
std::string Str(const DataBuffer& d) {
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}
std::string Hex(const DataBuffer& d) {
    return ToHex(d.getData(), d.getSize());
}
Buf FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return Buf(bytes);
}

// Both ends of one direction under the same keys, as the key switch leaves them.
void Protect(SshDirection& d, int cipher, int mac, int compression, const std::string& key) {
    d.cipherId = cipher;
    d.macId = mac;
    d.compressionId = compression;
    d.newStream = compression == kSshCompressZlib;
    const SshKeyLengths lengths = sshGetKeyLengths(cipher);
    d.crypt.setCryptAlgorithm(lengths.cryptAlgorithm);
    d.crypt.setKeyLength(lengths.keyBits);
    d.crypt.setSecretKeyBytes(key.data(), lengths.keyBytes);
    d.crypt.setIVBytes(key.data() + 32, lengths.ivBytes);
    d.crypt.setCipherMode(kCipherModeCbc);
    d.crypt.setPaddingScheme(kPadZeros);
    d.crypt.setRc4Drop(cipher == kSshCipherArcfour128 || cipher == kSshCipherArcfour256);
    d.crypt.setHashAlgorithm(mac == kSshMacMd5 ? "md5" : "sha1");
    Buf macKey = Db(key.substr(0, sshMacKeyLength(mac)));
    d.crypt.SetHmacKeyBytes(macKey);
    d.firstPacket = true;
}

void ProtectReader(SshPacketReader& r, int cipher, int mac, int compression, const std::string& key) {
    Protect(r, cipher, mac, compression, key);
    r.blockSize = cipher == kSshCipherNone ? 0 : static_cast<unsigned int>(r.crypt.getBlockSize());
}

// Feeds wire to the reader in pieces of `piece` bytes; the payloads it gives.
std::vector<std::string> Feed(SshPacketReader& r, const DataBuffer& wire, unsigned int piece, bool* failed) {
    std::vector<std::string> out;
    LogNull log;
    unsigned int at = 0;
    *failed = false;
    while (at < wire.getSize()) {
        unsigned int consumed = 0;
        const unsigned int n = std::min(piece, wire.getSize() - at);
        SshPacketReader::Step s = r.feed(wire.getData() + at, n, consumed, log, false);
        if (s == SshPacketReader::Step::kFailed) {
            *failed = true;
            break;
        }
        if (s == SshPacketReader::Step::kPacket)
            out.push_back(Str(r.payload()));
        at += consumed;
    }
    return out;
}

const std::string kKey = std::string(reinterpret_cast<const char*>(RandomBytes(64, 7).data()), 64);

TEST(SshPacketEngine, PaddingFollowsTheBlockRule) {
    struct Case {
        unsigned int payload, block, padding, total;
    } cases[] = {{5, 8, 6, 16}, {3, 8, 8, 16}, {1, 16, 10, 16}, {27, 16, 16, 48}, {12, 8, 7, 24}, {0, 8, 11, 16}};
    for (const Case& c : cases) {
        SshPadding p = sshComputePadding(c.payload, c.block);
        EXPECT_EQ(p.padding, c.padding) << c.payload << "/" << c.block;
        EXPECT_EQ(p.total, c.total) << c.payload << "/" << c.block;
        EXPECT_EQ(p.packetLength, c.total - 4);
    }
}

TEST(SshPacketEngine, PacketsRoundTripUnderEveryProtection) {
    std::vector<std::string> payloads = {"\x05", std::string(27, 'x'), std::string(1000, '\0')};
    Bytes big = RandomBytes(100000, 3);
    payloads.emplace_back(big.begin(), big.end());
    for (int cipher = kSshCipherNone; cipher <= kSshCipherArcfour256; ++cipher) {
        for (int mac : {kSshMacNone, kSshMacSha1, kSshMacMd5}) {
            for (int zlib : {kSshCompressNone, kSshCompressZlib}) {
                SCOPED_TRACE(std::to_string(cipher) + "/" + std::to_string(mac) + "/" + std::to_string(zlib));
                SshPacketWriter w;
                SshPacketReader r;
                Protect(w, cipher, mac, zlib, kKey);
                ProtectReader(r, cipher, mac, zlib, kKey);
                LogNull log;
                DataBuffer wire;
                for (const std::string& p : payloads) {
                    DataBuffer one;
                    ASSERT_TRUE(w.seal(Db(p), one, nullptr, log, false));
                    EXPECT_EQ((one.getSize() - w.macSize()) % sshOutgoingBlockSize(cipher), 0u);
                    wire.appendDb(one);
                }
                bool failed = false;
                EXPECT_EQ(Feed(r, wire, 1 + cipher * 7 + mac * 3, &failed), payloads);
                EXPECT_FALSE(failed);
                EXPECT_EQ(r.sequence, w.sequence);
            }
        }
    }
}

TEST(SshPacketEngine, CipherStreamsMatchPythonsCiphers) {
    // Two packets per cipher, decrypted by python's cryptography as one
    // continuing stream: the CBC chain and the RC4 keystream run on from
    // packet to packet, and arcfour drops its first 1536 keystream bytes.
    struct Case {
        int cipher;
        const char* python;
    } cases[] = {{kSshCipherAes128, "AES"},     {kSshCipherAes256, "AES"},      {kSshCipherBlowfish, "Blowfish"},
                 {kSshCipher3des, "TripleDES"}, {kSshCipherArcfour128, "ARC4"}, {kSshCipherArcfour256, "ARC4"}};
    for (const Case& c : cases) {
        SshPacketWriter w;
        Protect(w, c.cipher, kSshMacNone, kSshCompressNone, kKey);
        LogNull log;
        DataBuffer wire;
        for (const char* p : {"first payload", "second payload, a little longer"}) {
            DataBuffer one;
            ASSERT_TRUE(w.seal(Db(p), one, nullptr, log, false));
            wire.appendDb(one);
        }
        const SshKeyLengths lengths = sshGetKeyLengths(c.cipher);
        RunResult r = Python(
            R"PY(
import sys, struct, warnings
warnings.simplefilter('ignore')
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes
name, key, iv, wire = sys.argv[1], bytes.fromhex(sys.argv[2]), bytes.fromhex(sys.argv[3]), bytes.fromhex(sys.argv[4])
if name == 'ARC4':
    d = Cipher(algorithms.ARC4(key), mode=None).decryptor()
    d.update(bytes(1536))
else:
    d = Cipher(getattr(algorithms, name)(key), modes.CBC(iv)).decryptor()
clear = d.update(wire)
while clear:
    n, pad = struct.unpack('>IB', clear[:5])
    print(clear[5:4 + n - pad].decode())
    clear = clear[4 + n:]
)PY",
            {c.python, ToHex(kKey.substr(0, lengths.keyBytes)), ToHex(kKey.substr(32, lengths.ivBytes)), Hex(wire)});
        EXPECT_EQ(r.out, "first payload\nsecond payload, a little longer\n") << c.cipher << r.err;
    }
}

TEST(SshPacketEngine, EveryPacketGetsItsOwnMac) {
    SshPacketWriter w;
    Protect(w, kSshCipherNone, kSshMacSha1, kSshCompressNone, kKey);
    LogNull log;
    std::vector<std::string> wires;
    for (const char* p : {"first", "second", "third"}) {
        DataBuffer wire;
        ASSERT_TRUE(w.seal(Db(p), wire, nullptr, log, false));
        wires.push_back(Hex(wire));
    }
    RunResult r = Python(R"PY(
import sys, hmac, hashlib, struct
key = bytes.fromhex(sys.argv[1])
for seq, w in enumerate(sys.argv[2:]):
    w = bytes.fromhex(w)
    clear, mac = w[:-20], w[-20:]
    print(hmac.new(key, struct.pack('>I', seq) + clear, hashlib.sha1).digest() == mac)
)PY",
                         {ToHex(kKey.substr(0, 20)), wires[0], wires[1], wires[2]});
    EXPECT_EQ(r.out, "True\nTrue\nTrue\n") << r.err;
}

TEST(SshPacketEngine, ReaderRefusesBadPackets) {
    struct Case {
        const char* name;
        std::string hex;
        SshPacketReader::Fault fault;
        bool broken;
    } cases[] = {
        {"body of 11 bytes", "0000000b0a" + std::string(20, '0'), SshPacketReader::Fault::kTooSmall, true},
        {"padding fills the body", "0000000c0b" + std::string(22, '0'), SshPacketReader::Fault::kEmpty, false},
        {"length past the limit", "7fffffff00", SshPacketReader::Fault::kTooLarge, true},
    };
    for (const Case& c : cases) {
        SshPacketReader r;
        bool failed = false;
        Feed(r, FromHex(c.hex), 64, &failed);
        EXPECT_TRUE(failed) << c.name;
        EXPECT_EQ(r.fault(), c.fault) << c.name;
        EXPECT_EQ(r.streamBroken(), c.broken) << c.name;
    }
    // A MAC that does not match breaks the stream; so does a length that is
    // no whole number of cipher blocks.
    SshPacketWriter w;
    SshPacketReader r;
    Protect(w, kSshCipherNone, kSshMacMd5, kSshCompressNone, kKey);
    ProtectReader(r, kSshCipherNone, kSshMacMd5, kSshCompressNone, kKey);
    LogNull log;
    DataBuffer wire;
    ASSERT_TRUE(w.seal(Db("payload"), wire, nullptr, log, false));
    wire.getData()[wire.getSize() - 1] ^= 1;
    bool failed = false;
    Feed(r, wire, 5, &failed);
    EXPECT_TRUE(failed && r.fault() == SshPacketReader::Fault::kMac && r.streamBroken());
}

TEST(SshPacketEngine, InflatedPayloadOverTheCapFails) {
    for (auto [size, passes] : {std::pair{200000u, true}, std::pair{kSshMaxInflatedPayload + 1, false}}) {
        SshPacketWriter w;
        SshPacketReader r;
        Protect(w, kSshCipherNone, kSshMacNone, kSshCompressZlib, kKey);
        ProtectReader(r, kSshCipherNone, kSshMacNone, kSshCompressZlib, kKey);
        Logger log;
        DataBuffer wire;
        ASSERT_TRUE(w.seal(Db(std::string(size, '\0')), wire, nullptr, log, false));
        EXPECT_LT(wire.getSize(), 2000u);
        unsigned int consumed = 0, at = 0;
        SshPacketReader::Step s = SshPacketReader::Step::kNeedMore;
        while (s == SshPacketReader::Step::kNeedMore && at < wire.getSize()) {
            s = r.feed(wire.getData() + at, wire.getSize() - at, consumed, log, false);
            at += consumed;
        }
        EXPECT_EQ(s, passes ? SshPacketReader::Step::kPacket : SshPacketReader::Step::kFailed) << size;
        EXPECT_EQ(r.payload().getSize(), passes ? size : 0u);
        StringBuffer text;
        log.getLogText(text);
        EXPECT_EQ(std::string(text.getString()).find(kSshMsgInflateTooLarge) != std::string::npos, !passes);
    }
}

// A server KEXINIT with the given lists (others as a plain server has them).
Buf ServerKexInit(std::vector<std::string> lists) {
    const char* defaults[] = {"diffie-hellman-group14-sha1",
                              "ssh-rsa",
                              "aes128-cbc",
                              "aes128-cbc",
                              "hmac-sha1",
                              "hmac-sha1",
                              "none",
                              "none",
                              "",
                              ""};
    DataBuffer p;
    p.appendChar(kSshMsgKexInit);
    p.appendCharRepeated(0, kSshCookieSize);
    for (std::size_t i = 0; i < 10; ++i)
        sshAppendCString(p, i < lists.size() && !lists[i].empty() ? lists[i].c_str() : defaults[i]);
    p.appendChar(0);
    sshAppendUint32(p, 0);
    return Buf(Str(p));
}

TEST(SshKeyExchangeEngine, NegotiatesFromTheClientsPreference) {
    struct Case {
        const char* name;
        std::vector<std::string> lists;
        bool allowCompression;
        bool agrees;
        int cipherIn, macOut, compressIn;
        const char* error;
    } cases[] = {
        {"upper-case aes128", {"", "", "AES128-CBC", "AES128-CBC"}, false, true, kSshCipherAes128, kSshMacSha1, 0, ""},
        {"zlib offered, not allowed",
         {"", "", "", "", "", "", "zlib,none", "zlib,none"},
         false,
         true,
         kSshCipherAes128,
         kSshMacSha1,
         0,
         ""},
        {"zlib only, not allowed",
         {"", "", "", "", "", "", "zlib", "zlib"},
         false,
         false,
         kSshCipherAes128,
         kSshMacSha1,
         0,
         "Unable to agree upon server-to-client compression algorithm."},
        {"zlib allowed",
         {"", "", "", "", "", "", "zlib", "zlib"},
         true,
         true,
         kSshCipherAes128,
         kSshMacSha1,
         kSshCompressZlib,
         ""},
        {"client-to-server MAC only differs",
         {"", "", "", "", "hmac-sha2-256", "hmac-md5"},
         false,
         false,
         kSshCipherAes128,
         0,
         0,
         "Unable to agree upon client-to-server MAC algorithm."},
        // "none" is never taken, whatever the server lists.
        {"server offers MAC none only",
         {"", "", "", "", "none", "none"},
         false,
         false,
         kSshCipherAes128,
         0,
         0,
         "Unable to agree upon server-to-client MAC algorithm."},
        {"server offers cipher none only",
         {"", "", "none", "none"},
         false,
         false,
         0,
         kSshMacSha1,
         0,
         "Unable to agree upon server-to-client encryption algorithm."},
        {"server order does not matter",
         {"", "", "", "3des-cbc,aes256-cbc", "none,hmac-md5"},
         false,
         true,
         kSshCipherAes256,
         kSshMacMd5,
         0,
         ""},
    };
    for (const Case& c : cases) {
        SshKeyExchange kex;
        kex.allowCompression = c.allowCompression;
        Logger log;
        EXPECT_EQ(kex.processServerKexinit(ServerKexInit(c.lists), log), c.agrees) << c.name;
        EXPECT_EQ(kex.pendingCipherIn, c.cipherIn) << c.name;
        EXPECT_EQ(kex.pendingMacOut, c.macOut) << c.name;
        EXPECT_EQ(kex.pendingCompressIn, c.compressIn) << c.name;
        StringBuffer text;
        log.getLogText(text);
        if (*c.error) {
            EXPECT_NE(std::string(text.getString()).find(c.error), std::string::npos) << c.name;
        }
    }
}

TEST(SshKeyExchangeEngine, GroupSizesFollowTheCipher) {
    struct Case {
        const char* cipher;
        const char* kex;
        std::uint32_t bits, group;
    } cases[] = {{"blowfish-cbc", "diffie-hellman-group-exchange-sha1", 128, 1024},
                 {"3des-cbc", "diffie-hellman-group-exchange-sha1", 160, 2048},
                 {"aes256-cbc", "diffie-hellman-group-exchange-sha256", 256, 4096},
                 {"3des-cbc", "diffie-hellman-group-exchange-sha256", 192, 2048}};
    for (const Case& c : cases) {
        SshKeyExchange kex;
        LogNull log;
        ASSERT_TRUE(kex.processServerKexinit(ServerKexInit({c.kex, "", c.cipher, c.cipher}), log));
        std::uint32_t bits = 0, group = 0;
        kex.getGroupExchangeSizes(bits, group);
        EXPECT_EQ(bits, c.bits) << c.cipher;
        EXPECT_EQ(group, c.group) << c.cipher;
    }
}

TEST(SshKeyExchangeEngine, ArcfourLeavesNoIvAndAOneByteBlock) {
    SshKeyExchange kex;
    LogNull log;
    ASSERT_TRUE(kex.processServerKexinit(ServerKexInit({"", "", "arcfour128", "arcfour128"}), log));
    kex.deriveSessionKeys(log);
    EXPECT_EQ(kex.keys[SshKeyExchange::kIvOut].getSize() + kex.keys[SshKeyExchange::kIvIn].getSize(), 0u);
    SshPacketWriter w;
    SshPacketReader r;
    kex.switchToNewKeys(w, r, log);
    EXPECT_EQ(r.blockSize, 1u);
    EXPECT_EQ(r.bytesWanted(), 4u);
}

TEST(SshKeyExchangeEngine, DerivedKeysFollowTheRfcFormula) {
    for (int kexAlg : {kSshKexGroup14, kSshKexGexSha256}) {
        SshKeyExchange kex;
        LogNull log;
        ASSERT_TRUE(
            kex.processServerKexinit(ServerKexInit({kexAlg == kSshKexGroup14 ? "diffie-hellman-group14-sha1"
                                                                             : "diffie-hellman-group-exchange-sha256"}),
                                     log));
        Bytes k = RandomBytes(256, 11);
        k[0] |= 0x80; // an mpint that needs its leading zero byte
        kex.dh.K = wordBignumFromBytes(k.data(), static_cast<std::uint32_t>(k.size()));
        kex.exchangeHash.appendStr("exchange-hash-bytes-");
        kex.sessionId.appendStr("session-identifier--");
        std::string ours;
        for (unsigned int need : {16u, 40u, 64u, 100u}) {
            DataBuffer key;
            const bool ok = kex.deriveKey('C', need, key);
            ours += (ok ? Hex(key) : "-") + "\n";
        }
        RunResult r =
            Python(R"PY(
import sys, hashlib, struct
k = bytes.fromhex(sys.argv[1]); h = sys.argv[2].encode(); sid = sys.argv[3].encode()
algo = hashlib.sha256 if sys.argv[4] == '256' else hashlib.sha1
mp = struct.pack('>I', len(k) + 1) + b'\0' + k
for need in (16, 40, 64, 100):
    out = algo(mp + h + b'C' + sid).digest()
    for _ in range(2):
        if len(out) >= need: break
        out += algo(mp + h + out).digest()
    print(out[:need].hex() if len(out) >= need else '-')
)PY",
                   {ToHex(k.data(), k.size()), "exchange-hash-bytes-", "session-identifier--", std::to_string(kexAlg)});
        EXPECT_EQ(ours, r.out) << r.err;
    }
}

TEST(SshKeyExchangeEngine, RefusesGuessableSecretsAndWeakGroups) {
    SshKeyExchange kex;
    Logger log;
    ASSERT_TRUE(kex.processServerKexinit(ServerKexInit({}), log));
    ASSERT_TRUE(kex.beginDiffieHellman(log));
    for (const char* f : {"01", "00"}) {
        DataBuffer reply;
        reply.appendChar(kSshMsgKexDhReply);
        sshAppendCString(reply, "host-key");
        Buf fb = FromHex(f);
        sshAppendBytesString(reply, fb.getData(), fb.getSize());
        sshAppendCString(reply, "signature");
        EXPECT_FALSE(kex.takeReply(reply, kSshMsgKexDhReply, log, false)) << f;
    }
    SshKeyExchange gex;
    ASSERT_TRUE(gex.processServerKexinit(ServerKexInit({"diffie-hellman-group-exchange-sha1"}), log));
    ASSERT_TRUE(gex.beginDiffieHellman(log));
    // A group of each prime, refused, and what the log says.
    auto refused = [&gex](const Bytes& prime, Logger& groupLog) {
        DataBuffer group;
        group.appendChar(kSshMsgKexDhGexGroup);
        sshAppendBytesString(group, prime.data(), static_cast<unsigned int>(prime.size()));
        sshAppendBytesString(group, "\x02", 1);
        EXPECT_FALSE(gex.takeGroup(group, groupLog));
        StringBuffer text;
        groupLog.getLogText(text);
        return std::string(text.getString());
    };
    Bytes small = RandomBytes(64, 5);
    small[0] |= 0x40;
    small[63] |= 1;
    const std::string smallText = refused(small, log);
    EXPECT_NE(smallText.find(kSshMsgSharedSecretFailed), std::string::npos);
    EXPECT_NE(smallText.find(kSshMsgBadGroup), std::string::npos);
    // An odd prime of 2,048 bits written as a negative mpint (no zero octet
    // before its top bit), which OpenSSH's reader refuses too.
    Bytes top = RandomBytes(256, 7);
    top[0] |= 0x80;
    top[255] |= 1;
    Logger negativeLog;
    const std::string negativeText = refused(top, negativeLog);
    EXPECT_NE(negativeText.find(kSshMsgNegativeMpint), std::string::npos) << negativeText;
    // A prime of 10,001 bits, beyond any group's bound.
    Bytes odd = RandomBytes(1251, 6);
    odd[0] = 0x01;
    odd.back() |= 1;
    Logger hugeLog;
    const std::string hugeText = refused(odd, hugeLog);
    EXPECT_NE(hugeText.find(dh_msg::kPrimeTooLarge), std::string::npos) << hugeText;
}

// argv: "rsa" or "dsa" and a public key file of that kind ssh-keygen wrote.
// One line out per blob: the algorithm negotiated, the blob in base64, and
// "strict" where ssh-keygen reads what is not the key's one encoding (a type
// string with a NUL after it, a number with a needless leading zero), which
// is refused here, the bound a number breaks (refused here before any
// arithmetic, whether ssh-keygen reads it or not), or "-". The RSA key's blob
// is sent as it is, named as the other algorithm, with bytes after it, under
// another type string, a negative or a padded number, or cut short, or with a
// modulus a byte shorter than 1024 bits; the DSA key's as it is, named RSA,
// or with a byte after it. Keys of odd numbers each just inside and just
// outside a bound: n of 16,384 and 16,385 bits, e of a million bits, e of 64
// and 65 bits beside n of 4,096, e equal to n; DSA p of 10,000 and 10,001
// bits, q of 224 and 256 (read by OpenSSH too), 512 and 513 bits, an even p
// (openssl's verification takes q of 160, 224 or 256 bits and an odd p only).
constexpr const char* kHostKeyBlobs = R"PY(
import base64, random, struct, sys
def s(b): return struct.pack(">I", len(b)) + b
def mp(x): return s(x.to_bytes(x.bit_length() // 8 + 1, "big"))
def odd(bits): return 1 << (bits - 1) | random.getrandbits(bits - 1) | 1
def rsa_of(e, n): return s(b"ssh-rsa") + mp(e) + mp(n)
def dsa_of(p, q): return s(b"ssh-dss") + mp(p) + mp(q) + mp(2) + mp(3)
def blob(path): return base64.b64decode(open(path).read().split()[1])
kind, key = sys.argv[1], blob(sys.argv[2])
if kind == "rsa":
    rsa = key
    e, n = rsa[11:15 + struct.unpack(">I", rsa[11:15])[0]], rsa[15 + struct.unpack(">I", rsa[11:15])[0]:]
    rows = [("ssh-rsa", rsa, "-"), ("ssh-dss", rsa, "-"), ("ssh-rsa", rsa + b"\0", "-"), ("ssh-rsa", rsa + s(b""), "-"),
            ("ssh-rsa", s(b"SSH-RSA") + e + n, "-"), ("ssh-rsa", s(b"ssh-rsa\0") + e + n, "strict"),
            ("ssh-rsa", s(b"ssh-rsa") + s(b"\x81") + n, "-"), ("ssh-rsa", s(b"ssh-rsa") + s(b"\0" + e[4:]) + n, "strict"),
            ("ssh-rsa", s(b"ssh-rsa") + e + s(b"\0" + n[4:]), "strict"), ("ssh-rsa", rsa[:-1], "-"),
            ("ssh-rsa", s(b"ssh-rsa") + e + s((short := int.from_bytes(n[4:], "big") >> 8).to_bytes(
                short.bit_length() // 8 + 1, "big")), "-"),
            ("ssh-rsa", rsa_of(65537, odd(16384)), "-"), ("ssh-rsa", rsa_of(65537, odd(16385)), "modulus"),
            ("ssh-rsa", rsa_of(odd(1000000), odd(16384)), "e-below-n"), ("ssh-rsa", rsa_of(odd(64), odd(4096)), "-"),
            ("ssh-rsa", rsa_of(odd(65), odd(4096)), "e-size"), ("ssh-rsa", rsa_of(big := odd(2048), big), "e-below-n")]
else:
    dsa = key
    rows = [("ssh-dss", dsa, "-"), ("ssh-rsa", dsa, "-"), ("ssh-dss", dsa + b"x", "-"),
            ("ssh-dss", dsa_of(odd(10000), odd(160)), "-"), ("ssh-dss", dsa_of(odd(10001), odd(160)), "dsa-p"),
            ("ssh-dss", dsa_of(odd(2048), odd(224)), "-"), ("ssh-dss", dsa_of(odd(2048), odd(256)), "-"),
            ("ssh-dss", dsa_of(odd(2048), odd(512)), "dsa-q"),
            ("ssh-dss", dsa_of(odd(2048), odd(513)), "dsa-q"), ("ssh-dss", dsa_of(odd(2048) ^ 1, odd(160)), "dsa-even")]
for alg, b, strict in rows:
    print(alg, base64.b64encode(b).decode(), strict)
)PY";

// What the log says of a number out of its bound, by the row's name of it.
const std::map<std::string, const char*> kBoundRefusals = {
    {"modulus", rsa_msg::kModulusTooLarge}, {"e-below-n", rsa_msg::kExponentNotBelowModulus},
    {"e-size", rsa_msg::kExponentTooLarge}, {"dsa-p", dsa_msg::kPrimeTooLarge},
    {"dsa-q", dsa_msg::kSubprimeSize},      {"dsa-even", dsa_msg::kPrimeEven}};

// The rows kHostKeyBlobs makes of a key file, after the given ones.
void AddHostKeyBlobs(std::vector<std::string>& rows, const char* kind, const std::string& publicKeyFile) {
    RunResult variants = Python(kHostKeyBlobs, {kind, publicKeyFile});
    ASSERT_TRUE(variants.Ok()) << variants.err;
    for (std::size_t at = 0, nl; (nl = variants.out.find('\n', at)) != std::string::npos; at = nl + 1)
        rows.push_back(variants.out.substr(at, nl - at));
}

struct BlobVerdicts {
    int read = 0;   // by both
    int parted = 0; // read by ssh-keygen alone
};

// Each row ("algorithm base64 strict") read here and by ssh-keygen from a
// public key line naming that algorithm, and where both read it, the same
// MD5 fingerprint.
BlobVerdicts JudgeHostKeyBlobs(TempDir& dir, const std::vector<std::string>& rows) {
    BlobVerdicts verdicts;
    for (const std::string& row : rows) {
        SCOPED_TRACE(row);
        std::istringstream fields(row);
        std::string algorithm, base64, strict;
        fields >> algorithm >> base64 >> strict;
        EXPECT_TRUE(WriteFile(dir.File("row.pub"), algorithm + " " + base64 + "\n"));
        const RunResult judged = RunProgram({"ssh-keygen", "-l", "-E", "md5", "-f", dir.File("row.pub")});
        DataBuffer blob;
        EXPECT_TRUE(ContentCoding::decodeBase64(base64.c_str(), static_cast<unsigned int>(base64.size()), blob));
        StringBuffer ours;
        Logger log;
        bool ok = false;
        if (algorithm == "ssh-rsa") {
            RsaKey key;
            ok = parseRsaHostKey(blob, key, log);
            rsaFingerprint(key, blob, ours);
        } else {
            DssKey key;
            ok = parseDssHostKey(blob, key, log, false);
            dssFingerprint(key, blob, ours);
        }
        EXPECT_EQ(ok, judged.Ok() && strict == "-") << judged.err;
        if (const auto bound = kBoundRefusals.find(strict); bound != kBoundRefusals.end()) {
            StringBuffer text;
            log.getLogText(text);
            EXPECT_NE(std::string(text.getString()).find(bound->second), std::string::npos) << text.getString();
        }
        verdicts.read += ok;
        verdicts.parted += judged.Ok() && !ok;
        if (!ok || !judged.Ok())
            continue;
        // "2048 MD5:ab:... comment (RSA)" against "ssh-rsa 2048 ab:...".
        const std::size_t md5 = judged.out.find("MD5:") + 4;
        EXPECT_EQ(std::string(ours.getString()), algorithm + " " + judged.out.substr(0, judged.out.find(' ')) + " " +
                                                     judged.out.substr(md5, judged.out.find(' ', md5) - md5));
    }
    return verdicts;
}

// Host key blobs read as the negotiated algorithm's, whole: what ssh-keygen
// reads from a public key line naming that algorithm is read here, but for
// the encodings it tolerates that are not the key's own; the rest is
// refused by both. The fingerprint is of the blob as sent, ssh-keygen's
// MD5 one; RSA keys of every size round off nothing. An RSA blob named
// "ssh-dss" is refused by both, whether ssh-keygen knows DSA or not.
TEST(SshHostKeys, BlobsAreReadAndFingerprintedAsSshKeygenReadsThem) {
    TempDir dir;
    std::vector<std::string> rows;
    for (const char* bits : {"1024", "1025", "2047", "2048", "3072"}) {
        const std::string file = dir.File(std::string("rsa") + bits);
        ASSERT_TRUE(RunProgram({"ssh-keygen", "-q", "-t", "rsa", "-b", bits, "-N", "", "-f", file}).Ok());
        const std::string pub = ReadFile(file + ".pub");
        rows.push_back(pub.substr(0, pub.find(' ', pub.find(' ') + 1)) + " -");
    }
    AddHostKeyBlobs(rows, "rsa", dir.File("rsa1024.pub"));
    const BlobVerdicts verdicts = JudgeHostKeyBlobs(dir, rows);
    EXPECT_EQ(verdicts.read, 8);
    EXPECT_EQ(verdicts.parted, 5);
}

// OpenSSH 10 has no DSA: a runner whose OpenSSH lacks it leaves this out.
TEST(SshHostKeys, OpenSshDsaBlobsAreReadAndFingerprintedAsSshKeygenReadsThem) {
    TempDir dir;
    ASSERT_TRUE(RunProgram({"ssh-keygen", "-q", "-t", "dsa", "-N", "", "-f", dir.File("dsa")}).Ok());
    std::vector<std::string> rows;
    AddHostKeyBlobs(rows, "dsa", dir.File("dsa.pub"));
    const BlobVerdicts verdicts = JudgeHostKeyBlobs(dir, rows);
    EXPECT_EQ(verdicts.read, 4);
    EXPECT_EQ(verdicts.parted, 4);
}

// A key of q of 256 bits is read, as OpenSSH reads it, and its signature in
// r and s of 32 bytes each (paramiko's form) refused, as OpenSSH's client
// refuses it ("invalid format").
TEST(SshHostKeys, DssSignaturesBareOrWrappedAndNothingElse) {
    // python's cryptography makes the keys and signs H with SHA-1.
    RunResult r = Python(R"PY(
import struct
from cryptography.hazmat.primitives.asymmetric import dsa, utils
from cryptography.hazmat.primitives import hashes
def s(b): return struct.pack('>I', len(b)) + b
def mp(n):
    b = n.to_bytes((n.bit_length() + 8) // 8, 'big')
    return s(b)
key = dsa.generate_private_key(1024)
pn = key.public_key().public_numbers()
blob = s(b'ssh-dss') + mp(pn.parameter_numbers.p) + mp(pn.parameter_numbers.q) + mp(pn.parameter_numbers.g) + mp(pn.y)
r, sv = utils.decode_dss_signature(key.sign(b'exchange hash', hashes.SHA1()))
rs = r.to_bytes(20, 'big') + sv.to_bytes(20, 'big')
print(blob.hex()); print(rs.hex()); print((s(b'ssh-dss') + s(rs)).hex()); print((s(b'ssh-dss') + s(rs + b'\0')).hex())
wide = dsa.generate_parameters(2048).generate_private_key()
wn = wide.public_key().public_numbers()
assert wn.parameter_numbers.q.bit_length() == 256
print((s(b'ssh-dss') + mp(wn.parameter_numbers.p) + mp(wn.parameter_numbers.q) + mp(wn.parameter_numbers.g) +
       mp(wn.y)).hex())
r, sv = utils.decode_dss_signature(wide.sign(b'exchange hash', hashes.SHA1()))
print((s(b'ssh-dss') + s(r.to_bytes(32, 'big') + sv.to_bytes(32, 'big'))).hex())
)PY");
    std::vector<std::string> lines;
    for (std::size_t at = 0, nl; (nl = r.out.find('\n', at)) != std::string::npos; at = nl + 1)
        lines.push_back(r.out.substr(at, nl - at));
    ASSERT_EQ(lines.size(), 6u) << r.err;
    DssKey key;
    Logger log;
    ASSERT_TRUE(parseDssHostKey(FromHex(lines[0]), key, log, false));
    const Buf h = Db("exchange hash");
    for (auto [hex, valid] : {std::pair{lines[1], true}, std::pair{lines[2], true}, std::pair{lines[3], false}}) {
        Buf sig = FromHex(hex);
        EXPECT_EQ(dssVerifySig(key, sig.getData(), sig.getSize(), h.getData(), h.getSize(), log, false), valid)
            << hex.size();
    }
    DssKey wide;
    ASSERT_TRUE(parseDssHostKey(FromHex(lines[4]), wide, log, false));
    const Buf wideSig = FromHex(lines[5]);
    EXPECT_FALSE(dssVerifySig(wide, wideSig.getData(), wideSig.getSize(), h.getData(), h.getSize(), log, false));
    StringBuffer text;
    log.getLogText(text);
    EXPECT_NE(std::string(text.getString()).find(kSshMsgBadDssSignature), std::string::npos);
}

TEST(SshTranscriptText, DataRunsCollapseAndNamesAreKnown) {
    SshTranscript t;
    t.enable(0, true);
    t.traceText(kTraceSent, "KEXINIT", kTraceEol);
    for (int i = 0; i < 3; ++i)
        t.traceText(kTraceReceived, "CHANNEL_DATA", kTraceEol);
    t.traceText(kTraceReceived, "CHANNEL_EOF", kTraceEol);
    t.traceText(kTraceNote, nullptr, kTraceEol);
    EXPECT_EQ(std::string(t.buffer(0).getString()), "TRAN> KEXINIT\r\nTRAN< CHANNEL_DATA...\r\nTRAN< CHANNEL_EOF\r\n");
    EXPECT_EQ(t.buffer(1).getSize(), 0);
    EXPECT_STREQ(sshMessageName(250), "Unknown(250)");
    EXPECT_STREQ(sshMessageName(33), "KEX_DH_GEX_REPLY");
    Buf close = FromHex("6100000007");
    EXPECT_EQ(sshChannelRecipient(close), 7);
    EXPECT_EQ(sshChannelRecipient(FromHex("5e000000")), -1);
}

// Sessions on two threads name the unknown messages they log each their own.
TEST(SshTranscriptText, UnknownNamesOnTwoThreadsStayApart) {
    std::atomic<int> wrong{0};
    auto name = [&](int type) {
        const std::string expected = "Unknown(" + std::to_string(type) + ")";
        for (int i = 0; i < 20000; ++i)
            if (expected != sshMessageName(type))
                ++wrong;
    };
    std::thread a(name, 200), b(name, 201);
    a.join();
    b.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
} // namespace grvtest

namespace grvtest {
namespace {

// What the reader makes of a clear byte stream: each payload as hex, "E" for
// a refused packet it can go on after, "X" for a broken stream, "…" for an
// unfinished packet at the end.
std::string ReaderVerdict(const Bytes& stream) {
    SshPacketReader r;
    LogNull log;
    std::string verdict;
    std::size_t at = 0;
    while (at < stream.size()) {
        unsigned int consumed = 0;
        SshPacketReader::Step s =
            r.feed(stream.data() + at, static_cast<unsigned int>(stream.size() - at), consumed, log, false);
        at += consumed;
        if (s == SshPacketReader::Step::kPacket)
            verdict += ToHex(r.payload().getData(), r.payload().getSize()) + " ";
        if (s == SshPacketReader::Step::kFailed) {
            verdict += r.streamBroken() ? "X" : "E ";
            if (r.streamBroken())
                return verdict;
        }
    }
    return verdict + (r.atPacketStart() ? "" : "…");
}

TEST(SshPacketEngine, MutatedStreamsReadAsTheReferenceReadsThem) {
    // python3 reads RFC 4253 section 6 packets by the same limits.
    const char* reference = R"PY(
import sys, struct
for line in sys.stdin.read().split():
    data = bytes.fromhex(line); out = ''; at = 0
    while at < len(data):
        if len(data) - at < 4: out += '…'; break
        n = struct.unpack('>I', data[at:at + 4])[0]
        if n > 262208 or n < 12: out += 'X'; break
        if len(data) - at - 4 < n: out += '…'; break
        body = data[at + 4:at + 4 + n]; at += 4 + n
        pad = body[0]
        out += 'E ' if pad + 1 >= n else body[1:n - pad].hex() + ' '
    print(out)
)PY";
    std::string input, ours;
    for (std::uint32_t seed = 1; seed <= 300; ++seed) {
        SshPacketWriter w;
        LogNull log;
        Bytes stream;
        Bytes sizes = RandomBytes(4, seed);
        for (int i = 0; i < 1 + sizes[0] % 4; ++i) {
            Bytes body = RandomBytes(1 + (sizes[i] * 7 + seed) % 300, seed * 10 + i);
            DataBuffer p, wire;
            p.append(body.data(), static_cast<unsigned int>(body.size()));
            w.seal(p, wire, nullptr, log, false);
            stream.insert(stream.end(), wire.getData(), wire.getData() + wire.getSize());
        }
        // Mutations: flip bytes, cut the end, or both.
        Bytes noise = RandomBytes(8, seed + 1000);
        if (noise[0] % 3 != 0)
            for (int k = 1; k < 1 + noise[1] % 3; ++k)
                stream[(noise[k + 2] * 131u + seed) % stream.size()] ^= static_cast<std::uint8_t>(1 + noise[k]);
        if (noise[7] % 4 == 0)
            stream[4] = 0xFF; // a padding length that swallows the payload
        if (noise[0] % 3 != 1)
            stream.resize(stream.size() - noise[6] % stream.size());
        input += ToHex(stream.data(), stream.size()) + "\n";
        ours += ReaderVerdict(stream) + "\n";
    }
    RunResult r = Python(reference, {}, input);
    EXPECT_EQ(ours, r.out) << r.err;
    // The mutations reach every verdict.
    for (const char* kind : {"X", "E ", "…"})
        EXPECT_NE(ours.find(kind), std::string::npos) << kind;
}

} // namespace
} // namespace grvtest
