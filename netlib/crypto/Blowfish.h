#pragma once
// Blowfish (64-bit blocks, 16 rounds, keys of 32 to 448 bits) in two
// implementations that do not interoperate. Blowfish2 is the standard cipher:
// big-endian block halves, ECB, CBC and 64-bit CFB, an 8-byte IV, padding to
// 8 bytes. Blowfish is the older one: little-endian block halves, ECB only,
// padding to 16 bytes, an optional byte swap after decryption.
#include <cstdint>

#include "netlib/core/DataBuffer.h"

namespace tessik {

class LogBase;

constexpr int kBlowfishMaxKeyBits = 448;
constexpr int kBlowfish2MinKeyBits = 32;
constexpr int kBlowfishMinKeyBits = 40;

namespace blowfish_msg {
constexpr const char* kNullInput = "NULL blowfish2 input.";
constexpr const char* kNullOutput = "NULL blowfish2 output.";
constexpr const char* kSameBuffer = "blowfish2 input = output.";
constexpr const char* kNotMultiple = "Blowfish2 input size not a multiple of 8 (the blowfish block size)";
constexpr const char* kInputSize = "inputSizeInBytes";
} // namespace blowfish_msg

// The expanded key: P-array and S-boxes.
struct BlowfishSchedule {
    std::uint32_t p[18];
    std::uint32_t s[4][256];
};

class Blowfish2 {
public:
    enum Mode : int { kModeCbc = 0, kModeEcb = 1, kModeCfb = 2 };

    Blowfish2();
    ~Blowfish2();
    Blowfish2(const Blowfish2&) = delete;
    Blowfish2& operator=(const Blowfish2&) = delete;

    void setKeyLength(int bits);
    int getKeyLength() const { return m_keyLength; }
    void setKey(const DataBuffer& key);
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
    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    void prepareKey();

    void encryptBlock(unsigned char* left, unsigned char* right) const;
    void decryptBlock(unsigned char* left, unsigned char* right) const;
    void encryptWords(std::uint32_t& l, std::uint32_t& r) const;

    // Whole blocks only; input and output distinct. The encrypting ones give
    // the length (0 for failure), the decrypting ones log why they fail.
    unsigned int ecbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;
    unsigned int cbcEncrypt(const unsigned char* in, unsigned char* out, unsigned int n, unsigned char* iv) const;
    unsigned int cfbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n, unsigned char* iv) const;
    bool ecbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n, LogBase& log) const;
    bool cbcDecrypt(const unsigned char* in, unsigned char* out, unsigned int n, unsigned char* iv, LogBase& log) const;
    bool cfbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n, unsigned char* iv, LogBase& log) const;

    // Each returns a new buffer the caller owns; null when the input is not
    // whole blocks or the padding does not check.
    DataBuffer* encryptDbNew(DataBuffer& in, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& in, LogBase& log);
    DataBuffer* encryptFirstChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptNextChunk(const DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* encryptLastChunk(DataBuffer& in, DataBuffer& carriedIv, LogBase& log);
    DataBuffer* decryptFirstChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptNextChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);
    DataBuffer* decryptLastChunk(const DataBuffer& in, unsigned char* ivArea, LogBase& log);

private:
    bool encryptRun(const DataBuffer& in, unsigned char* iv, DataBuffer& out, LogBase& log) const;
    bool decryptRun(const DataBuffer& in, unsigned char* iv, DataBuffer& out, LogBase& log) const;
    DataBuffer* encryptChunk(const DataBuffer& in, DataBuffer& carriedIv, bool first, LogBase& log);
    DataBuffer* decryptChunk(const DataBuffer& in, unsigned char* ivArea, bool first, bool last, LogBase& log);

    BlowfishSchedule m_schedule;
    DataBuffer m_key;
    unsigned char m_iv[8];
    int m_keyLength;
    int m_mode;
    unsigned int m_paddingScheme;
};

class Blowfish {
public:
    Blowfish();
    ~Blowfish();
    Blowfish(const Blowfish&) = delete;
    Blowfish& operator=(const Blowfish&) = delete;

    void setKeyLength(int bits);
    int getKeyLength() const { return m_keyLength; }
    void setKey(const DataBuffer& key);
    void setKeyFromPassword(const char* password);
    void setPaddingScheme(unsigned int scheme) { m_paddingScheme = scheme; }
    void setByteSwapOnDecrypt(bool swap) { m_byteSwap = swap; }
    void prepareKey();

    void encryptWords(std::uint32_t& l, std::uint32_t& r) const;
    void decryptWords(std::uint32_t& l, std::uint32_t& r) const;
    void ecbEncrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;
    void ecbDecrypt(const unsigned char* in, unsigned char* out, unsigned int n) const;

    // Each returns a new buffer the caller owns; null when the input is not
    // whole blocks.
    DataBuffer* encryptDbNew(DataBuffer& in, LogBase& log);
    DataBuffer* decryptDbNew(const DataBuffer& in, LogBase& log);
    DataBuffer* encryptFirstChunk(const DataBuffer& in, LogBase& log);
    DataBuffer* encryptNextChunk(const DataBuffer& in, LogBase& log);
    DataBuffer* encryptLastChunk(DataBuffer& in, LogBase& log);
    DataBuffer* decryptFirstChunk(const DataBuffer& in, LogBase& log);
    DataBuffer* decryptNextChunk(const DataBuffer& in, LogBase& log);
    DataBuffer* decryptLastChunk(const DataBuffer& in, LogBase& log);

private:
    DataBuffer* encrypt(DataBuffer& in, bool pad, LogBase& log);
    DataBuffer* decrypt(const DataBuffer& in, bool last, LogBase& log);

    BlowfishSchedule m_schedule;
    int m_keyLength;
    unsigned int m_paddingScheme;
    bool m_byteSwap;
    DataBuffer m_key;
};

} // namespace tessik
