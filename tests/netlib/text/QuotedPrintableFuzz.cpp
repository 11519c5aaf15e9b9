// Quoted-printable bodies and the Q text of header words come from any peer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    unsigned int n = static_cast<unsigned int>(size);

    DataBuffer decoded;
    ContentCoding::decodeQuotedPrintable(text, n, decoded);
    // Every byte survives our own encoding and decoding.
    tessik::StringBuffer again;
    ContentCoding().encodeQuotedPrintable(decoded.getData(), decoded.getSize(), again);
    DataBuffer back;
    ContentCoding::decodeQuotedPrintable(again.getString(), static_cast<unsigned int>(again.getSize()), back);
    if (!back.equalsDb(decoded))
        std::abort();

    unsigned int len = 0;
    std::string terminated(text, size); // a length of 0 means "up to the NUL"
    char* q = ContentCoding::decodeQPtr(terminated.c_str(), static_cast<int>(n), &len);
    if (q && (len > size || q[len] != 0))
        std::abort();
    std::free(q);
    char* e = ContentCoding::encodeQPtr(data, n, &len);
    char* d = ContentCoding::decodeQPtr(e, static_cast<int>(len), &len);
    // Q text drops controls and '?', so only the length is bounded here.
    if (d && len > size)
        std::abort();
    std::free(e);
    std::free(d);
    return 0;
}
