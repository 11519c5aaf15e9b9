#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "CryptoTestSupport.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/crypto/Blowfish.h"
#include "netlib/crypto/PasswordEncryption.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/crypto/TwoFish.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using cryptotest::hex;
using cryptotest::str;

namespace {

const char* kPassword = "zip entry password";

std::string passwordKeyHex(int bits) {
    DataBuffer key;
    keyFromPassword(kPassword, key);
    return hex(std::string(reinterpret_cast<const char*>(key.getData()), static_cast<std::size_t>(bits / 8)));
}

// AES-CBC from a zero IV under the password key, by openssl enc (one padding).
std::string opensslAes(int bits, const std::string& data) {
    grvtest::RunOptions options;
    options.input = data;
    auto run = grvtest::RunProgram({"openssl", "enc", "-aes-" + std::to_string(bits) + "-cbc", "-K",
                                    passwordKeyHex(bits), "-iv", std::string(32, '0')},
                                   options);
    EXPECT_EQ(run.status, 0) << run.err;
    return run.out;
}

// The whole-buffer encryption of each selector's cipher, padded once.
std::string once(int selector, int bits, const std::string& data) {
    if (selector == kPasswordAes)
        return opensslAes(bits, data);
    LogNull log;
    cryptotest::Bytes in(data);
    std::unique_ptr<DataBuffer> out;
    if (selector == kPasswordTwofish) {
        TwoFish tf;
        tf.setKeyLength(bits);
        tf.setModeCbc();
        tf.setKeyFromPassword(kPassword);
        out.reset(tf.encryptDbNew(in, log));
    } else {
        Blowfish bf;
        bf.setKeyLength(bits);
        bf.setKeyFromPassword(kPassword);
        out.reset(bf.encryptDbNew(in, log));
    }
    return str(out.get());
}

std::string padded16(const std::string& data) {
    const std::size_t n = 16 - data.size() % 16;
    return data + std::string(n, static_cast<char>(n));
}

TEST(PasswordBuffers, PadTwiceAndRoundTrip) {
    std::mt19937 rng(8132);
    for (int selector : {kPasswordAes, kPasswordTwofish, kPasswordBlowfish}) {
        for (int bits : {128, 256}) {
            for (std::size_t n : {1u, 5u, 16u, 100u}) {
                const std::string data = cryptotest::randomBytes(rng, n);
                LogNull log;
                DataBuffer enc, dec;
                enc.append("stale", 5);
                ASSERT_TRUE(encryptBytesWithPassword(selector, bits, kPassword, data.data(),
                                                     static_cast<std::uint32_t>(n), enc, log));
                EXPECT_EQ(enc.getSize(), 16 * (n / 16 + 2));
                EXPECT_EQ(hex(enc), hex(once(selector, bits, padded16(data)))) << selector << " " << bits << " " << n;
                ASSERT_TRUE(
                    decryptBytesWithPassword(selector, bits, kPassword, enc.getData(), enc.getSize(), dec, log));
                EXPECT_EQ(str(&dec), data);
            }
        }
    }
    LogNull log;
    DataBuffer out;
    out.append("x", 1);
    EXPECT_TRUE(encryptBytesWithPassword(kPasswordAes, 128, nullptr, nullptr, 0, out, log));
    EXPECT_EQ(out.getSize(), 0u);
    EXPECT_FALSE(encryptBytesWithPassword(kPasswordAes, 128, nullptr, "abc", 3, out, log));
}

class AbortAtOnePercent : public ProgressEvent {
public:
    void PercentDone(int percent, bool* abort) override { *abort = percent >= 1; }
};

// Sizes around the 800000-byte chunk: the file form pads once and chains
// across chunks; openssl (AES) and the whole-buffer ciphers judge it.
TEST(PasswordFiles, ChunkedFilesEqualOnePaddingAndRoundTrip) {
    grvtest::TempDir dir;
    std::mt19937 rng(800000);
    const std::size_t sizes[] = {0, 5, 800000, 800001, 1600000, 1700003};
    for (int selector : {kPasswordAes, kPasswordTwofish, kPasswordBlowfish}) {
        for (std::size_t n : sizes) {
            if (selector != kPasswordAes && n > 800001)
                continue;
            const std::string data = cryptotest::randomBytes(rng, n);
            const std::string in = dir.File("in"), enc = dir.File("enc"), dec = dir.File("dec");
            ASSERT_TRUE(grvtest::WriteFile(in, data));
            ASSERT_TRUE(grvtest::WriteFile(enc, "an old file to be replaced"));
            LogNull log;
            ASSERT_TRUE(encryptFileWithPassword(selector, 256, kPassword, in.c_str(), enc.c_str(), nullptr, log));
            const std::string got = grvtest::ReadFile(enc);
            EXPECT_EQ(got.size(), n ? 16 * (n / 16 + 1) : 0) << selector << " " << n;
            if (n) {
                EXPECT_TRUE(got == once(selector, 256, data)) << selector << " " << n;
            }
            // Decrypted as the zip pipeline does.
            ASSERT_TRUE(decryptFileWithPasswordEntry(selector, 256, kPassword, enc.c_str(), dec.c_str(), nullptr, log));
            EXPECT_TRUE(grvtest::ReadFile(dec) == data) << selector << " " << n;
        }
    }
}

// A FIFO as the input, its producer there before the call or after it: the
// call waits for its writer and reads it to its end, as python's read of
// the same FIFO does; what it makes is openssl's encryption of what python
// read, and decrypts back to it.
TEST(PasswordFiles, AFifoInputIsReadToItsEndWhicheverComesFirst) {
    grvtest::TempDir dir;
    std::mt19937 rng(4096);
    const std::string fifo = dir.File("in"), enc = dir.File("enc"), dec = dir.File("dec");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::size_t n : {5u, 800001u}) {
        const std::string data = cryptotest::randomBytes(rng, n);
        for (const bool producerFirst : {true, false}) {
            SCOPED_TRACE(std::to_string(n) + (producerFirst ? " bytes, producer first" : " bytes, call first"));
            const std::string python = grvtest::PythonReadOfFifo(fifo, data, producerFirst);
            EXPECT_TRUE(python == data);
            LogNull log;
            bool ok = false;
            grvtest::FeedFifo(fifo, data, producerFirst, [&] {
                ok = encryptFileWithPassword(kPasswordAes, 256, kPassword, fifo.c_str(), enc.c_str(), nullptr, log);
            });
            EXPECT_TRUE(ok);
            EXPECT_TRUE(grvtest::ReadFile(enc) == once(kPasswordAes, 256, python));
            ASSERT_TRUE(decryptFileWithPassword(kPasswordAes, 256, kPassword, enc.c_str(), dec.c_str(), nullptr, log));
            EXPECT_TRUE(grvtest::ReadFile(dec) == python);
        }
    }
}

