// What a copy of the options takes, and the proxy chosen
// from the options or from the environment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "netlib/core/Logger.h"
#include "netlib/http/HttpControl.h"

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
    a.useBucketCache = 1;
    HttpControl b;
    b.copyFrom(a);
    Logger log;
    b.logOptions(log);
    std::string t = logText(log);
    for (const char* line :
         {"ProxyDomain: px\n", "ProxyPort: 3128\n", "PasswordLen: 6\n", "ProxyPasswordLen: 2\n", "Login: me\n",
          "UserAgent: UA\n", "ConnectTimeoutSec: 3\n", "MaxResponseSize: 1099511627776\n", "ResumePoint: 99\n",
          "SendCookies: 0\n", "NTLMAuth: 1\n", "LoginDomain: \n", "NegotiateAuth: 0\n", "DigestAuth: 0\n",
          "SslProtocol: default\n", "HttpMethod: \n", "RequiredContentType: \n", "ProxyPartialUrl: 0\n",
          "AllowCookieResponseCaching: 0\n"})
        EXPECT_NE(t.find(line), std::string::npos) << line;
    EXPECT_EQ(b.UseIEProxy, 1);
    EXPECT_EQ(b.useBucketCache, 0u);
    EXPECT_STREQ(b.ProxyAuthMethod.getString(), "");
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
