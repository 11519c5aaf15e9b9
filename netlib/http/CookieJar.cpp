#include "netlib/http/CookieJar.h"

#include <algorithm>
#include <vector>

#include "netlib/core/HashMap.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/Cookie.h"

namespace tessik {

namespace {
constexpr std::uint32_t kNameSetBuckets = 400;
// Between domain, path and name in a cookie's identity: no byte a name,
// domain or path that is sent may hold.
constexpr char kIdentitySeparator = '\n';

int pathLength(const Cookie& cookie) {
    return cookie.getPath().getSize();
}
} // namespace

CookieJar::CookieJar() {
    m_cookies.setOwnsObjects(true);
}

CookieJar::~CookieJar() {
    m_cookies.removeAllObjects();
}

void CookieJar::addCookie(Cookie* cookie) {
    if (cookie != nullptr && !m_cookies.appendPtr(cookie))
        delete cookie;
}

Cookie* CookieJar::getCookie(int index) const {
    return static_cast<Cookie*>(m_cookies.elementAt(index));
}

void CookieJar::buildCookieHeaderValue(const char* domain, const char* path, bool secureChannel,
                                       std::int64_t nowUnixSeconds, StringBuffer& out, LogBase&) const {
    out.clear();
    std::vector<const Cookie*> sent;
    for (int i = 0; i < m_cookies.getCount(); ++i) {
        const Cookie* cookie = getCookie(i);
        if (cookie != nullptr && cookie->matchesRequest(domain, path, secureChannel) &&
            !cookie->isExpired(nowUnixSeconds))
            sent.push_back(cookie);
    }
    // Longer paths first (RFC 6265 section 5.4); of one length, the host's
    // own before its domain's, so a value a version that filed every cookie
    // under the domain kept there never stands before the host's; then
    // document order (a stored document groups cookies by their attributes,
    // so that is not always the order they were set in).
    std::stable_sort(sent.begin(), sent.end(), [](const Cookie* a, const Cookie* b) {
        if (pathLength(*a) != pathLength(*b))
            return pathLength(*a) > pathLength(*b);
        return a->isHostOnly() && !b->isHostOnly();
    });
    HashMap written(kNameSetBuckets);
    bool first = true;
    for (const Cookie* cookie : sent) {
        for (int k = 0; k < cookie->getNumPairs(); ++k) {
            StringBuffer name;
            StringBuffer value;
            cookie->getPairName(k, name);
            cookie->getPairValue(k, value);
            // A cookie is its name, domain and path: an edited document may
            // hold one twice. A folder written before such cookies were
            // refused may hold names and values that cannot go out.
            StringBuffer identity(cookie->getDomain());
            identity.appendChar(kIdentitySeparator);
            identity.appendSb(cookie->getPath());
            identity.appendChar(kIdentitySeparator);
            identity.appendSb(name);
            if (written.containsKey(identity.getString()) || !Cookie::isSendableText(name) ||
                !Cookie::isSendableText(value))
                continue;
            if (!first)
                out.append("; ");
            first = false;
            out.appendSb(name);
            if (value.containsChar(' ')) {
                out.append("=\"");
                out.appendSb(value);
                out.appendChar('"');
            } else {
                out.appendChar('=');
                out.appendSb(value);
            }
            written.addKey(identity.getString());
        }
    }
}

} // namespace tessik
