// Cookies kept per base domain and sent back: a script of responses and
// requests run in memory and in files (each file judged by xmllint and read
// back by python's xml.etree), the cases of a stored document the engine
// reads, and the round trip through nginx ($http_cookie) over plain HTTP and
// TLS, with hosts of one base domain mapped by the test resolver.
#include <dirent.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/CookieJar.h"
#include "netlib/http/CookieMgr.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"
#include "platform/WinTime.h"
#include "platform/Winsock.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using authtest::logText;
// The body as text.
const auto& str = authtest::text;

namespace {

// 2024-01-01 00:00:00 UTC.
constexpr std::int64_t kNow = 1704067200;

// One line of a cookie script: a response from host setting the cookies
// of `text` (its Set-Cookie fields), a request for path on host expecting
// `text` as its Cookie value ("" for no Cookie line), or the clock moving on
// by `advance` seconds.
struct Step {
    const char* host;
    const char* path; // null: a response
    bool tls;
    std::string text;
    int advance = 0;
};

const Step kScript[] = {
    {"www.shop.test", nullptr, false,
     "Set-Cookie: sid=1; Path=/\r\nSet-Cookie: theme=dark; Path=/app\r\nSet-Cookie: all=1; Path=/; "
     "Domain=.Shop.Test\r\n"},
    {"www.shop.test", "/", false, "sid=1; all=1"},
    // Without Domain a cookie is its host's alone; with the base domain it
    // goes to every host under it. /app matches at a '/' only.
    {"api.shop.test", "/app/x", false, "all=1"},
    {"www.shop.test", "/application", false, "sid=1; all=1"},
    // Longer paths first.
    {"www.shop.test", "/app/x", false, "theme=dark; sid=1; all=1"},
    {"SHOP.TEST", "/", false, "all=1"},
    {"other.test", "/", false, ""},
    {"api.shop.test", nullptr, false, "Set-Cookie: all=; Path=/; Domain=shop.test; Max-Age=0\r\n"},
    {"www.shop.test", "/", false, "sid=1"},
    // A plain answer sets no Secure cookie.
    {"www.shop.test", nullptr, false, "Set-Cookie: sid=2; Path=/\r\nSet-Cookie: sec=p; Secure; Path=/\r\n"},
    {"www.shop.test", "/", true, "sid=2"},
    {"www.shop.test", nullptr, true, "Set-Cookie: sec=s; Secure; Path=/\r\n"},
    // Secure cookies go over TLS only.
    {"www.shop.test", "/", false, "sid=2"},
    {"www.shop.test", "/", true, "sid=2; sec=s"},
    // Stored again over TLS without Secure: the site took the flag back.
    {"www.shop.test", nullptr, true, "Set-Cookie: sec=t; Path=/\r\n"},
    {"www.shop.test", "/", false, "sid=2; sec=t"},
    {"www.shop.test", nullptr, true, "Set-Cookie: sec=t; Secure; Path=/\r\n"},
    {"www.shop.test", "/", false, "sid=2"},
    {"www.shop.test", "/", true, "sid=2; sec=t"},
    // Nor does a plain answer replace it, on its path or one within.
    {"www.shop.test", nullptr, false, "Set-Cookie: sec=u; Path=/\r\nSet-Cookie: sec=v; Path=/deeper\r\n"},
    {"www.shop.test", "/deeper", true, "sid=2; sec=t"},
    // Expired on arrival: never sent.
    {"www.shop.test", nullptr, false, "Set-Cookie: old=1; Path=/; Expires=Thu, 01-Jan-1970 00:00:01 GMT\r\n"},
    {"www.shop.test", "/", false, "sid=2"},
    // Max-Age=0 deletes a stored name.
    {"www.shop.test", nullptr, false, "Set-Cookie: sid=; Path=/; Max-Age=0\r\n"},
    {"www.shop.test", "/", true, "sec=t"},
    // A host with a port stores into its base domain's document.
    {"www.shop.test:8080", nullptr, false, "Set-Cookie: q=a b; Path=/\r\nSet-Cookie: short=1; Path=/; Max-Age=60\r\n"},
    {"www.shop.test", "/", false, "q=\"a b\"; short=1"},
    {"www.shop.test", nullptr, false, "", 61},
    {"www.shop.test", "/", false, "q=\"a b\""},
    // A later Expires date is sent until it passes.
    {"www.shop.test", nullptr, false, "Set-Cookie: until=1; Path=/; Expires=Mon, 01 Jan 2024 00:05:00 GMT\r\n"},
    {"www.shop.test", "/", false, "q=\"a b\"; until=1"},
    {"www.shop.test", nullptr, false, "", 300},
    {"www.shop.test", "/", false, "q=\"a b\""},
    // A __Host- name promises "Path=/" written out, as RFC 6265bis and
    // browsers read it (curl takes the path the URL defaults to instead).
    {"www.shop.test", nullptr, true, "Set-Cookie: __Host-p=1; Secure\r\nSet-Cookie: __Host-q=1; Secure; Path=/x\r\n"},
    {"www.shop.test", "/x", true, "sec=t; q=\"a b\""},
    // Every cookie of a name goes, the one of the longer path first.
    {"www.shop.test", nullptr, false, "Set-Cookie: dup=outer; Path=/x\r\nSet-Cookie: dup=inner; Path=/x/y\r\n"},
    {"www.shop.test", "/x/y/z", false, "dup=inner; dup=outer; q=\"a b\""},
    // Names XML cannot take as tags come back as they were set.
    {"www.shop.test", nullptr, false, "Set-Cookie: 1P_JAR=2024-01; Path=/odd\r\nSet-Cookie: a:b=c; Path=/odd\r\n"},
    {"www.shop.test", nullptr, false, "Set-Cookie: $v=1; Path=/odd\r\nSet-Cookie: my name=x; Path=/odd\r\n"},
    {"www.shop.test", "/odd", false, "1P_JAR=2024-01; a:b=c; $v=1; my name=x; q=\"a b\""},
    // Replaced, not added.
    {"www.shop.test", nullptr, false, "Set-Cookie: 1P_JAR=2024-02; Path=/odd\r\n"},
    {"www.shop.test", "/odd", false, "1P_JAR=2024-02; a:b=c; $v=1; my name=x; q=\"a b\""},
    // An address shares its cookies with no other address.
    {"127.0.0.1", nullptr, false, "Set-Cookie: ip=1; Path=/\r\n"},
    {"127.0.0.1", "/", false, "ip=1"},
    {"10.0.0.1", "/", false, ""},
    // A domain's tail matches from a label on: 110.0.0.1 is not 10.0.0.1.
    {"10.0.0.1", nullptr, false, "Set-Cookie: ten=1; Path=/\r\n"},
    {"110.0.0.1", "/", false, ""},
    {"10.0.0.1", "/", false, "ten=1"},
};

class Cookies : public ::testing::Test {
protected:
    void SetUp() override {
        installTextServices();
        platform::SetClockOverrideForTest(kNow * 1000);
    }
    void TearDown() override { platform::SetClockOverrideForTest(0); }

