#include "netlib/http/TessikUrl.h"

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/Utf.h"
#include "netlib/text/UrlCoding.h"
#include "netlib/transport/WinsockLoader.h"
#include "platform/Winsock.h"

namespace tessik {

namespace {

constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;
constexpr int kMaxPort = 65535;
constexpr std::size_t kIpv6Bytes = 16;

enum class Scheme { None, Http, Https, File, Ftp };

struct SchemePrefix {
    const char* text;
    Scheme scheme;
};

constexpr SchemePrefix kSchemes[] = {
    {"http://", Scheme::Http},
    {"https://", Scheme::Https},
    {"file:///", Scheme::File},
    {"ftp://", Scheme::Ftp},
};

constexpr const char* kGenericTopLevel[] = {"com",  "org",  "edu",  "net",  "mil",   "biz",
                                            "info", "coop", "name", "aero", "museum"};
constexpr const char* kCountrySecondLevel[] = {"co", "com", "edu", "org", "net"};
constexpr const char* kBlogHosts[] = {"blogspot", "typepad",   "blogs",     "weblogs",    "tripod",
                                      "f2s",      "geocities", "wordpress", "lockergnome"};

bool startsNoCase(std::string_view s, const char* prefix) {
    std::size_t n = std::strlen(prefix);
    if (s.size() < n)
        return false;
    for (std::size_t i = 0; i < n; ++i) {
        char a = s[i];
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != prefix[i])
            return false;
    }
    return true;
}

template <std::size_t N>
bool isOneOf(const StringBuffer& s, const char* const (&list)[N]) {
    for (const char* item : list)
        if (s.equals(item))
            return true;
    return false;
}

// Trimmed, cut before anything that cannot be part of a host name, trimmed.
void cleanHostText(StringBuffer& host) {
    host.trimWhitespace();
    for (char c : {':', '%', '&', '?', '=', ' '})
        host.chopAtFirstChar(c);
    host.trimWhitespace();
}

// The whole text a port of 1-65535 in decimal digits (leading zeros
// allowed, as curl reads them); else false and port as it was.
bool readPort(std::string_view text, int& port) {
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
        if (value > kMaxPort)
            return false;
    }
    if (value == 0)
        return false;
    port = value;
    return true;
}

// What follows a URL's host: nothing, or ':' and a port, which may be empty
// (the scheme's own). Anything else, a port past 65535 or junk after the
// digits, names no port curl would connect to.
bool readPortPart(std::string_view rest, int& port) {
    if (rest.empty() || rest == ":")
        return true;
    return rest.front() == ':' && readPort(rest.substr(1), port);
}

void assign(StringBuffer& out, std::string_view text) {
    out.clear();
    out.appendBytes(text.data(), static_cast<int>(text.size()));
}

// What curl's URL parser refuses in a host name, and '|', which no URL's
// host holds either.
constexpr std::string_view kNotInHost = " \r\n\t/:#?!@{}[]\\$'\"^`*<>=;,+&()%|";
// A zone names an interface with the unreserved bytes of RFC 6874.
constexpr std::string_view kZoneMarks = "-._~";
constexpr std::string_view kEscapedPercent = "%25";

// No label of a name is empty (one dot may end it, for the root), and a
// name past ASCII is UTF-8 (an IDN): other bytes name no host.
bool isNameText(std::string_view h) {
    if (h.empty() || h.front() == '.' || h.find("..") != std::string_view::npos ||
        h.find_first_of(kNotInHost) != std::string_view::npos || TessikUrl::holdsControlByte(h.data(), h.size()))
        return false;
    const auto* bytes = reinterpret_cast<const unsigned char*>(h.data());
    for (std::size_t i = 0; i < h.size();) {
        std::uint32_t cp = 0;
        const int n = utf8ScalarAt(bytes + i, static_cast<unsigned int>(h.size() - i), cp);
        if (n == 0)
            return false;
        i += static_cast<std::size_t>(n);
    }
    return true;
}

