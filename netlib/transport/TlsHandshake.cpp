// The client handshake (RSA key exchange, full handshake every time), key
// derivation for TLS 1.0 and SSL 3.0, Finished and CertificateVerify.
#include <cstring>
#include <memory>

#include "netlib/core/TessikRand.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/Certificate.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/transport/TlsCertificates.h"
#include "netlib/transport/TlsDigest.h"
#include "netlib/transport/TlsEndpoint.h"
#include "netlib/transport/TlsProtocol.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr int kCallSiteServerHello = 50;
constexpr int kCallSiteServerFlight = 60;
constexpr int kCallSiteChangeCipherSpec = 70;
constexpr int kCallSiteFinished = 80;
constexpr std::uint32_t kMd5Size = 16;
constexpr std::uint32_t kSha1Size = 20;
constexpr std::uint32_t kHandshakeHashSize = kMd5Size + kSha1Size;
constexpr std::uint32_t kSsl3Md5Pad = 48;
constexpr std::uint32_t kSsl3Sha1Pad = 40;
constexpr std::uint32_t kSenderSize = 4;

// P_hash of RFC 2246 section 5, written over out.
void pHash(int hashId, const unsigned char* secret, std::uint32_t secretLength, const DataBuffer& seed,
           unsigned char* out, std::uint32_t outLength) {
    Hmac hmac;
    DataBuffer a, step, input;
    hmac.doHmac(seed.getData(), seed.getSize(), secret, static_cast<int>(secretLength), hashId, a);
    for (std::uint32_t done = 0; done < outLength;) {
        input.clear();
        input.appendDb(a);
        input.appendDb(seed);
        hmac.doHmac(input.getData(), input.getSize(), secret, static_cast<int>(secretLength), hashId, step);
        const std::uint32_t n = std::min(step.getSize(), outLength - done);
        std::memcpy(out + done, step.getData(), n);
        done += n;
        DataBuffer next;
        hmac.doHmac(a.getData(), a.getSize(), secret, static_cast<int>(secretLength), hashId, next);
        a.takeFrom(next);
    }
    a.secureClear();
    step.secureClear();
    input.secureClear();
}

} // namespace

bool tlsPrf(const unsigned char* secret, std::uint32_t secretLength, const char* label, const unsigned char* seed,
            std::uint32_t seedLength, unsigned char* out, std::uint32_t outLength) {
    const std::uint32_t labelLength = static_cast<std::uint32_t>(std::strlen(label));
    if (labelLength + seedLength > kTlsPrfMaxLabelSeed)
        return false;
    DataBuffer labelSeed;
    labelSeed.append(label, labelLength);
    labelSeed.append(seed, seedLength);
    const std::uint32_t half = (secretLength + 1) / 2;
    DataBuffer md5Part(outLength), sha1Part(outLength);
    md5Part.setSize(outLength);
    sha1Part.setSize(outLength);
    pHash(kHashMd5, secret, half, labelSeed, md5Part.getData(), outLength);
    pHash(kHashSha1, secret + secretLength - half, half, labelSeed, sha1Part.getData(), outLength);
    for (std::uint32_t i = 0; i < outLength; ++i)
        out[i] = md5Part.getData()[i] ^ sha1Part.getData()[i];
    md5Part.secureClear();
    sha1Part.secureClear();
    return true;
}

void ssl3Expand(const unsigned char* secret, std::uint32_t secretLength, const unsigned char* seed,
                std::uint32_t seedLength, unsigned char* out, std::uint32_t outLength) {
    unsigned char letters[kMd5Size];
    unsigned char inner[kSha1Size];
    unsigned char block[kMd5Size];
    for (std::uint32_t i = 1, done = 0; done < outLength; ++i) {
        std::memset(letters, 'A' + static_cast<int>(i) - 1, i);
        Sha1 sha;
        sha.initialize();
        sha.update(letters, i);
        sha.update(secret, secretLength);
        sha.update(seed, seedLength);
        sha.final(inner);
        Md5 md5;
        md5.update(secret, secretLength);
        md5.update(inner, sizeof inner);
        md5.final(block);
        const std::uint32_t n = std::min(kMd5Size, outLength - done);
        std::memcpy(out + done, block, n);
        done += n;
    }
    std::memset(inner, 0, sizeof inner);
    std::memset(block, 0, sizeof block);
}

