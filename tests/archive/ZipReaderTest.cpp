// The reader against archives others wrote (zip, python's zipfile, 7z,
// bsdtar), against fixed damaged ones, and against our own writer.
#include "archive/ZipReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "archive/ZipTime.h"
#include "archive/ZipWriter.h"
#include "platform/Crc32.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace {

using grvtest::Bytes;
using grvtest::RunPeer;
using grvtest::TempDir;

const std::string kFixtures = std::string(GRV_TEST_DATA_DIR) + "/archive/";

// Every file below a folder, by relative path, with its bytes; folders end in '/'.
std::map<std::string, Bytes> TreeOf(const std::string& root) {
    std::map<std::string, Bytes> tree;
    for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
        std::string rel = e.path().string().substr(root.size() + 1);
        if (e.is_directory())
            tree[rel + "/"] = {};
        else
            tree[rel] = grvtest::ReadBytes(e.path().string());
    }
    return tree;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (auto& e : std::filesystem::directory_iterator(folder))
        names.push_back(e.path().filename());
    return names;
}

// What python's zipfile says about an archive: one line per entry with
// name, size, compressed size and the DOS time read as local Unix seconds.
struct PyEntry {
    std::string name;
    std::uint32_t size = 0, compressed = 0;
    std::int64_t time = 0;
};

std::vector<PyEntry> PythonInfoList(const std::string& zip) {
    std::string py = "import sys, time, zipfile\n"
                     "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
                     "    t = int(time.mktime(i.date_time + (0, 0, -1)))\n"
                     "    print(i.file_size, i.compress_size, t, i.filename, sep='\\t')\n";
    const auto peer = RunPeer({"/usr/bin/python3", "-c", py, zip});
    EXPECT_EQ(peer.status, 0) << peer.out;
    std::vector<PyEntry> list;
    std::istringstream lines(peer.out);
    std::string line;
    while (std::getline(lines, line)) {
        PyEntry e;
        std::istringstream f(line);
        f >> e.size >> e.compressed >> e.time;
        f.get();
        std::getline(f, e.name);
        list.push_back(e);
    }
    return list;
}

void MakeSourceTree(const std::string& root) {
    ::mkdir(root.c_str(), 0755);
    ::mkdir((root + "/sub").c_str(), 0755);
    grvtest::WriteFile(root + "/journal.grv", grvtest::TextLike(120000, 1));
    grvtest::WriteFile(root + "/noise.bin", grvtest::RandomBytes(50000, 2));
    grvtest::WriteFile(root + "/empty.txt", Bytes{});
    grvtest::WriteFile(root + "/sub/notes.txt", grvtest::TextLike(3000, 3));
    // Odd seconds: DOS times round them, "UT" fields keep them.
    for (const char* f : {"journal.grv", "noise.bin", "empty.txt", "sub/notes.txt", "sub"}) {
        struct timespec t[2] = {{1772366401, 0}, {1772366401, 0}};
        ::utimensat(AT_FDCWD, (root + "/" + f).c_str(), t, 0);
    }
}

struct PeerCase {
    const char* label;
    std::vector<std::string> argv; // run in the source folder; "%s" is the archive path
    const char* password;
    bool toStdout = false; // the archive comes on stdout, which is a pipe
    std::string input = {};
};

class ReaderPeers : public ::testing::TestWithParam<PeerCase> {};

TEST_P(ReaderPeers, ListsAndExtractsWhatPeersWrote) {
    const PeerCase& c = GetParam();
    TempDir dir;
    const std::string src = dir.File("src");
    MakeSourceTree(src);
    const std::string zip = dir.File("peer.zip");
    std::vector<std::string> argv = c.argv;
    for (std::string& a : argv)
        if (a == "%s")
            a = zip;
    grvtest::RunOptions options;
    options.workDir = src;
    options.input = c.input;
    const auto peer = grvtest::RunProgram(argv, options);
    ASSERT_EQ(peer.status, 0) << peer.out << peer.err;
    if (c.toStdout) {
        ASSERT_TRUE(grvtest::WriteFile(zip, peer.out));
    }

    auto expected = TreeOf(src);
    auto python = PythonInfoList(zip);
    ZipHandle* h = OpenZipArchive(zip.c_str(), c.password);
    ASSERT_NE(h, nullptr) << c.label;
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
    ASSERT_EQ(static_cast<std::size_t>(rec.index), python.size());
    const std::string outDir = dir.File("out");
    int files = 0;
    for (int i = 0; i < static_cast<int>(python.size()); ++i) {
        SCOPED_TRACE(python[i].name);
        ASSERT_EQ(GetZipArchiveEntry(h, i, &rec), ZipResult::Ok);
        EXPECT_EQ(rec.index, i);
        EXPECT_EQ(std::string(rec.name), python[i].name);
        EXPECT_EQ(rec.uncompressedSize, python[i].size);
        EXPECT_EQ(rec.compressedSize, python[i].compressed);
        // A "UT" field gives the exact second, DOS time two-second steps.
        std::int64_t t = archive::FileTimeToUnix(rec.lastWriteTime);
        EXPECT_LE(std::llabs(t - python[i].time), 2) << t << " vs " << python[i].time;
        EXPECT_LE(std::llabs(t - 1772366401), 2);

        ASSERT_EQ(ExtractZipEntryToFile(h, i, (outDir + "/" + rec.name).c_str()), ZipResult::Ok);
        std::string name = rec.name;
        if (name.back() == '/') {
            struct stat st;
            EXPECT_EQ(::stat((outDir + "/" + name).c_str(), &st), 0);
            continue;
        }
        ++files;
        ASSERT_TRUE(expected.count(name)) << "unexpected entry";
        grvtest::WriteFile(dir.File("expected"), expected[name]);
        const auto cmp = RunPeer({"cmp", dir.File("expected"), outDir + "/" + name});
        EXPECT_EQ(cmp.status, 0) << cmp.out;
    }
    EXPECT_EQ(files, 4);
    EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, ReaderPeers,
    ::testing::Values(
        PeerCase{"zip stored", {"zip", "-q", "-0", "-r", "%s", "."}, nullptr},
        PeerCase{"zip best", {"zip", "-q", "-9", "-r", "%s", "."}, nullptr},
        PeerCase{"zip password", {"zip", "-q", "-P", "pw 1", "-r", "%s", "."}, "pw 1"},
        PeerCase{"zip comment",
                 {"zip", "-q", "-z", "-r", "%s", "."},
                 nullptr,
                 false,
                 grvtest::ReadFile("/usr/share/common-licenses/GPL-3").substr(0, 2000)},
        PeerCase{"zip without extra fields", {"zip", "-q", "-X", "-r", "%s", "."}, nullptr},
        PeerCase{"python",
                 {"/usr/bin/python3", "-c",
                  "import sys, zipfile, os\n"
                  "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                  "    for d, ds, fs in os.walk('.'):\n"
                  "        for n in ds + fs: z.write(os.path.join(d, n))",
                  "%s"},
                 nullptr},
        PeerCase{"python unseekable",
                 {"/usr/bin/python3", "-c",
                  "import sys, zipfile, os\n"
                  "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                  "    for d, ds, fs in os.walk('.'):\n"
                  "        for n in ds + fs: z.write(os.path.join(d, n))"},
                 nullptr,
                 true},
        PeerCase{"7z zipcrypto", {"7z", "a", "-bd", "-tzip", "-mem=ZipCrypto", "-pseven", "%s", "."}, "seven"},
        PeerCase{"bsdtar",
                 {"bsdtar", "--format", "zip", "-cf", "%s", "empty.txt", "journal.grv", "noise.bin", "sub"},
                 nullptr}),
    [](const auto& info) {
        std::string n = info.param.label;
        for (char& ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

std::string FixturePath(const char* name) {
    return kFixtures + name;
}

Bytes PythonRead(const std::string& zip, const std::string& entry, const std::string& password) {
    TempDir dir;
    std::string py = "import sys, zipfile\n"
                     "z = zipfile.ZipFile(sys.argv[1])\n"
                     "open(sys.argv[4], 'wb').write(z.read(sys.argv[2], pwd=sys.argv[3].encode()))\n";
    const auto peer = RunPeer({"/usr/bin/python3", "-c", py, zip, entry, password, dir.File("x")});
    EXPECT_EQ(peer.status, 0) << peer.out;
    return grvtest::ReadBytes(dir.File("x"));
}

TEST(ZipReaderFixtures, WrongPasswordKeepsExistingTarget) {
    TempDir dir;
    const Bytes precious = {'k', 'e', 'e', 'p'};
    ZipHandle* h = OpenZipArchive(FixturePath("password.zip").c_str(), "wrong");
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
    ASSERT_EQ(rec.index, 2);
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(GetZipArchiveEntry(h, i, &rec), ZipResult::Ok);
        SCOPED_TRACE(rec.name);
        const std::string target = dir.File(rec.name);
        grvtest::WriteFile(target, precious);
        // The empty entry too: its 12-byte header is still checked.
        EXPECT_EQ(ExtractZipEntryToFile(h, i, target.c_str()), ZipResult::WrongPassword);
        EXPECT_EQ(LastZipReaderResult(), ZipResult::WrongPassword);
        EXPECT_EQ(grvtest::ReadBytes(target), precious);
        // A target that did not exist is not created.
        EXPECT_EQ(ExtractZipEntryToFile(h, i, (dir.File("new/") + rec.name).c_str()), ZipResult::WrongPassword);
        EXPECT_FALSE(grvtest::FileExists(dir.File("new")));
    }
    EXPECT_EQ(FilesIn(dir.Path()).size(), 2u) << "no temporary file is left";
    EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);

    h = OpenZipArchive(FixturePath("password.zip").c_str(), "right");
    ASSERT_NE(h, nullptr);
    const std::string target = dir.File("journal.grv");
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, target.c_str()), ZipResult::Ok);
    EXPECT_EQ(grvtest::ReadBytes(target), PythonRead(FixturePath("password.zip"), "journal.grv", "right"));
    EXPECT_EQ(ExtractZipEntryToFile(h, 1, (dir.File("empty.txt")).c_str()), ZipResult::Ok);
    EXPECT_EQ(grvtest::ReadBytes(dir.File("empty.txt")).size(), 0u);
    EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);
}

