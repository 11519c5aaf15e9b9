// A URL whose host, path or query holds a control byte (CR, LF, NUL, TAB,
// DEL), or a header field a caller sets holding CR, LF or NUL, is refused
// on every road before anything is sent: the capturing peer must receive
// nothing, while the same requests made clean reach it. curl and python's
// http.client refuse the same URLs, which is run here too.
//
// NUL cannot be written into a C string: on the roads that take one (the
// GET driver, the application facade, a component request's domain and
// path) the text simply ends there, and curl cannot be given it in its
// argument list either; python's http.client refuses it. Those cells are
// marked "n/a" below.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/http/TsHttp.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TextServices.h"
#include "platform/Winsock.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using authtest::logText;

enum class Part { kHost, kPath, kQuery };
enum class Road { kQuickGet, kPutBinary, kPostMime, kGetDriver, kComponent, kBackground, kFacade, kObjectStorage };

struct Byte {
    const char* name;
    char c;
};
constexpr unsigned int kTaskLimitMs = 30000;
// Rows of the values table's kinds "target" and "domain", and of
// "tls-domain" and "socks-domain".
constexpr std::size_t kTargetRows = 9;
constexpr std::size_t kDomainRows = 18;
constexpr std::size_t kZoneRows = 6;

// The kinds that hand SynchronousRequest a domain: plain, over TLS,
// through SOCKS5.
bool domainKind(const std::string& kind) {
    return kind == "domain" || kind == "tls-domain" || kind == "socks-domain";
}

constexpr Byte kBytes[] = {{"CR", '\r'}, {"LF", '\n'}, {"NUL", '\0'}, {"TAB", '\t'}, {"DEL", '\x7f'}};

const char* partName(Part p) {
    return p == Part::kHost ? "host" : p == Part::kPath ? "path" : "query";
}

const char* roadName(Road r) {
    switch (r) {
    case Road::kQuickGet: return "QuickGet";
    case Road::kPutBinary: return "PutBinary";
    case Road::kPostMime: return "PostMime";
    case Road::kGetDriver: return "GET driver";
    case Road::kComponent: return "component request";
    case Road::kBackground: return "component request on the background thread";
    case Road::kFacade: return "facade request";
    case Road::kObjectStorage: return "object storage";
    }
    return "";
}

// Where the byte goes: into the host ("127.0.0.1<b>x"), the path
// ("/a<b>X-Injected: y") or the query ("?q=<b>X-Injected: y"). Empty text
// with b 0: the clean request.
struct Target {
    std::string host = "127.0.0.1";
    std::string path = "/a";
    std::string query;
    std::string Url(int port) const {
        return "http://" + host + ":" + std::to_string(port) + path + (query.empty() ? "" : "?" + query);
    }
};

Target targetWith(Part part, const Byte* b) {
    Target t;
    t.query = "q=1";
    if (b == nullptr)
        return t;
    const std::string bad = std::string(1, b->c) + "X-Injected: y";
    if (part == Part::kHost)
        t.host += std::string(1, b->c) + "x";
    else if (part == Part::kPath)
        t.path += bad;
    else
        t.query += bad;
    return t;
}

// The bytes as UTF-8 text, NULs and all.
XString& xbytes(XString& x, const std::string& bytes) {
    x.setFromUtf8Bytes(bytes.data(), static_cast<unsigned int>(bytes.size()));
    return x;
}

// The roads both tables take: the GET driver on a client of its own, and
// the component's PUT of a short body.
bool getDriver(ClsHttp& http, const std::string& url, LogBase& log) {
    HttpClient client;
    HttpResult result;
    DataBuffer out;
    OutputDataBuffer sink(&out);
    http.options().HttpMethod.setString("GET");
    const bool ok = client.quickGetToOutput(url.c_str(), http.options(), sink, result, log, nullptr, false);
    client.closeConnection(http.options(), nullptr, log);
    return ok;
}

bool putBinary(ClsHttp& http, XString& url, LogBase& log) {
    DataBuffer body;
    body.append("pain 4", 6);
    XString type, reply;
    type.setFromUtf8("text/plain");
    return http.PutBinary(url, body, type, false, false, reply, false, nullptr, log);
}

class ControlBytes : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override {
        installTextServices();
        port = peers.StartCaptureServer();
        // The object-storage hosts are buckets under the service's name.
        platform::SetResolverHook([](const std::string& host) -> std::string {
            return host == "127.0.0.1" || host.find("storage.test") != std::string::npos ? "127.0.0.1" : "";
        });
    }
    void TearDown() override { platform::SetResolverHook({}); }

    // The road run once with the target; false when it failed. Its log and
    // the component's go to text.
    bool Run(Road road, const Target& t, std::string& text) {
        ClsHttp http;
        http.options().UseIEProxy = 0;
        Logger log;
        bool ok = false;
        XString url;
        xbytes(url, t.Url(port));
        if (road == Road::kQuickGet) {
            DataBuffer out;
            ok = http.QuickGet(url, out, false, nullptr, log);
        } else if (road == Road::kPutBinary) {
            ok = putBinary(http, url, log);
        } else if (road == Road::kPostMime) {
            XString mime;
            mime.setFromUtf8("Content-Type: text/plain\r\n\r\npain 4");
            std::unique_ptr<ClsHttpResponse> r(http.PostMime(url, mime, false, nullptr, log));
            ok = r != nullptr;
        } else if (road == Road::kGetDriver) {
            ok = getDriver(http, t.Url(port), log);
        } else if (road == Road::kComponent || road == Road::kBackground) {
            // The path and query through SetFromUrl, which takes UTF-8 with
            // its NULs; the domain as the C string it is.
            ClsHttpRequest request;
            XString pathUrl;
            request.SetFromUrl(xbytes(pathUrl, Target{"127.0.0.1", t.path, t.query}.Url(port)), true);
            http.setUseBackgroundThread(road == Road::kBackground);
            std::unique_ptr<ClsHttpResponse> r(http.SynchronousRequest(t.host.c_str(), port, false, request, nullptr));
            ok = r != nullptr;
            if (road == Road::kBackground) {
                EXPECT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
                ok = http.backgroundTaskResult();
                r.reset(http.takeLastResponse());
                XString taskLog;
                http.backgroundTaskLog(taskLog);
                text += taskLog.getUtf8();
            }
        } else if (road == Road::kFacade) {
            TsHttp facade;
            facade.impl().options().UseIEProxy = 0;
            TsHttpRequest request;
            request.setUtf8(true);
            request.SetFromUrl(Target{"127.0.0.1", t.path, t.query}.Url(port).c_str());
            std::unique_ptr<TsHttpResponse> r(facade.SynchronousRequest(t.host.c_str(), port, false, request));
            ok = r != nullptr;
            text += facade.LastErrorText();
        } else {
            http.setS3ServiceHost(("storage.test:" + std::to_string(port)).c_str());
            http.setS3Keys("key", "secret");
            // The host case names the bucket, the path case the object.
            std::string bucket = "journal", object = "entries/a";
            if (t.host != "127.0.0.1")
                bucket += t.host.substr(std::string("127.0.0.1").size());
            if (t.path != "/a")
                object += t.path.substr(2);
            XString b, o, type;
            xbytes(b, bucket);
            xbytes(o, object);
            type.setFromUtf8("text/plain");
            DataBuffer body;
            body.append("pain 4", 6);
            ok = http.S3_UploadBytes(b, o, type, body, nullptr, log);
        }
        XString component;
        http.getLastErrorText(component, false);
        text += logText(log) + component.getUtf8();
        return ok;
    }

    int port = 0;
};

// Cells NUL cannot reach: the road takes that part as a C string.
bool nulUnreachable(Road road, Part part) {
    return road == Road::kGetDriver || road == Road::kFacade ||
           ((road == Road::kComponent || road == Road::kBackground) && part == Part::kHost);
}

} // namespace

TEST_F(ControlBytes, UrlsHoldingControlBytesAreRefusedOnEveryRoad) {
    const Road roads[] = {Road::kQuickGet,  Road::kPutBinary,  Road::kPostMime, Road::kGetDriver,
                          Road::kComponent, Road::kBackground, Road::kFacade,   Road::kObjectStorage};
    const Part parts[] = {Part::kHost, Part::kPath, Part::kQuery};
    std::size_t refused = 0;
    for (Road road : roads) {
        for (Part part : parts) {
            // Object names have no query.
            if (road == Road::kObjectStorage && part == Part::kQuery)
                continue;
            for (const Byte& b : kBytes) {
                if (b.c == '\0' && nulUnreachable(road, part))
                    continue;
                SCOPED_TRACE(std::string(roadName(road)) + ", " + b.name + " in the " + partName(part));
                std::string text;
                EXPECT_FALSE(Run(road, targetWith(part, &b), text)) << text;
                const bool bucket = road == Road::kObjectStorage && part == Part::kHost;
                EXPECT_NE(text.find(bucket ? http_s3::kMsgBadBucketName : url_msg::kControlByteInUrl),
                          std::string::npos)
                    << text;
                EXPECT_EQ(peers.CapturedRequests(port).size(), 0u);
                ++refused;
            }
        }
    }
    EXPECT_EQ(refused, 107u);
    // The same requests made clean reach the peer, one each.
    std::size_t sent = 0;
    for (Road road : roads) {
        SCOPED_TRACE(roadName(road));
        std::string text;
        EXPECT_TRUE(Run(road, targetWith(Part::kPath, nullptr), text)) << text;
        EXPECT_EQ(peers.CapturedRequests(port, ++sent).size(), sent) << text;
    }
}

