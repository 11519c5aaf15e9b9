// URL splitting judged by python's urllib.parse.urlsplit over a corpus, the
// forms python does not share (drives, backslashes), and base domains.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/http/TessikUrl.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

// host, port, user, password, path, query, fragment: tab-separated;
// "refused" for a URL whose port is none.
std::string crack(const std::string& url) {
    StringBuffer host, user, password, path, query, fragment;
    int port = -1;
    if (!TessikUrl::crackUrl(url.c_str(), host, port, user, password, path, query, fragment)) {
        EXPECT_EQ(host.getSize(), 0) << url;
        return "refused";
    }
    std::ostringstream out;
    out << host.getString() << '\t' << port << '\t' << user.getString() << '\t' << password.getString() << '\t'
        << path.getString() << '\t' << query.getString() << '\t' << fragment.getString();
    return out.str();
}

// The same parts from urlsplit, with the defaults an HTTP client fills in:
// the scheme's port and "/" for an empty path. A port urlsplit cannot read
// (junk after the digits, past 65535) is refused, and so is port 0, which
// no connection reaches (curl fails to connect to it).
constexpr const char* kUrlsplit = R"(
import sys
from urllib.parse import urlsplit
for line in open(sys.argv[1], encoding='utf-8'):
    url = line.rstrip('\n')
    if not url:
        continue
    u = urlsplit(url)
    try:
        port = u.port
    except ValueError:
        port = 0
    if port == 0:
        print('refused')
        continue
    port = port or (443 if u.scheme.lower() == 'https' else 80)
    fields = [u.hostname or '', str(port), u.username or '', u.password or '', u.path or '/', u.query, u.fragment]
    print('\t'.join(fields))
)";

TEST(CrackUrl, AgreesWithPythonUrlsplitOnTheCorpus) {
    std::string corpus = std::string(GRV_TEST_DATA_DIR) + "/http/urls.txt";
    grvtest::RunResult peer = grvtest::Python(kUrlsplit, {corpus});
    ASSERT_TRUE(peer.Ok()) << peer.err;

    std::ifstream urls(corpus);
    std::istringstream expected(peer.out);
    std::string url, want;
    int count = 0;
    while (std::getline(urls, url)) {
        if (url.empty())
            continue;
        ASSERT_TRUE(std::getline(expected, want));
        EXPECT_EQ(crack(url), want) << url;
        ++count;
    }
    EXPECT_GE(count, 50);
}

// Every URL made of one choice per part, in a fixed pseudo-random sample:
// IPv6 literals, user information with escapes and colons, UTF-8 host
// names, and '@', ':' and '/' past the authority.
std::vector<std::string> generatedUrls(std::size_t count) {
    const std::vector<std::vector<std::string>> parts = {
        {"http://", "HTTPS://", "https://", "ftp://", "Http://"},
        {"", "user@", "user:pw@", "u%40x:p%3Ay@", "a:b:c@", ":only@"},
        {"example.com", "Example.COM", "[::1]", "[2001:DB8::1]", "[::ffff:127.0.0.1]", "127.0.0.1", "h\xC3\xA9.Example",
         "xn--h-eia.example", "a-b.c_d.example"},
        {"", ":8080", ":1", ":65535", ":", ":080", ":65536", ":99999999999", ":0", ":8a", ":80x", ":+80", ":-1", ": 80",
         ":0x50", ":\xD9\xA1"},
        {"", "/", "/a/b", "/%7Euser/x%20y", "/a@b:c", "/ok/"},
        {"", "?x=1", "?a=%26&b=@:/", "?"},
        {"", "#f", "#a?b@c", "#"},
    };
    std::vector<std::string> urls;
    std::uint32_t state = 0x2545F491;
    for (std::size_t n = 0; n < count; ++n) {
        std::string url;
        for (const auto& choices : parts) {
            state = state * 1103515245u + 12345u;
            url += choices[(state >> 8) % choices.size()];
        }
        urls.push_back(url);
    }
    return urls;
}

