// Object-storage requests: signatures judged by the published version-2
// examples and, over whole captured requests, by python3-botocore's
// HmacV1Auth and its own object URLs; a bucket and object cycle against
// s3rver, reached as "<bucket>.s3.amazonaws.com" through the resolver hook.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "platform/Winsock.h"
#include "tests/netlib/http/ComponentTestSupport.h"
#include "tests/support/LoopbackPeers.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr const char* kServiceHost = "s3.amazonaws.com";

// The blocks of the examples file: "name: value" lines, blank-line separated.
std::vector<std::map<std::string, std::string>> readBlocks(const std::string& path) {
    std::vector<std::map<std::string, std::string>> blocks(1);
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            if (!blocks.back().empty())
                blocks.emplace_back();
            continue;
        }
        if (line[0] == '#')
            continue;
        const std::size_t colon = line.find(':');
        const std::size_t value = line.find_first_not_of(' ', colon + 1);
        blocks.back()[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
    }
    if (blocks.back().empty())
        blocks.pop_back();
    return blocks;
}

using grvtest::SetBytes;
using grvtest::X;

class ObjectStorage : public grvtest::ComponentPeerTest {
protected:
    void SetUp() override {
        ComponentPeerTest::SetUp();
        // Every host of the service is this machine.
        platform::SetResolverHook([](const std::string& host) -> std::string {
            const std::string service = kServiceHost;
            const bool ours = host == service ||
                              (host.size() > service.size() &&
                               host.compare(host.size() - service.size() - 1, std::string::npos, "." + service) == 0);
            return ours || host == "127.0.0.1" ? "127.0.0.1" : "";
        });
    }
    void TearDown() override { platform::SetResolverHook({}); }

    void UseService(int port, const char* access, const char* secret) {
        http.setS3ServiceHost((std::string(kServiceHost) + ":" + std::to_string(port)).c_str());
        http.setS3Keys(access, secret);
    }
};

} // namespace

TEST_F(ObjectStorage, SignaturesEqualThePublishedExamples) {
    const auto blocks = readBlocks(std::string(GRV_TEST_DATA_DIR) + "/http/s3-sigv2-examples.txt");
    ASSERT_EQ(blocks.size(), 8u);
    const StringBuffer secret(blocks[0].at("secret").c_str());
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        const auto& e = blocks[i];
        SCOPED_TRACE(e.at("name"));
        StringBuffer toSign, md5, signature;
        ClsHttp::buildS3StringToSign(e.at("verb").c_str(), nullptr, e.at("content-type").c_str(), e.at("date").c_str(),
                                     "", e.at("resource").c_str(), toSign, md5);
        EXPECT_EQ(std::string(toSign.getString()),
                  e.at("verb") + "\n\n" + e.at("content-type") + "\n" + e.at("date") + "\n" + e.at("resource"));
        ClsHttp::signS3(secret, toSign, signature);
        EXPECT_STREQ(signature.getString(), e.at("signature").c_str());
    }
}

TEST_F(ObjectStorage, StringToSignCarriesTheDigestOfABodyOfOneByteOrMore) {
    const char* date = "Tue, 27 Mar 2007 21:15:45 +0000";
    struct Case {
        const char* body; // null: no body
        const char* want;
    };
    const Case cases[] = {
        {"abc", "PUT\nkAFQmDzST7DWlj99KOF/cg==\ntext/plain\nTue, 27 Mar 2007 21:15:45 +0000\n/b/k"},
        {"", "PUT\n\ntext/plain\nTue, 27 Mar 2007 21:15:45 +0000\n/b/k"},
        {nullptr, "PUT\n\ntext/plain\nTue, 27 Mar 2007 21:15:45 +0000\n/b/k"},
    };
    for (const Case& c : cases) {
        DataBuffer body;
        SetBytes(body, c.body != nullptr ? c.body : "");
        StringBuffer toSign, md5;
        ClsHttp::buildS3StringToSign("PUT", c.body != nullptr ? &body : nullptr, "text/plain", date, "", "/b/k", toSign,
                                     md5);
        EXPECT_STREQ(toSign.getString(), c.want);
    }
    // Names as they go into the path: '/' kept, one between bucket and
    // object, everything outside the unreserved set escaped.
    const std::pair<const char*, const char*> names[] = {
        {"a b?c", "a%20b%3Fc"},
        {"/lead", "lead"},
        {"//x//y", "x/y"},
        {"fran\xc3\xa7"
         "ais/~_-.",
         "fran%C3%A7ais/~_-."},
        {"p+q&r=s#t%u", "p%2Bq%26r%3Ds%23t%25u"},
    };
    for (const auto& [name, want] : names) {
        StringBuffer path;
        ClsHttp::s3ObjectPath(name, path);
        EXPECT_STREQ(path.getString(), want) << name;
    }
}