// curl ("URL using bad/illegal format", exit 3) and python's http.client
// (InvalidURL) refuse the same URLs; curl cannot be given a NUL.
TEST_F(ControlBytes, CurlAndPythonRefuseTheSameUrls) {
    std::vector<std::string> hosts, targets;
    for (Part part : {Part::kHost, Part::kPath, Part::kQuery}) {
        for (const Byte& b : kBytes) {
            const Target t = targetWith(part, &b);
            hosts.push_back(t.host);
            targets.push_back(t.path + "?" + t.query);
            if (b.c == '\0')
                continue;
            SCOPED_TRACE(std::string("curl, ") + b.name + " in the " + partName(part));
            const grvtest::RunResult curl = grvtest::RunProgram({"curl", "-sS", "--max-time", "5", t.Url(port)});
            EXPECT_EQ(curl.status, 3) << curl.out << curl.err;
        }
    }
    std::vector<std::string> args;
    for (std::size_t i = 0; i < hosts.size(); ++i) {
        args.push_back(grvtest::ToHex(hosts[i]));
        args.push_back(grvtest::ToHex(targets[i]));
    }
    const grvtest::RunResult python = grvtest::Python(R"PY(
import http.client, sys
a = sys.argv[1:]
for i in range(0, len(a), 2):
    host, target = bytes.fromhex(a[i]).decode(), bytes.fromhex(a[i + 1]).decode()
    try:
        c = http.client.HTTPConnection(host, 9, timeout=1)
        c.putrequest('GET', target)
        print('sent')
    except http.client.InvalidURL:
        print('refused')
)PY",
                                                      args);
    ASSERT_TRUE(python.Ok()) << python.out << python.err;
    std::string want;
    for (std::size_t i = 0; i < hosts.size(); ++i)
        want += "refused\n";
    EXPECT_EQ(python.out, want);
    EXPECT_EQ(peers.CapturedRequests(port).size(), 0u);
}

// Header fields a caller sets: on a component request (AddHeader, which
// takes UTF-8 with its NULs) and among the options' extra fields, which
// the URL methods and the GET driver send. python's http.client refuses
// CR and LF (ValueError) but lets a NUL through; curl's -H passes CR LF
// through as a header line of its own.
TEST_F(ControlBytes, HeaderFieldsHoldingLineBreaksAreRefused) {
    struct Field {
        const char* name;
        std::string fieldName;
        std::string value;
        bool cString; // expressible as a C string
    };
    const Field fields[] = {
        {"CR LF in a value", "X-Note", "a\r\nX-Injected: y", true},
        {"LF in a value", "X-Note", "a\nX-Injected: y", true},
        {"CR in a value", "X-Note", "a\rX-Injected: y", true},
        {"NUL in a value", "X-Note", std::string("a\0b", 3), false},
        {"CR LF in a name", "X-Note\r\nX-Injected", "y", true},
    };
    enum class Where { kAddHeader, kExtraOnQuickGet, kExtraOnGetDriver, kExtraOnPutBinary };
    for (const Field& f : fields) {
        for (Where where :
             {Where::kAddHeader, Where::kExtraOnQuickGet, Where::kExtraOnGetDriver, Where::kExtraOnPutBinary}) {
            if (!f.cString && where != Where::kAddHeader)
                continue;
            SCOPED_TRACE(std::string(f.name) + ", road " + std::to_string(static_cast<int>(where)));
            ClsHttp http;
            http.options().UseIEProxy = 0;
            Logger log;
            const std::string url = targetWith(Part::kPath, nullptr).Url(port);
            bool ok = false;
            if (where == Where::kAddHeader) {
                ClsHttpRequest request;
                request.setPath("/a");
                XString name, value;
                request.AddHeader(xbytes(name, f.fieldName), xbytes(value, f.value));
                std::unique_ptr<ClsHttpResponse> r(http.SynchronousRequest("127.0.0.1", port, false, request, nullptr));
                ok = r != nullptr;
            } else {
                http.options().extraHeaders.setField(f.fieldName.c_str(), f.value.c_str());
                XString x;
                xbytes(x, url);
                if (where == Where::kExtraOnQuickGet) {
                    DataBuffer out;
                    ok = http.QuickGet(x, out, false, nullptr, log);
                } else if (where == Where::kExtraOnGetDriver) {
                    ok = getDriver(http, url, log);
                } else {
                    ok = putBinary(http, x, log);
                }
            }
            XString component;
            http.getLastErrorText(component, false);
            const std::string text = logText(log) + component.getUtf8();
            EXPECT_FALSE(ok) << text;
            EXPECT_NE(text.find(url_msg::kMalformedField), std::string::npos) << text;
            EXPECT_EQ(peers.CapturedRequests(port).size(), 0u);
        }
    }
    const grvtest::RunResult python = grvtest::Python(R"PY(
import http.client
c = http.client.HTTPConnection('127.0.0.1', 9)
c.putrequest('GET', '/a')
for name, value in [('X-Note', 'a\r\nX-Injected: y'), ('X-Note', 'a\nX-Injected: y'), ('X-Note', 'a\rX-Injected: y'),
                    ('X-Note', 'a\0b'), ('X-Note\r\nX-Injected', 'y')]:
    try:
        c.putheader(name, value)
        print('sent')
    except ValueError:
        print('refused')
)PY");
    EXPECT_EQ(python.out, "refused\nrefused\nrefused\nsent\nrefused\n") << python.err;
}

namespace {

// Every field a caller gives that ends up in a request head, and every road
// that writes it. A field a road does not write is still refused there, so
// each road takes the whole table.
enum class Field {
    kUserAgent,
    kReferer,
    kAccept,
    kAcceptCharset,
    kAcceptLanguage,
    kConnection,
    kVerb,
    kRedirectVerb,
    kExtraHeader,
    kContentType
};
enum class FieldRoad {
    kQuickGet,
    kQuickGetStr,
    kDownload,
    kQuickDeleteStr,
    kMimicIe,
    kMimicFirefox,
    kPutBinary,
    kPostBinary,
    kComponent,
    kBackgroundGet,
    kBackgroundComponent
};
// The proxy's ways: plain requests in absolute form, https in a tunnel.
enum class Transport { kPlain, kTls, kProxy, kTunnel };

constexpr Field kFields[] = {Field::kUserAgent,      Field::kReferer,    Field::kAccept, Field::kAcceptCharset,
                             Field::kAcceptLanguage, Field::kConnection, Field::kVerb,   Field::kRedirectVerb,
                             Field::kExtraHeader,    Field::kContentType};
constexpr FieldRoad kFieldRoads[] = {
    FieldRoad::kQuickGet,  FieldRoad::kQuickGetStr,   FieldRoad::kDownload,           FieldRoad::kQuickDeleteStr,
    FieldRoad::kMimicIe,   FieldRoad::kMimicFirefox,  FieldRoad::kPutBinary,          FieldRoad::kPostBinary,
    FieldRoad::kComponent, FieldRoad::kBackgroundGet, FieldRoad::kBackgroundComponent};
bool componentRoad(FieldRoad r) {
    return r == FieldRoad::kComponent || r == FieldRoad::kBackgroundComponent;
}

struct BadText {
    const char* name;
    std::string text;
};

// The cells a caller can reach. The URL roads set the options' verb
// themselves, so a verb is given on the component roads (the request's
// own); it, and the options' extra fields, are set as C strings, which a
// NUL ends; a content type is an argument of the body roads and a field of
// a component request.
bool reachable(Field f, FieldRoad r, const BadText& b) {
    const bool nul = b.text.find('\0') != std::string::npos;
    if (f == Field::kVerb)
        return componentRoad(r) && !nul;
    if (f == Field::kExtraHeader)
        return componentRoad(r) || !nul;
    if (f == Field::kContentType)
        return componentRoad(r) || r == FieldRoad::kPutBinary || r == FieldRoad::kPostBinary;
    return true;
}

// A header field goes into the component request on its roads (through
// the request's XML form on the background thread), else into the options.
void setField(ClsHttp& http, ClsHttpRequest& request, std::string& contentType, FieldRoad road, Field f,
              const std::string& v) {
    HttpControl& o = http.options();
    StringBuffer* option = f == Field::kUserAgent        ? &o.UserAgent
                           : f == Field::kReferer        ? &o.Referer
                           : f == Field::kAccept         ? &o.Accept
                           : f == Field::kAcceptCharset  ? &o.AcceptCharset
                           : f == Field::kAcceptLanguage ? &o.AcceptLanguage
                           : f == Field::kConnection     ? &o.ConnectionHeader
                           : f == Field::kRedirectVerb   ? &o.RedirectVerb
                                                         : nullptr;
    if (option != nullptr) {
        option->clear();
        option->appendBytes(v.data(), static_cast<int>(v.size()));
    } else if (f == Field::kVerb) {
        request.request().setVerb(v.c_str());
    } else if (f == Field::kExtraHeader) {
        XString name, value;
        if (componentRoad(road))
            request.AddHeader(xbytes(name, "X-Note"), xbytes(value, v));
        else
            o.extraHeaders.setField("X-Note", v.c_str());
    } else {
        XString name, value;
        request.AddHeader(xbytes(name, "Content-Type"), xbytes(value, v));
        contentType = v;
    }
}

class FieldRefusals : public grvtest::LoopbackPeerTest {
protected:
    void SetUp() override { installTextServices(); }