TEST(PasswordFiles, FailuresAndAbort) {
    grvtest::TempDir dir;
    const std::string in = dir.File("in"), out = dir.File("out");
    ASSERT_TRUE(grvtest::WriteFile(in, std::string(2000000, 'a')));
    LogNull log;
    EXPECT_FALSE(
        encryptFileWithPassword(kPasswordAes, 128, kPassword, dir.File("missing").c_str(), out.c_str(), nullptr, log));
    EXPECT_FALSE(encryptFileWithPassword(kPasswordAes, 128, kPassword, in.c_str(),
                                         dir.File("no/such/folder/out").c_str(), nullptr, log));
    EXPECT_FALSE(encryptFileWithPassword(7, 128, kPassword, in.c_str(), out.c_str(), nullptr, log));
    AbortAtOnePercent sink;
    ProgressMonitor monitor(&sink, 2000000);
    EXPECT_FALSE(encryptFileWithPassword(kPasswordAes, 128, kPassword, in.c_str(), out.c_str(), &monitor, log));
    // An output that cannot grow past 100000 bytes: the write fails, and so
    // does the encryption.
    bool written;
    {
        grvtest::FileSizeLimit limit(100000);
        written = encryptFileWithPassword(kPasswordAes, 128, kPassword, in.c_str(), out.c_str(), nullptr, log);
    }
    EXPECT_FALSE(written);
    // A wrong password leaves padding that does not check.
    ASSERT_TRUE(encryptFileWithPassword(kPasswordAes, 128, kPassword, in.c_str(), out.c_str(), nullptr, log));
    EXPECT_FALSE(
        decryptFileWithPassword(kPasswordAes, 128, "other", out.c_str(), dir.File("dec").c_str(), nullptr, log));
}