// What a pair of brackets holds: an IPv6 address, then a zone after "%25"
// (as URLs write it) or a bare '%'.
bool readIpv6Literal(std::string_view text, std::string_view& address, std::string_view& zone) {
    const std::size_t percent = text.find('%');
    address = text.substr(0, percent);
    zone = {};
    if (percent != std::string_view::npos) {
        zone = text.substr(percent);
        zone.remove_prefix(zone.starts_with(kEscapedPercent) ? kEscapedPercent.size() : 1);
        if (zone.empty())
            return false;
        for (char c : zone)
            if (!std::isalnum(static_cast<unsigned char>(c)) && kZoneMarks.find(c) == std::string_view::npos)
                return false;
    }
    unsigned char bytes[kIpv6Bytes];
    return parseIpv6(std::string(address).c_str(), bytes);
}

// The literal as a connection takes it: the address in lower case, the
// zone after a bare '%'.
void assignIpv6(StringBuffer& out, std::string_view address, std::string_view zone) {
    assign(out, address);
    out.toLowerCaseAscii();
    if (!zone.empty()) {
        out.appendChar('%');
        out.appendBytes(zone.data(), static_cast<int>(zone.size()));
    }
}

// The URL's parts as written: the host neither cleaned nor lower-cased.
// False only for a null URL; portRead false for a port that is none.
bool crackRaw(const char* url, StringBuffer& host, int& port, StringBuffer& user, StringBuffer& password,
              StringBuffer& path, StringBuffer& query, StringBuffer& fragment, bool& ipv6, bool& portRead) {
    host.clear();
    user.clear();
    password.clear();
    path.clear();
    query.clear();
    fragment.clear();
    port = kHttpPort;
    portRead = true;
    if (!url)
        return false;

    std::string copy(url);
    for (char& c : copy)
        if (c == '\\')
            c = '/';
    std::string_view rest(copy);

    Scheme scheme = Scheme::None;
    for (const SchemePrefix& s : kSchemes) {
        if (startsNoCase(rest, s.text)) {
            scheme = s.scheme;
            rest.remove_prefix(std::strlen(s.text));
            break;
        }
    }
    if (scheme == Scheme::Https)
        port = kHttpsPort;

    // The authority runs to the first '/', '?' or '#', so an '@' or ':' in a
    // query or fragment never reaches the host.
    std::size_t authorityEnd = rest.find_first_of("/?#");
    if (authorityEnd == std::string_view::npos)
        authorityEnd = rest.size();
    std::string_view authority = rest.substr(0, authorityEnd);
    std::string_view tail = rest.substr(authorityEnd);

    std::string_view userInfo;
    std::string_view hostPort = authority;
    std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        userInfo = authority.substr(0, at);
        hostPort = authority.substr(at + 1);
    }

    std::size_t colon = hostPort.find(':');
    bool driveLetter = colon == 1 && (scheme == Scheme::File || scheme == Scheme::None);
    ipv6 = false;
    if (!hostPort.empty() && hostPort.front() == '[') {
        // An IPv6 literal: the host is what the brackets hold, the port
        // follows the closing one.
        ipv6 = true;
        std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos)
            close = hostPort.size();
        assign(host, hostPort.substr(1, close - 1));
        if (close < hostPort.size())
            portRead = readPortPart(hostPort.substr(close + 1), port);
    } else if (driveLetter) {
        // "c:/dir": no host; the path starts at the slash.
    } else if (colon != std::string_view::npos) {
        assign(host, hostPort.substr(0, colon));
        portRead = readPortPart(hostPort.substr(colon), port);
    } else {
        assign(host, hostPort);
    }

    if (!userInfo.empty()) {
        std::size_t sep = userInfo.find(':');
        assign(user, userInfo.substr(0, sep));
        if (sep != std::string_view::npos)
            assign(password, userInfo.substr(sep + 1));
    }

    std::size_t hash = tail.find('#');
    if (hash != std::string_view::npos) {
        assign(fragment, tail.substr(hash + 1));
        tail = tail.substr(0, hash);
    }
    std::size_t question = tail.find('?');
    if (question != std::string_view::npos) {
        assign(query, tail.substr(question + 1));
        tail = tail.substr(0, question);
    }
    if (tail.empty())
        path.setString("/");
    else
        assign(path, tail);
    return true;
}

} // namespace