    // The road run once against the peer; false when it failed. Its log and
    // the component's go to text.
    bool Run(FieldRoad road, Transport t, int port, ClsHttp& http, ClsHttpRequest& request,
             const std::string& contentType, std::string& text, const std::string& target = "/") {
        const bool tls = t == Transport::kTls || t == Transport::kTunnel;
        const std::string url = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + target;
        XString x, reply, type;
        xbytes(x, url);
        xbytes(type, contentType);
        DataBuffer body;
        body.append("pain 4", 6);
        Logger log;
        bool ok = false;
        http.options().MimicIE = road == FieldRoad::kMimicIe ? 1 : 0;
        http.options().MimicFirefox = road == FieldRoad::kMimicFirefox ? 1 : 0;
        switch (road) {
        case FieldRoad::kQuickGet:
        case FieldRoad::kMimicIe:
        case FieldRoad::kMimicFirefox: {
            DataBuffer out;
            ok = http.QuickGet(x, out, false, nullptr, log);
            break;
        }
        case FieldRoad::kQuickGetStr: ok = http.QuickGetStr(x, reply, false, nullptr, log); break;
        case FieldRoad::kDownload: {
            XString path;
            ok = http.Download(x, xbytes(path, dir.File("got")), false, nullptr, log);
            break;
        }
        case FieldRoad::kQuickDeleteStr: ok = http.QuickDeleteStr(x, reply, false, nullptr, log); break;
        case FieldRoad::kPutBinary: ok = http.PutBinary(x, body, type, false, false, reply, false, nullptr, log); break;
        case FieldRoad::kPostBinary:
            ok = http.PostBinary(x, body, type, false, false, reply, false, nullptr, log);
            break;
        case FieldRoad::kComponent: {
            std::unique_ptr<ClsHttpResponse> r(http.SynchronousRequest("127.0.0.1", port, tls, request, nullptr));
            ok = r != nullptr;
            break;
        }
        case FieldRoad::kBackgroundGet:
        case FieldRoad::kBackgroundComponent: {
            if (road == FieldRoad::kBackgroundGet) {
                http.queueBackgroundTask(BgMethod::QuickGetStr, "QuickGetStr",
                                         [&](ClsBgTask& task) { task.pushStringArg(x); });
            } else {
                http.setUseBackgroundThread(true);
                http.SynchronousRequest("127.0.0.1", port, tls, request, nullptr);
                http.setUseBackgroundThread(false);
            }
            EXPECT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
            ok = http.backgroundTaskResult();
            std::unique_ptr<ClsHttpResponse> r(http.takeLastResponse());
            XString taskLog;
            http.backgroundTaskLog(taskLog);
            text += taskLog.getUtf8();
            break;
        }
        }
        XString component;
        http.getLastErrorText(component, false);
        text += logText(log) + component.getUtf8();
        return ok;
    }

    grvtest::TempDir dir;
};

} // namespace

// CR, LF, CR LF and NUL through every field on every road, plain, over TLS,
// through a proxy and in its tunnel: each is refused before a connection is made, so the
// peer behind sees nothing; then each road's clean request arrives, one per
// road, and without a proxy none carries the proxy's credentials.
TEST_F(FieldRefusals, EveryFieldHoldingALineBreakIsRefusedOnEveryRoad) {
    peers.TrustCertificate();
    const grvtest::NginxPeer nginx = peers.StartNginx();
    const int capture = peers.StartCaptureServer();
    const int tinyproxy = peers.StartTinyproxy();
    const BadText bads[] = {{"CR", "a\rX-Injected: y"},
                            {"LF", "a\nX-Injected: y"},
                            {"CRLF", "a\r\nX-Injected: y"},
                            {"NUL", std::string("a\0X-Injected: y", 15)}};
    // Proxy credentials on every transport: without a proxy they must not
    // reach the origin; tinyproxy lets nothing through without them.
    auto configure = [&](ClsHttp& http, Transport t) {
        http.options().UseIEProxy = 0;
        http.options().ProxyLogin.setFromUtf8(grvtest::kPeerUser);
        http.options().ProxyPassword.setFromUtf8(grvtest::kPeerPassword);
        if (t != Transport::kProxy && t != Transport::kTunnel)
            return;
        http.options().ProxyDomain.setString("127.0.0.1");
        http.options().ProxyPort = static_cast<std::uint32_t>(tinyproxy);
    };
    std::size_t captured = 0;
    std::size_t logged = 0;
    for (Transport t : {Transport::kPlain, Transport::kTls, Transport::kProxy, Transport::kTunnel}) {
        const bool tls = t == Transport::kTls || t == Transport::kTunnel;
        const int port = tls ? nginx.tlsPort : capture;
        std::size_t refused = 0;
        for (FieldRoad road : kFieldRoads) {
            for (Field f : kFields) {
                for (const BadText& b : bads) {
                    if (!reachable(f, road, b))
                        continue;
                    SCOPED_TRACE("transport " + std::to_string(static_cast<int>(t)) + ", road " +
                                 std::to_string(static_cast<int>(road)) + ", field " +
                                 std::to_string(static_cast<int>(f)) + ", " + b.name);
                    ClsHttp http;
                    configure(http, t);
                    ClsHttpRequest request;
                    request.setPath("/");
                    std::string type = "text/plain";
                    setField(http, request, type, road, f, b.text);
                    std::string text;
                    EXPECT_FALSE(Run(road, t, port, http, request, type, text)) << text;
                    const bool verb = f == Field::kVerb || f == Field::kRedirectVerb;
                    EXPECT_NE(text.find(verb ? url_msg::kVerbNotToken : url_msg::kMalformedField), std::string::npos)
                        << text;
                    ++refused;
                }
            }
        }
        // Seven option fields everywhere, the verb on two roads, extra
        // fields everywhere (NUL on two), content types on four.
        EXPECT_EQ(refused, 7u * 4u * 11u + 3u * 2u + (3u * 11u + 2u) + 4u * 4u);
        // Then the clean requests, one per road, are all the peer sees.
        for (FieldRoad road : kFieldRoads) {
            SCOPED_TRACE("clean, road " + std::to_string(static_cast<int>(road)));
            ClsHttp http;
            configure(http, t);
            ClsHttpRequest request;
            request.setPath("/");
            std::string text;
            Run(road, t, port, http, request, "text/plain", text);
            if (tls)
                EXPECT_EQ(grvtest::NginxAccessLines(nginx, ++logged).size(), logged) << text;
            else
                EXPECT_EQ(peers.CapturedRequests(capture, ++captured).size(), captured) << text;
            if (t == Transport::kPlain) {
                const std::string last = peers.CapturedRequests(capture).back();
                EXPECT_EQ(last.find("Proxy-Authorization"), std::string::npos) << last;
            }
        }
    }
}

namespace {

// The C escapes of the values table: \r, \t and \xHH.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
        } else if (text[++i] == 'x') {
            out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += text[i] == 'r' ? '\r' : text[i] == 'n' ? '\n' : text[i] == 't' ? '\t' : text[i];
        }
    }
    return out;
}

std::string WithPorts(std::string text, int port, int other) {
    for (const auto& [mark, number] : {std::pair{std::string("{port}"), port}, {std::string("{other}"), other}})
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), std::to_string(number));
    return text;
}

// Each request's Host, "+auth" after it when it carried an Authorization,
// and the values of further Host fields, space-separated.
std::string HostsSeen(const std::vector<std::string>& requests) {
    std::string seen;
    for (const std::string& r : requests) {
        const std::string head = r.substr(0, r.find("\r\n\r\n") + 2);
        for (std::size_t at = head.find("\r\n"); at != std::string::npos; at = head.find("\r\n", at + 2)) {
            const std::string line = head.substr(at + 2, head.find("\r\n", at + 2) - at - 2);
            if (line.size() > 5 && strncasecmp(line.c_str(), "host:", 5) == 0)
                seen += (seen.empty() ? "" : " ") + line.substr(line.find_first_not_of(' ', 5));
        }
        if (head.find("\r\nAuthorization:") != std::string::npos)
            seen += "+auth";
    }
    return seen;
}

