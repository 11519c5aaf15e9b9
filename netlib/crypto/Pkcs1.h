#pragma once
// PKCS#1 message blocks: v1.5 block types 1 and 2, and OAEP with MGF1.
#include <cstdint>

namespace tessik {

class DataBuffer;
class LogBase;

namespace pkcs1_msg {
// Every failure of a type 2 (decryption) block, whatever its cause.
constexpr const char* kBadV15Padding = "Invalid PKCS v1.5 padding";
} // namespace pkcs1_msg

// The modulus length in bytes for a bit length (1023 bits give 128).
std::uint32_t pkcs1ModulusBytes(std::uint32_t modulusBits);

// Clears out, then writes the k-byte block; false with out empty.
bool pkcs1v15Encode(const unsigned char* message, std::uint32_t messageLength, int blockType, std::uint32_t modulusBits,
                    DataBuffer& out, LogBase& log);
// Appends the message of a block of the expected type: 00, the type, at
// least 8 padding bytes, 00, the message (which may be empty). A block that
// lost its leading zero byte is accepted.
bool Pkcs1_5_decode(const unsigned char* block, std::uint32_t blockLength, int blockType, std::uint32_t modulusBits,
                    DataBuffer& out, LogBase& log);
// Clears out, then fills it with maskLength bytes of MGF1; callTag only names
// the call in a failure.
bool pkcs1Mgf1(unsigned int callTag, int hashId, const unsigned char* seed, std::uint32_t seedLength,
               std::uint32_t maskLength, DataBuffer& out, LogBase& log);
bool oaepEncode(const unsigned char* message, std::uint32_t messageLength, const unsigned char* label,
                std::uint32_t labelLength, std::uint32_t modulusBits, int hashId, DataBuffer& out, LogBase& log);
// Appends the message; a block that lost its leading zero byte is accepted.
bool oaepDecode(const unsigned char* block, std::uint32_t blockLength, const unsigned char* label,
                std::uint32_t labelLength, std::uint32_t modulusBits, int hashId, DataBuffer& out, LogBase& log);

} // namespace tessik
