// The request model and its renderings: the usage form POST to golden bytes
// decoded by python's parse_qs, the url-encoded and raw forms, the start
// line and header rules, and both multipart writers parsed back by python's
// email parser.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TextServices.h"
#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string str(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

std::string render(HttpRequest& req, const char* authValue = nullptr) {
    DataBuffer out;
    StringBuffer headerText;
    LogNull log;
    EXPECT_TRUE(req.generateRequest(out, headerText, nullptr, nullptr, authValue, log));
    return str(out);
}

// Splits a request into head and body, checks Content-Length against the
// body and prints each part as "name|filename|content-type|hex payload".
constexpr const char* kMultipartJudge = R"PY(
import sys, email.parser, email.policy
raw = sys.stdin.buffer.read()
head, _, body = raw.partition(b"\r\n\r\n")
fields = {}
for line in head.split(b"\r\n")[1:]:
    k, _, v = line.partition(b":")
    fields[k.strip().lower()] = v.strip()
assert int(fields[b"content-length"]) == len(body), (fields[b"content-length"], len(body))
msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
    b"Content-Type: " + fields[b"content-type"] + b"\r\n\r\n" + body)
assert msg.is_multipart() and not msg.defects, msg.defects
for part in msg.iter_parts():
    print("%s|%s|%s|%s" % (part.get_param("name", header="content-disposition"),
        part.get_filename() or "", part.get("Content-Type", ""), part.get_payload(decode=True).hex()))
)PY";

struct Part {
    std::string name;
    std::string filename;
    std::string contentType;
    std::string payload;
};

std::string expectedParts(const std::vector<Part>& parts) {
    std::string out;
    for (const Part& p : parts) {
        out += p.name + "|" + p.filename + "|" + p.contentType + "|" + grvtest::ToHex(p.payload) + "\n";
    }
    return out;
}

class RequestModel : public ::testing::Test {
protected:
    void SetUp() override { installTextServices(); }
};

} // namespace

TEST_F(RequestModel, UsagePostRendersGoldenBytesThatParseQsDecodes) {
    HttpRequest req;
    req.setVerb("POST");
    req.setHeader("Content-Type", "application/x-www-form-urlencoded");
    req.setPath("/usage/post.php");
    req.addParam("a", "a");
    req.addParam("ud", "0a1b2c3d4e5f");
    req.addParam("ac", "New Entry");
    req.setHeader("Host", "stats.example.org");
    const std::string wire = render(req);
    EXPECT_EQ(wire, "POST /usage/post.php HTTP/1.1\r\n"
                    "Content-Type: application/x-www-form-urlencoded\r\n"
                    "Host: stats.example.org\r\n"
                    "Content-Length: 32\r\n\r\n"
                    "a=a&ud=0a1b2c3d4e5f&ac=New+Entry");
    const grvtest::RunResult parsed =
        grvtest::Python("import sys,urllib.parse;print(sorted(urllib.parse.parse_qs(sys.stdin.read()).items()))", {},
                        wire.substr(wire.find("\r\n\r\n") + 4));
    EXPECT_EQ(parsed.out, "[('a', ['a']), ('ac', ['New Entry']), ('ud', ['0a1b2c3d4e5f'])]\n");
    // Rendering again leaves one Content-Length, still last.
    EXPECT_EQ(render(req), wire);
}

