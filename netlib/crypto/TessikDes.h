#pragma once
// DES and triple DES (FIPS 46-3; EDE with two or three keys) in ECB, CBC and
// 64-bit CFB, with the framework's whole-buffer and chunk entry points. The
// key length chooses: below 112 bits single DES, below 168 two keys, else three.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/ChainedBlockCipher.h"

namespace tessik {

class LogBase;

enum DesMode : unsigned int { kDesModeCbc = 0, kDesModeEcb = 1, kDesModeCfb = 2 };

constexpr unsigned int kDesSingleBits = 56;
constexpr unsigned int kDesTwoKeyBits = 112;
constexpr unsigned int kDesThreeKeyBits = 168;

class TessikDes : public ChainedBlockCipher {
public:
    static constexpr int kScheduleWords = 96;
    static constexpr int kSetWords = 32;

    TessikDes();
    ~TessikDes() override;

    void setKey(const DataBuffer& key, unsigned int bits, LogBase& log);
    // A short IV is zero-extended; bytes past the eighth are ignored.
    void setIv(const DataBuffer& iv);
    void clearIv();
    void setCipherMode(unsigned int mode) { m_mode = mode; }
    unsigned int getKeyLength() const { return m_keyLength; }

    // One 8-byte key into 32 subkey words (16 rounds, two words each).
    static void desSetKey(const unsigned char key[8], std::uint32_t subkeys[kSetWords]);
    static void cryptBlock(const std::uint32_t subkeys[kSetWords], const unsigned char in[8], unsigned char out[8]);
    static void crypt3Block(const std::uint32_t schedule[kScheduleWords], const unsigned char in[8],
                            unsigned char out[8]);

private:
    void setKeySingle(const unsigned char* k);
    void setKey2(const unsigned char* k);
    void setKey3(const unsigned char* k);
    bool triple() const { return m_keyLength != kDesSingleBits; }
    Chaining chaining() const override;
    void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const override;
    void encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                      std::size_t blocks) const override;

    std::uint32_t m_encrypt[kScheduleWords];
    std::uint32_t m_decrypt[kScheduleWords];
    unsigned int m_keyLength;
    unsigned int m_mode;
};

} // namespace tessik
