// Bitmap files: the header logic, the refusal of malformed files, and the
// pixels compared with what python's imaging library wrote and reads back.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <cstring>
#include <sys/stat.h>

#include "PrintTestSupport.h"
#include "app/reports/print/BitmapFile.h"
#include "app/reports/print/Page.h"
#include "app/reports/print/Printer.h"
#include "tests/support/TestSupport.h"

using namespace printtest;
using bitmap::Error;

namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = v & 0xff;
    b[at + 1] = (v >> 8) & 0xff;
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = (v >> (8 * i)) & 0xff;
}

// A well-formed file: file header, 40-byte header, colour table, rows.
struct BmpShape {
    std::int32_t width = 4;
    std::int32_t height = 3;
    std::uint16_t bits = 8;
    std::uint32_t colors = 0; // used-colour count written to the header
    bool fileHeader = true;
    bool core = false;
};

std::vector<std::uint8_t> MakeBmp(const BmpShape& s) {
    const std::uint32_t headerSize = s.core ? 12 : 40;
    std::uint32_t colors = s.colors;
    if (colors == 0 && s.bits <= 8)
        colors = 1u << s.bits;
    const std::uint32_t entry = s.core ? 3 : 4;
    const std::uint32_t stride = ((static_cast<std::uint32_t>(s.width) * s.bits + 31) / 32) * 4;
    const std::uint32_t pre = s.fileHeader ? 14 : 0;
    const std::uint32_t offset = pre + headerSize + colors * entry;
    std::vector<std::uint8_t> b(offset + stride * static_cast<std::uint32_t>(std::abs(s.height)));
    if (s.fileHeader) {
        b[0] = 'B';
        b[1] = 'M';
        Put32(b, 2, static_cast<std::uint32_t>(b.size()));
        Put32(b, 10, offset);
    }
    Put32(b, pre, headerSize);
    if (s.core) {
        Put16(b, pre + 4, static_cast<std::uint32_t>(s.width));
        Put16(b, pre + 6, static_cast<std::uint32_t>(s.height));
        Put16(b, pre + 8, 1);
        Put16(b, pre + 10, s.bits);
    } else {
        Put32(b, pre + 4, static_cast<std::uint32_t>(s.width));
        Put32(b, pre + 8, static_cast<std::uint32_t>(s.height));
        Put16(b, pre + 12, 1);
        Put16(b, pre + 14, s.bits);
        Put32(b, pre + 32, s.colors);
    }
    // Colour i is (blue i, green 2i, red 3i).
    for (std::uint32_t i = 0; i < colors; ++i) {
        const std::size_t at = pre + headerSize + i * entry;
        b[at] = static_cast<std::uint8_t>(i);
        b[at + 1] = static_cast<std::uint8_t>(2 * i);
        b[at + 2] = static_cast<std::uint8_t>(3 * i);
    }
    // Bottom row first: every byte of file row k is k + 1.
    for (std::int32_t k = 0; k < std::abs(s.height); ++k)
        std::memset(b.data() + offset + k * stride, k + 1, stride);
    return b;
}

Error Parse(const std::vector<std::uint8_t>& b, bitmap::Layout* out = nullptr) {
    bitmap::Layout layout;
    const Error e = bitmap::ReadBitmapHeader(b.data(), b.size(), layout);
    if (out)
        *out = layout;
    return e;
}

QString WriteFile(const QString& name, const std::vector<std::uint8_t>& bytes) {
    const QString path = TempPath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    return path;
}

TEST(BitmapHeader, EightBitWithoutFileHeaderReadsItsFullColourTable) {
    BmpShape s;
    s.fileHeader = false;
    bitmap::Layout layout;
    ASSERT_EQ(Parse(MakeBmp(s), &layout), Error::None);
    EXPECT_EQ(layout.palette.size(), 256u);
    EXPECT_EQ(layout.pixelOffset, 40u + 256 * 4);
    EXPECT_EQ(layout.header.clrUsed, 256u);
    EXPECT_EQ(layout.header.sizeImage, 4u * 3); // filled in
    std::vector<std::uint32_t> row(4);
    bitmap::DecodeRow(layout, MakeBmp(s).data(), MakeBmp(s).size(), 0, row.data());
    // The top row is the last in the file: index 3 = red 9, green 6, blue 3.
    EXPECT_EQ(row[0], 0xff090603u);
}

