// Pipelines judged whole: deflated and encrypted zip entries they produce are
// opened by unzip and python's zipfile; sinks that fail or never take a byte
// end the run with false.
#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/streams/DataProcessor.h"
#include "netlib/streams/DeflateProcessor.h"
#include "netlib/streams/StreamConstants.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/netlib/streams/Bzip2TestSupport.h"
#include "tests/netlib/streams/ZipTestSupport.h"
#include "tests/netlib/streams/ZlibPeer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using zpeer::Bytes;

namespace {

std::uint32_t zlibCrc(const Bytes& b) {
    return static_cast<std::uint32_t>(crc32(0, b.data(), static_cast<uInt>(b.size())));
}

std::string asString(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

struct Encryption {
    const char* password; // null: none
    std::uint32_t checkCrc;
};

void configure(DataProcessor& p, const Encryption& e) {
    if (!e.password)
        return;
    ZipCryptParams params;
    params.password.setString(e.password);
    params.passwordProtect = true;
    params.checkCrc = e.checkCrc;
    p.copyFrom(params);
}

// source -> stages... -> sink; the first stage reads the source.
bool runChain(const Bytes& in, std::vector<DataProcessor*> stages, DataSink& sink, LogBase& log,
              std::uint32_t readSize = 60000) {
    MemoryDataSource source;
    source.setData(in.data(), in.size(), false);
    DataPipeline pipeline;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        if (i == 0) {
            stages[i]->setSource(&source);
            EXPECT_TRUE(stages[i]->allocInputBuffer(readSize));
        }
        stages[i]->setSink(i + 1 < stages.size() ? static_cast<DataSink*>(stages[i + 1]) : &sink);
        pipeline.addProcessor(stages[i]);
    }
    return pipeline.run(nullptr, log);
}

struct Deflated {
    bool ok;
    std::string out;
    std::uint32_t crc;
    std::uint64_t in, packed;
};

Deflated deflateThrough(const Bytes& in, int level, const Encryption& e = {nullptr, 0},
                        std::uint32_t readSize = 60000) {
    DeflateProcessor p;
    p.setLevel(level);
    configure(p, e);
    DataBuffer db;
    OutputDataBuffer output(&db);
    FileDataSink sink;
    sink.setOutput(&output);
    LogNull log;
    bool ok = runChain(in, {&p}, sink, log, readSize);
    return {ok, asString(db), p.getCrc(), p.getNumBytesWritten64(), p.getNumBytesOut64()};
}

TEST(DataPipeline, DeflateStageInflatesWithZlibAtEveryLevel) {
    for (const auto& f : bz2test::corpus()) { // the empty file too
        for (int level = 0; level <= 9; ++level) {
            SCOPED_TRACE(f.name + " level " + std::to_string(level));
            // Small reads make the stage meet the end of its source mid-way.
            Deflated d = deflateThrough(f.data, level, {nullptr, 0}, level % 2 ? 60000 : 4099);
            ASSERT_TRUE(d.ok);
            Bytes back;
            ASSERT_TRUE(zpeer::inflate(Bytes(d.out.begin(), d.out.end()), &back));
            EXPECT_TRUE(back == f.data);
            EXPECT_EQ(d.crc, zlibCrc(f.data));
            EXPECT_EQ(d.in, f.data.size());
            EXPECT_EQ(d.packed, d.out.size());
        }
    }
}

TEST(DataPipeline, StagesFedThroughTheirRingsChainCrcDeflateAndDecoding) {
    // CRC first, deflate fed through its ring, a plain pass-through last.
    const Bytes& data = bz2test::corpus()[3].data; // database
    CrcProcessor crc;
    DeflateProcessor deflate;
    ZipDecodeProcessor pass;
    DataBuffer db;
    DataBufferSink sink(&db);
    LogNull log;
    ASSERT_TRUE(runChain(data, {&crc, &deflate, &pass}, sink, log, 7000));
    EXPECT_EQ(crc.getCrc(), zlibCrc(data));
    EXPECT_EQ(deflate.getCrc(), zlibCrc(data));
    EXPECT_EQ(sink.getNumBytesWritten64(), 0u) << "a buffer sink counts nothing";
    Bytes back;
    ASSERT_TRUE(zpeer::inflate(Bytes(db.getData(), db.getData() + db.getSize()), &back));
    EXPECT_TRUE(back == data);
}

class PipelineZipPeers : public TempTree {};

TEST_F(PipelineZipPeers, EncryptedEntriesFromThePipelineOpenInUnzipAndPython) {
    const Bytes& text = bz2test::corpus()[1].data;
    const Bytes& program = bz2test::corpus()[2].data;
    std::vector<ziptest::Entry> entries;
    std::string names;
    for (const char* password : {" pain diary ", "s3cr\xc3\xa9t"}) {
        std::string tag = password[0] == ' ' ? "spaced" : "plain";
        // Deflated, encrypted: the check byte comes from the CRC known up front.
        Deflated d = deflateThrough(program, 8, {password, zlibCrc(program)});
        ASSERT_TRUE(d.ok);
        EXPECT_EQ(d.crc, zlibCrc(program));
        entries.push_back({tag + ".bin", ziptest::kMethodDeflated, ziptest::kFlagEncrypted, d.crc, d.out,
                           static_cast<std::uint32_t>(program.size())});
        // Stored, encrypted through the CRC stage, the empty entry too.
        for (const Bytes* data : {&text, &bz2test::corpus()[0].data}) {
            ZipCrcProcessor p;
            configure(p, {password, zlibCrc(*data)});
            DataBuffer db;
            DataBufferSink sink(&db);
            LogNull log;
            ASSERT_TRUE(runChain(*data, {&p}, sink, log));
            EXPECT_EQ(p.getNumBytesOut64(), data->size() + kZipCryptHeaderLength);
            entries.push_back({tag + (data->empty() ? ".empty" : ".txt"), ziptest::kMethodStored,
                               ziptest::kFlagEncrypted, p.getCrc(), asString(db),
                               static_cast<std::uint32_t>(data->size())});
        }
        put(tag + ".zip", ziptest::packZip(entries));
        entries.clear();

        const auto tested = grvtest::RunPeer({"unzip", "-P", std::string(password), "-t", path(tag + ".zip")});
        const std::string& report = tested.out;
        EXPECT_EQ(tested.status, 0) << report;
        EXPECT_NE(report.find("No errors detected"), std::string::npos) << report;
        put(tag + ".pw", password);
        names += tag + " ";
    }
    put("program", std::string(program.begin(), program.end()));
    put("text", std::string(text.begin(), text.end()));
    std::string verdict = python3Line("import sys,zipfile; d=sys.argv[1]; n=0\n"
                                      "for t in ('spaced','plain'):\n"
                                      " z=zipfile.ZipFile(d+t+'.zip'); z.setpassword(open(d+t+'.pw','rb').read())\n"
                                      " n+=z.read(t+'.bin')==open(d+'program','rb').read()\n"
                                      " n+=z.read(t+'.txt')==open(d+'text','rb').read()\n"
                                      " n+=z.read(t+'.empty')==b''\n"
                                      "print(n)",
                                      dir);
    EXPECT_EQ(verdict, "6");
}

TEST(DataPipeline, DecodeStageDecryptsWhatTheCrcStageEncrypted) {
    const Bytes& data = bz2test::corpus()[4].data; // random
    ZipCrcProcessor enc;
    configure(enc, {"pw", zlibCrc(data)});
    DataBuffer sealed;
    DataBufferSink sealedSink(&sealed);
    LogNull log;
    ASSERT_TRUE(runChain(data, {&enc}, sealedSink, log, 5000));

    PwdProtect cipher;
    cipher.setPassword("pw");
    cipher.initKeys(log);
    ASSERT_TRUE(cipher.checkHeader(sealed.getData(), 0, zlibCrc(data), false, log));
    Bytes body(sealed.getData() + kZipCryptHeaderLength, sealed.getData() + sealed.getSize());
    ZipDecodeProcessor dec;
    dec.setDecoder(&cipher);
    CrcProcessor crc; // fed through its ring
    NullDataSink sink;
    ASSERT_TRUE(runChain(body, {&dec, &crc}, sink, log, 3000));
    EXPECT_EQ(crc.getCrc(), zlibCrc(data));
    EXPECT_EQ(sink.getNumBytesWritten64(), data.size());
}

TEST(ZipCryptParams, CopyKeepsThePasswordAsGiven) {
    ZipCryptParams a, b;
    a.password.setString(" abc ");
    b.copyFrom(a);
    EXPECT_STREQ(b.password.getString(), " abc ");
}

// A sink that offers no room for its first `closedPasses` questions, or
// never, and takes what it is then given.
class GatedSink : public NullDataSink {
public:
    explicit GatedSink(int closedPasses) : m_closed(closedPasses) {}
    bool getWritableCapacity(std::uint32_t* count) override {
        bool open = m_closed == 0;
        if (m_closed > 0)
            --m_closed;
        *count = open ? kUnboundedSinkCapacity : 0;
        return true;
    }

private:
    int m_closed;
};

TEST(DataPipeline, FailingAndClosedSinksEndTheRunWithFalse) {
    const Bytes& data = bz2test::corpus()[1].data;
    struct Case {
        const char* what;
        int closedPasses;
        bool ok;
        const char* message;
    } cases[] = {
        {"room after a few passes", 5, true, nullptr},
        {"never any room", -1, false, stream_msg::kPipelineStalled},
    };
    for (const Case& c : cases) {
        for (int kind = 0; kind < 2; ++kind) {
            SCOPED_TRACE(std::string(c.what) + (kind ? " after deflate" : " after crc"));
            GatedSink sink(c.closedPasses);
            CrcProcessor crc;
            DeflateProcessor deflate;
            RecordingLog log;
            bool ok = kind ? runChain(data, {&deflate}, sink, log) : runChain(data, {&crc}, sink, log);
            EXPECT_EQ(ok, c.ok) << log.all();
            if (c.message) {
                EXPECT_TRUE(log.has(std::string("E:") + c.message)) << log.all();
            }
        }
    }
}

TEST(DataPipeline, BufferSinkWhoseAppendFailsFailsTheRun) {
    // A buffer already at the 4 GiB limit cannot take one more byte; it is
    // never read, only its size is.
    unsigned char anchor[16] = {};
    DataBuffer full;
    full.borrowData(anchor, 0xFFFFFFF0u);
    DataBufferSink sink(&full);
    static const unsigned char data[] = "journal bytes that do not fit";
    EXPECT_FALSE(sink.writeBytes(data, sizeof data, nullptr));

    CrcProcessor crc;
    RecordingLog log;
    EXPECT_FALSE(runChain(Bytes(data, data + sizeof data), {&crc}, sink, log));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kPipelineFailure1)) << log.all();
    full.detachData();
}

