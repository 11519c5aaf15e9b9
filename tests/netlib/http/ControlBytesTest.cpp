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

#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/http/TsHttp.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TextServices.h"
#include "platform/Winsock.h"
#include "tests/netlib/http/AuthTestSupport.h"
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
             const std::string& contentType, std::string& text) {
        const bool tls = t == Transport::kTls || t == Transport::kTunnel;
        const std::string url = std::string(tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port) + "/";
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
