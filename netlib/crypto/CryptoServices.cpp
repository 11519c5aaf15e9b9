#include "netlib/crypto/CryptoServices.h"

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/crypto/PasswordEncryption.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/streams/TessikDeflate.h"
#include "netlib/streams/WinZipAes.h"
#include "netlib/streams/ZipPipeline.h"
#include "netlib/text/TextServices.h"

namespace tessik {

namespace {

bool xmlInflateRaw(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    return TessikDeflate::inflateFromSource(in, out, log);
}

bool xmlAesDecrypt(const char* password, const DataBuffer& in, DataBuffer& out, LogBase& /*log*/) {
    AesCrypt aes;
    aes.setPassword(password);
    DataBuffer plain;
    if (!aes.decryptDb(in, plain))
        return false;
    out.appendDb(plain);
    return true;
}

const XmlBinaryHooks kXmlHooks{xmlInflateRaw, xmlAesDecrypt};

class ZipCtrCipher : public ZipAesCipher {
public:
    void setKey(const unsigned char* key, unsigned int n) override {
        m_ctx.setKeyLength(static_cast<int>(n * 8));
        m_ctx.setModeCtr();
        m_ctx.setKeyBytes(key, n);
        m_ctx.makeKeyCtr();
    }
    void ctrXor(unsigned char* data, unsigned int n, unsigned char counter[16], unsigned char keystream[16],
                unsigned int* position) override {
        m_ctx.ctrXor(data, n, counter, keystream, position);
    }

private:
    RijndaelContext m_ctx;
};

class ZipSha1Impl : public ZipSha1 {
public:
    void initialize() override { m_sha.initialize(); }
    void update(const void* data, std::uint32_t n) override { m_sha.update(data, n); }
    void final(unsigned char digest[20]) override { m_sha.final(digest); }
    void copyState(const ZipSha1& other) override { m_sha.copyState(static_cast<const ZipSha1Impl&>(other).m_sha); }

private:
    Sha1 m_sha;
};

ZipAesCipher* newZipCipher() {
    return new ZipCtrCipher;
}

ZipSha1* newZipSha1() {
    return new ZipSha1Impl;
}

const WinZipAesServices kZipAesServices{newZipCipher, newZipSha1};

const ZipPasswordCrypt kZipPasswordCrypt{encryptBytesWithPassword, decryptBytesWithPassword,
                                         encryptFileWithPasswordEntry, decryptFileWithPasswordEntry};

} // namespace

void installCryptoServices() {
    installTextServices();
    installXmlBinaryHooks(&kXmlHooks);
    installWinZipAesServices(&kZipAesServices);
    installZipPasswordCrypt(&kZipPasswordCrypt);
}

} // namespace tessik
