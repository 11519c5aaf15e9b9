// What a copy of the options takes (client certificates judged by openssl),
// and the proxy chosen from the options or from the environment (read as
// curl reads http_proxy).
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/Logger.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/pki/Certificate.h"
#include "netlib/text/TextServices.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string logText(Logger& log) {
    StringBuffer t;
    log.getLogText(t);
    t.removeChar('\r');
    return t.getString();
}

TEST(HttpControl, CopyTakesTheListedOptionsOnly) {
    HttpControl a;
    a.UseIEProxy = 1;
    a.ProxyPort = 3128;
    a.ProxyDomain.setString("px");
    a.ProxyAuthMethod.setString("ntlm");
    a.Password.setFromUtf8("sécret");
    a.ProxyPassword.setFromUtf8("pw");
    a.Login.setFromUtf8("me");
    a.LoginDomain.setFromUtf8("DOM");
    a.UserAgent.setString("UA");
    a.ConnectTimeoutSec = 3;
    a.MaxResponseSize = 1ull << 40;
    a.ResumePoint = 99;
    a.SendCookies = 0;
    a.NTLMAuth = 1;
    a.NegotiateAuth = 1;
    a.DigestAuth = 1;
    a.SslProtocol.setString("TLS 1.0");
    a.HttpMethod.setString("PUT");
    a.RequiredContentType.setString("text/xml");
    a.ProxyPartialUrl = 1;
    a.AllowCookieResponseCaching = 1;
    a.AcceptAnyServerCert = 1;
    a.useBucketCache = 1;
    a.cacheControl.fetchFromCache = 0;
    a.cacheControl.lmFactor = 50;
    a.cache.AddRoot("/first/root");
    a.cache.AddRoot("/second/root");
    a.cache.setLevels(2);
    a.bucketCache.addRoot("/bucket/root");
    HttpControl b;
    b.copyFrom(a);
    Logger log;
    b.logOptions(log);
    std::string t = logText(log);
    for (const char* line : {"ProxyDomain: px\n",
                             "ProxyPort: 3128\n",
                             "PasswordLen: 6\n",
                             "ProxyPasswordLen: 2\n",
                             "Login: me\n",
                             "UserAgent: UA\n",
                             "ConnectTimeoutSec: 3\n",
                             "MaxResponseSize: 1099511627776\n",
                             "ResumePoint: 99\n",
                             "SendCookies: 0\n",
                             "NTLMAuth: 1\n",
                             "LoginDomain: \n",
                             "NegotiateAuth: 0\n",
                             "DigestAuth: 0\n",
                             "SslProtocol: default\n",
                             "HttpMethod: \n",
                             "RequiredContentType: \n",
                             "ProxyPartialUrl: 0\n",
                             "AllowCookieResponseCaching: 0\n",
                             "AcceptAnyServerCert: 1\n"})
        EXPECT_NE(t.find(line), std::string::npos) << line;
    EXPECT_EQ(b.UseIEProxy, 1);
    EXPECT_EQ(b.useBucketCache, 0u);
    EXPECT_STREQ(b.ProxyAuthMethod.getString(), "");
    // The cache settings and the ".dat" cache's folders come along; the
    // bucket cache, which a copy never uses, stays empty.
    EXPECT_EQ(b.cacheControl.fetchFromCache, 0);
    EXPECT_EQ(b.cacheControl.lmFactor, 50u);
    StringBuffer ours, theirs;
    for (const char* name : {"http://a.example/", "http://b.example/x"}) {
        ASSERT_TRUE(a.cache.resourceToFilename(name, ours));
        ASSERT_TRUE(b.cache.resourceToFilename(name, theirs));
        EXPECT_STREQ(theirs.getString(), ours.getString());
    }
    EXPECT_EQ(b.bucketCache.numRoots(), 0);
}

std::string opensslOut(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"openssl"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunResult r = grvtest::RunProgram(argv);
    EXPECT_TRUE(r.Ok()) << r.err;
    return r.out;
}

