#pragma once
// Texts and fixed values of the two response caches (the ".dat" files of
// ClsCache2 and the ".caf" bucket files of HttpCache) that callers, tests and
// the files themselves rely on.
#include <cstdint>

namespace tessik {

namespace cache_msg {
inline constexpr const char* kNoRoots = "No cache roots have been set.  Need to call AddRoot at least once.";
inline constexpr const char* kRootMissing = "Failed to get root at index";
inline constexpr const char* kNameToPath = "Failed to convert resource name to filename";
inline constexpr const char* kLoadFailed = "Failed to load cache file";
inline constexpr const char* kNotCacheFile = "Not a valid cache file.";
inline constexpr const char* kFileLocked = "Cache file locked.";
inline constexpr const char* kOpenFailed = "Failed to open file";
inline constexpr const char* kSeekFailed = "Failed to seek to position in cache file.";
inline constexpr const char* kUpdateFailed = "Failed to update cache file.";
inline constexpr const char* kEtagTooLong = "ETag too long for a cache file.";
inline constexpr const char* kBadOffset = "Bad offset in cache file";
inline constexpr const char* kBadCachedHead = "Cached response header is not valid.";
inline constexpr const char* kExpired = "Cache entry expired.";
inline constexpr const char* kHit = "Cache hit.";
inline constexpr const char* kNotStoredStatus = "Not updating cache because status code != 200";
inline constexpr const char* kNotStoredDirective = "Not updating cache because of cache-control directive";
inline constexpr const char* kNotStoredPragma = "Not updating cache because of no-cache pragma";
inline constexpr const char* kNotStoredExpires0 = "Not updating cache because of Expires=0 header";
inline constexpr const char* kUpdated = "Cache updated.";
inline constexpr const char* kNotUpdated = "Cache not updated.";
inline constexpr const char* kDomainInvalid = "Domain name is marked as invalid in the cache.";
inline constexpr const char* kNegativeEntry = "Found negative cache entry.";
inline constexpr const char* kOutputIsFile = "Not caching because the output is already a file.";
inline constexpr const char* kCookiesSet =
    "Not updating cache because cookies were set.  Set the AllowCookieResponseCaching property to update the cache "
    "for responses that set cookies.";
inline constexpr const char* kUpdatingExpiration = "Updating cache entry with new expiration.";
inline constexpr const char* kCacheHitEvent = "Returning page from cache.";
} // namespace cache_msg

namespace cache_fmt {
// ".dat" file: header length (4), version (2), magic (2), two reserved
// bytes, the expiry as an OLE date (8), ETag length (2), the ETag.
inline constexpr std::uint16_t kDatVersion = 1;
inline constexpr std::uint16_t kDatMagic = 0x9AFE;
inline constexpr std::uint32_t kDatFixedHeader = 20;
inline constexpr std::uint32_t kDatVersionOffset = 4;
inline constexpr std::uint32_t kDatMagicOffset = 6;
inline constexpr std::uint32_t kDatExpiryOffset = 10;
inline constexpr std::uint32_t kDatEtagLengthOffset = 18;
inline constexpr std::uint32_t kDatMaxHeader = 8000;
// The cached data of a response: K (4), the head text, the body from K on.
inline constexpr std::uint32_t kCachedHeadOffset = 4;
// Cached data this short holds no usable response.
inline constexpr std::uint32_t kMinCachedResponse = 20;
inline constexpr const char* kDatExtension = ".dat";

// Waiting for a cache file another thread holds.
inline constexpr unsigned int kLockWaitMs = 5000;

// ".caf" bucket file: capacity (4), count (4), capacity slots of (entry
// offset, key CRC), the entries.
inline constexpr std::uint32_t kCafCapacity = 10;
inline constexpr std::uint32_t kCafDirHead = 8;
inline constexpr std::uint32_t kCafSlotSize = 8;
inline constexpr std::uint32_t kCafFirstEntry = kCafDirHead + kCafSlotSize * kCafCapacity;
// Directories larger than this are not read: this cache writes 10 slots.
inline constexpr std::uint32_t kCafMaxSlots = 1024;
// Entry record: tagCrc, dataCrc, four bytes, two stamps, K, T, N.
inline constexpr std::uint32_t kEntryHead = 32;
inline constexpr std::uint32_t kEntryInfoSize = 20;
inline constexpr std::uint32_t kEntryKeyLengthOffset = 20;
inline constexpr std::uint32_t kStampSize = 4;
inline constexpr unsigned kStampYearBias = 0x30;
inline constexpr unsigned kStampDay = 2;
inline constexpr std::uint8_t kFlagCompressed = 2;
inline constexpr std::uint32_t kDefaultBucketCount = 1000;
inline constexpr const char* kCafExtension = ".caf";
inline constexpr const char* kDomainKeyPrefix = "dns://";
inline constexpr const char* kBucketTag = "Nothing";
} // namespace cache_fmt

} // namespace tessik
