// Body framing of responses and the incremental chunk decoder: every case is
// fed whole, a byte at a time and split at every position, and must end
// exactly at the last chunk's blank line.
#include <gtest/gtest.h>

#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TextServices.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

constexpr const char* kNext = "HTTP/1.1 200 OK\r\n"; // the next response on the connection

// Feeds `wire` in the given piece sizes (0: whole); returns the body, or
// "<fail>", and the bytes left unconsumed.
std::string decode(const std::string& wire, std::size_t piece, std::uint64_t maxBody, std::string* rest) {
    ChunkedDecoder dec(maxBody);
    DataBuffer body;
    OutputDataBuffer out(&body);
    LogNull log;
    std::size_t pos = 0;
    while (pos < wire.size() && !dec.isDone()) {
        const std::size_t n = piece == 0 ? wire.size() - pos : std::min(piece, wire.size() - pos);
        std::uint32_t used = 0;
        if (!dec.feed(reinterpret_cast<const unsigned char*>(wire.data() + pos), static_cast<std::uint32_t>(n), out,
                      used, log, nullptr))
            return "<fail>";
        pos += used;
        if (used < n)
            break;
    }
    *rest = wire.substr(pos);
    if (!dec.isDone())
        return "<incomplete>";
    return std::string(reinterpret_cast<const char*>(body.getData()), body.getSize());
}

} // namespace

TEST(ChunkedDecoder, EndsExactlyAtTheLastChunkHoweverSplit) {
    struct Case {
        const char* name;
        std::string wire;
        std::uint64_t maxBody;
        std::string body;
    };
    const Case cases[] = {
        {"plain", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", 0, "hello world"},
        {"extensions", "5;name=\"x;y\"\r\nhello\r\nA ; ext\r\n0123456789\r\n0;last\r\n\r\n", 0, "hello0123456789"},
        {"trailers", "3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-Other: two\r\n\r\n", 0, "abc"},
        {"bare LF and upper-case hex", "B\nhello world\n0\n\n", 0, "hello world"},
        {"data holding the end pattern", "9\r\n\r\n0\r\n\r\nxx\r\n0\r\n\r\n", 0, "\r\n0\r\n\r\nxx"},
        {"empty body", "0\r\n\r\n", 0, ""},
        {"zero-padded sizes", "0003\r\nabc\r\n0000\r\n\r\n", 0, "abc"},
        {"within the limit", "4\r\nabcd\r\n0\r\n\r\n", 4, "abcd"},
        {"past the limit", "4\r\nabcd\r\n1\r\ne\r\n0\r\n\r\n", 4, "<fail>"},
        {"not hex", "zz\r\nabc\r\n0\r\n\r\n", 0, "<fail>"},
        {"junk after the size", "3 x\r\nabc\r\n0\r\n\r\n", 0, "<fail>"},
        {"data longer than its size", "3\r\nabcd\r\n0\r\n\r\n", 0, "<fail>"},
        {"size past 64 bits", "10000000000000000\r\n", 0, "<fail>"},
        {"endless size line", std::string(9000, '1'), 0, "<fail>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wire = c.wire + kNext;
        const bool ok = c.body != "<fail>";
        for (std::size_t piece : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{7}}) {
            std::string rest;
            EXPECT_EQ(decode(wire, piece, c.maxBody, &rest), c.body) << "pieces of " << piece;
            if (ok) {
                EXPECT_EQ(rest, kNext) << "pieces of " << piece;
            }
        }
        // Every split into two reads, "0\r\n\r\n" across them included.
        for (std::size_t cut = 1; ok && cut < c.wire.size(); ++cut) {
            ChunkedDecoder dec(c.maxBody);
            DataBuffer body;
            OutputDataBuffer out(&body);
            LogNull log;
            std::uint32_t used1 = 0;
            std::uint32_t used2 = 0;
            ASSERT_TRUE(dec.feed(reinterpret_cast<const unsigned char*>(wire.data()), static_cast<std::uint32_t>(cut),
                                 out, used1, log, nullptr));
            EXPECT_FALSE(dec.isDone());
            ASSERT_TRUE(dec.feed(reinterpret_cast<const unsigned char*>(wire.data() + cut),
                                 static_cast<std::uint32_t>(wire.size() - cut), out, used2, log, nullptr));
            EXPECT_TRUE(dec.isDone());
            EXPECT_EQ(used1 + used2, c.wire.size()) << cut;
            EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.getData()), body.getSize()), c.body) << cut;
        }
    }
}