namespace {

// Judges each captured request against botocore: the Authorization field
// against HmacV1Auth over the request as captured (its Date included), the
// path against the URL botocore's own client makes for the same operation,
// Content-MD5 against the body, and the Date against the signed form.
constexpr const char* kBotocoreJudge = R"PY(
import base64, hashlib, os, sys, time
from urllib.parse import urlsplit
import botocore.session
from botocore.auth import HmacV1Auth
from botocore.awsrequest import AWSResponse, HTTPHeaders
from botocore.config import Config
from botocore.credentials import Credentials
folder, service, access, secret = sys.argv[1:5]
ops = [op.split('|') for op in sys.argv[5:]]
client = botocore.session.get_session().create_client(
    's3', region_name='us-east-1', endpoint_url='http://' + service, aws_access_key_id=access,
    aws_secret_access_key=secret, config=Config(signature_version='s3', s3={'addressing_style': 'virtual'}))
paths = []
class Raw:
    def stream(self, *a, **k):
        return iter([b''])
def grab(request, **kw):
    paths.append(urlsplit(request.url).path)
    return AWSResponse(request.url, 200, {}, Raw())
client.meta.events.register('before-send.s3', grab)
for name, bucket, key in ops:
    args = {'Bucket': bucket} if bucket else {}
    if key:
        args['Key'] = key
    getattr(client, name)(**args)
for n in range(1, len(ops) + 1):
    raw = open(os.path.join(folder, 'request-%d.bin' % n), 'rb').read()
    head, _, body = raw.partition(b'\r\n\r\n')
    lines = head.decode('latin-1').split('\r\n')
    method, target, _ = lines[0].split(' ')
    headers = HTTPHeaders()
    for line in lines[1:]:
        k, _, v = line.partition(':')
        headers[k.strip()] = v.strip()
    host = headers['Host'].split(':')[0]
    bucket = host[:-len(service) - 1] if host != service else ''
    signer = HmacV1Auth(Credentials(access, secret))
    date = headers['Date']
    signer._get_date = lambda: date
    auth = headers.get('Authorization')
    want = 'AWS %s:%s' % (access, signer.get_signature(method, urlsplit(target), headers,
                                                       auth_path=('/' + bucket if bucket else '') + target))
    verdict = []
    if auth != want:
        verdict.append('signature %s != %s' % (auth, want))
    if target != paths[n - 1]:
        verdict.append('path %s != %s' % (target, paths[n - 1]))
    md5 = headers.get('Content-MD5')
    if body and md5 != base64.b64encode(hashlib.md5(body).digest()).decode():
        verdict.append('md5 %s' % md5)
    if not body and md5 is not None:
        verdict.append('md5 without body')
    time.strptime(date, '%a, %d %b %Y %H:%M:%S +0000')
    print(n, method, target, ' '.join(verdict) or 'ok')
)PY";

} // namespace