// AES-encrypted entries were called corrupt. They are named for what they
// are, when listed and when extracted, whatever the password, and nothing
// is written; the same data with traditional encryption reads back.
TEST(ZipReaderFixtures, AesEntriesAreToldApartFromDamage) {
    TempDir dir;
    const Bytes data = grvtest::TextLike(5000, 7);
    ASSERT_TRUE(grvtest::WriteFile(dir.File("journal.grv"), data));
    const struct {
        const char* method;
        ZipResult listed;
    } cases[] = {{"AES128", ZipResult::UnsupportedEncryption},
                 {"AES256", ZipResult::UnsupportedEncryption},
                 {"ZipCrypto", ZipResult::Ok}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        const std::string zip = dir.File(std::string(c.method) + ".zip");
        ASSERT_EQ(RunPeer({"7z", "a", "-bd", "-tzip", std::string("-mem=") + c.method, "-pright", zip,
                           dir.File("journal.grv")})
                      .status,
                  0);
        for (const char* password : {"right", "wrong"}) {
            ZipHandle* h = OpenZipArchive(zip.c_str(), password);
            ASSERT_NE(h, nullptr);
            ZipEntryInfo rec;
            EXPECT_EQ(GetZipArchiveEntry(h, 0, &rec), c.listed);
            const std::string target = dir.File("out/journal.grv");
            const ZipResult extracted = ExtractZipEntryToFile(h, 0, target.c_str());
            if (c.listed != ZipResult::Ok) {
                EXPECT_EQ(extracted, c.listed);
                EXPECT_FALSE(grvtest::FileExists(dir.File("out")));
            } else if (std::string(password) == "right") {
                EXPECT_EQ(extracted, ZipResult::Ok);
                EXPECT_EQ(grvtest::ReadBytes(target), data);
            }
            EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);
        }
    }
}

TEST(ZipReaderFixtures, CorruptedEntryLeavesNoFile) {
    for (const char* fixture : {"corrupt-stored.zip", "corrupt-deflated.zip"}) {
        SCOPED_TRACE(fixture);
        TempDir dir;
        ZipHandle* h = OpenZipArchive(FixturePath(fixture).c_str(), nullptr);
        ASSERT_NE(h, nullptr);
        ZipEntryInfo rec;
        ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
        EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("journal.grv")).c_str()), ZipResult::DecompressError);
        EXPECT_TRUE(FilesIn(dir.Path()).empty()) << "neither target nor temporary file";
        // An existing target stays as it was.
        grvtest::WriteFile(dir.File("journal.grv"), {'o', 'l', 'd'});
        EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("journal.grv")).c_str()), ZipResult::DecompressError);
        EXPECT_EQ(grvtest::ReadBytes(dir.File("journal.grv")), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(FilesIn(dir.Path()).size(), 1u);
        CloseZipReader(h);
    }
}

TEST(ZipReaderFixtures, UnreadableArchivesFailOnOpen) {
    TempDir dir;
    for (const std::string& path : {FixturePath("truncated.zip"), FixturePath("not-a-zip.zip"),
                                    FixturePath("zip64.zip"), dir.File("missing.zip"), dir.Path()}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(OpenZipArchive(path.c_str(), nullptr), nullptr);
        EXPECT_EQ(LastZipReaderResult(), ZipResult::CannotOpen);
    }
}

// An archive of our own writer, in memory, for patching.
Bytes OwnArchive(const std::vector<std::pair<std::string, Bytes>>& entries, const char* password = nullptr,
                 int output = archive::kZipOutputMemory) {
    Bytes block(1 << 20);
    ZipHandle* h = createZipWriter(block.data(), block.size(), output, password);
    for (const auto& [name, data] : entries)
        EXPECT_EQ(addZipEntry(h, name.c_str(), data.data(), data.size(), archive::kZipSourceMemory), ZipResult::Ok);
    EXPECT_EQ(CloseZipWriter(h), ZipResult::Ok);
    auto layout = archive_test::ParseArchive(block);
    block.resize(layout.directoryOffset + layout.directorySize + 22);
    return block;
}

