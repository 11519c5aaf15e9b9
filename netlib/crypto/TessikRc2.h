#pragma once
// RC2 (RFC 2268): 8-byte blocks, a key of 1 to 128 bytes and a separate
// effective key length in bits, in ECB or CBC, with the framework's
// whole-buffer and chunk entry points (shaped as DES's).
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/ChainedBlockCipher.h"

namespace tessik {

class LogBase;

constexpr unsigned int kRc2MaxKeyBytes = 128;
constexpr unsigned int kRc2MaxEffectiveBits = 1024;

class TessikRc2 : public ChainedBlockCipher {
public:
    static constexpr int kKeyWords = 64;

    TessikRc2();
    ~TessikRc2() override;

    // A key holding fewer than keyBytes bytes is zero-extended.
    void setKey(const DataBuffer& key, unsigned int keyBytes, unsigned int effectiveBits);
    // The first 8 bytes become the IV; a shorter buffer leaves it unchanged.
    void setIv(const DataBuffer& iv);
    void setEcb(bool ecb) { m_ecb = ecb; }
    unsigned int getKeyLength() const { return m_keyLength; }
    unsigned int getEffectiveBits() const { return m_effectiveBits; }

    void expandKey(const unsigned char* key, unsigned int n, unsigned int bits);
    void encryptBlock(const unsigned char in[8], unsigned char out[8]) const;
    void decryptBlock(const unsigned char in[8], unsigned char out[8]) const;

private:
    Chaining chaining() const override;
    void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const override;
    void encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                      std::size_t blocks) const override;

    std::uint16_t m_key[kKeyWords];
    unsigned int m_keyLength;
    unsigned int m_effectiveBits;
    bool m_ecb;
};

} // namespace tessik
