// Any bytes as an archive: opening, listing and extracting every entry must
// stay clean under the sanitizers and never write outside the target folder.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "archive/ZipReader.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr std::uint32_t kMaxExtract = 8u << 20;

struct Folders {
    grvtest::TempDir parent{"grv-fuzz-reader"};
    std::string target = parent.File("out");
};

const Folders& TheFolders() {
    static const Folders folders;
    return folders;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Folders& f = TheFolders();
    std::filesystem::create_directory(f.target);
    ZipHandle* h = openZipReader(data, size, archive::kZipInputMemory, "pw");
    if (h) {
        ZipEntryInfo rec;
        if (GetZipArchiveEntry(h, -1, &rec) == ZipResult::Ok) {
            const int count = rec.index;
            for (int i = 0; i < count; ++i) {
                if (GetZipArchiveEntry(h, i, &rec) != ZipResult::Ok)
                    continue;
                if (rec.uncompressedSize > kMaxExtract)
                    continue;
                ExtractZipEntryToFile(h, i, (f.target + "/" + rec.name).c_str());
                std::uint8_t piece[4096];
                for (int calls = 0; calls < 64; ++calls) {
                    if (extractZipEntry(h, i, piece, sizeof piece, archive::kZipTargetMemory) != ZipResult::MoreData)
                        break;
                }
            }
        }
        CloseZipReader(h);
    }
    // Only the target folder may exist beside nothing else.
    for (const auto& e : std::filesystem::directory_iterator(f.parent.Path())) {
        if (e.path() != f.target)
            std::abort();
    }
    grvtest::RemoveTree(f.target);
    return 0;
}
