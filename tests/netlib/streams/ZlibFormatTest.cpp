// The zlib-format wrapper judged by zlib and python3's zlib.decompressobj,
// and the pipeline routines by round trips through zlib and the CRC of
// "123456789".
#include <gtest/gtest.h>

#include <zlib.h>

#include <random>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/FileSys.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/PipelineHelp.h"
#include "netlib/streams/StreamConstants.h"
#include "netlib/streams/TessikDeflate.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/netlib/streams/Bzip2TestSupport.h"
#include "tests/netlib/streams/ZlibPeer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using zpeer::Bytes;
using zpeer::randomBytes;

namespace {

Bytes bytesOf(const DataBuffer& db) {
    return Bytes(db.getData(), db.getData() + db.getSize());
}

void fill(DataBuffer& db, const Bytes& b) {
    db.clear();
    db.append(b.data(), static_cast<unsigned>(b.size()));
}

TEST(TessikDeflate, ChunksOfOneStreamDecodeWithPython) {
    TessikDeflate z;
    DataBuffer out, in;
    LogNull log;
    ASSERT_TRUE(z.beginCompress(out));
    // Ten bytes: the zlib header, a stored block and the empty one of the flush.
    fill(in, Bytes{'p', 'a', 'i', 'n', ' ', 'l', 'e', 'v', 'e', 'l'});
    ASSERT_TRUE(z.compressChunk(in, out, log, nullptr));
    const std::size_t firstSize = out.getSize();
    EXPECT_EQ(firstSize, 2u + 5u + 10u + 5u);

    // A thousand bytes take the fast routine; no second header.
    Bytes text = bz2test::corpus()[1].data;
    text.resize(1000);
    Bytes noise = randomBytes(150000, 5); // far more than the 60,000-byte work buffer
    Bytes all = {'p', 'a', 'i', 'n', ' ', 'l', 'e', 'v', 'e', 'l'};
    for (const Bytes* chunk : {&text, &noise, &text}) {
        fill(in, *chunk);
        std::uint32_t before = out.getSize();
        ASSERT_TRUE(z.compressChunk(in, out, log, nullptr));
        EXPECT_NE(out.getData()[before], 0x78);
        EXPECT_TRUE(bytesOf(out).back() == 0xFF);
        all.insert(all.end(), chunk->begin(), chunk->end());
    }
    EXPECT_NE((out.getData()[firstSize] >> 1) & 3, 0) << "1000 bytes of text are compressed, not stored";

    grvtest::TempDir temp("zlib-format");
    const std::string& dir = temp.Path();
    ASSERT_TRUE(grvtest::WriteFile(dir + "/stream", bytesOf(out)));
    ASSERT_TRUE(grvtest::WriteFile(dir + "/plain", all));
    EXPECT_EQ(python3Line("import sys,zlib; d=sys.argv[1]; "
                          "print(zlib.decompressobj().decompress(open(d+'/stream','rb').read())=="
                          "open(d+'/plain','rb').read())",
                          dir),
              "True");
}

// zlib's own streams, raw through the XML component's inflater and framed
// through the HTTP deflate coding, the two readers of whole streams.
TEST(TessikDeflate, ZlibsOwnStreamsDecode) {
    for (const auto& f : bz2test::corpus()) {
        for (int level : {0, 1, 9}) {
            SCOPED_TRACE(f.name + " level " + std::to_string(level));
            LogNull log;
            DataBuffer raw, rawBack;
            fill(raw, zpeer::deflate(f.data, level, Z_DEFAULT_STRATEGY, false));
            ASSERT_TRUE(TessikDeflate::inflateFromSource(raw, rawBack, log));
            EXPECT_TRUE(bytesOf(rawBack) == f.data);
            const Bytes framed = zpeer::deflate(f.data, level, Z_DEFAULT_STRATEGY, true);
            MemoryDataSource source;
            source.setData(framed.data(), static_cast<std::uint32_t>(framed.size()), false);
            DataBuffer back;
            OutputDataBuffer out(&back);
            ASSERT_TRUE(Gzip::unDeflateSource(source, out, log));
            EXPECT_TRUE(bytesOf(back) == f.data);
        }
    }
}

// What may follow the deflate data, by one rule on both readers of whole
// streams: raw data takes at most four bytes of anything after it, zlib data
// its Adler-32 and nothing more. python's zlib finds the stream ending where
// they do (its unused_data is the tail).
TEST(TessikDeflate, BytesAfterTheStreamAreJudgedByOneRule) {
    const Bytes& text = bz2test::corpus()[1].data;
    const Bytes raw = zpeer::deflate(text, 6, Z_DEFAULT_STRATEGY, false);
    const Bytes framed = zpeer::deflate(text, 6, Z_DEFAULT_STRATEGY, true);
    const Bytes adler(framed.end() - 4, framed.end());
    const struct {
        const char* what;
        bool zlib;
        std::size_t cut; // bytes taken off the stream's own end
        Bytes tail;
        const char* fault; // null: whole
    } cases[] = {
        {"raw", false, 0, {}, nullptr},
        {"raw, four bytes after", false, 0, {1, 2, 3, 4}, nullptr},
        {"raw, its lost header's checksum after", false, 0, adler, nullptr},
        {"raw, five bytes after", false, 0, {1, 2, 3, 4, 5}, gzip_msg::kAfterDeflate},
        {"zlib", true, 0, {}, nullptr},
        {"zlib, a byte after", true, 0, {0}, gzip_msg::kAfterDeflate},
        {"zlib, no checksum", true, 4, {}, gzip_msg::kNoTrailer},
        {"zlib, half a checksum", true, 2, {}, gzip_msg::kNoTrailer},
        {"zlib, a wrong checksum", true, 1, {0}, gzip_msg::kAdlerMismatch},
    };
    grvtest::TempDir temp("zlib-tail");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes in = c.zlib ? framed : raw;
        in.resize(in.size() - c.cut);
        in.insert(in.end(), c.tail.begin(), c.tail.end());
        ASSERT_TRUE(grvtest::WriteFile(temp.File("in"), in));
        if (!c.zlib) {
            EXPECT_EQ(python3Line("import sys,zlib\n"
                                  "d=zlib.decompressobj(-15)\n"
                                  "d.decompress(open(sys.argv[1]+'/in','rb').read())\n"
                                  "print(d.eof, len(d.unused_data))",
                                  temp.Path()),
                      "True " + std::to_string(c.tail.size()));
        }

        MemoryDataSource source;
        source.setData(in.data(), static_cast<std::uint32_t>(in.size()), false);
        DataBuffer httpOut;
        OutputDataBuffer out(&httpOut);
        RecordingLog http;
        EXPECT_EQ(Gzip::unDeflateSource(source, out, http), c.fault == nullptr) << http.all();
        EXPECT_TRUE(bytesOf(httpOut) == text);
        if (c.fault) {
            EXPECT_TRUE(http.has(std::string("E:") + c.fault)) << http.all();
        }
        if (c.zlib)
            continue;
        DataBuffer xmlIn, xmlOut;
        fill(xmlIn, in);
        RecordingLog xml;
        EXPECT_EQ(TessikDeflate::inflateFromSource(xmlIn, xmlOut, xml), c.fault == nullptr) << xml.all();
        EXPECT_TRUE(bytesOf(xmlOut) == text);
        if (c.fault) {
            EXPECT_TRUE(xml.has(std::string("E:") + c.fault)) << xml.all();
        }
    }
}