    // Runs the script; what each request would carry, joined by '\n'.
    std::string Run(HttpControl& options) {
        std::int64_t now = kNow;
        std::string got;
        for (const Step& s : kScript) {
            now += s.advance;
            platform::SetClockOverrideForTest(now * 1000);
            Logger log;
            if (s.path == nullptr) {
                HttpResponseHeader head;
                head.parse(("HTTP/1.1 200 OK\r\n" + s.text + "\r\n").c_str(), log);
                HttpClient::storeSetCookies(head, options, s.host, "/", s.tls, now, log, nullptr);
                continue;
            }
            StringBuffer header;
            HttpClient client;
            client.addCookiesHeader(options, s.host, s.path, s.tls, header, log, nullptr);
            got += std::string(s.host) + s.path + (s.tls ? " tls" : "") + ": " + header.getString() + "\n";
        }
        return got;
    }

    void SaveInto(grvtest::TargetKind kind);
    static std::string Want() {
        std::string want;
        for (const Step& s : kScript) {
            if (s.path != nullptr)
                want += std::string(s.host) + s.path + (s.tls ? " tls" : "") + ": " +
                        (s.text.empty() ? "" : "Cookie: " + s.text + "\r\n") + "\n";
        }
        return want;
    }
};

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] != '.')
                names.push_back(e->d_name);
        }
        closedir(d);
    }
    return names;
}

// The stored document as python's xml.etree reads it: each cookie's key and
// attributes, then its pairs (the "name" attribute, else the tag).
constexpr const char* kEtreeListing = R"PY(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
print(root.tag)
for c in root:
    print(c.tag, ' '.join('%s=%s' % kv for kv in c.attrib.items()))
    for p in c:
        print('   ', p.get('name', p.tag), '=', p.text or '')
)PY";

} // namespace

TEST_F(Cookies, ScriptInMemoryAndInFilesSendsWhatItShould) {
    HttpControl memory;
    memory.CookieDir.setString("Memory");
    EXPECT_EQ(Run(memory), Want());
    // One document for the whole base domain.
    StringBuffer text;
    EXPECT_TRUE(memory.stringTable.lookupString("shop_test.xml", text));

    grvtest::TempDir dir;
    HttpControl files;
    files.CookieDir.setString(dir.Path().c_str());
    EXPECT_EQ(Run(files), Want());
    std::vector<std::string> names = filesIn(dir.Path());
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names, (std::vector<std::string>{"10_0_0_1.xml", "127_0_0_1.xml", "shop_test.xml"}));
    const std::string file = dir.File("shop_test.xml");
    const grvtest::RunResult lint = grvtest::RunPeer({"xmllint", "--noout", file});
    EXPECT_TRUE(lint.Ok()) << lint.out << grvtest::ReadFile(file);
    const grvtest::RunResult listing = grvtest::Python(kEtreeListing, {file});
    ASSERT_TRUE(listing.Ok()) << listing.err;
    EXPECT_EQ(listing.out, "cookies\n"
                           "cookie key=www.shop.test,/app v=0\n"
                           "    theme = dark\n"
                           // Each name keeps its own attributes.
                           "cookie key=www.shop.test,/ v=0 secure=yes\n"
                           "    sec = t\n"
                           "cookie key=www.shop.test,/ v=0\n"
                           "    q = a b\n"
                           "cookie key=www.shop.test,/x v=0\n"
                           "    dup = outer\n"
                           "cookie key=www.shop.test,/x/y v=0\n"
                           "    dup = inner\n"
                           "cookie key=www.shop.test,/odd v=0\n"
                           "    1P_JAR = 2024-02\n"
                           "    a:b = c\n"
                           "    $v = 1\n"
                           "    my name = x\n");
}