void TlsProtocol::freeMessages() {
    m_serverHello.reset();
    m_serverHelloDone.reset();
    m_serverCerts.reset();
    m_certRequest.reset();
    m_serverKeyExchange.reset();
    m_serverFinished.reset();
    m_clientHello.reset();
    m_clientKeyExchange.reset();
    m_clientFinished.reset();
}

void TlsProtocol::wipeSecrets() {
    m_premasterSecret.secureClear();
    m_masterSecret.secureClear();
}

bool TlsProtocol::startClientHandshake(TlsEndpoint& endpoint, SocketReadParams& params, const ExtPtrArray* clientCerts,
                                       LogBase& log, bool verbose) {
    if (clientCerts == nullptr || clientCerts->getCount() == 0)
        m_clientCerts.removeAllObjects();
    else
        copyXCertArray(clientCerts, &m_clientCerts);
    m_lastAlertLevel = 0;
    m_lastAlertDescription = 0;
    if (clientHandshake(endpoint, params, log, verbose))
        return true;
    freeMessages();
    return false;
}

bool TlsProtocol::clientHandshake(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose) {
    m_handshakeComplete = false;
    // The read time-out bounds the handshake as a whole, not each read.
    m_handshakeDeadline = 0;
    m_handshakeDeadline = platform::GetTickCount64() + readTimeLeftMs(endpoint);
    const bool ok = runClientHandshake(endpoint, params, log, verbose);
    m_handshakeDeadline = 0;
    // What a failed step left held still goes out, as it would have unheld.
    if (m_corked)
        uncork(endpoint, params, log);
    m_premasterSecret.secureClear();
    return ok;
}

bool TlsProtocol::sendHandshakeMessage(const DataBuffer& message, TlsEndpoint& endpoint, SocketReadParams& params,
                                       LogBase& log) {
    m_hashMd5.update(message.getData(), message.getSize());
    m_hashSha1.update(message.getData(), message.getSize());
    return sendHandshakeData(message, endpoint, params, log);
}

bool TlsProtocol::takeServerFlight(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose) {
    for (;;) {
        while (m_queue.getCount() == 0) {
            if (processTlsRecord(kCallSiteServerFlight, endpoint, params, log, verbose) <= 0) {
                log.logError(tlsmsg::kReadFailed2);
                return false;
            }
        }
        switch (peekMessageType()) {
        case kTlsCertificate:
            if (m_serverCerts)
                log.logInfo("Server sent more than one Certificate message during handshake.");
            m_serverCerts.reset(static_cast<TlsCertificates*>(dequeueIf(kTlsCertificate, log)));
            break;
        case kTlsCertificateRequest:
            if (m_certRequest)
                log.logInfo("Server sent more than one ServerCertificateRequest message during handshake.");
            m_certRequest.reset(static_cast<TlsCertificateRequest*>(dequeueIf(kTlsCertificateRequest, log)));
            break;
        case kTlsServerHelloDone: m_serverHelloDone.reset(dequeueAny(log)); return true;
        default: return true;
        }
    }
}

