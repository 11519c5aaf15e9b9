#pragma once
// Twofish: 128-bit blocks, keys of 128, 192 or 256 bits, 16 rounds, the
// key-dependent S-boxes expanded fully at key time. ECB or CBC through the
// shared chain. The default IV is 16 zero bytes.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/ChainedBlockCipher.h"

namespace tessik {

class LogBase;

constexpr int kTwofishBlockSize = 16;

// The expanded key.
struct TwofishKey {
    int keyBits;
    int rounds;
    std::uint32_t keyWords[8];
    std::uint32_t sboxKeys[4];
    std::uint32_t subkeys[40]; // 4 input whitening, 4 output whitening, 32 round
    std::uint32_t sbox[4][256];
};

enum TwofishMode : int { kTwofishModeEcb = 1, kTwofishModeCbc = 2 };

// The key schedule.
void twofishInitKey(TwofishKey& key, int keyBits);
bool twofishRekey(TwofishKey& key);
std::uint32_t twofishRsEncode(std::uint32_t k0, std::uint32_t k1);
void twofishBuildMdsTables();

class TwoFish : public ChainedBlockCipher {
public:
    TwoFish();
    ~TwoFish() override;

    void setKeyLength(int bits);
    int getKeyLength() const { return m_keyLength; }
    void setKey(const DataBuffer& key);
    void setKeyFromPassword(const char* password);
    // 16 bytes; null changes nothing.
    void setIv(const unsigned char* iv);
    void setModeEcb() { m_mode = kTwofishModeEcb; }
    bool setModeCbc() {
        m_mode = kTwofishModeCbc;
        return true;
    }
    void prepareKey();

private:
    Chaining chaining() const override;
    void prepare(bool encrypt) override;
    void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const override;
    void encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                      std::size_t blocks) const override;

    TwofishKey m_ctx;
    DataBuffer m_key;
    int m_keyLength;
    int m_mode;
};

} // namespace tessik
