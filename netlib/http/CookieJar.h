#pragma once
// The cookies of one stored document, in document order, and the Cookie
// field a request carries from them.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"

namespace tessik {

class Cookie;
class LogBase;
class StringBuffer;

class CookieJar {
public:
    CookieJar();
    virtual ~CookieJar();
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    // The jar owns it from now on.
    void addCookie(Cookie* cookie);
    int getCount() const { return m_cookies.getCount(); }
    Cookie* getCookie(int index) const;

    // "a=1; b=2" of every cookie that goes with the request (secure ones
    // only over TLS, none that has expired by nowUnixSeconds), longer paths
    // first, of one path the host's own before its domain's, else in
    // document order; a value holding a space is sent in double quotes.
    void buildCookieHeaderValue(const char* domain, const char* path, bool secureChannel, std::int64_t nowUnixSeconds,
                                StringBuffer& out, LogBase& log) const;

private:
    ExtPtrArray m_cookies;
};

} // namespace tessik
