// The charset a body names, on the roads that take one from it: XML served
// as text/xml without a charset, read through QuickGetStr and XmlRpc and
// judged by libxml2 and expat on the same bytes, and XmlRpc's requests
// judged by python's xmlrpc.client (expat) on what the server received.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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
