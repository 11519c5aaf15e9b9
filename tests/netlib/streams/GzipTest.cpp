#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/Output.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

struct Buf : DataBuffer {
    explicit Buf(const std::string& s) { append(s.data(), static_cast<unsigned>(s.size())); }
};

std::string str(const DataBuffer& d) {
    return std::string(reinterpret_cast<const char*>(d.getData()), d.getSize());
}

struct Result {
    bool ok = false;
    std::string out, log;
};

// Both roads: the member in memory, and from a source.
Result unGzip(const std::string& member, bool fromSource) {
    Result r;
    DataBuffer out;
    Logger log;
    if (fromSource) {
        MemoryDataSource source;
        source.setData(member.data(), member.size(), false);
        OutputDataBuffer sink(&out);
        r.ok = Gzip::unGzipSource(source, sink, log);
    } else {
        r.ok = Gzip::unGzipMemory(Buf(member), out, log);
    }
    r.out = str(out);
    StringBuffer text;
    log.getLogText(text);
    r.log = text.getString();
    return r;
}

// python writes members with every optional header field, one per line in hex.
const char* kPythonMembers = R"(import sys,zlib,struct
data=sys.stdin.buffer.read()
def member(flags,extra=b'',name=b'',comment=b'',level=6):
    h=bytes([0x1f,0x8b,8,flags])+struct.pack('<I',12345)+bytes([0,3])
    if flags&4: h+=struct.pack('<H',len(extra))+extra
    if flags&8: h+=name+b'\0'
    if flags&16: h+=comment+b'\0'
    if flags&2: h+=struct.pack('<H',zlib.crc32(h)&0xffff)
    c=zlib.compressobj(level,zlib.DEFLATED,-15)
    return h+c.compress(data)+c.flush()+struct.pack('<II',zlib.crc32(data),len(data)&0xffffffff)
for m in (member(4,extra=b'AB\x02\x00hi'),member(16,comment=b'a comment'),member(2),
          member(2|4|8|16,b'xy\x00\x00',b'name.txt',b'c',9),member(0,level=0)):
    print(m.hex())
)";

} // namespace

TEST(Gzip, PeerMembersUnpackByBothRoads) {
    grvtest::TempDir dir("gzip");
    for (std::size_t size : {0, 1, 5000, 300000}) {
        const grvtest::Bytes text = grvtest::TextLike(size, static_cast<std::uint32_t>(size));
        const std::string plain(text.begin(), text.end());
        std::vector<std::string> members;
        for (const char* option : {"-c", "-cN", "-cn9"}) {
            ASSERT_TRUE(grvtest::WriteFile(dir.File("f.txt"), plain));
            auto gz = grvtest::RunProgram({"gzip", option, dir.File("f.txt")});
            ASSERT_TRUE(gz.Ok()) << gz.err;
            members.push_back(gz.out);
        }
        auto py = grvtest::Python(kPythonMembers, {}, plain);
        ASSERT_TRUE(py.Ok()) << py.err;
        for (std::size_t at = 0, nl; (nl = py.out.find('\n', at)) != std::string::npos; at = nl + 1) {
            grvtest::Bytes b;
            for (std::size_t i = at; i + 1 < nl; i += 2)
                b.push_back(static_cast<std::uint8_t>(std::stoi(py.out.substr(i, 2), nullptr, 16)));
            members.emplace_back(b.begin(), b.end());
        }
        ASSERT_EQ(members.size(), 8u);
        for (std::size_t i = 0; i < members.size(); ++i) {
            for (bool fromSource : {false, true}) {
                Result r = unGzip(members[i], fromSource);
                EXPECT_TRUE(r.ok) << size << " member " << i << " " << fromSource << r.log;
                EXPECT_TRUE(r.out == plain) << size << " member " << i << " " << fromSource;
            }
        }
    }
}