void PutLe(Bytes& b, std::size_t at, std::uint32_t v, int width) {
    for (int i = 0; i < width; ++i)
        b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

ZipHandle* OpenMemory(const Bytes& zip, const char* password = nullptr) {
    return openZipReader(zip.data(), zip.size(), archive::kZipInputMemory, password);
}

TEST(ZipReader, ResultCodeTable) {
    constexpr ZipResult Ok = ZipResult::Ok, Corrupt = ZipResult::Corrupt, DecompressError = ZipResult::DecompressError;
    const Bytes data = grvtest::TextLike(3000, 1);
    Bytes zip = OwnArchive({{"a.txt", data}, {"b.txt", data}});

    // Null handles: the record's index is cleared first.
    ZipEntryInfo rec;
    rec.index = 77;
    std::strcpy(rec.name, "junk");
    rec.uncompressedSize = 5;
    EXPECT_EQ(GetZipArchiveEntry(nullptr, -1, &rec), ZipResult::BadArguments);
    EXPECT_EQ(rec.index, 0);
    EXPECT_EQ(rec.name[0], '\0');
    EXPECT_EQ(rec.uncompressedSize, 0u);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::BadArguments);
    EXPECT_EQ(ExtractZipEntryToFile(nullptr, 0, "x"), ZipResult::BadArguments);
    EXPECT_EQ(CloseZipReader(nullptr), ZipResult::BadArguments);

    // Handles of the other kind are refused, and stay usable.
    TempDir dir;
    ZipHandle* writer = CreateZipArchive((dir.File("w.zip")).c_str(), nullptr);
    ZipHandle* reader = OpenMemory(zip);
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(GetZipArchiveEntry(writer, -1, &rec), ZipResult::WrongHandleKind);
    EXPECT_EQ(rec.index, 0);
    EXPECT_EQ(ExtractZipEntryToFile(writer, 0, "x"), ZipResult::WrongHandleKind);
    EXPECT_EQ(CloseZipReader(writer), ZipResult::WrongHandleKind);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::WrongHandleKind);
    EXPECT_EQ(CloseZipWriter(reader), ZipResult::WrongHandleKind);
    EXPECT_EQ(GetZipArchiveEntry(reader, 1, &rec), ZipResult::Ok) << "the reader stays usable";
    EXPECT_EQ(CloseZipWriter(writer), ZipResult::Ok);

    // Indexes and target kinds.
    struct Case {
        int index;
        ZipResult expected;
    } listing[] = {{-2, ZipResult::BadArguments},
                   {-1, ZipResult::Ok},
                   {0, ZipResult::Ok},
                   {1, ZipResult::Ok},
                   {2, ZipResult::BadArguments}};
    for (const auto& c : listing)
        EXPECT_EQ(GetZipArchiveEntry(reader, c.index, &rec), c.expected) << c.index;
    EXPECT_EQ(ExtractZipEntryToFile(reader, 2, (dir.File("x")).c_str()), ZipResult::BadArguments);
    EXPECT_EQ(ExtractZipEntryToFile(reader, -1, (dir.File("x")).c_str()), ZipResult::BadArguments);
    EXPECT_EQ(extractZipEntry(reader, 0, (dir.File("x")).c_str(), 0, 4), ZipResult::BadArguments);
    EXPECT_EQ(GetZipArchiveEntry(reader, 0, nullptr), ZipResult::BadArguments);
    EXPECT_EQ(CloseZipReader(reader), ZipResult::Ok);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::Ok);

    // Damaged and overlapping entries, each judged by python's zipfile
    // (reading every entry, or refusing before the release that reads them
    // all: 3.13 only warns of one local header under two entries) and
    // `unzip -t` (its exit status) as well: 0x700
    // when the local header disagrees with the central record, the whole
    // archive refused at open when entries overlap, and a deflate stream
    // that runs past its size fails its extraction; bytes inside an entry's
    // size after its stream's end are passed over.
    auto layout = archive_test::ParseArchive(zip);
    const std::size_t second = layout.entries[1].localOffset;
    const std::size_t secondCentral = layout.directoryOffset + 46 + 5 + layout.entries[0].extra.size();
    const std::uint32_t cutCrc = platform::Crc32(0, data.data(), 1000);
    constexpr int kAlways = 0, kNever = INT_MAX, kPython313 = 313;
    const int python3 = grvtest::PeerVersion("/usr/bin/python3");
    ASSERT_NE(python3, 0);
    struct Patch {
        std::size_t at;
        std::uint32_t value;
        int width;
    };
    struct Damage {
        const char* what;
        std::vector<Patch> patches;
        const char* rewrite; // overlap_zip.py's mode
        ZipResult opened, listed, extracted;
        int pythonReadsFrom; // the first python release whose zipfile reads every entry
        int unzipStatus;
    } damage[] = {
        {"signature", {{second, 0x04034B51, 4}}, nullptr, Ok, Corrupt, Corrupt, kNever, 2},
        {"method", {{second + 8, 0, 2}}, nullptr, Ok, Corrupt, Corrupt, kAlways, 2},
        {"crc", {{second + 14, 1, 4}}, nullptr, Ok, Corrupt, Corrupt, kAlways, 2},
        {"size", {{second + 22, 1, 4}}, nullptr, Ok, Corrupt, Corrupt, kAlways, 0},
        {"name length", {{second + 26, 4, 2}}, nullptr, Ok, Corrupt, Corrupt, kNever, 2},
        {"differing central and local names", {{second + 30, 'c', 1}}, nullptr, Ok, Corrupt, Corrupt, kNever, 1},
        {"extra field reaching into the directory", {{second + 28, 0xFFFF, 2}}, nullptr, Corrupt, Ok, Ok, kNever, 12},
        {"two central records on one local header", {{secondCentral + 42, 0, 4}}, nullptr, Corrupt, Ok, Ok, kNever, 12},
        {"one local header, two entries of its name", {}, "full", Corrupt, Ok, Ok, kPython313, 12},
        {"quoting the next local header in a stored block", {}, "quoted", Corrupt, Ok, Ok, kNever, 12},
        {"deflate stream running past its size",
         {{second + 14, cutCrc, 4},
          {second + 22, 1000, 4},
          {secondCentral + 16, cutCrc, 4},
          {secondCentral + 24, 1000, 4}},
         nullptr,
         Ok,
         Ok,
         DecompressError,
         kAlways,
         2},
        {"deflate data followed by bytes inside its size", {}, "padded", Ok, Ok, Ok, kAlways, 0},
    };
    for (const auto& d : damage) {
        SCOPED_TRACE(d.what);
        Bytes bad = zip;
        for (const Patch& p : d.patches)
            PutLe(bad, p.at, p.value, p.width);
        const std::string path = dir.File("damaged.zip");
        ASSERT_TRUE(grvtest::WriteFile(path, bad));
        if (d.rewrite) {
            const std::string script = std::string(GRV_SOURCE_DIR) + "/tests/peers/overlap_zip.py";
            ASSERT_EQ(RunPeer({"/usr/bin/python3", script, d.rewrite, path, path}).status, 0);
        }
        const auto python = grvtest::Python("import sys, zipfile\n"
                                            "z = zipfile.ZipFile(sys.argv[1])\n"
                                            "for i in z.infolist(): z.read(i)\n",
                                            {path});
        EXPECT_EQ(python.Ok(), python3 >= d.pythonReadsFrom) << python.err;
        EXPECT_EQ(RunPeer({"unzip", "-tqq", path}).status, d.unzipStatus);

        ZipHandle* h = OpenZipArchive(path.c_str(), nullptr);
        EXPECT_EQ(LastZipReaderResult(), d.opened);
        ASSERT_EQ(h != nullptr, d.opened == Ok);
        if (!h)
            continue;
        EXPECT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
        EXPECT_EQ(GetZipArchiveEntry(h, 1, &rec), d.listed);
        EXPECT_EQ(ExtractZipEntryToFile(h, 1, (dir.File("y")).c_str()), d.extracted);
        EXPECT_EQ(grvtest::FileExists(dir.File("y")), d.extracted == Ok);
        if (d.extracted == Ok) {
            EXPECT_TRUE(grvtest::ReadBytes(dir.File("y")) == data);
        }
        ::unlink(dir.File("y").c_str());
        CloseZipReader(h);
    }

    // A reader opened twice, and a descriptor that can't seek.
    archive::ZipReader r(nullptr);
    EXPECT_EQ(r.open(zip.data(), zip.size(), archive::kZipInputMemory), ZipResult::Ok);
    EXPECT_EQ(r.open(zip.data(), zip.size(), archive::kZipInputMemory), ZipResult::NotReady);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    EXPECT_EQ(openZipReader(&fds[0], 0, archive::kZipInputHandle, nullptr), nullptr);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::SeekImpossible);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(openZipReader(zip.data(), zip.size(), 9, nullptr), nullptr);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::BadArguments);
}

