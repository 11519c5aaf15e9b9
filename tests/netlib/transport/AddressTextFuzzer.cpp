// Address texts from untrusted input: the parsers agree with glibc's
// inet_pton on every text, and what the formatter writes reads back.
#include <arpa/inet.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/StringBuffer.h"
#include "netlib/transport/WinsockLoader.h"

namespace {
void require(bool ok) {
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 256)
        return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str(); // up to the first zero byte, as a C string goes
    std::uint32_t ours4 = 0, theirs4 = 0;
    bool ok4 = inet_pton(AF_INET, text.c_str(), &theirs4) == 1;
    require(tessik::parseIpv4(text.c_str(), &ours4) == ok4);
    require(!ok4 || ours4 == theirs4);
    unsigned char ours6[16] = {}, theirs6[16] = {};
    bool ok6 = inet_pton(AF_INET6, text.c_str(), theirs6) == 1;
    require(tessik::parseIpv6(text.c_str(), ours6) == ok6);
    require(!ok6 || std::memcmp(ours6, theirs6, 16) == 0);
    if (size >= 16) {
        tessik::StringBuffer formatted;
        tessik::formatIpv6(data, formatted);
        unsigned char back[16];
        require(inet_pton(AF_INET6, formatted.getString(), back) == 1);
        require(std::memcmp(back, data, 16) == 0);
    }
    return 0;
}
