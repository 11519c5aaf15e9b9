// The charset a body names, on the roads that take one from it: XML served
// as text/xml without a charset, read through QuickGetStr and XmlRpc and
// judged by libxml2 and expat on the same bytes, and XmlRpc's requests
// judged by python's xmlrpc.client (expat) on what the server received.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/ClsHttpRequest.h"
#include "netlib/http/ClsHttpResponse.h"
#include "netlib/http/MimeHeader.h"
#include "netlib/text/BodyText.h"
#include "platform/Winsock.h"

#include "tests/netlib/core/XmlTestSupport.h"
#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/netlib/transport/ScriptPeer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using grvtest::X;
using BodyCharset = grvtest::ComponentPeerTest;

// Answers "VERB /NAME" with the bytes of the file NAME of the folder args[0]
// as text/xml, no charset, and keeps a request's body as NAME.request;
// "/quit" ends it.
constexpr const char* kServeFolder = R"PY(
s = listen()
while True:
    c, a = s.accept()
    data = recv_head(c)
    head, _, body = data.partition(b'\r\n\r\n')
    lines = head.split(b'\r\n')
    name = lines[0].split(b' ')[1].decode()[1:]
    length = [int(l.split(b':')[1]) for l in lines[1:] if l.lower().startswith(b'content-length:')]
    if length and len(body) < length[0]:
        body += recv_exact(c, length[0] - len(body))
    if body:
        open(os.path.join(args[0], name + '.request'), 'wb').write(body)
    reply = b'ok' if name == 'quit' else open(os.path.join(args[0], name), 'rb').read()
    c.sendall(b'HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nConnection: close\r\nContent-Length: %d\r\n\r\n'
              % len(reply) + reply)
    c.close()
    if name == 'quit':
        break
)PY";

constexpr const char* kMention = "encoding=\"ENC\" caf\xc3\xa9";

// A call whose one string value mentions an encoding; declared in it
// where python's expat reads that encoding (not UTF-7).
std::string call(const std::string& name) {
    std::string declared;
    for (const char* enc : {"windows-1252", "ISO-8859-1"})
        if (name.rfind("declared", 0) == 0 && name.find(enc) != std::string::npos)
            declared = std::string(" encoding=\"") + enc + "\"";
    return "<?xml version=\"1.0\"" + declared +
           "?><methodCall><methodName>m</methodName><params><param><value><string>" + kMention +
           "</string></value></param></params></methodCall>";
}

} // namespace

// The documents of declared-encoding.txt: text like a declaration in a
// comment, CDATA, an attribute, an instruction or content names no
// encoding, a declaration at the start with TAB, LF or CR in its white space
// does. QuickGetStr took the first encoding="..." anywhere once "<?xml "
// stood anywhere, and XmlRpc read its reply by the first "<?xml" and sent
// its request in any encoding a value mentioned, under a declaration that
// named none.
TEST_F(BodyCharset, XmlBodiesAreReadAndSentInTheEncodingOnlyTheirDeclarationNames) {
    grvtest::TempDir dir("xmlbodies");
    const std::vector<std::string> files =
        xmltest::MadeFiles("make_declared.py", dir, {xmltest::DataDir() + "declared-encoding.txt"});
    ASSERT_EQ(files.size(), 27u);
    const auto expected = xmltest::Libxml2Dumps(files);
    grvtest::ScriptPeer server(kServeFolder, {dir.Path()});
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port) + "/";
    std::vector<std::string> got, replies, requests;
    std::string calls;
    for (const std::string& file : files) {
        const std::string name = file.substr(file.rfind('/') + 1);
        SCOPED_TRACE(name);
        XString url, out, text;
        ASSERT_TRUE(http.QuickGetStr(X(url, base + name), out, false, nullptr, log())) << logText();
        got.push_back(file + ".got.xml");
        ASSERT_TRUE(grvtest::WriteFile(got.back(), out.getUtf8()));
        const std::string sent = call(name);
        ASSERT_TRUE(http.XmlRpc(X(url, base + name), X(text, sent), out, false, nullptr, log())) << logText();
        replies.push_back(file + ".reply.xml");
        ASSERT_TRUE(grvtest::WriteFile(replies.back(), out.getUtf8()));
        requests.push_back(file + ".request");
    }
    XString url, out;
    http.QuickGetStr(X(url, base + "quit"), out, false, nullptr, log());
    server.Finish();
    EXPECT_EQ(xmltest::ExpatDumps(got, true), expected);
    EXPECT_EQ(xmltest::ExpatDumps(replies, true), expected);
    // Each request as expat reads its bytes: the value sent.
    const auto judged = grvtest::Python("import sys, xmlrpc.client\n"
                                        "for f in sys.argv[1:]:\n"
                                        "    print(xmlrpc.client.loads(open(f, 'rb').read())[0][0])",
                                        requests);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::string want;
    for (std::size_t i = 0; i < requests.size(); ++i)
        want += std::string(kMention) + "\n";
    EXPECT_EQ(judged.out, want);
}

