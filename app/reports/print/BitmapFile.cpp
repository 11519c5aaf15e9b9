#include "app/reports/print/BitmapFile.h"

#include <algorithm>
#include <cassert>
#include <memory>

#include "platform/ByteOrder.h"
#include "platform/File.h"

namespace bitmap {
namespace {

// Bytes asked for at a time: inputs need not say their size (a FIFO).
constexpr std::size_t kReadStep = 64 * 1024;

std::uint32_t Rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return 0xff000000u | (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) | b;
}

bool KnownBitCount(std::uint16_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

std::uint32_t ColorsOfBitCount(std::uint16_t bits) {
    switch (bits) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
    }
}

InfoHeader ParseInfoHeader(const std::uint8_t* p) {
    InfoHeader h;
    h.size = platform::LoadLe32(p);
    h.width = static_cast<std::int32_t>(platform::LoadLe32(p + 4));
    h.height = static_cast<std::int32_t>(platform::LoadLe32(p + 8));
    h.planes = platform::LoadLe16(p + 12);
    h.bitCount = platform::LoadLe16(p + 14);
    h.compression = platform::LoadLe32(p + 16);
    h.sizeImage = platform::LoadLe32(p + 20);
    h.xPelsPerMeter = static_cast<std::int32_t>(platform::LoadLe32(p + 24));
    h.yPelsPerMeter = static_cast<std::int32_t>(platform::LoadLe32(p + 28));
    h.clrUsed = platform::LoadLe32(p + 32);
    h.clrImportant = platform::LoadLe32(p + 36);
    return h;
}

// The core header becomes an information header with no compression, no
// image size and both colour counts set to its colour count.
InfoHeader WidenCoreHeader(const std::uint8_t* p) {
    InfoHeader h;
    h.size = kInfoHeaderBytes;
    h.width = platform::LoadLe16(p + 4);
    h.height = platform::LoadLe16(p + 6);
    h.planes = platform::LoadLe16(p + 8);
    h.bitCount = platform::LoadLe16(p + 10);
    h.clrUsed = h.clrImportant = ColorsOfBitCount(h.bitCount);
    return h;
}

Error CheckHeader(const InfoHeader& h) {
    if (h.planes != 1)
        return Error::BadPlanes;
    if (!KnownBitCount(h.bitCount))
        return Error::BadBitCount;
    if (h.compression != kCompressionNone)
        return Error::Compressed;
    if (h.width <= 0 || h.height <= 0)
        return Error::BadDimensions;
    if (static_cast<std::uint32_t>(h.width) > kMaxDimension || static_cast<std::uint32_t>(h.height) > kMaxDimension ||
        static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height) > kMaxPixels)
        return Error::BadDimensions;
    if (h.clrUsed > kMaxColors)
        return Error::BadColorCount;
    if (h.bitCount <= 8 && h.clrUsed > ColorsOfBitCount(h.bitCount))
        return Error::BadColorCount;
    return Error::None;
}

} // namespace

const char* ErrorText(Error error) {
    switch (error) {
    case Error::None: return "No error";
    case Error::CannotOpen: return "The bitmap file cannot be opened";
    case Error::FileTooLarge: return "The bitmap file is too large";
    case Error::TooShort: return "The bitmap file is shorter than its headers";
    case Error::BadHeaderSize: return "The bitmap header has an unknown size";
    case Error::BadPlanes: return "The bitmap has more than one plane";
    case Error::BadBitCount: return "The bitmap has an unknown number of bits per pixel";
    case Error::Compressed: return "Compressed bitmaps are not read";
    case Error::BadDimensions: return "The bitmap's width or height is out of range";
    case Error::BadColorCount: return "The bitmap's colour count is out of range";
    case Error::BadImageSize: return "The bitmap's image size is smaller than its rows";
    case Error::BadOffset: return "The bitmap's pixel offset is out of range";
    case Error::PixelsTruncated: return "The bitmap file ends before its last row";
    }
    return "Unknown bitmap error";
}

std::uint32_t GetColorCount(const InfoHeader& header, bool coreHeader) {
    if (!coreHeader && header.clrUsed != 0)
        return header.clrUsed;
    return ColorsOfBitCount(header.bitCount);
}

std::size_t GetPaletteBytes(const InfoHeader& header, bool coreHeader) {
    return static_cast<std::size_t>(GetColorCount(header, coreHeader)) * (coreHeader ? 3 : 4);
}

std::uint64_t RowStride(std::uint32_t width, std::uint32_t bitCount) {
    return (static_cast<std::uint64_t>(width) * bitCount + 31) / 32 * 4;
}