TEST(TessikDeflate, ShortCutAndUnstartedInputsFail) {
    DataBuffer in, out;
    RecordingLog log;
    DataBuffer empty;
    EXPECT_FALSE(TessikDeflate::inflateFromSource(empty, out, log));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kDeflatedEndedEarly));

    // Cut between blocks (after a full flush) and inside a block.
    Bytes text = bz2test::corpus()[1].data;
    Bytes stream = zpeer::deflate(text, 6, Z_DEFAULT_STRATEGY, false, {{20000, Z_FULL_FLUSH}});
    Bytes marker = {0x00, 0x00, 0xFF, 0xFF};
    auto flushEnd = std::search(stream.begin(), stream.end(), marker.begin(), marker.end()) + 4;
    Bytes between(stream.begin(), flushEnd), inside(stream.begin(), flushEnd + 100);
    RecordingLog cut;
    fill(in, between);
    EXPECT_FALSE(TessikDeflate::inflateFromSource(in, out, cut));
    EXPECT_EQ(cut.data("deflateError"), "<none>");
    EXPECT_TRUE(cut.has("L:deflateError=1")) << cut.all();
    // A whole raw stream must reach its final block, as zlib has it.
    grvtest::TempDir temp("zlib-cut");
    for (const Bytes& cutStream : {between, inside}) {
        ASSERT_TRUE(grvtest::WriteFile(temp.File("cut"), cutStream));
        EXPECT_EQ(python3Line("import sys,zlib\n"
                              "try: zlib.decompress(open(sys.argv[1]+'/cut','rb').read(), -15); print('read')\n"
                              "except zlib.error: print('refused')",
                              temp.Path()),
                  "refused");
    }
    fill(in, inside);
    EXPECT_FALSE(TessikDeflate::inflateFromSource(in, out, log)) << "nor inside one";

    TessikDeflate unstarted;
    fill(in, text);
    RecordingLog none;
    EXPECT_FALSE(unstarted.compressChunk(in, out, none, nullptr));
    EXPECT_TRUE(none.has(std::string("E:") + stream_msg::kDeflateNotInitialized));
}

