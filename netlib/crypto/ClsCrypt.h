#pragma once
// The crypt component: every setting of one symmetric, password-based or
// public-key encryption, and the state of a chunked run. The operations on
// these settings live with the encryption and decryption code.
#include <cstdint>
#include <memory>

#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsEncode.h"
#include "netlib/crypto/CryptoAlg.h"
#include "netlib/crypto/CryptoPtr.h"
#include "netlib/text/TsCharset.h"

namespace tessik {

class DataSource;
class LogBase;
class Output;

class ClsCrypt;

constexpr int kMaxIvSize = 16;

namespace crypt_msg {
constexpr const char* kNoPublicKey = "Public-key encryption is not installed in this build.";
} // namespace crypt_msg

// Public-key (PKCS#7) encryption and decryption work on certificates, which
// live in the layer above; it installs them here. Until then id 1 fails
// with kNoPublicKey.
struct CryptPublicKeyHooks {
    DataBuffer* (*encrypt)(ClsCrypt& crypt, DataBuffer& input, void* context, LogBase& log);
    DataBuffer* (*decrypt)(ClsCrypt& crypt, const DataBuffer& input, LogBase& log);
};
void installCryptPublicKeyHooks(const CryptPublicKeyHooks* hooks);
constexpr int kDefaultCryptKeyLength = 128;
constexpr int kDefaultPbesIterations = 1024;

class ClsCrypt : public ClsEncode, public TessikCritSec, public ClsBase {
public:
    ClsCrypt();
    ~ClsCrypt() override;

    // '-' removed, trimmed and lower-cased; the id through the name parser.
    void setCryptAlgorithm(const char* name);
    void setAlgorithmId(int id) { m_algorithmId = id; }
    int getAlgorithmId() const { return m_algorithmId; }
    const StringBuffer& getAlgorithmName() const { return m_algorithmName; }
    void setKeyLength(int bits) { m_keyLength = bits; }
    int getKeyLength() const { return m_keyLength; }
    void setRc2EffectiveKeyLength(int bits) { m_rc2EffectiveKeyLength = bits; }
    int getRc2EffectiveKeyLength() const { return m_rc2EffectiveKeyLength; }
    void setHashAlgorithm(const char* name);
    int getHashAlgorithmId() const { return m_hashAlgorithmId; }
    void getHashAlgorithmName(XString& out) const;
    void setCipherMode(int mode) { m_cipherMode = mode; }
    int getCipherMode() const { return m_cipherMode; }
    void setPaddingScheme(int scheme) { m_paddingScheme = scheme; }
    int getPaddingScheme() const { return m_paddingScheme; }
    // Chunked runs: the calls of a run, however split, give what one whole
    // buffer gives. A partial block waits for the next call; a decryption
    // under padding scheme 0 or 1 also keeps its last block back for the
    // last call, which takes the padding off. Record layers, whose records
    // must come back whole, run with a scheme that removes nothing.
    void setFirstChunk(bool on) { m_firstChunk = on; }
    bool getFirstChunk() const { return m_firstChunk; }
    void setLastChunk(bool on) { m_lastChunk = on; }
    bool getLastChunk() const { return m_lastChunk; }
    // RC4 drops the first 1536 keystream bytes after keying (arcfour128/256).
    void setRc4Drop(bool on) { m_rc4Drop = on; }
    bool getRc4Drop() const { return m_rc4Drop; }

    void setSecretKey(const DataBuffer& key);
    void setSecretKeyBytes(const void* key, unsigned int n);
    // At most the first 16 bytes are kept; the IV counts as set from then on.
    void setIV(const DataBuffer& iv);
    void setIVBytes(const void* iv, unsigned int n);
    // Empty unless an IV was set.
    void getIV(DataBuffer& out) const;
    // Public method: the key of HmacBytes.
    void SetHmacKeyBytes(const DataBuffer& key);

    int getBlockSize() const;
    // Unknown ids become public-key encryption.
    void setNameFromAlgorithmId();
    const StringBuffer& getDisplayName() const { return m_displayName; }
    const _tsCharset& getCharset() const { return m_charset; }

    void logEncryptionParams(const DataBuffer& input, LogBase& log);

    // Cipher, mode, key length and IV from a PKCS#7 content-encryption
    // algorithm (its OID, key length in bits and IV); false for an unknown OID,
    // with the settings unchanged.
    bool setFromContentEncAlgId(const char* oid, int keyLengthBits, const DataBuffer& iv, LogBase& log);

    // Settings of the password-based algorithms (PBES1 and PBES2).
    void setPassword(const char* utf8) { m_password.setFromUtf8(utf8); }
    void setSalt(const DataBuffer& salt) {
        m_salt.clear();
        m_salt.appendDb(salt);
    }
    void setIterationCount(int n) { m_iterationCount = n; }
    void setPbesAlgorithm(const char* name) { m_pbesAlgorithm.setFromUtf8(name); }