// A cookie file that is a link is saved through it, and one that is a
// device stays a device; the link's target gets what a plain file gets.
void Cookies::SaveInto(grvtest::TargetKind kind) {
    grvtest::TempDir plain;
    HttpControl reference;
    reference.CookieDir.setString(plain.Path().c_str());
    ASSERT_EQ(Run(reference), Want());
    const std::string saved = grvtest::ReadFile(plain.File("shop_test.xml"));
    grvtest::TempDir dir;
    grvtest::WriteTarget target(dir.Path(), "shop_test.xml", kind, "not a cookie document");
    ASSERT_EQ(target.Error(), 0);
    HttpControl files;
    files.CookieDir.setString(dir.Path().c_str());
    Run(files);
    EXPECT_EQ(target.Describe(), kind == grvtest::TargetKind::Link ? "link(shop_test.xml.target)->file:" + saved
                                                                   : std::string("device(1,3)"));
}

TEST_F(Cookies, SavedFilesGoThroughLinks) {
    SaveInto(grvtest::TargetKind::Link);
}

TEST_F(Cookies, SavedFilesIntoAPrivateDeviceLeaveItADevice) {
    SaveInto(grvtest::TargetKind::PrivateDevice);
}

TEST_F(Cookies, StoredDocumentsTheEngineReads) {
    struct Case {
        const char* name;
        const char* document; // stored under shop_test.xml; null: none
        const char* log;      // a line of the sending side's log
        const char* sent;     // the Cookie value, "" for none
    };
    const Case cases[] = {
        {"no document yet", nullptr, "No cookie jar found.", ""},
        {"no cookie element", "<cookies />", "Cookie XML is empty", ""},
        {"keys without a comma or a domain",
         "<cookies><cookie key=\".shop.test\"><a>1</a></cookie><cookie key=\",/\"><b>2</b></cookie></cookies>",
         "No cookie jar found.", ""},
        {"a bad key among good ones",
         "<cookies><cookie key=\"nocomma\"><a>1</a></cookie><x key=\".shop.test,/\"><b>2</b></x></cookies>",
         "AddingCookie", "b=2"},
        {"a port in the key's domain",
         "<cookies><cookie key=\".shop.test:81,/\" v=\"1\" maxAge=\"5\"><c>3</c></cookie></cookies>", "AddingCookie",
         "c=3"},
        {"not XML", "<cookies><cookie key=", "No cookie jar found.", ""},
        // Written before such cookies were dropped on arrival: never sent.
        {"control bytes in stored values and names",
         "<cookies><cookie key=\".shop.test,/\"><a>x&#13;X-Injected: y</a><b>2</b><c>x&#127;</c>"
         "<d>x&#10;y</d><A1 name=\"e&#13;f\">1</A1><t>a&#9;b</t></cookie></cookies>",
         "AddingCookie", "b=2; t=a\tb"},
        // Kept for the base domain when cookies without Domain were, then
        // set again by the host: the host's own value goes first. Stored in
        // one element twice by an edit: once.
        {"a name of the domain and of the host",
         "<cookies><cookie key=\".shop.test,/\"><sid>old</sid><all>1</all></cookie>"
         "<cookie key=\"www.shop.test,/\"><sid>new</sid></cookie>"
         "<cookie key=\".shop.test,/\" v=\"1\"><sid>older</sid></cookie></cookies>",
         "AddingCookie", "sid=new; sid=old; all=1"},
        {"another host's own and a domain's without its dot",
         "<cookies><cookie key=\"api.shop.test,/\"><a>1</a></cookie><cookie key=\"shop.test,/\"><b>2</b></cookie>"
         "<cookie key=\".api.shop.test,/\"><c>3</c></cookie><cookie key=\".test,/\"><d>4</d></cookie></cookies>",
         "LoadCookieJar", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpControl options;
        options.CookieDir.setString("memory");
        if (c.document != nullptr)
            options.stringTable.insertString("shop_test.xml", c.document);
        Logger log;
        StringBuffer header;
        HttpClient client;
        client.addCookiesHeader(options, "www.shop.test", "/", false, header, log, nullptr);
        EXPECT_EQ(std::string(header.getString()),
                  std::string(c.sent).empty() ? "" : "Cookie: " + std::string(c.sent) + "\r\n");
        EXPECT_NE(logText(log).find(c.log), std::string::npos) << logText(log);
    }
    // Storing "a=new" for the domain into a stored document sends a=new. Readers take an
    // element of any tag for a cookie, so storing does too; an edited element
    // may hold a name twice (the reader lets the last one win), and storing
    // leaves it once. A name in another case is another cookie.
    for (const auto& [document, sent] : std::initializer_list<std::pair<const char*, const char*>>{
             {"<cookies><other key=\".shop.test,/\"><a>old</a></other></cookies>", "a=new"},
             {"<cookies><c key=\".shop.test,/\"><a>old</a><a /></c></cookies>", "a=new"},
             {"<cookies><c key=\".shop.test,/\"><a>old</a><A>older</A></c></cookies>", "a=new; A=older"},
             {"<cookies><c key=\".shop.test,/\"><A>older</A><a>old</a><a>x</a></c></cookies>", "A=older; a=new"},
         }) {
        SCOPED_TRACE(document);
        HttpControl options;
        options.CookieDir.setString("memory");
        options.stringTable.insertString("shop_test.xml", document);
        Logger log;
        HttpResponseHeader head;
        head.parse("HTTP/1.1 200 OK\r\nSet-Cookie: a=new; Path=/; Domain=shop.test\r\n\r\n", log);
        HttpClient::storeSetCookies(head, options, "www.shop.test", "/", false, kNow, log, nullptr);
        StringBuffer header;
        HttpClient client;
        client.addCookiesHeader(options, "www.shop.test", "/", false, header, log, nullptr);
        EXPECT_EQ(std::string(header.getString()), "Cookie: " + std::string(sent) + "\r\n");
    }
    // Without a cookie directory nothing is stored or sent.
    HttpControl none;
    Logger log;
    HttpResponseHeader head;
    head.parse("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n", log);
    EXPECT_FALSE(HttpClient::storeSetCookies(head, none, "www.shop.test", "/", false, kNow, log, nullptr));
    StringBuffer header;
    HttpClient client;
    client.addCookiesHeader(none, "www.shop.test", "/", false, header, log, nullptr);
    EXPECT_STREQ(header.getString(), "");
    EXPECT_NE(logText(log).find("Not auto-adding cookies."), std::string::npos);
    EXPECT_EQ(none.stringTable.lookupString("shop_test.xml", header), false);
}

// Names beyond ASCII, those no XML name holds among them, are stored and
// read back as given, in a document python's xml.etree reads with the same
// names: a tag holding U+00D7 failed the whole save once the writer stopped
// renaming names.
TEST(CookieFiles, NamesBeyondAsciiAreStoredAsGiven) {
    const char* const names[] = {"a\xC3\x97"
                                 "b",
                                 "Jude\xC8\x9B",
                                 "caf\xC3\xA9",
                                 "\xEF\xBD\xB1\xEF\xBD\xB2",
                                 "\xF0\xA0\xAE\xB7x",
                                 "\xC2\xB5:s",
                                 "sid"};
    grvtest::TempDir dir;
    CookieMgr store;
    LogNull log;
    Cookie cookie;
    cookie.setDomain(".shop.test");
    cookie.setPath("/");
    std::string want;
    for (const char* name : names) {
        cookie.setNameValue(name, "v");
        want += std::string(want.empty() ? "" : " ") + name + "=v";
    }
    ASSERT_TRUE(store.SaveCookie(dir.Path().c_str(), nullptr, "www.shop.test", cookie, 0, log, nullptr));
    std::unique_ptr<CookieJar> jar(store.LoadCookieJar(dir.Path().c_str(), nullptr, "www.shop.test", "/", log));
    ASSERT_NE(jar, nullptr);
    ASSERT_EQ(jar->getCount(), 1);
    std::string got;
    for (int k = 0; k < jar->getCookie(0)->getNumPairs(); ++k) {
        StringBuffer name, value;
        jar->getCookie(0)->getPairName(k, name);
        jar->getCookie(0)->getPairValue(k, value);
        got += std::string(k == 0 ? "" : " ") + name.getString() + "=" + value.getString();
    }
    EXPECT_EQ(got, want);
    const auto etree =
        grvtest::Python("import sys, xml.etree.ElementTree as ET\n"
                        "c = ET.parse(sys.argv[1]).getroot()[0]\n"
                        "sys.stdout.write(' '.join('%s=%s' % (p.get('name', p.tag), p.text) for p in c))",
                        {dir.File("shop_test.xml")});
    ASSERT_TRUE(etree.Ok()) << etree.err;
    EXPECT_EQ(etree.out, want);
}

TEST(CookieFiles, NamesAndPathsOfTheDocuments) {
    const std::pair<const char*, const char*> keys[] = {
        {"www.Example.COM", "example_com.xml"},
        {".shop.test", "shop_test.xml"},
        {"  a.b.c.co.uk ", "c_co_uk.xml"},
        {"localhost", "localhost.xml"},
        {"www.example.blogspot.com", "example_blogspot_com.xml"},
        {"shop.example.ma.us", "example_ma_us.xml"},
        {"Example.COM.", "example_com.xml"},
        {"::1", "__1.xml"},
        {"fe80::1%eth0", "fe80__1.xml"},
        {"10.0.0.1:8080", "10_0_0_1.xml"},
        {".", ""},
        {"", ""},
    };
    for (const auto& [domain, want] : keys) {
        StringBuffer key;
        EXPECT_EQ(CookieMgr::getCookieHashKey(domain, key), *want != '\0') << domain;
        EXPECT_STREQ(key.getString(), want) << domain;
    }
    StringBuffer path;
    ASSERT_TRUE(CookieMgr::getCookieFilePath("/tmp/c/", "x.shop.test", path));
    EXPECT_STREQ(path.getString(), "/tmp/c/shop_test.xml");
    ASSERT_TRUE(CookieMgr::getCookieFilePath("C:\\c\\", "x.shop.test", path));
    EXPECT_STREQ(path.getString(), "C:\\c\\shop_test.xml");
    ASSERT_TRUE(CookieMgr::getCookieFilePath("/tmp/c", "x.shop.test", path));
    EXPECT_STREQ(path.getString(), "/tmp/c/shop_test.xml");
}

namespace {

class CookiesOverHttp : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        // Two hosts of one base domain and a stranger, all this machine.
        platform::SetResolverHook([](const std::string& host) {
            return host == "www.cookies.test" || host == "api.cookies.test" || host == "elsewhere.test"
                       ? std::string("127.0.0.1")
                       : std::string();
        });
        grvtest::NginxOptions opts;
        opts.serverLines = {
            "location = /set { add_header Set-Cookie \"sid=abc; Path=/; Domain=cookies.test\";",
            "  add_header Set-Cookie \"s=1; Secure\";",
            "  add_header Set-Cookie \"gone=1; Expires=Thu, 01-Jan-1970 00:00:01 GMT\"; return 200 \"set\\n\"; }",
            "location = /odd { add_header Set-Cookie \"1P_JAR=2024-01-01-09; Path=/\"; return 200 \"odd\\n\"; }",
            "location = /del { add_header Set-Cookie \"sid=; Path=/; Domain=cookies.test; Max-Age=0\";",
            "  return 200 \"del\\n\"; }",
            "location = /echo { return 200 \"[$http_cookie]\\n\"; }",
        };
        // The https requests go to hosts of the domain.
        peers.AddCertificateName("*.cookies.test");
        peers.TrustCertificate();
        nginx = peers.StartNginx(opts);
    }
    void TearDown() override { platform::SetResolverHook({}); }

    std::string Get(const char* host, const char* path, bool tls = false) {
        const std::string url = std::string(tls ? "https://" : "http://") + host + ":" +
                                std::to_string(tls ? nginx.tlsPort : nginx.httpPort) + path;
        Logger log;
        HttpResult result;
        DataBuffer body;
        if (!http.pool().quickRequest(url.c_str(), http.options(), body, result, log, nullptr, false))
            return "failed: " + logText(log);
        return str(body);
    }

    ClsHttp http;
    grvtest::NginxPeer nginx;
};

} // namespace