// The zlib header is checked as zlib checks it, judged by zlib in this
// process on the same bytes: a failed check, a method other than deflate
// or a window past 32 KiB is refused with zlib's words; sound headers of
// every window size decode through the HTTP deflate coding.
TEST(TessikDeflate, ZlibHeaderIsCheckedAsZlibChecksIt) {
    Bytes text;
    for (int i = 0; i < 400; ++i)
        for (char ch : "entry " + std::to_string(i) + ": pain level " + std::to_string(i % 11) + "\n")
            text.push_back(static_cast<std::uint8_t>(ch));
    const Bytes framed = zpeer::deflate(text, 6, Z_DEFAULT_STRATEGY, true);
    const struct {
        std::uint8_t cmf;
        int flg; // -1: the one that passes the check
    } cases[] = {{0x78, -1},   {0x78, 0x01}, {0x78, 0xDA}, {0x08, -1}, {0x58, -1}, {0x78, 0x9D},
                 {0x78, 0x00}, {0x79, -1},   {0x7F, -1},   {0x77, -1}, {0x88, -1}, {0xF8, -1}};
    int refused = 0;
    for (const auto& c : cases) {
        Bytes z = framed;
        z[0] = c.cmf;
        z[1] = static_cast<std::uint8_t>(c.flg >= 0 ? c.flg : (31 - c.cmf * 256 % 31) % 31);
        const zpeer::Verdict zlib = zpeer::judge(z, true);
        SCOPED_TRACE(grvtest::ToHex(std::string(z.begin(), z.begin() + 2)) + " zlib: " + zlib.refusal);
        const char* fault = zlibHeaderFault(z[0], z[1]);
        EXPECT_EQ(std::string(fault ? fault : ""), zlib.complete ? "" : zlib.refusal);
        if (!zlib.complete) {
            ++refused;
            continue;
        }
        MemoryDataSource source;
        source.setData(z.data(), static_cast<std::uint32_t>(z.size()), false);
        DataBuffer back;
        OutputDataBuffer out(&back);
        LogNull log;
        EXPECT_TRUE(Gzip::unDeflateSource(source, out, log));
        EXPECT_TRUE(bytesOf(back) == zlib.out);
    }
    EXPECT_EQ(refused, 7);
}

// An output that fails from its first write.
class BrokenOutput : public Output {
public:
    std::uint32_t writeBytes(const void*, std::uint32_t, std::uint32_t, ProgressMonitor*, LogBase&) override {
        return 0;
    }
};

