// The reader against archives others wrote (zip, python's zipfile, 7z,
// bsdtar), against fixed damaged ones, and against our own writer.
#include "archive/ZipReader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "archive/ZipTime.h"
#include "archive/ZipWriter.h"
#include "tests/archive/ArchiveTestSupport.h"

namespace {

using archive_test::Bytes;
using archive_test::Quote;
using archive_test::RunCommand;
using archive_test::TempDir;

const std::string kFixtures = std::string(GRV_TEST_DATA_DIR) + "/archive/";

// Every file below a folder, by relative path, with its bytes; folders end in '/'.
std::map<std::string, Bytes> TreeOf(const std::string& root) {
  std::map<std::string, Bytes> tree;
  for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string rel = e.path().string().substr(root.size() + 1);
    if (e.is_directory())
      tree[rel + "/"] = {};
    else
      tree[rel] = archive_test::ReadFile(e.path().string());
  }
  return tree;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename());
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
  std::string py =
      "import sys, time, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "    t = int(time.mktime(i.date_time + (0, 0, -1)))\n"
      "    print(i.file_size, i.compress_size, t, i.filename, sep='\\t')\n";
  std::string out;
  EXPECT_EQ(RunCommand("/usr/bin/python3 -c " + Quote(py) + " " + Quote(zip), &out), 0) << out;
  std::vector<PyEntry> list;
  std::istringstream lines(out);
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
  archive_test::WriteFile(root + "/journal.grv", archive_test::TextLike(120000, 1));
  archive_test::WriteFile(root + "/noise.bin", archive_test::RandomBytes(50000, 2));
  archive_test::WriteFile(root + "/empty.txt", {});
  archive_test::WriteFile(root + "/sub/notes.txt", archive_test::TextLike(3000, 3));
  // Odd seconds: DOS times round them, "UT" fields keep them.
  for (const char* f : {"journal.grv", "noise.bin", "empty.txt", "sub/notes.txt", "sub"}) {
    struct timespec t[2] = {{1772366401, 0}, {1772366401, 0}};
    ::utimensat(AT_FDCWD, (root + "/" + f).c_str(), t, 0);
  }
}

struct PeerCase {
  const char* label;
  const char* command;  // run in the source folder; %s is the archive path
  const char* password;
};

class ReaderPeers : public ::testing::TestWithParam<PeerCase> {};

TEST_P(ReaderPeers, ListsAndExtractsWhatPeersWrote) {
  const PeerCase& c = GetParam();
  TempDir dir;
  const std::string src = dir / "src";
  MakeSourceTree(src);
  const std::string zip = dir / "peer.zip";
  std::string cmd = c.command;
  cmd.replace(cmd.find("%s"), 2, Quote(zip));
  std::string out;
  ASSERT_EQ(RunCommand("cd " + Quote(src) + " && " + cmd, &out), 0) << out;

  auto expected = TreeOf(src);
  auto python = PythonInfoList(zip);
  ZipHandle* h = OpenZipArchive(zip.c_str(), c.password);
  ASSERT_NE(h, nullptr) << c.label;
  ZipEntryInfo rec;
  ASSERT_EQ(GetZipArchiveEntry(h, -1, &rec), ZipResult::Ok);
  ASSERT_EQ(static_cast<std::size_t>(rec.index), python.size());
  const std::string outDir = dir / "out";
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
    archive_test::WriteFile(dir / "expected", expected[name]);
    EXPECT_EQ(RunCommand("cmp " + Quote(dir / "expected") + " " + Quote(outDir + "/" + name), &out),
              0)
        << out;
  }
  EXPECT_EQ(files, 4);
  EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);
}