TEST(Gzip, DamagedMembersFail) {
    const grvtest::Bytes text = grvtest::TextLike(20000, 33);
    const std::string plain(text.begin(), text.end());
    DataBuffer member;
    Logger log;
    ASSERT_TRUE(Gzip::gzipMemory(Buf(plain), member, log));
    const std::string good = str(member);
    const std::size_t n = good.size();
    auto flip = [&](std::size_t at) {
        std::string s = good;
        s[at] = static_cast<char>(s[at] ^ 0x10);
        return s;
    };
    struct Case {
        std::string member;
        const char* memoryMessage;
        const char* sourceMessage;
    } cases[] = {
        {flip(n - 8), gzip_msg::kCrcMismatch, gzip_msg::kCrcMismatch},
        {flip(n - 2), gzip_msg::kSizeMismatch, gzip_msg::kSizeMismatch},
        {flip(n / 2), nullptr, nullptr},
        {good.substr(0, n - 3), nullptr, gzip_msg::kNoTrailer},
        {good.substr(0, 9), gzip_msg::kTooSmall, "Failed to read 1st 10 bytes."},
        {flip(0), gzip_msg::kBadId, gzip_msg::kBadId},
        {flip(2), gzip_msg::kBadMethod, gzip_msg::kBadMethod},
        // FNAME without its terminator.
        {std::string("\x1f\x8b\x08\x08\0\0\0\0\0\x03name", 14), gzip_msg::kOverrun, gzip_msg::kNoFileName},
    };
    for (const Case& c : cases) {
        for (bool fromSource : {false, true}) {
            Result r = unGzip(c.member, fromSource);
            EXPECT_FALSE(r.ok) << c.member.size() << " " << fromSource;
            const char* message = fromSource ? c.sourceMessage : c.memoryMessage;
            if (message) {
                EXPECT_NE(r.log.find(message), std::string::npos) << message << "\n" << r.log;
            }
        }
    }
}

// Files of several members, damaged ones and ones with bytes after the last
// member, written by python. Which are read is pinned; python's gzip and
// gzip -dc second it on the same bytes. Both roads read those (every member,
// in order, as both references read them) and fail on the rest, and
// unGzipFile leaves a file it refuses as it was.
namespace {
const char* const kPythonFiles = R"(import gzip,random,sys
out=sys.argv[1]
def g(data,level=6): return gzip.compress(data,level,mtime=0)
def flip(b,at): b=bytearray(b); b[at]^=1; return bytes(b)
a=b'first member\n'*300; b=bytes(range(256))*40
big=random.Random(1952).randbytes(5000000)
files={
 'two': g(a)+g(b),
 'three-with-empty': g(a)+g(b'')+g(b,9),
 'many': b''.join(g(b'%d\n'%i) for i in range(300)),
 'big-then-small': g(big,1)+g(a),
 'zero-padding': g(a)+g(b)+bytes(1000),
 'garbage-after': g(a)+b'garbage',
 'garbage-after-two': g(a)+g(b)+b'\x1f',
 'zeros-then-garbage': g(a)+b'\0\0\0x',
 'bad-crc-first': flip(g(a),-8)+g(b),
 'bad-isize-second': g(a)+flip(g(b),-2),
 'bad-crc-then-good-tail': flip(g(a),-8)+g(a)[-8:],
 'header-then-eight-zeros': g(a)[:10]+bytes(8),
 'second-cut': g(a)+g(b)[:40],
 'second-header-only': g(a)+g(b)[:10],
 'big-cut': g(big,1)[:-20],
}
for name,data in files.items():
    open(out+'/'+name+'.gz','wb').write(data)
    try:
        open(out+'/'+name+'.py','wb').write(gzip.decompress(data)); print(name,'ok')
    except Exception as e:
        print(name,'refused')
)";
} // namespace

