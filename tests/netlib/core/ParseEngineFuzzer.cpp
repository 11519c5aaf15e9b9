// Drives the text scanner with operations chosen by the input and checks that
// the cursor never passes the end and that captures copy the text verbatim.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/core/StringBuffer.h"

using namespace tessik;

namespace {
void require(bool ok) {
    if (!ok)
        std::abort();
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8 || size > 1 << 16)
        return 0;
    // The first 8 bytes pick the operations; the rest is the text.
    DataBuffer text;
    text.append(data + 8, static_cast<unsigned>(size - 8));
    ParseEngine p(text);
    const std::uint32_t end = static_cast<std::uint32_t>(std::strlen(p.getData()));
    const char set[8] = {static_cast<char>(data[1]), static_cast<char>(data[2]), '<', '>', '"', '\'', ' ', 0};
    for (int i = 0; i < 8; ++i) {
        std::uint32_t before = p.getCursor();
        StringBuffer out;
        bool expectCopy = true;
        switch (data[i] % 12) {
        case 0: p.captureToChar(set[0], out); break;
        case 1: p.captureToAnyOf(set, out); break;
        case 2: p.captureToAnyOf7(set, out); break;
        case 3: p.captureToAnyOf2(set + 1, out); break;
        case 4: p.captureToAnyOfUnescaped(set, out); break;
        case 5: p.captureToCharOutsideQuotes('>', out); break;
        case 6: p.captureBalanced('<', '>', (data[i] / 12) % 3, out); break;
        case 7: p.captureThroughSubstringNoCase("<!--", out); break;
        case 8:
            expectCopy = false;
            p.seekCharBefore('>', '<');
            break;
        case 9:
            expectCopy = false;
            p.seekPastSubstring("]]>");
            break;
        case 10:
            expectCopy = false;
            p.skipChars(' ', '\t', '\r', '\n');
            break;
        default:
            expectCopy = false;
            p.setCursor(data[i] * 7u);
            break;
        }
        std::uint32_t after = p.getCursor();
        require(after <= end);
        if (expectCopy) {
            require(after >= before);
            require(static_cast<std::uint32_t>(out.getSize()) == after - before);
            require(std::memcmp(out.getString(), p.getData() + before, after - before) == 0);
        }
    }
    return 0;
}
