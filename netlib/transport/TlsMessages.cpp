// Handshake message objects, their layouts on the wire, and the parsers.
#include "netlib/transport/TlsMessages.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Certificate.h"
#include "netlib/transport/TlsCertificates.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kLength24Size = 3;
constexpr unsigned int kSuiteSize = 2;
constexpr unsigned int kVersionAndRandom = 2 + kTlsRandomSize;
// Cipher suite and compression method after the session id.
constexpr unsigned int kServerHelloTail = 3;

// Bounded reads from one message body; every read fails rather than pass the end.
class BodyReader {
public:
    BodyReader(const unsigned char* p, std::uint32_t n) : m_p(p), m_left(n) {}
    std::uint32_t left() const { return m_left; }
    const unsigned char* here() const { return m_p; }
    bool u8(std::uint32_t& v) {
        if (m_left < 1)
            return false;
        v = *m_p;
        skip(1);
        return true;
    }
    bool u16(std::uint32_t& v) {
        if (m_left < 2)
            return false;
        v = platform::LoadBe16(m_p);
        skip(2);
        return true;
    }
    bool u24(std::uint32_t& v) {
        if (m_left < kLength24Size)
            return false;
        v = (static_cast<std::uint32_t>(m_p[0]) << 16) | platform::LoadBe16(m_p + 1);
        skip(kLength24Size);
        return true;
    }
    bool bytes(std::uint32_t n, DataBuffer& out) {
        if (m_left < n)
            return false;
        out.append(m_p, n);
        skip(n);
        return true;
    }
    void skip(std::uint32_t n) {
        m_p += n;
        m_left -= n;
    }

private:
    const unsigned char* m_p;
    std::uint32_t m_left;
};

void appendBe16(std::uint32_t v, DataBuffer& out) {
    unsigned char b[2];
    platform::StoreBe16(b, static_cast<std::uint16_t>(v));
    out.append(b, sizeof b);
}

void appendBe24(std::uint32_t v, DataBuffer& out) {
    out.appendChar(static_cast<unsigned char>(v >> 16));
    appendBe16(v & 0xFFFF, out);
}

std::nullptr_t fail(const char* message, LogBase& log) {
    log.logError(message);
    return nullptr;
}

struct SuiteName {
    unsigned char first;
    unsigned char second;
    const char* name;
};