TEST_F(RequestModel, EncodedFormsAndStartLines) {
    struct Case {
        const char* name;
        const char* verb;
        const char* contentType;
        std::vector<std::pair<const char*, const char*>> params;
        const char* auth;
        const char* expected;
    };
    const Case cases[] = {
        {"new request", "GET", nullptr, {}, nullptr, "GET / HTTP/1.1\r\n\r\n"},
        {"unreserved marks and UTF-8 escaped",
         "POST",
         nullptr,
         {{"v", "-._~ \xC3\xA9"}},
         nullptr,
         "POST / HTTP/1.1\r\nContent-Length: 21\r\n\r\nv=%2D%2E%5F%7E+%C3%A9"},
        {"names escaped like values",
         "POST",
         nullptr,
         {{"a&b=c%d+e", "1"}, {"plain", "2"}},
         nullptr,
         "POST / HTTP/1.1\r\nContent-Length: 27\r\n\r\na%26b%3Dc%25d%2Be=1&plain=2"},
        {"GET sends the query",
         "get",
         nullptr,
         {{"q", "a b"}, {"q", "a b"}},
         nullptr,
         "get /?q=a+b&q=a+b HTTP/1.1\r\n\r\n"},
        {"POST without parameters says its body is empty",
         "POST",
         "application/x-www-form-urlencoded",
         {},
         nullptr,
         "POST / HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 0\r\n\r\n"},
        {"so does an empty PUT", "PUT", nullptr, {}, nullptr, "PUT / HTTP/1.1\r\nContent-Length: 0\r\n\r\n"},
        {"DELETE sends no body", "DELETE", nullptr, {}, nullptr, "DELETE / HTTP/1.1\r\n\r\n"},
        {"authorization moves parameters to the query",
         "POST",
         nullptr,
         {{"k", "v w"}},
         "Basic eHk=",
         "POST /?k=v+w HTTP/1.1\r\nAuthorization: Basic eHk=\r\n\r\n"},
        {"text/plain is not encoded",
         "POST",
         "text/plain",
         {{"k", "v w&"}, {"x", "%"}},
         nullptr,
         "POST / HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n\r\nk=v w&&x=%"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HttpRequest req;
        req.setVerb(c.verb);
        if (c.contentType != nullptr)
            req.setHeader("Content-Type", c.contentType);
        for (const auto& [n, v] : c.params)
            req.addParam(n, v);
        EXPECT_EQ(render(req, c.auth), c.expected);
    }
}

TEST_F(RequestModel, SettersAndUrlLoading) {
    const std::pair<const char*, const char*> paths[] = {
        {"", "/"}, {"  ", "/"}, {"\\a\\b", "/a/b"}, {"x/y", "/x/y"}, {" /p ", "/p"}};
    for (const auto& [in, want] : paths) {
        HttpRequest req;
        req.setPath(in);
        StringBuffer got;
        req.getPath(got);
        EXPECT_STREQ(got.getString(), want) << in;
    }

    HttpRequest req;
    req.addParam(" a b\tc\t", "x\ny\r\nz");
    req.setFromUrl("HTTP://u:p@Host:81/p%20q?n1=v1&n2=%2B+x&n3#frag", false);
    StringBuffer path;
    req.getPath(path);
    EXPECT_STREQ(path.getString(), "/p%20q");
    StringBuffer encoded;
    req.reqData().joinParamsRaw(encoded, "utf-8");
    EXPECT_EQ(std::string(encoded.getString()), "abc=x\r\ny\r\nz&n1=v1&n2=+ x&n3=");
    req.setFromUrl("/only?z=1", true);
    EXPECT_EQ(req.reqData().getCount(), 1);

    // hasBody by verb and content.
    HttpRequest put;
    put.setVerb("PUT");
    EXPECT_FALSE(put.hasBody());
    DataBuffer body;
    body.appendStr("payload");
    put.setAltBody(body);
    EXPECT_TRUE(put.hasBody());
    EXPECT_EQ(render(put), "PUT / HTTP/1.1\r\nContent-Length: 7\r\n\r\npayload");
    for (const char* verb : {"get", "HEAD", "Delete"}) {
        put.setVerb(verb);
        EXPECT_FALSE(put.hasBody()) << verb;
    }

    // Setting a field again moves it last; blanks remove it; the charset is
    // added for the rendering only.
    HttpRequest h;
    h.setVerb("POST");
    h.setHeader("Content-Type", "application/x-www-form-urlencoded; x=1");
    h.setHeader("A", "1");
    h.setHeader("B", "2");
    h.setHeader("A", "3");
    h.setHeader("B", "   ");
    h.setSendCharset(true);
    h.setCharset("iso-8859-1");
    h.addParam("n", "\xC3\xA9");
    // The swapped-in Content-Type is set again afterwards, so it renders last.
    EXPECT_EQ(render(h), "POST / HTTP/1.1\r\nA: 3\r\nContent-Length: 5\r\nContent-Type: "
                         "application/x-www-form-urlencoded; charset=\"iso-8859-1\"\r\n\r\nn=%E9");
    StringBuffer stored;
    EXPECT_TRUE(h.getHeader("content-type", stored));
    EXPECT_STREQ(stored.getString(), "application/x-www-form-urlencoded; x=1");
    EXPECT_FALSE(h.hasHeader("B"));
}

TEST_F(RequestModel, MultipartBodiesParseWithPythonEmail) {
    grvtest::TempDir dir;
    const grvtest::Bytes fileBytes = grvtest::RandomBytes(70000, 7);
    const std::string filePath = dir.File("scan.PNG");
    ASSERT_TRUE(grvtest::WriteFile(filePath, fileBytes));
    const std::string fileText(fileBytes.begin(), fileBytes.end());

    auto build = [&](HttpRequest& req, const char* charset) {
        req.setVerb("POST");
        req.setPath("/upload");
        req.setCharset(charset);
        req.setHeader("Content-Type", "multipart/form-data");
        req.setHeader("Host", "127.0.0.1");
        req.addParam("note", "caf\xC3\xA9\nline");
        auto* file = new HttpRequestItem;
        file->name.setFromUtf8("img");
        file->filePath.setFromUtf8(filePath.c_str());
        file->stream = true;
        req.reqData().addItem(file);
        auto* typed = new HttpRequestItem;
        typed->name.setFromUtf8("raw");
        typed->contentType.setString("application/x-thing");
        typed->data.appendStr("\x01\x02--\r\n");
        req.reqData().addItem(typed);
    };
    const std::vector<Part> inMemory = {{"note", "", "", "caf\xC3\xA9\r\nline"},
                                        {"img", filePath, "image/png", fileText},
                                        {"raw", "", "", "\x01\x02--\r\n"}};

    HttpRequest mem;
    build(mem, "utf-8");
    const grvtest::RunResult judged = grvtest::Python(kMultipartJudge, {}, render(mem));
    EXPECT_EQ(judged.out + judged.err, expectedParts(inMemory));

    // The streamed writer: its own content types, a non-ANSI charset.
    HttpRequest streamed;
    build(streamed, "ISO-8859-1");
    DataBuffer sink;
    OutputDataBuffer out(&sink);
    StringBuffer headerText;
    LogNull log;
    StringBuffer head;
    head.append("POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    StringBuffer boundary;
    generateBoundary(boundary);
    ASSERT_TRUE(streamed.reqData().streamMultipart(boundary.getString(), "ISO-8859-1", out, head, headerText, log,
                                                   nullptr, false));
    std::vector<Part> streamedParts = inMemory;
    streamedParts[0].payload = "caf\xE9\r\nline";
    streamedParts[2].contentType = "application/x-thing";
    const grvtest::RunResult judged2 = grvtest::Python(kMultipartJudge, {}, str(sink));
    EXPECT_EQ(judged2.out + judged2.err, expectedParts(streamedParts));
    EXPECT_EQ(str(sink).rfind(headerText.getString(), 0), 0u);
}

// A file item that is a FIFO, its writer there first or the request first:
// read to its end, as python's read() of it is, in memory and streamed, and
// the Content-Length said is the body's. A body file that is a FIFO cannot
// say its length before it: the request is refused, never sent empty.
TEST_F(RequestModel, AFifoFileIsReadToItsEndOrRefusedWhicheverComesFirst) {
    grvtest::TempDir dir;
    const std::string fifo = dir.File("in.bin");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const grvtest::Bytes bytes = grvtest::RandomBytes(200001, 11);
    const std::string data(bytes.begin(), bytes.end());
    for (const bool writerFirst : {true, false}) {
        for (const bool streamed : {false, true}) {
            SCOPED_TRACE(std::string(streamed ? "streamed, " : "in memory, ") +
                         (writerFirst ? "writer first" : "request first"));
            const std::string python = grvtest::PythonReadOfFifo(fifo, data, writerFirst);
            ASSERT_TRUE(python == data);
            HttpRequest req;
            req.setVerb("POST");
            req.setPath("/upload");
            req.setHeader("Content-Type", "multipart/form-data");
            req.setHeader("Host", "127.0.0.1");
            auto* file = new HttpRequestItem;
            file->name.setFromUtf8("f");
            file->filePath.setFromUtf8(fifo.c_str());
            file->stream = true;
            req.reqData().addItem(file);
            std::string sent;
            grvtest::FeedFifo(fifo, data, writerFirst, [&] {
                if (!streamed) {
                    sent = render(req);
                    return;
                }
                DataBuffer sink;
                OutputDataBuffer out(&sink);
                StringBuffer head, headerText, boundary;
                LogNull log;
                head.append("POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n");
                generateBoundary(boundary);
                EXPECT_TRUE(req.reqData().streamMultipart(boundary.getString(), "utf-8", out, head, headerText, log,
                                                          nullptr, false));
                sent = str(sink);
            });
            const grvtest::RunResult judged = grvtest::Python(kMultipartJudge, {}, sent);
            EXPECT_EQ(judged.err, "");
            const std::string payload = "|" + grvtest::ToHex(python) + "\n";
            EXPECT_TRUE(judged.out.size() > payload.size() &&
                        judged.out.compare(judged.out.size() - payload.size(), payload.size(), payload) == 0)
                << judged.out.substr(0, 200);
        }
    }
    HttpRequest put;
    put.setVerb("PUT");
    put.setBodyFilePath(fifo.c_str());
    DataBuffer out;
    StringBuffer headerText;
    LogNull log;
    EXPECT_FALSE(put.generateRequest(out, headerText, nullptr, nullptr, nullptr, log));
}

// A form's file that grows between the length summed and its bytes: the
// length said is what goes out, and the write fails, where the file went
// out whole, past the Content-Length.
TEST_F(RequestModel, AFormFileThatGrowsWhileSentFailsTheWrite) {
    grvtest::TempDir dir;
    const std::string path = dir.File("scan.bin");
    ASSERT_TRUE(grvtest::WriteFile(path, grvtest::RandomBytes(70001, 3)));
    HttpRequest req;
    auto* file = new HttpRequestItem;
    file->name.setFromUtf8("f");
    file->filePath.setFromUtf8(path.c_str());
    file->stream = true;
    req.reqData().addItem(file);
    DataBuffer sink;
    OutputDataBuffer out(&sink);
    StringBuffer head, headerText, boundary;
    head.append("POST /upload HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    generateBoundary(boundary);
    grvtest::GrowFileAt grow(path, "UploadFilename");
    ProgressMonitor monitor(&grow, 0);
    LogNull log;
    EXPECT_FALSE(
        req.reqData().streamMultipart(boundary.getString(), "utf-8", out, head, headerText, log, &monitor, false));
    const std::string sent = str(sink);
    const std::size_t body = sent.find("\r\n\r\n") + 4;
    EXPECT_LE(sent.size() - body, std::stoull(sent.substr(sent.find("Content-Length: ") + 16)));
}

TEST_F(RequestModel, XmlFormRestoresTheRequest) {
    HttpRequest req;
    req.setVerb("PUT");
    req.setPath("/p\xC3\xA9/x=y");
    req.setCharset("iso-8859-1");
    req.setSendCharset(true);
    req.setHeader("Content-Type", "text/plain; q=1");
    req.setHeader("X-Note", "caf\xC3\xA9 = ok");
    req.addParam("n", "v\nw");
    auto* typed = new HttpRequestItem;
    typed->name.setFromUtf8("f");
    typed->filePath.setFromUtf8("/tmp/a b.bin");
    typed->contentType.setString("application/x-thing");
    typed->data.appendStr("\x01\x02\xFF");
    req.reqData().addItem(typed);
    DataBuffer body;
    body.appendStr("alt\r\nbody");
    req.setAltBody(body);

    ClsXml saved;
    saved.setTag("request");
    LogNull log;
    req.saveXml(saved, log);
    StringBuffer xml;
    ASSERT_TRUE(saved.getXmlSb(xml));
    ClsXml loaded;
    ASSERT_TRUE(loaded.LoadXml(xml.getString(), false));
    HttpRequest back;
    back.loadXml(loaded, log);

    ClsXml again;
    again.setTag("request");
    back.saveXml(again, log);
    StringBuffer xml2;
    ASSERT_TRUE(again.getXmlSb(xml2));
    EXPECT_STREQ(xml2.getString(), xml.getString());
    EXPECT_EQ(render(back), render(req));
}