INSTANTIATE_TEST_SUITE_P(
    Peers, ReaderPeers,
    ::testing::Values(
        PeerCase{"zip stored", "zip -q -0 -r %s .", nullptr},
        PeerCase{"zip best", "zip -q -9 -r %s .", nullptr},
        PeerCase{"zip password", "zip -q -P 'pw 1' -r %s .", "pw 1"},
        PeerCase{"zip comment",
                 "head -c 2000 /usr/share/common-licenses/GPL-3 | zip -q -z -r %s .", nullptr},
        PeerCase{"zip without extra fields", "zip -q -X -r %s .", nullptr},
        PeerCase{"python", "/usr/bin/python3 -c \"import sys, zipfile, os\n"
                           "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                           "    for d, ds, fs in os.walk('.'):\n"
                           "        for n in ds + fs: z.write(os.path.join(d, n))\" %s",
                 nullptr},
        PeerCase{"python unseekable",
                 "/usr/bin/python3 -c \"import sys, zipfile, os\n"
                 "with zipfile.ZipFile(sys.stdout.buffer, 'w', zipfile.ZIP_DEFLATED) as z:\n"
                 "    for d, ds, fs in os.walk('.'):\n"
                 "        for n in ds + fs: z.write(os.path.join(d, n))\" | cat > %s",
                 nullptr},
        PeerCase{"7z zipcrypto", "7z a -bd -tzip -mem=ZipCrypto -pseven %s . >/dev/null", "seven"},
        PeerCase{"bsdtar", "bsdtar --format zip -cf %s *", nullptr}),
    [](const auto& info) {
      std::string n = info.param.label;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

std::string FixturePath(const char* name) { return kFixtures + name; }

Bytes PythonRead(const std::string& zip, const std::string& entry, const std::string& password) {
  TempDir dir;
  std::string py =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "open(sys.argv[4], 'wb').write(z.read(sys.argv[2], pwd=sys.argv[3].encode()))\n";
  std::string out;
  EXPECT_EQ(RunCommand("/usr/bin/python3 -c " + Quote(py) + " " + Quote(zip) + " " + Quote(entry) +
                           " " + Quote(password) + " " + Quote(dir / "x"),
                       &out),
            0)
      << out;
  return archive_test::ReadFile(dir / "x");
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
    const std::string target = dir / rec.name;
    archive_test::WriteFile(target, precious);
    // The empty entry too: its 12-byte header is still checked.
    EXPECT_EQ(ExtractZipEntryToFile(h, i, target.c_str()), ZipResult::WrongPassword);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::WrongPassword);
    EXPECT_EQ(archive_test::ReadFile(target), precious);
    // A target that did not exist is not created.
    EXPECT_EQ(ExtractZipEntryToFile(h, i, (dir / "new/" + rec.name).c_str()),
              ZipResult::WrongPassword);
    EXPECT_FALSE(archive_test::FileExists(dir / "new"));
  }
  EXPECT_EQ(FilesIn(dir.path()).size(), 2u) << "no temporary file is left";
  EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);

  h = OpenZipArchive(FixturePath("password.zip").c_str(), "right");
  ASSERT_NE(h, nullptr);
  const std::string target = dir / "journal.grv";
  EXPECT_EQ(ExtractZipEntryToFile(h, 0, target.c_str()), ZipResult::Ok);
  EXPECT_EQ(archive_test::ReadFile(target),
            PythonRead(FixturePath("password.zip"), "journal.grv", "right"));
  EXPECT_EQ(ExtractZipEntryToFile(h, 1, (dir / "empty.txt").c_str()), ZipResult::Ok);
  EXPECT_EQ(archive_test::ReadFile(dir / "empty.txt").size(), 0u);
  EXPECT_EQ(CloseZipReader(h), ZipResult::Ok);
}

TEST(ZipReaderFixtures, CorruptedEntryLeavesNoFile) {
  for (const char* fixture : {"corrupt-stored.zip", "corrupt-deflated.zip"}) {
    SCOPED_TRACE(fixture);
    TempDir dir;
    ZipHandle* h = OpenZipArchive(FixturePath(fixture).c_str(), nullptr);
    ASSERT_NE(h, nullptr);
    ZipEntryInfo rec;
    ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir / "journal.grv").c_str()),
              ZipResult::DecompressError);
    EXPECT_TRUE(FilesIn(dir.path()).empty()) << "neither target nor temporary file";
    // An existing target stays as it was.
    archive_test::WriteFile(dir / "journal.grv", {'o', 'l', 'd'});
    EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir / "journal.grv").c_str()),
              ZipResult::DecompressError);
    EXPECT_EQ(archive_test::ReadFile(dir / "journal.grv"), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
    CloseZipReader(h);
  }
}

TEST(ZipReaderFixtures, UnreadableArchivesFailOnOpen) {
  TempDir dir;
  for (const std::string& path :
       {FixturePath("truncated.zip"), FixturePath("not-a-zip.zip"), FixturePath("zip64.zip"),
        dir / "missing.zip", dir.path()}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(OpenZipArchive(path.c_str(), nullptr), nullptr);
    EXPECT_EQ(LastZipReaderResult(), ZipResult::CannotOpen);
  }
}