TEST_F(ObjectStorage, SignedRequestsMatchBotocore) {
    const int port = peers.StartCaptureServer();
    UseService(port, "AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY");
    grvtest::TempDir dir;
    XString bucket, object, type, charset, text, path, out;
    X(bucket, "bkt");
    DataBuffer abc;
    SetBytes(abc, "abc");
    DataBuffer got;
    // 200 everywhere: every call succeeds, by the one 2xx rule.
    EXPECT_TRUE(http.S3_UploadBytes(bucket, X(object, "a b?c"), X(type, "text/plain"), abc, nullptr, log()))
        << logText();
    EXPECT_TRUE(http.S3_UploadString(bucket,
                                     X(object, "fran\xc3\xa7"
                                               "ais/pr\xc3\xa9"
                                               "f\xc3\xa8re"),
                                     X(type, "text/plain; charset=utf-8"), X(charset, "utf-8"),
                                     X(text, "\xc3\xa9t\xc3\xa9"), nullptr, log()));
    EXPECT_TRUE(http.S3_DownloadBytes(bucket, X(object, "x~y_-."), got, nullptr, log()));
    EXPECT_EQ(authtest::text(got), "ok");
    EXPECT_TRUE(http.S3_DownloadFile(bucket, X(object, "p+q&r=s#t%u"), X(path, dir.File("got.txt")), nullptr, log()));
    EXPECT_TRUE(http.S3_DeleteObject(bucket, X(object, "a b?c"), nullptr, log()));
    EXPECT_TRUE(http.S3_ListBucketObjects(bucket, out, nullptr, log()));
    EXPECT_TRUE(http.S3_DeleteBucket(bucket, nullptr, log()));
    EXPECT_TRUE(http.S3_ListBuckets(out, nullptr, log()));
    EXPECT_STREQ(out.getUtf8(), "ok");

    const std::vector<std::string> ops = {"put_object|bkt|a b?c",
                                          "put_object|bkt|fran\xc3\xa7"
                                          "ais/pr\xc3\xa9"
                                          "f\xc3\xa8re",
                                          "get_object|bkt|x~y_-.",
                                          "get_object|bkt|p+q&r=s#t%u",
                                          "delete_object|bkt|a b?c",
                                          "list_objects|bkt|",
                                          "delete_bucket|bkt|",
                                          "list_buckets||"};
    ASSERT_EQ(peers.CapturedRequests(port, ops.size()).size(), ops.size());
    std::vector<std::string> args = {peers.PeerFolder(port), kServiceHost, "AKIDEXAMPLE",
                                     "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"};
    args.insert(args.end(), ops.begin(), ops.end());
    const grvtest::RunResult judged = grvtest::Python(kBotocoreJudge, args);
    EXPECT_EQ(judged.out, "1 PUT /a%20b%3Fc ok\n"
                          "2 PUT /fran%C3%A7ais/pr%C3%A9f%C3%A8re ok\n"
                          "3 GET /x~y_-. ok\n"
                          "4 GET /p%2Bq%26r%3Ds%23t%25u ok\n"
                          "5 DELETE /a%20b%3Fc ok\n"
                          "6 GET / ok\n"
                          "7 DELETE / ok\n"
                          "8 GET / ok\n")
        << judged.err;
}

TEST_F(ObjectStorage, SigningFieldsServeTheirOneRequest) {
    const int port = peers.StartCaptureServer();
    UseService(port, "AK", "SK");
    http.options().extraHeaders.replaceField("X-Journal", "kept", false);
    XString bucket, object, url, out;
    DataBuffer body;
    SetBytes(body, "abc");
    XString type;
    ASSERT_TRUE(http.S3_UploadBytes(X(bucket, "bkt"), X(object, "k"), X(type, "text/plain"), body, nullptr, log()));
    // The options are as they were: the next plain request carries none of
    // the signing fields, and a Host of its own.
    EXPECT_EQ(http.options().extraHeaders.getCount(), 1);
    EXPECT_EQ(http.options().AddHostHeader, 1);
    ASSERT_TRUE(
        http.QuickGetStr(X(url, "http://127.0.0.1:" + std::to_string(port) + "/plain"), out, false, nullptr, log()));
    const std::vector<std::string> seen = peers.CapturedRequests(port, 2);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0].find("\r\nContent-MD5: kAFQmDzST7DWlj99KOF/cg==\r\n"), std::string::npos) << seen[0];
    EXPECT_NE(seen[0].find("\r\nX-Journal: kept\r\n"), std::string::npos) << seen[0];
    const std::string plain = seen[1].substr(0, seen[1].find("\r\n\r\n") + 2);
    for (const char* gone : {"Authorization:", "Date:", "Content-MD5:", "bkt."})
        EXPECT_EQ(plain.find(gone), std::string::npos) << gone << " in\n" << plain;
    EXPECT_NE(plain.find("\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n"), std::string::npos) << plain;
    EXPECT_NE(plain.find("\r\nX-Journal: kept\r\n"), std::string::npos) << plain;
}

