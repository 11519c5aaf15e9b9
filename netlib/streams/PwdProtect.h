#pragma once
// Traditional zip encryption (three keys, 12-byte header with a check byte)
// for the library's zip entry pipeline. One object per entry: setPassword,
// then makeHeader + encryptBytes to write, or initKeys + checkHeader +
// decryptBytes to read, over the data in order.
#include <cstdint>

#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

constexpr std::uint32_t kZipCryptHeaderLength = 12;

class PwdProtect : public TessikObject {
public:
    PwdProtect();
    ~PwdProtect() override;

    // The password's bytes as given (UTF-8 text).
    void setPassword(const char* text);
    void initKeys(LogBase& log);
    // Keys from the password, then 10 bytes from the system's random source
    // and bits 16-31 of `checkValue`, encrypted into `header`. False (header
    // unusable) only when no random bytes could be had.
    bool makeHeader(std::uint32_t checkValue, unsigned char header[kZipCryptHeaderLength], LogBase& log);
    // Decrypts the header through the keys; its last byte must be the high
    // byte of the DOS time (data descriptor) or of the CRC-32. False means
    // a wrong password.
    bool checkHeader(const unsigned char header[kZipCryptHeaderLength], std::uint32_t dosTime, std::uint32_t crc32,
                     bool dataDescriptor, LogBase& log);
    void encryptBytes(unsigned char* bytes, std::uint32_t count);
    void decryptBytes(unsigned char* bytes, std::uint32_t count);

private:
    void updateKeys(unsigned char plain);
    unsigned char keyStreamByte() const;

    StringBuffer m_password;
    std::uint32_t m_keys[3];
};

} // namespace tessik