TEST(BitmapHeader, CoreHeaderWidensToFourByteEntries) {
    BmpShape s;
    s.core = true;
    s.bits = 4;
    const std::vector<std::uint8_t> b = MakeBmp(s);
    bitmap::Layout layout;
    ASSERT_EQ(Parse(b, &layout), Error::None);
    EXPECT_TRUE(layout.coreHeader);
    EXPECT_EQ(layout.header.size, 40u);
    EXPECT_EQ(layout.header.clrUsed, 16u);
    ASSERT_EQ(layout.palette.size(), 16u);
    EXPECT_EQ(layout.palette[15], 0xff2d1e0fu);
    EXPECT_EQ(bitmap::GetPaletteBytes(layout.header, true), 48u);
    EXPECT_EQ(bitmap::GetPaletteBytes(layout.header, false), 64u);
    // Bottom row bytes are 0x01: pixels alternate colour 0 and colour 1.
    std::vector<std::uint32_t> row(4);
    bitmap::DecodeRow(layout, b.data(), b.size(), 2, row.data());
    EXPECT_EQ(row[0], 0xff000000u);
    EXPECT_EQ(row[1], 0xff030201u);
}

TEST(BitmapHeader, ColourCountFollowsBitsUnlessTheHeaderGivesOne) {
    const struct {
        std::uint16_t bits;
        std::uint32_t used;
        std::uint32_t expected;
    } cases[] = {{1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 20, 20}, {16, 0, 0}, {24, 0, 0}, {24, 5, 5}, {32, 0, 0}};
    for (const auto& c : cases) {
        BmpShape s;
        s.bits = c.bits;
        s.colors = c.used;
        bitmap::Layout layout;
        ASSERT_EQ(Parse(MakeBmp(s), &layout), Error::None) << c.bits << "/" << c.used;
        EXPECT_EQ(layout.palette.size(), c.expected) << c.bits << "/" << c.used;
        EXPECT_EQ(bitmap::GetColorCount(layout.header, false), c.expected);
    }
}

TEST(BitmapHeader, MalformedFilesAreRefused) {
    const BmpShape good;
    const std::vector<std::uint8_t> base = MakeBmp(good);
    auto with = [&](auto change) {
        std::vector<std::uint8_t> b = base;
        change(b);
        return b;
    };
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
        Error expected;
    } cases[] = {
        {"empty", {}, Error::TooShort},
        {"file header only", std::vector<std::uint8_t>(base.begin(), base.begin() + 14), Error::TooShort},
        {"header cut", std::vector<std::uint8_t>(base.begin(), base.begin() + 40), Error::TooShort},
        {"colour table cut", std::vector<std::uint8_t>(base.begin(), base.begin() + 300), Error::TooShort},
        {"last row cut", std::vector<std::uint8_t>(base.begin(), base.end() - 1), Error::PixelsTruncated},
        {"header size 124", with([](auto& b) { Put32(b, 14, 124); }), Error::BadHeaderSize},
        {"header size 0", with([](auto& b) { Put32(b, 14, 0); }), Error::BadHeaderSize},
        {"two planes", with([](auto& b) { Put16(b, 26, 2); }), Error::BadPlanes},
        {"3 bits", with([](auto& b) { Put16(b, 28, 3); }), Error::BadBitCount},
        {"run-length", with([](auto& b) { Put32(b, 30, 1); }), Error::Compressed},
        {"negative height", with([](auto& b) { Put32(b, 22, static_cast<std::uint32_t>(-3)); }), Error::BadDimensions},
        {"zero width", with([](auto& b) { Put32(b, 18, 0); }), Error::BadDimensions},
        {"huge width", with([](auto& b) { Put32(b, 18, 0x7fffffff); }), Error::BadDimensions},
        {"huge area", with([](auto& b) {
             Put32(b, 18, 30000);
             Put32(b, 22, 30000);
         }),
         Error::BadDimensions},
        {"absurd colours", with([](auto& b) { Put32(b, 46, 0xffffffff); }), Error::BadColorCount},
        {"300 colours of 8 bits", with([](auto& b) { Put32(b, 46, 300); }), Error::BadColorCount},
        {"image size too small", with([](auto& b) { Put32(b, 34, 4); }), Error::BadImageSize},
        {"offset into the header", with([](auto& b) { Put32(b, 10, 20); }), Error::BadOffset},
        {"offset past the end", with([](auto& b) { Put32(b, 10, 1u << 30); }), Error::BadOffset},
        {"offset leaves rows short", with([](auto& b) { Put32(b, 10, 14 + 40 + 1024 + 4); }), Error::PixelsTruncated},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Parse(c.bytes), c.expected) << c.name;
        if (c.bytes.empty())
            continue;
        EXPECT_TRUE(ReadBitmapImage(WriteFile("bad.bmp", c.bytes)).isNull()) << c.name;
    }
    {
        BmpShape s;
        s.bits = 1;
        s.colors = 3;
        EXPECT_EQ(Parse(MakeBmp(s)), Error::BadColorCount);
    }
}