constexpr SuiteName kSuiteNames[] = {
    {0x00, 0x01, "RSA_WITH_NULL_MD5\r\n"},
    {0x00, 0x02, "RSA_WITH_NULL_SHA\r\n"},
    {0x00, 0x03, "RSA_EXPORT_WITH_RC4_40_MD5\r\n"},
    {0x00, 0x04, "RSA_WITH_RC4_128_MD5\r\n"},
    {0x00, 0x05, "RSA_WITH_RC4_128_SHA\r\n"},
    {0x00, 0x06, "RSA_EXPORT_WITH_RC2_CBC_40_MD5\r\n"},
    {0x00, 0x07, "RSA_WITH_IDEA_CBC_SHA\r\n"},
    {0x00, 0x08, "RSA_EXPORT_WITH_DES40_CBC_SHA\r\n"},
    {0x00, 0x09, "RSA_WITH_DES_CBC_SHA\r\n"},
    {0x00, 0x0A, "RSA_WITH_3DES_EDE_CBC_SHA\r\n"},
    {0x00, 0x0C, "DH_DSS_WITH_DES_CBC_SHA\r\n"},
    {0x00, 0x0D, "DH_DSS_WITH_3DES_EDE_CBC_SHA\r\n"},
    {0x00, 0x0F, "DH_RSA_WITH_DES_CBC_SHA\r\n"},
    {0x00, 0x10, "DH_RSA_WITH_3DES_EDE_CBC_SHA\r\n"},
    {0x00, 0x12, "EDH_DSS_DES_64_CBC_SHA\r\n"},
    {0x00, 0x13, "EDH_DSS_DES_192_CBC3_SHA\r\n"},
    {0x00, 0x16, "EDH_RSA_DES_192_CBC3_SHA\r\n"},
    {0x00, 0x2F, "RSA_WITH_AES_128_CBC_SHA\r\n"},
    {0x00, 0x32, "DHE_DSS_WITH_AES_128_SHA\r\n"},
    {0x00, 0x33, "DHE_RSA_WITH_AES_128_SHA\r\n"},
    {0x00, 0x35, "RSA_WITH_AES_256_CBC_SHA\r\n"},
    {0x00, 0x38, "DHE_DSS_WITH_AES_256_SHA\r\n"},
    {0x00, 0x39, "DHE_RSA_WITH_AES_256_SHA\r\n"},
    {0x00, 0x41, "RSA_WITH_CAMELLIA_128_CBC_SHA\r\n"},
    {0x00, 0x44, "DHE_DSS_WITH_CAMELLIA_128_CBC_SHA\r\n"},
    {0x00, 0x45, "DHE_RSA_WITH_CAMELLIA_128_CBC_SHA\r\n"},
    {0x00, 0x62, "RSA_EXPORT1024_WITH_DES_CBC_SHA\r\n"},
    {0x00, 0x63, "DHE_DSS_EXPORT1024_WITH_DES_CBC_SHA\r\n"},
    {0x00, 0x64, "RSA_EXPORT1024_WITH_RC4_56_SHA\r\n"},
    {0x00, 0x84, "RSA_WITH_CAMELLIA_256_CBC_SHA\r\n"},
    {0x00, 0x87, "DHE_DSS_WITH_CAMELLIA_256_CBC_SHA\r\n"},
    {0x00, 0x88, "DHE_RSA_WITH_CAMELLIA_256_CBC_SHA\r\n"},
    {0xC0, 0x01, "ECDH_ECDSA_WITH_NULL_SHA\r\n"},
    {0xC0, 0x02, "ECDH_ECDSA_WITH_RC4_128_SHA\r\n"},
    {0xC0, 0x03, "ECDH_ECDSA_WITH_DES_192_CBC3_SHA\r\n"},
    {0xC0, 0x04, "ECDH_ECDSA_WITH_AES_128_CBC_SHA\r\n"},
    {0xC0, 0x05, "ECDH_ECDSA_WITH_AES_256_CBC_SHA\r\n"},
    {0xC0, 0x06, "ECDHE_ECDSA_WITH_NULL_SHA\r\n"},
    {0xC0, 0x07, "ECDHE_ECDSA_WITH_RC4_128_SHA\r\n"},
    {0xC0, 0x08, "ECDHE_ECDSA_WITH_DES_192_CBC3_SHA\r\n"},
    {0xC0, 0x09, "ECDHE_ECDSA_WITH_AES_128_CBC_SHA\r\n"},
    {0xC0, 0x0A, "ECDHE_ECDSA_WITH_AES_256_CBC_SHA\r\n"},
    {0xC0, 0x0C, "ECDH_RSA_WITH_RC4_128_SHA\r\n"},
    {0xC0, 0x0D, "ECDH_RSA_WITH_DES_192_CBC3_SHA\r\n"},
    {0xC0, 0x0E, "ECDH_RSA_WITH_AES_128_CBC_SHA\r\n"},
    {0xC0, 0x0F, "ECDH_RSA_WITH_AES_256_CBC_SHA\r\n"},
    {0xC0, 0x11, "ECDHE_RSA_WITH_RC4_128_SHA \r\n"},
    {0xC0, 0x12, "ECDHE_RSA_WITH_DES_192_CBC3_SHA\r\n"},
    {0xC0, 0x13, "ECDHE_RSA_WITH_AES_128_CBC_SHA\r\n"},
    {0xC0, 0x14, "ECDHE_RSA_WITH_AES_256_CBC_SHA\r\n"},
};

void logSuite(const char* tag, unsigned char first, unsigned char second, LogBase& log) {
    StringBuffer name;
    tlsCipherSuiteName(first, second, name);
    log.logData(tag, name.getString());
    char pair[8];
    std::snprintf(pair, sizeof pair, "%02x,%02x", first, second);
    log.logData(tag, pair);
}

} // namespace

TlsHandshakeMessage::~TlsHandshakeMessage() = default;
TlsClientHello::~TlsClientHello() = default;
TlsServerHello::~TlsServerHello() = default;
TlsCertificates::TlsCertificates() : TlsHandshakeMessage(kTlsCertificate) {
    certs.setOwnsObjects(true);
}
TlsCertificates::~TlsCertificates() = default;
TlsCertificateRequest::~TlsCertificateRequest() = default;
TlsCertificateVerify::~TlsCertificateVerify() = default;
TlsClientKeyExchange::~TlsClientKeyExchange() = default;
TlsFinished::~TlsFinished() = default;