TEST(CrackUrl, AgreesWithPythonUrlsplitOnAGeneratedCorpus) {
    grvtest::TempDir dir;
    const std::string corpus = dir.File("urls.txt");
    const std::vector<std::string> urls = generatedUrls(600);
    std::string text;
    for (const std::string& url : urls)
        text += url + "\n";
    ASSERT_TRUE(grvtest::WriteFile(corpus, text));
    grvtest::RunResult peer = grvtest::Python(kUrlsplit, {corpus});
    ASSERT_TRUE(peer.Ok()) << peer.err;
    std::istringstream expected(peer.out);
    std::string want;
    for (const std::string& url : urls) {
        ASSERT_TRUE(std::getline(expected, want));
        EXPECT_EQ(crack(url), want) << url;
    }
}

TEST(CrackUrl, DrivesBackslashesAndRefusals) {
    struct Case {
        const char* url;
        const char* parts;
    } cases[] = {
        {"file:///c:/dir/file.txt", "\t80\t\t\t/dir/file.txt\t\t"},
        {"FILE:///C:\\dir\\file.txt", "\t80\t\t\t/dir/file.txt\t\t"},
        {"c:/dir/file.txt", "\t80\t\t\t/dir/file.txt\t\t"},
        {"http:\\\\Example.com\\a\\b", "example.com\t80\t\t\t/a/b\t\t"},
        {"ftp://files.example.com/pub", "files.example.com\t80\t\t\t/pub\t\t"},
        {"localhost:8080/x", "localhost\t8080\t\t\t/x\t\t"},
        {"http://x:8080/", "x\t8080\t\t\t/\t\t"},
        {"http://example.com:99999/", "refused"},
        {"http://example.com:abc/", "refused"},
        {"http://example.com:8080abc/", "refused"},
        {"http://[::1]:8080abc/", "refused"},
        {"http://[::1]x/", "refused"},
        {"localhost:80x/x", "refused"},
        {"http:// Example.com /p ", "example.com\t80\t\t\t/p\t\t"},
        {"", "\t80\t\t\t/\t\t"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(crack(c.url), c.parts) << c.url;

    StringBuffer host("stale"), user, password, path, query, fragment;
    int port = 0;
    EXPECT_FALSE(TessikUrl::crackUrl(nullptr, host, port, user, password, path, query, fragment));
    EXPECT_STREQ(host.getString(), "");
    EXPECT_EQ(port, 80);

    ASSERT_TRUE(TessikUrl::crackUrlHostOnly("https://User:Pw@WWW.Example.org:8443/x?y#z", host));
    EXPECT_STREQ(host.getString(), "www.example.org");
}

TEST(BaseDomain, RegistrableDomainOfHosts) {
    struct Case {
        const char* host;
        const char* domain;
    } cases[] = {
        {"www.example.com", "example.com"},
        {"example.com", "example.com"},
        {"a.b.example.org", "example.org"},
        {"www.example.co.uk", "example.co.uk"},
        {"shop.example.com.au", "example.com.au"},
        {"www.example.de", "example.de"},
        {"a.b.example.fr", "example.fr"},
        {"www.ci.boston.ma.us", "ci.boston.ma.us"},
        {"www.agency.fed.us", "agency.fed.us"},
        {"www.example.us", "example.us"},
        {"www.dept.gov.uk", "dept.gov.uk"},
        {"myblog.blogspot.com", "myblog.blogspot.com"},
        {"x.myblog.blogspot.com", "blogspot.com"},
        {"www.myblog.wordpress.net", "wordpress.net"},
        {"myblog.wordpress.net", "myblog.wordpress.net"},
        {"localhost", "localhost"},
        {"  www.example.com:8080 ", "example.com"},
        {"WWW.Example.CO.UK", "CO.UK"}, // labels compare case-sensitively
        {"", ""},
    };
    for (const Case& c : cases) {
        StringBuffer out("stale");
        TessikUrl::getBaseDomain(c.host, out);
        EXPECT_STREQ(out.getString(), c.domain) << c.host;
    }
    StringBuffer out("stale");
    TessikUrl::getBaseDomain(nullptr, out);
    EXPECT_STREQ(out.getString(), "");
}

// The domains a caller may hand over without a URL: hosts, bracketed IPv6
// literals with and without zones, ports good and bad, each then mutated
// by a byte a host or port may not hold (user information, a path, a
// query, a fragment, a second colon, brackets, a percent, white space, a
// byte of UTF-8 alone) or one a name may hold put in, or a byte taken out,
// at a pseudo-random place.
std::vector<std::string> generatedDomains(std::size_t count) {
    const std::vector<std::string> hosts = {"journal.test",
                                            "Journal.TEST",
                                            "127.0.0.1",
                                            "a-b_c.example",
                                            "localhost",
                                            "journal.test.",
                                            "a..b",
                                            "x",
                                            "xn--caf-dma.test",
                                            "caf\xC3\xA9.test",
                                            "\xC3\x84\xC3\x96.Test",
                                            "a\xC2\xA0-b.test",
                                            "[::1]",
                                            "[2001:DB8::1]",
                                            "[::ffff:127.0.0.1]",
                                            "[fe80::1%25eth0]",
                                            "[fe80::1%eth0]",
                                            "[::1%25lo]",
                                            "[::1%25]",
                                            "[::1%lo.x~y-z_1]",
                                            "[1.2.3.4]",
                                            "[::1",
                                            "::1",
                                            "2001:DB8::1",
                                            "::1%lo",
                                            "fe80::1%25eth0",
                                            "",
                                            "[v1.a]",
                                            "[::1:2:3:4:5:6:7:8]",
                                            "[fe80::1%25%2525]"};
    const std::vector<std::string> ports = {
        "",    ":80", ":8080", ":65535", ":65536", ":0", ":", ":00000000000000000080", ":99999999999999999999",
        ":8a", ":-1", ": 80",  ":+80"};
    const std::string marks = "@/?#:[]% \t|!$&'()*+,;=\\\"<>^`{}\x7f\xC3";
    const std::string harmless = "aZ09-._~";
    std::vector<std::string> domains;
    std::uint32_t state = 0x9E3779B9;
    auto next = [&state](std::size_t n) {
        state = state * 1103515245u + 12345u;
        return static_cast<std::size_t>((state >> 8) % n);
    };
    for (const std::string& host : hosts)
        for (const std::string& port : ports)
            domains.push_back(host + port);
    while (domains.size() < count) {
        std::string d = hosts[next(hosts.size())] + ports[next(ports.size())];
        const std::size_t at = next(d.size() + 1);
        if (next(4) == 0 && !d.empty())
            d.erase(std::min(at, d.size() - 1), 1);
        else if (next(2) == 0)
            d.insert(at, 1, marks[next(marks.size())]);
        else
            d.insert(at, 1, harmless[next(harmless.size())]);
        domains.push_back(d);
    }
    return domains;
}

// Prints, for each line "domain<TAB>our host<TAB>our port" (hex, "-" for
// a refusal), what urlsplit and ipaddress make of the domain as the
// authority of an http URL, then what ours comes to in the same words:
// the host in a canonical form (an IPv6 address as ipaddress writes it,
// its zone after '%'; a name IDNA-encoded, in lower case), ':' and the
// port; "refused" for no host[:port]. A host is a name python's IDNA codec
// takes whose ASCII is unreserved bytes, or an IPv6 address in brackets
// with a zone of unreserved bytes after "%25" or a bare '%', or one without
// brackets and port; a port is 1-65535 in decimal digits.
constexpr const char* kHostPortJudge = R"PY(
import ipaddress, sys, urllib.parse
UNRESERVED = set('abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-._~')
def name(host):
    if not host or not {c for c in host if c.isascii()} <= UNRESERVED:
        return None
    return host.encode('idna').decode().lower()
def literal(text, escaped):
    address, mark, zone = text.partition('%')
    zone = zone[2:] if escaped and zone.startswith('25') else zone
    if mark and (not zone or not set(zone) <= UNRESERVED):
        return None
    return str(ipaddress.IPv6Address(address)) + ('%' + zone if mark else '')
def canonical(host, port, escaped):
    try:
        host = literal(host, escaped) if ':' in host else name(host)
    except (ValueError, UnicodeError):
        return None
    return None if host is None else '%s:%d' % (host, port)
def reference(raw):
    try:
        text = raw.decode('utf-8')
        # An IPv6 address without brackets: the host as http.client takes
        # it when the port is given apart.
        if not text.startswith('[') and text.count(':') > 1:
            return canonical(text, 0, True)
        split = urllib.parse.urlsplit('http://' + text)
        port = split.port
    except (UnicodeError, ValueError):
        return None
    if split.netloc != text or '@' in text:
        return None
    host, rest = (text[1:].partition(']')[0], text[1:].partition(']')[2]) if text.startswith('[') else (
        text.partition(':')[0], text.partition(':')[1] + text.partition(':')[2])
    digits = rest[1:]
    if rest and not (rest[0] == ':' and digits.isascii() and digits.isdigit() and 0 < int(digits) <= 65535):
        return None
    if text.startswith('[') != (':' in host) or port != (int(digits) if rest else None):
        return None
    return canonical(host, int(digits) if rest else 0, True)
for line in sys.stdin:
    given, host, port = line.rstrip('\n').split('\t')
    ours = None if host == '-' else bytes.fromhex(host)
    if ours is not None:
        ours = canonical(ours.decode('utf-8', 'replace'), int(port), False) or 'kept ' + repr(ours)[2:-1]
    print((reference(bytes.fromhex(given)) or 'refused') + '\t' + (ours or 'refused'))
)PY";

// readHostPort takes what is a host[:port] and nothing else, and reads the
// host and port urlsplit reads, on the table of generated domains.
TEST(HostPort, AgreesWithUrlsplitOnGeneratedDomains) {
    const std::vector<std::string> domains = generatedDomains(3000);
    std::string lines;
    for (const std::string& d : domains) {
        StringBuffer host("stale");
        int port = -1;
        const bool ok = TessikUrl::readHostPort(d.c_str(), host, port);
        EXPECT_EQ(ok, host.getSize() != 0) << d;
        lines += grvtest::ToHex(d) + "\t" + (ok ? grvtest::ToHex(host.getString()) : "-") + "\t" +
                 std::to_string(ok ? port : 0) + "\n";
    }
    const grvtest::RunResult judge = grvtest::Python(kHostPortJudge, {}, lines);
    ASSERT_TRUE(judge.Ok()) << judge.err;
    std::istringstream verdicts(judge.out);
    std::string got, want, line;
    std::size_t accepted = 0;
    for (const std::string& d : domains) {
        ASSERT_TRUE(std::getline(verdicts, line));
        const std::size_t tab = line.find('\t');
        accepted += line.compare(0, tab, "refused") != 0;
        if (line.substr(0, tab) != line.substr(tab + 1)) {
            got += d + " -> " + line.substr(tab + 1) + "\n";
            want += d + " -> " + line.substr(0, tab) + "\n";
        }
    }
    EXPECT_EQ(got, want);
    // Both kinds of verdict are well represented.
    EXPECT_GT(accepted, domains.size() / 8);
    EXPECT_LT(accepted, domains.size() / 2);
}

// A verb is an RFC 9110 token: every single byte and a few words, judged by
// python's re against the token grammar's character set.
TEST(Token, VerbsAgreeWithTheTokenGrammar) {
    std::vector<std::string> words = {"GET", "M-SEARCH", "PROPFIND", "GET /", "", "GET\r\nX: y", "caf\xc3\xa9"};
    for (int b = 0; b < 256; ++b)
        words.push_back(std::string(1, static_cast<char>(b)) + "X");
    std::vector<std::string> args;
    std::string got;
    for (const std::string& w : words) {
        args.push_back(grvtest::ToHex(w));
        got += TessikUrl::isToken(StringBuffer(w.data(), static_cast<unsigned int>(w.size()), 0)) ? "1" : "0";
    }
    const grvtest::RunResult python = grvtest::Python(R"PY(
import re, sys
tchar = re.compile(rb"[!#$%&'*+\-.^_`|~0-9A-Za-z]+")
print(''.join('1' if tchar.fullmatch(bytes.fromhex(a)) else '0' for a in sys.argv[1:]), end='')
)PY",
                                                      args);
    ASSERT_TRUE(python.Ok()) << python.err;
    EXPECT_EQ(got, python.out);
}

} // namespace