TEST(BitmapFile, MissingFolderOrFileIsNotRead) {
    std::vector<std::uint8_t> bytes;
    EXPECT_EQ(bitmap::ReadBitmapFile(TempPath("none.bmp").toStdString(), bytes), Error::CannotOpen);
    EXPECT_EQ(bitmap::ReadBitmapFile(TempPath("").toStdString(), bytes), Error::CannotOpen);
}

// A FIFO as the bitmap, its producer there before the call or after it:
// read to its end as python's read() of the same FIFO reads it, and drawn as
// the same bytes from a file are; one past the limit is refused, not held.
TEST(BitmapFile, AFifoIsReadToItsEndWhicheverComesFirst) {
    BmpShape s;
    s.bits = 24;
    s.width = 300;
    s.height = 200; // 180,054 bytes: several reads
    const std::vector<std::uint8_t> b = MakeBmp(s);
    const std::string data(b.begin(), b.end());
    const std::string fifo = TempPath("in.bmp").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const bool producerFirst : {true, false}) {
        SCOPED_TRACE(producerFirst ? "producer first" : "reader first");
        EXPECT_EQ(grvtest::PythonReadOfFifo(fifo, data, producerFirst), data);
        std::vector<std::uint8_t> bytes;
        Error read = Error::CannotOpen;
        grvtest::FeedFifo(fifo, data, producerFirst, [&] { read = bitmap::ReadBitmapFile(fifo, bytes); });
        EXPECT_EQ(read, Error::None);
        EXPECT_TRUE(bytes == b);
    }
    std::vector<std::uint8_t> bytes;
    Error read = Error::None;
    grvtest::FeedFifo(fifo, std::string(bitmap::kMaxFileBytes + 1, 'x'), true,
                      [&] { read = bitmap::ReadBitmapFile(fifo, bytes); });
    EXPECT_EQ(read, Error::FileTooLarge);
    EXPECT_TRUE(bytes.empty());
}