namespace {

// Answers "GET /N" (and a POST to it) with row N of the file args[0] holds
// ("TYPE-HEX BODY-HEX", "-" for no Content-Type); "/quit" ends it.
constexpr const char* kServeRows = R"PY(
rows = [l.split() for l in open(args[0])]
s = listen()
while True:
    c, a = s.accept()
    data = recv_head(c)
    head, _, body = data.partition(b'\r\n\r\n')
    lines = head.split(b'\r\n')
    length = [int(l.split(b':')[1]) for l in lines[1:] if l.lower().startswith(b'content-length:')]
    if length and len(body) < length[0]:
        recv_exact(c, length[0] - len(body))
    name = lines[0].split(b' ')[1].decode()[1:]
    if name == 'quit':
        c.sendall(b'HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 0\r\n\r\n')
        c.close()
        break
    kind, reply = rows[int(name)]
    reply = bytes.fromhex(reply)
    field = b'' if kind == '-' else b'Content-Type: ' + bytes.fromhex(kind) + b'\r\n'
    c.sendall(b'HTTP/1.1 200 OK\r\n' + field + b'Connection: close\r\nContent-Length: %d\r\n\r\n' % len(reply) + reply)
    c.close()
)PY";

} // namespace

// Bodies served with media types that carry parameters, byte-order marks
// under every kind of header, and every label of the browsers' table and
// of the library's own, read by QuickGetStr, BodyStr, PostBinary's reply
// and (XML types) XmlRpc and, where no charset labels them, LoadXmlFile,
// judged by html5lib with the browsers' label table and by libxml2, expat
// and python's codecs (body_charset.py). An XML label or declaration
// without a decoder (HZ, ISO-2022-JP-2) was passed over or lost to a
// byte-order mark, and the shifted text read as UTF-8 became elements. The media type was found by substring,
// so parameters made a body HTML or XML (a UTF-7 declaration then read
// "+ADw-" as "<"); labels were read by the library's own table
// ("iso-8859-1" as Latin-1, "utf-7" and EBCDIC honoured, "iso-2022-kr"
// decoded); a mark lost to the header; x-user-defined read two ways; and
// PostBinary's reply was read by its charset alone through the lossy
// conversion (no mark, no <meta>, escapes and zero bytes swallowed).
TEST_F(BodyCharset, BodiesReadAsBrowsersAndXmlReadersReadThem) {
    grvtest::TempDir dir("bodies");
    const std::string data = std::string(GRV_TEST_DATA_DIR);
    const std::string judge = grvtest::ReadFile(data + "/http/body_charset.py");
    const auto rows = grvtest::Python(judge, {"rows", data + "/http/body-charsets.txt"});
    const auto labels = grvtest::Python(judge, {"labels", data + "/text/charsets.txt"});
    ASSERT_TRUE(rows.Ok() && labels.Ok()) << rows.err << labels.err;
    const std::string table = dir.File("rows.txt");
    ASSERT_TRUE(grvtest::WriteFile(table, rows.out));
    grvtest::ScriptPeer server(kServeRows, {table});
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port) + "/";
    std::string verdicts;
    std::istringstream served(rows.out);
    int count = 0;
    for (std::string kind, body; served >> kind >> body; ++count) {
        SCOPED_TRACE(grvtest::FromHex(kind) + " " + grvtest::FromHex(body));
        XString url, out, call;
        X(url, base + std::to_string(count));
        ASSERT_TRUE(http.QuickGetStr(url, out, false, nullptr, log())) << logText();
        verdicts += kind + " " + body + " text " + grvtest::ToHex(out.getUtf8()) + "\n";
        std::unique_ptr<ClsHttpResponse> response(http.QuickGetObj(url, false, nullptr, log()));
        ASSERT_NE(response, nullptr) << logText();
        response->BodyStr(out);
        verdicts += kind + " " + body + " text " + grvtest::ToHex(out.getUtf8()) + "\n";
        DataBuffer posted;
        XString postedType;
        ASSERT_TRUE(http.PostBinary(url, posted, X(postedType, "application/octet-stream"), false, false, out, false,
                                    nullptr, log()))
            << logText();
        verdicts += kind + " " + body + " text " + grvtest::ToHex(out.getUtf8()) + "\n";
        if (kind != "-" && bodyMediaKind(grvtest::FromHex(kind).c_str()) == BodyMediaKind::Xml) {
            // A reply refused is none: nothing, which the judge reads so.
            if (!http.XmlRpc(url, X(call, "<methodCall/>"), out, false, nullptr, log()))
                out.clear();
            verdicts += kind + " " + body + " xml " + grvtest::ToHex(out.getUtf8()) + "\n";
            // The same bytes as a file, where no label stands.
            const std::string file = dir.File("row.xml");
            ClsXml xml;
            if (grvtest::FromHex(kind).find("charset") == std::string::npos &&
                grvtest::WriteFile(file, grvtest::FromHex(body)))
                verdicts +=
                    kind + " " + body + " xml " +
                    grvtest::ToHex(xml.LoadXmlFile(file.c_str(), false) && xml.getXml(out) ? out.getUtf8() : "") + "\n";
        }
    }
    XString url, out;
    http.QuickGetStr(X(url, base + "quit"), out, false, nullptr, log());
    server.Finish();
    ASSERT_GT(count, 45);
    // Every label: the encoding the one reading both roads share takes.
    std::istringstream labelled(labels.out);
    int labelRows = 0;
    for (std::string kind, body; labelled >> kind >> body; ++labelRows) {
        const std::string type = grvtest::FromHex(kind), bytes = grvtest::FromHex(body);
        StringBuffer charset;
        MimeHeader head;
        DataBuffer in;
        in.append(bytes.data(), static_cast<unsigned int>(bytes.size()));
        head.setField("Content-Type", type.c_str());
        head.getFieldParam("Content-Type", "charset", charset);
        unsigned int mark = 0;
        verdicts += kind + " " + body + " encoding " +
                    grvtest::ToHex(bodyWebEncoding(type.c_str(), charset.getString(), in, mark)) + "\n";
    }
    ASSERT_GT(labelRows, 1000);
    const auto judged = grvtest::Python(judge, {"judge", data + "/text"}, verdicts);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    EXPECT_EQ(judged.out, "mismatches 0\n");
}

