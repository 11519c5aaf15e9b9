// Round trips with the reference tools nobody here wrote: the bzip2 command
// and python3's bz2 module, at every block size, over a corpus of text, a
// program, a journal database, noise and repetitive data.
#include "Bzip2TestSupport.h"
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

INSTANTIATE_TEST_SUITE_P(Corpus, Bzip2Peers, ::testing::Range<std::size_t>(0, std::size(kCorpusNames)),
                         [](const ::testing::TestParamInfo<std::size_t>& info) {
                             return std::string(kCorpusNames[info.param]);
                         });

} // namespace
