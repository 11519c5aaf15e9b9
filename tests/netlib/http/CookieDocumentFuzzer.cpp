// A stored cookie document is read back from a file anyone may have edited:
// whatever it holds, reading it must not fail badly, and a cookie stored
// into it afterwards must be read back and sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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
    cookie.setDomain(".shop.test");
    cookie.setPath("/");
    cookie.setNameValue("zz-fuzz", "1");
    if (!store.SaveCookie(cookie_msg::kMemoryDir, &memory, kHost, cookie, 0, log, nullptr))
        std::abort();
    CookieJar* jar = store.LoadCookieJar(cookie_msg::kMemoryDir, &memory, kHost, "/", log);
    if (jar == nullptr)
        std::abort();
    value.clear();
    jar->buildCookieHeaderValue(kHost, "/", false, 0, value, log);
    delete jar;
    if (std::strstr(value.getString(), "zz-fuzz=1") == nullptr)
        std::abort();
    return 0;
}
