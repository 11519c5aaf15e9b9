// Handshake records to queued messages, the queue, and the ClientHello.
#include <ctime>
#include <memory>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikRand.h"
#include "netlib/transport/TlsProtocol.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kRandomTimeBytes = 4;
// All handshake bytes one handshake may take before its ServerHelloDone.
constexpr unsigned int kMaxReceivedHandshake = 4 * kTlsMaxHandshakeMessage;

} // namespace

int TlsProtocol::processHandshakeRecord(const unsigned char* data, std::uint32_t n, bool fromSsl2, LogBase& log) {
    DataBuffer bytes;
    bytes.takeFrom(m_handshakeCarry);
    bytes.append(data, n);
    const unsigned char* b = bytes.getData();
    const std::uint32_t size = bytes.getSize();
    std::uint32_t pos = 0;
    int handled = 0;
    while (pos < size) {
        const std::uint32_t left = size - pos;
        if (left < kTlsHandshakeHeaderSize) {
            m_handshakeCarry.append(b + pos, left);
            log.logInfo(tlsmsg::kPartialMessage1);
            break;
        }
        const std::uint32_t type = b[pos];
        const std::uint32_t length = (static_cast<std::uint32_t>(b[pos + 1]) << 16) | platform::LoadBe16(b + pos + 2);
        log.logDataLong("handshakeMessageType", static_cast<int>(type));
        log.logDataLong("handshakeMessageLen", static_cast<int>(length));
        log.logDataLong("nBytesLeft", static_cast<int>(left));
        if (length > kTlsMaxHandshakeMessage) {
            log.logError(tlsmsg::kHandshakeTooLong);
            noteBadInput(kTlsAlertDecodeError);
            return -1;
        }
        if (length > left - kTlsHandshakeHeaderSize) {
            m_handshakeCarry.append(b + pos, left);
            log.logInfo(tlsmsg::kPartialMessage2);
            break;
        }
        const std::uint32_t whole = kTlsHandshakeHeaderSize + length;
        if (!fromSsl2 && type != kTlsHelloRequest) {
            if (m_receivedHandshake.getSize() + whole > kMaxReceivedHandshake) {
                log.logError(tlsmsg::kHandshakeTooLong);
                noteBadInput(kTlsAlertDecodeError);
                return -1;
            }
            m_receivedHandshake.append(b + pos, whole);
        }
        const int result = processHandshakeMessage(type, b + pos + kTlsHandshakeHeaderSize, length, log);
        if (result < 0)
            return -1;
        handled += result;
        pos += whole;
    }
    return handled;
}

int TlsProtocol::processHandshakeMessage(std::uint32_t type, const unsigned char* body, std::uint32_t n, LogBase& log) {
    LogContext ctx(log, "processHandshakeMessage");
    onHandshakeMessage(type, body, n);
    if (type != kTlsHelloRequest && type != kTlsServerHelloDone && n == 0) {
        log.logDataLong("EmptyMessageType", static_cast<int>(type));
        log.logError(tlsmsg::kEmptyMessage);
        noteBadInput(kTlsAlertDecodeError);
        return -1;
    }
    const char* name = tlsHandshakeName(type);
    if (name == nullptr) {
        log.logError(tlsmsg::kInvalidHandshakeCode);
        log.logDataLong("code", static_cast<int>(type));
        noteBadInput(kTlsAlertUnexpectedMessage);
        return -1;
    }
    log.logData("MessageType", name);
    TlsHandshakeMessage* message = nullptr;
    switch (type) {
    case kTlsHelloRequest:
        log.logInfo("Queueing HelloRequest message.");
        message = new TlsHandshakeMessage(type);
        break;
    case kTlsServerHelloDone:
        log.logInfo("Queueing HelloDone message.");
        message = new TlsHandshakeMessage(type);
        break;
    case kTlsServerKeyExchange:
        // Only RSA key exchange is offered, which sends none.
        log.logError(tlsmsg::kUnexpectedServerKeyExchange);
        noteBadInput(kTlsAlertUnexpectedMessage);
        return -1;
    case kTlsClientHello: message = parseClientHello(body, n, log); break;
    case kTlsServerHello:
        message = parseServerHello(body, n, log);
        if (message != nullptr && !serverHelloOffered(*static_cast<TlsServerHello*>(message), log)) {
            delete message;
            noteBadInput(kTlsAlertIllegalParameter);
            return -1;
        }
        break;
    case kTlsCertificate: message = parseCertificates(body, n, log); break;
    case kTlsCertificateRequest: message = parseCertificateRequest(body, n, log); break;
    case kTlsCertificateVerify: message = parseCertificateVerify(body, n, log); break;
    case kTlsClientKeyExchange: message = parseClientKeyExchange(body, n, m_minor, log); break;
    case kTlsFinished: message = parseFinished(body, n, log); break;
    default: break;
    }
    if (message == nullptr) {
        noteBadInput(kTlsAlertDecodeError);
        return -1;
    }
    m_queue.appendPtr(message);
    return 1;
}