bool TlsProtocol::runClientHandshake(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose) {
    // 1. A clean slate for this handshake.
    freeMessages();
    m_receivedHandshake.clear();
    m_closeNotifyReceived = false;
    m_ccsReceived = false;
    m_hashMd5.initialize();
    m_hashSha1.initialize();

    // 2. ClientHello.
    if (!createClientHello(log)) {
        log.logError(tlsmsg::kBuildClientHelloFailed);
        return false;
    }
    DataBuffer hello;
    m_clientHello->serialize(hello);
    if (!sendHandshakeMessage(hello, endpoint, params, log)) {
        log.logError(tlsmsg::kSendClientHelloFailed);
        return false;
    }

    // 3. ServerHello.
    if (processTlsRecord(kCallSiteServerHello, endpoint, params, log, verbose) <= 0) {
        log.logError(tlsmsg::kReadFailed1);
        return false;
    }
    logQueue(log);
    m_serverHello.reset(static_cast<TlsServerHello*>(dequeueIf(kTlsServerHello, log)));
    if (!m_serverHello) {
        log.logError(tlsmsg::kExpectedServerHello);
        return false;
    }
    // Its version, suite and compression were checked against the offer as it arrived.
    m_major = m_serverHello->major;
    m_minor = m_serverHello->minor;

    // 4. The rest of the server's flight.
    if (!takeServerFlight(endpoint, params, log, verbose))
        return false;
    if (!m_serverHelloDone) {
        log.logError("Expected ServerHelloDone, but did not receive it.");
        return false;
    }

    // 5. Everything received so far goes into the handshake hashes, in order.
    log.logInfo("OK to ServerHelloDone!");
    m_hashMd5.update(m_receivedHandshake.getData(), m_receivedHandshake.getSize());
    m_hashSha1.update(m_receivedHandshake.getData(), m_receivedHandshake.getSize());
    m_receivedHandshake.clear();

    // 6. The client's certificates, when asked for. The flight up to the
    // Finished leaves in one write.
    cork();
    const bool sendVerify = m_certRequest && m_clientCerts.getCount() > 0;
    if (!m_certRequest) {
        log.logInfo("No client certificate required by the server.");
    } else if (sendVerify) {
        log.logInfo("Sending client-side certificate(s)...");
        if (!sendClientCertificates(endpoint, params, log)) {
            log.logError(tlsmsg::kSendClientCertFailed);
            return false;
        }
    } else {
        log.logInfo("Sending 0-length certificate (this is normal).");
        DataBuffer empty;
        buildCertificatesMessage(ExtPtrArray(), empty);
        if (!sendHandshakeMessage(empty, endpoint, params, log)) {
            log.logError("Failed to send 0-length certificate.");
            return false;
        }
    }

    // 7. ClientKeyExchange.
    if (!buildClientKeyExchange(log)) {
        log.logError(tlsmsg::kBuildClientKeyExchangeFailed);
        return false;
    }
    log.logInfo("Sending ClientKeyExchange...");
    DataBuffer keyExchange;
    m_clientKeyExchange->serialize(m_minor, keyExchange);
    if (!sendHandshakeMessage(keyExchange, endpoint, params, log)) {
        log.logError("Failed to send ClientKeyExchange");
        return false;
    }
    log.logInfo("Sent ClientKeyExchange message.");

    // 8. CertificateVerify.
    if (sendVerify) {
        log.logInfo("Sending CertificateVerify...");
        DataBuffer privateKey;
        static_cast<XCert*>(m_clientCerts.elementAt(0))->getPrivateKeyDer(privateKey);
        if (privateKey.getSize() == 0)
            log.logError(tlsmsg::kNoPrivateKeyForVerify);
        const bool sent = sendCertificateVerify(privateKey, endpoint, params, log);
        privateKey.secureClear();
        if (!sent) {
            log.logError(tlsmsg::kSendCertVerifyFailed);
            return false;
        }
    }

    // 9. ChangeCipherSpec.
    log.logInfo("Sending ChangeCipherSpec...");
    if (!sendChangeCipherSpec(endpoint, params, log)) {
        log.logError("Failed to send ChangeCipherSpec");
        return false;
    }
    log.logInfo("Sent ChangeCipherSpec message.");

    // 10. Keys; the write side takes them at once.
    if (!deriveKeys(true, log)) {
        log.logError(tlsmsg::kDerivedKeysFailed);
        return false;
    }
    log.logInfo("Derived keys.");
    installPendingWrite();
    log.logInfo("Installed new outgoing security params.");

    // 11. The client's Finished, hashed after its verify data is computed.
    auto finished = std::make_unique<TlsFinished>();
    if (!computeFinished(true, finished->verifyData, &finished->verifyDataLength, log)) {
        log.logError("Failed to build client Finished message");
        return false;
    }
    log.logInfo("Sending FINISHED message..");
    DataBuffer finishedBytes;
    finished->serialize(finishedBytes);
    m_clientFinished = std::move(finished);
    if (!sendHandshakeMessage(finishedBytes, endpoint, params, log) || !uncork(endpoint, params, log)) {
        log.logError("Failed to send client Finished message.");
        return false;
    }
    log.logInfo("Sent FINISHED message..");

    // 12. The server's ChangeCipherSpec; the read side takes the keys.
    if (m_ccsReceived) {
        log.logError(tlsmsg::kEarlyCcs);
        return false;
    }
    if (processTlsRecord(kCallSiteChangeCipherSpec, endpoint, params, log, verbose) <= 0) {
        log.logError(tlsmsg::kReadFailed3);
        return false;
    }
    if (!m_ccsReceived) {
        log.logError(tlsmsg::kNoCcs);
        return false;
    }
    installPendingRead();

    // 13. The server's Finished.
    if (m_queue.getCount() == 0 && processTlsRecord(kCallSiteFinished, endpoint, params, log, verbose) <= 0) {
        log.logError(tlsmsg::kReadFailed4);
        return false;
    }
    if (peekMessageType() != static_cast<int>(kTlsFinished)) {
        log.logError(tlsmsg::kExpectedFinished);
        log.logDataLong("handshakeMessageType", peekMessageType());
        return false;
    }
    log.logInfo("Dequeue the FINISHED message...");
    m_serverFinished.reset(static_cast<TlsFinished*>(dequeueIf(kTlsFinished, log)));
    if (!m_serverFinished) {
        log.logError(tlsmsg::kBadFinished);
        return false;
    }

    // 14. Its verify data covers everything up to the client's Finished.
    unsigned char expected[kSsl3VerifyDataSize];
    std::uint32_t expectedLength = 0;
    if (!computeFinished(false, expected, &expectedLength, log)) {
        log.logError("Failed to calculate expected FINISHED verify data.");
        return false;
    }
    if (expectedLength != m_serverFinished->verifyDataLength ||
        std::memcmp(expected, m_serverFinished->verifyData, expectedLength) != 0) {
        log.logError(tlsmsg::kInvalidVerifyData);
        return false;
    }

    // 15.
    log.logInfo("Handshake completed successfully.");
    m_appReads = 0;
    m_handshakeComplete = true;
    return true;
}

