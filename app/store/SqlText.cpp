#include "app/store/SqlText.h"

#include <cstdarg>
#include <cstdio>

std::string EscapeSqlText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        if (ch == '\'') {
            out += "''";
        } else if (ch != '\0') {
            out += ch;
        }
    }
    return out;
}

std::string SqlFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string out;
    if (needed > 0) {
        out.resize(static_cast<size_t>(needed));
        std::vsnprintf(out.data(), out.size() + 1, format, again);
    }
    va_end(again);
    return out;
}

std::string TrimText(std::string_view text) {
    auto isBlank = [](char ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isBlank(text[first]))
        ++first;
    while (last > first && isBlank(text[last - 1]))
        --last;
    return std::string(text.substr(first, last - first));
}
