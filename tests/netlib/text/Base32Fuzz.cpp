// Base32 text from outside: the decoder must stay inside its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DataBuffer out;
    if (!ContentCoding::decodeBase32(reinterpret_cast<const char*>(data), static_cast<unsigned int>(size), out))
        std::abort();
    if (out.getSize() > size * 5 / 8 + 5)
        std::abort();

    tessik::StringBuffer text;
    ContentCoding::encodeBase32(out.getData(), out.getSize(), text);
    DataBuffer back;
    ContentCoding::decodeBase32(text.getString(), static_cast<unsigned int>(text.getSize()), back);
    if (!back.equalsDb(out))
        std::abort();
    return 0;
}
