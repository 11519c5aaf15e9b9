// The NTLM messages: the published MS-NLMP responses (tests/data/http/
// ntlm-vectors.txt), whole NEGOTIATE and AUTHENTICATE messages read back by
// a python reader of the message layout, and the CHALLENGE reader judged
// against a python reference on generated and mutated messages.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/pki/ClsNtlm.h"
#include "netlib/text/TextServices.h"
#include "platform/ByteOrder.h"
#include "platform/WinTime.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using Section = std::map<std::string, std::string>;

std::map<std::string, Section> loadVectors() {
    std::ifstream in(std::string(GRV_TEST_DATA_DIR) + "/http/ntlm-vectors.txt");
    std::map<std::string, Section> sections;
    std::string line;
    std::string current;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            current = line.substr(1, line.find(']') - 1);
            continue;
        }
        const auto eq = line.find(" = ");
        sections[current][line.substr(0, eq)] = line.substr(eq + 3);
    }
    return sections;
}

// Bytes from hex, held for the expression that uses them.
struct Hex {
    explicit Hex(const std::string& hex) { decodeHexBytes(hex.c_str(), static_cast<unsigned int>(hex.size()), bytes); }
    operator const DataBuffer&() const { return bytes; }
    DataBuffer bytes;
};

std::string hexOf(const DataBuffer& b) {
    return grvtest::ToHex(b.getData(), b.getSize());
}

std::string logText(Logger& log) {
    StringBuffer text;
    log.getLogText(text);
    return text.getString();
}

// FILETIME 0 (1601-01-01) on the library's clock, as the vectors' blob has it.
constexpr std::int64_t kFileTimeZeroUnixMs = -11644473600000LL;

class NtlmMessages : public ::testing::Test {
protected:
    void SetUp() override {
        installTextServices();
        vectors = loadVectors();
        ASSERT_EQ(vectors.size(), 4u);
    }
    void TearDown() override { platform::SetClockOverrideForTest(0); }

    std::string common(const char* key) { return vectors["common"][key]; }
    void text(const char* key, XString& out) { out.setFromUtf8(common(key).c_str()); }

    std::map<std::string, Section> vectors;
};

// The NTLMv2 blob as MS-NLMP defines it: header, time, client challenge,
// reserved, target information, reserved.
std::string v2Blob(const std::string& time, const std::string& clientChallenge, const std::string& targetInfo) {
    return "0101000000000000" + time + clientChallenge + "00000000" + targetInfo + "00000000";
}

TEST_F(NtlmMessages, ResponseComputationsReproduceThePublishedVectors) {
    XString password, user, domain;
    text("password", password);
    text("user", user);
    text("domain", domain);
    DataBuffer lmHash, ntHash, key;
    ntlm::ntlmLmHash(password, 437, lmHash);
    ntlm::ntlmNtHash(password, ntHash);
    ntlm::ntlmNtowfV2(password, user, domain, key);
    EXPECT_EQ(hexOf(lmHash), vectors["v1"]["lmowf"]);
    EXPECT_EQ(hexOf(ntHash), vectors["v1"]["ntowf"]);
    EXPECT_EQ(hexOf(key), vectors["v2"]["ntowf"]);

    const Hex clientChallenge(common("client_challenge"));
    for (const char* name : {"v1", "ntlm2", "v2"}) {
        SCOPED_TRACE(name);
        Section& s = vectors[name];
        Logger log;
        ntlm::Type2 challenge;
        ASSERT_TRUE(ntlm::parseType2Bytes(Hex(s["challenge"]), challenge, log)) << logText(log);
        EXPECT_EQ(hexOf(challenge.serverChallenge), common("server_challenge"));
        DataBuffer lm, nt;
        if (std::string(name) == "v2") {
            EXPECT_EQ(hexOf(challenge.targetInfo), s["target_info"]);
            EXPECT_STREQ(challenge.nbDomain.getUtf8(), "Domain");
            EXPECT_STREQ(challenge.nbComputer.getUtf8(), "Server");
            ntlm::ntlmV2Responses(key, challenge.serverChallenge, clientChallenge, 0, challenge.targetInfo, lm, nt);
            EXPECT_EQ(hexOf(nt), s["nt_proof"] + v2Blob(common("time"), common("client_challenge"), s["target_info"]));
        } else {
            ntlm::ntlmV1Responses(challenge.flags, password, 437, challenge.serverChallenge, clientChallenge, lm, nt);
            EXPECT_EQ(hexOf(nt), s["nt_response"]);
        }
        EXPECT_EQ(hexOf(lm), s["lm_response"]);
    }
}