// An archive of our own writer, in memory, for patching.
Bytes OwnArchive(const std::vector<std::pair<std::string, Bytes>>& entries,
                 const char* password = nullptr, int output = archive::kZipOutputMemory) {
  Bytes block(1 << 20);
  ZipHandle* h = createZipWriter(block.data(), block.size(), output, password);
  for (const auto& [name, data] : entries)
    EXPECT_EQ(addZipEntry(h, name.c_str(), data.data(), data.size(), archive::kZipSourceMemory),
              ZipResult::Ok);
  EXPECT_EQ(CloseZipWriter(h), ZipResult::Ok);
  auto layout = archive_test::ParseArchive(block);
  block.resize(layout.directoryOffset + layout.directorySize + 22);
  return block;
}

void PutLe(Bytes& b, std::size_t at, std::uint32_t v, int width) {
  for (int i = 0; i < width; ++i) b.at(at + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (8 * i));
}

ZipHandle* OpenMemory(const Bytes& zip, const char* password = nullptr) {
  return openZipReader(zip.data(), zip.size(), archive::kZipInputMemory, password);
}

TEST(ZipReader, ResultCodeTable) {
  const Bytes data = archive_test::TextLike(3000, 1);
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
  ZipHandle* writer = CreateZipArchive((dir / "w.zip").c_str(), nullptr);
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
  } listing[] = {{-2, ZipResult::BadArguments}, {-1, ZipResult::Ok}, {0, ZipResult::Ok},
                 {1, ZipResult::Ok},           {2, ZipResult::BadArguments}};
  for (const auto& c : listing) EXPECT_EQ(GetZipArchiveEntry(reader, c.index, &rec), c.expected) << c.index;
  EXPECT_EQ(ExtractZipEntryToFile(reader, 2, (dir / "x").c_str()), ZipResult::BadArguments);
  EXPECT_EQ(ExtractZipEntryToFile(reader, -1, (dir / "x").c_str()), ZipResult::BadArguments);
  EXPECT_EQ(extractZipEntry(reader, 0, (dir / "x").c_str(), 0, 4), ZipResult::BadArguments);
  EXPECT_EQ(GetZipArchiveEntry(reader, 0, nullptr), ZipResult::BadArguments);
  EXPECT_EQ(CloseZipReader(reader), ZipResult::Ok);
  EXPECT_EQ(LastZipReaderResult(), ZipResult::Ok);

  // Damaged local headers: 0x700 when they disagree, 0x800 when the extra
  // field runs past the end.
  auto layout = archive_test::ParseArchive(zip);
  const std::size_t second = layout.entries[1].localOffset;
  struct Damage {
    const char* what;
    std::size_t at;
    std::uint32_t value;
    int width;
    ZipResult expected;
  } damage[] = {
      {"signature", second, 0x04034B51, 4, ZipResult::Corrupt},
      {"method", second + 8, 0, 2, ZipResult::Corrupt},
      {"crc", second + 14, 1, 4, ZipResult::Corrupt},
      {"size", second + 22, 1, 4, ZipResult::Corrupt},
      {"name length", second + 26, 4, 2, ZipResult::Corrupt},
      {"extra length", second + 28, 0xFFFF, 2, ZipResult::ReadError},
  };
  for (const auto& d : damage) {
    Bytes bad = zip;
    PutLe(bad, d.at, d.value, d.width);
    ZipHandle* h = OpenMemory(bad);
    ASSERT_NE(h, nullptr) << d.what;
    EXPECT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok) << d.what;
    EXPECT_EQ(GetZipArchiveEntry(h, 1, &rec), d.expected) << d.what;
    EXPECT_EQ(ExtractZipEntryToFile(h, 1, (dir / "y").c_str()), d.expected) << d.what;
    EXPECT_FALSE(archive_test::FileExists(dir / "y")) << d.what;
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

TEST(ZipReader, NameCleaning) {
  struct Case {
    const char* stored;
    const char* cleaned;  // null: refused
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
      {"../evil", nullptr},
      {"..\\evil", nullptr},
      {"a/../../b", nullptr},
      {"x/..", nullptr},
      {"..", nullptr},
  };
  for (const auto& c : cases) {
    std::string out;
    bool ok = archive::CleanEntryName(c.stored, &out);
    if (c.cleaned) {
      EXPECT_TRUE(ok) << c.stored;
      EXPECT_EQ(out, c.cleaned) << c.stored;
    } else {
      EXPECT_FALSE(ok) << c.stored << " gave " << out;
    }
  }
}

