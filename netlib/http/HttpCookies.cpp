// The connection's two cookie steps: the Cookie line a request carries, and
// the cookies a response sets, both kept in the options' cookie store.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/CookieJar.h"
#include "netlib/http/CookieMgr.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "platform/WinTime.h"

namespace tessik {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr const char* kMsgCookieControlByte =
    "A cookie's name or value holds a control byte other than TAB: the cookie is dropped.";
constexpr const char* kMsgCookieDomainRefused =
    "A cookie's Domain does not hold the host, or is wider than the host's registrable domain: the cookie is "
    "dropped.";
constexpr const char* kMsgSecureFromPlain =
    "A plain answer sets a Secure cookie, or one of the name of a Secure cookie kept for its domain and path: the "
    "cookie is dropped.";

constexpr const char* kMsgPrefixBroken =
    "A __Secure- cookie without Secure, or a __Host- cookie without Secure, with a Domain or with a Path other than "
    "\"/\": the cookie is dropped.";
constexpr const char* kSecurePrefix = "__Secure-";
constexpr const char* kHostPrefix = "__Host-";

std::int64_t nowUnixSeconds() {
    return platform::CurrentUnixTimeMs() / kMsPerSecond;
}

// The Secure cookies kept for a document, by name and path, read once per
// answer: each of the answer's cookies is weighed against those of its own
// names under the paths that hold its own, not against the whole jar.
class KeptSecureNames {
public:
    KeptSecureNames(const CookieJar* jar, std::int64_t now) {
        for (int i = 0; jar != nullptr && i < jar->getCount(); ++i) {
            const Cookie* kept = jar->getCookie(i);
            if (kept == nullptr || !kept->isSecure() || kept->isExpired(now))
                continue;
            for (int a = 0; a < kept->getNumPairs(); ++a) {
                StringBuffer name;
                kept->getPairName(a, name);
                const std::string_view path = kept->getPath().getString();
                std::vector<const Cookie*>& of = m_byName[name.getString()][path.size()][std::string(path)];
                if (of.empty() || of.back() != kept)
                    of.push_back(kept);
            }
        }
    }

    // Whether a Secure cookie of one of the cookie's names is kept where the
    // cookie would stand in for it: domains that reach one another, and the
    // cookie's path within the kept one's. One that has expired by now is
    // kept no more, and shields nothing.
    bool shadows(const Cookie& cookie) const {
        if (m_byName.empty())
            return false;
        const std::string_view path = cookie.getPath().getString();
        for (int b = 0; b < cookie.getNumPairs(); ++b) {
            StringBuffer name;
            cookie.getPairName(b, name);
            const auto found = m_byName.find(name.getString());
            if (found == m_byName.end())
                continue;
            // The paths whose cookies pathMatches lets through: none, "/",
            // and the cookie's own cut at a '/' (before or after it) or whole.
            // Only lengths some kept path of the name has are cut: a long
            // path costs no more than the kept paths it is weighed against.
            const ByLength& lengths = found->second;
            if (shadowsUnder(lengths, "", cookie) || shadowsUnder(lengths, "/", cookie))
                return true;
            for (auto at = lengths.lower_bound(1); at != lengths.end() && at->first <= path.size(); ++at) {
                const std::size_t n = at->first;
                if ((path[n - 1] == '/' || n == path.size() || path[n] == '/') && path.substr(0, n) != "/" &&
                    shadowsUnder(lengths, path.substr(0, n), cookie))
                    return true;
            }
        }
        return false;
    }

private:
    using ByPath = std::map<std::string, std::vector<const Cookie*>, std::less<>>;
    // Kept paths by their length: a cut of the cookie's path is looked up
    // only where a kept one is as long, and among those alone.
    using ByLength = std::map<std::size_t, ByPath>;

    static bool shadowsUnder(const ByLength& lengths, std::string_view path, const Cookie& cookie) {
        const auto sized = lengths.find(path.size());
        if (sized == lengths.end())
            return false;
        const auto found = sized->second.find(path);
        if (found == sized->second.end())
            return false;
        for (const Cookie* kept : found->second)
            if (kept->domainsOverlap(cookie) && kept->pathMatches(cookie.getPath().getString()))
                return true;
        return false;
    }

