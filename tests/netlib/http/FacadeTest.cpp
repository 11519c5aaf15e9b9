// The public facade: texts converted on the way in, the ring of returned
// strings, response ownership, the body as text and the event adapter.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "netlib/http/ClsHttpRequest.h"
#include "netlib/http/ClsHttpResponse.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/TsHttp.h"
#include "netlib/http/TsHttpCb.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

struct AnsiPage {
    explicit AnsiPage(unsigned page) { platform::SetAnsiCodePageOverride(page); }
    ~AnsiPage() { platform::SetAnsiCodePageOverride(0); }
};

// The request as it would go on the wire.
std::string wire(TsHttpRequest& request) {
    DataBuffer out;
    StringBuffer head;
    LogNull log;
    request.impl().request().generateRequest(out, head, nullptr, nullptr, nullptr, log);
    return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
}

void setBody(TsHttpResponse& response, const std::string& bytes) {
    DataBuffer& body = response.impl().getBody();
    body.clear();
    body.append(bytes.data(), static_cast<unsigned>(bytes.size()));
}

TEST(Facade, RequestTextsArriveAsUtf8FromEitherEncoding) {
    AnsiPage cp1252(1252);
    TsHttpRequest ansi;
    ansi.UsePostUrlEncoded();
    ansi.AddParam("caf\xE9", "\x80");
    TsHttpRequest utf8;
    utf8.setUtf8(true);
    utf8.AddParam("caf\xC3\xA9", "\xE2\x82\xAC");
    utf8.UsePostUrlEncoded();
    for (TsHttpRequest* r : {&ansi, &utf8})
        EXPECT_EQ(wire(*r), "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                            "Content-Length: 19\r\n\r\ncaf%C3%A9=%E2%82%AC");

    // Filling from a URL drops the parameters set so far and keeps the
    // path and query, not the host.
    ansi.SetFromUrl("http://h\xE9.example/p?q=1");
    EXPECT_EQ(wire(ansi), "POST /p HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                          "Content-Length: 3\r\n\r\nq=1");
    EXPECT_STREQ(ansi.impl().getLastUrl().getString(), "http://h\xE9.example/p?q=1");
}

TEST(Facade, RequestObjectSettersAndItsXmlForm) {
    struct Step {
        std::function<void(ClsHttpRequest&)> apply;
        const char* wire;
    };
    DataBuffer xml;
    xml.append("<a/>", 4);
    const Step steps[] = {
        {[](ClsHttpRequest& r) { r.UsePostUrlEncoded(); },
         "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n\r\n"},
        {[](ClsHttpRequest& r) {
             r.UsePostUrlEncoded();
             r.AddParam("k", "v");
         },
         "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 3\r\n\r\nk=v"},
        {[](ClsHttpRequest& r) { r.setHeadVerb(); }, "HEAD /?k=v HTTP/1.1\r\n\r\n"},
        {[&xml](ClsHttpRequest& r) { r.setXmlPutBody(xml, "utf-8"); },
         "PUT / HTTP/1.1\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: 4\r\n\r\n<a/>"},
    };
    ClsHttpRequest request;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.wire);
        step.apply(request);
        DataBuffer out;
        StringBuffer head;
        LogNull log;
        request.request().generateRequest(out, head, nullptr, nullptr, nullptr, log);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.getData()), out.getSize()), step.wire);
        // The XML form carries the request whole to another object.
        XString form;
        request.ToXml(form);
        ClsHttpRequest copy;
        copy.loadFromXml(form.getUtf8());
        DataBuffer copied;
        copy.request().generateRequest(copied, head, nullptr, nullptr, nullptr, log);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(copied.getData()), copied.getSize()), step.wire);
    }
}

TEST(Facade, FailedRequestGivesNullAndTheReason) {
    TsHttp http;
    TsHttpRequest request;
    request.UsePostUrlEncoded();
    request.SetFromUrl("http://stats.gorvane.invalid/usage");
    request.AddParam("a", "a");
    EXPECT_EQ(http.SynchronousRequest("stats.gorvane.invalid", 80, false, request), nullptr);
    std::string text = http.LastErrorText();
    EXPECT_NE(text.find("  SynchronousRequest:\r\n"), std::string::npos);
    EXPECT_NE(text.find("Domain name lookup failed.."), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 13), "    Failed.\r\n");
}