bool TlsProtocol::sendClientCertificates(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log) {
    DataBuffer message;
    {
        LogContext ctx(log, "CertificatesMessage");
        log.logDataLong("numCerts", m_clientCerts.getCount());
        ExtPtrArray ders;
        ders.setOwnsObjects(true);
        for (int i = 0; i < m_clientCerts.getCount(); ++i) {
            auto* entry = static_cast<XCert*>(m_clientCerts.elementAt(i));
            LogContext certCtx(log, "certificate");
            TessikX509* x509 = entry->getX509();
            if (x509 == nullptr) {
                log.logError("Failed to get cert X.509");
                return false;
            }
            XString subject, serial;
            x509->getSubjectCN(subject, log);
            x509->getSerialNumber(serial, log);
            log.logData("SubjectCN", subject.getUtf8());
            log.logData("SerialNumber", serial.getUtf8());
            auto* der = new DataBuffer();
            entry->getCertDer(*der);
            log.logDataLong("CertificateSize", static_cast<int>(der->getSize()));
            ders.appendPtr(der);
        }
        buildCertificatesMessage(ders, message);
    }
    return sendHandshakeMessage(message, endpoint, params, log);
}

bool TlsProtocol::buildClientKeyExchange(LogBase& log) {
    if (!m_serverHello || !m_clientHello) {
        log.logError("Cannot build ClientKeyExchange, missing hello objects.");
        return false;
    }
    if (!m_serverCerts) {
        log.logError(tlsmsg::kMissingServerCert);
        return false;
    }
    m_premasterSecret.secureClear();
    if (!testValue("premasterSecret", m_premasterSecret, log) || m_premasterSecret.getSize() != kTlsSecretSize) {
        m_premasterSecret.secureClear();
        m_premasterSecret.appendChar(static_cast<unsigned char>(m_clientHello->major));
        m_premasterSecret.appendChar(static_cast<unsigned char>(m_clientHello->minor));
        if (!TessikRand::randomBytes(kTlsSecretSize - 2, m_premasterSecret))
            return false;
    }
    if (m_serverCerts->count() == 0) {
        log.logError(tlsmsg::kCertNotAvailable);
        return false;
    }
    DataBuffer keyDer;
    switch (tlsCertificatePublicKey(m_serverCerts->leaf.get(), keyDer, log)) {
    case TlsKeyResult::kNoCertificate:
        log.logError(tlsmsg::kServerCertLoadFailed);
        log.logDataLong("numServerCertsReceived", m_serverCerts->count());
        return false;
    case TlsKeyResult::kNoPublicKey: log.logError(tlsmsg::kNoPublicKey); return false;
    case TlsKeyResult::kOk: break;
    }
    RsaKey key;
    if (!rsaPublicKeyFromAsn1(keyDer, key, log)) {
        log.logError(tlsmsg::kBadRsaKey);
        return false;
    }
    auto exchange = std::make_unique<TlsClientKeyExchange>();
    if (!rsaEncryptPadded(m_premasterSecret.getData(), m_premasterSecret.getSize(), nullptr, 0, kHashSha1,
                          kRsaPaddingV15, key, kRsaPublic, exchange->exchangeKeys, false, log)) {
        log.logError(tlsmsg::kRsaEncryptFailed);
        return false;
    }
    m_clientKeyExchange = std::move(exchange);
    log.logInfo("Encrypted pre-master secret with server certificate RSA public key is OK.");
    return true;
}

