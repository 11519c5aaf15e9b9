#include "netlib/core/CStringUtil.h"

#include <cstring>

namespace tessik {

int asciiCompareNoCase(const char* a, const char* b, unsigned long n) {
    for (unsigned long i = 0; i < n; ++i) {
        unsigned char ca = static_cast<unsigned char>(asciiToUpper(a[i]));
        unsigned char cb = static_cast<unsigned char>(asciiToUpper(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
    }
    return 0;
}

const char* findSubstringNoCase(const char* text, const char* pattern) {
    if (!text || !pattern || !*text || !*pattern)
        return nullptr;
    std::size_t plen = std::strlen(pattern);
    std::size_t tlen = std::strlen(text);
    if (plen > tlen)
        return nullptr;
    // Candidates are found by their first byte, in either case.
    const char lower = asciiToLower(pattern[0]);
    const char upper = asciiToUpper(pattern[0]);
    const char* last = text + (tlen - plen);
    for (const char* p = text; p <= last; ++p) {
        if ((*p == lower || *p == upper) && asciiCompareNoCase(p + 1, pattern + 1, plen - 1) == 0)
            return p;
    }
    return nullptr;
}

namespace {

bool bytesEqual(const char* a, const char* b, std::size_t n, bool cs) {
    return cs ? std::memcmp(a, b, n) == 0 : asciiCompareNoCase(a, b, n) == 0;
}

// First occurrence of part[0..n) in text[0..tlen), or -1.
long findPart(const char* text, std::size_t tlen, const char* part, std::size_t n, bool cs) {
    if (n > tlen)
        return -1;
    for (std::size_t i = 0; i + n <= tlen; ++i)
        if (bytesEqual(text + i, part, n, cs))
            return static_cast<long>(i);
    return -1;
}

} // namespace

bool wildcardMatch(const char* text, const char* pattern, bool caseSensitive) {
    if (!text || !pattern)
        return false;
    std::size_t tlen = std::strlen(text);
    std::size_t plen = std::strlen(pattern);
    if (tlen == 0) {
        for (std::size_t i = 0; i < plen; ++i)
            if (pattern[i] != '*')
                return false;
        return true;
    }
    if (plen == 0)
        return false;
    const char* star = std::strchr(pattern, '*');
    if (!star)
        return tlen == plen && bytesEqual(text, pattern, tlen, caseSensitive);

    // Head: must begin the text.
    std::size_t headLen = static_cast<std::size_t>(star - pattern);
    if (headLen > tlen || !bytesEqual(text, pattern, headLen, caseSensitive))
        return false;
    std::size_t pos = headLen;
    std::size_t pi = headLen;
    for (;;) {
        while (pi < plen && pattern[pi] == '*')
            ++pi;
        if (pi == plen)
            return true; // pattern ends in "*"
        std::size_t partEnd = pi;
        while (partEnd < plen && pattern[partEnd] != '*')
            ++partEnd;
        std::size_t partLen = partEnd - pi;
        if (partEnd == plen) {
            // Tail: must end the remaining text.
            if (tlen - pos < partLen)
                return false;
            return bytesEqual(text + tlen - partLen, pattern + pi, partLen, caseSensitive);
        }
        long at = findPart(text + pos, tlen - pos, pattern + pi, partLen, caseSensitive);
        if (at < 0)
            return false;
        pos += static_cast<std::size_t>(at) + partLen;
        pi = partEnd;
    }
}

} // namespace tessik
