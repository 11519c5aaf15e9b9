#pragma once
// SSL 3.0 / TLS 1.0 records: the framer that cuts a byte stream into
// records (an SSL 2.0 ClientHello included), the security parameters of one
// direction, and the protection of a fragment (MAC, CBC padding, cipher).
// None of it touches a socket.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/transport/TlsConstants.h"

namespace tessik {

class LogBase;

class TlsRawRecord {
public:
    TlsRawRecord() = default;
    virtual ~TlsRawRecord();
    TlsRawRecord(const TlsRawRecord&) = delete;
    TlsRawRecord& operator=(const TlsRawRecord&) = delete;

    std::uint32_t contentType = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    DataBuffer fragment;
    // Rewritten from an SSL 2.0 ClientHello.
    bool fromSsl2 = false;
};

// One direction's protection. A fresh object passes records in clear.
class TlsSecurityParams {
public:
    TlsSecurityParams() = default;
    virtual ~TlsSecurityParams(); // wipes the MAC secret
    TlsSecurityParams(const TlsSecurityParams&) = delete;
    TlsSecurityParams& operator=(const TlsSecurityParams&) = delete;

    // 20 for SHA-1, 16 for MD5, 0 without a MAC.
    unsigned int macLength() const;

    int macAlgorithm = kTlsMacNone;
    bool encrypting = false;
    bool blockCipher = false;
    std::unique_ptr<ClsCrypt> cipher;
    DataBuffer macSecret;
    unsigned int blockSize = 0; // 0 for a stream cipher
};

// Keys and MAC of one of the five suites.
struct TlsSuiteInfo {
    std::uint16_t suite;
    const char* cipher; // the crypt component's algorithm name
    std::uint32_t keySize;
    std::uint32_t ivSize; // also the block size; 0 for RC4
    int mac;
    std::uint32_t macSize() const;
};
// Null for a suite outside the five.
const TlsSuiteInfo* tlsSuiteInfo(std::uint16_t suite);

// Fills params for one direction of a suite: MAC secret, key and IV (none
// for RC4), CBC, the cipher chain running on from record to record.
// The cipher neither pads nor unpads: the record layer does both, so
// records are whole blocks and a decryption returns every block at once.
void configureTlsParams(TlsSecurityParams& params, const TlsSuiteInfo& suite, const unsigned char* macSecret,
                        const unsigned char* key, const unsigned char* iv);

// The record MAC: HMAC over sequence, type, version, length and content
// under TLS (minor above 0), the SSL 3.0 construction under minor 0.
// Writes macLength() bytes to mac.
void tlsRecordMac(const TlsSecurityParams& params, std::uint64_t sequence, std::uint32_t type, std::uint32_t major,
                  std::uint32_t minor, const unsigned char* content, std::uint32_t n, unsigned char* mac);

// Content + MAC + padding, encrypted; out is replaced.
bool tlsProtect(TlsSecurityParams& params, std::uint64_t sequence, std::uint32_t type, std::uint32_t major,
                std::uint32_t minor, const unsigned char* content, std::uint32_t n, DataBuffer& out, LogBase& log);

// Decrypts, removes padding and checks the MAC of the record's fragment in
// place, leaving its content. Under TLS a fragment that is not whole blocks,
// or whose padding bytes differ from the padding length, fails as a bad MAC
// does; SSL 3.0 does not compare the padding bytes.
bool tlsUnprotect(TlsSecurityParams& params, std::uint64_t sequence, TlsRawRecord& record, LogBase& log, bool verbose);

// Cuts records out of whatever bytes arrive. bytesWanted() never reaches
// past the record being read, so a caller reading exact counts takes no
// byte of the next record.
class TlsRecordFramer {
public:
    enum Result { kNeedMore, kRecordReady, kBad };

    TlsRecordFramer() = default;
    virtual ~TlsRecordFramer();
    TlsRecordFramer(const TlsRecordFramer&) = delete;
    TlsRecordFramer& operator=(const TlsRecordFramer&) = delete;

    std::uint32_t bytesWanted() const;
    bool readingHeader() const { return !m_haveHeader; }
    bool readingSsl2() const { return m_ssl2; }
    // Body bytes of the current record so far, and its announced length.
    std::uint32_t bodyReceived() const { return m_body.getSize(); }
    std::uint32_t bodyLength() const { return m_bodyLength; }
    // The alert owed to the peer after kBad.
    std::uint32_t failureAlert() const { return m_failureAlert; }
    // Takes at most bytesWanted() bytes (*used says how many). On
    // kRecordReady the record is in out; on kBad the error is logged and the
    // framer must be reset before further use.
    Result feed(const unsigned char* data, std::uint32_t n, std::uint32_t* used, TlsRawRecord& out, LogBase& log,
                bool verbose);
    void reset();

private:
    bool takeHeader(LogBase& log, bool verbose);
    bool finishSsl2(TlsRawRecord& out, LogBase& log);

    unsigned char m_header[kTlsRecordHeaderSize] = {};
    std::uint32_t m_headerFill = 0;
    bool m_haveHeader = false;
    bool m_ssl2 = false;
    std::uint32_t m_bodyLength = 0;
    DataBuffer m_body;
    std::uint32_t m_failureAlert = kTlsAlertDecodeError;
};

} // namespace tessik