const char* tlsHandshakeName(std::uint32_t type) {
    switch (type) {
    case kTlsHelloRequest: return "HelloRequest";
    case kTlsClientHello: return "ClientHello";
    case kTlsServerHello: return "ServerHello";
    case kTlsCertificate: return "Certificate";
    case kTlsServerKeyExchange: return "ServerKeyExchange";
    case kTlsCertificateRequest: return "CertificateRequest";
    case kTlsServerHelloDone: return "ServerHelloDone";
    case kTlsCertificateVerify: return "CertificateVerify";
    case kTlsClientKeyExchange: return "ClientKeyExchange";
    case kTlsFinished: return "HandshakeFinished";
    default: return nullptr;
    }
}

void tlsCipherSuiteName(unsigned char first, unsigned char second, StringBuffer& out) {
    for (const SuiteName& s : kSuiteNames) {
        if (s.first == first && s.second == second) {
            out.append(s.name);
            return;
        }
    }
    char pair[16];
    std::snprintf(pair, sizeof pair, "%02x,%02x\r\n", first, second);
    out.append(pair);
}

void appendHandshakeHeader(std::uint32_t type, std::uint32_t bodyLength, DataBuffer& out) {
    out.appendChar(static_cast<unsigned char>(type));
    appendBe24(bodyLength, out);
}

void TlsClientHello::serialize(DataBuffer& out) const {
    const std::uint32_t body = kVersionAndRandom + 1 + sessionId.getSize() + kSuiteSize + cipherSuites.getSize() + 1 +
                               compressionMethods.getSize();
    appendHandshakeHeader(kTlsClientHello, body, out);
    out.appendChar(static_cast<unsigned char>(major));
    out.appendChar(static_cast<unsigned char>(minor));
    out.appendDb(random);
    out.appendChar(static_cast<unsigned char>(sessionId.getSize()));
    out.appendDb(sessionId);
    appendBe16(cipherSuites.getSize(), out);
    out.appendDb(cipherSuites);
    out.appendChar(static_cast<unsigned char>(compressionMethods.getSize()));
    out.appendDb(compressionMethods);
}

void TlsCertificateVerify::serialize(DataBuffer& out) const {
    appendHandshakeHeader(kTlsCertificateVerify, signature.getSize() + 2, out);
    appendBe16(signature.getSize(), out);
    out.appendDb(signature);
}

void TlsClientKeyExchange::serialize(std::uint32_t minor, DataBuffer& out) const {
    if (minor == kSsl30Minor) {
        appendHandshakeHeader(kTlsClientKeyExchange, exchangeKeys.getSize(), out);
    } else {
        appendHandshakeHeader(kTlsClientKeyExchange, exchangeKeys.getSize() + 2, out);
        appendBe16(exchangeKeys.getSize(), out);
    }
    out.appendDb(exchangeKeys);
}

void TlsFinished::serialize(DataBuffer& out) const {
    appendHandshakeHeader(kTlsFinished, verifyDataLength, out);
    out.append(verifyData, verifyDataLength);
}

void buildCertificatesMessage(const ExtPtrArray& certDers, DataBuffer& out) {
    DataBuffer list;
    for (int i = 0; i < certDers.getCount(); ++i) {
        const auto* der = static_cast<const DataBuffer*>(certDers.elementAt(i));
        if (der == nullptr)
            continue;
        appendBe24(der->getSize(), list);
        list.appendDb(*der);
    }
    appendHandshakeHeader(kTlsCertificate, list.getSize() + kLength24Size, out);
    appendBe24(list.getSize(), out);
    out.appendDb(list);
}

