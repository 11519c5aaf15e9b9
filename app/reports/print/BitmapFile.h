#pragma once
// Device-independent bitmap files (".bmp"): the header logic of the printer
// component, Qt-free so a fuzzer can run over it. Everything taken from a
// file is checked against the file's own length before it is used.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bitmap {

constexpr std::uint16_t kFileType = 0x4D42; // "BM"
constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::uint32_t kInfoHeaderBytes = 40;
constexpr std::uint32_t kCoreHeaderBytes = 12;
constexpr std::uint32_t kCompressionNone = 0;

// Limits for untrusted files: a page never needs more.
constexpr std::size_t kMaxFileBytes = 128u << 20;
constexpr std::uint32_t kMaxDimension = 32767;
constexpr std::uint64_t kMaxPixels = 1ull << 26;
constexpr std::uint32_t kMaxColors = 256;

enum class Error {
    None,
    CannotOpen,
    FileTooLarge,
    TooShort,      // shorter than its headers or colour table
    BadHeaderSize, // neither an information nor a core header
    BadPlanes,
    BadBitCount,
    Compressed,    // run-length and bit-field bitmaps are not read
    BadDimensions, // zero, negative (top-down) or beyond the limits
    BadColorCount,
    BadImageSize,    // the header's image size is smaller than its rows
    BadOffset,       // pixel offset inside the headers or beyond the file
    PixelsTruncated, // the file ends before the last row
};

const char* ErrorText(Error error);

// The information header; a core header is widened into it.
struct InfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t clrUsed = 0;
    std::uint32_t clrImportant = 0;
};

// A bitmap whose header, colour table and rows were all found in the file.
struct Layout {
    InfoHeader header;                  // image size and colour count filled in
    bool coreHeader = false;            // the file held the older 12-byte header
    std::vector<std::uint32_t> palette; // 0xffRRGGBB, widened from the file
    std::size_t pixelOffset = 0;        // first byte of the bottom row
    std::size_t stride = 0;             // bytes of one row, padded to 4
};

// Colour-table entries of a header: a used-colour count when the header
// gives one, else 2, 16 or 256 by bits per pixel, else 0.
std::uint32_t GetColorCount(const InfoHeader& header, bool coreHeader);
// Bytes of the colour table in the file: 4 an entry, 3 for a core header.
std::size_t GetPaletteBytes(const InfoHeader& header, bool coreHeader);
// Bytes of one row of pixels, padded to a multiple of 4.
std::uint64_t RowStride(std::uint32_t width, std::uint32_t bitCount);

// Reads the headers and colour table of a whole file held in memory, with or
// without its 14-byte file header.
Error ReadBitmapHeader(const std::uint8_t* data, std::size_t size, Layout& out);

// Pixels of one row (0 = top row) as 0xffRRGGBB; out holds header.width values.
// data/size must be the bytes ReadBitmapHeader accepted for this layout.
void DecodeRow(const Layout& layout, const std::uint8_t* data, std::size_t size, std::uint32_t row, std::uint32_t* out);

// Reads a whole file (a FIFO once its writer came), refusing one larger than
// kMaxFileBytes: a regular file before reading it.
Error ReadBitmapFile(const std::string& path, std::vector<std::uint8_t>& bytes);

} // namespace bitmap