TEST(Facade, TenReturnedStringsStayValidAtOnce) {
    TsHttpResponse response;
    std::vector<const char*> returned;
    for (int i = 0; i < 10; ++i) {
        setBody(response, "body " + std::to_string(i));
        returned.push_back(response.BodyStr());
    }
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(std::string(returned[i]), "body " + std::to_string(i));
    // The eleventh takes the first one's slot; the other nine stay.
    setBody(response, "body 10");
    EXPECT_STREQ(response.BodyStr(), "body 10");
    for (int i = 1; i < 10; ++i)
        EXPECT_EQ(std::string(returned[i]), "body " + std::to_string(i));
}

TEST(Facade, SetImplTakesOverANewResponseAndIgnoresNull) {
    TsHttpResponse response;
    auto* impl = new ClsHttpResponse;
    impl->getBody().append("taken", 5);
    response.setImpl(impl);
    response.setImpl(nullptr);
    EXPECT_STREQ(response.BodyStr(), "taken");
    EXPECT_EQ(&response.impl(), impl);
}

// Bodies without a preamble are windows-1252, as python's codec reads them.
TEST(BodyStr, ReadsWindows1252UnlessAUtf8PreambleSaysOtherwise) {
    std::string printable;
    for (int b = 0x20; b <= 0xFF; ++b)
        if (b != 0x7F && b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D)
            printable += static_cast<char>(b);
    grvtest::RunResult peer = grvtest::Python(
        "import sys; sys.stdout.buffer.write(sys.stdin.buffer.read().decode('cp1252').encode('utf-8'))", {}, printable);
    ASSERT_TRUE(peer.Ok()) << peer.err;

    const std::string meta = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=koi8-r\">"
                             "</head><body>\xF0\xD2\xC9\xD7\xC5\xD4</body></html>";
    const grvtest::RunResult koi8 = grvtest::Python(
        "import sys; sys.stdout.buffer.write(sys.stdin.buffer.read().decode('koi8-r').encode('utf-8'))", {}, meta);
    ASSERT_TRUE(koi8.Ok()) << koi8.err;
    const grvtest::RunResult plain = grvtest::Python(
        "import sys; sys.stdout.buffer.write(sys.stdin.buffer.read().decode('cp1252', 'ignore').encode())", {}, meta);
    ASSERT_TRUE(plain.Ok()) << plain.err;
    struct Case {
        std::string body;
        const char* contentType; // the response's field, or none
        std::string text;
        const char* charsetLine;
    } cases[] = {
        {printable, nullptr, peer.out, "charset: windows-1252"},
        {"\xEF\xBB\xBF"
         "A",
         nullptr, "A", "charset: utf-8"},
        {"\xEF\xBB\xBF"
         "A",
         "text/plain; charset=iso-8859-1", "A", "charset: utf-8"},
        {"\xEF\xBB\xBF", nullptr, "", "charset: utf-8"},
        {"", nullptr, "", "charset: windows-1252"},
        // An HTML page's own declaration counts only for HTML, 7-bit or not.
        {meta, "text/html", koi8.out, "charset: koi8-r"},
        {meta, "text/plain", plain.out, "charset: windows-1252"},
        {"<meta charset=\"koi8-r\">plain", "text/html", "<meta charset=\"koi8-r\">plain", "charset: koi8-r"},
        // An XML document's declaration counts for XML; without one it is
        // UTF-8.
        {"<?xml version=\"1.0\" encoding=\"koi8-r\"?><a>\xF0\xD2</a>", "application/xml",
         "<?xml version=\"1.0\" encoding=\"koi8-r\"?><a>\xD0\x9F\xD1\x80</a>", "charset: koi8-r"},
        {"<Key>caf\xC3\xA9</Key>", "application/xml", "<Key>caf\xC3\xA9</Key>", "charset: utf-8"},
    };
    TsHttpResponse response;
    response.setUtf8(true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.charsetLine);
        std::string head = "HTTP/1.1 200 OK\r\n";
        if (c.contentType != nullptr)
            head += std::string("Content-Type: ") + c.contentType + "\r\n";
        LogNull quiet;
        response.impl().getResult().responseHeader.parse((head + "\r\n").c_str(), quiet);
        setBody(response, c.body);
        EXPECT_EQ(std::string(response.BodyStr()), c.text);
        XString log;
        response.impl().getLastErrorText(log, false);
        EXPECT_NE(std::string(log.getUtf8()).find(c.charsetLine), std::string::npos) << log.getUtf8();
    }
}