// The first part's Content-Disposition in a multipart request.
std::string Disposition(const std::string& request) {
    const std::size_t at = request.find("\r\nContent-Disposition: ");
    return at == std::string::npos ? "none" : request.substr(at + 23, request.find("\r\n", at + 2) - at - 23);
}

// The references' verdicts on the values of one kind, a line each.
constexpr const char* kValueJudges = R"PY(
import sys, http.client
kind, values = sys.argv[1], [bytes.fromhex(v).decode() for v in sys.argv[2:]]
for v in values:
    if kind == 'bucket':
        import botocore.handlers, botocore.exceptions
        try:
            botocore.handlers.validate_bucket_name({'Bucket': v})
            print('botocore sent')
        except botocore.exceptions.ParamValidationError:
            print('botocore refused')
    elif kind in ('part-name', 'file-name'):
        import urllib3
        field = (v, 'x') if kind == 'part-name' else ('f', (v, b'x', 'text/plain'))
        part = urllib3.encode_multipart_formdata([field], boundary='b')[0].decode()
        print('urllib3', part.split('\r\n')[1][len('Content-Disposition: '):])
    else:
        c = http.client.HTTPConnection('127.0.0.1', 9)
        c.putrequest('GET', '/')
        name, value = v.split('\n')
        try:
            c.putheader(name, value)
            print('http.client sent')
        except ValueError:
            print('http.client refused')
)PY";

constexpr const char* kNodeJudge = R"JS(
const http = require('http');
for (const v of process.argv.slice(1).map(h => Buffer.from(h, 'hex').toString('latin1'))) {
    const [name, value] = v.split('\n');
    try {
        http.validateHeaderName(name);
        http.validateHeaderValue(name, value);
        console.log('node sent');
    } catch (e) {
        console.log('node refused');
    }
}
)JS";

class RequestValues : public FieldRefusals {
protected:
    void SetUp() override {
        FieldRefusals::SetUp();
        platform::SetResolverHook([](const std::string& host) -> std::string {
            if (host == "::1")
                return host;
            return host == "127.0.0.1" || host == "other.test" || host == "journal.test" ||
                           host.ends_with(".storage.test")
                       ? "127.0.0.1"
                       : "";
        });
    }
    void TearDown() override { platform::SetResolverHook({}); }

    // The roads a kind takes: FieldRoad values, the MIME POST as 11; for the
    // object-storage kinds upload, download, list, delete and download to a
    // file.
    static std::vector<int> RoadsOf(const std::string& kind) {
        if (kind == "bucket")
            return {0, 1, 2, 3, 4};
        if (kind == "s3-redirect")
            return {1, 2, 4};
        if (kind == "validator")
            return {1};
        if (kind == "part-name" || kind == "file-name" || domainKind(kind))
            return {8, 10};
        if (kind == "redirect" || kind == "location")
            return {1, 2, 4, 7};
        // The request target goes through every writer of one: GetHead,
        // PutText, XmlRpc, PostUrlEncoded and PostXml as 12 to 16.
        if (kind == "target")
            return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        return {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    }

    // A capture peer and a second one behind it, each answering as the kind
    // needs: a redirect to the location, a copy to keep for a minute, "ok".
    void StartPeers(const std::string& kind, const std::string& value, const std::string& location) {
        // A domain of two colons or more is an IPv6 literal without its
        // brackets: the port argument's peer listens on ::1 too.
        const bool bareIpv6 =
            domainKind(kind) && std::count(value.begin(), value.end(), ':') > 1 && value.find('[') == std::string::npos;
        other = peers.StartCaptureServer(std::vector<std::string>{}, bareIpv6);
        std::vector<std::string> script;
        if (kind == "redirect" || kind == "s3-redirect" || kind == "location")
            script.push_back(authtest::canned("302 Found", "Location: " + WithPorts(location, 0, other) + "\r\n", ""));
        if (kind == "validator")
            script.push_back(authtest::canned("200 OK", "Cache-Control: max-age=60\r\nETag: " + value + "\r\n", "ok"));
        else if (!script.empty())
            script.push_back(authtest::canned("200 OK", "", "ok"));
        port = peers.StartCaptureServer(script, domainKind(kind) && (value.find('[') != std::string::npos || bareIpv6),
                                        kind == "tls-domain");
        socks = kind == "socks-domain" ? peers.StartMicrosocks(false) : 0;
    }

    // What the peers saw, in the words of the table's third column; with
    // what was sent when that is none of them.
    std::string Seen(const std::string& kind, const std::string& name, const std::string& text) {
        std::vector<std::string> requests = peers.CapturedRequests(port);
        std::vector<std::string> elsewhere = peers.CapturedRequests(other);
        // Peers kept for a whole row: what came since the last look.
        const std::size_t before = keptPort, beforeOther = keptOther;
        requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(before));
        elsewhere.erase(elsewhere.begin(), elsewhere.begin() + static_cast<std::ptrdiff_t>(beforeOther));
        keptPort += requests.size();
        keptOther += elsewhere.size();
        requests.insert(requests.end(), elsewhere.begin(), elsewhere.end());
        if (!keepPeers) {
            peers.Stop(port);
            peers.Stop(other);
            keptPort = keptOther = 0;
        }
        const std::string last = requests.empty() ? "" : requests.back();
        if (kind == "host" || kind == "redirect" || kind == "s3-redirect")
            return WithPorts(HostsSeen(requests), port, other);
        if (domainKind(kind))
            return requests.empty() ? "refused" : WithPorts(HostsSeen(requests), port, other);
        if (kind == "target") {
            const std::string line = last.substr(0, last.find("\r\n"));
            const std::size_t a = line.find(' '), b = line.rfind(' ');
            return requests.empty()                       ? "refused"
                   : a != b && line.find(' ', a + 1) == b ? line.substr(a + 1, b - a - 1)
                                                          : line;
        }
        if (kind == "part-name" || kind == "file-name")
            return Disposition(last);
        if (kind == "location")
            return requests.size() == 2 ? "followed" : requests.size() == 1 ? "refused" : last;
        if (kind == "validator")
            return requests.size() != 2                                                    ? last
                   : last.find("\r\nIf-None-Match: " + text + "\r\n") != std::string::npos ? "sent"
                   : last.find("If-None-Match") == std::string::npos                       ? "refused"
                                                                                           : last;
        if (requests.empty())
            return "refused";
        if (kind == "bucket")
            return "sent";
        return last.find("\r\n" + name + ": " + text + "\r\n") != std::string::npos ? "sent" : last;
    }