TlsServerHello* parseServerHello(const unsigned char* body, std::uint32_t n, LogBase& log) {
    log.logInfo("Processing ServerHello...");
    LogContext ctx(log, "ServerHello");
    auto msg = std::make_unique<TlsServerHello>();
    if (n == 0)
        return fail(tlsmsg::kZeroServerHello, log);
    BodyReader r(body, n);
    if (r.left() < kVersionAndRandom) {
        if (r.left() >= 2) {
            log.logDataLong("MajorVersion", body[0]);
            log.logDataLong("MinorVersion", body[1]);
        }
        return fail(tlsmsg::kServerHelloShort1, log);
    }
    r.u8(msg->major);
    r.u8(msg->minor);
    log.logDataLong("MajorVersion", static_cast<int>(msg->major));
    log.logDataLong("MinorVersion", static_cast<int>(msg->minor));
    r.bytes(kTlsRandomSize, msg->random);
    std::uint32_t idLength = 0;
    if (!r.u8(idLength))
        return fail(tlsmsg::kServerHelloShort2, log);
    log.logDataLong("SessionIdLen", static_cast<int>(idLength));
    if (!r.bytes(idLength, msg->sessionId))
        return fail(tlsmsg::kServerHelloShort3, log);
    if (r.left() < kServerHelloTail)
        return fail(tlsmsg::kServerHelloShort4, log);
    const unsigned char* suite = r.here();
    msg->cipherSuite = platform::LoadBe16(suite);
    msg->compressionMethod = suite[2];
    logSuite("CipherSuite", suite[0], suite[1], log);
    log.logDataLong("CompressionMethod", msg->compressionMethod);
    r.skip(kServerHelloTail);
    if (r.left() != 0)
        return fail(tlsmsg::kServerHelloLong, log);
    log.logInfo("Queueing ServerHello message.");
    log.logInfo("ServerHello is OK.");
    return msg.release();
}

TlsCertificates* parseCertificates(const unsigned char* body, std::uint32_t n, LogBase& log) {
    LogContext ctx(log, "ProcessCertificates");
    auto msg = std::make_unique<TlsCertificates>();
    BodyReader r(body, n);
    std::uint32_t total = 0;
    if (!r.u24(total))
        return fail(tlsmsg::kZeroCertificate, log);
    if (total != r.left())
        return fail(tlsmsg::kCertificateLength, log);
    while (r.left() > 0) {
        std::uint32_t length = 0;
        if (!r.u24(length))
            return fail(tlsmsg::kCertificateShort1, log);
        auto der = std::make_unique<DataBuffer>();
        if (!r.bytes(length, *der))
            return fail(tlsmsg::kCertificateShort2, log);
        {
            LogContext certCtx(log, "Certificate");
            log.logDataLong("derSize", static_cast<int>(length));
            std::shared_ptr<Certificate> cert = loadTlsCertificate(*der, log);
            logTlsCertificate(cert.get(), "certSubjectCN", "certSerial", "certIssuerCN", log);
            if (msg->count() == 0)
                msg->leaf = std::move(cert);
        }
        msg->certs.appendPtr(der.release());
    }
    log.logDataLong("NumServerCertificates", msg->count());
    if (msg->count() == 0)
        log.logError(tlsmsg::kNoServerCertificates);
    log.logInfo("Queueing Certificates message...");
    return msg.release();
}

TlsCertificateRequest* parseCertificateRequest(const unsigned char* body, std::uint32_t n, LogBase& log) {
    LogContext ctx(log, "CertificateRequest");
    auto msg = std::make_unique<TlsCertificateRequest>();
    constexpr std::uint32_t kMinimum = 3;
    if (n < kMinimum)
        return fail(tlsmsg::kInvalidCertRequest, log);
    BodyReader r(body, n);
    std::uint32_t count = 0;
    r.u8(count);
    log.logDataLong("NumCertificateTypes", static_cast<int>(count));
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint32_t type = 0;
        if (!r.u8(type))
            return fail(tlsmsg::kCertRequestShort, log);
        switch (type) {
        case 1: log.logInfo("Certificate Type: RSA Sign"); break;
        case 2: log.logInfo("Certificate Type: DSS Sign"); break;
        case 3: log.logInfo("Certificate Type: RSA Fixed DH"); break;
        case 4: log.logInfo("Certificate Type: DSS Fixed DH"); break;
        default: log.logDataLong("OtherCertificateType", static_cast<int>(type)); break;
        }
        if (i < TlsCertificateRequest::kMaxKeptTypes)
            msg->certTypes[msg->numCertTypes++] = type;
    }
    std::uint32_t total = 0;
    if (!r.u16(total))
        return fail(tlsmsg::kCertRequestShort, log);
    log.logDataLong("totalLen", static_cast<int>(total));
    if (total != r.left())
        return fail(tlsmsg::kCertRequestShort, log);
    while (r.left() > 0) {
        std::uint32_t length = 0;
        DataBuffer der;
        if (!r.u16(length) || !r.bytes(length, der))
            return fail(tlsmsg::kCertRequestShort, log);
        DistinguishedName dn;
        XString text;
        if (!dn.loadDer(der, log) || !dn.getDnString(text, log))
            return fail(tlsmsg::kInvalidDn, log);
        log.logData("DistinguishedName", text.getUtf8());
        msg->authorities.appendBytes(text.getUtf8(), static_cast<std::uint32_t>(text.getSizeUtf8()));
    }
    log.logDataLong("NumDistinguishedNames", static_cast<int>(msg->authorities.getCount()));
    log.logInfo("CertificateRequest message is OK.");
    log.logInfo("Queueing CertificateRequest message.");
    return msg.release();
}