TEST(BodyStr, AnsiResultFollowsTheProcessCodePage) {
    AnsiPage cp1252(1252);
    TsHttpResponse response;
    setBody(response, "caf\xE9");
    EXPECT_STREQ(response.BodyStr(), "caf\xE9");
    response.setUtf8(true);
    EXPECT_STREQ(response.BodyStr(), "caf\xC3\xA9");
}

// Records each call as "slot(args)".
class RecordingSink : public TsHttpEventSink {
public:
    void AbortCheck(bool* abort) override { note("AbortCheck", "", abort); }
    void PercentDone(int percent, bool* abort) override { note("PercentDone", std::to_string(percent), abort); }
    void ProgressInfo(const char* name, const char* value) override {
        calls.push_back(std::string("ProgressInfo(") + name + "," + value + ")");
    }
    void HttpRedirect(const char* from, const char* to, bool* abort) override {
        note("HttpRedirect", std::string(from) + "," + to, abort);
    }
    void HttpChunked() override { calls.push_back("HttpChunked()"); }
    void HttpBeginReceive() override { calls.push_back("HttpBeginReceive()"); }
    void HttpEndReceive(bool ok) override { calls.push_back(std::string("HttpEndReceive(") + (ok ? "1" : "0") + ")"); }
    void HttpBeginSend() override { calls.push_back("HttpBeginSend()"); }
    void HttpEndSend(bool ok) override { calls.push_back(std::string("HttpEndSend(") + (ok ? "1" : "0") + ")"); }
    void ReceiveRate(unsigned int soFar, unsigned int perSecond) override {
        calls.push_back("ReceiveRate(" + std::to_string(soFar) + "," + std::to_string(perSecond) + ")");
    }
    std::vector<std::string> calls;

private:
    // Asks for an abort, so the flag's way back is seen too.
    void note(const char* slot, const std::string& args, bool* abort) {
        calls.push_back(std::string(slot) + "(" + args + ")");
        *abort = true;
    }
};

TEST(EventAdapter, ForwardsEachProgressSlotToItsSinkSlot) {
    struct Case {
        std::function<void(ProgressEvent&, bool*)> fire;
        const char* call;
        bool aborts;
    } cases[] = {
        {[](ProgressEvent& e, bool* a) { e.PercentDone(40, a); }, "PercentDone(40)", true},
        {[](ProgressEvent& e, bool* a) { e.AbortCheck(a); }, "AbortCheck()", true},
        {[](ProgressEvent& e, bool* a) { e.HeartbeatCheck(7, a); }, "AbortCheck()", true},
        {[](ProgressEvent& e, bool*) { e.ProgressInfo("DnsLookup", "host"); }, "ProgressInfo(DnsLookup,host)", false},
        {[](ProgressEvent& e, bool*) { e.ReceiveRate(1000, 250); }, "ReceiveRate(1000,250)", false},
        {[](ProgressEvent& e, bool*) { e.BeginChunkedResponse(); }, "HttpChunked()", false},
        {[](ProgressEvent& e, bool*) { e.BeginReceiveResponse(); }, "HttpBeginReceive()", false},
        {[](ProgressEvent& e, bool*) { e.EndReceiveResponse(1); }, "HttpEndReceive(1)", false},
        {[](ProgressEvent& e, bool*) { e.BeginSendRequest(); }, "HttpBeginSend()", false},
        {[](ProgressEvent& e, bool*) { e.EndSendRequest(0); }, "HttpEndSend(0)", false},
        {[](ProgressEvent& e, bool* a) { e.RedirectCheck("http://a/", "http://b/", a); },
         "HttpRedirect(http://a/,http://b/)", true},
        // Slots the application has no counterpart for.
        {[](ProgressEvent& e, bool*) { e.SendRate(5, 6); }, nullptr, false},
    };
    for (const Case& c : cases) {
        RecordingSink sink;
        TsHttpCb forwarding(&sink);
        bool abort = false;
        c.fire(forwarding, &abort);
        EXPECT_EQ(sink.calls, c.call ? std::vector<std::string>{c.call} : std::vector<std::string>{});
        EXPECT_EQ(abort, c.aborts) << (c.call ? c.call : "SendRate");

        TsHttpCb dropping(nullptr);
        bool untouched = false;
        c.fire(dropping, &untouched);
        EXPECT_FALSE(untouched);
    }
}

} // namespace
