#pragma once
// The disk response cache: one ".dat" file per resource name under a set of
// root folders, named after the MD5 of the name, holding the expiry and ETag
// in a small header and the cached bytes behind it. Also the cache settings
// of the HTTP options and the process-wide table that keeps two threads off
// one cache file at a time.
#include <cstdint>

#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/text/DateTimeValue.h"

namespace tessik {

class HttpResponseHeader;
class LogBase;

// The directives of every field of a name (Cache-Control, Pragma) of a
// response, taken one by one: names without regard to case, values
// unquoted, a comma inside quotes part of its value.
struct CacheDirectives {
    bool noStore = false;
    bool noCache = false;
    bool hasMaxAge = false;
    std::uint64_t maxAge = 0;
    bool sMaxAgeZero = false;
};
void readCacheDirectives(const HttpResponseHeader& header, const char* fieldName, CacheDirectives& out);

// The cache settings of one HTTP component.
class CacheControl {
public:
    CacheControl();
    virtual ~CacheControl();
    CacheControl(const CacheControl&) = delete;
    CacheControl& operator=(const CacheControl&) = delete;

    void copyFrom(const CacheControl& other);

    // Refuse hosts the domain cache marks invalid.
    std::uint8_t checkDomainCache;
    // Keeps the "Found negative cache entry." report quiet.
    std::uint8_t negativeLookupOff;
    // Store 200 responses.
    std::uint8_t updateCache;
    // Answer from the cache before sending.
    std::uint8_t fetchFromCache;
    // Store even what the response says not to keep (never no-store).
    std::uint8_t ignoreNoCache;
    // Minutes a response without Expires, max-age or Last-Modified stays
    // fresh.
    std::uint32_t defaultFreshPeriod;
    // 1: a response with only Last-Modified stays fresh for lmFactor percent
    // of its age.
    std::uint32_t freshnessAlgorithm;
    std::uint32_t lmFactor;
};

// Holds one cache file against the other threads of the process for a
// scope, by the name its path resolves to. A thread that finds the file held
// waits (without holding any lock) for about five seconds, then gives up
// with "Cache file locked.".
class CacheFileLock {
public:
    // With take false nothing is held and held() is true.
    CacheFileLock(const StringBuffer& path, bool take, LogBase& log);
    ~CacheFileLock();
    CacheFileLock(const CacheFileLock&) = delete;
    CacheFileLock& operator=(const CacheFileLock&) = delete;

    bool held() const { return m_held; }

private:
    StringBuffer m_path;
    bool m_taken;
    bool m_held;
};

// The root of roots (StringBuffer texts) a name's MD5 picks by its first
// byte, with the digest; null without roots.
const StringBuffer* cacheRootOf(const ExtPtrArray& roots, const char* name, unsigned char digest[16]);

// What a ".dat" header says; false when it is no cache file header.
// `header` is the file's header without its leading length.
struct DatHeader {
    double expiry = 0.0;
    StringBuffer etag;
};
bool parseDatHeader(const DataBuffer& header, DatHeader& out);

class ClsCache2 : public ClsBase, public TessikCritSec {
public:
    ClsCache2();
    ~ClsCache2() override;

    // A root folder, in the order added; an empty text is refused.
    bool AddRoot(const char* utf8Dir);
    int numRoots() const { return m_roots.getCount(); }
    // 0, 1 or 2 folder levels between a root and its files; any other value
    // counts as 0.
    void setLevels(int levels) { m_levels = levels; }
    void setUseFileLocks(bool on) { m_useFileLocks = on; }
    void copySettingsFrom(const ClsCache2& other);

    // The file of a resource name (UTF-8); GetFilename explains a failure in
    // the own log.
    bool GetFilename(const char* name, StringBuffer& path);
    bool resourceToFilename(const char* name, StringBuffer& path) const;
    bool isCached(const char* name);

    // A zero year stores no expiry.
    bool SaveToCache2(const char* name, const SysTimeValue& expiry, const char* etag, const DataBuffer& data,
                      LogBase& log);
    bool fetchEntry(const char* name, DataBuffer& data, LogBase& log);
    bool updateExpiration(const char* name, const SysTimeValue& expiry, LogBase& log);

    // Of the last successful fetch; false before one.
    bool getLastEtag(StringBuffer& out);
    // A cleared record when the entry had no expiry.
    bool getLastExpiration(SysTimeValue& out);
    bool isLastFetchExpired();

private:
    bool m_useFileLocks;
    ExtPtrArray m_roots;
    int m_levels;
    StringBuffer m_lastName;
    double m_lastExpiry;
    StringBuffer m_lastEtag;
};

} // namespace tessik
