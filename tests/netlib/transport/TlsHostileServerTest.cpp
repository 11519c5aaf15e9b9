// What a hostile TLS server can send in place of its first flight: a
// scripted server sends the bytes of each case after the ClientHello and
// prints every record the client sends back, so the whole transcript shows
// at which step the client refused and with which alert.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/transport/SChannelTessik.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/netlib/transport/TlsTestSupport.h"

namespace {

using namespace tessik;
using namespace tlstest;
using grvtest::ScriptPeer;

// Takes one connection and the ClientHello, sends args[0] (hex) args[1]
// times, args[2] seconds apart, then prints each record the client sends
// ("alert LLDD" for alerts) until it closes.
constexpr const char* kHostileServer = R"PY(
s = listen()
c, a = s.accept()
def read_record():
    h = recv_exact(c, 5)
    return h, recv_exact(c, int.from_bytes(h[3:5], 'big'))
hello = read_record()
print('hello %d.%d' % (hello[0][1], hello[0][2]))
flight, times, gap = bytes.fromhex(args[0]), int(args[1]), float(args[2])
try:
    for i in range(times):
        c.sendall(flight)
        time.sleep(gap)
except OSError:
    pass
try:
    while True:
        h, body = read_record()
        print(('alert %s' % body.hex()) if h[0] == 21 else ('record %d' % h[0]))
except (EOFError, OSError):
    print('closed')
)PY";

