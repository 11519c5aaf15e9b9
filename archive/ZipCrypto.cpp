#include "archive/ZipCrypto.h"

#include "platform/Crc32.h"
#include "platform/CryptProv.h"

namespace archive {

void initZipKeys(ZipKeys& keys) {
    keys.k0 = 0x12345678u;
    keys.k1 = 0x23456789u;
    keys.k2 = 0x34567890u;
}

void updateZipKeys(ZipKeys& keys, std::uint8_t byte) {
    keys.k0 = platform::Crc32Step(keys.k0, byte);
    keys.k1 = (keys.k1 + (keys.k0 & 0xFF)) * 134775813u + 1;
    keys.k2 = platform::Crc32Step(keys.k2, static_cast<std::uint8_t>(keys.k1 >> 24));
}

std::uint8_t zipDecryptByte(const ZipKeys& keys) {
    std::uint32_t t = (keys.k2 & 0xFFFF) | 2;
    return static_cast<std::uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

std::uint8_t zipEncodeByte(ZipKeys& keys, std::uint8_t plain) {
    std::uint8_t c = plain ^ zipDecryptByte(keys);
    updateZipKeys(keys, plain);
    return c;
}

std::uint8_t zipDecodeByte(ZipKeys& keys, std::uint8_t cipher) {
    std::uint8_t plain = cipher ^ zipDecryptByte(keys);
    updateZipKeys(keys, plain);
    return plain;
}

void keyZipKeys(ZipKeys& keys, const char* password) {
    initZipKeys(keys);
    if (!password)
        return;
    for (const char* p = password; *p; ++p)
        updateZipKeys(keys, static_cast<std::uint8_t>(*p));
}

bool makeZipCryptHeader(ZipKeys& keys, const char* password, std::uint8_t checkByte, const ZipRandomSource& random,
                        std::uint8_t header[kZipCryptHeaderSize]) {
    keyZipKeys(keys, password);
    const ZipRandomSource& source = random ? random : ZipRandomSource(platform::SystemRandomBytes);
    if (!source(header, kZipCryptHeaderSize - 1))
        return false;
    header[kZipCryptHeaderSize - 1] = checkByte;
    zipEncodeBuffer(keys, header, kZipCryptHeaderSize);
    return true;
}

void zipEncodeBuffer(ZipKeys& keys, std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        data[i] = zipEncodeByte(keys, data[i]);
}

void zipDecodeBuffer(ZipKeys& keys, std::uint8_t* data, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i)
        data[i] = zipDecodeByte(keys, data[i]);
}

} // namespace archive