    // The value through one of our roads.
    void RunRoad(const std::string& kind, int road, const std::string& name, const std::string& text) {
        ClsHttp http;
        http.options().UseIEProxy = 0;
        ClsHttpRequest request;
        request.setPath("/a");
        const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/a";
        LogBase& log = http.getLog();
        XString x, y, z;
        DataBuffer body;
        std::string ignored;
        if (kind == "bucket" || kind == "s3-redirect") {
            http.setS3ServiceHost(("storage.test:" + std::to_string(port)).c_str());
            http.setS3Keys("key", "secret");
            xbytes(x, kind == "bucket" ? WithPorts(text, port, other) : "bkt");
            xbytes(y, "obj");
            if (road == 0)
                http.S3_UploadBytes(x, y, xbytes(z, "text/plain"), body, nullptr, log);
            else if (road == 1)
                http.S3_DownloadBytes(x, y, body, nullptr, log);
            else if (road == 2)
                http.S3_ListBucketObjects(x, z, nullptr, log);
            else if (road == 3)
                http.S3_DeleteObject(x, y, nullptr, log);
            else
                http.S3_DownloadFile(x, y, xbytes(z, dir.File("obj")), nullptr, log);
            return;
        }
        if (kind == "validator") {
            EXPECT_TRUE(http.options().cache.AddRoot(dir.File("cache" + std::to_string(port)).c_str()));
            grvtest::ScopedClock clock(2012, 7, 15, 10, 0, 0);
            http.QuickGetStr(xbytes(x, url), y, false, nullptr, log);
            clock.Advance(61);
            http.QuickGetStr(xbytes(x, url), y, false, nullptr, log);
            return;
        }
        if (domainKind(kind)) {
            const std::string domain = WithPorts(text, port, other);
            http.setUseBackgroundThread(road == 10);
            if (socks != 0) {
                http.options().setSocksVersion(5);
                http.options().setSocksHostname("127.0.0.1");
                http.options().setSocksPort(socks);
            }
            std::unique_ptr<ClsHttpResponse> r(
                http.SynchronousRequest(domain.c_str(), other, kind == "tls-domain", request, nullptr));
            if (road == 10) {
                EXPECT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
                r.reset(http.takeLastResponse());
            }
            return;
        }
        if (kind == "target" && road >= 12) {
            const std::string at = "http://127.0.0.1:" + std::to_string(port) + text;
            xbytes(x, at);
            if (road == 12) {
                std::unique_ptr<ClsHttpResponse> r(http.GetHead(x, false, nullptr, log));
            } else if (road == 13) {
                XString type, reply;
                http.PutText(x, xbytes(y, "pain 4"), xbytes(z, "utf-8"), xbytes(type, "text/plain"), false, false,
                             reply, false, nullptr, log);
            } else if (road == 14) {
                http.XmlRpc(x, xbytes(y, "<?xml version=\"1.0\"?><methodCall/>"), z, false, nullptr, log);
            } else if (road == 15) {
                ClsHttpRequest form;
                form.AddParam("n", "4");
                std::unique_ptr<ClsHttpResponse> r(http.PostUrlEncoded(x, form, false, nullptr, log));
            } else {
                std::unique_ptr<ClsHttpResponse> r(
                    http.PostXml(x, xbytes(y, "<pain>4</pain>"), xbytes(z, "utf-8"), false, nullptr, log));
            }
            return;
        }
        if (kind == "target") {
            request.setPath(text.c_str());
            if (road == 11) {
                XString mime;
                xbytes(mime, "Content-Type: text/plain\r\n\r\nx");
                std::unique_ptr<ClsHttpResponse> r(http.PostMime(
                    xbytes(x, "http://127.0.0.1:" + std::to_string(port) + text), mime, false, nullptr, log));
                return;
            }
            Run(static_cast<FieldRoad>(road), Transport::kPlain, port, http, request, "text/plain", ignored, text);
            return;
        }
        if (road == 11) {
            const std::string mime = name + ": " + text + "\r\nContent-Type: text/plain\r\n\r\nx";
            std::unique_ptr<ClsHttpResponse> r(http.PostMime(xbytes(x, url), xbytes(y, mime), false, nullptr, log));
            return;
        }
        if (kind == "part-name" || kind == "file-name") {
            request.request().setVerb("POST");
            request.addHeaderAnsi("Content-Type", "multipart/form-data");
            auto* item = new HttpRequestItem;
            item->name.setFromUtf8(kind == "part-name" ? text.c_str() : "f");
            item->filePath.setFromUtf8(kind == "file-name" ? text.c_str() : "");
            item->data.append("x", 1);
            request.request().reqData().addItem(item);
        } else if (kind == "redirect" || kind == "location") {
            http.options().Login.setFromUtf8(grvtest::kPeerUser);
            http.options().Password.setFromUtf8(grvtest::kPeerPassword);
            http.options().extraHeaders.setField("Host", "journal.test");
        } else if (componentRoad(static_cast<FieldRoad>(road))) {
            request.AddHeader(xbytes(x, name), xbytes(y, text));
        } else {
            http.options().extraHeaders.setField(name.c_str(), text.c_str());
        }
        Run(static_cast<FieldRoad>(road), Transport::kPlain, port, http, request, "text/plain", ignored);
    }

    // The value through curl, for the kinds curl judges; false for others.
    bool RunCurl(const std::string& kind, const std::string& text) {
        const std::string p = std::to_string(port), o = std::to_string(other);
        std::vector<std::string> argv = {"curl",      "-s",
                                         "-o",        "/dev/null",
                                         "--resolve", "other.test:" + o + ":127.0.0.1",
                                         "--resolve", "bkt.storage.test:" + p + ":127.0.0.1"};
        const std::string url = "http://127.0.0.1:" + p + "/a";
        if (kind == "part-name") {
            argv.insert(argv.end(), {"-F", text + "=x", url});
        } else if (kind == "file-name") {
            std::string quoted;
            for (char c : text)
                quoted += std::string(c == '"' || c == '\\' ? "\\" : "") + c;
            EXPECT_TRUE(grvtest::WriteFile(dir.File("x"), "x"));
            argv.insert(argv.end(), {"-F", "f=@" + dir.File("x") + ";filename=\"" + quoted + "\"", url});
        } else if (kind == "host") {
            argv.insert(argv.end(), {"-H", "Host: " + text, url});
        } else if (kind == "redirect") {
            argv.insert(argv.end(), {"-L", "-u", std::string(grvtest::kPeerUser) + ":" + grvtest::kPeerPassword, "-H",
                                     "Host: journal.test", url});
        } else if (kind == "s3-redirect") {
            argv.insert(argv.end(),
                        {"-L", "-H", "Authorization: AWS key:c2ln", "http://bkt.storage.test:" + p + "/obj"});
        } else if (kind == "location") {
            argv.insert(argv.end(), {"-L", url});
        } else if (kind == "target") {
            argv.insert(argv.end(), {"-g", "http://127.0.0.1:" + p + text});
        } else if (kind == "domain") {
            argv.insert(argv.end(),
                        {"-g", "--resolve", "journal.test:" + p + ":127.0.0.1", "--resolve",
                         "journal.test:" + o + ":127.0.0.1", "http://" + WithPorts(text, port, other) + "/a"});
        } else if (kind == "tls-domain") {
            argv.insert(argv.end(),
                        {"-g", "--cacert", peers.Certificate(), "https://" + WithPorts(text, port, other) + "/a"});
        } else if (kind == "socks-domain") {
            argv.insert(argv.end(), {"-g", "--socks5", "127.0.0.1:" + std::to_string(socks),
                                     "http://" + WithPorts(text, port, other) + "/a"});
        } else {
            return false;
        }
        grvtest::RunProgram(argv);
        return true;
    }

    // The request target through python's http.client and node's fetch,
    // the domain through http.client (its name resolved as ours is); false
    // for other kinds.
    bool RunLive(const std::string& kind, const std::string& who, const std::string& text) {
        if (who == std::string("node")) {
            if (kind == "target")
                grvtest::RunProgram({"node", "-e", "fetch(process.argv[1]).then(r => r.text()).catch(() => {})",
                                     "http://127.0.0.1:" + std::to_string(port) + text});
            return kind == "target";
        }
        if (kind != "target" && kind != "domain" && kind != "tls-domain")
            return false;
        grvtest::Python(
            R"PY(
import http.client, socket, ssl, sys
real = socket.getaddrinfo
socket.getaddrinfo = lambda h, *a, **k: real('127.0.0.1' if h.lower() == 'journal.test' else h, *a, **k)
kind, value, port, other = sys.argv[1], bytes.fromhex(sys.argv[2]).decode(), int(sys.argv[3]), int(sys.argv[4])
try:
    if kind == 'target':
        c = http.client.HTTPConnection('127.0.0.1', port, timeout=5)
        c.request('GET', value)
    else:
        named = value.rsplit(']', 1)[-1].find(':') >= 0 and (value[0] == '[' or value.count(':') < 2)
        tls = {'context': ssl.create_default_context(cafile=sys.argv[5])} if kind == 'tls-domain' else {}
        c = (http.client.HTTPSConnection if tls else http.client.HTTPConnection)(value, None if named else other,
                                                                                 timeout=5, **tls)
        c.request('GET', '/a')
    c.getresponse().read()
except Exception:
    pass
)PY",
            {kind, grvtest::ToHex(WithPorts(text, port, other)), std::to_string(port), std::to_string(other),
             peers.Certificate()});
        return true;
    }

    int port = 0;
    int other = 0;
    int socks = 0;
    // The row's peers answer every road and reference of the row (kinds
    // whose peers keep no state between requests).
    bool keepPeers = false;
    std::size_t keptPort = 0;
    std::size_t keptOther = 0;
};

} // namespace