Bytes Record(std::uint8_t type, std::uint8_t major, std::uint8_t minor, const Bytes& body) {
    Bytes out = {type, major, minor, std::uint8_t(body.size() >> 8), std::uint8_t(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// A ServerHello message: the version, a random of 0x11 bytes, no session
// id, the suite and the compression method.
Bytes ServerHello(std::uint8_t major, std::uint8_t minor, std::uint16_t suite, std::uint8_t compression = 0) {
    Bytes body = {major, minor};
    body.insert(body.end(), 32, 0x11);
    body.insert(body.end(), {0, std::uint8_t(suite >> 8), std::uint8_t(suite), compression});
    Bytes message = {std::uint8_t(kTlsServerHello), 0, 0, std::uint8_t(body.size())};
    message.insert(message.end(), body.begin(), body.end());
    return message;
}

Bytes Repeat(const Bytes& b, int times) {
    Bytes out;
    for (int i = 0; i < times; ++i)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A self-signed certificate for 127.0.0.1 whose RSA key is odd numbers of
// argv[1] bits for n and argv[2] bits for e (its signature no signature),
// as hex DER.
constexpr const char* kOutOfBoundsKeyCertificate = R"PY(
import random, sys
def tlv(tag, body):
    n, width = len(body), (len(body).bit_length() + 7) // 8
    return bytes([tag]) + (bytes([n]) if n < 0x80 else bytes([0x80 | width]) + n.to_bytes(width, "big")) + body
def number(x): return tlv(0x02, x.to_bytes(x.bit_length() // 8 + 1, "big"))
def odd(bits): return 1 << (bits - 1) | random.getrandbits(bits - 1) | 1
def algorithm(oid): return tlv(0x30, tlv(0x06, bytes.fromhex(oid)) + b"\x05\x00")
name = tlv(0x30, tlv(0x31, tlv(0x30, tlv(0x06, b"\x55\x04\x03") + tlv(0x0C, b"127.0.0.1"))))
validity = tlv(0x30, tlv(0x17, b"250101000000Z") + tlv(0x17, b"491231000000Z"))
key = tlv(0x30, number(odd(int(sys.argv[1]))) + number(odd(int(sys.argv[2]))))
spki = tlv(0x30, algorithm("2a864886f70d010101") + tlv(0x03, b"\0" + key))
signature = algorithm("2a864886f70d01010b")
tbs = tlv(0x30, tlv(0xA0, number(2)) + number(9) + signature + name + validity + name + spki)
print(tlv(0x30, tbs + signature + tlv(0x03, b"\0" + bytes(128))).hex())
)PY";

// The server's whole first flight: a ServerHello, one certificate, done.
Bytes CertificateFlight(const Bytes& certificate) {
    auto length = [](std::size_t n) { return Bytes{std::uint8_t(n >> 16), std::uint8_t(n >> 8), std::uint8_t(n)}; };
    Bytes message = Join(Join({std::uint8_t(kTlsCertificate)}, length(certificate.size() + 6)),
                         Join(length(certificate.size() + 3), Join(length(certificate.size()), certificate)));
    return Record(22, 3, 1, Join(Join(ServerHello(3, 1, kTlsRsaAes128Sha), message), {kTlsServerHelloDone, 0, 0, 0}));
}

Bytes OutOfBoundsKeyCertificate(const char* nBits, const char* eBits) {
    const grvtest::RunResult made =
        grvtest::RunProgram({"/usr/bin/python3", "-c", kOutOfBoundsKeyCertificate, nBits, eBits});
    EXPECT_TRUE(made.Ok()) << made.err;
    return FromHex(made.out);
}

struct Outcome {
    bool established = false;
    std::string log;
    std::string server;
    std::uint32_t failureReason = 0;
    std::uint32_t alertLevel = 0;
    std::uint32_t alertDescription = 0;
    bool connected = false;
    double seconds = 0;
};

Outcome Connect(const Bytes& flight, const char* version, int times = 1, double gap = 0, unsigned readTimeoutSec = 10) {
    ScriptPeer server(kHostileServer, {Hex(flight), std::to_string(times), std::to_string(gap)});
    SChannelTessik channel;
    channel.setHostname("127.0.0.1");
    channel.setPort(unsigned(server.port));
    channel.setSslProtocol(version);
    channel.setReadTimeoutSec(readTimeoutSec);
    Logger log;
    bool dnsFailed = false;
    const auto start = std::chrono::steady_clock::now();
    Outcome run;
    run.established = channel.EstablishChannel(log, &dnsFailed, 10000, 0, nullptr, nullptr);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.log = LogText(log);
    run.failureReason = channel.getFailureReason();
    run.alertLevel = channel.protocol().lastAlertLevel();
    run.alertDescription = channel.protocol().lastAlertDescription();
    run.connected = channel.isConnected();
    channel.closeChannel(log);
    run.server = server.Finish();
    return run;
}

TEST(TlsHostileServer, RefusedAtTheFirstFlightWithTheRightAlert) {
    const Bytes empty = Record(22, 3, 1, {});
    struct Case {
        const char* name;
        const char* version;
        Bytes flight;
        const char* said;       // in our log
        std::uint32_t alert;    // the last alert, fatal; 0: none
        const char* transcript; // the server's, whole
    };
    const Case cases[] = {
        {"record version 4.0", "tls1", Record(22, 4, 0, ServerHello(3, 1, kTlsRsaAes128Sha)), tlsmsg::kRecordVersion,
         kTlsAlertProtocolVersion, "hello 3.1\nalert 0246\nclosed\n"},
        {"record version 2.0", "tls1", Record(22, 2, 0, ServerHello(3, 1, kTlsRsaAes128Sha)), tlsmsg::kRecordVersion,
         kTlsAlertProtocolVersion, "hello 3.1\nalert 0246\nclosed\n"},
        // SSL 3.0 has no protocol_version alert.
        {"record version 4.0 to SSL 3.0", "ssl30", Record(22, 4, 0, ServerHello(3, 0, kTlsRsaAes128Sha)),
         tlsmsg::kRecordVersion, kTlsAlertIllegalParameter, "hello 3.0\nalert 022f\nclosed\n"},
        {"33 empty handshake records", "tls1", Repeat(empty, 33), tlsmsg::kTooManyEmptyRecords,
         kTlsAlertUnexpectedMessage, "hello 3.1\nalert 020a\nclosed\n"},
        // 32 are taken: the ServerHello after them is read, and judged.
        {"32 empty records, then a suite never offered", "tls1",
         Join(Repeat(empty, 32), Record(22, 3, 1, ServerHello(3, 1, 0x003C))), tlsmsg::kSuiteNotOffered,
         kTlsAlertIllegalParameter, "hello 3.1\nalert 022f\nclosed\n"},
        {"suite never offered", "tls1", Record(22, 3, 1, ServerHello(3, 1, 0x0009)), tlsmsg::kSuiteNotOffered,
         kTlsAlertIllegalParameter, "hello 3.1\nalert 022f\nclosed\n"},
        {"suite never offered, whole flight", "tls1",
         Record(22, 3, 1, Join(ServerHello(3, 1, 0x003C), {kTlsServerHelloDone, 0, 0, 0})), tlsmsg::kSuiteNotOffered,
         kTlsAlertIllegalParameter, "hello 3.1\nalert 022f\nclosed\n"},
        {"version 3.2 to a TLS 1.0 client", "tls1", Record(22, 3, 1, ServerHello(3, 2, kTlsRsaAes128Sha)),
         tlsmsg::kVersionNotOffered, kTlsAlertIllegalParameter, "hello 3.1\nalert 022f\nclosed\n"},
        {"version 3.1 to an SSL 3.0 client", "ssl30", Record(22, 3, 0, ServerHello(3, 1, kTlsRsaAes128Sha)),
         tlsmsg::kVersionNotOffered, kTlsAlertIllegalParameter, "hello 3.0\nalert 022f\nclosed\n"},
        {"version 4.1 in the ServerHello", "tls1", Record(22, 3, 1, ServerHello(4, 1, kTlsRsaAes128Sha)),
         tlsmsg::kVersionNotOffered, kTlsAlertIllegalParameter, "hello 3.1\nalert 022f\nclosed\n"},
        {"compression never offered", "tls1", Record(22, 3, 1, ServerHello(3, 1, kTlsRsaAes128Sha, 1)),
         tlsmsg::kCompressionNotOffered, kTlsAlertIllegalParameter, "hello 3.1\nalert 022f\nclosed\n"},
        // The length is 16 bits: 0x8010 is not 0x0010.
        {"record announcing 32784 bytes", "tls1", Join({22, 3, 1, 0x80, 0x10}, Bytes(16, 0)), tlsmsg::kRecordTooLong,
         kTlsAlertRecordOverflow, "hello 3.1\nalert 0216\nclosed\n"},
        // RSA key exchange has no ServerKeyExchange.
        {"ServerKeyExchange in an RSA key exchange", "tls1",
         Record(22, 3, 1, Join(ServerHello(3, 1, kTlsRsaAes128Sha), {kTlsServerKeyExchange, 0, 0, 4, 0, 1, 2, 3})),
         tlsmsg::kUnexpectedServerKeyExchange, kTlsAlertUnexpectedMessage, "hello 3.1\nalert 020a\nclosed\n"},
        // The server's own fatal alert is the one that ended it.
        {"server's handshake_failure", "tls1", Record(21, 3, 1, {2, 40}), tlsmsg::kClosingOnFatal, 40,
         "hello 3.1\nclosed\n"},
        // A certificate's key out of bounds is refused before any arithmetic,
        // the connection closed without an alert.
        {"certificate key of a 16,385-bit modulus", "tls1", CertificateFlight(OutOfBoundsKeyCertificate("16385", "17")),
         rsa_msg::kModulusTooLarge, 0, "hello 3.1\nclosed\n"},
        {"certificate key of a 65-bit exponent", "tls1", CertificateFlight(OutOfBoundsKeyCertificate("4096", "65")),
         rsa_msg::kExponentTooLarge, 0, "hello 3.1\nclosed\n"},
    };
    for (const Case& c : cases) {
        const Outcome run = Connect(c.flight, c.version);
        EXPECT_FALSE(run.established) << c.name;
        EXPECT_NE(run.log.find(c.said), std::string::npos) << c.name << "\n" << run.log;
        EXPECT_EQ(run.server, c.transcript) << c.name << "\n" << run.log;
        EXPECT_EQ(run.failureReason, unsigned(kSChannelFailHandshake)) << c.name;
        EXPECT_EQ(run.alertLevel, c.alert == 0 ? 0u : unsigned(kTlsAlertFatal)) << c.name;
        EXPECT_EQ(run.alertDescription, c.alert) << c.name;
        EXPECT_FALSE(run.connected) << c.name;
        EXPECT_LT(run.seconds, 5.0) << c.name << ": refused at once, not after the read time-out";
    }
}

// One empty record every half second never lets a read idle for the 2 s
// read time-out; the time-out still ends the handshake as a whole.
TEST(TlsHostileServer, TheReadTimeOutBoundsTheWholeHandshake) {
    const Outcome run = Connect(Record(22, 3, 1, {}), "tls1", 16, 0.5, 2);
    EXPECT_FALSE(run.established);
    EXPECT_GE(run.seconds, 1.9);
    EXPECT_LT(run.seconds, 5.0) << run.log;
    EXPECT_NE(run.log.find(tlsmsg::kHandshakeTimedOut), std::string::npos) << run.log;
    EXPECT_EQ(run.failureReason, unsigned(kSChannelFailHandshake));
    EXPECT_FALSE(run.connected);
    // Nothing but the ClientHello went out.
    EXPECT_EQ(run.server, "hello 3.1\nclosed\n") << run.log;
}

} // namespace
