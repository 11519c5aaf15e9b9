#pragma once
// The SSL 3.0 / TLS 1.0 client: the record layer (framing, protection,
// change-cipher-spec, alerts, application data), the handshake message
// queue, the client handshake with RSA key exchange, and key derivation.
// Records can be fed as bytes (receiveRecordBytes) or read from an endpoint;
// both roads go through the same framer and dispatch.
#include <cstdint>
#include <functional>
#include <memory>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Md5.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/transport/TessikSocket.h"
#include "netlib/transport/TlsMessages.h"
#include "netlib/transport/TlsRecord.h"

namespace tessik {

class TlsEndpoint;

namespace tlsmsg {
constexpr const char* kHandshakeFailed = "Client handshake failed.";
constexpr const char* kBuildClientHelloFailed = "Failed to build ClientHello";
constexpr const char* kSendClientHelloFailed = "Failed to send ClientHello";
constexpr const char* kReadFailed1 = "Failed to read incoming handshake messages. (1)";
constexpr const char* kReadFailed2 = "Failed to read incoming handshake messages. (2)";
constexpr const char* kReadFailed3 = "Failed to read incoming handshake messages. (3)";
constexpr const char* kReadFailed4 = "Failed to read incoming handshake messages. (4)";
constexpr const char* kExpectedServerHello = "Expected ServerHello but did not receive it.";
constexpr const char* kVersionNotOffered = "ServerHello names a protocol version the client did not offer.";
constexpr const char* kSuiteNotOffered = "ServerHello names a cipher suite the client did not offer.";
constexpr const char* kUnexpectedServerKeyExchange =
    "A ServerKeyExchange where the key exchange is RSA, which has none.";
constexpr const char* kCompressionNotOffered = "ServerHello names a compression method the client did not offer.";
constexpr const char* kUnsupportedSuite = "Unsupported cipher suite.";
constexpr const char* kDerivedKeysFailed = "Failed to derive keys.";
constexpr const char* kNoCcs = "Did not receive the expected ChangeCipherSpec.";
constexpr const char* kEarlyCcs = "Should not have received the ChangeCipherSpec yet...";
constexpr const char* kExpectedFinished = "Expected FINISHED message from server, but received something else.";
constexpr const char* kBadFinished = "Bad FINISHED message from server.";
constexpr const char* kInvalidVerifyData = "Verify data in Server FINISHED message is invalid.";
constexpr const char* kMissingServerCert = "Cannot build ClientKeyExchange, missing server certificate.";
constexpr const char* kCertNotAvailable = "Certificate not available in TlsCertificates object.";
constexpr const char* kServerCertLoadFailed = "Failed to get server certificate at index 0.";
constexpr const char* kNoPublicKey = "Failed to get public key from certificate.";
constexpr const char* kBadRsaKey = "Failed to parse RSA DER key.";
constexpr const char* kRsaEncryptFailed = "Failed to encrypt with server certificate's public key.";
constexpr const char* kBuildClientKeyExchangeFailed = "Failed to build ClientKeyExchange";
constexpr const char* kNoPrivateKey = "No private key was provided for the client certificate.";
constexpr const char* kNoPrivateKeyForVerify =
    "Failed to get certificate's private key for sending the CertificateVerify";
constexpr const char* kInvalidRsaPrivateKey = "Invalid RSA DER private key.";
constexpr const char* kSendCertVerifyFailed = "Failed to send client certificate verify message.";
constexpr const char* kSendClientCertFailed = "Failed to send client certificate.";
constexpr const char* kMasterNotReady = "Master secret is not ready.";
} // namespace tlsmsg

// The parser calls onHandshakeMessage for every message before parsing it.
class TlsProtocolCb {
public:
    virtual ~TlsProtocolCb();
    virtual void onHandshakeMessage(std::uint32_t type, const unsigned char* body, std::uint32_t n);
};

// TLS 1.0's PRF (RFC 2246 section 5). False, with nothing written, when
// label and seed together exceed 108 bytes.
bool tlsPrf(const unsigned char* secret, std::uint32_t secretLength, const char* label, const unsigned char* seed,
            std::uint32_t seedLength, unsigned char* out, std::uint32_t outLength);

// SSL 3.0's expansion (RFC 6101 section 6.1 and 6.2.2): outLength bytes of
// MD5(secret + SHA-1(letters + secret + seed)) for the letters A, BB, CCC...
void ssl3Expand(const unsigned char* secret, std::uint32_t secretLength, const unsigned char* seed,
                std::uint32_t seedLength, unsigned char* out, std::uint32_t outLength);

class TlsProtocol : public TlsProtocolCb {
public:
    TlsProtocol();
    ~TlsProtocol() override;
    TlsProtocol(const TlsProtocol&) = delete;
    TlsProtocol& operator=(const TlsProtocol&) = delete;

