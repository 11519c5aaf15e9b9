#include "netlib/text/UrlCoding.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool isPlain(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

} // namespace

void urlEncodeBytes(const void* bytes, unsigned int n, StringBuffer& out) {
    if (!bytes || n == 0)
        return;
    const unsigned char* p = static_cast<const unsigned char*>(bytes);
    char block[2048];
    unsigned int fill = 0;
    for (unsigned int i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (isPlain(c)) {
            block[fill++] = static_cast<char>(c);
        } else if (c == ' ') {
            block[fill++] = '+';
        } else {
            block[fill++] = '%';
            block[fill++] = kHex[c >> 4];
            block[fill++] = kHex[c & 15];
        }
        if (fill + 3 > sizeof block) {
            out.appendBytes(block, static_cast<int>(fill));
            fill = 0;
        }
    }
    if (fill)
        out.appendBytes(block, static_cast<int>(fill));
}

void urlEncodeDb(const DataBuffer& in, StringBuffer& out) {
    urlEncodeBytes(in.getData(), in.getSize(), out);
}

void urlDecode(const StringBuffer& text, DataBuffer& out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.getString());
    unsigned char block[2048];
    unsigned int fill = 0;
    for (; *p; ++p) {
        unsigned char c = *p;
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (!p[1] || !p[2])
                break;
            int hi = hexValue(p[1]), lo = hexValue(p[2]);
            if (hi >= 0 && lo >= 0) {
                c = static_cast<unsigned char>(hi << 4 | lo);
                p += 2;
            }
        }
        block[fill++] = c;
        if (fill == sizeof block) {
            out.append(block, fill);
            fill = 0;
        }
    }
    if (fill)
        out.append(block, fill);
}

} // namespace tessik
