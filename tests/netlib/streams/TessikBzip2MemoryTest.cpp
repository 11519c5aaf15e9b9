// The blob form over DataBuffers: header, room rules and failures.
#include "Bzip2TestSupport.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/streams/TessikBzip2.h"
#include "platform/ByteOrder.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

using namespace tessik;

using namespace bz2test;

namespace {

DataBuffer& fill(DataBuffer& db, const Bytes& bytes) {
    db.clear();
    db.append(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return db;
}

Bytes bytesOf(const DataBuffer& db) {
    return Bytes(db.getData(), db.getData() + db.getSize());
}

Bytes blobOf(const Bytes& data) {
    DataBuffer in, out;
    fill(in, data);
    EXPECT_TRUE(TessikBzip2().compressMemory(in, out));
    return bytesOf(out);
}

void setStoredLength(Bytes& blob, std::uint32_t n) {
    for (int i = 0; i < 4; i++)
        blob[4 + i] = static_cast<std::uint8_t>(n >> (8 * i));
}

Bytes sampleText(std::size_t n) {
    Bytes b;
    std::mt19937 rng(4);
    while (b.size() < n)
        b.push_back(static_cast<std::uint8_t>("journal entry: pain 3, slept well\n"[rng() % 34]));
    return b;
}

TEST(Bzip2Blob, EmptyInputIsTheBareHeaderAndDecodesToNothing) {
    Bytes blob = blobOf({});
    EXPECT_EQ(blob, (Bytes{0xE1, 0xA7, 0x94, 0xB3, 0, 0, 0, 0}));
    DataBuffer in, out;
    fill(out, {1, 2, 3});
    EXPECT_TRUE(TessikBzip2().decompressMemory(fill(in, blob), out));
    EXPECT_EQ(out.getSize(), 0u);
}

TEST(Bzip2Blob, HeaderThenABlockSize3StreamTheReferenceToolReads) {
    Bytes data = sampleText(400000); // more than one 300,000-byte block
    Bytes blob = blobOf(data);
    ASSERT_GT(blob.size(), 8u);
    EXPECT_EQ((Bytes{blob.begin(), blob.begin() + 4}), (Bytes{0xE1, 0xA7, 0x94, 0xB3}));
    std::uint32_t stored = platform::LoadLe32(blob.data() + 4);
    EXPECT_EQ(stored, data.size());

    int status = 0;
    const Bytes reference = bzip2Tool({"-3", "-c"}, data, status);
    ASSERT_EQ(status, 0);
    EXPECT_EQ(Bytes(blob.begin() + 8, blob.end()), reference);

    DataBuffer in, out;
    ASSERT_TRUE(TessikBzip2().decompressMemory(fill(in, blob), out));
    EXPECT_EQ(bytesOf(out), data);
}

TEST(Bzip2Blob, RoundTrips) {
    std::mt19937 rng(12);
    Bytes noise(70000);
    for (auto& b : noise)
        b = static_cast<std::uint8_t>(rng());
    struct Case {
        const char* name;
        Bytes data;
    } cases[] = {
        {"one byte", {0x42}},
        {"text", sampleText(50000)},
        // Incompressible data still fits the room n + n/99 + 792.
        {"noise", noise},
        {"equal bytes", Bytes(1000000, 0)},
    };
    for (const Case& c : cases) {
        DataBuffer in, blob, out;
        fill(in, c.data);
        ASSERT_TRUE(TessikBzip2().compressMemory(in, blob)) << c.name;
        ASSERT_TRUE(TessikBzip2().decompressMemory(blob, out)) << c.name;
        EXPECT_EQ(bytesOf(out), c.data) << c.name;
    }
}

TEST(Bzip2Blob, RefusedBlobsLeaveTheOutputEmpty) {
    Bytes good = blobOf(sampleText(3000));
    Bytes wrongMagic = good;
    wrongMagic[0] ^= 0x01;
    Bytes truncated(good.begin(), good.end() - 5);
    Bytes corrupt = good;
    corrupt[good.size() / 2] ^= 0x20;
    Bytes headerOnlyClaimingData = {0xE1, 0xA7, 0x94, 0xB3, 5, 0, 0, 0};
    struct Case {
        const char* name;
        Bytes blob;
    } cases[] = {
        {"wrong first byte", wrongMagic},
        {"shorter than the header", Bytes{0xE1, 0xA7, 0x94, 0xB3, 0}},
        {"truncated stream", truncated},
        {"corrupt stream", corrupt},
        {"header claims data but has no stream", headerOnlyClaimingData},
    };
    for (const Case& c : cases) {
        DataBuffer in, out;
        fill(out, {9, 9, 9});
        EXPECT_FALSE(TessikBzip2().decompressMemory(fill(in, c.blob), out)) << c.name;
        EXPECT_EQ(out.getSize(), 0u) << c.name;
    }
}

TEST(Bzip2Blob, StoredLengthBoundsTheOutputWithTwentyBytesToSpare) {
    Bytes data = sampleText(5000);
    Bytes blob = blobOf(data);
    struct Case {
        std::uint32_t stored;
        bool ok;
    } cases[] = {{5000, true}, {4980, true}, {4979, false}, {0, false}};
    for (const Case& c : cases) {
        Bytes b = blob;
        setStoredLength(b, c.stored);
        DataBuffer in, out;
        EXPECT_EQ(TessikBzip2().decompressMemory(fill(in, b), out), c.ok) << c.stored;
        if (c.ok) {
            EXPECT_EQ(bytesOf(out), data);
        }
    }
}

TEST(Bzip2Blob, HugeStoredLengthIsNotAllocatedUpFront) {
    // The length comes from the blob: it may say 4 GB for a few bytes of
    // data. It bounds the output; memory follows what is really decoded.
    Bytes data = sampleText(100);
    Bytes blob = blobOf(data);
    for (std::uint32_t stored : {0xFFFFFFFFu, 0xFFFFFFECu, 0x80000000u}) {
        Bytes b = blob;
        setStoredLength(b, stored);
        DataBuffer in, out;
        ASSERT_TRUE(TessikBzip2().decompressMemory(fill(in, b), out)) << stored;
        EXPECT_EQ(bytesOf(out), data);
        EXPECT_LE(out.getCapacity(), 1u << 20);
    }
}

TEST(Bzip2Blob, OutputMayBeTheInputBuffer) {
    Bytes data = sampleText(20000);
    DataBuffer buf;
    fill(buf, data);
    ASSERT_TRUE(TessikBzip2().compressMemory(buf, buf));
    EXPECT_EQ(bytesOf(buf), blobOf(data));
    ASSERT_TRUE(TessikBzip2().decompressMemory(buf, buf));
    EXPECT_EQ(bytesOf(buf), data);
}

TEST(Bzip2Blob, ThreadsOnDistinctBuffersGetTheSameResults) {
    // No state is shared between calls but the constant tables.
    std::vector<Bytes> inputs;
    for (int t = 0; t < 4; t++) {
        Bytes b = sampleText(30000 + 7000 * static_cast<std::size_t>(t));
        b[static_cast<std::size_t>(t)] = static_cast<std::uint8_t>('A' + t);
        inputs.push_back(b);
    }
    std::vector<Bytes> expect;
    for (const Bytes& in : inputs)
        expect.push_back(blobOf(in));
    std::vector<int> failures(inputs.size(), 0);
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < inputs.size(); t++) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 3; round++) {
                DataBuffer in, blob, out;
                fill(in, inputs[t]);
                if (!TessikBzip2().compressMemory(in, blob) || bytesOf(blob) != expect[t] ||
                    !TessikBzip2().decompressMemory(blob, out) || bytesOf(out) != inputs[t])
                    failures[t]++;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    for (std::size_t t = 0; t < inputs.size(); t++)
        EXPECT_EQ(failures[t], 0) << "thread " << t;
}

} // namespace