TEST_F(CookiesOverHttp, NginxSeesTheDomainsCookiesOnEveryHostOfItAndAHostsOwnOnThatHostAlone) {
    grvtest::TempDir dir;
    for (const char* where : {"memory", "files"}) {
        SCOPED_TRACE(where);
        http.options().UseIEProxy = 0;
        http.options().CookieDir.setString(std::string(where) == "memory" ? "memory" : dir.Path().c_str());
        // The Secure one comes over TLS only, as curl keeps it.
        EXPECT_EQ(Get("www.cookies.test", "/set"), "set\n");
        EXPECT_EQ(Get("www.cookies.test", "/echo", true), "[sid=abc]\n");
        EXPECT_EQ(Get("www.cookies.test", "/set", true), "set\n");
        EXPECT_EQ(Get("api.cookies.test", "/echo"), "[sid=abc]\n");
        EXPECT_EQ(Get("api.cookies.test", "/echo", true), "[sid=abc]\n");
        EXPECT_EQ(Get("www.cookies.test", "/echo", true), "[s=1; sid=abc]\n");
        EXPECT_EQ(Get("elsewhere.test", "/echo"), "[]\n");
        EXPECT_EQ(Get("www.cookies.test", "/odd"), "odd\n");
        EXPECT_EQ(Get("www.cookies.test", "/echo"), "[1P_JAR=2024-01-01-09; sid=abc]\n");
        EXPECT_EQ(Get("www.cookies.test", "/del"), "del\n");
        EXPECT_EQ(Get("api.cookies.test", "/echo"), "[]\n");
        // The request road (a request object) carries them too.
        ClsHttpRequest request;
        request.setPath("/echo");
        std::unique_ptr<ClsHttpResponse> response(
            http.SynchronousRequest("www.cookies.test", nginx.tlsPort, true, request, nullptr));
        ASSERT_NE(response, nullptr);
        EXPECT_EQ(str(response->getBody()), "[s=1; 1P_JAR=2024-01-01-09]\n");
        http.options().CookieDir.setString("");
        EXPECT_EQ(Get("api.cookies.test", "/echo"), "[]\n");
    }
    const grvtest::RunResult lint = grvtest::RunPeer({"xmllint", "--noout", dir.File("cookies_test.xml")});
    EXPECT_TRUE(lint.Ok()) << lint.out;
}

