// UTF-7 text arrives wherever a peer names charset "utf-7".
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "netlib/core/DataBuffer.h"
#include "netlib/text/Utf7.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DataBuffer in;
    in.append(data, static_cast<unsigned int>(size));
    DataBuffer units;
    tessik::utf7ToUtf16(in, units);
    if (units.getSize() % 2 != 0 || units.getSize() > 2 * size)
        std::abort();
    // The replacing reader gives at most a unit per byte, whole units only.
    DataBuffer replacing;
    std::uint64_t replaced = 0;
    tessik::utf7ToUtf16Replacing(data, static_cast<unsigned int>(size), replacing, replaced);
    if (replacing.getSize() % 2 != 0 || replacing.getSize() > 2 * size || replaced > size)
        std::abort();

    // Decoded units come back unchanged through our own encoder, except a
    // leading U+FEFF, which the encoder drops.
    DataBuffer text;
    tessik::utf16ToUtf7(units, text);
    DataBuffer back;
    if (!tessik::utf7ToUtf16(text, back))
        std::abort();
    const unsigned char* u = units.getData();
    unsigned int skip = units.getSize() >= 2 && u[0] == 0xFF && u[1] == 0xFE ? 2 : 0;
    if (back.getSize() != units.getSize() - skip)
        std::abort();
    for (unsigned int i = 0; i < back.getSize(); ++i)
        if (back.getData()[i] != u[skip + i])
            std::abort();
    return 0;
}
