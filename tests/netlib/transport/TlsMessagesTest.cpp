// TLS handshake messages: the ClientHello byte for byte, the server flights
// captured from openssl s_server and gnutls-serv (whole, fed in pieces,
// re-cut into records, and mutated against the python reference parser),
// and the message rules a peer's input must meet.
#include <gtest/gtest.h>

#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/Logger.h"
#include "netlib/transport/TlsProtocol.h"
#include "tests/netlib/transport/TlsTestSupport.h"

namespace {

using namespace tessik;
using namespace tlstest;

struct Flight {
    const char* file;
    int certificates;
    bool certificateRequest;
};

// tests/data/transport/README.md says how each was captured.
const Flight kFlights[] = {
    {"openssl-single.bin", 1, false},
    {"openssl-chain-fragmented.bin", 2, false},
    {"openssl-certificate-request.bin", 2, true},
    {"gnutls-chain-3des.bin", 2, false},
    {"gnutls-chain-rc4md5.bin", 2, false},
    {"gnutls-certificate-request.bin", 1, true},
};

TEST(TlsClientHello, IsByteExactWithAFixedRandom) {
    const std::string random = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
    for (std::uint32_t minor : {kTls10Minor, kSsl30Minor}) {
        TlsProtocol p;
        p.setVersion(3, minor);
        auto table = std::make_unique<ClsXml>();
        ASSERT_TRUE(table->LoadXml(("<testData><clientRandom>" + random + "</clientRandom></testData>").c_str(), true));
        p.setTestData(std::move(table));
        Logger log;
        ASSERT_TRUE(p.createClientHello(log));
        DataBuffer out;
        p.clientHello()->serialize(out);
        EXPECT_EQ(Hex(out), "01000031030" + std::to_string(minor) + random + "00000a0035002f000a0005000401" + "00");
        EXPECT_NE(LogText(log).find("Using test data for clientRandom."), std::string::npos);
    }
}

TEST(TlsClientHello, RandomIsTheTimeThenFreshBytes) {
    TlsProtocol a, b;
    LogNull log;
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_TRUE(a.createClientHello(log));
    ASSERT_TRUE(b.createClientHello(log));
    const auto after = static_cast<std::uint32_t>(std::time(nullptr));
    const unsigned char* r = a.clientHello()->random.getData();
    const std::uint32_t seconds =
        std::uint32_t(r[0]) << 24 | std::uint32_t(r[1]) << 16 | std::uint32_t(r[2]) << 8 | r[3];
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
    EXPECT_NE(Hex(r + 4, 28), Hex(b.clientHello()->random.getData() + 4, 28));
}

TEST(TlsServerFlights, CapturedFlightsParseAsTheReferenceReadsThem) {
    std::vector<Bytes> streams;
    for (const Flight& f : kFlights)
        streams.push_back(Fixture(f.file));
    std::vector<std::string> reference = ReferenceTranscripts(streams);
    ASSERT_EQ(reference.size(), streams.size());
    for (std::size_t i = 0; i < streams.size(); ++i) {
        const Flight& f = kFlights[i];
        const std::string ours = ParseStream(streams[i]);
        EXPECT_EQ(ours, reference[i]) << f.file;
        // Whatever the reference says, the shape of a server flight.
        std::string shape;
        for (std::size_t pos = 0; pos < ours.size();) {
            std::size_t end = ours.find('\n', pos);
            shape += ours.substr(pos, ours.find(' ', pos) < end ? ours.find(' ', pos) - pos : end - pos) + ";";
            pos = end + 1;
        }
        EXPECT_EQ(shape, std::string("ServerHello;Certificate;") + (f.certificateRequest ? "CertificateRequest;" : "") +
                             "ServerHelloDone;held;ok;")
            << f.file;
        EXPECT_NE(ours.find("Certificate " + std::to_string(f.certificates) + " "), std::string::npos) << f.file;
    }
}

TEST(TlsServerFlights, TheServersCertificateIsWhatOpensslReads) {
    for (const Flight& f : kFlights) {
        TlsProtocol p;
        Logger log;
        Bytes stream = Fixture(f.file);
        ASSERT_GT(p.receiveRecordBytes(stream.data(), std::uint32_t(stream.size()), log, false), 0);
        std::unique_ptr<TlsHandshakeMessage> hello(p.dequeueAny(log));
        std::unique_ptr<TlsCertificates> certs(static_cast<TlsCertificates*>(p.dequeueIf(kTlsCertificate, log)));
        ASSERT_TRUE(certs) << f.file;
        grvtest::TempDir dir;
        const std::string der = dir.File("server.der");
        grvtest::WriteFile(
            der, std::string(reinterpret_cast<const char*>(certs->certAt(0)->getData()), certs->certAt(0)->getSize()));
        // The name's form named: OpenSSL 3.5's default drops the spaces around '='.
        grvtest::RunResult subject = grvtest::RunPeer(
            {"openssl", "x509", "-inform", "DER", "-in", der, "-noout", "-subject", "-nameopt", "oneline", "-serial"});
        ASSERT_TRUE(subject.Ok()) << subject.out;
        EXPECT_NE(subject.out.find("CN = localhost"), std::string::npos) << subject.out;
        // The parser logged the same certificate.
        EXPECT_NE(LogText(log).find("localhost"), std::string::npos) << f.file;
    }
}

TEST(TlsServerFlights, FragmentedCertificatesReassembleWhateverThePieces) {
    std::mt19937 rng(512);
    for (const Flight& f : kFlights) {
        const Bytes stream = Fixture(f.file);
        const std::string whole = ParseStream(stream);
        // Bytes arriving in pieces of any size.
        for (int round = 0; round < 20; ++round) {
            std::vector<std::size_t> pieces;
            for (std::size_t total = 0; total < stream.size(); total += pieces.back())
                pieces.push_back(round == 0 ? 1 : 1 + rng() % 300);
            EXPECT_EQ(ParseStream(stream, pieces), whole) << f.file << " round " << round;
        }
        // The handshake cut into records anywhere, a Certificate message
        // spread over three records included.
        const Bytes payload = HandshakePayload(stream);
        for (int round = 0; round < 20; ++round) {
            std::vector<std::size_t> sizes = {std::size_t(1 + rng() % 700)};
            if (round == 0)
                sizes = {80, 500, 500, 16384};
            EXPECT_EQ(ParseStream(Records(22, payload, sizes)), whole) << f.file << " round " << round;
        }
    }
}

// Random flips, truncations and length edits of the flights, judged by the
// reference parser. Flights with a CertificateRequest only have their
// record and handshake headers edited, since the reference does not judge
// the distinguished names inside.
TEST(TlsServerFlights, MutatedFlightsGetTheReferenceVerdict) {
    std::mt19937 rng(4242);
    std::vector<Bytes> mutated;
    for (const Flight& f : kFlights) {
        const Bytes stream = Fixture(f.file);
        // Offsets of record headers and handshake message headers.
        std::vector<std::size_t> headers, payloadAt;
        for (std::size_t pos = 0; pos + 5 <= stream.size();) {
            const std::size_t n = (std::size_t(stream[pos + 3]) << 8) | stream[pos + 4];
            for (std::size_t k = 0; k < 5; ++k)
                headers.push_back(pos + k);
            for (std::size_t k = 0; stream[pos] == 22 && k < n; ++k)
                payloadAt.push_back(pos + 5 + k);
            pos += 5 + n;
        }
        for (std::size_t h = 0; h + 4 <= payloadAt.size();) {
            for (std::size_t k = 0; k < 4; ++k)
                headers.push_back(payloadAt[h + k]);
            h += 4 + ((std::size_t(stream[payloadAt[h + 1]]) << 16) | (std::size_t(stream[payloadAt[h + 2]]) << 8) |
                      stream[payloadAt[h + 3]]);
        }
        for (int i = 0; i < 150; ++i) {
            Bytes m = stream;
            const int kind = int(rng() % 4);
            const bool anywhere = !f.certificateRequest && kind != 3;
            const int flips = 1 + int(rng() % 3);
            for (int k = 0; k < flips; ++k) {
                const std::size_t at = anywhere ? rng() % m.size() : headers[rng() % headers.size()];
                if (kind == 2)
                    m[at] = static_cast<std::uint8_t>(m[at] + (rng() % 2 ? 1 : -1));
                else
                    m[at] = static_cast<std::uint8_t>(rng());
            }
            if (kind == 1)
                m.resize(rng() % m.size());
            mutated.push_back(m);
        }
    }
    std::vector<std::string> reference = ReferenceTranscripts(mutated);
    ASSERT_EQ(reference.size(), mutated.size());
    int errors = 0;
    for (std::size_t i = 0; i < mutated.size(); ++i) {
        EXPECT_EQ(ParseStream(mutated[i]), reference[i]) << "case " << i << ": " << Hex(mutated[i]);
        errors += reference[i].ends_with("error\n");
    }
    // Both verdicts were exercised.
    EXPECT_GT(errors, 50);
    EXPECT_LT(errors, int(mutated.size()) - 50);
}

// One handshake message in a clear record.
Bytes Message(std::uint8_t type, const Bytes& body) {
    Bytes m(4 + body.size());
    m[0] = type;
    m[1] = std::uint8_t(body.size() >> 16);
    m[2] = std::uint8_t(body.size() >> 8);
    m[3] = std::uint8_t(body.size());
    std::copy(body.begin(), body.end(), m.begin() + 4);
    return m;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes ServerHelloBody(std::size_t extra = 0) {
    Bytes b = {3, 1};
    b.insert(b.end(), 32, 0x11);
    b.push_back(0); // no session id
    b.insert(b.end(), {0x00, 0x2F, 0x00});
    b.insert(b.end(), extra, 0);
    return b;
}

TEST(TlsHandshakeMessages, PeerInputMeetsTheMessageRules) {
    struct Case {
        const char* name;
        Bytes handshake;
        const char* text; // in the log; null for none expected
        std::string transcript;
    };
    Bytes hello34 = ServerHelloBody();
    hello34.resize(34);
    const std::string serverHello = "ServerHello 3.1 " + Hex(Bytes(32, 0x11)) + "  002f 00\n";
    const Case cases[] = {
        {"ServerHello with extensions", Message(2, ServerHelloBody(6)), tlsmsg::kServerHelloLong, "held \nerror\n"},
        {"ServerHello of 34 bytes", Message(2, hello34), tlsmsg::kServerHelloShort2, "held \nerror\n"},
        {"Finished of 37 bytes", Message(20, Bytes(37, 1)), tlsmsg::kFinishedTooLong, "held \nerror\n"},
        {"Finished of 36 bytes", Message(20, Bytes(36, 1)), nullptr, "Finished " + Hex(Bytes(36, 1)) + "\nheld \nok\n"},
        {"Certificate with an empty list", Message(11, {0, 0, 0}), tlsmsg::kNoServerCertificates,
         "Certificate 0 \nheld \nok\n"},
        {"two messages in one record", Concat({Message(2, ServerHelloBody()), Message(14, {})}), nullptr,
         serverHello + "ServerHelloDone\nheld \nok\n"},
        {"ServerKeyExchange is refused", Concat({Message(12, {1, 2, 3}), Message(14, {})}),
         tlsmsg::kUnexpectedServerKeyExchange, "held \nerror\n"},
        {"HelloRequest is queued", Message(0, {}), nullptr, "HelloRequest\nheld \nok\n"},
        {"empty Certificate body", Message(11, {}), tlsmsg::kEmptyMessage, "held \nerror\n"},
        {"unknown message type", Message(99, {1}), tlsmsg::kInvalidHandshakeCode, "held \nerror\n"},
        {"Certificate list length off by one", Message(11, {0, 0, 5, 0, 0, 1, 0x30}), tlsmsg::kCertificateLength,
         "held \nerror\n"},
        {"certificate longer than its message", Message(11, {0, 0, 4, 0, 0, 2, 0x30}), tlsmsg::kCertificateShort2,
         "held \nerror\n"},
    };
    for (const Case& c : cases) {
        const Bytes stream = Records(22, c.handshake, {});
        TlsProtocol p;
        Logger log;
        const bool ok = p.receiveRecordBytes(stream.data(), std::uint32_t(stream.size()), log, false) >= 0;
        EXPECT_EQ(Transcript(p, ok), c.transcript) << c.name;
        EXPECT_EQ(ReferenceTranscripts({stream})[0], c.transcript) << c.name;
        if (c.text != nullptr) {
            EXPECT_NE(LogText(log).find(c.text), std::string::npos) << c.name << LogText(log);
        }
        EXPECT_EQ(p.pendingAlert(),
                  ok ? -1
                     : int(c.text == tlsmsg::kInvalidHandshakeCode || c.text == tlsmsg::kUnexpectedServerKeyExchange
                               ? kTlsAlertUnexpectedMessage
                               : kTlsAlertDecodeError))
            << c.name;
    }
}

} // namespace
