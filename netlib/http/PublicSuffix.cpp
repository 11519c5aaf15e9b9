#include "netlib/http/PublicSuffix.h"

#include <libpsl.h>

#include "netlib/transport/HostnameResolve.h"

namespace tessik {

namespace public_suffix {

namespace {

// The newer of the system's list file and the library's own copy of it;
// null when neither is there. Loaded once and kept for the process.
const psl_ctx_t* systemList() {
    static const psl_ctx_t* const list = psl_latest(nullptr);
    return list;
}

struct TestList {
    bool active = false;
    psl_ctx_t* list = nullptr;
};

TestList& testList() {
    static TestList test;
    return test;
}

const psl_ctx_t* currentList() {
    const TestList& test = testList();
    return test.active ? test.list : systemList();
}

} // namespace

bool registrableDomain(const char* host, StringBuffer& out) {
    out.clear();
    const psl_ctx_t* list = currentList();
    if (list == nullptr || host == nullptr || *host == '\0' || isDottedQuad(host) ||
        StringBuffer(host).containsChar(':'))
        return false;
    // "co.uk." is co.uk: a trailing dot hides no suffix from the list.
    StringBuffer name(host);
    while (name.lastChar() == '.')
        name.shorten(1);
    const char* registrable = psl_registrable_domain(list, name.getString());
    if (registrable == nullptr || *registrable == '\0')
        return false;
    out.setString(registrable);
    return true;
}

void useListForTest(const char* path) {
    TestList& test = testList();
    if (test.list != nullptr)
        psl_free(test.list);
    test.list = path != nullptr ? psl_load_file(path) : nullptr;
    test.active = path != nullptr;
}

} // namespace public_suffix

} // namespace tessik