TEST(BodyFraming, StatusAndFieldsDecideTheBody) {
    installTextServices();
    struct Case {
        const char* head;
        bool headRequest;
        BodyFraming::Kind kind;
        std::uint64_t length;
        bool closeAfter;
        bool followsRedirect = false;
    };
    const Case cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n", false, BodyFraming::kLength, 12, false},
        {"HTTP/1.1 200 OK\r\nContent-Length: 12\r\n", true, BodyFraming::kNone, 0, false},
        {"HTTP/1.1 100 Continue\r\n", false, BodyFraming::kNone, 0, false},
        {"HTTP/1.1 204 No Content\r\n", false, BodyFraming::kNone, 0, false},
        {"HTTP/1.1 304 Not Modified\r\nContent-Length: 99\r\n", false, BodyFraming::kNone, 0, false},
        {"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n", false, BodyFraming::kLength, 0, false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\nContent-Length: 5\r\n", false, BodyFraming::kChunked, 0,
         false},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n", false, BodyFraming::kBadCoding, 0, true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: =?us-ascii?Q?chunked?=\r\nContent-Length: 5\r\n", false,
         BodyFraming::kBadCoding, 0, true},
        {"HTTP/1.1 302 Found\r\nTransfer-Encoding: x\r\nContent-Length: 5\r\n", false, BodyFraming::kSkip, 0, true,
         true},
        {"HTTP/1.1 302 Found\r\nTransfer-Encoding: x\r\nContent-Length: 5\r\n", false, BodyFraming::kBadCoding, 0,
         true},
        {"HTTP/1.1 200 OK\r\nTransfer-Encoding: identity\r\nContent-Length: 5\r\n", false, BodyFraming::kLength, 5,
         false},
        {"HTTP/1.1 500 Oops\r\n", false, BodyFraming::kUntilClose, 0, true},
        {"HTTP/1.1 200 OK\r\n", false, BodyFraming::kUntilClose, 0, true},
        {"HTTP/1.1 302 Found\r\nLocation: /x\r\n", false, BodyFraming::kSkip, 0, true},
        {"HTTP/1.1 302 Found\r\nContent-Length: 3\r\n", false, BodyFraming::kLength, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.head);
        HttpResponseHeader header;
        LogNull log;
        header.parse((std::string(c.head) + "\r\n").c_str(), log);
        const BodyFraming f = decideBodyFraming(header, c.headRequest, c.followsRedirect);
        EXPECT_EQ(f.kind, c.kind);
        EXPECT_EQ(f.length, c.length);
        EXPECT_EQ(f.closeAfter, c.closeAfter);
    }
    BodyFraming big;
    big.kind = BodyFraming::kLength;
    big.length = 1001;
    LogNull log;
    EXPECT_FALSE(checkBodyLength(big, 1000, log));
    EXPECT_TRUE(checkBodyLength(big, 1001, log));
    EXPECT_TRUE(checkBodyLength(big, 0, log));
}

TEST(BodyFraming, GzipBodiesAreInflatedWithinTheSizeLimit) {
    installTextServices();
    // A member of 50 short lines, and a bomb: 64 MiB of zeros in 64 KiB.
    const grvtest::RunResult made =
        grvtest::Python("import gzip,sys; sys.stdout.buffer.write(gzip.compress(b'journal entry ' * 50))");
    const grvtest::RunResult bomb =
        grvtest::Python("import gzip,sys; sys.stdout.buffer.write(gzip.compress(bytes(64 << 20), 9))");
    ASSERT_TRUE(made.Ok() && bomb.Ok());
    HttpResponseHeader gzipHead;
    HttpResponseHeader plainHead;
    LogNull log;
    gzipHead.parse("HTTP/1.1 200 OK\r\nContent-Encoding: GZIP\r\n\r\n", log);
    plainHead.parse("HTTP/1.1 200 OK\r\n\r\n", log);
    std::string plain;
    for (int i = 0; i < 50; ++i)
        plain += "journal entry ";
    std::string badCrc = made.out;
    badCrc[badCrc.size() - 8] ^= 1;
    constexpr std::uint64_t kMiB = 1 << 20;
    struct Case {
        const char* name;
        const HttpResponseHeader* head;
        std::string in;
        std::uint64_t limit;
        bool ok;
        std::string out;
    };
    const Case cases[] = {
        {"decompressed", &gzipHead, made.out, 0, true, plain},
        {"exactly at the limit", &gzipHead, made.out, plain.size(), true, plain},
        {"a CRC mismatch fails and empties the body", &gzipHead, badCrc, 0, false, ""},
        {"not labelled gzip", &plainHead, made.out, 0, true, made.out},
        {"ten bytes are no whole member", &gzipHead, made.out.substr(0, 10), 0, false, ""},
        {"nothing is nothing to undo", &gzipHead, "", 0, true, ""},
        {"one byte past the limit", &gzipHead, made.out, plain.size() - 1, false, ""},
        {"a bomb stops at the limit", &gzipHead, bomb.out, kMiB, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DataBuffer body;
        body.append(c.in.data(), static_cast<unsigned int>(c.in.size()));
        EXPECT_EQ(undoContentCodings(*c.head, body, c.limit, log, nullptr), c.ok);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(body.getData()), body.getSize()), c.out);
    }
}
