// Traditional zip encryption judged by peers: entries this library encrypts
// must open in unzip and python's zipfile, and entries zip encrypts must
// decrypt here, with and without a data descriptor.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "netlib/core/ZipCRC.h"
#include "netlib/streams/PwdProtect.h"
#include "tests/netlib/core/FileTestSupport.h"
#include "tests/netlib/streams/ZipTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using ziptest::get16;
using ziptest::get32;
using ziptest::kDosTime;
using ziptest::kFlagDescriptor;

struct Entry {
    std::string name;
    std::string data;
    bool descriptor;
};

// A stored, encrypted entry: header bytes and data, with a data descriptor
// when asked.
ziptest::Entry encryptEntry(const Entry& e, const char* password) {
    std::uint32_t crc = ZipCRC::crc32WithBinaryFlag(e.data.data(), static_cast<std::uint32_t>(e.data.size()), nullptr);
    std::uint32_t size = static_cast<std::uint32_t>(e.data.size());
    PwdProtect enc;
    enc.setPassword(password);
    LogNull log;
    std::string body(kZipCryptHeaderLength, '\0');
    EXPECT_TRUE(enc.makeHeader(e.descriptor ? std::uint32_t{kDosTime} << 16 : crc,
                               reinterpret_cast<unsigned char*>(body.data()), log));
    std::string data = e.data;
    enc.encryptBytes(reinterpret_cast<unsigned char*>(data.data()), size);
    body += data;
    std::uint16_t flags = ziptest::kFlagEncrypted | (e.descriptor ? kFlagDescriptor : 0);
    return {e.name, ziptest::kMethodStored, flags, crc, body, size};
}

std::string packArchive(const std::vector<Entry>& entries, const char* password) {
    std::vector<ziptest::Entry> packed;
    for (const Entry& e : entries)
        packed.push_back(encryptEntry(e, password));
    return ziptest::packZip(packed);
}

// Decrypts every entry of a stored archive through its central directory:
// name -> plain bytes, or "<bad header>". `flagsSeen` ORs the entries' flags.
std::map<std::string, std::string> decryptArchive(const std::string& zip, const char* password,
                                                  std::uint16_t& flagsSeen) {
    std::map<std::string, std::string> out;
    flagsSeen = 0;
    if (zip.size() < 22)
        return out;
    std::size_t endAt = zip.size() - 22;
    std::size_t at = get32(zip, endAt + 16);
    for (std::uint32_t i = 0; i < get16(zip, endAt + 10); ++i) {
        std::uint16_t flags = static_cast<std::uint16_t>(get16(zip, at + 8));
        std::uint32_t time = get16(zip, at + 12), crc = get32(zip, at + 16), packed = get32(zip, at + 20);
        std::uint32_t nameLen = get16(zip, at + 28), local = get32(zip, at + 42);
        std::string name = zip.substr(at + 46, nameLen);
        at += 46 + nameLen + get16(zip, at + 30) + get16(zip, at + 32);
        flagsSeen |= flags;
        std::string body = zip.substr(local + 30 + get16(zip, local + 26) + get16(zip, local + 28), packed);
        PwdProtect dec;
        dec.setPassword(password);
        LogNull log;
        dec.initKeys(log);
        if (body.size() < kZipCryptHeaderLength || !dec.checkHeader(reinterpret_cast<const unsigned char*>(body.data()),
                                                                    time, crc, flags & kFlagDescriptor, log)) {
            out[name] = "<bad header>";
            continue;
        }
        std::string plain = body.substr(kZipCryptHeaderLength);
        dec.decryptBytes(reinterpret_cast<unsigned char*>(plain.data()), static_cast<std::uint32_t>(plain.size()));
        out[name] = plain;
    }
    return out;
}

std::string binary(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += static_cast<char>((i * 131) ^ (i >> 3));
    return s;
}

} // namespace

