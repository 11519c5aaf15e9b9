#pragma once
// C-string routines shared by the buffers and the protocol code.

// First place in `text` where `pattern` occurs, ASCII letters compared without
// case; null when either is null or empty, or on no match.
namespace tessik {

const char* findSubstringNoCase(const char* text, const char* pattern);

// "*" stands for any run of bytes; false when text or pattern is null.
bool wildcardMatch(const char* text, const char* pattern, bool caseSensitive);

// ASCII-only case folding, independent of the process locale.
inline char asciiToLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
inline char asciiToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
// 0-15 for a hexadecimal digit of either case, -1 for anything else.
inline int asciiHexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
// 0 when the first n bytes are equal without regard to ASCII case.
int asciiCompareNoCase(const char* a, const char* b, unsigned long n);

} // namespace tessik
