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

int Run(const std::string& command, std::string* output) {
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
  Run("sqlite3 " + Quote(path) + " " + Quote(sql));
  return path;
}

}  // namespace archive_test