// Every caller value and every server value that goes out again, on every
// road that writes it: a value that would change what the request means
// (another host, a parameter or field of its own, a second Host) is refused
// or written so that it cannot, and exactly one Host goes out. botocore,
// urllib3, curl, node's and python's HTTP clients judge the same values.
TEST_F(RequestValues, CallerAndServerValuesKeepTheRequestsMeaning) {
    const auto rows = grvtest::ReadTable(std::string(GRV_TEST_DATA_DIR) + "/http/request-values.txt", " | ");
    ASSERT_EQ(rows.size(), 43u + kTargetRows + kDomainRows + kZoneRows);
    // The certificate names the IPv6 loopback the tls-domain rows ask for.
    peers.TrustCertificate();
    std::map<std::string, std::vector<std::size_t>> byKind;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const std::vector<std::string>& row = rows[i];
        ASSERT_GE(row.size(), 3u);
        byKind[row[0]].push_back(i);
        const std::string value = Unescape(row[1]);
        const std::string name = row[0] == "field-name" ? value : row[0] == "host" ? "Host" : "X-Note";
        const std::string text = row[0] == "field-name" ? "v" : value;
        std::map<std::string, std::string> want = {{"ours", row[2]}};
        for (std::size_t j = 3; j < row.size(); ++j)
            want[row[j].substr(0, row[j].find('='))] = row[j].substr(row[j].find('=') + 1);
        auto wanted = [&](const std::string& who) { return want.count(who) != 0 ? want[who] : row[2]; };
        keepPeers = row[0] == "target" || domainKind(row[0]);
        if (keepPeers)
            StartPeers(row[0], value, row[1]);
        for (int road : RoadsOf(row[0])) {
            // A MIME text's head cannot say it: its first ':' ends the name.
            if (road == 11 && name.find(':') != std::string::npos)
                continue;
            // PostUrlEncoded sends a URL's query as its body.
            if (road == 15 && value.find('?') != std::string::npos)
                continue;
            SCOPED_TRACE(row[0] + " " + row[1] + " on road " + std::to_string(road));
            if (!keepPeers)
                StartPeers(row[0], value, row[1]);
            RunRoad(row[0], road, name, text);
            EXPECT_EQ(Seen(row[0], name, text), WithPorts(wanted("ours"), port, other));
        }
        SCOPED_TRACE(row[0] + " " + row[1] + " through curl");
        if (!keepPeers)
            StartPeers(row[0], value, row[1]);
        const bool judged = wanted("curl") != "-" && RunCurl(row[0], value);
        const std::string seen = Seen(row[0], name, text);
        if (judged) {
            EXPECT_EQ(seen, WithPorts(wanted("curl"), port, other));
        }
        for (const char* who : {"http.client", "node"}) {
            if (!keepPeers)
                continue;
            SCOPED_TRACE(row[0] + " " + row[1] + " through " + who);
            const bool live = RunLive(row[0], who, value);
            const std::string livelySeen = Seen(row[0], name, text);
            if (live) {
                EXPECT_EQ(livelySeen, WithPorts(wanted(who), port, other));
            }
        }
        if (keepPeers) {
            keepPeers = false;
            peers.Stop(port);
            peers.Stop(other);
            if (socks != 0)
                peers.Stop(socks);
            keptPort = keptOther = 0;
        }
    }
    // The other references over each kind's values at once.
    for (const auto& [kind, indexes] : byKind) {
        if (kind == "host" || kind == "redirect" || kind == "s3-redirect" || kind == "location" || kind == "target" ||
            domainKind(kind))
            continue;
        const bool fields = kind == "field-name" || kind == "field-value" || kind == "validator";
        std::vector<std::string> values;
        for (std::size_t i : indexes) {
            const std::string value = Unescape(rows[i][1]);
            values.push_back(grvtest::ToHex(kind == "field-name"    ? value + "\nv"
                                            : kind == "field-value" ? "X-Note\n" + value
                                            : fields                ? "If-None-Match\n" + value
                                                                    : value));
        }
        std::vector<std::string> args = {kind}, node = {"node", "-e", kNodeJudge};
        args.insert(args.end(), values.begin(), values.end());
        node.insert(node.end(), values.begin(), values.end());
        const grvtest::RunResult python = grvtest::Python(kValueJudges, args);
        const grvtest::RunResult byNode = grvtest::RunProgram(fields ? node : std::vector<std::string>{"true"});
        std::string want, wantNode;
        for (std::size_t i : indexes) {
            const std::vector<std::string>& row = rows[i];
            const std::string judge = kind == "bucket" ? "botocore" : fields ? "http.client" : "urllib3";
            std::string verdict = row[2];
            for (std::size_t j = 3; j < row.size(); ++j)
                if (row[j].rfind(judge + "=", 0) == 0)
                    verdict = row[j].substr(judge.size() + 1);
            want += judge + " " + verdict + "\n";
            wantNode += "node " + row[2] + "\n";
        }
        EXPECT_EQ(python.out, want) << kind << python.err;
        if (fields) {
            EXPECT_EQ(byNode.out, wantNode) << kind << byNode.err;
        }
    }
}

namespace {

// The table's request object: a GET of /a with the row's setting.
void BuildRequest(const std::vector<std::string>& row, ClsHttpRequest& request, const std::string& bodyFile) {
    request.setPath("/a");
    HttpRequest& r = request.request();
    const std::string a = Unescape(row[1]), b = Unescape(row[2]);
    XString x, y;
    LogNull quiet;
    if (row[0] == "field") {
        request.AddHeader(xbytes(x, a), xbytes(y, b));
    } else if (row[0] == "parsed") {
        r.mimeHeader().parseHttpFields(reinterpret_cast<const unsigned char*>(a.data()),
                                       static_cast<std::uint32_t>(a.size()), quiet);
    } else if (row[0] == "xml") {
        EXPECT_TRUE(request.loadFromXml(a.c_str()));
    } else if (row[0] == "verb") {
        r.setVerb(a.c_str());
    } else if (row[0] == "version") {
        r.setHttpVersion(a.c_str());
    } else if (row[0] == "path") {
        request.setPath(a.c_str());
    } else if (row[0] == "param") {
        request.AddParam(a.c_str(), b.c_str());
    } else if (row[0] == "body") {
        r.setVerb(a.c_str());
        DataBuffer body;
        body.append(b.data(), static_cast<unsigned int>(b.size()));
        request.LoadBodyFromBytes(body);
    } else if (row[0] == "bodyfile") {
        r.setVerb("POST");
        EXPECT_TRUE(grvtest::WriteFile(bodyFile, a));
        r.setBodyFilePath(bodyFile.c_str());
    } else if (row[0] == "charset") {
        r.setVerb("POST");
        r.setCharset(a.c_str());
        r.setSendCharset(true);
        request.addHeaderAnsi("Content-Type", "text/plain");
        request.AddParam("n", b.c_str());
    } else {
        r.setVerb("POST");
        request.addHeaderAnsi("Content-Type", "multipart/form-data");
        auto* item = new HttpRequestItem;
        xbytes(item->name, a);
        xbytes(item->filePath, b);
        item->data.append("x", 1);
        r.reqData().addItem(item);
    }
}

// The request with its random multipart boundary named "BOUNDARY".
std::string WithoutBoundary(std::string request) {
    const std::size_t at = request.find("boundary=");
    if (at == std::string::npos)
        return request;
    const std::string boundary = request.substr(at + 9, request.find("\r\n", at) - at - 9);
    for (std::size_t p; (p = request.find(boundary)) != std::string::npos;)
        request.replace(p, boundary.size(), "BOUNDARY");
    return request;
}

// The "slow" row: a background GET of an answer that comes a byte a second.
// The wait with its limit and every status call return by the clock while
// the task runs on, where a task holding the component's lock held them all
// until its end; the task then delivers the whole answer.
void SlowAnswerLeavesTheStatusCallsFree(const std::vector<std::string>& row) {
    using Clock = std::chrono::steady_clock;
    const unsigned int limitMs = static_cast<unsigned int>(std::stoul(row[1]));
    const int seconds = std::stoi(row[2]);
    // Well past the limit, well short of the task.
    constexpr auto kBound = std::chrono::seconds(2);
    grvtest::ScriptPeer slow(R"PY(
s = listen()
c, a = s.accept()
recv_head(c)
n = int(args[0])
c.sendall(b'HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n' % n)
for i in range(n):
    time.sleep(1)
    c.sendall(bytes([ord('a') + i]))
c.close()
)PY",
                             {row[2]});
    ClsHttp http;
    http.options().UseIEProxy = 0;
    http.setUseBackgroundThread(true);
    ClsHttpRequest request;
    request.setPath("/a");
    const auto queued = Clock::now();
    EXPECT_EQ(http.SynchronousRequest("127.0.0.1", slow.port, false, request, nullptr), nullptr);
    const auto timed = [&](const char* what, const std::function<void()>& call) {
        const auto start = Clock::now();
        call();
        EXPECT_LT(Clock::now() - start, kBound) << what;
    };
    timed("wait", [&] { EXPECT_FALSE(http.waitForBackgroundTask(limitMs)); });
    timed("busy", [&] { EXPECT_TRUE(http.backgroundTaskBusy()); });
    timed("finished", [&] { EXPECT_FALSE(http.backgroundTaskFinished()); });
    timed("result", [&] { EXPECT_FALSE(http.backgroundTaskResult()); });
    timed("log", [&] {
        XString log;
        http.backgroundTaskLog(log);
    });
    timed("text", [&] {
        XString text;
        http.backgroundStringResult(text);
    });
    ASSERT_TRUE(http.waitForBackgroundTask(kTaskLimitMs));
    EXPECT_GE(Clock::now() - queued, std::chrono::seconds(seconds - 1));
    EXPECT_TRUE(http.backgroundTaskResult());
    std::unique_ptr<ClsHttpResponse> response(http.takeLastResponse());
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(authtest::text(response->getBody()), std::string("abcdefghij").substr(0, seconds));
    EXPECT_EQ(row[3], "sent");
    slow.Finish();
}