namespace {

// Writes cookie documents (python's xml.etree writes them) and mutations of
// them into a folder, one per file, and prints for each what the engine's
// reading rules give when xml.etree takes the document as XML: per cookie
// its domain, path, expire, version and secure flag, then its pairs (a
// later pair of a name replaces the earlier one's value; a name in another
// case is another pair), "none" for no cookie; "error" for what is no XML to xml.etree.
constexpr const char* kCookieDocuments = R"PY(
import os, random, re, sys, xml.etree.ElementTree as ET
random.seed(int(sys.argv[2]))
folder = sys.argv[1]
names = ['sid', 'Theme', 'theme', '1P_JAR', 'a:b', '$v', 'my name', 'x-y.z', 'ÄÖ', '_ga']
chars = 'abc XYZ019 <>&"\'=;,/.%\t' + 'é€'
def text(n):
    return ''.join(random.choice(chars) for _ in range(n))
def tag(name):
    t = ''.join(c for c in name if c.isalnum() or c in '_-.')
    return t if t and not t[0].isdigit() and t[0] not in '-.' else 'A' + t
def document():
    root = ET.Element('cookies')
    for _ in range(random.randrange(0, 5)):
        c = ET.SubElement(root, random.choice(['cookie', 'cookie', 'other']))
        domain = random.choice(['.shop.test', 'shop.test', '.shop.test:81', '', 'www.shop.test'])
        c.set('key', random.choice([domain + ',' + random.choice(['/', '', '/a', '/a,b']), domain]))
        if random.random() < 0.8:
            c.set('v', random.choice(['0', '1']))
        if random.random() < 0.3:
            c.set('expire', 'Mon, 01 Jan 2024 00:00:00 GMT')
        if random.random() < 0.3:
            c.set('secure', random.choice(['yes', 'no']))
        for _ in range(random.randrange(0, 4)):
            name = random.choice(names)
            p = ET.SubElement(c, tag(name))
            if tag(name) != name:
                p.set('name', name)
            value = text(random.randrange(1, 8))
            if value.strip(' \t'):
                p.text = value
    return ET.tostring(root, encoding='unicode')
def read(raw):
    try:
        root = ET.fromstring(raw)
    except ET.ParseError:
        return 'error'
    out = []
    for c in root:
        key = c.get('key', '')
        if ',' not in key or key.index(',') == 0:
            continue
        domain, path = key.split(',', 1)
        # An older version's "domain," key holds cookies of "/".
        path = path or '/'
        v = re.match(r'[-+]?\d*', c.get('v', '').strip()).group()
        head = [domain.split(':')[0], path, c.get('expire', ''), str(int(v) if v.strip('+-') else 0),
                '1' if c.get('secure') == 'yes' else '0']
        pairs = []
        for p in c:
            name, value = p.get('name', p.tag), (p.text or '')
            for q in pairs:
                if q[0] == name:
                    q[1] = value
                    break
            else:
                pairs.append([name, value])
        out.append('|'.join(head) + ' ' + ' '.join('%s=%s' % (n, v) for n, v in pairs))
    return '\n'.join(out) if out else 'none'
def mutate(raw):
    b = bytearray(raw.encode('utf-8'))
    for _ in range(random.randrange(1, 3)):
        i = random.randrange(0, len(b))
        op = random.randrange(4)
        if op == 0:
            del b[i:i + random.randrange(1, 4)]
        elif op == 1:
            b[i:i] = bytes([random.choice(b'<>&"/= ax;#')])
        elif op == 2:
            b[i] = random.randrange(32, 127)
        else:
            b[i:i] = b[i:i + random.randrange(1, 12)]
    return bytes(b).decode('utf-8', 'replace')
n = 0
for _ in range(150):
    d = document()
    for raw in [d] + [mutate(d) for _ in range(3)]:
        n += 1
        with open(os.path.join(folder, '%04d.xml' % n), 'w', encoding='utf-8') as f:
            f.write(raw)
        print('%04d.xml' % n)
        print(read(raw))
        print('==')
)PY";

