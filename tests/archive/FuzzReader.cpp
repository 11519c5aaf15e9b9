// Any bytes as an archive: opening, listing and extracting every entry must
// stay clean under the sanitizers and never write outside the target folder.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/ZipReader.h"

namespace {

constexpr std::uint32_t kMaxExtract = 8u << 20;

struct Folders {
  std::string parent;
  std::string target;
  Folders() {
    char templ[] = "/tmp/grv-fuzz-reader.XXXXXX";
    if (!mkdtemp(templ)) std::abort();
    parent = templ;
    target = parent + "/out";
  }
};

const Folders& TheFolders() {
  static const Folders folders;
  static const int cleanup = std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(TheFolders().parent, ec);
  });
  (void)cleanup;
  return folders;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Folders& f = TheFolders();
  std::filesystem::create_directory(f.target);
  ZipHandle* h = openZipReader(data, size, archive::kZipInputMemory, "pw");
  if (h) {
    ZipEntryInfo rec;
    if (GetZipArchiveEntry(h, -1, &rec) == ZipResult::Ok) {
      const int count = rec.index;
      for (int i = 0; i < count; ++i) {
        if (GetZipArchiveEntry(h, i, &rec) != ZipResult::Ok) continue;
        if (rec.uncompressedSize > kMaxExtract) continue;
        ExtractZipEntryToFile(h, i, (f.target + "/" + rec.name).c_str());
        std::uint8_t piece[4096];
        for (int calls = 0; calls < 64; ++calls) {
          if (extractZipEntry(h, i, piece, sizeof piece, archive::kZipTargetMemory) !=
              ZipResult::MoreData)
            break;
        }
      }
    }
    CloseZipReader(h);
  }
  // Only the target folder may exist beside nothing else.
  for (const auto& e : std::filesystem::directory_iterator(f.parent)) {
    if (e.path() != f.target) std::abort();
  }
  std::error_code ec;
  std::filesystem::permissions(f.target, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ec);
  for (const auto& e : std::filesystem::recursive_directory_iterator(f.target, ec))
    std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(f.target, ec);
  return 0;
}