    // Whole buffers: new buffers the caller owns, null on failure. The
    // context pointer only travels on to public-key encryption.
    DataBuffer* encryptDbNew(DataBuffer& input, void* context, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& input, LogBase& log);
    // One piece of a chunked run through the given cipher holder and carried IV.
    DataBuffer* encryptFirstChunk(CryptoPtr& cipher, DataBuffer& input, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptNextChunk(CryptoPtr& cipher, DataBuffer& input, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptLastChunk(CryptoPtr& cipher, DataBuffer& input, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptFirstChunk(CryptoPtr& cipher, DataBuffer& input, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptNextChunk(CryptoPtr& cipher, DataBuffer& input, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptLastChunk(CryptoPtr& cipher, DataBuffer& input, DataBuffer& carriedIv, LogBase& log);
    // Honour the first- and last-chunk flags; the caller's input is left as given.
    DataBuffer* encryptBuffer(DataBuffer& input, void* context, LogBase& log, bool logParams);
    DataBuffer* decryptBuffer(DataBuffer& input, LogBase& log);
    // The output's previous content is replaced by the result.
    bool encryptBytesToDb(DataBuffer& input, DataBuffer& out, void* context, LogBase& log, bool logParams);
    bool decryptBytesToDb(DataBuffer& input, DataBuffer& out, LogBase& log);
    // Public methods.
    bool Decrypt(DataBuffer& input, DataBuffer& out);
    // Empties the output, then writes the HMAC of the data under the HMAC key.
    bool HmacBytes(const DataBuffer& data, DataBuffer& out);
    // False when a read, the cipher or a write fails.
    bool encryptSourceToOutput(DataSource& source, Output& output, void* context, LogBase& log);

    // The public-key settings, for the certificate layer's hooks. The
    // certificate objects are held through their library base.
    ExtPtrArray& encryptCerts() { return m_encryptCerts; }
    std::unique_ptr<TessikObject>& systemCertsSlot() { return m_systemCerts; }
    std::unique_ptr<TessikObject>& decryptCertSlot() { return m_decryptCert; }
    std::unique_ptr<TessikObject>& lastDecryptCertSlot() { return m_lastDecryptCert; }
    DataBuffer& privateKey() { return m_privateKey; }
    CryptoSettings2& cryptoSettings() { return m_cryptoSettings; }
    void setPkcs7ContentEncAlgId(int id) { m_pkcs7ContentEncAlgId = id; }
    int getPkcs7ContentEncAlgId() const { return m_pkcs7ContentEncAlgId; }
    void setVerboseLog(bool on) { m_verboseLog = on; }
    bool getVerboseLog() const { return m_verboseLog; }
    XString& lastCertSubject() { return m_lastCertSubject; }
    void setDisplayName(const char* name) { m_displayName.setString(name); }

protected:
    enum class ChunkStep { First, Next, Last };
    void setupCipher(CryptoPtr& holder, bool decrypt, bool wholeEncrypt, bool logIt, LogBase& log);
    DataBuffer* runChunk(bool encrypt, ChunkStep step, CryptoPtr& holder, DataBuffer& input, DataBuffer& carriedIv,
                         LogBase& log);
    DataBuffer* runBuffer(bool encrypt, DataBuffer& input, void* context, LogBase& log);
    void warnAboutSettings(LogBase& log);
    DataBuffer* pbesDbNew(bool encrypt, DataBuffer& input, LogBase& log);
    // Through the installed hooks.
    DataBuffer* publicKeyEncrypt(DataBuffer& input, void* context, LogBase& log);
    DataBuffer* publicKeyDecrypt(const DataBuffer& input, LogBase& log);

    CryptoSettings2 m_cryptoSettings;
    // Certificate objects (system stores, recipients, the decrypting
    // certificate) come from the certificate layer above this one; held
    // through their library base so they are destroyed properly.
    std::unique_ptr<TessikObject> m_systemCerts;
    bool m_verboseLog;
    StringBuffer m_algorithmName;
    int m_keyLength;
    int m_rc2EffectiveKeyLength;
    int m_algorithmId;
    int m_hashAlgorithmId;
    int m_cipherMode;
    bool m_decryptByteSwap;
    bool m_firstChunk;
    bool m_lastChunk;
    bool m_chunkInProgress;
    CryptoPtr m_chunkCipher;
    DataBuffer m_carriedIv;
    DataBuffer m_heldBack;
    int m_pkcs7ContentEncAlgId;
    _tsCharset m_charset;
    ExtPtrArray m_encryptCerts;
    std::unique_ptr<TessikObject> m_decryptCert;
    DataBuffer m_privateKey;
    std::unique_ptr<TessikObject> m_lastDecryptCert;
    XString m_password;
    XString m_pbesAlgorithm;
    DataBuffer m_salt;
    int m_iterationCount;
    bool m_ivSet;
    DataBuffer m_iv;
    int m_paddingScheme;
    DataBuffer m_hmacKey;
    DataBuffer m_secretKey;
    StringBuffer m_displayName;
    XString m_lastCertSubject;
    bool m_rc4Drop;
};

} // namespace tessik