// A FIFO given to S3_UploadFile and to LoadXmlFile, its writer there first or
// the call first: the object holds what python's read() of the same FIFO
// got (an empty one went up as a success), and the tree loaded is the one
// python's parser reads from it.
TEST_F(ObjectStorage, AFifoIsUploadedAndLoadedToItsEndWhicheverComesFirst) {
    const int port = peers.StartS3rver(false);
    UseService(port, grvtest::kS3AccessKey, grvtest::kS3SecretKey);
    grvtest::TempDir dir;
    const std::string fifo = dir.File("in.xml"), saved = dir.File("saved.xml");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const grvtest::Bytes filler = grvtest::TextLike(300001, 5);
    const std::string data = "<journal><entry pain=\"7\">" + std::string(filler.begin(), filler.end()) +
                             "</entry><entry pain=\"2\"/></journal>";
    XString bucket, object, type, path;
    X(bucket, grvtest::kS3Bucket);
    for (const bool writerFirst : {true, false}) {
        SCOPED_TRACE(writerFirst ? "writer first" : "call first");
        const std::string python = grvtest::PythonReadOfFifo(fifo, data, writerFirst);
        ASSERT_TRUE(python == data);
        bool ok = false;
        grvtest::FeedFifo(fifo, data, writerFirst, [&] {
            ok = http.S3_UploadFile(bucket, X(object, "fifo.xml"), X(type, "text/xml"), X(path, fifo), nullptr, log());
        });
        EXPECT_TRUE(ok) << logText();
        DataBuffer back;
        ASSERT_TRUE(http.S3_DownloadBytes(bucket, X(object, "fifo.xml"), back, nullptr, log())) << logText();
        EXPECT_TRUE(authtest::text(back) == python) << back.getSize() << " bytes uploaded";

        ClsXml xml;
        grvtest::FeedFifo(fifo, data, writerFirst, [&] { ok = xml.LoadXmlFile(fifo.c_str(), false); });
        ASSERT_TRUE(ok);
        ASSERT_TRUE(xml.SaveXml(saved.c_str()));
        // Elements, attributes and text alike; the indentation a save adds
        // between elements aside.
        const grvtest::RunResult same =
            grvtest::Python("import sys, xml.etree.ElementTree as ET\n"
                            "def tree(root):\n"
                            "    return [(e.tag, e.attrib, (e.text or '').strip() and e.text) for e in root.iter()]\n"
                            "print(tree(ET.parse(sys.argv[1]).getroot()) == "
                            "tree(ET.fromstring(sys.stdin.buffer.read())))",
                            {saved}, python);
        EXPECT_EQ(same.out, "True\n") << same.err;
    }
}

