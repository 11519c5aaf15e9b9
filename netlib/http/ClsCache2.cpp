#include "netlib/http/ClsCache2.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>

#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Md5.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/http/CacheConstants.h"
#include "platform/ByteOrder.h"

namespace tessik {

using namespace cache_fmt;

namespace {

constexpr std::uint8_t kOn = 1;
constexpr std::uint32_t kDefaultFreshMinutes = 10080; // 7 days
constexpr std::uint32_t kLastModifiedHeuristic = 1;
constexpr std::uint32_t kDefaultLmPercent = 25;
constexpr int kMd5Size = 16;

// The paths held by some thread of the process. A waiter sleeps on the
// condition, which lets the table's mutex go meanwhile.
class FileLockTable {
public:
    static FileLockTable& instance() {
        static FileLockTable table;
        return table;
    }

    bool lock(const std::string& path) {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (!m_released.wait_for(guard, std::chrono::milliseconds(kLockWaitMs),
                                 [&] { return m_held.count(path) == 0; }))
            return false;
        m_held.insert(path);
        return true;
    }

    void unlock(const std::string& path) {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_held.erase(path);
        }
        m_released.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    std::set<std::string> m_held;
};

double loadDouble(const unsigned char* p) {
    const std::uint64_t bits = platform::LoadLe64(p);
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void storeDouble(unsigned char* p, double v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    platform::StoreLe64(p, bits);
}

double oleOf(const SysTimeValue& t) {
    return t.year == 0 ? 0.0 : t.toOleDate();
}

double nowLocalOle() {
    SysTimeValue now;
    now.setCurrentLocal();
    return now.toOleDate();
}

} // namespace

CacheControl::CacheControl()
    : checkDomainCache(kOn), negativeLookupOff(0), updateCache(kOn), fetchFromCache(kOn), ignoreNoCache(0),
      defaultFreshPeriod(kDefaultFreshMinutes), freshnessAlgorithm(kLastModifiedHeuristic),
      lmFactor(kDefaultLmPercent) {}

CacheControl::~CacheControl() = default;

void CacheControl::copyFrom(const CacheControl& other) {
    checkDomainCache = other.checkDomainCache;
    negativeLookupOff = other.negativeLookupOff;
    updateCache = other.updateCache;
    fetchFromCache = other.fetchFromCache;
    ignoreNoCache = other.ignoreNoCache;
    defaultFreshPeriod = other.defaultFreshPeriod;
    freshnessAlgorithm = other.freshnessAlgorithm;
    lmFactor = other.lmFactor;
}

namespace {

// One file named two ways (through "//" or "./", a link to its folder, a
// path relative to the working folder) is held by one name: the one it
// resolves to, as far as it stands.
void lockName(const StringBuffer& path, StringBuffer& out) {
    std::error_code failed;
    std::filesystem::path resolved = std::filesystem::absolute(path.getString(), failed);
    if (!failed)
        resolved = std::filesystem::weakly_canonical(resolved, failed);
    if (failed || resolved.empty())
        out.setSb(path);
    else
        out.setString(resolved.c_str());
}

} // namespace

CacheFileLock::CacheFileLock(const StringBuffer& path, bool take, LogBase& log) : m_taken(false), m_held(true) {
    if (!take)
        return;
    lockName(path, m_path);
    m_taken = FileLockTable::instance().lock(m_path.getString());
    m_held = m_taken;
    if (!m_held) {
        log.logError(cache_msg::kFileLocked);
        log.logData("cacheFilePath", path.getString());
    }
}

CacheFileLock::~CacheFileLock() {
    if (m_taken)
        FileLockTable::instance().unlock(m_path.getString());
}

const StringBuffer* cacheRootOf(const ExtPtrArray& roots, const char* name, unsigned char digest[kMd5Size]) {
    const int count = roots.getCount();
    if (count == 0 || name == nullptr)
        return nullptr;
    Md5().digestBytes(name, static_cast<std::uint32_t>(std::strlen(name)), digest);
    return static_cast<const StringBuffer*>(roots.elementAt(digest[0] % count));
}

bool parseDatHeader(const DataBuffer& header, DatHeader& out) {
    // The header as loaded starts after its 4-byte length.
    constexpr std::uint32_t kLengthField = 4;
    const std::uint32_t size = header.getSize();
    const unsigned char* p = header.getData();
    if (p == nullptr || size + kLengthField < kDatFixedHeader ||
        platform::LoadLe16(p + kDatMagicOffset - kLengthField) != kDatMagic)
        return false;
    const std::uint32_t etagLength = platform::LoadLe16(p + kDatEtagLengthOffset - kLengthField);
    if (etagLength > size + kLengthField - kDatFixedHeader)
        return false;
    out.expiry = loadDouble(p + kDatExpiryOffset - kLengthField);
    // The ETag is text: it ends at a zero byte, if one is there.
    const unsigned char* etag = p + kDatFixedHeader - kLengthField;
    const void* zero = std::memchr(etag, 0, etagLength);
    out.etag.clear();
    out.etag.appendBytes(etag, zero != nullptr ? static_cast<int>(static_cast<const unsigned char*>(zero) - etag)
                                               : static_cast<int>(etagLength));
    return true;
}

ClsCache2::ClsCache2() : m_useFileLocks(true), m_levels(0), m_lastExpiry(0.0) {
    m_roots.setOwnsObjects(true);
}

ClsCache2::~ClsCache2() = default;

bool ClsCache2::AddRoot(const char* utf8Dir) {
    CritSecExitor cs(*this);
    if (utf8Dir == nullptr || *utf8Dir == '\0')
        return false;
    return m_roots.appendPtr(new StringBuffer(utf8Dir)) != nullptr;
}

void ClsCache2::copySettingsFrom(const ClsCache2& other) {
    if (&other == this)
        return;
    CritSecExitor cs(*this);
    m_roots.removeAllObjects();
    for (int i = 0; i < other.m_roots.getCount(); ++i) {
        const auto* root = static_cast<const StringBuffer*>(other.m_roots.elementAt(i));
        m_roots.appendPtr(new StringBuffer(root != nullptr ? *root : StringBuffer()));
    }
    m_levels = other.m_levels;
    m_useFileLocks = other.m_useFileLocks;
}

bool ClsCache2::resourceToFilename(const char* name, StringBuffer& path) const {
    path.clear();
    unsigned char digest[kMd5Size];
    const StringBuffer* root = cacheRootOf(m_roots, name, digest);
    if (root == nullptr)
        return false;
    path.setSb(*root);
    path.replaceChar('\\', '/');
    if (path.lastChar() != '/')
        path.appendChar('/');
    if (m_levels == 1 || m_levels == 2) {
        path.appendUint32(digest[1]);
        path.appendChar('/');
    }
    if (m_levels == 2) {
        path.appendUint32(digest[2]);
        path.appendChar('/');
    }
    path.appendHex(digest, kMd5Size);
    path.append(kDatExtension);
    return true;
}

bool ClsCache2::GetFilename(const char* name, StringBuffer& path) {
    CritSecExitor cs(*this);
    m_log.clearLog();
    LogContext ctx(m_log, "GetFilename");
    if (m_roots.getCount() == 0) {
        m_log.logError(cache_msg::kNoRoots);
        return false;
    }
    if (!resourceToFilename(name, path)) {
        m_log.logError(cache_msg::kRootMissing);
        return false;
    }
    return true;
}

bool ClsCache2::isCached(const char* name) {
    CritSecExitor cs(*this);
    StringBuffer path;
    return resourceToFilename(name, path) && fileExistsUtf8(path.getString(), nullptr);
}

bool ClsCache2::SaveToCache2(const char* name, const SysTimeValue& expiry, const char* etag, const DataBuffer& data,
                             LogBase& log) {
    CritSecExitor cs(*this);
    LogContext ctx(log, "SaveToCache2");
    if (m_roots.getCount() == 0) {
        log.logError(cache_msg::kNoRoots);
        return false;
    }
    log.logData("ResourceName", name);
    StringBuffer path;
    if (!resourceToFilename(name, path)) {
        log.logError(cache_msg::kNameToPath);
        return false;
    }
    log.logData("CacheFilename", path.getString());
    StringBuffer work;
    if (!ensureParentDirectory(path.getString(), work, &log))
        return false;

    const std::size_t etagLength = etag != nullptr ? std::strlen(etag) : 0;
    // The reader takes headers of up to kDatMaxHeader bytes only.
    if (etagLength > kDatMaxHeader - kDatFixedHeader) {
        log.logError(cache_msg::kEtagTooLong);
        return false;
    }
    const auto headerLength = static_cast<std::uint32_t>(kDatFixedHeader + etagLength);
    DataBuffer header;
    if (!header.appendCharRepeated(0, headerLength))
        return false;
    unsigned char* h = header.getData();
    platform::StoreLe32(h, headerLength);
    platform::StoreLe16(h + kDatVersionOffset, kDatVersion);
    platform::StoreLe16(h + kDatMagicOffset, kDatMagic);
    storeDouble(h + kDatExpiryOffset, oleOf(expiry));
    platform::StoreLe16(h + kDatEtagLengthOffset, static_cast<std::uint16_t>(etagLength));
    if (etagLength != 0)
        std::memcpy(h + kDatFixedHeader, etag, etagLength);

    CacheFileLock lock(path, m_useFileLocks, m_log);
    if (!lock.held())
        return false;
    return writeFileWithHeaderAnsi(path.getString(), h, headerLength, data.getData(), data.getSize(), &log);
}

bool ClsCache2::fetchEntry(const char* name, DataBuffer& data, LogBase& log) {
    CritSecExitor cs(*this);
    data.clear();
    if (m_roots.getCount() == 0) {
        log.logError(cache_msg::kNoRoots);
        return false;
    }
    m_lastEtag.clear();
    m_lastName.clear();
    m_lastExpiry = 0.0;
    StringBuffer path;
    if (!resourceToFilename(name, path)) {
        log.logError(cache_msg::kNameToPath);
        return false;
    }
    log.logData("CacheFilename", path.getString());
    if (!fileExistsUtf8(path.getString(), nullptr))
        return false;

    DataBuffer header;
    bool loaded;
    {
        CacheFileLock lock(path, m_useFileLocks, m_log);
        if (!lock.held())
            return false;
        loaded = data.loadFileWithHeader(path.getString(), header, kDatMaxHeader, &log);
    }
    if (!loaded) {
        data.clear();
        log.logError(cache_msg::kLoadFailed);
        return false;
    }
    DatHeader parsed;
    if (!parseDatHeader(header, parsed)) {
        data.clear();
        log.logError(cache_msg::kNotCacheFile);
        return false;
    }
    log.logDataLong("etagLen", parsed.etag.getSize());
    m_lastEtag.setSb(parsed.etag);
    m_lastName.setString(name);
    m_lastExpiry = parsed.expiry;
    SysTimeValue expiry;
    getLastExpiration(expiry);
    StringBuffer text;
    expiry.getRfc822String(text);
    log.logData("Expiration", text.getString());
    return true;
}

bool ClsCache2::updateExpiration(const char* name, const SysTimeValue& expiry, LogBase& log) {
    CritSecExitor cs(*this);
    if (m_roots.getCount() == 0) {
        log.logError(cache_msg::kNoRoots);
        return false;
    }
    StringBuffer path;
    if (!resourceToFilename(name, path)) {
        log.logError(cache_msg::kNameToPath);
        return false;
    }
    CacheFileLock lock(path, m_useFileLocks, m_log);
    if (!lock.held())
        return false;
    TessikHandle file;
    if (!openExistingForUpdate(file, path.getString(), nullptr)) {
        log.logError(cache_msg::kOpenFailed);
        log.logData("filename", path.getString());
        return false;
    }
    // Only a cache file has its expiry rewritten: a foreign or cut-short
    // file at that path is left as it is.
    unsigned char head[kDatFixedHeader];
    std::uint32_t got = 0;
    bool atEnd = false;
    if (!file.readBytes(head, kDatFixedHeader, &got, &atEnd, nullptr) || got != kDatFixedHeader ||
        platform::LoadLe16(head + kDatMagicOffset) != kDatMagic) {
        log.logError(cache_msg::kNotCacheFile);
        log.logData("filename", path.getString());
        return false;
    }
    if (!file.seekAbsolute64(kDatExpiryOffset, nullptr)) {
        log.logError(cache_msg::kSeekFailed);
        log.logData("filename", path.getString());
        return false;
    }
    unsigned char bytes[sizeof(double)];
    storeDouble(bytes, oleOf(expiry));
    std::uint64_t written = 0;
    if (!file.writeBytes64(bytes, sizeof bytes, &written, nullptr) || written != sizeof bytes) {
        log.logError(cache_msg::kUpdateFailed);
        log.logData("filename", path.getString());
        return false;
    }
    return true;
}

bool ClsCache2::getLastEtag(StringBuffer& out) {
    CritSecExitor cs(*this);
    if (m_lastName.getSize() == 0)
        return false;
    out.setSb(m_lastEtag);
    return true;
}

bool ClsCache2::getLastExpiration(SysTimeValue& out) {
    CritSecExitor cs(*this);
    if (m_lastName.getSize() == 0)
        return false;
    out.clear();
    // A stored date outside the OLE range (a damaged file) counts as none.
    if (m_lastExpiry != 0.0 && m_lastExpiry >= kMinOleDate && m_lastExpiry <= kMaxOleDate) {
        out.setFromOleDate(m_lastExpiry);
        out.isLocal = 1;
    }
    return true;
}

bool ClsCache2::isLastFetchExpired() {
    CritSecExitor cs(*this);
    // Written so that a stored NaN counts as expired.
    return m_lastName.getSize() != 0 && m_lastExpiry != 0.0 && !(m_lastExpiry > nowLocalOle());
}

} // namespace tessik
