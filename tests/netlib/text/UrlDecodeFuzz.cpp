// Form bodies and query strings from any peer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/UrlCoding.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    DataBuffer decoded;
    tessik::urlDecode(tessik::StringBuffer(text.c_str()), decoded);
    if (decoded.getSize() > size)
        std::abort();

    tessik::StringBuffer again;
    tessik::urlEncodeDb(decoded, again);
    DataBuffer back;
    tessik::urlDecode(again, back);
    if (!back.equalsDb(decoded))
        std::abort();
    return 0;
}
