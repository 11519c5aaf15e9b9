#pragma once
// Helpers shared by the archive tests: temporary folders, files, running
// the reference peers, and zlib's raw inflate as the judge of our deflate.
#include <cstdint>
#include <string>
#include <vector>

namespace archive_test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under $TMPDIR, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

Bytes ReadFile(const std::string& path);
void WriteFile(const std::string& path, const Bytes& data);
bool FileExists(const std::string& path);

// Runs a shell command; returns its exit status and fills its output
// (stdout and stderr together).
int RunCommand(const std::string& command, std::string* output = nullptr);
std::string Quote(const std::string& text);

// Inflates raw deflate data (window bits -15); false when zlib refuses it.
bool InflateRaw(const Bytes& compressed, Bytes* out);

// Deterministic filler data of a few kinds.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes TextLike(std::size_t size, std::uint32_t seed);

// A small journal-like SQLite database, built with the sqlite3 CLI.
std::string MakeJournalDatabase(const std::string& path);

}  // namespace archive_test

namespace archive_test {

// The fields of an archive as the bytes say, read independently of the
// library so tests can check what was written.
struct CentralEntry {
  std::uint16_t madeBy = 0, needed = 0, flags = 0, method = 0;
  std::uint32_t dosDateTime = 0, crc = 0, compressedSize = 0, uncompressedSize = 0;
  std::uint32_t externalAttributes = 0, localOffset = 0;
  std::string name;
  Bytes extra;
  // From the local header.
  std::uint16_t localFlags = 0, localMethod = 0;
  std::uint32_t localCrc = 0, localCompressed = 0, localUncompressed = 0;
  Bytes localExtra;
  std::size_t dataOffset = 0;
  bool hasDescriptor = false;  // a signed descriptor right after the data
};

struct Layout {
  bool ok = false;
  std::uint16_t entryCount = 0;
  std::uint32_t directorySize = 0, directoryOffset = 0;
  std::vector<CentralEntry> entries;
};

Layout ParseArchive(const Bytes& zip);

}  // namespace archive_test
