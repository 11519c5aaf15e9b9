#include "netlib/pki/ClsNtlm.h"

#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/Md5.h"
#include "netlib/core/TessikRand.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/crypto/Md4.h"
#include "netlib/crypto/TessikDes.h"
#include "platform/ByteOrder.h"
#include "platform/CodePage.h"
#include "platform/Identity.h"
#include "platform/WinTime.h"

namespace tessik {

namespace ntlm {

namespace {

constexpr unsigned char kSignature[8] = {'N', 'T', 'L', 'M', 'S', 'S', 'P', 0};
constexpr unsigned int kSignatureCompared = 7;
constexpr std::uint32_t kTypeNegotiate = 1;
constexpr std::uint32_t kTypeChallenge = 2;
constexpr std::uint32_t kTypeAuthenticate = 3;
constexpr unsigned char kLmMagic[kDesBlockSize] = {'K', 'G', 'S', '!', '@', '#', '$', '%'};
constexpr unsigned int kCodePageUtf16Le = 1200;

// Fixed parts of the messages.
constexpr unsigned int kSecBufSize = 8;
constexpr unsigned int kVersionSize = 8;
constexpr unsigned char kNtlmRevision = 15;
constexpr unsigned int kType1FixedSize = 32;
constexpr unsigned int kType1DomainBuf = 16;
constexpr unsigned int kType1WorkstationBuf = 24;
constexpr unsigned int kType2TypeAt = 8;
constexpr unsigned int kType2TargetNameBuf = 12;
constexpr unsigned int kType2FlagsAt = 20;
constexpr unsigned int kType2ChallengeAt = 24;
constexpr unsigned int kType2TargetInfoBuf = 40;
constexpr unsigned int kType3FixedSize = 64;
constexpr unsigned int kType3LmBuf = 12;
constexpr unsigned int kType3NtBuf = 20;
constexpr unsigned int kType3DomainBuf = 28;
constexpr unsigned int kType3UserBuf = 36;
constexpr unsigned int kType3WorkstationBuf = 44;
constexpr unsigned int kType3FlagsAt = 60;
constexpr unsigned int kAvHeaderSize = 4;
constexpr unsigned int kMaxFieldSize = 0xFFFF;
// Offsets are 32-bit, but no peer takes a token anywhere near this.
constexpr unsigned int kMaxMessageSize = 0x100000;

// NTLMv2 blob: 01 01, six reserved zero bytes, then the timestamp.
constexpr unsigned char kBlobHeader[8] = {1, 1, 0, 0, 0, 0, 0, 0};
constexpr unsigned int kBlobReservedSize = 4;

void writeSecBuf(DataBuffer& message, unsigned int at, unsigned int length, unsigned int offset) {
    unsigned char* p = message.getData() + at;
    platform::StoreLe16(p, static_cast<std::uint16_t>(length));
    platform::StoreLe16(p + 2, static_cast<std::uint16_t>(length));
    platform::StoreLe32(p + 4, offset);
}

// Appends bytes as the payload of the security buffer at `at`; false when
// they, or the message with them, outgrow the buffer's 16-bit fields.
bool appendPayload(DataBuffer& message, unsigned int at, const DataBuffer& bytes, LogBase& log) {
    if (bytes.getSize() > kMaxFieldSize || message.getSize() + bytes.getSize() > kMaxMessageSize) {
        log.logError(kMsgFieldTooLong);
        return false;
    }
    writeSecBuf(message, at, bytes.getSize(), message.getSize());
    return message.appendDb(bytes);
}

void appendVersion(DataBuffer& message) {
    platform::OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    platform::GetVersionExA(&info);
    unsigned char v[kVersionSize] = {};
    v[0] = static_cast<unsigned char>(info.dwMajorVersion);
    v[1] = static_cast<unsigned char>(info.dwMinorVersion);
    platform::StoreLe16(v + 2, static_cast<std::uint16_t>(info.dwBuildNumber));
    v[kVersionSize - 1] = kNtlmRevision;
    message.append(v, kVersionSize);
}

// The bytes a security buffer of message points at; false when they lie
// outside the message.
bool readSecBuf(const DataBuffer& message, unsigned int at, DataBuffer& out) {
    const unsigned char* p = message.getData() + at;
    const std::uint32_t length = platform::LoadLe16(p);
    const std::uint32_t offset = platform::LoadLe32(p + 4);
    if (static_cast<std::uint64_t>(offset) + length > message.getSize())
        return false;
    out.append(message.getData() + offset, length);
    return true;
}

// The text of a name item: UTF-16LE up to its end or a NUL unit.
void utf16LeToX(const unsigned char* p, unsigned int n, XString& out) {
    DataBuffer units;
    for (unsigned int i = 0; i + 1 < n; i += 2) {
        std::uint16_t u = platform::LoadLe16(p + i);
        if (u == 0)
            break;
        units.append(&u, sizeof u);
    }
    out.setFromUtf16Chars(reinterpret_cast<const std::uint16_t*>(units.getData()), units.getSize() / 2);
}

void walkTargetInfo(const DataBuffer& info, Type2& out) {
    const unsigned char* p = info.getData();
    unsigned int remaining = info.getSize();
    while (remaining >= kAvHeaderSize) {
        const std::uint16_t id = platform::LoadLe16(p);
        const std::uint16_t length = platform::LoadLe16(p + 2);
        if (id == kAvEnd)
            break;
        p += kAvHeaderSize;
        remaining -= kAvHeaderSize;
        if (length > remaining)
            break;
        XString* target = nullptr;
        switch (id) {
        case kAvNbComputer: target = &out.nbComputer; break;
        case kAvNbDomain: target = &out.nbDomain; break;
        case kAvDnsComputer: target = &out.dnsComputer; break;
        case kAvDnsDomain: target = &out.dnsDomain; break;
        default: break;
        }
        if (target != nullptr)
            utf16LeToX(p, length, *target);
        p += length;
        remaining -= length;
    }
}

// The current UTC time as a FILETIME count.
std::uint64_t fileTimeNow() {
    platform::FILETIME now;
    platform::GetSystemTimeAsFileTime(&now);
    return static_cast<std::uint64_t>(platform::FileTimeToTicks(now));
}

void hmacMd5(const DataBuffer& key, const DataBuffer& data, DataBuffer& out) {
    unsigned char mac[kHashSize];
    Hmac().hmacMd5(key.getData(), static_cast<int>(key.getSize()), data.getData(), data.getSize(), mac);
    out.append(mac, kHashSize);
}

void utf16Le(XString& text, DataBuffer& out) {
    text.getConvertedToCodePage(static_cast<int>(kCodePageUtf16Le), false, out);
}

void logHex(LogBase& log, const char* tag, const DataBuffer& bytes) {
    StringBuffer hex;
    hex.appendHex(bytes.getData(), static_cast<int>(bytes.getSize()));
    log.logData(tag, hex.getString());
}

} // namespace

void Type2::clear() {
    flags = 0;
    targetName.clear();
    nbComputer.clear();
    nbDomain.clear();
    dnsComputer.clear();
    dnsDomain.clear();
    serverChallenge.clear();
    targetInfo.clear();
}

void ntlmDes7(const unsigned char key[kDesKeySize], const unsigned char block[kDesBlockSize],
              unsigned char out[kDesBlockSize]) {
    // Byte i takes key bits 7i .. 7i+6 in its upper seven bits; parity is
    // not set, DES ignores it.
    std::uint64_t bits = 0;
    for (unsigned int i = 0; i < kDesKeySize; ++i)
        bits = (bits << 8) | key[i];
    unsigned char spread[kDesBlockSize];
    for (unsigned int i = 0; i < kDesBlockSize; ++i) {
        const unsigned int shift = (kDesKeySize * 8) - 7 * (i + 1);
        spread[i] = static_cast<unsigned char>(((bits >> shift) & 0x7F) << 1);
    }
    std::uint32_t subkeys[TessikDes::kSetWords];
    TessikDes::desSetKey(spread, subkeys);
    TessikDes::cryptBlock(subkeys, block, out);
    std::memset(subkeys, 0, sizeof subkeys);
    std::memset(spread, 0, sizeof spread);
}

void ntlmDesl(const DataBuffer& key, const DataBuffer& challenge, DataBuffer& out) {
    out.clear();
    if (key.getSize() != kDeslKeySize || challenge.getSize() != kChallengeSize)
        return;
    unsigned char k[3 * kDesKeySize] = {};
    std::memcpy(k, key.getData(), kDeslKeySize);
    for (unsigned int i = 0; i < 3; ++i) {
        unsigned char block[kDesBlockSize];
        ntlmDes7(k + i * kDesKeySize, challenge.getData(), block);
        out.append(block, kDesBlockSize);
    }
    std::memset(k, 0, sizeof k);
}

void ntlmLmHash(XString& password, int oemCodePage, DataBuffer& out) {
    out.clear();
    XString upper;
    upper.copyFromX(password);
    upper.toUpperCase();
    DataBuffer oem;
    upper.getConvertedToCodePage(oemCodePage, false, oem);
    upper.secureClear();
    unsigned char padded[kLmPasswordSize] = {};
    std::memcpy(padded, oem.getData(), oem.getSize() < kLmPasswordSize ? oem.getSize() : kLmPasswordSize);
    oem.secureClear();
    unsigned char half[kDesBlockSize];
    ntlmDes7(padded, kLmMagic, half);
    out.append(half, kDesBlockSize);
    ntlmDes7(padded + kDesKeySize, kLmMagic, half);
    out.append(half, kDesBlockSize);
    std::memset(padded, 0, sizeof padded);
}

void ntlmNtHash(XString& password, DataBuffer& out) {
    out.clear();
    Md4().digestUtf16(password, out);
}

void ntlmV1Responses(std::uint32_t serverFlags, XString& password, int oemCodePage, const DataBuffer& serverChallenge,
                     const DataBuffer& clientChallenge, DataBuffer& lmResponse, DataBuffer& ntResponse) {
    lmResponse.clear();
    ntResponse.clear();
    DataBuffer ntHash;
    ntlmNtHash(password, ntHash);
    if (serverFlags & kFlagExtendedSessionSecurity) {
        DataBuffer both;
        both.appendDb(serverChallenge);
        both.appendDb(clientChallenge);
        unsigned char digest[kHashSize];
        Md5().digestBytes(both.getData(), both.getSize(), digest);
        DataBuffer sessionChallenge;
        sessionChallenge.append(digest, kChallengeSize);
        ntlmDesl(ntHash, sessionChallenge, ntResponse);
        lmResponse.appendDb(clientChallenge);
        lmResponse.appendCharRepeated(0, kDeslResponseSize - clientChallenge.getSize());
    } else {
        ntlmDesl(ntHash, serverChallenge, ntResponse);
        if (serverFlags & kFlagNtOnly) {
            lmResponse.appendDb(ntResponse);
        } else {
            DataBuffer lmHash;
            ntlmLmHash(password, oemCodePage, lmHash);
            ntlmDesl(lmHash, serverChallenge, lmResponse);
            lmHash.secureClear();
        }
    }
    ntHash.secureClear();
}

void ntlmNtowfV2(XString& password, XString& user, XString& domain, DataBuffer& out) {
    out.clear();
    DataBuffer ntHash;
    ntlmNtHash(password, ntHash);
    XString upperUser;
    upperUser.copyFromX(user);
    upperUser.toUpperCase();
    DataBuffer identity;
    utf16Le(upperUser, identity);
    DataBuffer domainBytes;
    utf16Le(domain, domainBytes);
    identity.appendDb(domainBytes);
    hmacMd5(ntHash, identity, out);
    ntHash.secureClear();
}

void ntlmV2Responses(const DataBuffer& key, const DataBuffer& serverChallenge, const DataBuffer& clientChallenge,
                     std::uint64_t timestamp, const DataBuffer& targetInfo, DataBuffer& lmResponse,
                     DataBuffer& ntResponse) {
    lmResponse.clear();
    ntResponse.clear();
    DataBuffer blob;
    blob.append(kBlobHeader, sizeof kBlobHeader);
    unsigned char stamp[8];
    platform::StoreLe64(stamp, timestamp);
    blob.append(stamp, sizeof stamp);
    blob.appendDb(clientChallenge);
    blob.appendCharRepeated(0, kBlobReservedSize);
    blob.appendDb(targetInfo);
    blob.appendCharRepeated(0, kBlobReservedSize);

    DataBuffer data;
    data.appendDb(serverChallenge);
    data.appendDb(blob);
    hmacMd5(key, data, ntResponse);
    ntResponse.appendDb(blob);

    data.clear();
    data.appendDb(serverChallenge);
    data.appendDb(clientChallenge);
    hmacMd5(key, data, lmResponse);
    lmResponse.appendDb(clientChallenge);
}

bool parseType2Bytes(const DataBuffer& message, Type2& out, LogBase& log) {
    out.clear();
    if (message.getSize() < kMinType2Size) {
        log.logError(kMsgType2TooShort);
        return false;
    }
    const unsigned char* p = message.getData();
    if (std::memcmp(p, kSignature, kSignatureCompared) != 0) {
        log.logError(kMsgType2Signature);
        return false;
    }
    if (platform::LoadLe32(p + kType2TypeAt) != kTypeChallenge) {
        log.logError(kMsgType2Type);
        return false;
    }
    DataBuffer name;
    if (!readSecBuf(message, kType2TargetNameBuf, name)) {
        log.logError(kMsgType2TargetName);
        return false;
    }
    out.targetName.appendDb(name);
    out.flags = platform::LoadLe32(p + kType2FlagsAt);
    out.serverChallenge.append(p + kType2ChallengeAt, kChallengeSize);
    if (!readSecBuf(message, kType2TargetInfoBuf, out.targetInfo)) {
        log.logError(kMsgType2TargetInfo);
        return false;
    }
    if (out.targetInfo.getSize() >= kAvHeaderSize)
        walkTargetInfo(out.targetInfo, out);
    return true;
}

} // namespace ntlm

using namespace ntlm;

ClsNtlm::ClsNtlm()
    : m_ntlmVersion(kVersion1), m_oemCodePage(static_cast<int>(platform::GetOEMCP())), m_flags(kDefaultFlags) {}

ClsNtlm::~ClsNtlm() {
    CritSecExitor lock(*this);
    m_password.secureClear();
}

void ClsNtlm::setClientChallenge(const DataBuffer& challenge) {
    m_clientChallenge.clear();
    m_clientChallenge.appendDb(challenge);
}

void ClsNtlm::appendText(XString& text, bool unicode, DataBuffer& out) {
    DataBuffer bytes;
    text.getConvertedToCodePage(unicode ? static_cast<int>(kCodePageUtf16Le) : m_oemCodePage, false, bytes);
    out.appendDb(bytes);
}

bool ClsNtlm::genType1(XString& out, LogBase& log) {
    DataBuffer message;
    if (!genType1Bytes(message, log))
        return false;
    encodeBytes(message, out, false);
    return true;
}

bool ClsNtlm::genType1Bytes(DataBuffer& message, LogBase& log) {
    message.clear();
    if (m_domain.getSizeUtf8() != 0)
        m_flags |= kFlagDomainSupplied;
    else
        m_flags &= ~kFlagDomainSupplied;
    if (m_workstation.getSizeUtf8() != 0)
        m_flags |= kFlagWorkstationSupplied;
    else
        m_flags &= ~kFlagWorkstationSupplied;
    log.logDataLong("t1_flags", static_cast<int>(m_flags));

    message.append(kSignature, sizeof kSignature);
    unsigned char word[4];
    platform::StoreLe32(word, kTypeNegotiate);
    message.append(word, sizeof word);
    platform::StoreLe32(word, m_flags);
    message.append(word, sizeof word);
    message.appendCharRepeated(0, 2 * kSecBufSize);
    if (m_flags & kFlagVersion)
        appendVersion(message);
    DataBuffer text;
    text.append(m_domain.getAnsi(), static_cast<unsigned int>(m_domain.getSizeAnsi()));
    if (text.getSize() != 0 && !appendPayload(message, kType1DomainBuf, text, log))
        return false;
    text.clear();
    text.append(m_workstation.getAnsi(), static_cast<unsigned int>(m_workstation.getSizeAnsi()));
    if (text.getSize() != 0 && !appendPayload(message, kType1WorkstationBuf, text, log))
        return false;
    static_assert(kType1WorkstationBuf + kSecBufSize == kType1FixedSize);
    return true;
}

bool ClsNtlm::parseType2Text(XString& type2, Type2& out, LogBase& log) {
    DataBuffer message;
    decodeToBytes(type2, message, false);
    return parseType2Bytes(message, out, log);
}

bool ClsNtlm::parseType2(XString& type2, std::uint32_t& flags, StringBuffer& targetName, XString& nbComputer,
                         XString& nbDomain, XString& dnsComputer, XString& dnsDomain, DataBuffer& serverChallenge,
                         DataBuffer& targetInfo, LogBase& log) {
    Type2 parsed;
    const bool ok = parseType2Text(type2, parsed, log);
    flags = parsed.flags;
    targetName.setSb(parsed.targetName);
    nbComputer.copyFromX(parsed.nbComputer);
    nbDomain.copyFromX(parsed.nbDomain);
    dnsComputer.copyFromX(parsed.dnsComputer);
    dnsDomain.copyFromX(parsed.dnsDomain);
    serverChallenge.clear();
    serverChallenge.appendDb(parsed.serverChallenge);
    targetInfo.clear();
    targetInfo.appendDb(parsed.targetInfo);
    return ok;
}

bool ClsNtlm::genType3(XString& type2, XString& out, LogBase& log) {
    DataBuffer challenge;
    decodeToBytes(type2, challenge, false);
    DataBuffer message;
    if (!genType3Bytes(challenge, message, log))
        return false;
    encodeBytes(message, out, false);
    return true;
}

bool ClsNtlm::genType3Bytes(const DataBuffer& type2, DataBuffer& message, LogBase& log) {
    message.clear();
    Type2 challenge;
    if (!parseType2Bytes(type2, challenge, log)) {
        log.logError(kMsgType3BadType2);
        return false;
    }
    log.logData("TargetName", challenge.targetName.getString());
    log.logData("nbComputer", challenge.nbComputer.getUtf8());
    log.logData("nbDomain", challenge.nbDomain.getUtf8());
    log.logData("dnsComputer", challenge.dnsComputer.getUtf8());
    log.logData("dnsDomain", challenge.dnsDomain.getUtf8());
    log.logDataLong("t2_flags", static_cast<int>(challenge.flags));

    const std::uint32_t flags = m_flags & challenge.flags;
    log.logDataLong("t3_flags", static_cast<int>(flags));
    message.append(kSignature, sizeof kSignature);
    unsigned char word[4];
    platform::StoreLe32(word, kTypeAuthenticate);
    message.append(word, sizeof word);
    // Six empty security buffers; the session key's stays empty.
    message.appendCharRepeated(0, 6 * kSecBufSize);
    platform::StoreLe32(word, flags);
    message.append(word, sizeof word);
    static_assert(kType3FlagsAt + 4 == kType3FixedSize);
    if (flags & kFlagVersion) {
        log.logInfo("Adding version structure to TYPE3 message.");
        appendVersion(message);
    }

    const bool unicode = (flags & kFlagUnicode) != 0;
    DataBuffer text;
    appendText(m_domain, unicode, text);
    if (!appendPayload(message, kType3DomainBuf, text, log))
        return false;
    text.clear();
    appendText(m_username, unicode, text);
    if (!appendPayload(message, kType3UserBuf, text, log))
        return false;
    text.clear();
    appendText(m_workstation, unicode, text);
    if (!appendPayload(message, kType3WorkstationBuf, text, log))
        return false;
    log.logData("domain", m_domain.getUtf8());
    log.logData("username", m_username.getUtf8());
    log.logData("workstation", m_workstation.getUtf8());

    DataBuffer clientChallenge;
    if (m_clientChallenge.getSize() == kChallengeSize) {
        log.logInfo("Using pre-set client challenge.");
        clientChallenge.appendDb(m_clientChallenge);
    } else {
        log.logInfo("Generating random client challenge.");
        if (!TessikRand::randomBytes(kChallengeSize, clientChallenge))
            return false;
    }
    logHex(log, "ClientChallenge", clientChallenge);
    log.logDataLong("NtlmVersion", m_ntlmVersion);

    DataBuffer lmResponse;
    DataBuffer ntResponse;
    if (m_ntlmVersion == kVersion1) {
        ntlmV1Responses(challenge.flags, m_password, m_oemCodePage, challenge.serverChallenge, clientChallenge,
                        lmResponse, ntResponse);
    } else {
        DataBuffer key;
        ntlmNtowfV2(m_password, m_username, m_domain, key);
        ntlmV2Responses(key, challenge.serverChallenge, clientChallenge, fileTimeNow(), challenge.targetInfo,
                        lmResponse, ntResponse);
        key.secureClear();
    }
    logHex(log, "LmResponse", lmResponse);
    logHex(log, "NtResponse", ntResponse);
    if (!appendPayload(message, kType3LmBuf, lmResponse, log) || !appendPayload(message, kType3NtBuf, ntResponse, log))
        return false;
    return true;
}

} // namespace tessik
