#include "netlib/crypto/ClsCrypt.h"

#include <algorithm>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/CipherNames.h"
#include "netlib/crypto/CipherOids.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "platform/CodePage.h"

namespace tessik {

namespace {
constexpr unsigned int kLoggedInputBytes = 256;
}

ClsCrypt::ClsCrypt()
    : m_verboseLog(false), m_algorithmName("aes"), m_keyLength(kDefaultCryptKeyLength),
      m_rc2EffectiveKeyLength(kDefaultCryptKeyLength), m_algorithmId(kCipherAes), m_hashAlgorithmId(kHashSha1),
      m_cipherMode(kCipherModeCbc), m_decryptByteSwap(false), m_firstChunk(true), m_lastChunk(true),
      m_chunkInProgress(false), m_pkcs7ContentEncAlgId(kCipherRc2), m_iterationCount(kDefaultPbesIterations),
      m_ivSet(false), m_paddingScheme(kPadPkcs5), m_rc4Drop(false) {
    m_encryptCerts.setOwnsObjects(true);
    m_pbesAlgorithm.setFromUtf8("des");
    setNameFromAlgorithmId();
    m_charset.setByCodePage(static_cast<int>(platform::GetACP()));
}

ClsCrypt::~ClsCrypt() {
    m_privateKey.secureClear();
    m_iv.secureClear();
}

void ClsCrypt::setCryptAlgorithm(const char* name) {
    CritSecExitor lock(*this);
    m_algorithmName.setString(name ? name : "");
    m_algorithmName.removeChar('-');
    m_algorithmName.trimWhitespace();
    m_algorithmName.toLowerCase();
    m_algorithmId = parseCipherAlgorithmName(name);
}

void ClsCrypt::setHashAlgorithm(const char* name) {
    CritSecExitor lock(*this);
    m_hashAlgorithmId = parseHashAlgorithmName(name);
}

void ClsCrypt::getHashAlgorithmName(XString& out) const {
    StringBuffer sb;
    hashIdToName(m_hashAlgorithmId, sb);
    out.setFromUtf8(sb.getString());
}

void ClsCrypt::setSecretKey(const DataBuffer& key) {
    setSecretKeyBytes(key.getData(), key.getSize());
}

void ClsCrypt::setSecretKeyBytes(const void* key, unsigned int n) {
    CritSecExitor lock(*this);
    m_secretKey.clear();
    if (key && n)
        m_secretKey.append(key, n);
}

void ClsCrypt::setIV(const DataBuffer& iv) {
    CritSecExitor lock(*this);
    m_iv.clear();
    if (iv.getSize())
        m_iv.append(iv.getData(), std::min<unsigned int>(kMaxIvSize, iv.getSize()));
    m_ivSet = true;
}

void ClsCrypt::setIVBytes(const void* iv, unsigned int n) {
    CritSecExitor lock(*this);
    m_iv.secureClear();
    if (iv && n)
        m_iv.append(iv, std::min<unsigned int>(kMaxIvSize, n));
    m_ivSet = true;
}

void ClsCrypt::getIV(DataBuffer& out) const {
    out.clear();
    if (m_ivSet && m_iv.getSize())
        out.append(m_iv.getData(), std::min<unsigned int>(kMaxIvSize, m_iv.getSize()));
}

void ClsCrypt::SetHmacKeyBytes(const DataBuffer& key) {
    CritSecExitor lock(*this);
    enterMethod("SetHmacKeyBytes");
    m_hmacKey.clear();
    m_hmacKey.appendDb(key);
    m_log.leaveContext();
}

int ClsCrypt::getBlockSize() const {
    return cipherBlockSize(m_algorithmId);
}

void ClsCrypt::setNameFromAlgorithmId() {
    switch (m_algorithmId) {
    case kCipherAes: m_displayName.setString("rijndael"); break;
    case kCipherBlowfish: m_displayName.setString("blowfish"); break;
    case kCipherBlowfish2: m_displayName.setString("blowfish2"); break;
    case kCipherTwofish: m_displayName.setString("twofish"); break;
    case kCipherPbes1: m_displayName.setString("pbes1"); break;
    case kCipherPbes2: m_displayName.setString("pbes2"); break;
    default:
        m_algorithmId = kCipherPki;
        m_displayName.setString("pki");
        break;
    }
}

bool ClsCrypt::setFromContentEncAlgId(const char* oid, int keyLengthBits, const DataBuffer& iv, LogBase& log) {
    struct Choice {
        const char* oid;
        const char* name;
        int keyLength; // 0: the identifier's own
        bool rc2;
        bool takesIv;
    };
    // Single DES is keyed with 8 bytes whatever the identifier says.
    static const Choice kChoices[] = {
        {alg_oid::kRc2Cbc, "rc2", 0, true, true},        {alg_oid::kAes128Cbc, "aes", 128, false, true},
        {alg_oid::kAes192Cbc, "aes", 192, false, true},  {alg_oid::kAes256Cbc, "aes", 256, false, true},
        {alg_oid::kDesEde3Cbc, "des", 192, false, true}, {alg_oid::kDesCbc, "des", 64, false, true},
        {alg_oid::kRc4, "arc4", 0, false, false},
    };
    const StringBuffer text(oid ? oid : "");
    for (const Choice& c : kChoices) {
        if (!text.equals(c.oid))
            continue;
        setCipherMode(kCipherModeCbc);
        setCryptAlgorithm(c.name);
        setKeyLength(c.keyLength ? c.keyLength : keyLengthBits);
        if (c.rc2)
            setRc2EffectiveKeyLength(keyLengthBits);
        if (c.takesIv)
            setIV(iv);
        return true;
    }
    log.logError("Unrecognized OID for symmetric encryption algorithm.");
    log.logData("oid", text.getString());
    return false;
}

void ClsCrypt::logEncryptionParams(const DataBuffer& input, LogBase& log) {
    log.enterContext("EncryptionParams", true);
    log.logData("algorithm", m_algorithmName.getString());
    log.logDataLong("keyLength", m_keyLength);
    log.logDataLong("paddingScheme", m_paddingScheme);
    log.logData("cipherMode", m_cipherMode == kCipherModeCbc ? "cbc" : m_cipherMode == kCipherModeCfb ? "cfb" : "ecb");
    XString modeName;
    getEncodingModeName(modeName);
    log.logData("encodingMode", modeName.getUtf8());
    DataBuffer key;
    {
        CritSecExitor lock(*this);
        log.logData("charset", m_charset.getName());
        key.appendDb(m_secretKey);
    }
    log.logDataHex("secretKey", key.getData(), key.getSize());
    key.secureClear();
    DataBuffer iv;
    getIV(iv);
    log.logDataHex("iv", iv.getData(), iv.getSize());
    log.logDataLong("inDataNumBytes", static_cast<int>(input.getSize()));
    if (input.getSize())
        log.logDataHex("inData", input.getData(), std::min(kLoggedInputBytes, input.getSize()));
    log.leaveContext();
}

} // namespace tessik