// Files written by python's imaging library, in each mode it writes as BMP.
TEST(BitmapFile, PixelsMatchThoseOfAnIndependentWriter) {
    const QString folder = TempPath("pil");
    const char* script = R"py(
import sys
from PIL import Image
folder = sys.argv[1]
w, h = 37, 21
rgb = Image.new("RGB", (w, h))
rgb.putdata([((x * 37 + y * 11) % 256, (x * 7) % 256, (y * 13) % 256) for y in range(h) for x in range(w)])
pal = Image.new("P", (w, h))
pal.putpalette([v for i in range(256) for v in ((i * 5) % 256, (i * 3) % 256, 255 - i)])
pal.putdata([(x + 3 * y) % 256 for y in range(h) for x in range(w)])
bw = Image.new("1", (w, h))
bw.putdata([255 if (x ^ y) & 1 else 0 for y in range(h) for x in range(w)])
gray = Image.new("L", (w, h))
gray.putdata([(x * y) % 256 for y in range(h) for x in range(w)])
for name, img in (("rgb", rgb), ("pal", pal), ("bw", bw), ("gray", gray)):
    img.save(f"{folder}/{name}.bmp")
    with Image.open(f"{folder}/{name}.bmp") as back:
        open(f"{folder}/{name}.rgb", "wb").write(back.convert("RGB").tobytes())
)py";
    ASSERT_TRUE(QDir().mkpath(folder));
    int exitCode = -1;
    printtest::Run("/usr/bin/python3", {"-c", script, folder}, &exitCode);
    ASSERT_EQ(exitCode, 0) << "python3-pil is needed (scripts/packages/printing.txt)";
    for (const char* name : {"rgb", "pal", "bw", "gray"}) {
        const QImage image = ReadBitmapImage(folder + "/" + name + ".bmp");
        ASSERT_FALSE(image.isNull()) << name;
        ASSERT_EQ(image.size(), QSize(37, 21)) << name;
        QFile raw(folder + "/" + name + ".rgb");
        ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
        const QByteArray expected = raw.readAll();
        ASSERT_EQ(expected.size(), 37 * 21 * 3);
        int wrong = 0;
        for (int y = 0; y < 21; ++y)
            for (int x = 0; x < 37; ++x) {
                const auto* e = reinterpret_cast<const unsigned char*>(expected.constData()) + 3 * (y * 37 + x);
                wrong += image.pixel(x, y) != qRgb(e[0], e[1], e[2]);
            }
        EXPECT_EQ(wrong, 0) << name;
    }
}

TEST(BitmapPrint, StretchesIntoTheRectangleAndReportsSuccess) {
    BmpShape s;
    s.bits = 24;
    s.width = 2;
    s.height = 2;
    std::vector<std::uint8_t> b = MakeBmp(s);
    // Bottom row blue-ish (bytes 1), top row (bytes 2): both dark.
    const QString path = WriteFile("small.bmp", b);
    ImageCanvas canvas(200, 200, 100);
    CPage page({0, 0, 200, 200}, canvas.Dc(), print::kMapText);
    PrintState& state = page.State();
    state.left = 20;
    state.top = 30;
    state.right = 120;
    state.bottom = 90;
    state.text = path;
    EXPECT_EQ(PrintBitmapFile(&state), 1);
    EXPECT_EQ(state.right, 100);
    EXPECT_EQ(state.bottom, 60);
    state.text = TempPath("missing.bmp");
    EXPECT_EQ(PrintBitmapFile(&state), 0);
    // Through the page: the state is as before afterwards.
    page.PrintBitmap(150, 150, 190, 190, path.toUtf8().constData());
    EXPECT_EQ(page.State().right, 100);
    EXPECT_TRUE(canvas.IsDark(70, 60));
    EXPECT_TRUE(canvas.IsDark(170, 170));
    EXPECT_FALSE(canvas.IsDark(10, 10));
    EXPECT_FALSE(canvas.IsDark(125, 60));
}

} // namespace

namespace {

// The fuzz harness's seeds are all readable bitmaps of each layout.
TEST(BitmapFile, SeedCorpusFilesAreRead) {
    const QDir folder(QString(GRV_TEST_DATA_DIR) + "/fuzz/fuzz_bitmap_file");
    const QStringList files = folder.entryList({"*.bmp"}, QDir::Files);
    ASSERT_GE(files.size(), 6);
    for (const QString& name : files) {
        const QImage image = ReadBitmapImage(folder.filePath(name));
        EXPECT_FALSE(image.isNull()) << name.toStdString();
    }
    const QImage core = ReadBitmapImage(folder.filePath("core4.bmp"));
    ASSERT_EQ(core.size(), QSize(3, 2));
    EXPECT_EQ(core.pixel(0, 0), qRgb(5, 4, 3)); // colour 1 of the widened table
    const QImage bare = ReadBitmapImage(folder.filePath("bare16.bmp"));
    ASSERT_EQ(bare.size(), QSize(2, 2));
    EXPECT_EQ(bare.pixel(0, 0), qRgb(255, 255, 255)); // 0x7fff
    EXPECT_EQ(bare.pixel(1, 0), qRgb(255, 0, 0));     // 0x7c00
}

} // namespace
