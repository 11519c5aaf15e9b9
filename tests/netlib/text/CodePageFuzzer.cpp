// Bytes in any page from any peer: the first two bytes pick the source and
// destination pages, the rest is the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Utf.h"
#include "netlib/text/Iso2022.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

namespace {
const int kPages[] = {932,  936, 949,   950,   1361,  10001, 51932, 51936, 51949, 1252,  10004, 28596,
                      1256, 37,  50220, 50222, 50225, 65001, 1200,  1201,  65005, 65006, 54936};
constexpr std::size_t kCount = sizeof kPages / sizeof kPages[0];
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    tessik::installTextServices();
    int from = kPages[data[0] % kCount];
    int to = kPages[data[1] % kCount];
    const unsigned char* text = data + 2;
    unsigned int n = static_cast<unsigned int>(size - 2);
    DataBuffer out;
    EncodingConvert ec;
    ec.convert(from, to, text, n, out);
    // Each transform on its own: output stays within a small multiple of the input.
    DataBuffer a, b, c, d;
    tessik::Japanese j;
    tessik::Korean k;
    j.iso2022JpToShiftJis(text, n, a);
    j.shiftJisToIso2022Jp(text, n, b);
    k.iso2022KrToEucKr(text, n, c);
    k.eucKrToIso2022Kr(text, n, d);
    if (a.getSize() > 2u * n || b.getSize() > 8u * n + 6 || c.getSize() > n || d.getSize() > 3u * n + 4)
        std::abort();
    // The readers' decoder: well-formed UTF-8, at most one U+FFFD a byte.
    DataBuffer text8, check;
    std::uint64_t replaced = 0;
    ec.decodeToUtf8(from, text, n, text8, replaced);
    if (text8.getSize() > 3u * n + 3 || appendUtf8Replacing(text8.getData(), text8.getSize(), check) != 0)
        std::abort();
    return 0;
}
