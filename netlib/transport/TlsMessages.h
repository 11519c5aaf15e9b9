#pragma once
// The handshake messages of the TLS client: their objects, the builders of
// what the client sends and the parsers of every message a record stream of
// either side can carry. Parsers take one message body and never read past it.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"
#include "netlib/pki/DistinguishedName.h"
#include "netlib/transport/TlsConstants.h"

namespace tessik {

class Certificate;
class LogBase;
class StringBuffer;

// HelloRequest and ServerHelloDone are plain instances.
class TlsHandshakeMessage : public TessikObject {
public:
    explicit TlsHandshakeMessage(std::uint32_t type) : messageType(type) {}
    ~TlsHandshakeMessage() override;

    std::uint32_t messageType;
};

class TlsClientHello : public TlsHandshakeMessage {
public:
    TlsClientHello() : TlsHandshakeMessage(kTlsClientHello) {}
    ~TlsClientHello() override;
    // The whole message, header included, appended to out.
    void serialize(DataBuffer& out) const;

    std::uint32_t major = kTlsMajor;
    std::uint32_t minor = kTls10Minor;
    DataBuffer random;
    DataBuffer sessionId;
    DataBuffer cipherSuites; // two bytes a suite
    DataBuffer compressionMethods;
};

class TlsServerHello : public TlsHandshakeMessage {
public:
    TlsServerHello() : TlsHandshakeMessage(kTlsServerHello) {}
    ~TlsServerHello() override;

    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    DataBuffer random;
    DataBuffer sessionId;
    std::uint16_t cipherSuite = 0;
    std::uint8_t compressionMethod = 0;
};

// The DER of each certificate, the peer's own first.
class TlsCertificates : public TlsHandshakeMessage {
public:
    TlsCertificates();
    ~TlsCertificates() override;

    int count() const { return certs.getCount(); }
    const DataBuffer* certAt(int i) const { return static_cast<const DataBuffer*>(certs.elementAt(i)); }

    ExtPtrArray certs;
    // The first certificate, read once for the log, the key exchange and the
    // channel; null when it is none.
    std::shared_ptr<Certificate> leaf;
};

class TlsCertificateRequest : public TlsHandshakeMessage {
public:
    static constexpr unsigned int kMaxKeptTypes = 4;
    TlsCertificateRequest() : TlsHandshakeMessage(kTlsCertificateRequest) {}
    ~TlsCertificateRequest() override;

    std::uint32_t numCertTypes = 0;
    std::uint32_t certTypes[kMaxKeptTypes] = {};
    _tsStringTable authorities; // distinguished names as text
};

class TlsCertificateVerify : public TlsHandshakeMessage {
public:
    TlsCertificateVerify() : TlsHandshakeMessage(kTlsCertificateVerify) {}
    ~TlsCertificateVerify() override;
    void serialize(DataBuffer& out) const;

    DataBuffer signature;
};

class TlsClientKeyExchange : public TlsHandshakeMessage {
public:
    TlsClientKeyExchange() : TlsHandshakeMessage(kTlsClientKeyExchange) {}
    ~TlsClientKeyExchange() override;
    // SSL 3.0 (minor 0) sends the encrypted secret bare, TLS with its length.
    void serialize(std::uint32_t minor, DataBuffer& out) const;

    DataBuffer exchangeKeys;
};

class TlsFinished : public TlsHandshakeMessage {
public:
    TlsFinished() : TlsHandshakeMessage(kTlsFinished) {}
    ~TlsFinished() override;
    void serialize(DataBuffer& out) const;

    unsigned char verifyData[kSsl3VerifyDataSize] = {};
    std::uint32_t verifyDataLength = 0;
};

// Name of a handshake type for logs; null for a code that names none.
const char* tlsHandshakeName(std::uint32_t type);
// Name of a cipher suite as logged (with its line end), else "%02x,%02x\r\n".
void tlsCipherSuiteName(unsigned char first, unsigned char second, StringBuffer& out);
// Appends the 4-byte handshake header and body.
void appendHandshakeHeader(std::uint32_t type, std::uint32_t bodyLength, DataBuffer& out);

// One parser per message type. Each returns a new message owned by the
// caller, or null with its failure logged. minor selects the SSL 3.0 layout
// of a ClientKeyExchange.
TlsServerHello* parseServerHello(const unsigned char* body, std::uint32_t n, LogBase& log);
TlsCertificates* parseCertificates(const unsigned char* body, std::uint32_t n, LogBase& log);
TlsCertificateRequest* parseCertificateRequest(const unsigned char* body, std::uint32_t n, LogBase& log);
TlsClientHello* parseClientHello(const unsigned char* body, std::uint32_t n, LogBase& log);
TlsClientKeyExchange* parseClientKeyExchange(const unsigned char* body, std::uint32_t n, std::uint32_t minor,
                                             LogBase& log);
TlsCertificateVerify* parseCertificateVerify(const unsigned char* body, std::uint32_t n, LogBase& log);
TlsFinished* parseFinished(const unsigned char* body, std::uint32_t n, LogBase& log);

// The client's Certificate message over the DER of each certificate (an
// empty list gives the 7 bytes 0B 00 00 03 00 00 00).
void buildCertificatesMessage(const ExtPtrArray& certDers, DataBuffer& out);

} // namespace tessik