TEST(ZipReader, TraversingNamesAreRefusedAndNothingLandsOutside) {
  TempDir dir;
  const std::string zip = dir / "evil.zip";
  std::string py =
      "import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
      "    for n in ['../escape.txt', 'a/../../escape2.txt', '/abs/inside.txt', 'ok/./fine.txt']:\n"
      "        z.writestr(n, 'x')\n";
  std::string out;
  ASSERT_EQ(RunCommand("/usr/bin/python3 -c " + Quote(py) + " " + Quote(zip), &out), 0) << out;
  ::mkdir((dir / "target").c_str(), 0755);
  ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  const ZipResult expected[] = {ZipResult::BadArguments, ZipResult::BadArguments, ZipResult::Ok,
                                ZipResult::Ok};
  const char* names[] = {"", "", "abs/inside.txt", "ok/fine.txt"};
  for (int i = 0; i < 4; ++i) {
    ZipEntryInfo rec;
    EXPECT_EQ(GetZipArchiveEntry(h, i, &rec), expected[i]) << i;
    EXPECT_STREQ(rec.name, names[i]);
    // The restore loop joins folder and name; a refused entry is not written.
    std::string target = dir / "target/" + rec.name;
    EXPECT_EQ(ExtractZipEntryToFile(h, i, target.c_str()), expected[i]) << i;
  }
  CloseZipReader(h);
  auto all = TreeOf(dir.path());
  for (const auto& [path, bytes] : all) {
    EXPECT_TRUE(path == "evil.zip" || path.rfind("target/", 0) == 0) << path << " is outside";
  }
  EXPECT_TRUE(all.count("target/abs/inside.txt"));
  EXPECT_TRUE(all.count("target/ok/fine.txt"));
}

TEST(ZipReader, AttributesFromHostAndBits) {
  struct Case {
    std::uint16_t madeBy;
    std::uint32_t external, expected;
  } cases[] = {
      {0x0314, 0x81A40000, 0x20}, {0x0314, 0x81240000, 0x21}, {0x0314, 0x41ED0010, 0x30},
      {0x0014, 0x00000021, 0x21}, {0x0B17, 0x81800020, 0x20}, {0x0B17, 0x41C00010, 0x10},
      {0x0714, 0x00000006, 0x06}, {0x0E14, 0x000000FF, 0x37},
  };
  for (const auto& c : cases)
    EXPECT_EQ(archive::EntryAttributes(c.madeBy, c.external), c.expected)
        << std::hex << c.madeBy << " " << c.external;
}

TEST(ZipReader, TimesFromUtFieldOrLocalDosTime) {
  TempDir dir;
  // 2026-03-01 12:00:01 UTC is 13:00:01 in Berlin; DOS keeps 13:00:00 or :02.
  const std::string src = dir / "f.txt";
  archive_test::WriteFile(src, {'a'});
  struct timespec t[2] = {{1772366401, 0}, {1772366401, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, src.c_str(), t, 0), 0);
  std::string out;
  ASSERT_EQ(RunCommand("cd " + Quote(dir.path()) + " && zip -q -X plain.zip f.txt && zip -q ut.zip f.txt", &out), 0)
      << out;
  ZipEntryInfo rec;
  ZipHandle* h = OpenZipArchive((dir / "plain.zip").c_str(), nullptr);
  ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
  std::int64_t dosTime = archive::FileTimeToUnix(rec.lastWriteTime);
  EXPECT_LE(std::llabs(dosTime - 1772366401), 1) << "DOS time read as local time";
  EXPECT_EQ(archive::FileTimeToUnix(rec.accessTime), dosTime);
  CloseZipReader(h);

  h = OpenZipArchive((dir / "ut.zip").c_str(), nullptr);
  ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
  EXPECT_EQ(archive::FileTimeToUnix(rec.lastWriteTime), 1772366401) << "from the UT field";
  ASSERT_EQ(ExtractZipEntryToFile(h, 0, (dir / "x/f.txt").c_str()), ZipResult::Ok);
  struct stat st;
  ASSERT_EQ(::stat((dir / "x/f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1772366401) << "the extracted file takes the entry's time";
  CloseZipReader(h);
}

TEST(ZipReader, LargeLocalExtraFieldIsReadWhole) {
  // 40,000 bytes of another block before the "UT" block.
  TempDir dir;
  const std::string zip = dir / "extra.zip";
  std::string py =
      "import sys, zipfile, struct\n"
      "i = zipfile.ZipInfo('e.txt', (2020, 1, 1, 0, 0, 0))\n"
      "i.extra = struct.pack('<HH', 0xCAFE, 40000) + bytes(40000) + "
      "struct.pack('<HHBi', 0x5455, 5, 1, 1600000000)\n"
      "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
      "    z.writestr(i, 'extra')\n";
  std::string out;
  ASSERT_EQ(RunCommand("/usr/bin/python3 -c " + Quote(py) + " " + Quote(zip), &out), 0) << out;
  ZipHandle* h = OpenZipArchive(zip.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  ZipEntryInfo rec;
  ASSERT_EQ(GetZipArchiveEntry(h, 0, &rec), ZipResult::Ok);
  EXPECT_EQ(archive::FileTimeToUnix(rec.lastWriteTime), 1600000000);
  EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir / "e.txt").c_str()), ZipResult::Ok);
  EXPECT_EQ(archive_test::ReadFile(dir / "e.txt"), (Bytes{'e', 'x', 't', 'r', 'a'}));
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

TEST(ZipReader, StoredEntryShorterThanAnnouncedFails) {
  Bytes zip = OwnArchive({{"a.zip", archive_test::TextLike(1000, 1)}});
  auto e = archive_test::ParseArchive(zip).entries[0];
  ASSERT_EQ(e.method, 0);
  // Claim 2000 bytes in both headers: the data runs out first.
  PutLe(zip, e.localOffset + 22, 2000, 4);
  PutLe(zip, archive_test::ParseArchive(zip).directoryOffset + 24, 2000, 4);
  TempDir dir;
  ZipHandle* h = OpenMemory(zip);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir / "a.zip").c_str()), ZipResult::DecompressError);
  EXPECT_FALSE(archive_test::FileExists(dir / "a.zip"));
  CloseZipReader(h);
}

