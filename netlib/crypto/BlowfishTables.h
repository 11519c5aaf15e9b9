#pragma once
// The initial P-array and S-boxes of Blowfish, shared by both implementations.
#include <cstdint>

namespace tessik {

constexpr int kBlowfishPWords = 18;
constexpr int kBlowfishSWords = 256;

extern const std::uint32_t kBlowfishInitP[kBlowfishPWords];
extern const std::uint32_t kBlowfishInitS[4][kBlowfishSWords];

} // namespace tessik