TEST(PipelineHelp, DeflateAndInflateRoutinesRoundTripWithTheirCrcs) {
    PipelineHelp help;
    LogNull log;
    std::uint32_t crc = 0;
    static const char kCheck[] = "123456789";
    ASSERT_TRUE(help.crcOfMemory(kCheck, 9, &crc, log));
    EXPECT_EQ(crc, 0xCBF43926u);

    for (const auto& f : bz2test::corpus()) {
        SCOPED_TRACE(f.name);
        DataBuffer packed;
        OutputDataBuffer out(&packed);
        PipelineHelp::Deflated d;
        // A null block is refused; an empty one is not.
        const void* data = f.data.empty() ? static_cast<const void*>("") : f.data.data();
        ASSERT_TRUE(help.deflateMemoryToOutput(data, f.data.size(), 6, true, out, d, log));
        EXPECT_EQ(d.uncompressedSize, f.data.size());
        EXPECT_EQ(d.compressedSize, packed.getSize());
        EXPECT_EQ(d.crc, static_cast<std::uint32_t>(crc32(0, f.data.data(), static_cast<uInt>(f.data.size()))));
        Bytes back;
        ASSERT_TRUE(zpeer::inflate(bytesOf(packed), &back));
        EXPECT_TRUE(back == f.data);

        DataBuffer plain;
        OutputDataBuffer plainOut(&plain);
        std::uint32_t inflatedCrc = 0;
        ASSERT_TRUE(help.inflateMemoryToOutput(packed.getData(), packed.getSize(), plainOut, &inflatedCrc, log, false));
        EXPECT_TRUE(bytesOf(plain) == f.data);
        EXPECT_EQ(inflatedCrc, d.crc);
    }

    DataBuffer packed;
    PipelineHelp::Deflated d;
    Bytes back;
    ASSERT_TRUE(help.deflateMemoryToDb("", 0, 6, true, packed, d, log));
    EXPECT_TRUE(zpeer::inflate(bytesOf(packed), &back) && back.empty() && d.crc == 0);

    // An output that fails at once: false, and nothing reported.
    BrokenOutput broken;
    const Bytes& text = bz2test::corpus()[1].data;
    EXPECT_FALSE(help.deflateMemoryToOutput(text.data(), text.size(), 6, true, broken, d, log));
    EXPECT_FALSE(help.copyMemoryWithCrc(text.data(), text.size(), broken, &crc, log));
}

class PipelineHelpFiles : public TempTree {};

TEST_F(PipelineHelpFiles, InflatingAFileTakesMemoryUpTo4000000BytesAndStreamsAbove) {
    Bytes data = randomBytes(3000000, 9);
    data.insert(data.end(), bz2test::corpus()[1].data.begin(), bz2test::corpus()[1].data.end());
    Bytes stream = zpeer::deflate(data, 1, Z_DEFAULT_STRATEGY, false);
    ASSERT_LT(stream.size(), 4000000u);
    std::uint32_t crcs[2] = {};
    for (std::size_t size : {4000000u, 4000001u}) {
        Bytes file = stream;
        file.resize(size, 0xEE); // bytes after the final block are never read as data
        std::string name = "entry-" + std::to_string(size);
        put(name, std::string(file.begin(), file.end()));
        DataBuffer plain;
        OutputDataBuffer out(&plain);
        PipelineHelp help;
        LogNull log;
        std::uint32_t crc = 0;
        ASSERT_TRUE(help.inflateFileToOutput(path(name).c_str(), out, &crc, log, false)) << size;
        EXPECT_TRUE(bytesOf(plain) == data) << size;
        crcs[size & 1] = crc;
    }
    EXPECT_EQ(crcs[0], crcs[1]);
    EXPECT_EQ(crcs[0], static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
}

TEST_F(PipelineHelpFiles, EncryptedCopyDecodesBackThroughTheDecryptionRoutine) {
    const Bytes& data = bz2test::corpus()[2].data;
    put("entry", std::string(data.begin(), data.end()));
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size())));
    PipelineHelp help;
    help.password.setString(" journal ");
    help.passwordProtect = true;
    help.checkCrc = crc;
    XPath p(path("entry"));
    TessikHandle handle;
    LogNull log;
    int errorKind = 0;
    ASSERT_TRUE(openFileForRead(handle, p, errorKind, &log));
    DataBuffer sealed;
    OutputDataBuffer out(&sealed);
    std::uint32_t gotCrc = 0;
    std::uint64_t in = 0, written = 0;
    ASSERT_TRUE(help.zipCrcFileHandleToOutput(&handle, out, &gotCrc, &in, &written, log));
    EXPECT_EQ(gotCrc, crc);
    EXPECT_EQ(in, data.size());
    EXPECT_EQ(written, data.size() + kZipCryptHeaderLength);

    PwdProtect cipher;
    cipher.setPassword(" journal ");
    cipher.initKeys(log);
    ASSERT_TRUE(cipher.checkHeader(sealed.getData(), 0, crc, false, log));
    DataBuffer plain;
    OutputDataBuffer plainOut(&plain);
    ASSERT_TRUE(help.decodeMemoryToOutput(sealed.getData() + kZipCryptHeaderLength,
                                          sealed.getSize() - kZipCryptHeaderLength, &cipher, plainOut, log));
    EXPECT_TRUE(bytesOf(plain) == data);
}

} // namespace
