// Base64 text arrives in bodies, headers and XML from any peer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    unsigned int n = static_cast<unsigned int>(size);
    unsigned int len = 0;
    bool ok = false;
    unsigned char* p = ContentCoding::decodeBase64Checked(text, n, &len, &ok);
    if (!ok || (size && !p) || len > size * 3 / 4 + 3)
        std::abort();

    // What decodes must encode to text that decodes to the same bytes.
    tessik::StringBuffer again;
    ContentCoding().encodeBase64(p, len, again);
    DataBuffer back;
    if (!ContentCoding::decodeBase64(again.getString(), static_cast<unsigned int>(again.getSize()), back))
        std::abort();
    if (back.getSize() != len || (len && std::memcmp(back.getData(), p, len) != 0))
        std::abort();
    std::free(p);

    std::vector<char> nulTerminated(text, text + size);
    nulTerminated.push_back(0);
    tessik::StringBuffer sb;
    ContentCoding::decodeBase64ToSb(sb, nulTerminated.data());
    return 0;
}