// The same listing of the engine's own reading.
std::string engineListing(const std::string& document) {
    HttpControl options;
    options.stringTable.insertString("shop_test.xml", document.c_str());
    LogNull log;
    CookieMgr store;
    std::unique_ptr<CookieJar> jar(store.LoadCookieJar("memory", &options.stringTable, "www.shop.test", "/", log));
    if (jar == nullptr)
        return "none";
    std::string out;
    for (int i = 0; i < jar->getCount(); ++i) {
        const Cookie* c = jar->getCookie(i);
        out += std::string(i == 0 ? "" : "\n") + c->getDomain().getString() + "|" + c->getPath().getString() + "|" +
               c->getExpire().getString() + "|" + std::to_string(c->getVersion()) + "|" + (c->isSecure() ? "1" : "0") +
               " ";
        for (int k = 0; k < c->getNumPairs(); ++k) {
            StringBuffer name, value;
            c->getPairName(k, name);
            c->getPairValue(k, value);
            out += std::string(k == 0 ? "" : " ") + name.getString() + "=" + value.getString();
        }
    }
    return out;
}

} // namespace

TEST(CookieDocuments, ReadAsXmlEtreeReadsThemWrittenAndMutated) {
    grvtest::TempDir dir;
    const grvtest::RunResult peer = grvtest::Python(kCookieDocuments, {dir.Path(), "155"});
    ASSERT_TRUE(peer.Ok()) << peer.err;
    int judged = 0;
    int refused = 0;
    std::size_t from = 0;
    for (std::size_t end; (end = peer.out.find("\n==\n", from)) != std::string::npos; from = end + 4) {
        const std::string block = peer.out.substr(from, end - from);
        const std::size_t nl = block.find('\n');
        const std::string file = block.substr(0, nl);
        const std::string want = block.substr(nl + 1);
        const std::string document = grvtest::ReadFile(dir.File(file));
        const std::string got = engineListing(document);
        if (want == "error") {
            ++refused;
            continue;
        }
        ++judged;
        EXPECT_EQ(got, want) << file << "\n" << document;
    }
    EXPECT_EQ(judged + refused, 600);
    EXPECT_GE(judged, 240) << refused << " documents were no XML to xml.etree";
}