    // Version offered and written into records until a ServerHello names one.
    void setVersion(std::uint32_t major, std::uint32_t minor);
    std::uint32_t getMajor() const { return m_major; }
    std::uint32_t getMinor() const { return m_minor; }

    // Frees the handshake, wipes both secrets, drops all four parameter sets
    // (fresh clear-text ones when asked), the queue and the copies of client
    // certificates; version 3.1 again. The last alert goes too, unless kept
    // to tell why a handshake ended.
    void reset(bool createFreshParams, bool keepLastAlert = false);

    // Handshake. clientCerts: XCert entries (certificate and private key),
    // copied; null or empty for none.
    bool startClientHandshake(TlsEndpoint& endpoint, SocketReadParams& params, const ExtPtrArray* clientCerts,
                              LogBase& log, bool verbose);
    bool clientHandshake(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose);
    bool handshakeComplete() const { return m_handshakeComplete; }
    // Judges the server's certificates again after a handshake the server
    // asked for while data was read; false fails that read, and nothing the
    // new keys brought is handed on. The first handshake's certificates are
    // the caller's to judge.
    void setRenegotiationCheck(std::function<bool(LogBase&)> check) { m_renegotiationCheck = std::move(check); }

    // Record layer.
    bool sendApplicationData(const unsigned char* data, std::uint32_t n, TlsEndpoint& endpoint,
                             SocketReadParams& params, LogBase& log, bool verbose);
    bool sendHandshakeData(const DataBuffer& messages, TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    bool sendChangeCipherSpec(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    // The close_notify warning.
    bool SendAlert(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    bool sendRecord(const unsigned char* content, std::uint32_t n, std::uint32_t contentType, TlsEndpoint& endpoint,
                    SocketReadParams& params, LogBase& log);
    // Messages handled; 0 on a time-out or abort, -1 on any other failure.
    int processTlsRecord(int callSite, TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose);
    bool readTlsRecord(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose, TlsRawRecord& out);
    // Appends at least one byte of application data, or fails.
    bool readApplicationData(TlsEndpoint& endpoint, SocketReadParams& params, DataBuffer& out, LogBase& log,
                             bool verbose);

    // Feeds received bytes through the framer, the protection and the
    // dispatch: messages handled, or -1. Application data goes to the held
    // buffer. Records need not be whole.
    int receiveRecordBytes(const unsigned char* data, std::uint32_t n, LogBase& log, bool verbose);
    // Unprotects and dispatches one record read whole.
    int handleRecord(TlsRawRecord& record, LogBase& log, bool verbose);
    // The fatal alert owed to the peer after its input broke a length or
    // protection rule; -1 when none.
    int pendingAlert() const { return m_pendingAlert; }
    const DataBuffer& heldApplicationData() const { return m_heldAppData; }

    // Handshake records to queued messages: the number of complete messages,
    // or -1.
    int processHandshakeRecord(const unsigned char* data, std::uint32_t n, bool fromSsl2, LogBase& log);
    int peekMessageType() const;
    int queuedMessages() const { return m_queue.getCount(); }
    TlsHandshakeMessage* dequeueIf(std::uint32_t type, LogBase& log);
    TlsHandshakeMessage* dequeueAny(LogBase& log);
    void logQueue(LogBase& log) const;

    // Builders of the client's messages.
    bool createClientHello(LogBase& log);
    const TlsClientHello* clientHello() const { return m_clientHello.get(); }
    bool buildClientKeyExchange(LogBase& log);
    // Key derivation for the given side, from the pre-master secret.
    bool deriveKeys(bool asClient, LogBase& log);
    // The verify data of the client's or the server's Finished.
    bool computeFinished(bool clientSide, unsigned char* out, std::uint32_t* outLength, LogBase& log);

    // State read by the channel and by tests. The last alert is the last one
    // received, or the fatal one this side sent, whichever came last.
    bool closeNotifyReceived() const { return m_closeNotifyReceived; }
    std::uint32_t lastAlertLevel() const { return m_lastAlertLevel; }
    std::uint32_t lastAlertDescription() const { return m_lastAlertDescription; }
    int numServerCerts() const;
    bool getServerCertDer(int index, DataBuffer& out) const;
    // The server's own certificate as read from its Certificate message.
    std::shared_ptr<Certificate> serverCertificate() const;
    const DataBuffer& masterSecret() const { return m_masterSecret; }
    const TlsServerHello* serverHello() const { return m_serverHello.get(); }
    std::uint64_t applicationReads() const { return m_appReads; }
    std::uint64_t writeSequence() const { return m_writeSeq; }
    std::uint64_t readSequence() const { return m_readSeq; }
    TlsSecurityParams* writeParams() { return m_writeParams.get(); }
    TlsSecurityParams* readParams() { return m_readParams.get(); }

    // Named hex values ("clientRandom", "premasterSecret" ...) that replace
    // or check the handshake's own; never set in normal operation.
    void setTestData(std::unique_ptr<ClsXml> table) { m_testData = std::move(table); }

private:
    // Record layer.
    int processRecord(TlsRawRecord& record, LogBase& log, bool verbose);
    int processAlert(const DataBuffer& fragment, LogBase& log, bool verbose);
    int processHandshakeMessage(std::uint32_t type, const unsigned char* body, std::uint32_t n, LogBase& log);
    // Whether the ServerHello chose from what this side's ClientHello offered.
    bool serverHelloOffered(const TlsServerHello& hello, LogBase& log) const;
    // Milliseconds the running handshake has left (the read time-out when
    // no handshake runs); 0 once its time is up.
    unsigned int readTimeLeftMs(TlsEndpoint& endpoint) const;
    void noteBadInput(std::uint32_t description);
    void sendPendingAlert(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    bool sendFatalAlert(std::uint32_t description, TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    void installPendingWrite();
    void installPendingRead();
    // Records sent while corked are held and go out in one write at the
    // uncork: the client's second flight is several small records, and
    // written one by one they wait on the peer's delayed acknowledgements.
    void cork();
    bool uncork(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);

    // Handshake.
    bool runClientHandshake(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose);
    bool takeServerFlight(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose);
    bool sendHandshakeMessage(const DataBuffer& message, TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    bool sendClientCertificates(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log);
    bool sendCertificateVerify(const DataBuffer& privateKeyDer, TlsEndpoint& endpoint, SocketReadParams& params,
                               LogBase& log);
    bool computeMasterSecret(LogBase& log);
    bool ssl3HandshakeHash(const char* sender, unsigned char* out);
    // MD5 then SHA-1 of the handshake so far, the running hashes going on.
    void runningHashes(unsigned char* out) const;
    void freeMessages();
    void wipeSecrets();
    bool testValue(const char* name, DataBuffer& out, LogBase& log);
    void checkTestValue(const char* name, const unsigned char* actual, std::uint32_t n, LogBase& log);

    // Record layer.
    std::uint32_t m_major;
    std::uint32_t m_minor;
    bool m_closeNotifyReceived;
    std::uint32_t m_lastAlertLevel;
    std::uint32_t m_lastAlertDescription;
    std::unique_ptr<TlsSecurityParams> m_readParams;
    std::unique_ptr<TlsSecurityParams> m_writeParams;
    std::unique_ptr<TlsSecurityParams> m_pendingRead;
    std::unique_ptr<TlsSecurityParams> m_pendingWrite;
    std::uint64_t m_writeSeq;
    std::uint64_t m_readSeq;
    TlsRecordFramer m_framer;
    DataBuffer m_handshakeCarry;
    DataBuffer m_receivedHandshake;
    ExtPtrArray m_queue;
    DataBuffer m_heldAppData;
    std::uint32_t m_heldOffset;
    DataBuffer* m_appOut;
    bool m_ccsReceived;
    unsigned char m_ccsByte;
    std::uint64_t m_appReads;
    int m_pendingAlert;
    // Set by a received fatal alert until the next reset.
    bool m_peerFatal;
    bool m_corked;
    DataBuffer m_corkedRecords;
    unsigned int m_emptyRecords;
    // Tick count by which the running handshake must end; 0 when none runs.
    std::uint64_t m_handshakeDeadline;

    // Handshake.
    Md5 m_hashMd5;
    Sha1 m_hashSha1;
    DataBuffer m_premasterSecret;
    DataBuffer m_masterSecret;
    std::unique_ptr<TlsServerHello> m_serverHello;
    std::unique_ptr<TlsHandshakeMessage> m_serverHelloDone;
    std::unique_ptr<TlsCertificates> m_serverCerts;
    std::unique_ptr<TlsCertificateRequest> m_certRequest;
    std::unique_ptr<TlsHandshakeMessage> m_serverKeyExchange;
    std::unique_ptr<TlsFinished> m_serverFinished;
    std::unique_ptr<TlsClientHello> m_clientHello;
    std::unique_ptr<TlsClientKeyExchange> m_clientKeyExchange;
    std::unique_ptr<TlsFinished> m_clientFinished;
    ExtPtrArray m_clientCerts;
    std::unique_ptr<ClsXml> m_testData;
    bool m_handshakeComplete;
    std::function<bool(LogBase&)> m_renegotiationCheck;
};

} // namespace tessik
