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

} // namespace tessik::shacompress
