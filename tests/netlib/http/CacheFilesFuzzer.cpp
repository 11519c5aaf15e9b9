// The cache files are outside input (anything may have written them): the
// bytes as a ".caf" bucket file, looked up in memory and from its file for
// a few keys, and as a ".dat" file fetched and looked up as a cached
// response. Nothing may fail unsafely; a found entry is its key's, and a
// loaded one holds data of the CRC it stores.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/http/HttpCache.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"
#include "tests/support/TestSupport.h"

namespace {

constexpr std::size_t kMaxInput = 65536;
constexpr const char* kUrl = "http://fuzz.example/page";
const char* const kKeys[] = {"plumless", "buckeroo", "http://x.example/a.pdf", "dns://neg.example", kUrl, ""};

struct Setup {
    Setup() {
        tessik::installTextServices();
        options.cache.AddRoot(root.Path().c_str());
        options.bucketCache.addRoot(root.Path().c_str());
        tessik::StringBuffer path;
        options.cache.resourceToFilename(kUrl, path);
        datPath = path.getString();
        options.bucketCache.getBucketPath(kUrl, path);
        cafPath = path.getString();
        tessik::StringBuffer work;
        tessik::LogNull log;
        tessik::ensureParentDirectory(datPath.c_str(), work, &log);
        tessik::ensureParentDirectory(cafPath.c_str(), work, &log);
    }
    grvtest::TempDir root{"grv-cache-fuzz"};
    std::string datPath, cafPath;
    tessik::HttpControl options;
};

void checkEntry(const tessik::CacheEntry& entry, const char* key) {
    if (entry.key().equals(key) == false)
        std::abort();
    const tessik::DataBuffer& data = entry.data();
    if (tessik::ZipCRC::crc32WithBinaryFlag(data.getData(), data.getSize(), nullptr) != entry.dataCrc())
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput)
        return 0;
    static Setup setup;
    tessik::LogNull log;

    tessik::BucketView view;
    view.setMemory(data, static_cast<std::uint32_t>(size));
    tessik::CacheFile file;
    for (const char* key : kKeys) {
        std::uint32_t offset = 0;
        tessik::CacheEntryInfo info;
        if (!file.findEntryInfo(view, key, offset, info, log))
            continue;
        tessik::CacheEntry entry;
        if (entry.loadFrom(view, offset, log))
            checkEntry(entry, key);
    }

    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!grvtest::WriteFile(setup.cafPath, bytes) || !grvtest::WriteFile(setup.datPath, bytes))
        std::abort();
    bool withoutContent = false;
    tessik::CacheEntryInfo info;
    std::unique_ptr<tessik::CacheEntry> entry(setup.options.bucketCache.getEntry(kUrl, withoutContent, info, log));
    if (entry != nullptr)
        checkEntry(*entry, kUrl);
    bool negative = false;
    setup.options.bucketCache.isDomainNegative("neg.example", negative, log);

    tessik::DataBuffer got;
    tessik::OutputDataBuffer out(&got);
    tessik::HttpResult result;
    bool expired = false;
    tessik::StringBuffer etag, lastModified;
    tessik::HttpClient::lookupCache(kUrl, setup.options, out, result, expired, etag, lastModified, log);
    if (result.cacheState == 1 && result.responseHeader.getStatusCode() == 0)
        std::abort();
    return 0;
}