TessikUrl::~TessikUrl() = default;

bool TessikUrl::crackUrl(const char* url, StringBuffer& host, int& port, StringBuffer& user, StringBuffer& password,
                         StringBuffer& path, StringBuffer& query, StringBuffer& fragment) {
    bool ipv6 = false;
    bool portRead = true;
    if (!crackRaw(url, host, port, user, password, path, query, fragment, ipv6, portRead))
        return false;
    // A host without its port is no place to go: every road refuses an
    // empty host.
    if (!portRead) {
        host.clear();
        return false;
    }
    // ASCII letters only: a UTF-8 host keeps its other bytes as they are.
    host.toLowerCaseAscii();
    std::string_view address, zone;
    if (ipv6 &&
        readIpv6Literal(std::string_view(host.getString(), static_cast<std::size_t>(host.getSize())), address, zone)) {
        const std::string literal(address);
        const std::string name(zone);
        assignIpv6(host, literal, name);
    } else if (ipv6) {
        host.trimWhitespace();
    } else {
        cleanHostText(host);
    }
    path.trimWhitespace();
    return true;
}

bool TessikUrl::crackUrlHostOnly(const char* url, StringBuffer& host) {
    int port = 0;
    StringBuffer user, password, path, query, fragment;
    return crackUrl(url, host, port, user, password, path, query, fragment);
}

void TessikUrl::getBaseDomain(const char* hostName, StringBuffer& domain) {
    domain.clear();
    if (!hostName)
        return;
    StringBuffer h(hostName);
    cleanHostText(h);

    ExtPtrArray labels;
    labels.setOwnsObjects(true);
    if (h.containsChar('.'))
        h.split(labels, '.', false, false);
    int n = labels.getCount();
    if (n < 2) {
        domain.setSb(h);
        return;
    }
    auto label = [&labels](int i) -> const StringBuffer& { return *static_cast<StringBuffer*>(labels.elementAt(i)); };
    const StringBuffer& last = label(n - 1);
    const StringBuffer& second = label(n - 2);
    StringBuffer none;
    const StringBuffer& third = n >= 3 ? label(n - 3) : none;

    bool keepThree = false;
    if (n > 2 && !isOneOf(last, kGenericTopLevel)) {
        if (last.equals("us")) {
            // Locality names under us ("ci.boston.ma.us") are registered whole.
            if (second.getSize() == 2 || second.equals("dni") || second.equals("fed")) {
                domain.setSb(h);
                if (domain.beginsWith("www."))
                    domain.removeChunk(0, 4);
                return;
            }
        } else if (isOneOf(second, kCountrySecondLevel)) {
            keepThree = true;
        } else if (second.equals("gov") && last.getSize() == 2 && third.getSize() > 0) {
            keepThree = true;
        }
    } else if (n == 3 && (last.equals("com") || last.equals("net")) && isOneOf(second, kBlogHosts)) {
        keepThree = true;
    }

    if (keepThree) {
        domain.appendSb(third);
        domain.appendChar('.');
    }
    domain.appendSb(second);
    domain.appendChar('.');
    domain.appendSb(last);
}

bool TessikUrl::holdsControlByte(const char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F)
            return true;
    }
    return false;
}

bool TessikUrl::holdsNul(const StringBuffer& text) {
    return std::memchr(text.getString(), '\0', static_cast<std::size_t>(text.getSize())) != nullptr;
}

bool TessikUrl::isToken(const StringBuffer& text) {
    static constexpr const char* kTokenMarks = "!#$%&'*+-.^_`|~";
    static constexpr unsigned char kLowerCaseBit = 0x20;
    const char* p = text.getString();
    for (int i = 0; i < text.getSize(); ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        const bool alnum = (c >= '0' && c <= '9') || ((c | kLowerCaseBit) >= 'a' && (c | kLowerCaseBit) <= 'z');
        if (!alnum && (c == '\0' || std::strchr(kTokenMarks, c) == nullptr))
            return false;
    }
    return text.getSize() != 0;
}

