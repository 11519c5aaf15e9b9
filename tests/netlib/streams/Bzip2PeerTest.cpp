// Round trips with the reference tools nobody here wrote: the bzip2 command
// and python3's bz2 module, at every block size, over a corpus of text, a
// program, a journal database, noise and repetitive data.
#include "Bzip2TestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/streams/TessikBzip2.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>

using namespace tessik;

using namespace bz2test;

namespace {

bool ourDecompress(const Bytes& z, std::size_t size, Bytes* out) {
    TessikBzip2 bz;
    out->assign(size + 1, 0);
    unsigned int len = static_cast<unsigned int>(out->size());
    bool ok = bz.decompressBuffer(out->data(), &len, z.data(), static_cast<unsigned int>(z.size()));
    out->resize(len);
    return ok;
}

class Bzip2Peers : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Bzip2Peers, RoundTripsWithTheBzip2CommandAtEveryBlockSize) {
    const CorpusFile& f = corpus()[GetParam()];
    int identical = 0;
    for (int bs = 1; bs <= 9; bs++) {
        SCOPED_TRACE(f.name + " block size " + std::to_string(bs));
        Bytes ours = compressBytes(f.data, bs);
        int status = 0;
        EXPECT_EQ(bzip2Tool({"-dc"}, ours, status), f.data);
        ASSERT_EQ(status, 0);

        Bytes ref = bzip2Tool({"-c", "-" + std::to_string(bs)}, f.data, status);
        ASSERT_EQ(status, 0);
        Bytes back;
        ASSERT_TRUE(ourDecompress(ref, f.data.size(), &back));
        EXPECT_EQ(back, f.data);
        // Same block size, same stream, byte for byte.
        EXPECT_EQ(ours, ref);
        identical += ours == ref;
    }
    RecordProperty("identical_block_sizes", identical);
}

TEST_P(Bzip2Peers, RoundTripsWithPythonBz2AtEveryBlockSize) {
    const CorpusFile& f = corpus()[GetParam()];
    grvtest::TempDir dir;
    const std::string base = dir.File(f.name);
    grvtest::WriteFile(base, f.data);
    for (int bs = 1; bs <= 9; bs++)
        grvtest::WriteFile(base + ".ours" + std::to_string(bs), compressBytes(f.data, bs));
    // python writes its own streams and checks ours in one run.
    const std::string script = "import bz2,sys\n"
                               "b=sys.argv[1]\n"
                               "data=open(b,'rb').read()\n"
                               "for n in range(1,10):\n"
                               "    open(b+'.py%d'%n,'wb').write(bz2.compress(data,n))\n"
                               "    assert bz2.decompress(open(b+'.ours%d'%n,'rb').read())==data, n\n";
    const grvtest::RunResult python = grvtest::Python(script, {base});
    ASSERT_EQ(python.status, 0) << python.err;
    for (int bs = 1; bs <= 9; bs++) {
        SCOPED_TRACE(f.name + " block size " + std::to_string(bs));
        Bytes back;
        ASSERT_TRUE(ourDecompress(grvtest::ReadBytes(base + ".py" + std::to_string(bs)), f.data.size(), &back));
        EXPECT_EQ(back, f.data);
    }
}

// Concatenated streams, made by python's bz2. Every stream is read, bytes
// after the last that fail the stream magic are left, and a cut or damaged
// later stream fails the decode rather than stopping at the first stream's
// end: each case's verdict is pinned, and python's bz2.decompress and
// bzip2 -dc second it on the same bytes (where it reads, both read the same;
// where it refuses, one of them refuses). Both the buffer call and the blob
// form read them.
TEST(Bzip2Streams, ConcatenatedStreamsReadAsPythonAndBzip2ReadThem) {
    // Python expressions over c = bz2.compress; the large one has blocks of
    // 100,000 bytes and takes the blob's output room past its first size.
    const struct {
        const char* expression;
        bool reads;
    } cases[] = {
        {"c(b'one') + c(b'two')", true},
        {"c(b'one') + c(b'') + c(b'three')", true},
        {"c(b'') + c(b'x')", true},
        {"c(bytes(range(256)) * 2000, 1) + c(b'tail' * 300000, 9) + c(b'end')", true},
        {"c(b'one') + b'garbage'", true},
        {"c(b'one') + b'BZh0'", true},
        {"c(b'one') + c(b'two') + b'\\x00'", true},
        {"c(b'one') + c(b'two')[:-3]", false},
        {"c(b'one') + b'BZh'", false},
        {"c(b'one') + b'B'", false},
        {"c(b'one') + bytes(x ^ (i == 12) for i, x in enumerate(c(b'two')))", false},
        {"c(b'one') + c(b'two')[:4] + c(b'three')", false},
    };
    grvtest::TempDir dir("bz2streams");
    std::vector<std::string> args{dir.Path()};
    for (const auto& c : cases)
        args.push_back(c.expression);
    const grvtest::RunResult made =
        grvtest::Python("import bz2, sys\n"
                        "c = lambda d, n=9: bz2.compress(d, n)\n"
                        "for i, e in enumerate(sys.argv[2:]):\n"
                        "    z = eval(e)\n"
                        "    open('%s/%d.bz2' % (sys.argv[1], i), 'wb').write(z)\n"
                        "    try: out = bz2.decompress(z)\n"
                        "    except (OSError, ValueError): out = None\n"
                        "    if out is not None: open('%s/%d.py' % (sys.argv[1], i), 'wb').write(out)\n",
                        args);
    ASSERT_TRUE(made.Ok()) << made.err;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].expression);
        const Bytes z = grvtest::ReadBytes(dir.File(std::to_string(i) + ".bz2"));
        int status = 0;
        const Bytes tool = bzip2Tool({"-dc"}, z, status);
        const bool pythonReads = grvtest::FileExists(dir.File(std::to_string(i) + ".py"));
        const Bytes python = pythonReads ? grvtest::ReadBytes(dir.File(std::to_string(i) + ".py")) : Bytes{};
        const bool wanted = cases[i].reads;
        EXPECT_EQ(status == 0 && pythonReads, wanted) << "the references part from the verdict";
        if (status == 0 && pythonReads) {
            ASSERT_EQ(tool, python);
        }

        Bytes back;
        EXPECT_EQ(ourDecompress(z, wanted ? tool.size() : 1u << 20, &back), wanted);
        if (wanted) {
            EXPECT_TRUE(back == tool) << back.size() << " bytes, not " << tool.size();
        }

        DataBuffer blob, out;
        const unsigned char header[8] = {0xE1,
                                         0xA7,
                                         0x94,
                                         0xB3,
                                         static_cast<unsigned char>(tool.size()),
                                         static_cast<unsigned char>(tool.size() >> 8),
                                         static_cast<unsigned char>(tool.size() >> 16),
                                         0};
        ASSERT_LT(tool.size(), 1u << 24);
        blob.append(header, sizeof header);
        blob.append(z.data(), static_cast<unsigned int>(z.size()));
        EXPECT_EQ(TessikBzip2().decompressMemory(blob, out), wanted);
        if (wanted) {
            EXPECT_TRUE(Bytes(out.getData(), out.getData() + out.getSize()) == tool);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, Bzip2Peers, ::testing::Range<std::size_t>(0, std::size(kCorpusNames)),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(kCorpusNames[info.param]);
                         });

} // namespace
