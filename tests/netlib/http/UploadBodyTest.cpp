// A body goes out from where the caller holds it: a small one in one write
// with the head, a larger one after the head from the caller's bytes (or a
// gzip member made of them), or from a file, plainly and over TLS. Judged by
// what nginx stored, and python's gzip for the packed bodies.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpRequest.h"
#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

using grvtest::X;

class UploadBody : public grvtest::ComponentPeerTest {
protected:
    void SetUp() override {
        ComponentPeerTest::SetUp();
        peers.TrustCertificate();
        nginx = peers.StartNginx();
    }

    std::string Base(bool tls) const {
        return std::string(tls ? "https" : "http") +
               "://127.0.0.1:" + std::to_string(tls ? nginx.tlsPort : nginx.httpPort);
    }
    // nginx answers a PUT once the file is written.
    std::string Stored(const std::string& name) const { return grvtest::ReadFile(nginx.docRoot + "/dav/" + name); }

    grvtest::NginxPeer nginx;
};

} // namespace

TEST_F(UploadBody, BodiesFromMemoryAndFilesArriveWhole) {
    // Around the size that still joins the head.
    const std::size_t sizes[] = {9, http_req::kInlineBodyBytes, http_req::kInlineBodyBytes + 1, 1000003};
    grvtest::TempDir dir;
    int n = 0;
    for (bool tls : {false, true}) {
        for (std::size_t size : sizes) {
            for (bool gzip : {false, true}) {
                SCOPED_TRACE((tls ? "tls, " : "plain, ") + std::to_string(size) + (gzip ? ", gzip" : ""));
                const grvtest::Bytes bytes = grvtest::RandomBytes(size, static_cast<std::uint32_t>(size));
                const std::string want(bytes.begin(), bytes.end());
                const std::string name = "up-" + std::to_string(++n) + ".bin";
                DataBuffer body;
                body.append(want.data(), static_cast<unsigned int>(want.size()));
                XString url, type, reply;
                X(url, Base(tls) + "/dav/" + name);
                X(type, "application/octet-stream");
                ASSERT_TRUE(http.PutBinary(url, body, type, false, gzip, reply, false, nullptr, log())) << logText();
                EXPECT_EQ(http.lastResult().responseHeader.getStatusCode(), 201u);
                // The caller's bytes are as they were.
                EXPECT_TRUE(std::string(reinterpret_cast<const char*>(body.getData()), body.getSize()) == want);
                if (!gzip) {
                    EXPECT_TRUE(Stored(name) == want) << Stored(name).size() << " bytes stored";
                    continue;
                }
                // nginx keeps the member as sent.
                ASSERT_TRUE(grvtest::WriteFile(dir.File("want.bin"), bytes));
                const grvtest::RunResult judged = grvtest::Python(
                    "import gzip, sys\n"
                    "print(gzip.decompress(open(sys.argv[1], 'rb').read()) == open(sys.argv[2], 'rb').read())",
                    {nginx.docRoot + "/dav/" + name, dir.File("want.bin")});
                EXPECT_EQ(judged.out, "True\n") << judged.err;
            }
        }
        // A body file streams after the head.
        SCOPED_TRACE(tls ? "tls, body file" : "plain, body file");
        const grvtest::Bytes bytes = grvtest::RandomBytes(1000003, 7);
        ASSERT_TRUE(grvtest::WriteFile(dir.File("body.bin"), bytes));
        ClsHttpRequest request;
        request.setPutVerb();
        const std::string name = "file-" + std::to_string(++n) + ".bin";
        request.setPath(("/dav/" + name).c_str());
        request.request().setBodyFilePath(dir.File("body.bin").c_str());
        std::unique_ptr<ClsHttpResponse> response(
            http.SynchronousRequest("127.0.0.1", tls ? nginx.tlsPort : nginx.httpPort, tls, request, nullptr));
        ASSERT_NE(response, nullptr) << logText();
        EXPECT_EQ(response->getResult().responseHeader.getStatusCode(), 201u);
        EXPECT_TRUE(Stored(name) == std::string(bytes.begin(), bytes.end()));
    }
}

// A body file or a form's file that grows or shrinks between its length
// and its bytes: never more than the length said goes out and the call
// fails, where the extra bytes followed the body for the server to read as
// a next request, and the call said 201. The connection is not used again:
// the next request went out on it, completing the cut body (16 bytes short)
// or behind it, and took the 201 answered to it as its own.
TEST_F(UploadBody, ABodyFileThatGrowsWhileSentFailsTheCall) {
    grvtest::TempDir dir;
    const grvtest::Bytes bytes = grvtest::RandomBytes(300001, 9);
    const std::string path = dir.File("body.bin");
    ASSERT_TRUE(grvtest::WriteFile(nginx.docRoot + "/dav/after.txt", std::string("after")));
    for (const bool form : {false, true}) {
        for (const std::int64_t by : {1024, -16}) {
            SCOPED_TRACE(std::string(form ? "form file, " : "body file, ") + std::to_string(by));
            ASSERT_TRUE(grvtest::WriteFile(path, bytes));
            ClsHttpRequest request;
            request.setPutVerb();
            request.setPath("/dav/grown.bin");
            if (form) {
                request.request().setHeader("Content-Type", "multipart/form-data");
                auto* item = new HttpRequestItem;
                item->name.setFromUtf8("scan");
                item->filePath.setFromUtf8(path.c_str());
                item->stream = true;
                request.request().reqData().addItem(item);
            } else {
                request.request().setBodyFilePath(path.c_str());
            }
            grvtest::GrowFileAt grow(path, form ? "UploadFilename" : "RequestHeader", by);
            std::unique_ptr<ClsHttpResponse> response(
                http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, request, &grow));
            EXPECT_EQ(response, nullptr);
            EXPECT_NE(logText().find(http_req::kMsgBodyFileChanged), std::string::npos) << logText();
            ClsHttpRequest get;
            get.setPath("/dav/after.txt");
            std::unique_ptr<ClsHttpResponse> next(
                http.SynchronousRequest("127.0.0.1", nginx.httpPort, false, get, nullptr));
            ASSERT_NE(next, nullptr) << logText();
            EXPECT_EQ(next->getResult().responseHeader.getStatusCode(), 200u);
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(next->getBody().getData()), next->getBody().getSize()),
                      "after");
        }
    }
}

// A request lends the caller's bytes; a body set on it later, or read back
// from its saved form, is its own and leaves the caller's bytes alone.
TEST(BorrowedBody, ABodySetLaterLeavesTheCallersBytesAlone) {
    const std::string callers = "the caller's bytes";
    DataBuffer lent;
    lent.append(callers.data(), static_cast<unsigned int>(callers.size()));
    HttpRequest request;
    request.borrowAltBody(lent);
    EXPECT_EQ(request.altBody().getData(), lent.getData());
    DataBuffer other;
    other.append("other", 5);
    request.setAltBody(other);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(lent.getData()), lent.getSize()), callers);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(request.altBody().getData()), request.altBody().getSize()),
              "other");
}