// Cleaned as python's zipfile extracts them, ".." parts dropped and a NUL
// ending the name; the old rules skip up to a "/../" first. Nothing left
// names no file.
TEST(ZipReader, NameCleaning) {
    struct Case {
        std::string stored;
        const char* cleaned;
    } cases[] = {
        {"C:\\dir\\..\\x.txt", "x.txt"},
        {"/a/../b/c", "b/c"},
        {"sub/file.txt", "sub/file.txt"},
        {"docs/", "docs/"},
        {"./a/./b", "a/b"},
        {"a\\b.txt", "a/b.txt"},
        {"a//b", "a/b"},
        {"a/..b", "a/..b"},
        {"\\\\server\\share\\f", "server/share/f"},
        {"../evil", "evil"},
        {"..\\evil", "evil"},
        {"a/../../b", "b"},
        {"x/..", "x"},
        {"x/../", ""},
        {"..", ""},
        {"../", ""},
        {std::string("journal.grv\0../x", 16), "journal.grv"},
        {std::string("\0journal.grv", 12), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(archive::CleanEntryName(c.stored), c.cleaned) << grvtest::ToHex(c.stored);
}

// Names that would reach outside, hold a NUL or name no file were refused
// as bad arguments, so that one of them failed a whole restore. They are
// cleaned as python's zipfile and unzip clean them, and one that is left
// naming nothing, or more than a record holds, is listed without a name:
// its entry still extracts where the caller says, and nothing lands outside.
TEST(ZipReader, TrickyNamesAreCleanedAndNothingLandsOutside) {
    TempDir dir;
    const std::string zip = dir.File("evil.zip");
    std::string py = "import sys, zipfile\n"
                     "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                     "    for n in sys.argv[2:]:\n"
                     "        i = zipfile.ZipInfo('x', (2020, 1, 1, 0, 0, 0))\n"
                     "        i.filename = n.replace('NUL', chr(0))\n"
                     "        z.writestr(i, 'x')\n";
    const struct {
        std::string stored;
        ZipResult listed;
        const char* name;
    } cases[] = {
        {"../escape.txt", ZipResult::Ok, "escape.txt"},
        {"a/../../escape2.txt", ZipResult::Ok, "escape2.txt"},
        {"/abs/inside.txt", ZipResult::Ok, "abs/inside.txt"},
        {"ok/./fine.txt", ZipResult::Ok, "ok/fine.txt"},
        {"up/..", ZipResult::Ok, "up"},
        {"nul.txtNUL/../../evil", ZipResult::Ok, "nul.txt"},
        {"..", ZipResult::NameUnusable, ""},
        {std::string(300, 'L'), ZipResult::NameUnusable, ""},
    };
    std::vector<std::string> argv = {"/usr/bin/python3", "-c", py, zip};
    for (const auto& c : cases)
        argv.push_back(c.stored);
    const auto peer = RunPeer(argv);
    ASSERT_EQ(peer.status, 0) << peer.out;
    ::mkdir((dir.File("target")).c_str(), 0755);
    ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        ZipEntryInfo rec;
        EXPECT_EQ(GetZipArchiveEntry(h, i, &rec), c.listed);
        EXPECT_STREQ(rec.name, c.name);
        // The restore loop joins folder and name; an entry named by nothing
        // goes where the caller names it.
        std::string target = dir.File("target/") + (*rec.name ? rec.name : "unnamed" + std::to_string(i));
        EXPECT_EQ(ExtractZipEntryToFile(h, i, target.c_str()), ZipResult::Ok);
        EXPECT_EQ(grvtest::ReadFile(target), "x");
        ++i;
    }
    CloseZipReader(h);
    for (const auto& [path, bytes] : TreeOf(dir.Path()))
        EXPECT_TRUE(path == "evil.zip" || path.rfind("target/", 0) == 0) << path << " is outside";
}

TEST(ZipReader, AttributesFromHostAndBits) {
    struct Case {
        std::uint16_t madeBy;
        std::uint32_t external, expected;
    } cases[] = {
        {0x0314, 0x81A40000, 0x20}, {0x0314, 0x81240000, 0x21}, {0x0314, 0x41ED0010, 0x30}, {0x0014, 0x00000021, 0x21},
        {0x0B17, 0x81800020, 0x20}, {0x0B17, 0x41C00010, 0x10}, {0x0714, 0x00000006, 0x06}, {0x0E14, 0x000000FF, 0x37},
    };
    for (const auto& c : cases)
        EXPECT_EQ(archive::EntryAttributes(c.madeBy, c.external), c.expected)
            << std::hex << c.madeBy << " " << c.external;
}

TEST(ZipReader, TimesFromUtFieldOrLocalDosTime) {
    TempDir dir;
    // 2026-03-01 12:00:01 UTC is 13:00:01 in Berlin; DOS keeps 13:00:00 or :02.
    const std::string src = dir.File("f.txt");
    grvtest::WriteFile(src, {'a'});
    struct timespec t[2] = {{1772366401, 0}, {1772366401, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), t, 0), 0);
    grvtest::RunOptions here;
    here.workDir = dir.Path();
    for (const std::vector<std::string>& argv :
         {std::vector<std::string>{"zip", "-q", "-X", "plain.zip", "f.txt"}, {"zip", "-q", "ut.zip", "f.txt"}}) {
        const auto peer = grvtest::RunProgram(argv, here);
        ASSERT_EQ(peer.status, 0) << peer.err;
    }
    ZipEntryInfo rec;
    ZipHandle* h = OpenZipArchive((dir.File("plain.zip")).c_str(), nullptr);
    ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
    std::int64_t dosTime = archive::FileTimeToUnix(rec.lastWriteTime);
    EXPECT_LE(std::llabs(dosTime - 1772366401), 1) << "DOS time read as local time";
    EXPECT_EQ(archive::FileTimeToUnix(rec.accessTime), dosTime);
    CloseZipReader(h);

    h = OpenZipArchive((dir.File("ut.zip")).c_str(), nullptr);
    ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
    EXPECT_EQ(archive::FileTimeToUnix(rec.lastWriteTime), 1772366401) << "from the UT field";
    ASSERT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("x/f.txt")).c_str()), ZipResult::Ok);
    struct stat st;
    ASSERT_EQ(::stat((dir.File("x/f.txt")).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1772366401) << "the extracted file takes the entry's time";
    CloseZipReader(h);
}

