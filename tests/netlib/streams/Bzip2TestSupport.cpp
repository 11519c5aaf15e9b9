#include "Bzip2TestSupport.h"

#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/TessikBzip2.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

using namespace tessik;

namespace bz2test {

std::uint32_t slowCrc(const Bytes& data) {
    std::uint32_t crc = 0xffffffffu;
    for (std::uint8_t b : data) {
        crc ^= static_cast<std::uint32_t>(b) << 24;
        for (int k = 0; k < 8; k++)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    return ~crc;
}

void BitWriter::put(int bits, std::uint32_t value) {
    for (int i = bits - 1; i >= 0; i--) {
        m_acc = (m_acc << 1) | ((value >> i) & 1u);
        if (++m_live == 8) {
            m_out.push_back(static_cast<std::uint8_t>(m_acc));
            m_acc = 0;
            m_live = 0;
        }
    }
}

Bytes BitWriter::finish() {
    if (m_live > 0)
        m_out.push_back(static_cast<std::uint8_t>(m_acc << (8 - m_live)));
    m_live = 0;
    m_acc = 0;
    return m_out;
}

void writeHeader(BitWriter& w, int blockSize) {
    w.putByte('B');
    w.putByte('Z');
    w.putByte('h');
    w.putByte(static_cast<std::uint8_t>('0' + blockSize));
}

void writeBlock(BitWriter& w, const BlockSpec& b) {
    for (std::uint8_t m : {0x31, 0x41, 0x59, 0x26, 0x53, 0x59})
        w.putByte(m);
    w.put(16, b.crc >> 16);
    w.put(16, b.crc & 0xffff);
    w.put(1, b.randomised ? 1 : 0);
    w.put(24, b.origPtr);

    bool inUse[256] = {};
    for (auto u : b.used)
        inUse[u] = true;
    std::uint32_t summary = 0;
    for (int i = 0; i < 16; i++)
        for (int j = 0; j < 16; j++)
            if (inUse[i * 16 + j])
                summary |= 0x8000u >> i;
    w.put(16, summary);
    for (int i = 0; i < 16; i++) {
        if (!(summary & (0x8000u >> i)))
            continue;
        std::uint32_t bits = 0;
        for (int j = 0; j < 16; j++)
            if (inUse[i * 16 + j])
                bits |= 0x8000u >> j;
        w.put(16, bits);
    }

    w.put(3, static_cast<std::uint32_t>(b.nGroups));
    w.put(15, b.nSelectors);
    for (std::uint32_t i = 0; i < b.nSelectors; i++) {
        int v = i < b.selectorMtf.size() ? b.selectorMtf[i] : 0;
        for (int k = 0; k < v; k++)
            w.put(1, 1);
        w.put(1, 0);
    }

    std::vector<std::vector<std::uint32_t>> codes;
    for (std::size_t t = 0; t < b.lengths.size(); t++) {
        const auto& len = b.lengths[t];
        int curr = t < b.rawLengthStart.size() ? b.rawLengthStart[t] : len[0];
        w.put(5, static_cast<std::uint32_t>(curr));
        for (int l : len) {
            while (curr < l) {
                w.put(2, 2);
                curr++;
            }
            while (curr > l) {
                w.put(2, 3);
                curr--;
            }
            w.put(1, 0);
        }
        std::vector<std::uint32_t> code(len.size(), 0);
        std::uint32_t next = 0;
        for (int l = 1; l <= 20; l++) {
            for (std::size_t i = 0; i < len.size(); i++)
                if (len[i] == l)
                    code[i] = next++;
            next <<= 1;
        }
        codes.push_back(code);
    }

    // Selectors are coded move-to-front; the tables follow that order.
    std::vector<int> order;
    for (int i = 0; i < b.nGroups; i++)
        order.push_back(i);
    std::vector<int> selector;
    for (std::uint32_t i = 0; i < b.nSelectors; i++) {
        int v = i < b.selectorMtf.size() ? b.selectorMtf[i] : 0;
        if (v >= b.nGroups)
            break;
        int t = order[v];
        order.erase(order.begin() + v);
        order.insert(order.begin(), t);
        selector.push_back(t);
    }
    for (std::size_t i = 0; i < b.symbols.size(); i++) {
        std::size_t g = i / 50;
        int t = g < selector.size() ? selector[g] : 0;
        if (static_cast<std::size_t>(t) >= b.lengths.size())
            t = 0;
        int sym = b.symbols[i];
        w.put(b.lengths[t][sym], codes[t][sym]);
    }
}

void writeEnd(BitWriter& w, std::uint32_t combinedCrc) {
    for (std::uint8_t m : {0x17, 0x72, 0x45, 0x38, 0x50, 0x90})
        w.putByte(m);
    w.put(16, combinedCrc >> 16);
    w.put(16, combinedCrc & 0xffff);
}

BlockSpec blockForA() {
    BlockSpec b;
    b.crc = slowCrc(Bytes{'a'});
    b.used = {'a'};
    b.nGroups = 2;
    b.nSelectors = 1;
    b.lengths = {{1, 2, 2}, {2, 2, 1}};
    b.symbols = {0, 2}; // RUNA, end of block
    return b;
}

Bytes streamOf(const BlockSpec& b, int blockSize) {
    BitWriter w;
    writeHeader(w, blockSize);
    writeBlock(w, b);
    writeEnd(w, b.crc); // one block: the combined CRC equals the block CRC
    return w.finish();
}

Bytes compressBytes(const Bytes& in, int blockSize) {
    TessikBzip2 z;
    Bytes out(in.size() + in.size() / 99 + 800);
    unsigned int len = static_cast<unsigned int>(out.size());
    static const std::uint8_t none = 0;
    EXPECT_TRUE(z.compressBuffer(out.data(), &len, in.empty() ? &none : in.data(), static_cast<unsigned int>(in.size()),
                                 blockSize));
    out.resize(len);
    return out;
}

int decodeAll(const Bytes& z, Bytes* out, std::size_t room) {
    bz2::Stream s;
    EXPECT_EQ(bz2::decompressInit(&s), bz2::kOk);
    out->assign(room, 0);
    s.nextIn = z.data();
    s.availIn = static_cast<std::uint32_t>(z.size());
    s.nextOut = out->data();
    s.availOut = static_cast<std::uint32_t>(room);
    int r = bz2::decompress(&s);
    out->resize(s.totalOutLo32);
    bz2::decompressEnd(&s);
    return r;
}

Bytes bzip2Tool(const std::vector<std::string>& args, const Bytes& input, int& status) {
    std::vector<std::string> argv = {"bzip2"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunOptions options;
    options.input.assign(input.begin(), input.end());
    const grvtest::RunResult run = grvtest::RunProgram(argv, options);
    status = run.status;
    return Bytes(run.out.begin(), run.out.end());
}

namespace {

Bytes makeDatabase() {
    grvtest::TempDir dir;
    const std::string db = grvtest::MakeJournalDatabase(dir.File("corpus.grv"));
    if (db.empty())
        throw std::runtime_error("sqlite3 failed");
    return grvtest::ReadBytes(db);
}

} // namespace

const std::vector<CorpusFile>& corpus() {
    static const std::vector<CorpusFile> files = [] {
        std::vector<CorpusFile> c;
        c.push_back({"empty", {}});
        c.push_back({"text", grvtest::TextLike(140000, 7)});
        Bytes self = grvtest::ReadBytes("/proc/self/exe");
        if (self.size() > 150000)
            self.resize(150000);
        c.push_back({"binary", self});
        c.push_back({"database", makeDatabase()});
        c.push_back({"random", grvtest::RandomBytes(110000, 99)});
        Bytes same(300000, 'x');
        c.push_back({"repetitive", same});
        Bytes pattern;
        for (int i = 0; i < 40000; i++)
            for (char ch : {'a', 'b', 'c'})
                pattern.push_back(static_cast<std::uint8_t>(ch));
        c.push_back({"periodic", pattern});
        for (std::size_t i = 0; i < c.size(); i++)
            if (c[i].name != kCorpusNames[i])
                throw std::logic_error("corpus names out of order");
        return c;
    }();
    return files;
}

} // namespace bz2test