// The "wait" rows' server: each request on a thread of its own, answered
// with "<r>VERB PATH</r>" (no body to a HEAD), "/slow" only after args[0]
// seconds; "/quit" ends it.
constexpr const char* kScriptAnswersEach = R"PY(
import threading
s = listen(backlog=256)
s.settimeout(0.2)
done = threading.Event()
def serve(c):
    with c:
        data = recv_head(c)
        head, _, rest = data.partition(b'\r\n\r\n')
        lines = head.split(b'\r\n')
        verb, path = lines[0].split(b' ')[:2]
        n = 0
        for l in lines[1:]:
            k, _, v = l.partition(b':')
            if k.strip().lower() == b'content-length':
                n = int(v)
        if len(rest) < n:
            recv_exact(c, n - len(rest))
        if path == b'/slow':
            time.sleep(float(args[0]))
        text = b'<r>' + verb + b' ' + path + b'</r>'
        c.sendall(b'HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: %d\r\nConnection: close\r\n\r\n'
                  % len(text) + (b'' if verb == b'HEAD' else text))
        if path == b'/quit':
            done.set()
while not done.is_set():
    try:
        c, a = s.accept()
    except socket.timeout:
        continue
    threading.Thread(target=serve, args=(c,)).start()
)PY";

// How long the task's answer is held back, and how long the lock's holder
// gives a "queued" row's call to reach the lock.
constexpr int kTaskSeconds = 2;
constexpr auto kCallIntoTask = std::chrono::milliseconds(300);
constexpr const char* kS3Host = "storage.test";

// A result: absent when the call failed.
using CallResult = std::optional<std::string>;
CallResult Text(bool ok, XString& out) {
    return ok ? CallResult(out.getUtf8()) : std::nullopt;
}
CallResult Body(ClsHttpResponse* response) {
    const std::unique_ptr<ClsHttpResponse> kept(response);
    return kept ? CallResult(authtest::text(kept->getBody())) : std::nullopt;
}

// A request method of the component, called with the URL "/m/NAME" of the
// server (or the object NAME in the bucket "b") and a file in the row's
// folder; what its result holds of the answer to its own request ("" for
// a method that returns true alone).
struct WaitCall {
    const char* name;
    const char* answer;
    std::function<CallResult(ClsHttp&, XString& url, const std::string& file, int port)> call;
};

const std::vector<WaitCall>& WaitCalls() {
    static const std::vector<WaitCall> calls = [] {
        using H = ClsHttp;
        auto file = [](auto method) {
            return [method](H& h, XString& url, const std::string& f, int) -> CallResult {
                XString path;
                if (!(h.*method)(url, xbytes(path, f), false, nullptr, h.getLog()))
                    return std::nullopt;
                return grvtest::ReadFile(f);
            };
        };
        auto text = [](auto method) {
            return [method](H& h, XString& url, const std::string&, int) {
                XString out;
                return Text((h.*method)(url, out, false, nullptr, h.getLog()), out);
            };
        };
        auto send = [](bool put) {
            return [put](H& h, XString& url, const std::string&, int) {
                DataBuffer bytes;
                bytes.append("pain 4", 6);
                XString type, out;
                xbytes(type, "text/plain");
                return Text(put ? h.PutBinary(url, bytes, type, false, false, out, false, nullptr, h.getLog())
                                : h.PostBinary(url, bytes, type, false, false, out, false, nullptr, h.getLog()),
                            out);
            };
        };
        auto rpc = [](bool put) {
            return [put](H& h, XString& url, const std::string&, int) {
                XString xml, out;
                xbytes(xml, "<a/>");
                return Text(put ? h.XmlRpcPut(url, xml, out, false, nullptr, h.getLog())
                                : h.XmlRpc(url, xml, out, false, nullptr, h.getLog()),
                            out);
            };
        };
        // The object-storage methods on "b" and the object NAME.
        auto s3 = [](auto run) { return [run](H& h, XString&, const std::string& f, int) { return run(h, f); }; };
        return std::vector<WaitCall>{
            {"Download", "GET /m/Download</r>", file(&H::Download)},
            {"DownloadAppend", "GET /m/DownloadAppend</r>", file(&H::DownloadAppend)},
            {"ResumeDownload", "GET /m/ResumeDownload</r>", file(&H::ResumeDownload)},
            {"QuickGet", "GET /m/QuickGet</r>",
             [](H& h, XString& url, const std::string&, int) -> CallResult {
                 DataBuffer out;
                 return h.QuickGet(url, out, false, nullptr, h.getLog()) ? CallResult(authtest::text(out))
                                                                         : std::nullopt;
             }},
            {"QuickGetStr", "GET /m/QuickGetStr</r>", text(&H::QuickGetStr)},
            {"HttpGet", "GET /m/HttpGet</r>", text(&H::HttpGet)},
            {"QuickPutStr", "PUT /m/QuickPutStr</r>", text(&H::QuickPutStr)},
            {"QuickDeleteStr", "DELETE /m/QuickDeleteStr</r>", text(&H::QuickDeleteStr)},
            {"QuickGetObj", "GET /m/QuickGetObj</r>",
             [](H& h, XString& url, const std::string&, int) {
                 return Body(h.QuickGetObj(url, false, nullptr, h.getLog()));
             }},
            {"GetHead", "",
             [](H& h, XString& url, const std::string&, int) -> CallResult {
                 const std::unique_ptr<ClsHttpResponse> r(h.GetHead(url, false, nullptr, h.getLog()));
                 return r && r->getStatusCode() == 200u ? CallResult("") : std::nullopt;
             }},
            {"PostUrlEncoded", "POST /m/PostUrlEncoded</r>",
             [](H& h, XString& url, const std::string&, int) {
                 ClsHttpRequest request;
                 request.AddParam("n", "v");
                 return Body(h.PostUrlEncoded(url, request, false, nullptr, h.getLog()));
             }},
            {"PostXml", "POST /m/PostXml</r>",
             [](H& h, XString& url, const std::string&, int) {
                 XString xml, charset;
                 return Body(h.PostXml(url, xbytes(xml, "<a/>"), xbytes(charset, "utf-8"), false, nullptr, h.getLog()));
             }},
            {"PostMime", "POST /m/PostMime</r>",
             [](H& h, XString& url, const std::string&, int) {
                 XString mime;
                 return Body(
                     h.PostMime(url, xbytes(mime, "Content-Type: text/plain\r\n\r\nx"), false, nullptr, h.getLog()));
             }},
            {"PostBinary", "POST /m/PostBinary</r>", send(false)},
            {"PutBinary", "PUT /m/PutBinary</r>", send(true)},
            {"PutText", "PUT /m/PutText</r>",
             [](H& h, XString& url, const std::string&, int) {
                 XString text, charset, type, out;
                 return Text(h.PutText(url, xbytes(text, "pain"), xbytes(charset, "utf-8"), xbytes(type, "text/plain"),
                                       false, false, out, false, nullptr, h.getLog()),
                             out);
             }},
            {"XmlRpc", "POST /m/XmlRpc</r>", rpc(false)},
            {"XmlRpcPut", "PUT /m/XmlRpcPut</r>", rpc(true)},
            {"S3_ListBuckets", "GET /</r>", s3([](H& h, const std::string&) {
                 XString out;
                 return Text(h.S3_ListBuckets(out, nullptr, h.getLog()), out);
             })},
            {"S3_ListBucketObjects", "GET /</r>", s3([](H& h, const std::string&) {
                 XString b, out;
                 return Text(h.S3_ListBucketObjects(xbytes(b, "b"), out, nullptr, h.getLog()), out);
             })},
            {"S3_DownloadBytes", "GET /S3_DownloadBytes</r>", s3([](H& h, const std::string&) -> CallResult {
                 XString b, o;
                 DataBuffer out;
                 return h.S3_DownloadBytes(xbytes(b, "b"), xbytes(o, "S3_DownloadBytes"), out, nullptr, h.getLog())
                            ? CallResult(authtest::text(out))
                            : std::nullopt;
             })},
            {"S3_DownloadString", "GET /S3_DownloadString</r>", s3([](H& h, const std::string&) {
                 XString b, o, charset, out;
                 return Text(h.S3_DownloadString(xbytes(b, "b"), xbytes(o, "S3_DownloadString"),
                                                 xbytes(charset, "utf-8"), out, nullptr, h.getLog()),
                             out);
             })},
            {"S3_DownloadFile", "GET /S3_DownloadFile</r>", s3([](H& h, const std::string& f) -> CallResult {
                 XString b, o, path;
                 if (!h.S3_DownloadFile(xbytes(b, "b"), xbytes(o, "S3_DownloadFile"), xbytes(path, f), nullptr,
                                        h.getLog()))
                     return std::nullopt;
                 return grvtest::ReadFile(f);
             })},
            {"S3_UploadBytes", "", s3([](H& h, const std::string&) -> CallResult {
                 XString b, o, type;
                 DataBuffer bytes;
                 bytes.append("pain", 4);
                 return h.S3_UploadBytes(xbytes(b, "b"), xbytes(o, "S3_UploadBytes"), xbytes(type, "text/plain"), bytes,
                                         nullptr, h.getLog())
                            ? CallResult("")
                            : std::nullopt;
             })},
            {"S3_UploadString", "", s3([](H& h, const std::string&) -> CallResult {
                 XString b, o, type, charset, text;
                 return h.S3_UploadString(xbytes(b, "b"), xbytes(o, "S3_UploadString"), xbytes(type, "text/plain"),
                                          xbytes(charset, "utf-8"), xbytes(text, "pain"), nullptr, h.getLog())
                            ? CallResult("")
                            : std::nullopt;
             })},
            {"S3_UploadFile", "", s3([](H& h, const std::string& f) -> CallResult {
                 XString b, o, type, path;
                 return grvtest::WriteFile(f, "pain") &&
                                h.S3_UploadFile(xbytes(b, "b"), xbytes(o, "S3_UploadFile"), xbytes(type, "text/plain"),
                                                xbytes(path, f), nullptr, h.getLog())
                            ? CallResult("")
                            : std::nullopt;
             })},
            {"S3_DeleteObject", "", s3([](H& h, const std::string&) -> CallResult {
                 XString b, o;
                 return h.S3_DeleteObject(xbytes(b, "b"), xbytes(o, "S3_DeleteObject"), nullptr, h.getLog())
                            ? CallResult("")
                            : std::nullopt;
             })},
            {"S3_DeleteBucket", "", s3([](H& h, const std::string&) -> CallResult {
                 XString b;
                 return h.S3_DeleteBucket(xbytes(b, "b"), nullptr, h.getLog()) ? CallResult("") : std::nullopt;
             })},
            {"SynchronousRequest", "GET /m/SynchronousRequest</r>",
             [](H& h, XString&, const std::string&, int port) {
                 ClsHttpRequest request;
                 request.setPath("/m/SynchronousRequest");
                 return Body(h.SynchronousRequest("127.0.0.1", port, false, request, nullptr));
             }},
        };
    }();
    return calls;
}