TEST(HttpControl, CopyClonesTheClientCertificates) {
    installTextServices();
    // Two client certificates with their keys, made by openssl.
    grvtest::TempDir dir("client-certs");
    auto original = std::make_unique<HttpControl>();
    original->clientCerts = new ExtPtrArray();
    original->clientCerts->setOwnsObjects(true);
    std::vector<std::pair<std::string, std::string>> made;
    for (const char* name : {"first", "second"}) {
        std::string key = dir.File(std::string(name) + ".key"), pem = dir.File(std::string(name) + ".pem");
        opensslOut({"req", "-x509", "-newkey", "rsa:1024", "-nodes", "-keyout", key, "-out", pem, "-subj",
                    std::string("/CN=") + name, "-days", "2"});
        made.emplace_back(opensslOut({"x509", "-in", pem, "-outform", "DER"}),
                          opensslOut({"rsa", "-in", key, "-traditional", "-outform", "DER"}));
        auto* entry = new XCert();
        DataBuffer certDer, keyDer;
        certDer.append(made.back().first.data(), static_cast<unsigned int>(made.back().first.size()));
        keyDer.append(made.back().second.data(), static_cast<unsigned int>(made.back().second.size()));
        entry->setCertDer(certDer);
        entry->setPrivateKeyDer(keyDer);
        original->clientCerts->appendPtr(entry);
    }
    HttpControl copy;
    copy.copyFrom(*original);
    ASSERT_TRUE(copy.clientCerts);
    EXPECT_NE(copy.clientCerts, original->clientCerts);
    ASSERT_EQ(copy.clientCerts->getCount(), 2);
    EXPECT_NE(copy.clientCerts->elementAt(0), original->clientCerts->elementAt(0));
    // The clones outlive the original, and each key still belongs to its
    // certificate in openssl's eyes.
    original.reset();
    for (int i = 0; i < 2; ++i) {
        auto* entry = static_cast<XCert*>(copy.clientCerts->elementAt(i));
        DataBuffer certDer, keyDer;
        entry->getCertDer(certDer);
        entry->getPrivateKeyDer(keyDer);
        std::string cert(reinterpret_cast<const char*>(certDer.getData()), certDer.getSize());
        std::string key(reinterpret_cast<const char*>(keyDer.getData()), keyDer.getSize());
        EXPECT_EQ(cert, made[i].first);
        EXPECT_EQ(key, made[i].second);
        ASSERT_TRUE(grvtest::WriteFile(dir.File("c.der"), cert));
        ASSERT_TRUE(grvtest::WriteFile(dir.File("k.der"), key));
        EXPECT_EQ(opensslOut({"x509", "-inform", "DER", "-in", dir.File("c.der"), "-noout", "-modulus"}),
                  opensslOut({"rsa", "-inform", "DER", "-in", dir.File("k.der"), "-noout", "-modulus"}));
        ASSERT_TRUE(entry->getX509());
    }
    // The copy presents the first certificate to a server that requires
    // one signed by it.
    {
        grvtest::LoopbackPeers peers;
        peers.TrustCertificate();
        grvtest::OpensslServerOptions server;
        server.extraArgs = {"-Verify", "1", "-CAfile", dir.File("first.pem"), "-verify_return_error"};
        const int port = peers.StartOpensslServer(server);
        copy.UseIEProxy = 0;
        HttpClient client;
        Logger log;
        HttpRequest request;
        HttpResult result;
        DataBuffer body;
        bool fresh = false;
        ASSERT_TRUE(client.httpConnect(copy, "127.0.0.1", port, true, log, nullptr, fresh)) << logText(log);
        ASSERT_TRUE(
            client.synchronousRequest(copy, "127.0.0.1", port, true, request, result, body, log, nullptr, false))
            << logText(log);
        const std::string page(reinterpret_cast<const char*>(body.getData()), body.getSize());
        const std::string pem = grvtest::ReadFile(dir.File("first.pem"));
        const std::string firstLine = pem.substr(pem.find('\n') + 1, 64);
        EXPECT_NE(page.find("Client certificate"), std::string::npos) << page.substr(0, 2000);
        EXPECT_NE(page.find(firstLine), std::string::npos) << page.substr(0, 4000);
    }
    // Copying itself changes nothing; copying a control without any empties.
    copy.copyFrom(copy);
    ASSERT_TRUE(copy.clientCerts);
    EXPECT_EQ(copy.clientCerts->getCount(), 2);
    HttpControl bare;
    copy.copyFrom(bare);
    EXPECT_EQ(copy.clientCerts, nullptr);
}

