#pragma once
// The form-URL decoding rules a byte at a time, as plainly as they read: the
// judge of the library's word-wise decoder in the tests and the fuzzer.
#include <string>

namespace texttest {

inline std::string plainlyUrlDecoded(const std::string& text) {
    auto hex = [](char ch) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    // The text ends at its first NUL; a '%' cut off by the end ends it too.
    std::string out;
    for (std::size_t i = 0; i < text.size() && text[i]; ++i) {
        char c = text[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size() || !text[i + 1] || !text[i + 2])
                break;
            if (hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
                c = static_cast<char>(hex(text[i + 1]) << 4 | hex(text[i + 2]));
                i += 2;
            }
        }
        out += c;
    }
    return out;
}

} // namespace texttest
