#pragma once
// CRC-32 of zip and gzip (reflected 0x04C11DB7, preset and final complement).
#include <cstdint>

namespace tessik {

class ZipCRC {
public:
    ZipCRC();
    virtual ~ZipCRC();

    ZipCRC(const ZipCRC&) = default;
    ZipCRC& operator=(const ZipCRC&) = default;

    void beginStream();
    void moreData(const void* data, std::uint32_t length);
    // Reading the result does not end the stream: more data may follow.
    std::uint32_t endStream() const;

    // CRC-32 of one buffer; 0 for an empty one. With a flag pointer, also
    // classifies the buffer: 1 = binary, 0 = text (left alone when empty).
    static std::uint32_t crc32WithBinaryFlag(const void* data, std::uint32_t length, std::uint16_t* binaryFlag);

    // One byte through the bare register (no preset, no final complement),
    // the step the traditional zip cipher drives its keys with.
    static std::uint32_t stepByte(std::uint32_t reg, unsigned char byte);

private:
    std::uint32_t m_value;
};

} // namespace tessik