struct ProxyCase {
    const char* httpProxy;  // lower-case variable
    const char* httpsProxy; // upper-case variable
    bool useSystem;
    const char* proxyDomain;
    const char* expectHttp; // host:port
    const char* expectHttps;
};

TEST(HttpControl, ProxyComesFromOptionsOrEnvironment) {
    const ProxyCase table[] = {
        {"http://p1:8080/", "http://user:pw@p2:3128", true, "", "p1:8080", "p2:3128"},
        {"http://p1:8080/", "http://p2:3128", false, "", ":80", ":80"},
        {"http://p1:8080/", "http://p2:3128", true, "fixed", "fixed:80", "fixed:80"},
        {nullptr, "p2:3128", true, "", ":80", "p2:3128"},
        {"http://p3", nullptr, true, "", "p3:80", ":80"},
        {nullptr, nullptr, true, "", ":80", ":80"},
    };
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
        unsetenv(v);
    for (const ProxyCase& c : table) {
        if (c.httpProxy)
            setenv("http_proxy", c.httpProxy, 1);
        else
            unsetenv("http_proxy");
        if (c.httpsProxy)
            setenv("HTTPS_PROXY", c.httpsProxy, 1);
        else
            unsetenv("HTTPS_PROXY");
        HttpControl control;
        control.UseIEProxy = c.useSystem ? 1 : 0;
        control.ProxyDomain.setString(c.proxyDomain);
        for (const char* scheme : {"http://", "https://"}) {
            LogNull log;
            StringBuffer host;
            std::uint32_t port = 0;
            control.getProxy(scheme, host, port, log, 0);
            std::string got = std::string(host.getString()) + ":" + std::to_string(port);
            EXPECT_EQ(got, scheme[4] == 's' ? c.expectHttps : c.expectHttp) << scheme << " " << c.proxyDomain;
        }
    }
    unsetenv("http_proxy");
    unsetenv("HTTPS_PROXY");
}