    std::unordered_map<std::string, ByLength> m_byName;
};

// The promises a name's prefix makes (RFC 6265bis section 4.1.3), read as
// curl reads them, in any case: a __Secure- cookie is Secure; a __Host-
// cookie is Secure, names no Domain (its host's alone) and has the Path
// "/". Judged on the cookie as the answer set it, before scopeTo.
bool keepsPrefixPromises(const Cookie& cookie) {
    StringBuffer domain(cookie.getDomain());
    domain.trimWhitespace();
    for (int i = 0; i < cookie.getNumPairs(); ++i) {
        StringBuffer name;
        cookie.getPairName(i, name);
        if (name.beginsWithNoCase(kSecurePrefix) && !cookie.isSecure())
            return false;
        if (name.beginsWithNoCase(kHostPrefix) &&
            (!cookie.isSecure() || domain.getSize() != 0 || !cookie.getPath().equals("/")))
            return false;
    }
    return true;
}

} // namespace

void HttpClient::addCookiesHeader(HttpControl& options, const char* domain, const char* path, bool secureChannel,
                                  StringBuffer& header, LogBase& log, ProgressMonitor* pm) {
    m_cookiePath.setString(path != nullptr ? path : "/");
    if (options.CookieDir.getSize() == 0 || !options.SendCookies) {
        log.logInfo("Not auto-adding cookies.");
        return;
    }
    log.logInfo("Auto-adding any accumulated cookies.");
    StringBuffer host;
    Cookie::cookieHost(domain, host);
    log.logData("CookieDir", options.CookieDir.getString());
    log.logData("CookieDomain", host.getString());
    log.logData("CookiePath", path != nullptr ? path : "");
    CookieMgr store;
    CookieJar* jar =
        store.LoadCookieJar(options.CookieDir.getString(), &options.cookieTable(), host.getString(), path, log);
    if (jar == nullptr) {
        log.logInfo("No cookie jar found.");
        return;
    }
    StringBuffer value;
    jar->buildCookieHeaderValue(host.getString(), path, secureChannel, nowUnixSeconds(), value, log);
    delete jar;
    value.trimWhitespace();
    if (value.getSize() == 0)
        return;
    log.logData("AddingCookie", value.getString());
    if (pm != nullptr)
        pm->progressInfo("CookieToSend", value.getString());
    header.append("Cookie: ");
    header.appendSb(value);
    header.append("\r\n");
}

bool HttpClient::saveResponseCookies(HttpResult& result, HttpControl& options, LogBase& log, ProgressMonitor* pm) {
    // The clock is read only when cookies may be kept.
    if (options.CookieDir.getSize() == 0 || !options.SaveCookies)
        return false;
    return storeSetCookies(result.responseHeader, options, m_host.getString(), m_cookiePath.getString(), m_requestTls,
                           nowUnixSeconds(), log, pm);
}

bool HttpClient::storeSetCookies(const HttpResponseHeader& header, HttpControl& options, const char* host,
                                 const char* requestPath, bool secureChannel, std::int64_t now, LogBase& log,
                                 ProgressMonitor* pm) {
    if (options.CookieDir.getSize() == 0 || !options.SaveCookies ||
        !(header.hasField("Set-Cookie") || header.hasField("Set-Cookie2")))
        return false;
    log.logInfo("Saving cookies...");
    StringBuffer setter;
    Cookie::cookieHost(host, setter);
    ExtPtrArray cookies;
    cookies.setOwnsObjects(true);
    // An empty default keeps a cookie without Domain: scopeTo gives it the
    // setter's name.
    header.getSetCookies(cookies, "");
    CookieMgr store;
    std::unique_ptr<CookieJar> kept;
    if (!secureChannel) {
        LogNull quiet;
        kept.reset(store.LoadCookieJar(options.CookieDir.getString(), &options.cookieTable(), setter.getString(),
                                       nullptr, quiet));
    }
    const KeptSecureNames keptSecure(kept.get(), now);
    // One answer's cookies all go to the setter's document: written once.
    std::vector<const Cookie*> accepted;
    for (int i = 0; i < cookies.getCount(); ++i) {
        auto* cookie = static_cast<Cookie*>(cookies.elementAt(i));
        if (!cookie->pairsSendable()) {
            log.logError(kMsgCookieControlByte);
            continue;
        }
        if (!keepsPrefixPromises(*cookie)) {
            log.logError(kMsgPrefixBroken);
            continue;
        }
        if (!cookie->scopeTo(setter, requestPath)) {
            log.logError(kMsgCookieDomainRefused);
            log.logData("Domain", cookie->getDomain().getString());
            continue;
        }
        if (!secureChannel && (cookie->isSecure() || keptSecure.shadows(*cookie))) {
            log.logError(kMsgSecureFromPlain);
            continue;
        }
        cookie->fixExpiry(now);
        cookie->logCookie(log);
        accepted.push_back(cookie);
    }
    if (!accepted.empty())
        store.SaveCookies(options.CookieDir.getString(), &options.cookieTable(), setter.getString(), accepted, now, log,
                          pm);
    return true;
}

} // namespace tessik