bool TlsProtocol::computeMasterSecret(LogBase& log) {
    if (m_premasterSecret.getSize() != kTlsSecretSize)
        return m_masterSecret.getSize() == kTlsSecretSize;
    DataBuffer serverRandom;
    if (!m_clientHello || !m_serverHello)
        return false;
    if (!testValue("serverRandom", serverRandom, log))
        serverRandom.appendDb(m_serverHello->random);
    DataBuffer seed;
    seed.appendDb(m_clientHello->random);
    seed.appendDb(serverRandom);
    m_masterSecret.secureClear();
    m_masterSecret.appendCharRepeated(0, kTlsSecretSize);
    if (m_minor == kSsl30Minor)
        ssl3Expand(m_premasterSecret.getData(), kTlsSecretSize, seed.getData(), seed.getSize(),
                   m_masterSecret.getData(), kTlsSecretSize);
    else
        tlsPrf(m_premasterSecret.getData(), kTlsSecretSize, "master secret", seed.getData(), seed.getSize(),
               m_masterSecret.getData(), kTlsSecretSize);
    m_premasterSecret.secureClear();
    return true;
}

bool TlsProtocol::deriveKeys(bool asClient, LogBase& log) {
    if (!m_serverHello) {
        log.logError("Cannot derive keys without ServerHello.");
        return false;
    }
    if (!m_clientHello || m_clientHello->random.getSize() != kTlsRandomSize) {
        log.logError("No ClientHello when deriving keys.");
        return false;
    }
    DataBuffer serverRandom;
    if (!testValue("serverRandom", serverRandom, log))
        serverRandom.appendDb(m_serverHello->random);
    if (serverRandom.getSize() != kTlsRandomSize) {
        log.logError("Server random is not 32 bytes.");
        log.logDataLong("serverRandomSize", static_cast<int>(serverRandom.getSize()));
        log.logError("Failed to get server random data.");
        return false;
    }
    if (!computeMasterSecret(log)) {
        log.logError(tlsmsg::kMasterNotReady);
        return false;
    }
    const TlsSuiteInfo* suite = tlsSuiteInfo(m_serverHello->cipherSuite);
    if (suite == nullptr) {
        log.logError(tlsmsg::kUnsupportedSuite);
        return false;
    }
    DataBuffer seed;
    seed.appendDb(serverRandom);
    seed.appendDb(m_clientHello->random);
    unsigned char block[kTlsKeyBlockSize];
    if (m_minor == kSsl30Minor)
        ssl3Expand(m_masterSecret.getData(), kTlsSecretSize, seed.getData(), seed.getSize(), block, sizeof block);
    else
        tlsPrf(m_masterSecret.getData(), kTlsSecretSize, "key expansion", seed.getData(), seed.getSize(), block,
               sizeof block);
    const std::uint32_t macSize = suite->macSize();
    const unsigned char* clientMac = block;
    const unsigned char* serverMac = clientMac + macSize;
    const unsigned char* clientKey = serverMac + macSize;
    const unsigned char* serverKey = clientKey + suite->keySize;
    const unsigned char* clientIv = serverKey + suite->keySize;
    const unsigned char* serverIv = clientIv + suite->ivSize;
    checkTestValue("key1", clientKey, suite->keySize, log);
    checkTestValue("key2", serverKey, suite->keySize, log);
    checkTestValue("mac_enc", clientMac, macSize, log);
    checkTestValue("mac_dec", serverMac, macSize, log);
    m_pendingWrite = std::make_unique<TlsSecurityParams>();
    m_pendingRead = std::make_unique<TlsSecurityParams>();
    configureTlsParams(*m_pendingWrite, *suite, asClient ? clientMac : serverMac, asClient ? clientKey : serverKey,
                       asClient ? clientIv : serverIv);
    configureTlsParams(*m_pendingRead, *suite, asClient ? serverMac : clientMac, asClient ? serverKey : clientKey,
                       asClient ? serverIv : clientIv);
    std::memset(block, 0, sizeof block);
    return true;
}