bool TlsProtocol::serverHelloOffered(const TlsServerHello& hello, LogBase& log) const {
    // Parsed without a ClientHello of this side (a server's view, a test),
    // there is no offer to hold it to.
    if (!m_clientHello)
        return true;
    // The offered version or an earlier SSL 3 one.
    if (hello.major != kTlsMajor || hello.minor > m_clientHello->minor) {
        log.logError(tlsmsg::kVersionNotOffered);
        log.logDataLong("MajorVersion", static_cast<int>(hello.major));
        log.logDataLong("MinorVersion", static_cast<int>(hello.minor));
        return false;
    }
    const DataBuffer& offered = m_clientHello->cipherSuites;
    bool suiteOffered = false;
    for (std::uint32_t i = 0; i + 1 < offered.getSize(); i += 2)
        suiteOffered |= platform::LoadBe16(offered.getData() + i) == hello.cipherSuite;
    if (!suiteOffered) {
        log.logError(tlsmsg::kSuiteNotOffered);
        log.logDataLong("cipherSuite", static_cast<int>(hello.cipherSuite));
        return false;
    }
    const DataBuffer& methods = m_clientHello->compressionMethods;
    bool methodOffered = false;
    for (std::uint32_t i = 0; i < methods.getSize(); ++i)
        methodOffered |= methods.getData()[i] == hello.compressionMethod;
    if (!methodOffered) {
        log.logError(tlsmsg::kCompressionNotOffered);
        log.logDataLong("compressionMethod", static_cast<int>(hello.compressionMethod));
        return false;
    }
    return true;
}

int TlsProtocol::peekMessageType() const {
    if (m_queue.getCount() == 0)
        return -1;
    return static_cast<int>(static_cast<TlsHandshakeMessage*>(m_queue.elementAt(0))->messageType);
}

TlsHandshakeMessage* TlsProtocol::dequeueIf(std::uint32_t type, LogBase& log) {
    if (peekMessageType() != static_cast<int>(type))
        return nullptr;
    switch (type) {
    case kTlsCertificate: log.logInfo("Dequeued Certificate message."); break;
    case kTlsFinished: log.logInfo("Dequeued Finished message."); break;
    case kTlsServerHello: log.logInfo("Dequeued ServerHello message."); break;
    case kTlsServerKeyExchange: log.logInfo("Dequeued ServerKeyExchange message."); break;
    case kTlsCertificateRequest: log.logInfo("Dequeued CertificateRequest message."); break;
    default: break;
    }
    return static_cast<TlsHandshakeMessage*>(m_queue.removeAt(0));
}

TlsHandshakeMessage* TlsProtocol::dequeueAny(LogBase& log) {
    if (m_queue.getCount() == 0)
        return nullptr;
    auto* message = static_cast<TlsHandshakeMessage*>(m_queue.removeAt(0));
    log.logData("DequeuedMessageType", tlsHandshakeName(message->messageType));
    return message;
}

void TlsProtocol::logQueue(LogBase& log) const {
    LogContext ctx(log, "HandshakeQueue");
    for (int i = 0; i < m_queue.getCount(); ++i)
        log.logData("MessageType",
                    tlsHandshakeName(static_cast<TlsHandshakeMessage*>(m_queue.elementAt(i))->messageType));
}

bool TlsProtocol::createClientHello(LogBase& log) {
    auto hello = std::make_unique<TlsClientHello>();
    hello->major = m_major;
    hello->minor = m_minor;
    if (testValue("clientRandom", hello->random, log) && hello->random.getSize() == kTlsRandomSize) {
        log.logInfo("Using test data for clientRandom.");
    } else {
        hello->random.clear();
        unsigned char now[kRandomTimeBytes];
        platform::StoreBe32(now, static_cast<std::uint32_t>(std::time(nullptr)));
        hello->random.append(now, sizeof now);
        if (!TessikRand::randomBytes(kTlsRandomSize - kRandomTimeBytes, hello->random))
            return false;
    }
    for (std::uint16_t suite : kTlsOfferedSuites) {
        unsigned char id[2];
        platform::StoreBe16(id, suite);
        hello->cipherSuites.append(id, sizeof id);
    }
    hello->compressionMethods.appendChar(0);
    m_clientHello = std::move(hello);
    return true;
}

bool TlsProtocol::testValue(const char* name, DataBuffer& out, LogBase&) {
    out.clear();
    if (!m_testData)
        return false;
    StringBuffer hex;
    if (!m_testData->getChildContentSb(name, hex) || hex.getSize() == 0)
        return false;
    return out.appendEncoded(hex.getString(), "hex") && out.getSize() != 0;
}

void TlsProtocol::checkTestValue(const char* name, const unsigned char* actual, std::uint32_t n, LogBase& log) {
    DataBuffer expected;
    if (!testValue(name, expected, log))
        return;
    log.logData("testData", name);
    log.logInfo(expected.equalsBytes(actual, n) ? "verifyTestDataSuccess" : "verifyTestDataFail");
}

} // namespace tessik