TEST(ZipReader, LargeLocalExtraFieldIsReadWhole) {
    // 40,000 bytes of another block before the "UT" block.
    TempDir dir;
    const std::string zip = dir.File("extra.zip");
    std::string py = "import sys, zipfile, struct\n"
                     "i = zipfile.ZipInfo('e.txt', (2020, 1, 1, 0, 0, 0))\n"
                     "i.extra = struct.pack('<HH', 0xCAFE, 40000) + bytes(40000) + "
                     "struct.pack('<HHBi', 0x5455, 5, 1, 1600000000)\n"
                     "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                     "    z.writestr(i, 'extra')\n";
    const auto peer = RunPeer({"/usr/bin/python3", "-c", py, zip});
    ASSERT_EQ(peer.status, 0) << peer.out;
    ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
    EXPECT_EQ(archive::FileTimeToUnix(rec.lastWriteTime), 1600000000);
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("e.txt")).c_str()), ZipResult::Ok);
    EXPECT_EQ(grvtest::ReadBytes(dir.File("e.txt")), (Bytes{'e', 'x', 't', 'r', 'a'}));
    CloseZipReader(h);
}

TEST(ZipReader, EndRecordEdges) {
    // Only an end record: no entries.
    Bytes empty(22, 0);
    empty[0] = 'P', empty[1] = 'K', empty[2] = 5, empty[3] = 6;
    ZipHandle* h = OpenMemory(empty);
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    EXPECT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
    EXPECT_EQ(rec.index, 0);
    CloseZipReader(h);

    // A directory said to end beyond the end record.
    Bytes zip = OwnArchive({{"a", {1, 2, 3}}});
    Bytes bad = zip;
    PutLe(bad, bad.size() - 22 + 12, archive_test::ParseArchive(zip).directorySize + 1, 4);
    EXPECT_EQ(OpenMemory(bad), nullptr);

    // Data before the archive (a self-extractor's stub) is allowed for.
    Bytes prefixed(5000, 'x');
    prefixed.insert(prefixed.end(), zip.begin(), zip.end());
    h = OpenMemory(prefixed);
    ASSERT_NE(h, nullptr);
    Bytes got(10);
    EXPECT_EQ(extractZipEntry(h, 0, got.data(), got.size(), archive::kZipTargetMemory), ZipResult::Ok);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), (Bytes{1, 2, 3}));
    CloseZipReader(h);

    // A comment of 65,535 bytes still leaves the end record findable.
    Bytes commented = zip;
    PutLe(commented, commented.size() - 2, 0xFFFF, 2);
    commented.insert(commented.end(), 0xFFFF, 'c');
    h = OpenMemory(commented);
    ASSERT_NE(h, nullptr);
    CloseZipReader(h);
}

// As many entries as the writer writes (a count of 0xFFFF, no Zip64), listed
// and then extracted by number last to first and shuffled: each entry's
// name, size and data's CRC-32 as python's zipfile reads them, and unzip
// lists them all. Each costs what it costs forward.
TEST(ZipReader, EntriesByNumberInAnyOrder) {
    constexpr int kEntries = 0xFFFF;
    TempDir dir;
    const std::string zip = dir.File("many.zip");
    ZipHandle* w = CreateZipArchive(zip.c_str(), nullptr);
    ASSERT_NE(w, nullptr);
    for (int i = 0; i < kEntries; ++i) {
        const std::string name = "d" + std::to_string(i % 7) + "/e" + std::to_string(i);
        const std::string data(static_cast<std::size_t>(1 + i % 13), static_cast<char>('a' + i % 26));
        ASSERT_EQ(addZipEntry(w, name.c_str(), data.data(), data.size(), archive::kZipSourceMemory), ZipResult::Ok);
    }
    EXPECT_EQ(addZipEntry(w, "one-too-many", "x", 1, archive::kZipSourceMemory), ZipResult::WriteError);
    ASSERT_EQ(CloseZipWriter(w), ZipResult::Ok);

    const auto python = grvtest::Python("import sys, zipfile, zlib\n"
                                        "z = zipfile.ZipFile(sys.argv[1])\n"
                                        "for i in z.infolist():\n"
                                        "    d = z.read(i)\n"
                                        "    print('%s %d %08x' % (i.filename, i.file_size, zlib.crc32(d)))\n",
                                        {zip});
    ASSERT_TRUE(python.Ok()) << python.err;
    const auto unzip = RunPeer({"unzip", "-l", zip});
    EXPECT_NE(unzip.out.find(" 65535 files"), std::string::npos) << unzip.out.substr(unzip.out.size() - 200);

    ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
    ASSERT_EQ(rec.index, kEntries);
    std::vector<int> backwards(kEntries);
    for (int i = 0; i < kEntries; ++i)
        backwards[static_cast<std::size_t>(i)] = kEntries - 1 - i;
    std::vector<int> shuffled = backwards;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(1952));
    // Extracted through a descriptor, the file target's road without its
    // flush to disk for every entry.
    const int fd = ::open(dir.File("x").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    for (const auto* order : {&backwards, &shuffled}) {
        SCOPED_TRACE(order == &backwards ? "last to first" : "shuffled");
        std::vector<std::string> listed(kEntries);
        for (int i : *order) {
            ASSERT_EQ(GetZipArchiveEntry(h, i, &rec), ZipResult::Ok) << i;
            listed[static_cast<std::size_t>(i)] = std::string(rec.name) + " " + std::to_string(rec.uncompressedSize);
        }
        for (int i : *order) {
            ASSERT_EQ(::ftruncate(fd, 0), 0);
            ASSERT_EQ(::lseek(fd, 0, SEEK_SET), 0);
            ASSERT_EQ(extractZipEntry(h, i, &fd, 0, archive::kZipTargetHandle), ZipResult::Ok) << i;
            std::uint8_t data[16];
            const ssize_t n = ::pread(fd, data, sizeof data, 0);
            ASSERT_GE(n, 0);
            char crc[16];
            std::snprintf(crc, sizeof crc, " %08x\n", platform::Crc32(0, data, static_cast<std::size_t>(n)));
            listed[static_cast<std::size_t>(i)] += crc;
        }
        std::string ours;
        for (const std::string& line : listed)
            ours += line;
        EXPECT_EQ(ours, python.out);
    }
    ::close(fd);
    CloseZipReader(h);
}

