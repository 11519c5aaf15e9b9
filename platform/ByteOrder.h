#pragma once
// Loads and stores of 16-, 32- and 64-bit integers in either byte order, from
// and to unaligned bytes. The one home of byte order for the archive, the
// library and the protocol engines: the memcpy plus byte swap compiles to a
// single load or store (with MOVBE or BSWAP) at -O2.
#include <bit>
#include <cstdint>
#include <cstring>

namespace platform {

namespace byteorder_detail {

inline std::uint16_t swap(std::uint16_t v) {
    return static_cast<std::uint16_t>((v << 8) | (v >> 8));
}
inline std::uint32_t swap(std::uint32_t v) {
    return __builtin_bswap32(v);
}
inline std::uint64_t swap(std::uint64_t v) {
    return __builtin_bswap64(v);
}

template <typename T, std::endian Order>
inline T load(const void* p) noexcept {
    T v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (Order != std::endian::native)
        v = swap(v);
    return v;
}

template <typename T, std::endian Order>
inline void store(void* p, T v) noexcept {
    if constexpr (Order != std::endian::native)
        v = swap(v);
    std::memcpy(p, &v, sizeof v);
}

} // namespace byteorder_detail

// Each is a function: LoadBe32(p), StoreLe16(p, v).
// Big-endian (network order): TLS, SSH, SOCKS, X.509 strings and the digests.
inline constexpr auto LoadBe16 = byteorder_detail::load<std::uint16_t, std::endian::big>;
inline constexpr auto LoadBe32 = byteorder_detail::load<std::uint32_t, std::endian::big>;
inline constexpr auto LoadBe64 = byteorder_detail::load<std::uint64_t, std::endian::big>;
inline constexpr auto StoreBe16 = byteorder_detail::store<std::uint16_t, std::endian::big>;
inline constexpr auto StoreBe32 = byteorder_detail::store<std::uint32_t, std::endian::big>;
inline constexpr auto StoreBe64 = byteorder_detail::store<std::uint64_t, std::endian::big>;

// Little-endian: zip, gzip, deflate, key blobs, UTF-16 and UTF-32 text.
template <typename T>
inline T LoadLe(const void* p) noexcept {
    return byteorder_detail::load<T, std::endian::little>(p);
}
inline constexpr auto LoadLe16 = LoadLe<std::uint16_t>;
inline constexpr auto LoadLe32 = LoadLe<std::uint32_t>;
inline constexpr auto LoadLe64 = LoadLe<std::uint64_t>;
template <typename T>
inline void StoreLe(void* p, T v) noexcept {
    byteorder_detail::store<T, std::endian::little>(p, v);
}
inline constexpr auto StoreLe16 = StoreLe<std::uint16_t>;
inline constexpr auto StoreLe32 = StoreLe<std::uint32_t>;
inline constexpr auto StoreLe64 = StoreLe<std::uint64_t>;

} // namespace platform