TEST(ZipReader, RoundTripThroughOwnWriter) {
  const Bytes big = archive_test::TextLike(300000, 9);
  const Bytes noise = archive_test::RandomBytes(70000, 9);
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
          while ((n = ::read(fds[0], buf, sizeof buf)) > 0) zip.insert(zip.end(), buf, buf + n);
        });
        ZipHandle* w = createZipWriter(&fds[1], 0, archive::kZipOutputHandle, password);
        for (auto& [name, data] : std::vector<std::pair<const char*, const Bytes*>>{
                 {"big.txt", &big}, {"noise.gz", &noise}})
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
      int fd = ::open((dir / "noise").c_str(), O_CREAT | O_WRONLY, 0644);
      EXPECT_EQ(extractZipEntry(h, 1, &fd, 0, archive::kZipTargetHandle), ZipResult::Ok);
      ::close(fd);
      EXPECT_EQ(archive_test::ReadFile(dir / "noise"), noise);
      EXPECT_EQ(ExtractZipEntryToFile(h, 2, (dir / "one").c_str()), ZipResult::Ok);
      EXPECT_EQ(archive_test::ReadFile(dir / "one"), (Bytes{42}));
      CloseZipReader(h);
    }
  }
}

TEST(ZipReader, RestoreAsTheDialogDoesIt) {
  // Backup and restore through the eight functions, relative targets taken
  // under the folder that was current when the archive was opened.
  TempDir dir;
  const std::string db = archive_test::MakeJournalDatabase(dir / "journal.grv");
  ::chmod(db.c_str(), 0444);
  ZipHandle* w = CreateZipArchive((dir / "backup.grz").c_str(), "pässword");
  ASSERT_EQ(AddFileToZipArchive(w, "journal.grv", db.c_str()), ZipResult::Ok);
  ASSERT_EQ(addZipEntry(w, "docs", nullptr, 0, archive::kZipSourceFolder), ZipResult::Ok);
  ASSERT_EQ(CloseZipWriter(w), ZipResult::Ok);

  char old[4096];
  ASSERT_NE(::getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
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

  const std::string restored = dir / "restored/new folder/journal.grv";
  EXPECT_EQ(archive_test::ReadFile(restored), archive_test::ReadFile(db));
  struct stat st;
  ASSERT_EQ(::stat(restored.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only comes back read-only";
  EXPECT_TRUE(std::filesystem::is_directory(dir / "restored/docs"));
  std::string out;
  EXPECT_EQ(RunCommand("sqlite3 " + Quote(restored) + " 'SELECT count(*) FROM entry'", &out), 0);
  EXPECT_EQ(out, "3000\n");
}

TEST(ZipReader, TargetThatIsAFolderFailsCleanly) {
  TempDir dir;
  Bytes zip = OwnArchive({{"a.txt", {1, 2, 3}}});
  ::mkdir((dir / "a.txt").c_str(), 0755);
  ZipHandle* h = OpenMemory(zip);
  EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir / "a.txt").c_str()), ZipResult::CannotOpen);
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u) << "no temporary file is left";
  EXPECT_EQ(ExtractZipEntryToFile(h, 0, (dir / "missing/deeper/").c_str()), ZipResult::CannotOpen);
  CloseZipReader(h);
}

}  // namespace
