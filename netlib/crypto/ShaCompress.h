#pragma once
// The SHA block functions: SHA-1 and SHA-256 portable and with the
// processor's SHA instructions (the tests hold the two to each other), SHA-512
// portable.
#include <cstddef>
#include <cstdint>

namespace tessik::shacompress {

// Each compresses `blocks` consecutive 64-byte blocks into the state.
void sha1Portable(std::uint32_t state[5], const unsigned char* data, std::size_t blocks);
void sha256Portable(std::uint32_t state[8], const unsigned char* data, std::size_t blocks);
// 128-byte blocks.
void sha512(std::uint64_t state[8], const unsigned char* data, std::size_t blocks);
// Only where hardwareAvailable() is true.
void sha1Hardware(std::uint32_t state[5], const unsigned char* data, std::size_t blocks);
void sha256Hardware(std::uint32_t state[8], const unsigned char* data, std::size_t blocks);
bool hardwareAvailable();

// Chosen once per process.
void sha1(std::uint32_t state[5], const unsigned char* data, std::size_t blocks);
void sha256(std::uint32_t state[8], const unsigned char* data, std::size_t blocks);

inline std::uint32_t loadBe32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}
inline void storeBe32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}
inline std::uint64_t loadBe64(const unsigned char* p) {
    return (std::uint64_t{loadBe32(p)} << 32) | loadBe32(p + 4);
}
inline void storeBe64(unsigned char* p, std::uint64_t v) {
    storeBe32(p, static_cast<std::uint32_t>(v >> 32));
    storeBe32(p + 4, static_cast<std::uint32_t>(v));
}

} // namespace tessik::shacompress
