#pragma once
// Blowfish (64-bit blocks, 16 rounds, keys of 32 to 448 bits) in two
// implementations that do not interoperate, both through the shared chain.
// Blowfish2 is the standard cipher: big-endian block halves, ECB, CBC and
// 64-bit CFB, an 8-byte IV, padding to 8 bytes. Blowfish is the older one:
// little-endian block halves, ECB only, padding to 16 bytes, an optional byte
// swap after decryption.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/crypto/ChainedBlockCipher.h"

namespace tessik {

class LogBase;

constexpr int kBlowfishMaxKeyBits = 448;
constexpr int kBlowfish2MinKeyBits = 32;
constexpr int kBlowfishMinKeyBits = 40;

namespace blowfish_msg {
constexpr const char* kNotMultiple = "Blowfish2 input size not a multiple of 8 (the blowfish block size)";
} // namespace blowfish_msg

// The expanded key: P-array and S-boxes.
struct BlowfishSchedule {
    std::uint32_t p[18];
    std::uint32_t s[4][256];
};

class Blowfish2 : public ChainedBlockCipher {
public:
    enum Mode : int { kModeCbc = 0, kModeEcb = 1, kModeCfb = 2 };

    Blowfish2();
    ~Blowfish2() override;

    void setKeyLength(int bits);
    int getKeyLength() const { return m_keyLength; }
    void setKey(const DataBuffer& key);
    // 8 bytes.
    void setIv(const unsigned char* iv);
    void setModeEcb() { m_mode = kModeEcb; }
    bool setModeCbc() {
        m_mode = kModeCbc;
        return true;
    }
    bool setModeCfb() {
        m_mode = kModeCfb;
        return true;
    }
    void prepareKey();

    // One block in place, given as its two 4-byte halves.
    void encryptBlock(unsigned char* left, unsigned char* right) const;
    void decryptBlock(unsigned char* left, unsigned char* right) const;
    void encryptWords(std::uint32_t& l, std::uint32_t& r) const;

private:
    Chaining chaining() const override;
    void prepare(bool encrypt) override;
    void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const override;
    void encryptChain(unsigned char* iv, const unsigned char* in, unsigned char* out,
                      std::size_t blocks) const override;
    const char* notWholeBlocksText() const override { return blowfish_msg::kNotMultiple; }

    BlowfishSchedule m_schedule;
    DataBuffer m_key;
    int m_keyLength;
    int m_mode;
};

class Blowfish : public ChainedBlockCipher {
public:
    Blowfish();
    ~Blowfish() override;

    void setKeyLength(int bits);
    int getKeyLength() const { return m_keyLength; }
    void setKey(const DataBuffer& key);
    void setKeyFromPassword(const char* password);
    void prepareKey();

    void encryptWords(std::uint32_t& l, std::uint32_t& r) const;
    void decryptWords(std::uint32_t& l, std::uint32_t& r) const;

private:
    Chaining chaining() const override { return Chaining::kEcb; }
    void prepare(bool encrypt) override;
    void runBlock(bool encrypt, const unsigned char* in, unsigned char* out) const override;

    BlowfishSchedule m_schedule;
    int m_keyLength;
    DataBuffer m_key;
};

} // namespace tessik
