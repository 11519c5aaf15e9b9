#pragma once
// Splitting URLs into their parts, the registrable ("base") domain of a
// host name, under which cookies are grouped and stored, and the bytes a
// request's start line and header fields may never carry.
#include <cstddef>

#include "netlib/core/StringBuffer.h"

namespace tessik {

class TessikUrl {
public:
    virtual ~TessikUrl();

    // Every output is emptied first. The schemes http, https, ftp and
    // file:/// are recognised in any case; the port is the number after the
    // host, else 443 for https and 80 otherwise. The host comes out with its
    // ASCII letters in lower case and an IPv6 literal without its brackets;
    // the path is "/" when the URL has none, and a "c:" right after file:///
    // (or with no scheme) is a drive, not a host. False for a null URL, and
    // with the host empty for one whose port is not 1-65535 in decimal
    // digits alone (an empty port is the scheme's).
    static bool crackUrl(const char* url, StringBuffer& host, int& port, StringBuffer& user, StringBuffer& password,
                         StringBuffer& path, StringBuffer& query, StringBuffer& fragment);
    static bool crackUrlHostOnly(const char* url, StringBuffer& host);

    // "www.example.com" -> "example.com", "www.example.co.uk" ->
    // "example.co.uk"; a host without '.' is returned as it is. It names
    // the document a host's cookies are kept in, and never decides where a
    // cookie goes: public suffixes are the business of PublicSuffix.h.
    static void getBaseDomain(const char* host, StringBuffer& domain);

    // A byte of 0x00-0x1F or 0x7F among the n bytes: in a host, path or
    // query it would end the request line early or write a header line of
    // its own, so such a URL is refused before anything is sent.
    static bool holdsControlByte(const char* text, std::size_t n);
    static bool holdsControlByte(const StringBuffer& text) {
        return holdsControlByte(text.getString(), static_cast<std::size_t>(text.getSize()));
    }
    // No control byte but TAB (RFC 9110 field-value): what a header field's
    // value, the caller's or one a server sent that goes out again, must be.
    static bool isFieldValue(const char* text, std::size_t n);
    static bool isFieldValue(const StringBuffer& text) {
        return isFieldValue(text.getString(), static_cast<std::size_t>(text.getSize()));
    }
    // A non-empty run of token bytes, as a verb or a field's name must be.
    static bool isToken(const StringBuffer& text);
    // The URL's host, as written, holds none of the bytes that would make
    // it another host or none (space, '"', '<', '>', '%' ...: the bytes
    // curl refuses as "Bad hostname"); an IPv6 literal is an address, a
    // zone after it ("%25" or '%', then an interface's name or number)
    // allowed. An empty host passes: the roads refuse it themselves.
    static bool hasHostName(const char* url);
    // The URL names no port, an empty one, or 1-65535 in decimal digits
    // alone: junk after the digits or a port past 65535 is refused, as curl
    // refuses it.
    static bool hasPort(const char* url);
    // The one reading of a host a caller names without a URL: a name, an
    // IPv4 address or a bracketed IPv6 literal (with a zone as above), each
    // alone or with ':' and a port of 1-65535, or an IPv6 literal without
    // brackets and port, and nothing else. host comes
    // out as crackUrl gives one (lower-case, an IPv6 literal bare, its zone
    // after '%'); port is 0 when the text names none.
    static bool readHostPort(const char* text, StringBuffer& host, int& port);
    // A host as crackUrl and readHostPort give it, bare: a name, or an IPv6
    // literal with or without its zone.
    static bool isBareHost(const char* host);
    // An IPv6 literal's zone, the text after its '%' ("" for none).
    static const char* zoneOf(const char* host);
    // The request target as a start line carries it, appended to out: a
    // space, '"', '#', '<', '>', '\\', '^', '`', '{', '|', '}' and every byte
    // from 0x80 go as %XX, as none of them may stand in a URI; the rest,
    // percent escapes included, as written. An absolute target's scheme and
    // authority go as they are. Every road writes its target through this.
    static void appendRequestTarget(const char* target, std::size_t n, StringBuffer& out);
    static void appendRequestTarget(const StringBuffer& target, StringBuffer& out) {
        appendRequestTarget(target.getString(), static_cast<std::size_t>(target.getSize()), out);
    }
    // A NUL, at which the text's C string form would be cut short.
    static bool holdsNul(const StringBuffer& text);
};

namespace url_msg {
inline constexpr const char* kControlByteInUrl =
    "The URL holds a control byte (0x00-0x1F or 0x7F) in its host, path or query: refused, nothing was sent.";
inline constexpr const char* kMalformedField =
    "A header field's name is not an HTTP token, or its value holds a control byte other than TAB: refused, nothing "
    "was sent.";
inline constexpr const char* kValidatorNotSent =
    "A cached ETag or Last-Modified holds a control byte: it is not sent back, the request goes without it.";
inline constexpr const char* kBadDomain =
    "The domain is no host name, [IPv6 literal] or either with ':' and a port (it holds '@', '/', '?', '#' or "
    "another byte a host cannot hold): refused, nothing was sent.";
inline constexpr const char* kBadHostName =
    "The URL's host is no host name (it holds a space, a quote, '<', '>', '%' or another byte a host cannot hold): "
    "refused, nothing was sent.";
inline constexpr const char* kBadPort =
    "The URL's port is not 1-65535 in decimal digits alone: refused, nothing was sent.";
inline constexpr const char* kVerbNotToken =
    "The request's verb is not an HTTP token (letters, digits and !#$%&'*+-.^_`|~): refused, nothing was sent.";
inline constexpr const char* kBadHttpVersion =
    "The request's HTTP version is not digits and dots: refused, nothing was sent.";
} // namespace url_msg

} // namespace tessik