// The file outputs into each kind of target: a link is written through, a
// FIFO and a device stay what they were, and a failed run takes away only a
// file it made itself.
void RunPasswordFileTargets(const std::vector<grvtest::TargetKind>& kinds) {
    using grvtest::TargetKind;
    grvtest::TempDir dir;
    const std::string data = "new body\n";
    const std::string in = dir.File("in"), sealed = dir.File("sealed");
    ASSERT_TRUE(grvtest::WriteFile(in, data));
    LogNull log;
    ASSERT_TRUE(encryptFileWithPassword(kPasswordAes, 256, kPassword, in.c_str(), sealed.c_str(), nullptr, log));
    int n = 0;
    for (bool encrypt : {true, false})
        for (TargetKind kind : kinds) {
            SCOPED_TRACE(std::string(encrypt ? "encrypt into " : "decrypt with a wrong password into ") +
                         grvtest::TargetKindName(kind));
            const std::string folder = dir.File("case" + std::to_string(n++));
            std::filesystem::create_directory(folder);
            grvtest::WriteTarget target(folder, "t", kind, "old bytes\n");
            ASSERT_EQ(target.Error(), 0);
            const bool ok = encrypt ? encryptFileWithPassword(kPasswordAes, 256, kPassword, in.c_str(),
                                                              target.Path().c_str(), nullptr, log)
                                    : decryptFileWithPassword(kPasswordAes, 256, "other", sealed.c_str(),
                                                              target.Path().c_str(), nullptr, log);
            EXPECT_EQ(ok, encrypt);
            const std::string described = target.Describe();
            if (kind == TargetKind::PrivateDevice) {
                EXPECT_EQ(described, "device(1,3)");
            } else if (encrypt) {
                const std::string head = kind == TargetKind::Fifo   ? "fifo:"
                                         : kind == TargetKind::Link ? "link(t.target)->file:"
                                                                    : "file:";
                EXPECT_TRUE(described == head + once(kPasswordAes, 256, data)) << hex(described);
            } else if (kind == TargetKind::Absent) {
                EXPECT_EQ(described, "absent");
            } else {
                // What open() left of a file that was there stays a file (or
                // a pipe) at its place.
                EXPECT_EQ(described.substr(0, described.find(':') + 1), kind == TargetKind::Fifo ? "fifo:"
                                                                        : kind == TargetKind::Link
                                                                            ? "link(t.target)->file:"
                                                                            : "file:");
            }
        }
}

TEST(PasswordFiles, OutputsGoThroughLinksAndIntoPipesAndFailuresTakeOnlyTheirOwnFile) {
    RunPasswordFileTargets({grvtest::TargetKind::Absent, grvtest::TargetKind::Regular, grvtest::TargetKind::Link,
                            grvtest::TargetKind::Fifo});
}

TEST(PasswordFiles, OutputsIntoAPrivateDeviceLeaveItADevice) {
    RunPasswordFileTargets({grvtest::TargetKind::PrivateDevice});
}

} // namespace
