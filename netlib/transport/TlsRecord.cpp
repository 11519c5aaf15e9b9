// Record framing, the SSL 2.0 ClientHello rewrite, MACs and fragment protection.
#include "netlib/transport/TlsRecord.h"

#include <algorithm>
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/transport/TlsDigest.h"
#include "netlib/transport/TlsMessages.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kSequenceSize = 8;
constexpr unsigned int kMaxMacSize = 20;
// Sequence, type, major, minor, length.
constexpr unsigned int kTlsMacHeader = kSequenceSize + 3 + 2;
constexpr unsigned int kLoggedDecryptedBytes = 32;

// SSL 2.0 ClientHello: two-byte record header, then message type and version.
constexpr unsigned int kSsl2HeaderSize = 2;
constexpr unsigned int kSsl2ListLengths = 6;
constexpr std::uint32_t kSsl2CipherSpecSize = 3;
constexpr std::uint32_t kSsl2MinCipherList = 3;
constexpr std::uint32_t kSsl2MaxCipherList = 192;
constexpr std::uint32_t kSsl2MinChallenge = 8;
constexpr std::uint32_t kSsl2MaxChallenge = 32;
constexpr unsigned char kSsl2ClientHello = 1;

bool equalInConstantTime(const unsigned char* a, const unsigned char* b, std::uint32_t n) {
    unsigned char diff = 0;
    for (std::uint32_t i = 0; i < n; ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

bool isOfferedSuite(std::uint16_t suite) {
    return std::find(std::begin(kTlsOfferedSuites), std::end(kTlsOfferedSuites), suite) != std::end(kTlsOfferedSuites);
}

// The record layer pads and unpads itself: the cipher sees whole blocks
// only (so this scheme adds nothing), and a decryption must hand back every
// block of a record at once.
constexpr PaddingScheme kPaddingNone = kPadZeros;
constexpr int kBitsPerByte = 8;

constexpr TlsSuiteInfo kSuites[] = {
    {kTlsRsaAes256Sha, "aes", 32, 16, kTlsMacSha1}, {kTlsRsaAes128Sha, "aes", 16, 16, kTlsMacSha1},
    {kTlsRsa3desSha, "3des", 24, 8, kTlsMacSha1},   {kTlsRsaRc4Sha, "rc4", 16, 0, kTlsMacSha1},
    {kTlsRsaRc4Md5, "rc4", 16, 0, kTlsMacMd5},
};

} // namespace

std::uint32_t TlsSuiteInfo::macSize() const {
    return mac == kTlsMacMd5 ? kMd5DigestSize : kSha1DigestSize;
}

const TlsSuiteInfo* tlsSuiteInfo(std::uint16_t suite) {
    for (const TlsSuiteInfo& s : kSuites)
        if (s.suite == suite)
            return &s;
    return nullptr;
}

void configureTlsParams(TlsSecurityParams& params, const TlsSuiteInfo& suite, const unsigned char* macSecret,
                        const unsigned char* key, const unsigned char* iv) {
    params.macAlgorithm = suite.mac;
    params.macSecret.secureClear();
    params.macSecret.append(macSecret, suite.macSize());
    params.cipher = std::make_unique<ClsCrypt>();
    ClsCrypt& c = *params.cipher;
    c.setCryptAlgorithm(suite.cipher);
    c.setKeyLength(static_cast<int>(suite.keySize) * kBitsPerByte);
    c.setSecretKeyBytes(key, suite.keySize);
    c.setCipherMode(kCipherModeCbc);
    c.setPaddingScheme(kPaddingNone);
    if (suite.ivSize != 0)
        c.setIVBytes(iv, suite.ivSize);
    c.setFirstChunk(true);
    c.setLastChunk(false);
    params.blockCipher = suite.ivSize != 0;
    params.blockSize = suite.ivSize;
    params.encrypting = true;
}

TlsRawRecord::~TlsRawRecord() = default;

TlsSecurityParams::~TlsSecurityParams() {
    macSecret.secureClear();
}

unsigned int TlsSecurityParams::macLength() const {
    switch (macAlgorithm) {
    case kTlsMacSha1: return kSha1DigestSize;
    case kTlsMacMd5: return kMd5DigestSize;
    default: return 0;
    }
}

void tlsRecordMac(const TlsSecurityParams& params, std::uint64_t sequence, std::uint32_t type, std::uint32_t major,
                  std::uint32_t minor, const unsigned char* content, std::uint32_t n, unsigned char* mac) {
    unsigned char header[kTlsMacHeader];
    platform::StoreBe64(header, sequence);
    const unsigned char* secret = params.macSecret.getData();
    const std::uint32_t secretLength = params.macSecret.getSize();
    if (minor == kSsl30Minor) {
        // SSL 3.0: no version bytes, and the pad construction instead of HMAC.
        header[kSequenceSize] = static_cast<unsigned char>(type);
        platform::StoreBe16(header + kSequenceSize + 1, static_cast<std::uint16_t>(n));
        TlsDigest inner(params.macAlgorithm);
        inner.update(secret, secretLength);
        inner.updatePad(TlsDigest::kPad1);
        inner.update(header, kSequenceSize + 3);
        inner.update(content, n);
        unsigned char innerDigest[kMaxMacSize];
        inner.final(innerDigest);
        ssl3OuterHash(params.macAlgorithm, secret, secretLength, innerDigest, mac);
        return;
    }
    header[kSequenceSize] = static_cast<unsigned char>(type);
    header[kSequenceSize + 1] = static_cast<unsigned char>(major);
    header[kSequenceSize + 2] = static_cast<unsigned char>(minor);
    platform::StoreBe16(header + kSequenceSize + 3, static_cast<std::uint16_t>(n));
    DataBuffer input;
    input.ensureCapacity(kTlsMacHeader + n);
    input.append(header, kTlsMacHeader);
    input.append(content, n);
    DataBuffer out;
    Hmac().doHmac(input.getData(), input.getSize(), secret, static_cast<int>(secretLength), params.macAlgorithm, out);
    std::memcpy(mac, out.getData(), params.macLength());
}

bool tlsProtect(TlsSecurityParams& params, std::uint64_t sequence, std::uint32_t type, std::uint32_t major,
                std::uint32_t minor, const unsigned char* content, std::uint32_t n, DataBuffer& out, LogBase& log) {
    out.clear();
    if (!params.encrypting && params.macAlgorithm == kTlsMacNone)
        return n == 0 || out.append(content, n);
    DataBuffer plain;
    plain.ensureCapacity(n + kMaxMacSize + params.blockSize + 1);
    plain.append(content, n);
    if (params.macAlgorithm != kTlsMacNone) {
        unsigned char mac[kMaxMacSize];
        tlsRecordMac(params, sequence, type, major, minor, content, n, mac);
        plain.append(mac, params.macLength());
    }
    if (!params.encrypting) {
        out.takeFrom(plain);
        return true;
    }
    if (params.blockSize > 0) {
        std::uint32_t pad = params.blockSize - (plain.getSize() + 1) % params.blockSize;
        if (pad == params.blockSize)
            pad = 0;
        plain.appendCharRepeated(static_cast<unsigned char>(pad), pad + 1);
    }
    const bool ok = params.cipher && params.cipher->encryptBytesToDb(plain, out, nullptr, log, false);
    plain.secureClear();
    if (params.cipher)
        params.cipher->setFirstChunk(false);
    return ok;
}

bool tlsUnprotect(TlsSecurityParams& params, std::uint64_t sequence, TlsRawRecord& record, LogBase& log, bool verbose) {
    DataBuffer& fragment = record.fragment;
    const bool tls = record.minor != kSsl30Minor;
    if (params.encrypting) {
        if (verbose)
            log.logInfo("Decrypting incoming message...");
        if (params.blockCipher && params.blockSize > 0 &&
            (fragment.getSize() == 0 || fragment.getSize() % params.blockSize != 0)) {
            // A partial block cannot be decrypted; under TLS it counts as a bad MAC.
            log.logError(tls ? tlsmsg::kInvalidMac : tlsmsg::kDecryptFailed);
            return false;
        }
        DataBuffer plain;
        const bool ok = params.cipher && params.cipher->decryptBytesToDb(fragment, plain, log);
        if (params.cipher)
            params.cipher->setFirstChunk(false);
        if (!ok) {
            log.logError(tlsmsg::kDecryptFailed);
            return false;
        }
        // The ciphertext crossed the wire in the open: nothing to wipe.
        fragment.takeFrom(plain);
        if (params.blockCipher) {
            const std::uint32_t size = fragment.getSize();
            const std::uint32_t padding = fragment.getLastByte();
            bool good = padding + 1 + params.macLength() <= size;
            if (good && tls) {
                const unsigned char* pad = fragment.getData() + size - padding - 1;
                for (std::uint32_t i = 0; i < padding; ++i)
                    good &= pad[i] == padding;
            }
            if (!good) {
                log.logError(tlsmsg::kInvalidMac);
                return false;
            }
            fragment.shorten(padding + 1);
            if (verbose) {
                log.logDataLong("paddingLen", static_cast<int>(padding));
                log.logDataHex("decryptedMsg", fragment.getData(),
                               std::min<std::uint32_t>(fragment.getSize(), kLoggedDecryptedBytes));
            }
        }
    }
    if (params.macAlgorithm != kTlsMacNone) {
        const std::uint32_t macLength = params.macLength();
        if (verbose)
            log.logDataLong("macLen", static_cast<int>(macLength));
        if (fragment.getSize() < macLength) {
            log.logError(tlsmsg::kShorterThanMac);
            return false;
        }
        const std::uint32_t n = fragment.getSize() - macLength;
        unsigned char mac[kMaxMacSize];
        tlsRecordMac(params, sequence, record.contentType, record.major, record.minor, fragment.getData(), n, mac);
        if (!equalInConstantTime(mac, fragment.getData() + n, macLength)) {
            log.logError(tlsmsg::kInvalidMac);
            return false;
        }
        fragment.shorten(macLength);
    }
    return true;
}

TlsRecordFramer::~TlsRecordFramer() = default;

void TlsRecordFramer::reset() {
    m_headerFill = 0;
    m_haveHeader = false;
    m_ssl2 = false;
    m_bodyLength = 0;
    m_body.clear();
}

std::uint32_t TlsRecordFramer::bytesWanted() const {
    return m_haveHeader ? m_bodyLength - m_body.getSize() : kTlsRecordHeaderSize - m_headerFill;
}

bool TlsRecordFramer::takeHeader(LogBase& log, bool verbose) {
    const unsigned char* h = m_header;
    m_failureAlert = kTlsAlertDecodeError;
    if ((h[0] & 0x80) != 0 && h[2] == kSsl2ClientHello) {
        const std::uint32_t recLen = (static_cast<std::uint32_t>(h[0] & 0x7F) << 8) | h[1];
        log.logInfo("Received SSL 2.0 ClientHello.");
        log.logDataLong("recLen", static_cast<int>(recLen));
        log.logInfo("2-byte record header...");
        // Message type and version are already in the header bytes.
        if (recLen < kTlsRecordHeaderSize - kSsl2HeaderSize + kSsl2ListLengths) {
            log.logError(tlsmsg::kBadSsl2Header);
            return false;
        }
        m_ssl2 = true;
        m_bodyLength = recLen - (kTlsRecordHeaderSize - kSsl2HeaderSize);
    } else {
        m_bodyLength = platform::LoadBe16(h + 3);
        if (verbose) {
            log.logInfo("Received SSL 3.0 or TLS record...");
            log.logDataLong("m_contentType", h[0]);
            log.logDataLong("m_majorVersion", h[1]);
            log.logDataLong("m_minorVersion", h[2]);
            log.logDataLong("msgLen", static_cast<int>(m_bodyLength));
        }
        // SSL 3.0 and every TLS are 3.x; python's ssl refuses the rest too.
        if (h[1] != kTlsMajor) {
            m_failureAlert = kTlsAlertProtocolVersion;
            log.logError(tlsmsg::kRecordVersion);
            log.logDataLong("majorVersion", h[1]);
            log.logDataLong("minorVersion", h[2]);
            return false;
        }
        if (m_bodyLength > kTlsMaxProtectedFragment) {
            m_failureAlert = kTlsAlertRecordOverflow;
            log.logError(tlsmsg::kRecordTooLong);
            log.logDataLong("msgLen", static_cast<int>(m_bodyLength));
            return false;
        }
    }
    m_haveHeader = true;
    return true;
}

TlsRecordFramer::Result TlsRecordFramer::feed(const unsigned char* data, std::uint32_t n, std::uint32_t* used,
                                              TlsRawRecord& out, LogBase& log, bool verbose) {
    std::uint32_t taken = 0;
    if (!m_haveHeader) {
        const std::uint32_t k = std::min(n, kTlsRecordHeaderSize - m_headerFill);
        std::memcpy(m_header + m_headerFill, data, k);
        m_headerFill += k;
        taken += k;
        if (m_headerFill < kTlsRecordHeaderSize) {
            *used = taken;
            return kNeedMore;
        }
        if (!takeHeader(log, verbose)) {
            *used = taken;
            return kBad;
        }
    }
    const std::uint32_t k = std::min(n - taken, m_bodyLength - m_body.getSize());
    if (k > 0)
        m_body.append(data + taken, k);
    taken += k;
    *used = taken;
    if (m_body.getSize() < m_bodyLength)
        return kNeedMore;
    out.fragment.clear();
    out.fromSsl2 = false;
    if (m_ssl2) {
        if (!finishSsl2(out, log))
            return kBad;
    } else {
        out.contentType = m_header[0];
        out.major = m_header[1];
        out.minor = m_header[2];
        out.fragment.takeFrom(m_body);
    }
    reset();
    return kRecordReady;
}

bool TlsRecordFramer::finishSsl2(TlsRawRecord& out, LogBase& log) {
    const unsigned char* b = m_body.getData();
    const std::uint32_t cipherListLength = platform::LoadBe16(b);
    const std::uint32_t sessionIdLength = platform::LoadBe16(b + 2);
    const std::uint32_t challengeLength = platform::LoadBe16(b + 4);
    log.logDataLong("cipherListLen", static_cast<int>(cipherListLength));
    log.logDataLong("sessionIdLen", static_cast<int>(sessionIdLength));
    log.logDataLong("challengeLen", static_cast<int>(challengeLength));
    if (cipherListLength < kSsl2MinCipherList || cipherListLength > kSsl2MaxCipherList ||
        cipherListLength % kSsl2CipherSpecSize != 0) {
        log.logError(tlsmsg::kInvalidCipherList);
        return false;
    }
    if (sessionIdLength > kTlsMaxSessionId) {
        log.logError(tlsmsg::kInvalidSessionIdLength);
        return false;
    }
    if (challengeLength < kSsl2MinChallenge || challengeLength > kSsl2MaxChallenge) {
        log.logError(tlsmsg::kInvalidChallengeLength);
        return false;
    }
    if (kSsl2ListLengths + cipherListLength + sessionIdLength + challengeLength > m_body.getSize()) {
        log.logError(tlsmsg::kBadSsl2Header);
        return false;
    }
    const unsigned char* specs = b + kSsl2ListLengths;
    const unsigned char* sessionId = specs + cipherListLength;
    const unsigned char* challenge = sessionId + sessionIdLength;
    TlsClientHello hello;
    hello.major = m_header[3];
    hello.minor = m_header[4];
    for (std::uint32_t i = 0; i < cipherListLength; i += kSsl2CipherSpecSize) {
        const unsigned char* spec = specs + i;
        if (spec[0] == 0 && spec[1] == 0 && isOfferedSuite(spec[2])) {
            log.logDataLong("cipherKind", spec[2]);
            hello.cipherSuites.appendChar(0);
            hello.cipherSuites.appendChar(spec[2]);
        }
    }
    hello.sessionId.append(sessionId, sessionIdLength);
    // The challenge is the random, right-aligned and zero-filled on the left.
    hello.random.appendCharRepeated(0, kTlsRandomSize - challengeLength);
    hello.random.append(challenge, challengeLength);
    hello.compressionMethods.appendChar(0);
    out.contentType = kTlsHandshake;
    out.major = hello.major;
    out.minor = hello.minor;
    hello.serialize(out.fragment);
    out.fromSsl2 = true;
    log.logDataHex("fullRecord", out.fragment.getData(), out.fragment.getSize());
    return true;
}

} // namespace tessik