// A server's Set-Cookie holding a control byte in a name or value (a bare
// CR, DEL, ESC and the like) is dropped on arrival: the next request's
// Cookie line holds only the clean cookie of the same response, and the
// folder keeps nothing of it. A NUL fails the whole response, which sets
// nothing; an LF ends the field there. TAB is no control byte to a cookie,
// as to curl.
TEST(CookieControlBytes, HostileSetCookieLinesAreNeverStoredOrSent) {
    installTextServices();
    grvtest::LoopbackPeers peers;
    // The NUL case last: a refused answer may be asked for again, which
    // moves the peer's answers on by one.
    const std::vector<std::string> lines = {
        "a=b\rX-Injected: y",
        "a\rX-Injected: y=1",
        "a=b\x7f",
        "a\x7f=1",
        "a=\x01"
        "b",
        "a=b\x1b[0m",
        "a\x0b=1",
        "a=b\x0c",
        "a=b\nX-Injected: y",
        "t=a\tb",
        std::string("a=b\0c", 5),
    };
    std::vector<std::string> responses;
    for (const std::string& line : lines) {
        responses.push_back("HTTP/1.1 200 OK\r\nSet-Cookie: clean=1; Path=/\r\nSet-Cookie: " + line +
                            "; Path=/\r\nContent-Length: 2\r\n\r\nok");
        // Then an answer that sets nothing, for the request that shows what
        // is sent, and one that forgets both names again.
        responses.push_back("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        responses.push_back("HTTP/1.1 200 OK\r\nSet-Cookie: clean=; Path=/; Max-Age=0\r\nSet-Cookie: a=; Path=/; "
                            "Max-Age=0\r\nSet-Cookie: t=; Path=/; Max-Age=0\r\nSet-Cookie: a=; Max-Age=0\r\n"
                            "Content-Length: 2\r\n\r\nok");
    }
    const int port = peers.StartCaptureServer(responses);
    grvtest::TempDir dir;
    ClsHttp http;
    http.options().UseIEProxy = 0;
    http.options().CookieDir.setString(dir.Path().c_str());
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/";
    std::string got, want;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        XString x, reply;
        x.setFromUtf8(url.c_str());
        Logger log;
        http.QuickGetStr(x, reply, false, nullptr, log);
        const std::string stored = grvtest::ReadFile(dir.File("0_1.xml"));
        http.QuickGetStr(x, reply, false, nullptr, log);
        const std::vector<std::string> requests = peers.CapturedRequests(port, 3 * i + 2);
        ASSERT_GE(requests.size(), 3 * i + 2);
        const std::string sent = requests.back();
        http.QuickGetStr(x, reply, false, nullptr, log);
        const std::size_t at = sent.find("Cookie: ");
        got += grvtest::ToHex(lines[i]) + " -> " +
               (at == std::string::npos ? "" : sent.substr(at, sent.find("\r\n", at) - at)) +
               (stored.find("Injected") == std::string::npos ? "" : " stored") + "\n";
    }
    for (const std::string& line : lines) {
        const bool nul = line.find('\0') != std::string::npos;
        const bool tab = line.find('\t') != std::string::npos;
        const bool lf = line.find('\n') != std::string::npos;
        want += grvtest::ToHex(line) + " -> " +
                (nul   ? ""
                 : tab ? "Cookie: clean=1; t=a\tb"
                 : lf  ? "Cookie: clean=1; a=b"
                       : "Cookie: clean=1") +
                "\n";
    }
    EXPECT_EQ(got, want);
}

// A cookie set without Path takes the folder of the page that set it on
// every road that sends a request (the GET road, a request object, a body
// sent through the exchange, a MIME post), as the scope table's curl and
// python take it on the GET road: sent below /shop, not to the root.
TEST(CookieRoads, ACookieWithoutPathIsScopedToItsPageOnEveryRoad) {
    installTextServices();
    grvtest::LoopbackPeers peers;
    const std::string sets = "HTTP/1.1 200 OK\r\nSet-Cookie: sid=1\r\nContent-Length: 2\r\n\r\nok";
    const std::string plain = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    const char* const roads[] = {"get", "request", "post", "mime"};
    std::vector<std::string> responses;
    for (std::size_t i = 0; i < std::size(roads); ++i)
        responses.insert(responses.end(), {sets, plain, plain});
    const int port = peers.StartCaptureServer(responses);
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    std::string got, want;
    std::size_t asked = 0;
    for (const std::string road : roads) {
        ClsHttp http;
        http.options().UseIEProxy = 0;
        http.options().CookieDir.setString("memory");
        XString url, out, type, mime;
        url.setFromUtf8((base + "/shop/cart").c_str());
        DataBuffer body;
        body.append("x", 1);
        type.setFromUtf8("text/plain");
        if (road == "get") {
            http.QuickGetStr(url, out, false, nullptr, http.getLog());
        } else if (road == "request") {
            ClsHttpRequest request;
            request.setPath("/shop/cart?next=/a/b");
            std::unique_ptr<ClsHttpResponse>(http.SynchronousRequest("127.0.0.1", port, false, request, nullptr));
        } else if (road == "post") {
            http.PostBinary(url, body, type, false, false, out, false, nullptr, http.getLog());
        } else {
            mime.setFromUtf8("Content-Type: text/plain\r\n\r\nx");
            std::unique_ptr<ClsHttpResponse>(http.PostMime(url, mime, false, nullptr, http.getLog()));
        }
        for (const char* path : {"/shop/x", "/"}) {
            url.setFromUtf8((base + path).c_str());
            http.QuickGetStr(url, out, false, nullptr, http.getLog());
        }
        asked += 3;
        const std::vector<std::string> seen = peers.CapturedRequests(port, asked);
        ASSERT_EQ(seen.size(), asked) << road;
        for (std::size_t k = asked - 2; k < asked; ++k) {
            const std::size_t at = seen[k].find("\r\nCookie: ");
            got += road + " " + seen[k].substr(0, seen[k].find(" HTTP/")) + ": " +
                   (at == std::string::npos ? "-" : seen[k].substr(at + 10, seen[k].find("\r\n", at + 2) - at - 10)) +
                   "\n";
        }
        want += road + " GET /shop/x: sid=1\n" + road + " GET /: -\n";
    }
    EXPECT_EQ(got, want);
}

