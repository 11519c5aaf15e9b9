// uuencoded text from outside: the decoder must stay inside its input, and
// whatever it decodes must survive an encode and decode unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/Uu.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size); // NUL-terminated copy
    DataBuffer out;
    StringBuffer mode, name;
    if (!Uu::uudecode(text.c_str(), out, mode, name))
        return 0;
    // Each line of n characters yields at most 63 bytes.
    if (out.getSize() > (size / 2 + 1) * 63)
        std::abort();
    StringBuffer again;
    Uu::uuencode(out, "644", "f", again);
    DataBuffer back;
    StringBuffer mode2, name2;
    if (out.getSize() && (!Uu::uudecode(again.getString(), back, mode2, name2) || !back.equalsDb(out)))
        std::abort();
    return 0;
}
