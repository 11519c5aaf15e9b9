#pragma once
// One cookie as a server set it: its name/value pairs in arrival order and
// the attributes that decide where it is sent back.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class LogBase;
class ProgressMonitor;

class Cookie : public TessikObject {
public:
    // maxAge of a cookie that arrived with Max-Age zero or less: gone at once.
    static constexpr std::int32_t kMaxAgeExpired = -1;

    Cookie();
    ~Cookie() override;
    Cookie(const Cookie&) = delete;
    Cookie& operator=(const Cookie&) = delete;

    void clear();

    const StringBuffer& getDomain() const { return m_domain; }
    // A port never enters the domain (an IPv6 address keeps its colons).
    void setDomain(const char* domain);
    // The host as cookies name it: lower case, without a port, an IPv6
    // zone or a trailing dot, which name no other site.
    static void cookieHost(const char* host, StringBuffer& out);
    const StringBuffer& getPath() const { return m_path; }
    void setPath(const char* path) { m_path.setString(path); }
    const StringBuffer& getExpire() const { return m_expire; }
    void setExpire(const char* expire) { m_expire.setString(expire); }
    std::int32_t getVersion() const { return m_version; }
    void setVersion(std::int32_t version) { m_version = version; }
    bool isSecure() const { return m_secure != 0; }
    void setSecure(bool on) { m_secure = on ? 1 : 0; }
    bool getDiscard() const { return m_discard != 0; }
    void setDiscard(bool on) { m_discard = on ? 1 : 0; }
    std::int32_t getMaxAge() const { return m_maxAge; }
    void setMaxAge(std::int32_t maxAge) { m_maxAge = maxAge; }

    int getNumPairs() const { return m_pairs.getCount(); }
    bool getPairName(int index, StringBuffer& out) const;
    bool getPairValue(int index, StringBuffer& out) const;
    // Replaces the value of the first pair of that name (names differing in
    // case are two cookies, RFC 6265 section 5.3), else appends a pair.
    void setNameValue(const char* name, const char* value);
    // A name or value holding a control byte other than TAB is never kept
    // or sent: it would end the Cookie line early or break it for a strict
    // server, on every later request to the domain.
    static bool isSendableText(const StringBuffer& text);
    bool pairsSendable() const;

    // Where a cookie that host set may go, by the domain its Domain
    // attribute names (RFC 6265 section 5.3; host and domain lower-case,
    // without a port or a leading dot): the host itself is the domain's
    // (only the host's where it is a public suffix or an address); a domain
    // that holds the host at a label and is no wider than the host's
    // registrable domain is the domain's; anything else is refused.
    enum class Scope { Refused, HostOnly, Domain };
    static Scope judgeDomain(const char* host, const char* domain);
    // The cookie as the host set it in answer to a request for
    // requestPath: without a Domain it is the host's alone, its domain the
    // bare host; one the Domain attribute scopes gets '.' and that domain.
    // Without a Path (or with one that is empty or does not begin with '/')
    // it takes the request's default-path (RFC 6265 section 5.1.4), so a
    // name, domain and path tell it apart from every other.
    // False for a cookie refused.
    bool scopeTo(const StringBuffer& host, const char* requestPath);
    // The directory of a request's path: up to, not including, its last
    // '/'; "/" for a path with no '/' after its first byte or that does not
    // begin with one. A query is no part of the path.
    static void defaultPath(const char* requestPath, StringBuffer& out);

    // Whether it goes with a request for host and path: a domain without
    // a leading '.' is that host's alone; '.' and a domain take every host
    // that judgeDomain lets the domain reach. The path matches at a '/'
    // (RFC 6265 section 5.1.4; "" and "/" match every path). A secure
    // cookie goes only over TLS.
    bool matchesRequest(const char* host, const char* path, bool secureChannel) const;
    bool isHostOnly() const { return m_domain.getSize() != 0 && m_domain.getString()[0] != '.'; }
    // Whether the request path lies within the cookie's path.
    bool pathMatches(const char* path) const;
    // Whether this cookie's domain and other's reach one another, one way
    // or the other.
    bool domainsOverlap(const Cookie& other) const;
    // Deleted on arrival (Max-Age zero or less), or its Expires date is no
    // later than now (Unix seconds). An Expires text that is no date never
    // expires it.
    bool isExpired(std::int64_t nowUnixSeconds) const;
    // A positive Max-Age becomes the Expires date it names from now on, so
    // a stored cookie keeps its end.
    void fixExpiry(std::int64_t nowUnixSeconds);
    void logCookie(LogBase& log) const;
    // The "SavingCookie" event: the cookie and where it goes, as XML.
    void reportSaving(const char* cookieDir, ProgressMonitor* pm) const;

private:
    ExtPtrArray m_pairs;
    // Each pair's place by name: a document of many pairs is read in time
    // that follows their number.
    std::unordered_map<std::string, int> m_pairAt;
    std::int32_t m_version;
    std::uint8_t m_secure;
    StringBuffer m_domain;
    StringBuffer m_path;
    StringBuffer m_expire;
    std::uint8_t m_discard;
    std::int32_t m_maxAge;
};

} // namespace tessik