// Whether the component's background task has taken the component's lock,
// which it holds for its whole run: looked at until it has, the task has
// ended or the limit has passed.
bool TaskHoldsTheLock(ClsHttp& http) {
    const auto held = grvtest::WaitFor(
        [&] {
            if (!http.tryEnterCriticalSection())
                return true;
            http.leaveCriticalSection();
            return false;
        },
        [&](bool taken) { return taken || !http.backgroundTaskBusy(); }, std::chrono::milliseconds(kTaskLimitMs));
    return held.seen;
}

// One "wait" row on a component of its own: its task fetches "/slow"; the
// call comes once the task holds the component's lock ("running"), while
// the task is queued behind the lock this thread holds ("queued"), or after
// it ("after"). The
// verdict: "sent" for success with the call's own result and log (after
// the task, where it ran), "refused" for a failure with the busy message,
// else what went wrong.
std::string WaitRowVerdict(const std::vector<std::string>& row, int port, const std::string& folder) {
    const auto found =
        std::find_if(WaitCalls().begin(), WaitCalls().end(), [&](const WaitCall& c) { return row[1] == c.name; });
    if (found == WaitCalls().end())
        return "no such method";
    const WaitCall& method = *found;
    const std::string base = "http://127.0.0.1:" + std::to_string(port);
    const std::string& moment = row[2];
    ClsHttp http;
    http.options().UseIEProxy = 0;
    // Set before the task: a setter waits for the lock.
    http.setS3ServiceHost((std::string(kS3Host) + ":" + std::to_string(port)).c_str());
    http.setS3Keys("key", "secret");
    XString url, slow;
    xbytes(url, base + "/m/" + method.name);
    CallResult result;
    bool taskEndedFirst = false;
    const auto call = [&] {
        result = method.call(http, url, folder + "/file", port);
        taskEndedFirst = !http.backgroundTaskBusy();
    };
    const auto queue = [&] {
        return http.queueBackgroundTask(BgMethod::QuickGetStr, "QuickGetStr",
                                        [&](ClsBgTask& t) { t.pushStringArg(xbytes(slow, base + "/slow")); });
    };
    const bool sync = std::string_view(method.name) == "SynchronousRequest";
    if (moment == "queued") {
        // The task waits for the lock this thread holds; only the holder's
        // log is free for a refusal's message.
        http.enterCriticalSection();
        const bool queued = queue();
        if (queued && sync)
            call();
        std::thread caller;
        if (queued && !sync) {
            caller = std::thread(call);
            std::this_thread::sleep_for(kCallIntoTask);
        }
        http.leaveCriticalSection();
        if (caller.joinable())
            caller.join();
        if (!queued)
            return "task not queued";
    } else {
        if (!queue())
            return "task not queued";
        if (moment == "after" && !http.waitForBackgroundTask(kTaskLimitMs))
            return "task did not end";
        if (moment == "running" && !TaskHoldsTheLock(http))
            return "task not seen running";
        std::thread caller(call);
        caller.join();
    }
    if (!http.waitForBackgroundTask(kTaskLimitMs))
        return "task did not end";
    XString taskText;
    http.backgroundStringResult(taskText);
    const std::string log = authtest::logText(http.getLog());
    std::string verdict;
    if (!http.backgroundTaskResult() || std::string(taskText.getUtf8()) != "<r>GET /slow</r>")
        verdict = "task lost its result: " + std::string(taskText.getUtf8());
    else if (!result)
        verdict = log.find(bg_msg::kBusy) != std::string::npos ? "refused" : "failed: " + log;
    else if (result->find(method.answer) == std::string::npos)
        verdict = "not its own result: " + *result;
    else if (log.find(std::string(method.name) + ":") == std::string::npos)
        verdict = "not its own log: " + log;
    else if (moment == "running" && !taskEndedFirst)
        verdict = "ran before the task ended";
    else
        verdict = "sent";
    return verdict;
}

} // namespace

// A request on the background thread travels as its XML form: it must send
// byte for byte what the same request object sends on the direct road, and
// be refused where that one is.
TEST_F(FieldRefusals, BackgroundRoadSendsWhatTheDirectRoadSends) {
    const int port = peers.StartCaptureServer();
    const auto rows = grvtest::ReadTable(std::string(GRV_TEST_DATA_DIR) + "/http/background-requests.txt", " | ");
    ASSERT_EQ(rows.size(), 128u);
    std::size_t captured = 0;
    std::vector<std::vector<std::string>> waits;
    for (const std::vector<std::string>& row : rows) {
        ASSERT_EQ(row.size(), 4u);
        SCOPED_TRACE(row[0] + " " + row[1] + " " + row[2]);
        if (row[0] == "slow") {
            SlowAnswerLeavesTheStatusCallsFree(row);
            continue;
        }
        if (row[0] == "wait") {
            waits.push_back(row);
            continue;
        }
        std::string seen[2], why[2];
        for (FieldRoad road : {FieldRoad::kComponent, FieldRoad::kBackgroundComponent}) {
            const int i = road == FieldRoad::kComponent ? 0 : 1;
            ClsHttp http;
            http.options().UseIEProxy = 0;
            ClsHttpRequest request;
            BuildRequest(row, request, dir.File("body"));
            std::string text;
            const bool ok = Run(road, Transport::kPlain, port, http, request, "", text);
            const std::vector<std::string> got = peers.CapturedRequests(port);
            seen[i] = got.size() > captured ? WithoutBoundary(got.back()) : "refused";
            captured = got.size();
            EXPECT_EQ(ok, seen[i] != "refused") << text;
            for (const char* reason : {url_msg::kControlByteInUrl, url_msg::kMalformedField, url_msg::kVerbNotToken,
                                       url_msg::kBadHttpVersion})
                if (text.find(reason) != std::string::npos)
                    why[i] = reason;
        }
        EXPECT_EQ(seen[0] == "refused" ? "refused" : "sent", row[3]) << seen[0];
        EXPECT_EQ(seen[1], seen[0]);
        EXPECT_EQ(why[1], why[0]);
    }
    // The "wait" rows, each on a component of its own, all at once.
    platform::SetResolverHook([](const std::string& host) -> std::string {
        return host == "127.0.0.1" || host.ends_with(kS3Host) ? "127.0.0.1" : "";
    });
    grvtest::ScriptPeer server(kScriptAnswersEach, {std::to_string(kTaskSeconds)});
    std::vector<std::string> verdicts(waits.size());
    std::vector<std::thread> runs;
    for (std::size_t i = 0; i < waits.size(); ++i) {
        const std::string folder = dir.File("wait" + std::to_string(i));
        std::filesystem::create_directory(folder);
        runs.emplace_back([&, i, folder] { verdicts[i] = WaitRowVerdict(waits[i], server.port, folder); });
    }
    for (std::thread& run : runs)
        run.join();
    platform::SetResolverHook({});
    for (std::size_t i = 0; i < waits.size(); ++i)
        EXPECT_EQ(verdicts[i], waits[i][3]) << waits[i][1] << " " << waits[i][2];
    ClsHttp last;
    last.options().UseIEProxy = 0;
    XString quit, reply;
    EXPECT_TRUE(last.QuickGetStr(xbytes(quit, "http://127.0.0.1:" + std::to_string(server.port) + "/quit"), reply,
                                 false, nullptr, last.getLog()));
    server.Finish();
}
