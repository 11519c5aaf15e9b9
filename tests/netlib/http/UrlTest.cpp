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

// host, port, user, password, path, query, fragment: tab-separated.
std::string crack(const std::string& url) {
    StringBuffer host, user, password, path, query, fragment;
    int port = -1;
    EXPECT_TRUE(TessikUrl::crackUrl(url.c_str(), host, port, user, password, path, query, fragment));
    std::ostringstream out;
    out << host.getString() << '\t' << port << '\t' << user.getString() << '\t' << password.getString() << '\t'
        << path.getString() << '\t' << query.getString() << '\t' << fragment.getString();
    return out.str();
}

// The same parts from urlsplit, with the defaults an HTTP client fills in:
// the scheme's port and "/" for an empty path.
constexpr const char* kUrlsplit = R"(
import sys
from urllib.parse import urlsplit
for line in open(sys.argv[1], encoding='utf-8'):
    url = line.rstrip('\n')
    if not url:
        continue
    u = urlsplit(url)
    port = u.port or (443 if u.scheme.lower() == 'https' else 80)
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
        {"", ":8080", ":1", ":65535"},
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
        {"http://example.com:99999/", "example.com\t80\t\t\t/\t\t"},
        {"http://example.com:abc/", "example.com\t80\t\t\t/\t\t"},
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
