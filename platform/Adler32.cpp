#include "platform/Adler32.h"

namespace platform {

namespace {

constexpr std::uint32_t kModulus = 65521;
// The most bytes whose sums cannot overflow 32 bits before a reduction.
constexpr std::size_t kMaxRun = 5552;
constexpr std::size_t kUnroll = 16;

} // namespace

std::uint32_t Adler32(std::uint32_t adler, const void* data, std::size_t length) {
    if (data == nullptr)
        return kAdler32Start;
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    while (length > 0) {
        std::size_t run = length < kMaxRun ? length : kMaxRun;
        length -= run;
        for (; run >= kUnroll; run -= kUnroll, p += kUnroll) {
            for (std::size_t i = 0; i < kUnroll; ++i) {
                a += p[i];
                b += a;
            }
        }
        for (; run > 0; --run) {
            a += *p++;
            b += a;
        }
        a %= kModulus;
        b %= kModulus;
    }
    return (b << 16) | a;
}

} // namespace platform