namespace {

// What the next plain request carries after an answer over TLS of
// secureFields, then a plain answer of fields, in memory and in a folder:
// ours, and python's http.cookiejar's after the same answers, sorted.
// The order aside, which follows the elements the pairs are kept in.
std::pair<std::string, std::string> pairsSentAfter(const std::string& secureFields, const std::string& fields) {
    const grvtest::RunResult judged =
        grvtest::Python("import email.message, http.cookiejar, sys, urllib.request\n"
                        "jar = http.cookiejar.CookieJar()\n"
                        "for scheme, text in zip(('https', 'http'), sys.stdin.read().split('\\n\\n')):\n"
                        "    head = email.message.Message()\n"
                        "    for line in text.split('\\r\\n'):\n"
                        "        if line:\n"
                        "            head['Set-Cookie'] = line.partition(': ')[2]\n"
                        "    class Answer:\n"
                        "        info = lambda self: head\n"
                        "    jar.extract_cookies(Answer(), urllib.request.Request(scheme + '://127.0.0.1/'))\n"
                        "asked = urllib.request.Request('http://127.0.0.1/')\n"
                        "jar.add_cookie_header(asked)\n"
                        "print('\\n'.join(sorted(asked.get_header('Cookie').split('; '))))\n",
                        {}, secureFields + "\n\n" + fields);
    EXPECT_TRUE(judged.Ok()) << judged.err;
    grvtest::LoopbackPeers peers;
    grvtest::TempDir dir;
    std::string got;
    for (const std::string& store : {std::string("memory"), dir.Path()}) {
        const std::string plain = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        const int port =
            peers.StartCaptureServer({"HTTP/1.1 200 OK\r\n" + fields + "Content-Length: 2\r\n\r\nok", plain});
        ClsHttp http;
        http.options().UseIEProxy = 0;
        http.options().CookieDir.setString(store.c_str());
        if (!secureFields.empty()) {
            HttpResponseHeader head;
            LogNull log;
            head.parse(("HTTP/1.1 200 OK\r\n" + secureFields + "\r\n").c_str(), log);
            HttpClient::storeSetCookies(head, http.options(), "127.0.0.1", "/", true,
                                        platform::CurrentUnixTimeMs() / 1000, log, nullptr);
        }
        XString url, out;
        url.setFromUtf8(("http://127.0.0.1:" + std::to_string(port) + "/").c_str());
        http.QuickGetStr(url, out, false, nullptr, http.getLog());
        http.QuickGetStr(url, out, false, nullptr, http.getLog());
        const std::vector<std::string> seen = peers.CapturedRequests(port, 2);
        peers.Stop(port);
        const std::size_t at = seen.size() == 2 ? seen[1].find("\r\nCookie: ") : std::string::npos;
        if (at == std::string::npos) {
            ADD_FAILURE() << "no Cookie field on the second request, store " << store;
            continue;
        }
        std::vector<std::string> pairs;
        std::istringstream sent(seen[1].substr(at + 10, seen[1].find("\r\n", at + 2) - at - 10));
        for (std::string pair; std::getline(sent, pair, ';'); sent >> std::ws)
            pairs.push_back(pair);
        std::sort(pairs.begin(), pairs.end());
        for (const std::string& pair : pairs)
            got += pair + "\n";
    }
    return {got, judged.out + judged.out};
}

} // namespace

// One answer of 21,000 Set-Cookie fields (new names, names set again, names
// set again with another lifetime) is stored whole, in memory and in a
// folder, and the next request carries the pairs python's http.cookiejar
// sends after the same answer: storing took the square of the fields'
// number.
TEST(CookieRoads, AnAnswerOfManyCookiesIsStoredAsPythonsJarStoresIt) {
    installTextServices();
    constexpr int kNew = 20000, kAgain = 500, kLonger = 500;
    std::string fields;
    for (int i = 0; i < kNew; ++i)
        fields += "Set-Cookie: c" + std::to_string(i) + "=" + std::to_string(i) + "; Path=/\r\n";
    for (int i = 0; i < kAgain; ++i)
        fields += "Set-Cookie: c" + std::to_string(i * 37 % kNew) + "=again" + std::to_string(i) + "; Path=/\r\n";
    for (int i = 0; i < kLonger; ++i)
        fields += "Set-Cookie: c" + std::to_string(i * 41 % kNew) + "=kept" + std::to_string(i) +
                  "; Path=/; Max-Age=3600\r\n";
    const auto [got, want] = pairsSentAfter("", fields);
    EXPECT_EQ(got, want);
}

// A plain answer of 21,000 Set-Cookie fields beside a jar of 21,000 Secure
// cookies of one name, each under a path of its own, half the answer's of
// that name: each cookie of the answer was weighed against every one kept,
// the square again.
TEST(CookieRoads, APlainAnswerOfManyCookiesBesideManySecureOnesIsStoredAsPythonsJarStoresIt) {
    installTextServices();
    constexpr int kCookies = 21000;
    std::string secureFields, fields;
    for (int i = 0; i < kCookies; ++i) {
        const std::string n = std::to_string(i);
        secureFields += "Set-Cookie: s=" + n + "; Path=/p" + n + "; Secure\r\n";
        fields += (i % 2 == 0 ? "Set-Cookie: c" + n + "=" : "Set-Cookie: s=") + n + "; Path=/\r\n";
    }
    const auto [got, want] = pairsSentAfter(secureFields, fields);
    EXPECT_EQ(got, want);
}
