#pragma once
// Little-endian fields of the zip format, appended to a header being built;
// they are read with platform/ByteOrder.h.
#include <cstdint>
#include <vector>

#include "platform/ByteOrder.h"

namespace archive {

inline void PutLe16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t le[2];
    platform::StoreLe16(le, static_cast<std::uint16_t>(v));
    out.insert(out.end(), le, le + sizeof le);
}

inline void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t le[4];
    platform::StoreLe32(le, v);
    out.insert(out.end(), le, le + sizeof le);
}

} // namespace archive
