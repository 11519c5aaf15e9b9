// Form bodies and query strings from any peer: decoded as the plain byte
// loop decodes them, and encoded again, decoded back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/UrlCoding.h"
#include "tests/netlib/text/PlainUrlDecode.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    DataBuffer decoded;
    tessik::urlDecode(tessik::StringBuffer(text.c_str()), decoded);
    const std::string want = texttest::plainlyUrlDecoded(text);
    if (decoded.getSize() != want.size() || (!want.empty() && std::memcmp(decoded.getData(), want.data(), want.size())))
        std::abort();

    tessik::StringBuffer again;
    tessik::urlEncodeDb(decoded, again);
    DataBuffer back;
    tessik::urlDecode(again, back);
    if (!back.equalsDb(decoded))
        std::abort();
    return 0;
}
