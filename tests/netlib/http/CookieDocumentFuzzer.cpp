// A stored cookie document is read back from a file anyone may have edited:
// whatever it holds, reading it must not fail badly, and a cookie stored
// into it afterwards must be read back under its own key and a pair of its
// name sent (names as the reader takes them, ignoring case). Which value is
// sent is not judged: a cookie of the same name the document held already may
// match the request too, and the first one wins.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "netlib/core/HashMap.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/CookieJar.h"
#include "netlib/http/CookieMgr.h"

using namespace tessik;

namespace {
constexpr std::uint32_t kBuckets = 400;
constexpr const char* kKey = "shop_test.xml";
constexpr const char* kHost = "www.shop.test";
constexpr const char* kDomain = ".shop.test";
constexpr const char* kName = "zz-fuzz";
constexpr const char* kValue = "1";

bool holdsStored(const CookieJar& jar) {
    for (int i = 0; i < jar.getCount(); ++i) {
        const Cookie* cookie = jar.getCookie(i);
        if (!cookie->getDomain().equals(kDomain) || !cookie->getPath().equals("/"))
            continue;
        for (int k = 0; k < cookie->getNumPairs(); ++k) {
            StringBuffer name, value;
            cookie->getPairName(k, name);
            cookie->getPairValue(k, value);
            if (name.equalsNoCase(kName) && value.equals(kValue))
                return true;
        }
    }
    return false;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    HashMap memory(kBuckets);
    memory.insertString(kKey, text.c_str());
    LogNull log;
    CookieMgr store;
    StringBuffer value;
    if (CookieJar* jar = store.LoadCookieJar(cookie_msg::kMemoryDir, &memory, kHost, "/", log)) {
        jar->buildCookieHeaderValue(kHost, "/", true, 0, value, log);
        delete jar;
    }
    Cookie cookie;
    cookie.setDomain(kDomain);
    cookie.setPath("/");
    cookie.setNameValue(kName, kValue);
    if (!store.SaveCookie(cookie_msg::kMemoryDir, &memory, kHost, cookie, 0, log, nullptr))
        std::abort();
    std::unique_ptr<CookieJar> jar(store.LoadCookieJar(cookie_msg::kMemoryDir, &memory, kHost, "/", log));
    if (jar == nullptr || !holdsStored(*jar))
        std::abort();
    // Over TLS, so that a Secure mark the document gave the key does not
    // hold the pair back.
    value.clear();
    jar->buildCookieHeaderValue(kHost, "/", true, 0, value, log);
    value.toLowerCaseAscii();
    const std::string sent = "; " + std::string(value.getString());
    if (sent.find(std::string("; ") + kName + "=") == std::string::npos)
        std::abort();
    return 0;
}