// The names `unzip -l` lists, and its exit status.
std::pair<std::vector<std::string>, int> UnzipListing(const std::string& zip) {
    constexpr std::size_t kNameColumn = 30;
    const auto unzip = grvtest::RunProgram({"unzip", "-l", zip});
    std::vector<std::string> names;
    std::istringstream lines(unzip.out);
    std::string line;
    int rulers = 0;
    while (std::getline(lines, line) && rulers < 2) {
        if (line.compare(0, 9, "---------") == 0)
            ++rulers;
        else if (rulers == 1 && line.size() > kNameColumn)
            names.push_back(line.substr(kNameColumn));
    }
    return {names, unzip.status};
}

// The names in order, each once: a peer lists a record's copy again.
std::vector<std::string> EachOnce(const std::vector<std::string>& names) {
    std::vector<std::string> once;
    std::set<std::string> seen;
    for (const std::string& name : names) {
        if (seen.insert(name).second)
            once.push_back(name);
    }
    return once;
}

// An end record's count against the records its directory holds, beside
// python's zipfile, unzip and bsdtar: see directory-counts.txt.
TEST(ZipReader, EntriesAreTheRecordsOfTheDirectory) {
    const auto rows = grvtest::ReadTable(kFixtures + "directory-counts.txt", " | ");
    ASSERT_FALSE(rows.empty());
    TempDir dir;
    const std::string journal = dir.File("journal.grv");
    ASSERT_TRUE(grvtest::WriteFile(journal, grvtest::TextLike(5000, 3)));
    const std::string zip = dir.File("counted.zip");
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 7u);
        SCOPED_TRACE(row[0] + " records, count " + row[1] + ", " + row[2]);
        const std::string script = std::string(GRV_SOURCE_DIR) + "/tests/peers/count_zip.py";
        std::vector<std::string> make = {"/usr/bin/python3", script, row[0], row[1], zip, journal};
        std::istringstream changes(row[2] == "-" ? "" : row[2]);
        for (std::string change, value; changes >> change >> value;)
            make.insert(make.end(), {"--" + change, value});
        ASSERT_EQ(RunPeer(make).status, 0);
        ::unlink(dir.File("python-read").c_str());
        const auto python = grvtest::Python("import sys, zipfile\n"
                                            "try:\n"
                                            "    z = zipfile.ZipFile(sys.argv[1])\n"
                                            "except zipfile.BadZipFile:\n"
                                            "    sys.exit(print('refused'))\n"
                                            "last = z.infolist()[-1].filename\n"
                                            "first = next(i for i in z.infolist() if i.filename == last)\n"
                                            "open(sys.argv[2], 'wb').write(z.read(first))\n"
                                            "print(len(z.infolist()), *z.namelist(), sep='\\n')\n",
                                            {zip, dir.File("python-read")});
        ASSERT_TRUE(python.Ok()) << python.err;
        EXPECT_EQ(python.out.substr(0, python.out.find('\n')), row[4]);
        const auto [unzipNames, unzipStatus] = UnzipListing(zip);
        EXPECT_EQ(std::to_string(unzipStatus), row[5]);
        const auto bsdtar = grvtest::RunProgram({"bsdtar", "-tf", zip});
        std::vector<std::string> bsdtarNames;
        std::istringstream bsdtarLines(bsdtar.out);
        for (std::string line; std::getline(bsdtarLines, line);)
            bsdtarNames.push_back(line);
        EXPECT_EQ(bsdtar.status == 0 ? std::to_string(bsdtarNames.size()) : "refused", row[6]);

        ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
        if (row[3] == "refused" || row[3] == "overlapping") {
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(LastZipReaderResult(), row[3] == "refused" ? ZipResult::CannotOpen : ZipResult::Corrupt);
            continue;
        }
        ASSERT_NE(h, nullptr);
        ZipEntryInfo rec;
        ASSERT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
        std::vector<std::string> names;
        std::string listed = std::to_string(rec.index);
        for (int i = 0; i < rec.index; ++i) {
            ZipEntryInfo entry;
            const ZipResult r = GetZipArchiveEntry(h, i, &entry);
            if (r == ZipResult::Ok && names.size() == static_cast<std::size_t>(i))
                names.push_back(entry.name);
            else
                EXPECT_EQ(r, ZipResult::Corrupt) << i;
        }
        EXPECT_EQ(std::to_string(names.size()) + "/" + listed, row[3]);
        ASSERT_FALSE(names.empty());
        EXPECT_TRUE(names == EachOnce(unzipNames)) << names.size() << " names, unzip " << unzipNames.size();
        if (bsdtar.status == 0) {
            EXPECT_TRUE(names == bsdtarNames) << bsdtarNames.size() << " names from bsdtar";
        }
        if (row[4] != "refused") {
            std::vector<std::string> pythonNames;
            std::istringstream pythonLines(python.out.substr(python.out.find('\n') + 1));
            for (std::string line; std::getline(pythonLines, line);)
                pythonNames.push_back(line);
            EXPECT_TRUE(names == EachOnce(pythonNames)) << pythonNames.size() << " names from python";
        }
        // The journal, where its record reads, as python reads it; no entry
        // past the last record that reads gives anything.
        const int last = static_cast<int>(names.size()) - 1;
        if (names.back() == "journal.grv") {
            ASSERT_EQ(ExtractZipEntryToFile(h, last, dir.File("ours").c_str()), ZipResult::Ok);
            EXPECT_EQ(grvtest::ReadBytes(dir.File("ours")), grvtest::ReadBytes(journal));
            if (row[4] != "refused") {
                EXPECT_EQ(grvtest::ReadBytes(dir.File("python-read")), grvtest::ReadBytes(journal));
            }
        }
        EXPECT_EQ(ExtractZipEntryToFile(h, last + 1, dir.File("past").c_str()),
                  last + 1 < rec.index ? ZipResult::Corrupt : ZipResult::BadArguments);
        EXPECT_FALSE(grvtest::FileExists(dir.File("past")));
        CloseZipReader(h);
    }
}

TEST(ZipReader, StoredEntryShorterThanAnnouncedFails) {
    Bytes zip = OwnArchive({{"a.zip", grvtest::TextLike(1000, 1)}});
    auto e = archive_test::ParseArchive(zip).entries[0];
    ASSERT_EQ(e.method, 0);
    // Claim 2000 bytes in both headers: the data runs out first.
    PutLe(zip, e.localOffset + 22, 2000, 4);
    PutLe(zip, archive_test::ParseArchive(zip).directoryOffset + 24, 2000, 4);
    TempDir dir;
    ZipHandle* h = OpenMemory(zip);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("a.zip")).c_str()), ZipResult::DecompressError);
    EXPECT_FALSE(grvtest::FileExists(dir.File("a.zip")));
    CloseZipReader(h);
}

