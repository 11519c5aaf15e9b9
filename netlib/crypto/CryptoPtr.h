#pragma once
// Holds the one cipher object a chunked encryption or decryption keeps from
// its first chunk to its last. At most one object is held; asking for another
// kind destroys the held one.
#include <memory>

namespace tessik {

class Blowfish;
class Blowfish2;
class ChainedBlockCipher;
class RijndaelContext;
class TessikArc4;
class TessikDes;
class TessikRc2;
class TwoFish;

class CryptoPtr {
public:
    CryptoPtr();
    // Creates the object of that algorithm id; ids without one hold nothing.
    explicit CryptoPtr(int algorithmId);
    virtual ~CryptoPtr();
    CryptoPtr(const CryptoPtr&) = delete;
    CryptoPtr& operator=(const CryptoPtr&) = delete;

    void clear();
    // The held object of that kind, else a fresh one with default settings.
    RijndaelContext* getAes();
    TessikDes* getDes();
    TessikRc2* getRc2();
    TessikArc4* getRc4();
    Blowfish* getBlowfish();
    Blowfish2* getBlowfish2();
    TwoFish* getTwofish();
    // The held block cipher of an algorithm id, as its shared chain; null
    // for ids that are not block ciphers.
    ChainedBlockCipher* getBlockCipher(int algorithmId);

    bool isEmpty() const { return !m_aes && !m_blowfish && !m_blowfish2 && !m_twofish && !m_rc2 && !m_rc4 && !m_des; }

private:
    std::unique_ptr<RijndaelContext> m_aes;
    std::unique_ptr<Blowfish> m_blowfish;
    std::unique_ptr<Blowfish2> m_blowfish2;
    std::unique_ptr<TwoFish> m_twofish;
    std::unique_ptr<TessikRc2> m_rc2;
    std::unique_ptr<TessikArc4> m_rc4;
    std::unique_ptr<TessikDes> m_des;
};

} // namespace tessik
