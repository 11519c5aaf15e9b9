#include "netlib/transport/DnsCache.h"

#include <memory>

#include "netlib/core/HashMap.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/transport/HostnameResolve.h"

namespace tessik {
namespace {

struct DnsCache {
    TessikCritSec lock;
    std::unique_ptr<HashMap> current = std::make_unique<HashMap>(kDnsCacheBuckets);
    std::unique_ptr<HashMap> previous;
    int insertions = 0;
};

DnsCache& cache() {
    static DnsCache* instance = new DnsCache; // lives for the process, never torn down
    return *instance;
}

} // namespace

bool dnsCacheLookup(const char* name, StringBuffer& ipText) {
    ipText.clear();
    if (name == nullptr) {
        return false;
    }
    if (isDottedQuad(name)) {
        ipText.setString(name);
        return true;
    }
    DnsCache& c = cache();
    CritSecExitor hold(c.lock);
    if (c.current->lookupString(name, ipText)) {
        return true;
    }
    return c.previous != nullptr && c.previous->lookupString(name, ipText);
}

void dnsCacheInsert(const char* name, const char* ipText) {
    if (name == nullptr || ipText == nullptr) {
        return;
    }
    DnsCache& c = cache();
    CritSecExitor hold(c.lock);
    if (c.insertions >= kDnsCacheRollover) {
        c.previous = std::move(c.current);
        c.current = std::make_unique<HashMap>(kDnsCacheBuckets);
        c.insertions = 0;
    }
    c.current->insertString(name, ipText);
    ++c.insertions;
}

void dnsCacheResetForTests() {
    DnsCache& c = cache();
    CritSecExitor hold(c.lock);
    c.current = std::make_unique<HashMap>(kDnsCacheBuckets);
    c.previous.reset();
    c.insertions = 0;
}

} // namespace tessik