// XmlRpc, PostXml, PutText, S3_UploadString and a form request in each
// charset (the table's rows, and every page's canonical name both ways),
// judged by expat on what the capturing peer received (sent_xml.py): the
// declaration names the charset the bytes are in and so does the
// Content-Type, and a request that would not read back fails before
// anything is sent. XmlRpc sent "+ADw-?xml" for a call declaring UTF-7 and
// reported success, and PostXml sent Latin-1 bytes under the text's own
// encoding="utf-8" with no charset in the Content-Type; PutText sent a
// vendor's codes under a standard's name; PutText, S3_UploadString and a
// request's parameters sent UTF-8 under a name the library does not know,
// and under one it knows without a table (EUC-TW) a form's values went
// out empty; a form read "oem" as UTF-8 where the other roads read the OEM
// page. A form's values are judged by their bytes, beside a browser's
// encoder for the label and python's codec: PutText's rule refused texts a
// browser writes (NEC's row 13 under shift_jis, the euro under gb2312) and
// texts python's codec writes (U+301C under the JIS names, ETEN's Cyrillic
// under big5), nothing sent.
TEST_F(BodyCharset, SentXmlSaysWhatItsBytesAre) {
    const std::string data = std::string(GRV_TEST_DATA_DIR);
    const std::string judge = grvtest::ReadFile(data + "/http/sent_xml.py");
    const auto rows = grvtest::Python(judge, {"rows", data + "/http/sent-xml.txt", data + "/text/charsets.txt"});
    ASSERT_TRUE(rows.Ok()) << rows.err;
    const int port = peers.StartCaptureServer(
        "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 17\r\n\r\n<methodResponse/>");
    const std::string base = "http://127.0.0.1:" + std::to_string(port) + "/";
    // The storage service's buckets are this machine, for this test only.
    platform::SetResolverHook([](const std::string& host) -> std::string {
        return host == "127.0.0.1" || host.find(".storage.test") != std::string::npos ? "127.0.0.1" : "";
    });
    const std::unique_ptr<void, void (*)(void*)> unhook(&http, [](void*) { platform::SetResolverHook({}); });
    http.setS3ServiceHost(("storage.test:" + std::to_string(port)).c_str());
    http.setS3Keys("key", "secret");
    std::vector<std::string> values, charsets, calls;
    std::istringstream in(rows.out);
    int row = 0, refusedAsRowsSay = 0;
    for (std::string method, charset, value, outcome; in >> method >> charset >> value >> outcome; ++row) {
        const std::string name = charset == "-" ? "" : grvtest::FromHex(charset);
        // A form's value alone, where its first character is what the row tries.
        const bool bare = method.ends_with("Value");
        if (bare)
            method.resize(method.size() - std::string_view("Value").size());
        // A page without the accent carries the value's ASCII part alone.
        DataBuffer accent;
        EncodingConvert conv;
        if (outcome == "any" &&
            (!conv.convertToCharsetName(65001, name.c_str(), "\xc3\xa9", 2, accent) || conv.getDroppedCount() > 0))
            value = grvtest::ToHex("pain");
        const std::string string = bare ? grvtest::FromHex(value)
                                        : "<methodCall><methodName>m</methodName><params><param><value><string>" +
                                              grvtest::FromHex(value) +
                                              "</string></value></param></params></methodCall>";
        SCOPED_TRACE(method + " " + name + " " + grvtest::FromHex(value));
        XString url, text, out, cs;
        X(url, base + std::to_string(row));
        bool sent = false;
        if (method == "XmlRpc") {
            const std::string declared = name.empty() ? "" : " encoding=\"" + name + "\"";
            sent = http.XmlRpc(url, X(text, "<?xml version=\"1.0\"" + declared + "?>" + string), out, false, nullptr,
                               log());
        } else if (method == "PutText") {
            XString type;
            sent = http.PutText(url, X(text, string), X(cs, name), X(type, "text/xml; charset=" + name), false, false,
                                out, false, nullptr, log());
        } else if (method == "S3_UploadString") {
            XString bucket, object, type;
            sent = http.S3_UploadString(X(bucket, "journal"), X(object, std::to_string(row)),
                                        X(type, "text/xml; charset=" + name), X(cs, name), X(text, string), nullptr,
                                        log());
        } else if (method == "Request") {
            ClsHttpRequest request;
            request.request().setCharset(name.c_str());
            request.request().setSendCharset(true);
            request.AddParam("v", string.c_str());
            std::unique_ptr<ClsHttpResponse> response(http.PostUrlEncoded(url, request, false, nullptr, log()));
            sent = response != nullptr;
        } else if (method == "Multipart" || method == "Get") {
            ClsHttpRequest request;
            request.request().setVerb(method == "Get" ? "GET" : "POST");
            request.setPath(("/" + std::to_string(row)).c_str());
            if (method == "Multipart")
                request.addHeaderAnsi("Content-Type", "multipart/form-data");
            request.request().setCharset(name.c_str());
            request.AddParam("v", string.c_str());
            std::unique_ptr<ClsHttpResponse> response(
                http.SynchronousRequest("127.0.0.1", port, false, request, nullptr));
            sent = response != nullptr;
        } else {
            std::unique_ptr<ClsHttpResponse> response(
                http.PostXml(url, X(text, "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + string), X(cs, name), false,
                             nullptr, log()));
            sent = response != nullptr;
        }
        if (outcome != "any") {
            EXPECT_EQ(sent, outcome == "sent") << logText();
        }
        refusedAsRowsSay += outcome == "refused" && !sent;
        values.push_back(sent ? value : "");
        charsets.push_back(charset);
        calls.push_back(grvtest::ToHex(string));
    }
    ASSERT_GT(row, 290);
    EXPECT_EQ(refusedAsRowsSay, 93);
    const std::vector<std::string> seen = peers.CapturedRequests(port);
    // What a browser's encoder writes for each string sent under its
    // charset, by the machine's node (web_encode.mjs).
    std::vector<std::size_t> sentRows;
    grvtest::RunOptions encoderInput;
    for (const std::string& request : seen) {
        const std::string path = request.substr(request.find('/') + 1, request.find(' ', 5) - request.find('/') - 1);
        sentRows.push_back(std::stoul(path));
        encoderInput.input += charsets.at(sentRows.back()) + " " + calls.at(sentRows.back()) + "\n";
    }
    const auto web = grvtest::RunProgram(
        {"node", data + "/http/web_encode.mjs", std::string(GRV_SOURCE_DIR) + "/scripts/s3rver/node_modules"},
        encoderInput);
    ASSERT_TRUE(web.Ok()) << web.err;
    std::istringstream encoded(web.out);
    std::string pairs;
    std::size_t sentCount = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        const std::string& value = values.at(sentRows[i]);
        ASSERT_FALSE(value.empty()) << "a refused request was sent: " << seen[i];
        std::string browsers;
        ASSERT_TRUE(encoded >> browsers);
        pairs += grvtest::ToHex(seen[i]) + " " + value + " " + charsets.at(sentRows[i]) + " " + browsers + " " +
                 calls.at(sentRows[i]) + "\n";
        ++sentCount;
    }
    EXPECT_EQ(sentCount, static_cast<std::size_t>(std::count_if(values.begin(), values.end(),
                                                                [](const std::string& v) { return !v.empty(); })));
    const auto judged = grvtest::Python(judge, {"judge"}, pairs);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    std::istringstream verdicts(judged.out);
    int ok = 0, unknownToPython = 0;
    for (std::string line; std::getline(verdicts, line);) {
        ok += line == "ok";
        unknownToPython += line.find("unread: unknown encoding") != std::string::npos;
        if (line != "ok" && line.find("unread: unknown encoding") == std::string::npos)
            ADD_FAILURE() << line;
    }
    EXPECT_GT(ok, 120);
    EXPECT_LT(unknownToPython, 110);
}