TlsClientHello* parseClientHello(const unsigned char* body, std::uint32_t n, LogBase& log) {
    LogContext ctx(log, "ClientHello");
    auto msg = std::make_unique<TlsClientHello>();
    if (n == 0)
        return fail(tlsmsg::kZeroClientHello, log);
    BodyReader r(body, n);
    if (!r.u8(msg->major) || !r.u8(msg->minor))
        return fail("ClientHello too short (1).", log);
    log.logDataLong("MajorVersion", static_cast<int>(msg->major));
    log.logDataLong("MinorVersion", static_cast<int>(msg->minor));
    if (!r.bytes(kTlsRandomSize, msg->random))
        return fail("ClientHello too short (2).", log);
    std::uint32_t idLength = 0;
    if (!r.u8(idLength) || !r.bytes(idLength, msg->sessionId))
        return fail("ClientHello too short (3).", log);
    std::uint32_t suitesLength = 0;
    if (!r.u16(suitesLength))
        return fail("ClientHello too short (4).", log);
    if (!r.bytes(suitesLength, msg->cipherSuites))
        return fail("ClientHello too short (5).", log);
    {
        LogContext suites(log, "CipherSuites");
        const unsigned char* s = msg->cipherSuites.getData();
        for (std::uint32_t i = 0; i + 1 < suitesLength; i += kSuiteSize) {
            StringBuffer name;
            tlsCipherSuiteName(s[i], s[i + 1], name);
            log.logData("CipherSuite", name.getString());
        }
    }
    std::uint32_t methods = 0;
    if (!r.u8(methods) || !r.bytes(methods, msg->compressionMethods))
        return fail("ClientHello too short (6).", log);
    log.logDataLong("numCompressionMethods", static_cast<int>(methods));
    log.logInfo("Queueing ClientHello message.");
    log.logInfo("ClientHello is OK.");
    return msg.release();
}

TlsClientKeyExchange* parseClientKeyExchange(const unsigned char* body, std::uint32_t n, std::uint32_t minor,
                                             LogBase& log) {
    auto msg = std::make_unique<TlsClientKeyExchange>();
    if (n < 2)
        return fail(tlsmsg::kZeroClientKeyExchange, log);
    log.logDataLong("ClientKeyExchangeMsgLen", static_cast<int>(n));
    if (minor == kSsl30Minor)
        msg->exchangeKeys.append(body, n);
    else
        msg->exchangeKeys.append(body + 2, n - 2);
    log.logDataLong("exchangeKeysLen", static_cast<int>(msg->exchangeKeys.getSize()));
    log.logInfo("Queueing ClientKeyExchange message.");
    return msg.release();
}

TlsCertificateVerify* parseCertificateVerify(const unsigned char* body, std::uint32_t n, LogBase& log) {
    auto msg = std::make_unique<TlsCertificateVerify>();
    BodyReader r(body, n);
    std::uint32_t length = 0;
    if (!r.u16(length))
        return fail(tlsmsg::kZeroCertificateVerify, log);
    log.logDataLong("signatureLen", static_cast<int>(length));
    if (length != r.left())
        return fail(tlsmsg::kBadSignatureLength, log);
    r.bytes(length, msg->signature);
    log.logInfo("Queueing CertificateVerify message.");
    return msg.release();
}

TlsFinished* parseFinished(const unsigned char* body, std::uint32_t n, LogBase& log) {
    auto msg = std::make_unique<TlsFinished>();
    if (n == 0)
        return fail(tlsmsg::kZeroFinished, log);
    if (n > kSsl3VerifyDataSize)
        return fail(tlsmsg::kFinishedTooLong, log);
    log.logDataLong("FinishedMsgLen", static_cast<int>(n));
    std::memcpy(msg->verifyData, body, n);
    msg->verifyDataLength = n;
    log.logInfo("Queueing Finished message.");
    return msg.release();
}

} // namespace tessik