namespace {

// One half of SSL 3.0's handshake hash: hash(master + pad2 + hash(messages
// + sender + master + pad1)) on a copy of the running hash.
template <class Hash>
void ssl3HandshakeHalf(const Hash& running, int hashId, std::uint32_t padSize, const char* sender,
                       const unsigned char* master, unsigned char* out) {
    unsigned char pad[kSsl3Md5Pad];
    unsigned char inner[kSha1Size];
    std::memset(pad, TlsDigest::kPad1, sizeof pad);
    Hash hash;
    hash.copyState(running);
    if (sender != nullptr)
        hash.update(sender, kSenderSize);
    hash.update(master, kTlsSecretSize);
    hash.update(pad, padSize);
    hash.final(inner);
    ssl3OuterHash(hashId, master, kTlsSecretSize, inner, out);
}

} // namespace

bool TlsProtocol::ssl3HandshakeHash(const char* sender, unsigned char* out) {
    const unsigned char* master = m_masterSecret.getData();
    ssl3HandshakeHalf(m_hashMd5, kHashMd5, kSsl3Md5Pad, sender, master, out);
    ssl3HandshakeHalf(m_hashSha1, kHashSha1, kSsl3Sha1Pad, sender, master, out + kMd5Size);
    return true;
}

void TlsProtocol::runningHashes(unsigned char* out) const {
    Md5 md5;
    md5.copyState(m_hashMd5);
    md5.final(out);
    Sha1 sha;
    sha.copyState(m_hashSha1);
    sha.final(out + kMd5Size);
}

bool TlsProtocol::computeFinished(bool clientSide, unsigned char* out, std::uint32_t* outLength, LogBase& log) {
    if (m_masterSecret.getSize() != kTlsSecretSize) {
        log.logError(tlsmsg::kMasterNotReady);
        return false;
    }
    if (m_minor == kSsl30Minor) {
        *outLength = kSsl3VerifyDataSize;
        return ssl3HandshakeHash(clientSide ? "CLNT" : "SRVR", out);
    }
    unsigned char hashes[kHandshakeHashSize];
    runningHashes(hashes);
    if (clientSide) {
        checkTestValue("handshakeMd5Hash1", hashes, kMd5Size, log);
        checkTestValue("handshakeSha1Hash1", hashes + kMd5Size, kSha1Size, log);
    }
    *outLength = kTlsVerifyDataSize;
    return tlsPrf(m_masterSecret.getData(), kTlsSecretSize, clientSide ? "client finished" : "server finished", hashes,
                  sizeof hashes, out, kTlsVerifyDataSize);
}

bool TlsProtocol::sendCertificateVerify(const DataBuffer& privateKeyDer, TlsEndpoint& endpoint,
                                        SocketReadParams& params, LogBase& log) {
    if (privateKeyDer.getSize() == 0) {
        log.logError(tlsmsg::kNoPrivateKey);
        return false;
    }
    if (!m_serverHello) {
        log.logError("No ServerHello available for sending ClientCertVerify");
        return false;
    }
    unsigned char hashes[kHandshakeHashSize];
    if (m_minor == kSsl30Minor) {
        // SSL 3.0 keys this hash with the master secret, so it is made now
        // rather than with the other keys after the ChangeCipherSpec.
        if (!computeMasterSecret(log)) {
            log.logError(tlsmsg::kMasterNotReady);
            return false;
        }
        ssl3HandshakeHash(nullptr, hashes);
    } else {
        runningHashes(hashes);
    }
    RsaKey key;
    if (!rsaPrivateKeyFromAsn1(privateKeyDer, key, log)) {
        log.logError(tlsmsg::kInvalidRsaPrivateKey);
        return false;
    }
    TlsCertificateVerify verify;
    if (!SignSslSig(hashes, sizeof hashes, key, verify.signature, log)) {
        log.logError("Failed to RSA sign.");
        return false;
    }
    log.logDataLong("signatureSize", static_cast<int>(verify.signature.getSize()));
    DataBuffer message;
    verify.serialize(message);
    return sendHandshakeMessage(message, endpoint, params, log);
}

} // namespace tessik
