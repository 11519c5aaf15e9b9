#include "netlib/crypto/CryptoPtr.h"

#include <new>

#include "netlib/core/LogBase.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TessikDes.h"

namespace tessik {

CryptoPtr::CryptoPtr() = default;

CryptoPtr::CryptoPtr(int algorithmId) {
    if (algorithmId == kCipherAes)
        getAes();
    else if (algorithmId == kCipherDes)
        getDes();
}

CryptoPtr::~CryptoPtr() {
    clear();
}

void CryptoPtr::clear() {
    m_aes.reset();
    m_des.reset();
}

RijndaelContext* CryptoPtr::getAes() {
    if (!m_aes) {
        clear();
        m_aes.reset(new (std::nothrow) RijndaelContext());
    }
    return m_aes.get();
}

TessikDes* CryptoPtr::getDes() {
    if (!m_des) {
        clear();
        m_des.reset(new (std::nothrow) TessikDes());
    }
    return m_des.get();
}

void* CryptoPtr::notBuilt(const char* name, LogBase& log) {
    clear();
    log.logError(cipher_msg::kCipherNotBuilt);
    log.logData("cipher", name);
    return nullptr;
}

void* CryptoPtr::getBlowfish(LogBase& log) {
    return notBuilt("blowfish", log);
}
void* CryptoPtr::getBlowfish2(LogBase& log) {
    return notBuilt("blowfish2", log);
}
void* CryptoPtr::getTwofish(LogBase& log) {
    return notBuilt("twofish", log);
}
void* CryptoPtr::getRc2(LogBase& log) {
    return notBuilt("rc2", log);
}
void* CryptoPtr::getRc4(LogBase& log) {
    return notBuilt("arc4", log);
}

} // namespace tessik
