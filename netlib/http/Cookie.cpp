#include "netlib/http/Cookie.h"

#include <strings.h>

#include <cstring>
#include <new>
#include <string_view>

#include "netlib/core/ClsXml.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringPair.h"
#include "netlib/http/PublicSuffix.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/text/DateParser.h"
#include "platform/WinTime.h"
#include "platform/Winsock.h"

namespace tessik {

namespace {

// A port never names another site; an IPv6 address (more than one ':')
// keeps its colons.
void dropPort(StringBuffer& host) {
    if (std::strchr(host.getString(), ':') == std::strrchr(host.getString(), ':'))
        host.chopAtFirstChar(':');
}

bool toUnixSeconds(const SysTimeValue& t, std::int64_t& seconds) {
    FileTimeValue ft;
    if (!t.toFileTime(ft))
        return false;
    seconds = platform::FileTimeTicksToUnixTime(static_cast<std::int64_t>(ft.ticks()));
    return true;
}

// name is tail, or ends with '.' and tail (any case): the cookie of
// 10.0.0.1 is no cookie of 110.0.0.1.
bool endsWithLabel(const char* name, const char* tail) {
    const std::size_t n = std::strlen(name);
    const std::size_t t = std::strlen(tail);
    if (t == 0 || t > n || strcasecmp(name + (n - t), tail) != 0)
        return false;
    return n == t || name[n - t - 1] == '.';
}

} // namespace

Cookie::Cookie() : m_version(0), m_secure(0), m_discard(0), m_maxAge(0) {
    m_pairs.setOwnsObjects(true);
}

Cookie::~Cookie() {
    m_pairs.removeAllObjects();
}

void Cookie::clear() {
    m_pairs.removeAllObjects();
    m_pairAt.clear();
    m_version = 0;
    m_secure = 0;
    m_domain.clear();
    m_path.clear();
    m_expire.clear();
    m_discard = 0;
    m_maxAge = 0;
}

void Cookie::setDomain(const char* domain) {
    m_domain.setString(domain);
    dropPort(m_domain);
}

void Cookie::cookieHost(const char* host, StringBuffer& out) {
    out.setString(host != nullptr ? host : "");
    dropPort(out);
    if (const std::size_t zone = platform::Ipv6ZoneStart(out.getString()); zone != std::string_view::npos)
        out.shorten(out.getSize() - static_cast<int>(zone));
    while (out.lastChar() == '.')
        out.shorten(1);
    out.toLowerCaseAscii();
}

bool Cookie::getPairName(int index, StringBuffer& out) const {
    out.clear();
    auto* pair = static_cast<StringPair*>(m_pairs.elementAt(index));
    if (!pair)
        return false;
    out.append(pair->getKey());
    return true;
}

bool Cookie::getPairValue(int index, StringBuffer& out) const {
    out.clear();
    auto* pair = static_cast<StringPair*>(m_pairs.elementAt(index));
    if (!pair)
        return false;
    out.append(pair->getValue());
    return true;
}

void Cookie::setNameValue(const char* name, const char* value) {
    if (!name)
        return;
    const auto [at, added] = m_pairAt.try_emplace(name, m_pairs.getCount());
    if (!added) {
        static_cast<StringPair*>(m_pairs.elementAt(at->second))->getValueBuf()->setString(value ? value : "");
        return;
    }
    auto* pair = new (std::nothrow) StringPair(name, value ? value : "");
    if (pair && m_pairs.appendPtr(pair))
        return;
    delete pair;
    m_pairAt.erase(at);
}

bool Cookie::isSendableText(const StringBuffer& text) {
    // The same rule as every other field value that goes out.
    return TessikUrl::isFieldValue(text);
}

bool Cookie::pairsSendable() const {
    for (int i = 0; i < m_pairs.getCount(); ++i) {
        auto* pair = static_cast<StringPair*>(m_pairs.elementAt(i));
        if (pair != nullptr && (!isSendableText(*pair->getKeyBuf()) || !isSendableText(*pair->getValueBuf())))
            return false;
    }
    return true;
}

Cookie::Scope Cookie::judgeDomain(const char* host, const char* domain) {
    StringBuffer registrable;
    const bool shared = !public_suffix::registrableDomain(host, registrable);
    if (*domain != '\0' && strcasecmp(host, domain) == 0)
        return shared ? Scope::HostOnly : Scope::Domain;
    if (shared || !endsWithLabel(host, domain) || !endsWithLabel(domain, registrable.getString()))
        return Scope::Refused;
    return Scope::Domain;
}

void Cookie::defaultPath(const char* requestPath, StringBuffer& out) {
    const std::string_view path(requestPath != nullptr ? requestPath : "");
    const std::string_view bare = path.substr(0, path.find('?'));
    const std::size_t last = bare.rfind('/');
    out.setString("/");
    if (!bare.starts_with('/') || last == 0 || last == std::string_view::npos)
        return;
    out.clear();
    out.appendBytes(bare.data(), static_cast<int>(last));
}

bool Cookie::scopeTo(const StringBuffer& host, const char* requestPath) {
    StringBuffer domain(m_domain);
    domain.trimWhitespace();
    if (domain.beginsWith("."))
        domain.removeChunk(0, 1);
    domain.toLowerCaseAscii();
    const Scope scope = domain.getSize() == 0 ? Scope::HostOnly : judgeDomain(host.getString(), domain.getString());
    if (scope == Scope::Refused || host.getSize() == 0)
        return false;
    if (scope == Scope::HostOnly) {
        m_domain.setSb(host);
    } else {
        m_domain.setString(".");
        m_domain.appendSb(domain);
    }
    // A Path that is empty or does not begin with '/' names no path either
    // (RFC 6265 section 5.2.4).
    if (!m_path.beginsWith("/"))
        defaultPath(requestPath, m_path);
    return true;
}

bool Cookie::matchesRequest(const char* host, const char* path, bool secureChannel) const {
    if (m_secure && !secureChannel)
        return false;
    const char* requestHost = host != nullptr ? host : "";
    const char* stored = m_domain.getString();
    const bool reaches = *stored == '.' ? judgeDomain(requestHost, stored + 1) != Scope::Refused
                                        : *stored != '\0' && strcasecmp(requestHost, stored) == 0;
    return reaches && pathMatches(path);
}

bool Cookie::pathMatches(const char* path) const {
    if (path == nullptr || m_path.getSize() == 0 || m_path.equals("/"))
        return true;
    const auto n = static_cast<std::size_t>(m_path.getSize());
    return std::strncmp(path, m_path.getString(), n) == 0 &&
           (m_path.lastChar() == '/' || path[n] == '\0' || path[n] == '/');
}

bool Cookie::domainsOverlap(const Cookie& other) const {
    const char* a = m_domain.getString() + (m_domain.beginsWith(".") ? 1 : 0);
    const char* b = other.m_domain.getString() + (other.m_domain.beginsWith(".") ? 1 : 0);
    return *a != '\0' && *b != '\0' && (endsWithLabel(a, b) || endsWithLabel(b, a));
}

bool Cookie::isExpired(std::int64_t nowUnixSeconds) const {
    if (m_maxAge < 0)
        return true;
    if (m_expire.getSize() == 0)
        return false;
    SysTimeValue when;
    std::int64_t seconds = 0;
    return parseCookieDate(m_expire.getString(), when) && toUnixSeconds(when, seconds) && seconds <= nowUnixSeconds;
}

void Cookie::fixExpiry(std::int64_t nowUnixSeconds) {
    if (m_maxAge <= 0)
        return;
    const platform::FILETIME ft =
        platform::FileTimeFromTicks(platform::UnixTimeToFileTimeTicks(nowUnixSeconds + m_maxAge));
    platform::SYSTEMTIME st{};
    if (!platform::FileTimeToSystemTime(&ft, &st))
        return;
    SysTimeValue when;
    when.year = st.wYear;
    when.month = st.wMonth;
    when.dayOfWeek = st.wDayOfWeek;
    when.day = st.wDay;
    when.hour = st.wHour;
    when.minute = st.wMinute;
    when.second = st.wSecond;
    when.getRfc822String(m_expire);
}

void Cookie::logCookie(LogBase& log) const {
    LogContext ctx(log, "Cookie");
    log.logData("Domain", m_domain.getString());
    log.logData("Path", m_path.getString());
    log.logData("Expire", m_expire.getString());
    for (int i = 0; i < m_pairs.getCount(); ++i) {
        auto* pair = static_cast<StringPair*>(m_pairs.elementAt(i));
        log.logData("CookieName", pair->getKey());
        log.logData("CookieValue", pair->getValue());
    }
}

void Cookie::reportSaving(const char* cookieDir, ProgressMonitor* pm) const {
    if (pm == nullptr)
        return;
    ClsXml xml;
    xml.setTag("SavingCookie");
    xml.addNewChild("CookieDir", cookieDir != nullptr ? cookieDir : "");
    xml.addNewChild("Domain", m_domain.getString());
    xml.addNewChild("Path", m_path.getString());
    xml.addNewChild("Expire", m_expire.getString());
    ClsXml* pairs = xml.newChild("NameValuePairs", "");
    for (int i = 0; pairs != nullptr && i < m_pairs.getCount(); ++i) {
        auto* pair = static_cast<StringPair*>(m_pairs.elementAt(i));
        pairs->addNewChild("CookieName", pair->getKey());
        pairs->addNewChild("CookieValue", pair->getValue());
    }
    delete pairs;
    StringBuffer text;
    xml.getXmlSb(text);
    pm->progressInfo("SavingCookie", text.getString());
}

} // namespace tessik