TEST(Gzip, MembersPaddingAndTrailingBytesAsPythonAndGzipReadThem) {
    // The files read; the rest are refused.
    const std::set<std::string> kReadable = {"two", "three-with-empty", "many", "big-then-small", "zero-padding"};
    grvtest::TempDir dir("gzmembers");
    auto made = grvtest::Python(kPythonFiles, {dir.Path()});
    ASSERT_TRUE(made.Ok()) << made.err;
    std::istringstream verdicts(made.out);
    int files = 0;
    for (std::string name, verdict; verdicts >> name >> verdict; ++files) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name + ".gz");
        const std::string gz = grvtest::ReadFile(path);
        const bool pythonOk = kReadable.count(name) > 0;
        EXPECT_EQ(verdict == "ok", pythonOk) << "python parts from the verdict";
        const std::string want = pythonOk ? grvtest::ReadFile(dir.File(name + ".py")) : "";
        auto gzip = grvtest::RunProgram({"gzip", "-dc", path});
        EXPECT_EQ(gzip.Ok(), pythonOk) << gzip.err;
        if (pythonOk) {
            EXPECT_TRUE(gzip.out == want);
        }
        for (bool fromSource : {false, true}) {
            Result r = unGzip(gz, fromSource);
            EXPECT_EQ(r.ok, pythonOk) << (fromSource ? "source" : "memory") << "\n" << r.log.substr(0, 2000);
            if (pythonOk) {
                EXPECT_TRUE(r.out == want) << (fromSource ? "source" : "memory");
            }
        }
        // A file is replaced only by the whole of its checked content.
        Logger log;
        EXPECT_EQ(Gzip::unGzipFile(path.c_str(), log), pythonOk);
        EXPECT_TRUE(grvtest::ReadFile(path) == (pythonOk ? want : gz));
        EXPECT_FALSE(grvtest::FileExists(path + ".tmp"));
    }
    EXPECT_EQ(files, 15);
    // The messages of the two cases python has no words for.
    for (bool fromSource : {false, true}) {
        EXPECT_NE(
            unGzip(grvtest::ReadFile(dir.File("garbage-after.gz")), fromSource).log.find(gzip_msg::kTrailingGarbage),
            std::string::npos);
    }
}

TEST(Gzip, WrittenMembersPassGzipAndPython) {
    for (std::size_t size : {0, 1, 70000}) {
        const grvtest::Bytes bytes = grvtest::RandomBytes(size, 5);
        const std::string plain(bytes.begin(), bytes.end());
        DataBuffer member;
        member.appendStr("kept");
        Logger log;
        ASSERT_TRUE(Gzip::gzipMemory(Buf(plain), member, log));
        const std::string gz = str(member).substr(4);
        EXPECT_EQ(str(member).substr(0, 4), "kept");
        grvtest::RunOptions in;
        in.input = gz;
        EXPECT_TRUE(grvtest::RunProgram({"gzip", "-t"}, in).Ok()) << size;
        auto py = grvtest::Python("import sys,gzip\nsys.stdout.buffer.write(gzip.decompress(sys.stdin.buffer.read()))",
                                  {}, gz);
        ASSERT_TRUE(py.Ok()) << py.err;
        EXPECT_TRUE(py.out == plain) << size;

        // Raw deflate, no gzip framing.
        DataBuffer raw;
        ASSERT_TRUE(Gzip::deflateMemory(Buf(plain), raw));
        grvtest::Bytes inflated;
        ASSERT_TRUE(grvtest::InflateRaw(grvtest::Bytes(raw.getData(), raw.getData() + raw.getSize()), &inflated));
        EXPECT_TRUE(std::string(inflated.begin(), inflated.end()) == plain);
    }
}

TEST(Gzip, FileIsReplacedOnlyByCheckedContent) {
    grvtest::TempDir dir("gzfile");
    const std::string plain = "journal export\n";
    const std::string path = dir.File("body.gz");
    ASSERT_TRUE(grvtest::WriteFile(dir.File("body"), plain));
    auto gz = grvtest::RunProgram({"gzip", "-c", dir.File("body")});
    ASSERT_TRUE(gz.Ok());
    std::string bad = gz.out;
    bad[bad.size() - 6] ^= 1; // the CRC-32
    for (const std::string& content : {bad, gz.out}) {
        ASSERT_TRUE(grvtest::WriteFile(path, content));
        Logger log;
        const bool ok = Gzip::unGzipFile(path.c_str(), log);
        EXPECT_EQ(ok, content == gz.out);
        EXPECT_EQ(grvtest::ReadFile(path), ok ? plain : bad);
        EXPECT_FALSE(grvtest::FileExists(path + ".tmp"));
    }
    Logger log;
    EXPECT_FALSE(Gzip::unGzipFile(dir.File("missing.gz").c_str(), log));
}
