#pragma once
// What the TLS tests share: the python reference of the protocols
// (tests/peers/tls_reference.py), the captured server flights, hex and the
// transcript of what a protocol object parsed.
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/transport/TlsProtocol.h"
#include "tests/support/TestSupport.h"

namespace tlstest {

using grvtest::Bytes;

inline std::string ReferenceScript() {
    return std::string(GRV_SOURCE_DIR) + "/tests/peers/tls_reference.py";
}

// The reference's answer to one mode, one line per case.
inline std::vector<std::string> Reference(const std::string& mode, const std::string& json) {
    grvtest::RunOptions options;
    options.input = json;
    grvtest::RunResult r = grvtest::RunProgram({"/usr/bin/python3", ReferenceScript(), mode}, options);
    if (!r.Ok())
        throw std::runtime_error("tls_reference.py " + mode + " failed: " + r.err);
    std::vector<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::string Hex(const void* data, std::size_t n) {
    return grvtest::ToHex(static_cast<const unsigned char*>(data), n);
}
inline std::string Hex(const tessik::DataBuffer& db) {
    return Hex(db.getData(), db.getSize());
}
inline std::string Hex(const Bytes& b) {
    return Hex(b.data(), b.size());
}

inline Bytes FromHex(const std::string& hex) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes Fixture(const std::string& name) {
    return grvtest::ReadBytes(std::string(GRV_TEST_DATA_DIR) + "/transport/" + name);
}

inline std::string LogText(tessik::Logger& log) {
    tessik::StringBuffer sb;
    log.getLogText(sb);
    return sb.getString();
}

inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
    Bytes b(n);
    for (auto& c : b)
        c = static_cast<std::uint8_t>(rng());
    return b;
}

// What a protocol object made of the records it was fed, in the form the
// reference prints: one line per queued message, the held application data
// and the verdict.
inline std::string Transcript(tessik::TlsProtocol& p, bool ok) {
    using namespace tessik;
    std::string out;
    char line[64];
    tessik::LogNull quiet;
    while (TlsHandshakeMessage* m = p.dequeueAny(quiet)) {
        std::unique_ptr<TlsHandshakeMessage> owned(m);
        switch (m->messageType) {
        case kTlsHelloRequest: out += "HelloRequest\n"; break;
        case kTlsServerHelloDone: out += "ServerHelloDone\n"; break;
        case kTlsServerHello: {
            auto* h = static_cast<TlsServerHello*>(m);
            std::snprintf(line, sizeof line, "ServerHello %u.%u ", h->major, h->minor);
            out += line + Hex(h->random) + " " + Hex(h->sessionId) + " ";
            std::snprintf(line, sizeof line, "%04x %02x\n", h->cipherSuite, h->compressionMethod);
            out += line;
            break;
        }
        case kTlsClientHello: {
            auto* h = static_cast<TlsClientHello*>(m);
            std::snprintf(line, sizeof line, "ClientHello %u.%u ", h->major, h->minor);
            out += line + Hex(h->random) + " " + Hex(h->sessionId) + " " + Hex(h->cipherSuites) + " " +
                   Hex(h->compressionMethods) + "\n";
            break;
        }
        case kTlsCertificate: {
            auto* c = static_cast<TlsCertificates*>(m);
            out += "Certificate " + std::to_string(c->count()) + " ";
            for (int i = 0; i < c->count(); ++i) {
                if (i != 0)
                    out += ',';
                out += Hex(*c->certAt(i));
            }
            out += "\n";
            break;
        }
        case kTlsCertificateRequest: {
            auto* r = static_cast<TlsCertificateRequest*>(m);
            out += "CertificateRequest ";
            for (std::uint32_t i = 0; i < r->numCertTypes; ++i) {
                std::snprintf(line, sizeof line, "%02x", r->certTypes[i]);
                out += line;
            }
            out += " " + std::to_string(r->authorities.getCount()) + "\n";
            break;
        }
        case kTlsClientKeyExchange:
            out += "ClientKeyExchange " + Hex(static_cast<TlsClientKeyExchange*>(m)->exchangeKeys) + "\n";
            break;
        case kTlsCertificateVerify:
            out += "CertificateVerify " + Hex(static_cast<TlsCertificateVerify*>(m)->signature) + "\n";
            break;
        case kTlsFinished: {
            auto* f = static_cast<TlsFinished*>(m);
            out += "Finished " + Hex(f->verifyData, f->verifyDataLength) + "\n";
            break;
        }
        default: out += "?\n"; break;
        }
    }
    out += "held " + Hex(p.heldApplicationData()) + "\n";
    out += ok ? "ok\n" : "error\n";
    return out;
}

// Feeds a fresh protocol object the stream in pieces of the given sizes
// (the rest in one piece) and returns its transcript.
inline std::string ParseStream(const Bytes& stream, const std::vector<std::size_t>& pieces = {}) {
    tessik::TlsProtocol p;
    tessik::LogNull log;
    std::size_t pos = 0;
    bool ok = true;
    for (std::size_t n : pieces) {
        n = std::min(n, stream.size() - pos);
        ok = ok && p.receiveRecordBytes(stream.data() + pos, static_cast<std::uint32_t>(n), log, false) >= 0;
        pos += n;
    }
    if (ok && pos < stream.size())
        ok =
            p.receiveRecordBytes(stream.data() + pos, static_cast<std::uint32_t>(stream.size() - pos), log, false) >= 0;
    return Transcript(p, ok);
}

// The reference's transcripts of many streams at once.
inline std::vector<std::string> ReferenceTranscripts(const std::vector<Bytes>& streams) {
    std::string json = "[";
    for (std::size_t i = 0; i < streams.size(); ++i)
        json += (i ? ",\"" : "\"") + Hex(streams[i]) + "\"";
    json += "]";
    std::vector<std::string> out;
    std::string current;
    for (const std::string& line : Reference("parse", json)) {
        if (line == "====") {
            out.push_back(current);
            current.clear();
        } else {
            current += line + "\n";
        }
    }
    return out;
}

// The handshake bytes of a clear record stream, and the stream rebuilt
// with the handshake cut into records of the given sizes.
inline Bytes HandshakePayload(const Bytes& stream) {
    Bytes out;
    for (std::size_t pos = 0; pos + 5 <= stream.size();) {
        std::size_t n = (std::size_t(stream[pos + 3]) << 8) | stream[pos + 4];
        if (stream[pos] == 22)
            out.insert(out.end(), stream.begin() + pos + 5, stream.begin() + pos + 5 + n);
        pos += 5 + n;
    }
    return out;
}

inline Bytes Records(std::uint8_t type, const Bytes& payload, const std::vector<std::size_t>& sizes,
                     std::uint8_t minor = 1) {
    Bytes out;
    std::size_t pos = 0, k = 0;
    while (pos < payload.size()) {
        std::size_t n = std::min(sizes.empty() ? payload.size() : sizes[k++ % sizes.size()], payload.size() - pos);
        out.insert(out.end(), {type, 3, minor, std::uint8_t(n >> 8), std::uint8_t(n)});
        out.insert(out.end(), payload.begin() + pos, payload.begin() + pos + n);
        pos += n;
    }
    return out;
}

} // namespace tlstest