TEST_F(NtlmMessages, DeslAndLmHashEdges) {
    DataBuffer out;
    ntlm::ntlmDesl(Hex("00112233"), Hex("0123456789abcdef"), out);
    EXPECT_EQ(out.getSize(), 0u) << "short key";
    ntlm::ntlmDesl(Hex(vectors["v1"]["ntowf"]), Hex("0123"), out);
    EXPECT_EQ(out.getSize(), 0u) << "short challenge";
    // Only the first 14 bytes of the upper-cased password count.
    XString longer, cut;
    longer.setFromUtf8("password-longer-than-14");
    cut.setFromUtf8("PASSWORD-LONGE");
    DataBuffer a, b;
    ntlm::ntlmLmHash(longer, 437, a);
    ntlm::ntlmLmHash(cut, 437, b);
    EXPECT_EQ(hexOf(a), hexOf(b));
    // A server that asks for it gets the NT response twice.
    DataBuffer lm, nt;
    XString password;
    text("password", password);
    ntlm::ntlmV1Responses(ntlm::kFlagNtOnly, password, 437, Hex(common("server_challenge")),
                          Hex(common("client_challenge")), lm, nt);
    EXPECT_EQ(hexOf(lm), hexOf(nt));
    EXPECT_EQ(hexOf(nt), vectors["v1"]["nt_response"]);
}

TEST_F(NtlmMessages, NegotiateMessageIsWrittenWhole) {
    const std::string head = "4e544c4d53535000"
                             "01000000";
    struct Case {
        const char* domain;
        const char* workstation;
        std::string hex;
    };
    const Case cases[] = {
        {"", "", head + "07820800" + std::string(32, '0')},
        {"Domain", "",
         head + "07920800"
                "0600060020000000"
                "0000000000000000"
                "446f6d61696e"},
        {"", "WS",
         head + "07a20800"
                "0000000000000000"
                "0200020020000000"
                "5753"},
        {"Domain", "COMPUTER",
         head + "07b20800"
                "0600060020000000"
                "0800080026000000"
                "446f6d61696e"
                "434f4d5055544552"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.domain) + "/" + c.workstation);
        ClsNtlm ntlm;
        ntlm.setDomain(c.domain);
        ntlm.setWorkstation(c.workstation);
        ntlm.setEncodingMode(kEncodeHex);
        XString out;
        Logger log;
        ASSERT_TRUE(ntlm.genType1(out, log));
        StringBuffer lower(out.getUtf8());
        lower.toLowerCase();
        EXPECT_EQ(lower.getString(), c.hex);
        // The flags stay with the object for the AUTHENTICATE message.
        EXPECT_EQ(ntlm.getFlags(), std::stoul(c.hex.substr(24, 2), nullptr, 16) |
                                       (std::stoul(c.hex.substr(26, 2), nullptr, 16) << 8) | 0x080000u);
    }
    // With the version flag the running system's version sits in front of
    // the payload, NTLMSSP revision 15 last.
    ClsNtlm ntlm;
    ntlm.setDomain("D");
    ntlm.setFlags(ntlm::kDefaultFlags | ntlm::kFlagVersion);
    DataBuffer message;
    Logger log;
    ASSERT_TRUE(ntlm.genType1Bytes(message, log));
    const grvtest::RunResult release =
        grvtest::Python("import platform,re;p=[int(x) for x in re.findall(r'\\d+',platform.release())[:3]];"
                        "print(bytes([p[0],p[1],p[2]&255,p[2]>>8,0,0,0,15]).hex())");
    ASSERT_TRUE(release.Ok()) << release.err;
    EXPECT_EQ(hexOf(message).substr(64), release.out.substr(0, 16) + "44");
}

// Reads an AUTHENTICATE message (hex on stdin) by the layout and prints its
// parts: flags, the strings in the form the flags choose, the responses, the
// session key's length, and whether the payload follows the fixed part in
// order without gaps.
constexpr const char* kType3Reader = R"PY(
import struct, sys
m = bytes.fromhex(sys.stdin.read().strip())
assert m[:8] == b"NTLMSSP\0" and struct.unpack("<I", m[8:12])[0] == 3
def buf(at):
    n, mx, off = struct.unpack("<HHI", m[at:at + 8])
    assert n == mx
    return off, m[off:off + n]
flags = struct.unpack("<I", m[60:64])[0]
enc = "utf-16-le" if flags & 1 else "cp437"
parts = [buf(at) for at in (28, 36, 44, 12, 20)]
end = 72 if flags & 0x2000000 else 64
for off, data in parts:
    assert off == end, (off, end)
    end += len(data)
assert end == len(m) and len(buf(52)[1]) == 0
d, u, w, lm, nt = (p[1] for p in parts)
print("%08x %s %s %s %s %s" % (flags, d.decode(enc), u.decode(enc), w.decode(enc), lm.hex(), nt.hex()))
)PY";