TEST_F(ObjectStorage, BucketAndObjectCycleAgainstS3rver) {
    const int port = peers.StartS3rver(false);
    UseService(port, grvtest::kS3AccessKey, grvtest::kS3SecretKey);
    grvtest::TempDir dir;
    XString bucket, object, type, charset, text, path, out;
    X(bucket, grvtest::kS3Bucket);

    ASSERT_TRUE(http.S3_ListBuckets(out, nullptr, log())) << logText();
    EXPECT_NE(std::string(out.getUtf8()).find("<Name>grv-bucket</Name>"), std::string::npos) << out.getUtf8();

    // Bytes, a text in Latin-1 and a file, under names that need escaping.
    const grvtest::Bytes random = grvtest::RandomBytes(70000, 59);
    DataBuffer bytes;
    bytes.append(random.data(), static_cast<unsigned int>(random.size()));
    ASSERT_TRUE(
        http.S3_UploadBytes(bucket, X(object, "a b?c"), X(type, "application/octet-stream"), bytes, nullptr, log()))
        << logText();
    const std::string notes = "Schmerz \xc3\xbc"
                              "ber Nacht: 7/10";
    ASSERT_TRUE(http.S3_UploadString(bucket, X(object, "notes/caf\xc3\xa9 +&=.txt"), X(type, "text/plain"),
                                     X(charset, "iso-8859-1"), X(text, notes), nullptr, log()))
        << logText();
    const std::string local = dir.File("journal.grv");
    ASSERT_TRUE(grvtest::WriteFile(local, grvtest::TextLike(5000, 7)));
    ASSERT_TRUE(http.S3_UploadFile(bucket, X(object, "/lead.bin"), X(type, "application/x-grv"), X(path, local),
                                   nullptr, log()))
        << logText();

    ASSERT_TRUE(http.S3_ListBucketObjects(bucket, out, nullptr, log())) << logText();
    const grvtest::RunResult listed = grvtest::Python("import sys, xml.etree.ElementTree as ET\n"
                                                      "ns = {'s': 'http://doc.s3.amazonaws.com/2006-03-01/'}\n"
                                                      "root = ET.fromstring(sys.stdin.read())\n"
                                                      "for c in root.findall('s:Contents', ns):\n"
                                                      "    print(c.find('s:Key', ns).text, c.find('s:Size', ns).text)",
                                                      {}, out.getUtf8());
    EXPECT_EQ(listed.out, "a b?c 70000\nlead.bin 5000\nnotes/caf\xc3\xa9 +&=.txt 24\n") << listed.err;

    DataBuffer back;
    ASSERT_TRUE(http.S3_DownloadBytes(bucket, X(object, "a b?c"), back, nullptr, log())) << logText();
    EXPECT_TRUE(authtest::text(back) == std::string(random.begin(), random.end()));
    ASSERT_TRUE(http.S3_DownloadString(bucket, X(object, "notes/caf\xc3\xa9 +&=.txt"), X(charset, "iso-8859-1"), out,
                                       nullptr, log()));
    EXPECT_EQ(std::string(out.getUtf8()), notes);
    const std::string fetched = dir.File("fetched.grv");
    ASSERT_TRUE(http.S3_DownloadFile(bucket, X(object, "lead.bin"), X(path, fetched), nullptr, log()));
    EXPECT_TRUE(grvtest::ReadFile(fetched) == grvtest::ReadFile(local));
    // A missing object is a 404: no file is left.
    const std::string none = dir.File("none.bin");
    EXPECT_FALSE(http.S3_DownloadFile(bucket, X(object, "no such"), X(path, none), nullptr, log()));
    EXPECT_FALSE(grvtest::FileExists(none));

    // A bucket that still holds objects is not deleted.
    EXPECT_FALSE(http.S3_DeleteBucket(bucket, nullptr, log()));
    for (const char* name : {"a b?c", "notes/caf\xc3\xa9 +&=.txt", "lead.bin"})
        EXPECT_TRUE(http.S3_DeleteObject(bucket, X(object, name), nullptr, log())) << name << "\n" << logText();
    EXPECT_TRUE(http.S3_DeleteBucket(bucket, nullptr, log())) << logText();
    ASSERT_TRUE(http.S3_ListBuckets(out, nullptr, log()));
    EXPECT_EQ(std::string(out.getUtf8()).find("grv-bucket"), std::string::npos) << out.getUtf8();
}