TEST(ZipReader, RoundTripThroughOwnWriter) {
    const Bytes big = grvtest::TextLike(300000, 9);
    const Bytes noise = grvtest::RandomBytes(70000, 9);
    for (const char* password : {static_cast<const char*>(nullptr), "round trip"}) {
        SCOPED_TRACE(password ? password : "no password");
        for (int output : {static_cast<int>(archive::kZipOutputMemory), 0}) {
            // 0: through a pipe, so every entry has a data descriptor.
            Bytes zip;
            if (output) {
                zip = OwnArchive({{"big.txt", big}, {"noise.gz", noise}, {"one", {42}}}, password);
            } else {
                int fds[2];
                ASSERT_EQ(::pipe(fds), 0);
                std::thread reader([&] {
                    std::uint8_t buf[4096];
                    ssize_t n;
                    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
                        zip.insert(zip.end(), buf, buf + n);
                });
                ZipHandle* w = createZipWriter(&fds[1], 0, archive::kZipOutputHandle, password);
                for (auto& [name, data] :
                     std::vector<std::pair<const char*, const Bytes*>>{{"big.txt", &big}, {"noise.gz", &noise}})
                    EXPECT_EQ(addZipEntry(w, name, data->data(), data->size(), archive::kZipSourceMemory),
                              ZipResult::Ok);
                std::uint8_t one = 42;
                EXPECT_EQ(addZipEntry(w, "one", &one, 1, archive::kZipSourceMemory), ZipResult::Ok);
                EXPECT_EQ(CloseZipWriter(w), ZipResult::Ok);
                ::close(fds[1]);
                reader.join();
                ::close(fds[0]);
            }
            ZipHandle* h = OpenMemory(zip, password ? password : "ignored");
            ASSERT_NE(h, nullptr);
            // In memory, in pieces: 0x600 while more remains.
            Bytes got;
            Bytes piece(50000);
            ZipResult r;
            int calls = 0;
            while ((r = extractZipEntry(h, 0, piece.data(), piece.size(), archive::kZipTargetMemory)) ==
                   ZipResult::MoreData) {
                got.insert(got.end(), piece.begin(), piece.end());
                ++calls;
            }
            ASSERT_EQ(r, ZipResult::Ok);
            got.insert(got.end(), piece.begin(), piece.begin() + static_cast<long>(big.size() - got.size()));
            EXPECT_EQ(got, big);
            EXPECT_EQ(calls, 5);
            // To a descriptor.
            TempDir dir;
            int fd = ::open((dir.File("noise")).c_str(), O_CREAT | O_WRONLY, 0644);
            EXPECT_EQ(extractZipEntry(h, 1, &fd, 0, archive::kZipTargetHandle), ZipResult::Ok);
            ::close(fd);
            EXPECT_EQ(grvtest::ReadBytes(dir.File("noise")), noise);
            EXPECT_EQ(ExtractZipEntryToFile(h, 2, (dir.File("one")).c_str()), ZipResult::Ok);
            EXPECT_EQ(grvtest::ReadBytes(dir.File("one")), (Bytes{42}));
            CloseZipReader(h);
        }
    }
}

TEST(ZipReader, RestoreAsTheDialogDoesIt) {
    // Backup and restore through the eight functions, relative targets taken
    // under the folder that was current when the archive was opened.
    TempDir dir;
    const std::string db = grvtest::MakeJournalDatabase(dir.File("journal.grv"));
    ::chmod(db.c_str(), 0444);
    ZipHandle* w = CreateZipArchive((dir.File("backup.grz")).c_str(), "pässword");
    ASSERT_EQ(AddFileToZipArchive(w, "journal.grv", db.c_str()), ZipResult::Ok);
    ASSERT_EQ(addZipEntry(w, "docs", nullptr, 0, archive::kZipSourceFolder), ZipResult::Ok);
    ASSERT_EQ(CloseZipWriter(w), ZipResult::Ok);

    char old[4096];
    ASSERT_NE(::getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(::chdir(dir.Path().c_str()), 0);
    ZipHandle* h = OpenZipArchive("backup.grz", "pässword");
    ASSERT_EQ(::chdir(old), 0);
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
    ASSERT_EQ(rec.index, 2);
    ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
    EXPECT_STREQ(rec.name, "journal.grv");
    EXPECT_EQ(rec.attributes, kZipAttrArchive | kZipAttrReadOnly);
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, "restored/new folder/journal.grv"), ZipResult::Ok);
    ASSERT_EQ(GetZipArchiveEntry(h, 1, &rec), ZipResult::Ok);
    EXPECT_STREQ(rec.name, "docs/");
    EXPECT_EQ(rec.attributes, kZipAttrDirectory);
    EXPECT_EQ(ExtractZipEntryToFile(h, 1, "restored/docs/"), ZipResult::Ok);
    EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);

    const std::string restored = dir.File("restored/new folder/journal.grv");
    EXPECT_EQ(grvtest::ReadBytes(restored), grvtest::ReadBytes(db));
    struct stat st;
    ASSERT_EQ(::stat(restored.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only comes back read-only";
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("restored/docs")));
    EXPECT_EQ(grvtest::SqliteCli(restored, "SELECT count(*) FROM entry").out, "3000\n");
}

// A folder is what every peer calls one, a name ending in '/': a directory
// bit flipped on the journal's entry neither hides its data nor skips its CRC.
TEST(ZipReader, DirectoryBitOnAFileEntryIsReadAsAFile) {
    TempDir dir;
    grvtest::WriteFile(dir.File("journal.grv"), grvtest::TextLike(50000, 4));
    const std::string zip = dir.File("flipped.grz");
    ZipHandle* w = CreateZipArchive(zip.c_str(), nullptr);
    ASSERT_EQ(AddFileToZipArchive(w, "journal.grv", dir.File("journal.grv").c_str()), ZipResult::Ok);
    ASSERT_EQ(CloseZipWriter(w), ZipResult::Ok);
    Bytes bytes = grvtest::ReadBytes(zip);
    const auto layout = archive_test::ParseArchive(bytes);
    bytes.at(layout.directoryOffset + 38) |= kZipAttrDirectory;
    ASSERT_TRUE(grvtest::WriteFile(zip, bytes));
    const auto peer = RunPeer({"/usr/bin/python3", "-c",
                               "import sys, zipfile\n"
                               "i = zipfile.ZipFile(sys.argv[1]).infolist()[0]\n"
                               "print(i.external_attr & 0x10, i.is_dir())",
                               zip});
    EXPECT_EQ(peer.out, "16 False\n") << "the bit is set, and it is still a file";

    ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
    EXPECT_EQ(rec.attributes & kZipAttrDirectory, 0u);
    ASSERT_EQ(ExtractZipEntryToFile(h, 0, dir.File("restored.grv").c_str()), ZipResult::Ok);
    CloseZipReader(h);
    const auto unzipped = RunPeer({"unzip", "-p", zip, "journal.grv"});
    EXPECT_TRUE(grvtest::ReadFile(dir.File("restored.grv")) == unzipped.out) << "as unzip reads it";
    EXPECT_EQ(RunPeer({"cmp", dir.File("restored.grv"), dir.File("journal.grv")}).status, 0);

    // Damaged data behind the flipped bit fails its check and leaves nothing.
    bytes.at(layout.entries[0].dataOffset + 100) ^= 0x55;
    h = OpenMemory(bytes);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, dir.File("damaged.grv").c_str()), ZipResult::DecompressError);
    EXPECT_FALSE(grvtest::FileExists(dir.File("damaged.grv")));
    CloseZipReader(h);
}

