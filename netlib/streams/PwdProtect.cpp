#include "netlib/streams/PwdProtect.h"

#include "netlib/core/Memory.h"
#include "netlib/core/TessikRand.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/streams/StreamConstants.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr std::uint32_t kInitialKeys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
constexpr std::uint32_t kKey1Multiplier = 134775813u;
constexpr int kRandomHeaderBytes = 10;

} // namespace

PwdProtect::PwdProtect() : m_keys{kInitialKeys[0], kInitialKeys[1], kInitialKeys[2]} {}

PwdProtect::~PwdProtect() {
    m_password.secureClear();
    secureWipe(m_keys, sizeof m_keys);
}

void PwdProtect::setPassword(const char* text) {
    m_password.setString(text ? text : "");
}

void PwdProtect::updateKeys(unsigned char plain) {
    m_keys[0] = ZipCRC::stepByte(m_keys[0], plain);
    m_keys[1] = (m_keys[1] + (m_keys[0] & 0xFFu)) * kKey1Multiplier + 1;
    m_keys[2] = ZipCRC::stepByte(m_keys[2], static_cast<unsigned char>(m_keys[1] >> 24));
}

unsigned char PwdProtect::keyStreamByte() const {
    std::uint32_t t = (m_keys[2] & 0xFFFFu) | 2u;
    return static_cast<unsigned char>((t * (t ^ 1u)) >> 8);
}

void PwdProtect::initKeys(LogBase&) {
    for (int i = 0; i < 3; ++i)
        m_keys[i] = kInitialKeys[i];
    const unsigned char* p = reinterpret_cast<const unsigned char*>(m_password.getString());
    for (int i = 0; i < m_password.getSize(); ++i)
        updateKeys(p[i]);
}

bool PwdProtect::makeHeader(std::uint32_t checkValue, unsigned char header[kZipCryptHeaderLength], LogBase& log) {
    initKeys(log);
    // Every header needs bytes of its own: a repeated header under one
    // password repeats the keystream of every entry.
    if (!cryptGenRandomBytes(kRandomHeaderBytes, header)) {
        log.logError(stream_msg::kNoRandomBytes);
        return false;
    }
    platform::StoreLe16(header + 10, static_cast<std::uint16_t>(checkValue >> 16));
    encryptBytes(header, kZipCryptHeaderLength);
    return true;
}

bool PwdProtect::checkHeader(const unsigned char header[kZipCryptHeaderLength], std::uint32_t dosTime,
                             std::uint32_t crc32, bool dataDescriptor, LogBase& log) {
    unsigned char plain[kZipCryptHeaderLength];
    for (std::uint32_t i = 0; i < kZipCryptHeaderLength; ++i)
        plain[i] = header[i];
    decryptBytes(plain, kZipCryptHeaderLength);
    unsigned char expected =
        dataDescriptor ? static_cast<unsigned char>(dosTime >> 8) : static_cast<unsigned char>(crc32 >> 24);
    if (plain[kZipCryptHeaderLength - 1] == expected)
        return true;
    log.logDataLong("isDataDescriptor", dataDescriptor ? 1 : 0);
    log.logHex("crc32", crc32);
    log.logDataHex("PwdProtectData", header, kZipCryptHeaderLength);
    return false;
}

void PwdProtect::encryptBytes(unsigned char* bytes, std::uint32_t count) {
    if (!bytes)
        return;
    for (std::uint32_t i = 0; i < count; ++i) {
        unsigned char k = keyStreamByte();
        updateKeys(bytes[i]);
        bytes[i] ^= k;
    }
}

void PwdProtect::decryptBytes(unsigned char* bytes, std::uint32_t count) {
    if (!bytes)
        return;
    for (std::uint32_t i = 0; i < count; ++i) {
        bytes[i] ^= keyStreamByte();
        updateKeys(bytes[i]);
    }
}

} // namespace tessik