TEST_F(NtlmMessages, AuthenticateMessagesCarryTheVectorsWhole) {
    struct Case {
        const char* section;
        int version;
        // Flags the test takes off the server's, to see the OEM strings.
        std::uint32_t serverFlagsOff;
        const char* user;
    };
    const Case cases[] = {
        {"v1", 1, 0, "User"},
        {"ntlm2", 1, 0, "User"},
        {"v2", 2, 0, "User"},
        {"v1", 1, ntlm::kFlagUnicode, "\xc3\x9cser"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + " " + c.user);
        Section& s = vectors[c.section];
        Hex challenge(s["challenge"]);
        const std::uint32_t serverFlags = platform::LoadLe32(challenge.bytes.getData() + 20) & ~c.serverFlagsOff;
        platform::StoreLe32(challenge.bytes.getData() + 20, serverFlags);
        ClsNtlm ntlm;
        ntlm.setDomain(common("domain").c_str());
        ntlm.setUsername(c.user);
        ntlm.setPassword(common("password").c_str());
        ntlm.setWorkstation(common("workstation").c_str());
        ntlm.setNtlmVersion(c.version);
        ntlm.setClientChallenge(Hex(common("client_challenge")));
        platform::SetClockOverrideForTest(kFileTimeZeroUnixMs);
        Logger log;
        DataBuffer type3;
        ASSERT_TRUE(ntlm.genType3Bytes(challenge, type3, log)) << logText(log);
        platform::SetClockOverrideForTest(0);

        std::string nt = s["nt_response"];
        if (c.version == 2)
            nt = s["nt_proof"] + v2Blob(common("time"), common("client_challenge"), s["target_info"]);
        char flags[9];
        std::snprintf(flags, sizeof flags, "%08x", ntlm::kDefaultFlags & serverFlags);
        const std::string expected =
            std::string(flags) + " Domain " + c.user + " COMPUTER " + s["lm_response"] + " " + nt + "\n";
        // (The v1 responses do not depend on the user name.)
        const grvtest::RunResult read = grvtest::Python(kType3Reader, {}, hexOf(type3));
        EXPECT_EQ(read.out + read.err, expected);
        EXPECT_NE(logText(log).find("Using pre-set client challenge."), std::string::npos);
    }
}

TEST_F(NtlmMessages, ChallengeReaderRefusesWithItsMessage) {
    const Hex good(vectors["v2"]["challenge"]);
    struct Case {
        const char* name;
        unsigned int at; // byte to change, or the length to cut to
        unsigned char value;
        bool cut;
        const char* message;
    };
    const Case cases[] = {
        {"59 bytes", 59, 0, true, ntlm::kMsgType2TooShort},
        {"signature", 3, 'X', false, ntlm::kMsgType2Signature},
        {"type 3", 8, 3, false, ntlm::kMsgType2Type},
        {"target name past the end", 17, 0x10, false, ntlm::kMsgType2TargetName},
        {"target info past the end", 40, 0x25, false, ntlm::kMsgType2TargetInfo},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataBuffer bad;
        bad.appendDb(good.bytes);
        if (c.cut)
            bad.shorten(bad.getSize() - c.at);
        else
            bad.getData()[c.at] = c.value;
        ntlm::Type2 parsed;
        Logger log;
        EXPECT_FALSE(ntlm::parseType2Bytes(bad, parsed, log));
        EXPECT_NE(logText(log).find(c.message), std::string::npos) << logText(log);
        // The AUTHENTICATE message is refused on top.
        ClsNtlm ntlm;
        DataBuffer type3;
        Logger log3;
        EXPECT_FALSE(ntlm.genType3Bytes(bad, type3, log3));
        EXPECT_NE(logText(log3).find(ntlm::kMsgType3BadType2), std::string::npos);
    }
}

// Generates CHALLENGE messages from a seed, valid ones and mutations of
// them, and reads each by the layout: one line per message, the hex and then
// "refused" or the fields the reader keeps (target information items as
// UTF-16 code units in hex).
constexpr const char* kType2Reference = R"PY(
import random, struct, sys
rnd = random.Random(int(sys.argv[1]))
def utf16(n):
    return "".join(chr(rnd.choice([rnd.randint(0x20, 0x7e), rnd.randint(0xa0, 0xd7ff)])) for _ in range(n)).encode("utf-16-le")