bool TessikUrl::isFieldValue(const char* text, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (text[i] != '\t' && holdsControlByte(text + i, 1))
            return false;
    return true;
}

void TessikUrl::appendRequestTarget(const char* target, std::size_t n, StringBuffer& out) {
    static constexpr std::string_view kNotInUri = " \"#<>\\^`{|}";
    static constexpr unsigned char kFirstNonAscii = 0x80;
    const std::string_view text(target != nullptr ? target : "", target != nullptr ? n : 0);
    std::size_t from = 0;
    for (const SchemePrefix& s : kSchemes) {
        if ((s.scheme == Scheme::Http || s.scheme == Scheme::Https) && startsNoCase(text, s.text)) {
            from = text.find('/', std::strlen(s.text));
            from = from == std::string_view::npos ? text.size() : from;
            break;
        }
    }
    out.appendBytes(text.data(), static_cast<int>(from));
    for (std::size_t i = from; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < kFirstNonAscii && kNotInUri.find(static_cast<char>(c)) == std::string_view::npos) {
            out.appendChar(static_cast<char>(c));
            continue;
        }
        appendPercentEscape(c, out);
    }
}

bool TessikUrl::hasHostName(const char* url) {
    StringBuffer host, user, password, path, query, fragment;
    int port = 0;
    bool ipv6 = false;
    bool portRead = true;
    if (!crackRaw(url, host, port, user, password, path, query, fragment, ipv6, portRead))
        return true;
    const std::string_view h(host.getString(), static_cast<std::size_t>(host.getSize()));
    std::string_view address, zone;
    if (ipv6)
        return readIpv6Literal(h, address, zone);
    return h.empty() || isNameText(h);
}

bool TessikUrl::hasPort(const char* url) {
    StringBuffer host, user, password, path, query, fragment;
    int port = 0;
    bool ipv6 = false;
    bool portRead = true;
    crackRaw(url, host, port, user, password, path, query, fragment, ipv6, portRead);
    return portRead;
}

bool TessikUrl::readHostPort(const char* text, StringBuffer& host, int& port) {
    host.clear();
    port = 0;
    const std::string_view t(text != nullptr ? text : "");
    std::string_view rest;
    std::string_view address, zone;
    // Two colons or more and no brackets: an IPv6 literal alone, which takes
    // no port (the caller's port argument is the one).
    if (!t.starts_with('[') && t.find(':') != t.rfind(':')) {
        if (!readIpv6Literal(t, address, zone))
            return false;
        assignIpv6(host, address, zone);
        return true;
    }
    if (t.starts_with('[')) {
        const std::size_t close = t.find(']');
        if (close == std::string_view::npos || !readIpv6Literal(t.substr(1, close - 1), address, zone))
            return false;
        assignIpv6(host, address, zone);
        rest = t.substr(close + 1);
    } else {
        const std::size_t colon = t.find(':');
        const std::string_view name = t.substr(0, colon);
        if (!isNameText(name))
            return false;
        assign(host, name);
        host.toLowerCaseAscii();
        rest = colon == std::string_view::npos ? std::string_view() : t.substr(colon);
    }
    if (rest.empty())
        return true;
    if (rest.front() != ':' || !readPort(rest.substr(1), port)) {
        host.clear();
        return false;
    }
    return true;
}

bool TessikUrl::isBareHost(const char* host) {
    const std::string_view h(host != nullptr ? host : "");
    std::string_view address, zone;
    return h.find(':') != std::string_view::npos ? readIpv6Literal(h, address, zone) : isNameText(h);
}

const char* TessikUrl::zoneOf(const char* host) {
    const std::size_t zone = host != nullptr ? platform::Ipv6ZoneStart(host) : std::string_view::npos;
    return zone != std::string_view::npos ? host + zone + 1 : "";
}

} // namespace tessik
