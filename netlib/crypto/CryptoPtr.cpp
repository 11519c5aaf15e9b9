#include "netlib/crypto/CryptoPtr.h"

#include <new>

#include "netlib/crypto/Blowfish.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TessikArc4.h"
#include "netlib/crypto/TessikDes.h"
#include "netlib/crypto/TessikRc2.h"
#include "netlib/crypto/TwoFish.h"

namespace tessik {

CryptoPtr::CryptoPtr() = default;

CryptoPtr::CryptoPtr(int algorithmId) {
    if (algorithmId == kCipherRc4)
        getRc4();
    else
        getBlockCipher(algorithmId);
}

ChainedBlockCipher* CryptoPtr::getBlockCipher(int algorithmId) {
    switch (algorithmId) {
    case kCipherAes: return getAes();
    case kCipherDes: return getDes();
    case kCipherBlowfish: return getBlowfish();
    case kCipherBlowfish2: return getBlowfish2();
    case kCipherTwofish: return getTwofish();
    case kCipherRc2: return getRc2();
    default: return nullptr;
    }
}

CryptoPtr::~CryptoPtr() {
    clear();
}

void CryptoPtr::clear() {
    m_aes.reset();
    m_blowfish.reset();
    m_blowfish2.reset();
    m_twofish.reset();
    m_rc2.reset();
    m_rc4.reset();
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

Blowfish* CryptoPtr::getBlowfish() {
    if (!m_blowfish) {
        clear();
        m_blowfish.reset(new (std::nothrow) Blowfish());
    }
    return m_blowfish.get();
}

Blowfish2* CryptoPtr::getBlowfish2() {
    if (!m_blowfish2) {
        clear();
        m_blowfish2.reset(new (std::nothrow) Blowfish2());
    }
    return m_blowfish2.get();
}

TessikRc2* CryptoPtr::getRc2() {
    if (!m_rc2) {
        clear();
        m_rc2.reset(new (std::nothrow) TessikRc2());
    }
    return m_rc2.get();
}

TessikArc4* CryptoPtr::getRc4() {
    if (!m_rc4) {
        clear();
        m_rc4.reset(new (std::nothrow) TessikArc4());
    }
    return m_rc4.get();
}

TwoFish* CryptoPtr::getTwofish() {
    if (!m_twofish) {
        clear();
        m_twofish.reset(new (std::nothrow) TwoFish());
    }
    return m_twofish.get();
}

} // namespace tessik
