// Runs the bitmap-file reader over arbitrary bytes: headers, colour tables
// and rows must be refused or read without touching memory outside the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/reports/print/BitmapFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    bitmap::Layout layout;
    if (bitmap::ReadBitmapHeader(data, size, layout) != bitmap::Error::None)
        return 0;
    const auto width = static_cast<std::uint32_t>(layout.header.width);
    const auto height = static_cast<std::uint32_t>(layout.header.height);
    // Decoding is linear in the pixels; keep each run quick.
    if (static_cast<std::uint64_t>(width) * height > (1u << 20))
        return 0;
    std::vector<std::uint32_t> row(width);
    for (std::uint32_t y = 0; y < height; ++y)
        bitmap::DecodeRow(layout, data, size, y, row.data());
    return 0;
}
