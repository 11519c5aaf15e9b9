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

template <typename T>
inline T loadNative(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T>
inline void storeNative(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

inline std::uint16_t swap(std::uint16_t v) {
    return static_cast<std::uint16_t>((v << 8) | (v >> 8));
}
inline std::uint32_t swap(std::uint32_t v) {
    return __builtin_bswap32(v);
}
inline std::uint64_t swap(std::uint64_t v) {
    return __builtin_bswap64(v);
}

template <typename T>
inline T toBig(T v) {
    if constexpr (std::endian::native == std::endian::big) {
        return v;
    } else {
        return swap(v);
    }
}

template <typename T>
inline T toLittle(T v) {
    if constexpr (std::endian::native == std::endian::little) {
        return v;
    } else {
        return swap(v);
    }
}

} // namespace byteorder_detail

inline std::uint16_t LoadBe16(const void* p) {
    return byteorder_detail::toBig(byteorder_detail::loadNative<std::uint16_t>(p));
}
inline std::uint32_t LoadBe32(const void* p) {
    return byteorder_detail::toBig(byteorder_detail::loadNative<std::uint32_t>(p));
}
inline std::uint64_t LoadBe64(const void* p) {
    return byteorder_detail::toBig(byteorder_detail::loadNative<std::uint64_t>(p));
}
inline std::uint16_t LoadLe16(const void* p) {
    return byteorder_detail::toLittle(byteorder_detail::loadNative<std::uint16_t>(p));
}
inline std::uint32_t LoadLe32(const void* p) {
    return byteorder_detail::toLittle(byteorder_detail::loadNative<std::uint32_t>(p));
}
inline std::uint64_t LoadLe64(const void* p) {
    return byteorder_detail::toLittle(byteorder_detail::loadNative<std::uint64_t>(p));
}

inline void StoreBe16(void* p, std::uint16_t v) {
    byteorder_detail::storeNative(p, byteorder_detail::toBig(v));
}
inline void StoreBe32(void* p, std::uint32_t v) {
    byteorder_detail::storeNative(p, byteorder_detail::toBig(v));
}
inline void StoreBe64(void* p, std::uint64_t v) {
    byteorder_detail::storeNative(p, byteorder_detail::toBig(v));
}
inline void StoreLe16(void* p, std::uint16_t v) {
    byteorder_detail::storeNative(p, byteorder_detail::toLittle(v));
}
inline void StoreLe32(void* p, std::uint32_t v) {
    byteorder_detail::storeNative(p, byteorder_detail::toLittle(v));
}
inline void StoreLe64(void* p, std::uint64_t v) {
    byteorder_detail::storeNative(p, byteorder_detail::toLittle(v));
}

} // namespace platform