TEST(DataPipeline, EmptyPipelineFailsAtOnce) {
    DataPipeline p;
    RecordingLog log;
    EXPECT_FALSE(p.run(nullptr, log));
    EXPECT_TRUE(log.has(std::string("E:") + stream_msg::kPipelineEmpty));
}

TEST(StreamingBuffer, RegionsWrapAroundTheEnd) {
    StreamingBuffer ring;
    ASSERT_TRUE(ring.setCapacity(10));
    EXPECT_EQ(ring.write("0123456789", 12), 10u) << "a full ring stores only what fits";
    ring.consume(6);
    EXPECT_EQ(ring.write("abcd", 4), 4u);
    // 8 held from index 6: 4 to the end of the block, 4 from its start.
    unsigned char *a, *b;
    std::uint32_t na, nb;
    ring.getReadRegions(&a, &na, &b, &nb);
    ASSERT_EQ(na, 4u);
    ASSERT_EQ(nb, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a), na) + std::string(reinterpret_cast<char*>(b), nb), "6789abcd");
    ring.consume(8);
    EXPECT_EQ(ring.getFreeRoom(), 10u);
    EXPECT_EQ(ring.write("xy", 2), 2u);
    ring.getReadRegions(&a, &na, &b, &nb);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a), na), "xy") << "an emptied ring starts again at index 0";
    EXPECT_EQ(nb, 0u);
}

} // namespace