def make():
    name = bytes(rnd.randint(0x20, 0x7e) for _ in range(rnd.randint(0, 12)))
    items = b""
    for _ in range(rnd.randint(0, 6)):
        ident = rnd.choice([1, 2, 3, 4, 5, 7, 9])
        value = utf16(rnd.randint(0, 10)) if ident <= 4 else bytes(rnd.randint(0, 255) for _ in range(rnd.randint(0, 9)))
        items += struct.pack("<HH", ident, len(value)) + value
    if rnd.random() < 0.8:
        items += b"\0\0\0\0"
    if rnd.random() < 0.3:
        items += bytes(rnd.randint(0, 255) for _ in range(rnd.randint(1, 6)))
    head = 56
    return (b"NTLMSSP\0" + struct.pack("<IHHII", 2, len(name), len(name), head + len(items), rnd.getrandbits(32))
            + bytes(rnd.getrandbits(8) for _ in range(8)) + bytes(8)
            + struct.pack("<HHI", len(items), len(items), head) + bytes(8) + items + name)
def mutate(m):
    m = bytearray(m)
    kind = rnd.randint(0, 4)
    if kind == 0:
        del m[rnd.randint(0, len(m)):]
    elif kind == 1:
        for _ in range(rnd.randint(1, 4)):
            m[rnd.randrange(len(m))] = rnd.getrandbits(8)
    elif kind == 2:
        at = rnd.choice([12, 14, 16, 40, 42, 44])
        m[at:at + 2] = struct.pack("<H", rnd.getrandbits(16) if at not in (16, 44) else rnd.randint(0, 200))
    elif kind == 3:
        m[8] = rnd.randint(1, 3)
    else:
        items = struct.pack("<HH", rnd.randint(1, 4), rnd.randint(0, 80))
        m[56:56] = items
    return bytes(m)
def read(m):
    if len(m) < 60 or m[:7] != b"NTLMSSP" or struct.unpack("<I", m[8:12])[0] != 2:
        return "refused"
    def buf(at):
        n, _, off = struct.unpack("<HHI", m[at:at + 8])
        return None if off + n > len(m) else m[off:off + n]
    name, info = buf(12), buf(40)
    if name is None or info is None:
        return "refused"
    kept = {}
    p = 0
    while len(info) >= 4 and len(info) - p >= 4:
        ident, n = struct.unpack("<HH", info[p:p + 4])
        if ident == 0 or n > len(info) - p - 4:
            break
        if 1 <= ident <= 4:
            units = [info[q:q + 2] for q in range(p + 4, p + 4 + (n & ~1), 2)]
            if b"\0\0" in units:
                units = units[:units.index(b"\0\0")]
            kept[ident] = b"".join(units).hex()
        p += 4 + n
    return " ".join([name.hex() or "-", "%08x" % struct.unpack("<I", m[20:24])[0], m[24:32].hex(), info.hex() or "-"]
                    + [kept.get(i, "") or "-" for i in (1, 2, 3, 4)])
for i in range(int(sys.argv[2])):
    m = make()
    if i % 3:
        m = mutate(m)
    print(m.hex(), read(m))
)PY";

std::string unitsHex(XString& x) {
    if (x.getSizeUtf16() == 0)
        return "-";
    DataBuffer le;
    const std::uint16_t* units = x.getUtf16();
    for (int i = 0; i < x.getSizeUtf16() / 2; ++i) {
        unsigned char b[2];
        platform::StoreLe16(b, units[i]);
        le.append(b, 2);
    }
    return hexOf(le);
}

TEST_F(NtlmMessages, ChallengeReaderAgreesWithPythonOnGeneratedAndMutatedMessages) {
    const grvtest::RunResult corpus = grvtest::Python(kType2Reference, {"57", "600"});
    ASSERT_TRUE(corpus.Ok()) << corpus.err;
    std::istringstream lines(corpus.out);
    std::string line;
    int count = 0, refused = 0;
    while (std::getline(lines, line)) {
        ++count;
        const auto space = line.find(' ');
        const std::string expected = line.substr(space + 1);
        ntlm::Type2 t;
        Logger log;
        std::string got = "refused";
        if (ntlm::parseType2Bytes(Hex(line.substr(0, space)), t, log)) {
            DataBuffer name;
            name.append(t.targetName.getString(), static_cast<unsigned int>(t.targetName.getSize()));
            char flags[9];
            std::snprintf(flags, sizeof flags, "%08x", t.flags);
            got = (name.getSize() ? hexOf(name) : "-") + " " + flags + " " + hexOf(t.serverChallenge) + " " +
                  (t.targetInfo.getSize() ? hexOf(t.targetInfo) : "-") + " " + unitsHex(t.nbComputer) + " " +
                  unitsHex(t.nbDomain) + " " + unitsHex(t.dnsComputer) + " " + unitsHex(t.dnsDomain);
        } else {
            ++refused;
        }
        EXPECT_EQ(got, expected) << line.substr(0, space);
    }
    EXPECT_EQ(count, 600);
    // Both kinds are in the corpus.
    EXPECT_GT(refused, 50);
    EXPECT_LT(refused, 400);
}

} // namespace