// Names flagged UTF-8 (bit 11) are UTF-8; unflagged ones are what older
// writers left, this one's UTF-8 or the Windows code page. A name ends at a
// NUL; one flagged UTF-8 that is not names no file, and its entry still
// extracts where the caller says.
TEST(ZipReader, StoredNamesByTheirUtf8Flag) {
    struct Case {
        std::string stored;
        bool flagged;
        const char* listed; // null: no name
    } cases[] = {
        {"J\xc3\xbcrgen.grv", true, "J\xc3\xbcrgen.grv"},
        {"J\xc3\xbcrgen.grv", false, "J\xc3\xbcrgen.grv"},
        {"J\xfcrgen.grv", false, "J\xc3\xbcrgen.grv"},
        {"J\xfcrgen.grv", true, nullptr},
        {std::string("journal.grv\0../x", 16), false, "journal.grv"},
        {std::string("journal.grv\0", 12), true, "journal.grv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(grvtest::ToHex(c.stored));
        Bytes zip = OwnArchive({{std::string(c.stored.size(), 'n'), {1, 2, 3}}});
        const auto e = archive_test::ParseArchive(zip);
        const std::size_t central = e.directoryOffset, local = e.entries[0].localOffset;
        for (std::size_t name : {central + 46, local + 30})
            std::copy(c.stored.begin(), c.stored.end(), zip.begin() + static_cast<long>(name));
        if (c.flagged)
            for (std::size_t flags : {central + 8, local + 6})
                zip.at(flags + 1) |= 0x08;
        TempDir dir;
        ZipHandle* h = OpenMemory(zip);
        ASSERT_NE(h, nullptr);
        ZipEntryInfo rec;
        EXPECT_EQ(GetZipArchiveEntry(h, 0, &rec), c.listed ? ZipResult::Ok : ZipResult::NameUnusable);
        EXPECT_STREQ(rec.name, c.listed ? c.listed : "");
        EXPECT_EQ(ExtractZipEntryToFile(h, 0, dir.File("t.grv").c_str()), ZipResult::Ok);
        EXPECT_EQ(grvtest::ReadBytes(dir.File("t.grv")), (Bytes{1, 2, 3}));
        CloseZipReader(h);
    }
}

TEST(ZipReader, TargetThatIsAFolderFailsCleanly) {
    TempDir dir;
    Bytes zip = OwnArchive({{"a.txt", {1, 2, 3}}});
    ::mkdir((dir.File("a.txt")).c_str(), 0755);
    ZipHandle* h = OpenMemory(zip);
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("a.txt")).c_str()), ZipResult::CannotOpen);
    EXPECT_EQ(FilesIn(dir.Path()).size(), 1u) << "no temporary file is left";
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir.File("missing/deeper/")).c_str()), ZipResult::CannotOpen);
    CloseZipReader(h);
}

// What python's zipfile reads in the bytes a description ends with, put in
// their place: "name=content" per entry, or "not a zip".
std::string ZipfileVerdict(const std::string& described) {
    const std::size_t colon = described.find(':');
    if (colon == std::string::npos || described.compare(0, 6, "device") == 0)
        return described;
    TempDir scratch;
    const std::string zip = scratch.File("judged.zip");
    grvtest::WriteFile(zip, described.substr(colon + 1));
    const grvtest::RunResult r =
        grvtest::Python("import sys, zipfile\n"
                        "try:\n"
                        "    z = zipfile.ZipFile(sys.argv[1])\n"
                        "    print(';'.join(n + '=' + z.read(n).decode() for n in z.namelist()), end='')\n"
                        "except zipfile.BadZipFile:\n"
                        "    print('not a zip', end='')\n",
                        {zip});
    return described.substr(0, colon + 1) + (r.Ok() ? r.out : r.err);
}

// Both roads that write a file the caller names, into each kind of target:
// a link is written through (one to nothing makes the file it names), a
// FIFO gets the bytes, a device stays a device.
void RunZipTargets(const std::vector<grvtest::TargetKind>& kinds) {
    using grvtest::TargetKind;
    const std::string body = "entry body\n";
    const Bytes zip = OwnArchive({{"a.txt", Bytes(body.begin(), body.end())}});
    TempDir dir;
    int n = 0;
    for (bool extract : {true, false})
        for (TargetKind kind : kinds) {
            SCOPED_TRACE(std::string(extract ? "extract into " : "write a zip into ") + grvtest::TargetKindName(kind));
            const std::string folder = dir.File("case" + std::to_string(n++));
            std::filesystem::create_directory(folder);
            grvtest::WriteTarget target(folder, "t", kind, "old bytes\n");
            ASSERT_EQ(target.Error(), 0);
            if (extract) {
                ZipHandle* h = OpenMemory(zip);
                ASSERT_NE(h, nullptr);
                EXPECT_EQ(ExtractZipEntryToFile(h, 0, target.Path().c_str()), ZipResult::Ok);
                CloseZipReader(h);
            } else {
                ZipHandle* h = CreateZipArchive(target.Path().c_str(), nullptr);
                ASSERT_NE(h, nullptr);
                EXPECT_EQ(addZipEntry(h, "a.txt", body.data(), body.size(), archive::kZipSourceMemory), ZipResult::Ok);
                EXPECT_EQ(CloseZipWriter(h), ZipResult::Ok);
            }
            const std::string got = extract ? target.Describe() : ZipfileVerdict(target.Describe());
            const std::string content = extract ? body : "a.txt=" + body;
            const bool link = kind == TargetKind::Link || kind == TargetKind::DanglingLink;
            const std::string want = kind == TargetKind::PrivateDevice ? "device(1,3)"
                                     : kind == TargetKind::Fifo        ? "fifo:" + content
                                     : link                            ? "link(t.target)->file:" + content
                                                                       : "file:" + content;
            EXPECT_EQ(got, want);
            EXPECT_EQ(FilesIn(folder).size(), link ? 2u : 1u) << "nothing of the call's own stays beside the target";
        }
}

TEST(ZipTargets, WritesGoThroughLinksAndIntoPipesAsOpenDoes) {
    RunZipTargets({grvtest::TargetKind::Absent, grvtest::TargetKind::Regular, grvtest::TargetKind::Link,
                   grvtest::TargetKind::DanglingLink, grvtest::TargetKind::Fifo});
}

TEST(ZipTargets, WritesIntoAPrivateDeviceLeaveItADevice) {
    RunZipTargets({grvtest::TargetKind::PrivateDevice});
}

} // namespace
