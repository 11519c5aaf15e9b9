#include "tests/archive/ArchiveTestSupport.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace archive_test {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string templ = std::string(base && *base ? base : "/tmp") + "/grv-archive.XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Make read-only leftovers removable.
  for (auto& e : std::filesystem::recursive_directory_iterator(path_, ec))
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(path_, ec);
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const Bytes& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

int RunCommand(const std::string& command, std::string* output) {
  std::string cmd = command + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  std::string text;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  int status = ::pclose(p);
  if (output) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
  std::string q = "'";
  for (char c : text) {
    if (c == '\'')
      q += "'\\''";
    else
      q += c;
  }
  return q + "'";
}

bool InflateRaw(const Bytes& compressed, Bytes* out) {
  out->clear();
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  zs.next_in = const_cast<Bytef*>(compressed.data());
  zs.avail_in = static_cast<uInt>(compressed.size());
  std::uint8_t buf[65536];
  int rc;
  do {
    zs.next_out = buf;
    zs.avail_out = sizeof buf;
    rc = inflate(&zs, Z_NO_FLUSH);
    out->insert(out->end(), buf, buf + (sizeof buf - zs.avail_out));
  } while (rc == Z_OK);
  // The stream must end exactly where the data ends.
  bool ok = rc == Z_STREAM_END && zs.avail_in == 0;
  inflateEnd(&zs);
  return ok;
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(size);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

Bytes TextLike(std::size_t size, std::uint32_t seed) {
  static const char* words[] = {"pain ",   "level ", "morning ", "ibuprofen ", "walked ",
                                "slept ",  "badly ", "the ",     "and ",       "headache ",
                                "knee\n",  "7 ",     "2026-01-", "mood, ",     "tired. "};
  std::mt19937 rng(seed);
  Bytes b;
  b.reserve(size);
  while (b.size() < size) {
    const char* w = words[rng() % std::size(words)];
    for (const char* p = w; *p && b.size() < size; ++p) b.push_back(static_cast<std::uint8_t>(*p));
  }
  return b;
}

std::string MakeJournalDatabase(const std::string& path) {
  std::string sql =
      "CREATE TABLE entry(id INTEGER PRIMARY KEY, ts TEXT, subject TEXT, worst INT, avg INT,"
      " low INT, cur INT, journal TEXT);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i < 3000)"
      " INSERT INTO entry SELECT i, printf('2026-%02d-%02d %02d:%02d:00', i%12+1, i%28+1,"
      " i%24, i%60), 'Entry ' || i, i%11, (i*7)%11, (i*3)%11, (i*5)%11,"
      " 'Slept ' || (i%9) || ' hours; knee pain after walking ' || (i%5) || ' km.' FROM n;";
  RunCommand("sqlite3 " + Quote(path) + " " + Quote(sql));
  return path;
}

}  // namespace archive_test

namespace archive_test {
namespace {

std::uint32_t Le(const Bytes& b, std::size_t at, int width) {
  std::uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = v << 8 | b.at(at + static_cast<std::size_t>(i));
  return v;
}

}  // namespace

Layout ParseArchive(const Bytes& zip) {
  Layout l;
  if (zip.size() < 22) return l;
  std::size_t end = zip.size() - 22;
  while (Le(zip, end, 4) != 0x06054B50) {
    if (end == 0) return l;
    --end;
  }
  l.entryCount = static_cast<std::uint16_t>(Le(zip, end + 10, 2));
  l.directorySize = Le(zip, end + 12, 4);
  l.directoryOffset = Le(zip, end + 16, 4);
  std::size_t at = l.directoryOffset;
  for (int i = 0; i < l.entryCount; ++i) {
    if (Le(zip, at, 4) != 0x02014B50) return l;
    CentralEntry e;
    e.madeBy = static_cast<std::uint16_t>(Le(zip, at + 4, 2));
    e.needed = static_cast<std::uint16_t>(Le(zip, at + 6, 2));
    e.flags = static_cast<std::uint16_t>(Le(zip, at + 8, 2));
    e.method = static_cast<std::uint16_t>(Le(zip, at + 10, 2));
    e.dosDateTime = Le(zip, at + 12, 4);
    e.crc = Le(zip, at + 16, 4);
    e.compressedSize = Le(zip, at + 20, 4);
    e.uncompressedSize = Le(zip, at + 24, 4);
    std::size_t n = Le(zip, at + 28, 2), x = Le(zip, at + 30, 2), c = Le(zip, at + 32, 2);
    e.externalAttributes = Le(zip, at + 38, 4);
    e.localOffset = Le(zip, at + 42, 4);
    e.name.assign(zip.begin() + static_cast<long>(at + 46), zip.begin() + static_cast<long>(at + 46 + n));
    e.extra.assign(zip.begin() + static_cast<long>(at + 46 + n),
                   zip.begin() + static_cast<long>(at + 46 + n + x));
    at += 46 + n + x + c;

    std::size_t lh = e.localOffset;
    if (Le(zip, lh, 4) != 0x04034B50) return l;
    e.localFlags = static_cast<std::uint16_t>(Le(zip, lh + 6, 2));
    e.localMethod = static_cast<std::uint16_t>(Le(zip, lh + 8, 2));
    e.localCrc = Le(zip, lh + 14, 4);
    e.localCompressed = Le(zip, lh + 18, 4);
    e.localUncompressed = Le(zip, lh + 22, 4);
    std::size_t ln = Le(zip, lh + 26, 2), lx = Le(zip, lh + 28, 2);
    e.localExtra.assign(zip.begin() + static_cast<long>(lh + 30 + ln),
                        zip.begin() + static_cast<long>(lh + 30 + ln + lx));
    e.dataOffset = lh + 30 + ln + lx;
    std::size_t after = e.dataOffset + e.compressedSize;
    e.hasDescriptor = after + 16 <= zip.size() && Le(zip, after, 4) == 0x08074B50 &&
                      Le(zip, after + 4, 4) == e.crc && Le(zip, after + 8, 4) == e.compressedSize &&
                      Le(zip, after + 12, 4) == e.uncompressedSize;
    l.entries.push_back(e);
  }
  l.ok = true;
  return l;
}

}  // namespace archive_test
