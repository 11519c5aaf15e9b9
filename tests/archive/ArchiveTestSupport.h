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
int Run(const std::string& command, std::string* output = nullptr);
std::string Quote(const std::string& text);

// Inflates raw deflate data (window bits -15); false when zlib refuses it.
bool InflateRaw(const Bytes& compressed, Bytes* out);

// Deterministic filler data of a few kinds.
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
Bytes TextLike(std::size_t size, std::uint32_t seed);

// A small journal-like SQLite database, built with the sqlite3 CLI.
std::string MakeJournalDatabase(const std::string& path);

}  // namespace archive_test