// http_proxy values ("NAME=value ..." sets those variables instead), "P"
// the port of a peer listening on 127.0.0.1 and ::1 and "Q" that port past
// 65535: each is used, refused or passed over for a direct request as curl
// does, and a refused one sends nothing, to the proxy or direct. A proxy
// of another scheme is refused, where curl speaks TLS or SOCKS to it:
// nothing goes to it in plain.
TEST(HttpControl, SystemProxyIsReadAsCurlReadsIt) {
    installTextServices();
    const char* const values[] = {
        "127.0.0.1:P",
        "http://127.0.0.1:P/",
        "http://u:p@127.0.0.1:P",
        "127.0.0.1:Px",
        "127.0.0.1:Q",
        "127.0.0.1:",
        "127.0.0.1: P",
        "127.0.0.1:-P",
        "http://[::1]:P",
        "[::1]:P",
        "[::1]:Px",
        "[::1]:Q",
        "http://[::1:P",
        "HTTP_PROXY=127.0.0.1:P",
        "http_proxy= HTTP_PROXY=127.0.0.1:P",
        "https://127.0.0.1:P",
        "HTTPS://127.0.0.1:P",
        "socks5h://127.0.0.1:P",
        "HTTP://127.0.0.1:P",

        "http://[::1%25lo]:P",
        "http://127.0.0.1:P/x",
        "kept 127.0.0.1:Px",
        "kept https://127.0.0.1:P",
    };
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
        unsetenv(v);
    grvtest::LoopbackPeers peers;
    const int port = peers.StartCaptureServer({}, true);
    constexpr int kPortsPast = 65536;
    // What curl says when it went direct: the origin's name is unknown. Any
    // other failure with nothing sent to the peer in plain is a refusal (a
    // proxy it cannot read, or one it speaks TLS or SOCKS to).
    constexpr int kCurlOriginUnresolved = 6;
    constexpr const char* kCurlSeconds = "5";
    constexpr const char* kUrl = "http://origin.invalid/x";
    constexpr std::string_view kKept = "kept ";
    std::size_t seen = 0;
    // How the peer was asked for the URL since the last look: as a proxy,
    // as the origin, or not at all.
    const auto asked = [&] {
        const std::vector<std::string> got = peers.CapturedRequests(port);
        const std::string line = got.size() > seen ? got.back().substr(0, got.back().find(' ', 4)) : "";
        seen = got.size();
        return line.starts_with("GET http://") ? "proxy" : line == "GET /x" ? "origin" : "";
    };
    std::string ours, curl;
    for (const std::string value : values) {
        std::string proxy;
        for (const char c : value) {
            const bool spot = !proxy.empty() && std::string_view(":- ").find(proxy.back()) != std::string_view::npos;
            proxy += spot && c == 'P'   ? std::to_string(port)
                     : spot && c == 'Q' ? std::to_string(port + kPortsPast)
                                        : std::string(1, c);
        }
        // "kept ...": the peer is asked first as the origin, directly, then
        // through the value on the connection that request left open.
        const bool kept = proxy.starts_with(kKept);
        if (kept)
            proxy.erase(0, kKept.size());
        const std::string target = kept ? "http://127.0.0.1:" + std::to_string(port) + "/x" : kUrl;
        ClsHttp http;
        XString url, text, why;
        url.setFromUtf8(target.c_str());
        for (const char* v : {"http_proxy", "HTTP_PROXY"})
            unsetenv(v);
        if (kept) {
            http.options().UseIEProxy = 0;
            http.QuickGetStr(url, text, false, nullptr, http.getLog());
            asked();
        }
        // "NAME=value": the variables set, each up to the next space;
        // else http_proxy is.
        if (proxy.starts_with("http_proxy=") || proxy.starts_with("HTTP_PROXY=")) {
            for (std::size_t at = 0; at < proxy.size();) {
                const std::size_t end = std::min(proxy.find(' ', at), proxy.size());
                const std::size_t eq = proxy.find('=', at);
                setenv(proxy.substr(at, eq - at).c_str(), proxy.substr(eq + 1, end - eq - 1).c_str(), 1);
                at = end + 1;
            }
        } else {
            setenv("http_proxy", proxy.c_str(), 1);
        }
        http.options().UseIEProxy = 1;
        const bool ok = http.QuickGetStr(url, text, false, nullptr, http.getLog());
        http.getLastErrorText(why, false);
        const std::string said = why.getUtf8();
        const bool refused = said.find(http_opt::kMsgProxySettingRefused) != std::string::npos;
        const std::string sent = asked();
        const bool direct = sent == "origin" || (sent.empty() && said.find("proxyDomain") == std::string::npos);
        ours += value + std::string(": ") +
                (ok && sent == "proxy"     ? "used"
                 : refused && sent.empty() ? "refused"
                 : direct                  ? "went direct"
                                           : "failed") +
                "\n";
        const grvtest::RunResult r = grvtest::RunProgram({"curl", "-s", "-m", kCurlSeconds, "-o", "/dev/null", target});
        const std::string curlSent = asked();
        curl += value + std::string(": ") +
                (r.status == 0 && curlSent == "proxy"                                              ? "used"
                 : curlSent == "origin" || (r.status == kCurlOriginUnresolved && curlSent.empty()) ? "went direct"
                 : r.status != 0 && curlSent.empty()                                               ? "refused"
                                                     : "failed " + std::to_string(r.status)) +
                "\n";
    }
    unsetenv("http_proxy");
    EXPECT_EQ(ours, curl);
}

TEST(HttpControl, UnreadableSystemSettingsAreLoggedAndGoDirect) {
    for (const char* v : {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY"})
        unsetenv(v);
    Logger log;
    StringBuffer text;
    bool enabled = true;
    EXPECT_FALSE(getSystemProxyServer("http", text, enabled, log));
    EXPECT_FALSE(enabled);
    EXPECT_NE(logText(log).find(http_opt::kMsgProxyServerUnread), std::string::npos);
}

} // namespace
