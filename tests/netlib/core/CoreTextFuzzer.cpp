// Checks invariants of the text buffers and UTF codecs on arbitrary bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/Utf.h"

using namespace tessik;

namespace {
void require(bool ok) {
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 16)
        return 0;
    // UTF-8 -> UTF-16 -> UTF-8 settles after one pass.
    DataBuffer u16, u8, u16again;
    utf8ToUtf16(data, static_cast<unsigned>(size), u16);
    require(u16.getSize() % 2 == 0);
    utf16ToUtf8(u16.getData(), u16.getSize(), u8);
    utf8ToUtf16(u8.getData(), u8.getSize(), u16again);
    // The way back drops zero units; nothing else may change.
    DataBuffer nonZero;
    for (unsigned i = 0; i < u16.getSize(); i += 2)
        if (u16.getData()[i] || u16.getData()[i + 1])
            nonZero.append(u16.getData() + i, 2);
    require(nonZero.equalsDb(u16again));

    DataBuffer in, u32, back;
    in.append(data, static_cast<unsigned>(size));
    bool whole = utf8ToUtf32LE(in, u32);
    utf32ToUtf8(u32, back);
    require(back.getSize() <= size && (back.getSize() == 0 || std::memcmp(back.getData(), data, back.getSize()) == 0));
    if (whole)
        require(back.getSize() == size);

    // Text pieces put back together give the text again.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    if (!text.empty()) {
        char sep = text[0];
        StringBuffer sb(text.c_str());
        ExtPtrArray pieces;
        pieces.setOwnsObjects(true);
        require(sb.split(pieces, sep, size % 2 == 0, size % 3 == 0));
        std::string joined;
        for (int i = 0; i < pieces.getCount(); ++i) {
            if (i)
                joined += sep;
            joined += static_cast<StringBuffer*>(pieces.elementAt(i))->getString();
        }
        require(joined == text);

        StringBuffer copy(sb);
        int n = copy.replaceAll(text.substr(0, 1 + size % 3).c_str(), "<>");
        require(n >= 0);
        DataBuffer hex;
        sb.decodeHex(hex);
        require(hex.getSize() == (static_cast<unsigned>(sb.getSize()) + 1) / 2);
    }
    return 0;
}
