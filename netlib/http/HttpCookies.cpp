// The connection's two cookie steps: the Cookie line a request carries, and
// the cookies a response sets, both kept in the options' cookie store.
#include <cstring>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/CookieJar.h"
#include "netlib/http/CookieMgr.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/transport/HostnameResolve.h"
#include "platform/WinTime.h"

namespace tessik {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr const char* kMsgCookieControlByte =
    "A cookie's name or value holds a control byte other than TAB: the cookie is dropped.";

std::int64_t nowUnixSeconds() {
    return platform::CurrentUnixTimeMs() / kMsPerSecond;
}

// "." and the base domain, so that every host under it gets the cookie; an
// address is a host of its own, whose last labels name nothing shared.
void defaultCookieDomain(const char* host, StringBuffer& out) {
    StringBuffer name(host != nullptr ? host : "");
    if (std::strchr(name.getString(), ':') == std::strrchr(name.getString(), ':'))
        name.chopAtFirstChar(':');
    if (name.containsChar(':') || isDottedQuad(name.getString())) {
        out.setSb(name);
        return;
    }
    out.setString(".");
    StringBuffer base;
    TessikUrl::getBaseDomain(name.getString(), base);
    out.appendSb(base);
}

} // namespace

void HttpClient::addCookiesHeader(HttpControl& options, const char* domain, const char* path, bool secureChannel,
                                  StringBuffer& header, LogBase& log, ProgressMonitor* pm) {
    if (options.CookieDir.getSize() == 0 || !options.SendCookies) {
        log.logInfo("Not auto-adding cookies.");
        return;
    }
    log.logInfo("Auto-adding any accumulated cookies.");
    log.logData("CookieDir", options.CookieDir.getString());
    log.logData("CookieDomain", domain != nullptr ? domain : "");
    log.logData("CookiePath", path != nullptr ? path : "");
    CookieMgr store;
    CookieJar* jar = store.LoadCookieJar(options.CookieDir.getString(), &options.stringTable, domain, path, log);
    if (jar == nullptr) {
        log.logInfo("No cookie jar found.");
        return;
    }
    StringBuffer value;
    jar->buildCookieHeaderValue(domain, path, secureChannel, nowUnixSeconds(), value, log);
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
    return storeSetCookies(result.responseHeader, options, m_host.getString(), nowUnixSeconds(), log, pm);
}

bool HttpClient::storeSetCookies(const HttpResponseHeader& header, HttpControl& options, const char* host,
                                 std::int64_t now, LogBase& log, ProgressMonitor* pm) {
    if (options.CookieDir.getSize() == 0 || !options.SaveCookies ||
        !(header.hasField("Set-Cookie") || header.hasField("Set-Cookie2")))
        return false;
    log.logInfo("Saving cookies...");
    StringBuffer defaultDomain;
    defaultCookieDomain(host, defaultDomain);
    ExtPtrArray cookies;
    cookies.setOwnsObjects(true);
    header.getSetCookies(cookies, defaultDomain.getString());
    CookieMgr store;
    for (int i = 0; i < cookies.getCount(); ++i) {
        auto* cookie = static_cast<Cookie*>(cookies.elementAt(i));
        if (!cookie->pairsSendable()) {
            log.logError(kMsgCookieControlByte);
            continue;
        }
        cookie->fixExpiry(now);
        cookie->logCookie(log);
        store.SaveCookie(options.CookieDir.getString(), &options.stringTable, host, *cookie, now, log, pm);
    }
    return true;
}

} // namespace tessik
