#pragma once
// The CBC decryption loop of the AES instructions, for registers of one, two
// or four blocks. Included only by the files built for those instructions,
// and kept free of anything but the loop: an inline function compiled there
// could be shared with code that must run without them.
//
// CBC decryption runs every block at once: each takes the ciphertext block
// before it. A group of registers goes through the rounds side by side, so
// that the rounds of one hide the latency of the others'. The ciphertext
// stays in registers until the group is stored, so in and out may be the
// same.
#include <cstddef>

namespace tessik::aesni {

namespace {

constexpr std::size_t kWideRegisters = 8;
constexpr std::size_t kWideBlockBytes = 16;

// L gives the register type V, the blocks it holds, and its operations:
// load, store, key (one round key in every block), zor, dec, decLast,
// fromIv (a register ending in the IV), previous (the ciphertext before each
// block of c, the one before it being the last of before) and lastBlock.
// Runs the whole groups and returns how many blocks it took; iv then holds
// the last ciphertext block.
template <class L>
std::size_t decryptCbcGroups(const unsigned char* roundKeys, int rounds, unsigned char* iv, const unsigned char* in,
                             unsigned char* out, std::size_t blocks) {
    using V = typename L::V;
    constexpr std::size_t kGroup = kWideRegisters * L::kBlocks;
    if (blocks < kGroup)
        return 0;
    constexpr int kMaxRounds = 14;
    V k[kMaxRounds + 1];
    for (int r = 0; r <= rounds; ++r)
        k[r] = L::key(roundKeys + kWideBlockBytes * r);
    V before = L::fromIv(iv);
    std::size_t done = 0;
    for (; done + kGroup <= blocks; done += kGroup) {
        V c[kWideRegisters], b[kWideRegisters];
        for (std::size_t j = 0; j < kWideRegisters; ++j) {
            c[j] = L::load(in + kWideBlockBytes * (done + L::kBlocks * j));
            b[j] = L::zor(c[j], k[0]);
        }
        for (int r = 1; r < rounds; ++r)
            for (std::size_t j = 0; j < kWideRegisters; ++j)
                b[j] = L::dec(b[j], k[r]);
        // The last round's key and the chaining value in one operand.
        for (std::size_t j = 0; j < kWideRegisters; ++j) {
            const V chain = L::previous(c[j], j == 0 ? before : c[j - 1]);
            L::store(out + kWideBlockBytes * (done + L::kBlocks * j), L::decLast(b[j], L::zor(k[rounds], chain)));
        }
        before = c[kWideRegisters - 1];
    }
    L::lastBlock(before, iv);
    return done;
}

} // namespace

} // namespace tessik::aesni
