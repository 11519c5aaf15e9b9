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
enum class Road { kQuickGet, kPutBinary, kPostMime, kGetDriver, kComponent, kFacade, kObjectStorage };

struct Byte {
    const char* name;
    char c;
};
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
        } else if (road == Road::kComponent) {
            // The path and query through SetFromUrl, which takes UTF-8 with
            // its NULs; the domain as the C string it is.
            ClsHttpRequest request;
            XString pathUrl;
            request.SetFromUrl(xbytes(pathUrl, Target{"127.0.0.1", t.path, t.query}.Url(port)), true);
            std::unique_ptr<ClsHttpResponse> r(http.SynchronousRequest(t.host.c_str(), port, false, request, nullptr));
            ok = r != nullptr;
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
    return road == Road::kGetDriver || road == Road::kFacade || (road == Road::kComponent && part == Part::kHost);
}

} // namespace

TEST_F(ControlBytes, UrlsHoldingControlBytesAreRefusedOnEveryRoad) {
    const Road roads[] = {Road::kQuickGet,  Road::kPutBinary, Road::kPostMime,     Road::kGetDriver,
                          Road::kComponent, Road::kFacade,    Road::kObjectStorage};
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
                EXPECT_NE(text.find(url_msg::kControlByteInUrl), std::string::npos) << text;
                EXPECT_EQ(peers.CapturedRequests(port).size(), 0u);
                ++refused;
            }
        }
    }
    EXPECT_EQ(refused, 93u);
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
            EXPECT_NE(text.find(url_msg::kLineBreakInField), std::string::npos) << text;
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
