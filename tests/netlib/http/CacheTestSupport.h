#pragma once
// What the cache tests share: the python reader of the cache files
// (tests/peers/cache_files.py) and the cached-response layout it reads.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "platform/ByteOrder.h"
#include "tests/netlib/http/AuthTestSupport.h"
#include "tests/support/TestSupport.h"

namespace cachetest {

// The reader's output for the command and its arguments, without the last
// line end.
inline std::string Reader(const std::vector<std::string>& args) {
    std::vector<std::string> argv{"/usr/bin/python3", std::string(GRV_SOURCE_DIR) + "/tests/peers/cache_files.py"};
    argv.insert(argv.end(), args.begin(), args.end());
    grvtest::RunOptions options;
    options.timeout = std::chrono::minutes(5);
    const grvtest::RunResult r = grvtest::RunProgram(argv, options);
    EXPECT_TRUE(r.Ok()) << r.err;
    std::string out = r.out;
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

// The cached data of a response: the body's offset, the head, the body.
inline void CachedResponse(const std::string& head, const std::string& body, tessik::DataBuffer& out) {
    unsigned char at[4];
    platform::StoreLe32(at, static_cast<std::uint32_t>(4 + head.size()));
    out.clear();
    out.append(at, 4);
    out.append(head.data(), static_cast<unsigned int>(head.size()));
    out.append(body.data(), static_cast<unsigned int>(body.size()));
}

} // namespace cachetest