class PwdProtectPeerTest : public TempTree {
protected:
    std::vector<Entry> entries = {{"plain.txt", "Pain level 4 after the walk.\n", false},
                                  {"empty.bin", "", false},
                                  {"desc.bin", binary(5000), true},
                                  {"desc2.txt", std::string(700, 'q'), true}};
};

TEST_F(PwdProtectPeerTest, EncryptedEntriesPassUnzipAndPythonZipfile) {
    put("ours.zip", packArchive(entries, "s3cr\xc3\xa9t"));
    for (const Entry& e : entries)
        put(e.name, e.data);
    const auto tested = grvtest::RunPeer({"unzip", "-P", "s3cr\xc3\xa9t", "-t", path("ours.zip")});
    const std::string& report = tested.out;
    EXPECT_EQ(tested.status, 0) << report;
    EXPECT_NE(report.find("No errors detected"), std::string::npos) << report;
    std::string verdict = python3Line(
        "import sys,os,zipfile; z=zipfile.ZipFile(sys.argv[1]+'ours.zip'); z.setpassword('s3cr\xc3\xa9t'.encode()); "
        "print(sum(z.read(n)==open(sys.argv[1]+n,'rb').read() for n in z.namelist()))",
        dir);
    EXPECT_EQ(verdict, std::to_string(entries.size()));
}

// zip -P always writes a data descriptor; 7z's ZipCrypto writes none.
TEST_F(PwdProtectPeerTest, PeerEncryptedEntriesDecryptWithAndWithoutDataDescriptor) {
    for (const Entry& e : entries)
        put(e.name, e.data);
    struct Case {
        std::vector<std::string> command;
        const char* archive;
        bool descriptor;
    } cases[] = {
        {{"zip", "-q", "-X", "-0", "-P", "pw", "zip.zip", "plain.txt", "empty.bin", "desc.bin"}, "zip.zip", true},
        {{"7z", "a", "-tzip", "-ppw", "-mem=ZipCrypto", "-mx0", "7z.zip", "plain.txt", "empty.bin", "desc.bin"},
         "7z.zip",
         false}};
    for (const Case& c : cases) {
        grvtest::RunOptions inDir;
        inDir.workDir = dir;
        const auto made = grvtest::RunProgram(c.command, inDir);
        ASSERT_EQ(made.status, 0) << c.archive << ": " << made.err;
        std::uint16_t flags = 0;
        auto plain = decryptArchive(get(c.archive), "pw", flags);
        EXPECT_EQ(flags & kFlagDescriptor, c.descriptor ? kFlagDescriptor : 0) << c.archive;
        EXPECT_EQ(plain.size(), 3u) << c.archive;
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(plain[entries[i].name], entries[i].data) << c.archive;
    }
}

TEST(PwdProtect, HeadersForOnePasswordDifferAndStillCheck) {
    LogNull log;
    const std::uint32_t crc = 0xA1B2C3D4;
    unsigned char h1[kZipCryptHeaderLength], h2[kZipCryptHeaderLength];
    for (const char* password : {"same", ""}) {
        PwdProtect a, b;
        a.setPassword(password);
        b.setPassword(password);
        ASSERT_TRUE(a.makeHeader(crc, h1, log));
        ASSERT_TRUE(b.makeHeader(crc, h2, log));
        EXPECT_NE(std::string(h1, h1 + 12), std::string(h2, h2 + 12)) << password;
        for (const unsigned char* h : {h1, h2}) {
            PwdProtect check;
            check.setPassword(password);
            check.initKeys(log);
            EXPECT_TRUE(check.checkHeader(h, 0, crc, false, log));
        }
    }
    PwdProtect other; // h1 was made for "" and `crc`: another CRC must fail
    other.initKeys(log);
    RecordingLog rec;
    EXPECT_FALSE(other.checkHeader(h1, 0, crc ^ 0xFF000000u, false, rec));
    EXPECT_TRUE(rec.has("H:crc32=5eb2c3d4")) << rec.all();
}