Error ReadBitmapHeader(const std::uint8_t* data, std::size_t size, Layout& out) {
    out = Layout{};
    std::size_t pos = 0;
    std::uint32_t fileOffset = 0;
    if (size >= 2 && platform::LoadLe16(data) == kFileType) {
        if (size < kFileHeaderBytes)
            return Error::TooShort;
        fileOffset = platform::LoadLe32(data + 10);
        pos = kFileHeaderBytes;
    }
    if (size - pos < 4)
        return Error::TooShort;
    const std::uint32_t headerSize = platform::LoadLe32(data + pos);
    if (headerSize != kInfoHeaderBytes && headerSize != kCoreHeaderBytes)
        return Error::BadHeaderSize;
    if (size - pos < headerSize)
        return Error::TooShort;

    out.coreHeader = headerSize == kCoreHeaderBytes;
    InfoHeader h = out.coreHeader ? WidenCoreHeader(data + pos) : ParseInfoHeader(data + pos);
    if (Error e = CheckHeader(h); e != Error::None)
        return e;
    pos += headerSize;

    const std::uint32_t colors = GetColorCount(h, out.coreHeader);
    const std::size_t paletteBytes = GetPaletteBytes(h, out.coreHeader);
    if (size - pos < paletteBytes)
        return Error::TooShort;

    const std::uint64_t stride = RowStride(static_cast<std::uint32_t>(h.width), h.bitCount);
    const std::uint64_t imageBytes = stride * static_cast<std::uint64_t>(h.height);
    if (h.sizeImage != 0 && h.sizeImage < imageBytes)
        return Error::BadImageSize;
    if (h.sizeImage == 0)
        h.sizeImage = static_cast<std::uint32_t>(imageBytes);
    if (h.clrUsed == 0)
        h.clrUsed = colors;

    const std::size_t tableEnd = pos + paletteBytes;
    std::size_t pixels = tableEnd;
    if (fileOffset != 0) {
        if (fileOffset < tableEnd || fileOffset > size)
            return Error::BadOffset;
        pixels = fileOffset;
    }
    if (size - pixels < imageBytes)
        return Error::PixelsTruncated;

    out.palette.reserve(colors);
    const std::size_t entryBytes = out.coreHeader ? 3 : 4;
    for (std::uint32_t i = 0; i < colors; ++i) {
        const std::uint8_t* e = data + pos + i * entryBytes;
        out.palette.push_back(Rgb(e[2], e[1], e[0]));
    }
    out.header = h;
    out.pixelOffset = pixels;
    out.stride = static_cast<std::size_t>(stride);
    return Error::None;
}

void DecodeRow(const Layout& layout, const std::uint8_t* data, std::size_t size, std::uint32_t row,
               std::uint32_t* out) {
    const InfoHeader& h = layout.header;
    const auto width = static_cast<std::uint32_t>(h.width);
    const auto height = static_cast<std::uint32_t>(h.height);
    assert(row < height);
    // Rows are stored bottom-up.
    const std::size_t start = layout.pixelOffset + (height - 1 - row) * layout.stride;
    assert(start <= size && size - start >= layout.stride);
    (void)size;
    const std::uint8_t* p = data + start;
    auto paletteColor = [&](std::uint32_t index) {
        return index < layout.palette.size() ? layout.palette[index] : Rgb(0, 0, 0);
    };
    for (std::uint32_t x = 0; x < width; ++x) {
        switch (h.bitCount) {
        case 1: out[x] = paletteColor((p[x / 8] >> (7 - x % 8)) & 1); break;
        case 4: out[x] = paletteColor((p[x / 2] >> (x % 2 ? 0 : 4)) & 0x0f); break;
        case 8: out[x] = paletteColor(p[x]); break;
        case 16: {
            const std::uint16_t v = platform::LoadLe16(p + 2 * x);
            auto five = [](unsigned c) { return static_cast<std::uint8_t>((c << 3) | (c >> 2)); };
            out[x] = Rgb(five((v >> 10) & 31), five((v >> 5) & 31), five(v & 31));
            break;
        }
        case 24: out[x] = Rgb(p[3 * x + 2], p[3 * x + 1], p[3 * x]); break;
        default: out[x] = Rgb(p[4 * x + 2], p[4 * x + 1], p[4 * x]); break;
        }
    }
}

Error ReadBitmapFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    // Opened without waiting and read to its end, as every other input is: a
    // FIFO once its writer came, a file that changes meanwhile as it then is.
    const platform::HANDLE h = platform::CreateFile(path.c_str(), platform::GENERIC_READ, platform::FILE_SHARE_READ,
                                                    platform::OPEN_EXISTING, platform::FILE_ATTRIBUTE_NORMAL);
    if (h == platform::INVALID_HANDLE_VALUE)
        return Error::CannotOpen;
    const std::unique_ptr<const platform::HANDLE, void (*)(const platform::HANDLE*)> closer(
        &h, [](const platform::HANDLE* open) { platform::CloseHandle(*open); });
    if (platform::IsRegularHandle(h)) {
        DWORD high = 0;
        const DWORD low = platform::GetFileSize(h, &high);
        if (((static_cast<std::uint64_t>(high) << 32) | low) > kMaxFileBytes)
            return Error::FileTooLarge;
    }
    if (!platform::WaitForWriter(h))
        return Error::CannotOpen;
    for (;;) {
        const std::size_t have = bytes.size();
        // One byte past the limit tells an input too large from one just at it.
        const std::size_t room = std::min(kReadStep, kMaxFileBytes + 1 - have);
        bytes.resize(have + room);
        DWORD got = 0;
        if (!platform::ReadFile(h, bytes.data() + have, static_cast<DWORD>(room), &got)) {
            bytes.clear();
            return Error::CannotOpen;
        }
        bytes.resize(have + got);
        if (bytes.size() > kMaxFileBytes) {
            bytes.clear();
            return Error::FileTooLarge;
        }
        if (got == 0)
            return Error::None;
    }
}

} // namespace bitmap
