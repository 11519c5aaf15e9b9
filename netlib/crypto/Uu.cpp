#include "netlib/crypto/Uu.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace tessik {

namespace {

constexpr unsigned int kBytesPerLine = 45;
constexpr unsigned char kBias = 0x20;
constexpr unsigned char kZeroChar = 0x60; // '`' stands for a zero value
constexpr unsigned char kSixBits = 0x3F;
constexpr const char* kDefaultMode = "644";
constexpr const char* kDefaultName = "file.dat";

char encodeChar(unsigned int v, bool zeroAsGrave) {
    v &= kSixBits;
    return static_cast<char>(v == 0 && zeroAsGrave ? kZeroChar : v + kBias);
}

unsigned int decodeChar(std::string_view line, std::size_t i) {
    // Characters past the line's end count as zero values.
    return i < line.size() ? (static_cast<unsigned char>(line[i]) - kBias) & kSixBits : 0;
}

// One line without its LF and CRs; false at the end of the text.
bool nextLine(const char*& p, std::string& line) {
    if (!*p)
        return false;
    line.clear();
    while (*p && *p != '\n') {
        if (*p != '\r')
            line += *p;
        ++p;
    }
    if (*p == '\n')
        ++p;
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

void Uu::uuencode(const DataBuffer& data, const char* fileMode, const char* fileName, StringBuffer& out) {
    if (data.getSize() == 0)
        return;
    StringBuffer mode(fileMode ? fileMode : ""), name(fileName ? fileName : "");
    mode.trimWhitespace();
    name.trimWhitespace();
    out.append("begin ");
    out.append(mode.getSize() ? mode.getString() : kDefaultMode);
    out.append(" ");
    out.append(name.getSize() ? name.getString() : kDefaultName);
    out.append("\r\n");
    const unsigned char* p = data.getData();
    for (unsigned int at = 0; at < data.getSize(); at += kBytesPerLine) {
        const unsigned int n = std::min(kBytesPerLine, data.getSize() - at);
        out.appendChar(static_cast<char>(n + kBias));
        for (unsigned int g = 0; g < n; g += 3) {
            const unsigned int b0 = p[at + g];
            const unsigned int b1 = g + 1 < n ? p[at + g + 1] : 0;
            const unsigned int b2 = g + 2 < n ? p[at + g + 2] : 0;
            out.appendChar(encodeChar(b0 >> 2, false));
            out.appendChar(encodeChar((b0 << 4) | (b1 >> 4), true));
            out.appendChar(encodeChar((b1 << 2) | (b2 >> 6), true));
            out.appendChar(encodeChar(b2, true));
        }
        out.append("\r\n");
    }
    out.append("`\r\nend\r\n");
}

bool Uu::uudecode(const char* text, DataBuffer& out, StringBuffer& fileMode, StringBuffer& fileName) {
    fileMode.clear();
    fileName.clear();
    if (!text)
        return false;
    const char* p = text;
    std::string line;
    bool found = false;
    while (!found && nextLine(p, line))
        found = line.size() >= 6 && StringBuffer(line.substr(0, 6).c_str()).equalsNoCase("begin ");
    if (!found || line.compare(0, 5, "begin") != 0)
        return false;
    std::size_t i = 5;
    while (i < line.size() && std::strchr(" \t\n\v\f\r", line[i]))
        ++i;
    std::uint64_t mode = 0;
    std::size_t digits = 0;
    constexpr std::uint64_t kModeLimit = 0xFFFFFFFFu;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '7'; ++i, ++digits) {
        mode = mode * 8 + static_cast<unsigned>(line[i] - '0');
        if (mode > kModeLimit)
            return false;
    }
    if (digits == 0)
        return false;
    char octal[16];
    std::snprintf(octal, sizeof octal, "%o", static_cast<unsigned int>(mode));
    fileMode.append(octal);

    std::size_t at = line.find(' ');
    while (at < line.size() && isBlank(line[at]))
        ++at;
    std::size_t gap = line.find(' ', at);
    if (gap == std::string::npos)
        gap = line.find('\t', at);
    if (gap != std::string::npos) {
        while (gap < line.size() && isBlank(line[gap]))
            ++gap;
        fileName.append(line.substr(gap).c_str());
    }

    DataBuffer bytes;
    while (nextLine(p, line) && line.compare(0, 3, "end") != 0) {
        const unsigned int n = decodeChar(line, 0);
        if (n == 0)
            break;
        unsigned char group[3];
        for (unsigned int done = 0, c = 1; done < n; c += 4) {
            const unsigned int s0 = decodeChar(line, c), s1 = decodeChar(line, c + 1), s2 = decodeChar(line, c + 2),
                               s3 = decodeChar(line, c + 3);
            group[0] = static_cast<unsigned char>((s0 << 2) | (s1 >> 4));
            group[1] = static_cast<unsigned char>((s1 << 4) | (s2 >> 2));
            group[2] = static_cast<unsigned char>((s2 << 6) | s3);
            const unsigned int take = std::min(3u, n - done);
            bytes.append(group, take);
            done += take;
        }
    }
    out.appendDb(bytes);
    return true;
}

} // namespace tessik
