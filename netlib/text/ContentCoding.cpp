#include "netlib/text/ContentCoding.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/BodyText.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kBase64Url[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr char kBase32[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567=";
constexpr char kHex[] = "0123456789ABCDEF";
constexpr int kDefaultLineLength = 76;
constexpr int kMinLineLength = 10;
constexpr unsigned int kOneWordLimit = 60; // bytes of text (UTF-16 bytes when split)
constexpr int kMaxWordLength = 75;         // RFC 2047's limit for one encoded word
constexpr int kUtf8Page = 65001;
constexpr int kUtf16Page = 1200;

// Decoder classes of a text byte.
constexpr unsigned char kSkip = 0x80;
constexpr unsigned char kEnd = 0x81;
constexpr unsigned char kPad = 32;
constexpr unsigned char kNotBase32 = 0xFF;

struct Base64Table {
    unsigned char v[256];
    constexpr Base64Table() : v() {
        for (int i = 0; i < 256; ++i)
            v[i] = kSkip;
        for (int i = 0; i < 64; ++i)
            v[static_cast<unsigned char>(kBase64[i])] = static_cast<unsigned char>(i);
        v[static_cast<unsigned char>('=')] = kEnd;
        v[0] = kEnd;
    }
};
constexpr Base64Table kBase64Decode;

// Two characters for every 12 bits, for the bulk of long inputs.
struct PairTable {
    char c[4096][2];
    constexpr explicit PairTable(const char* alphabet) : c() {
        for (int i = 0; i < 4096; ++i) {
            c[i][0] = alphabet[i >> 6];
            c[i][1] = alphabet[i & 63];
        }
    }
};
constexpr PairTable kBase64Pairs(kBase64);
constexpr PairTable kBase64UrlPairs(kBase64Url);

struct Base32Table {
    unsigned char v[256];
    constexpr Base32Table() : v() {
        for (int i = 0; i < 256; ++i)
            v[i] = kNotBase32;
        for (int i = 0; i < 26; ++i) {
            v['A' + i] = static_cast<unsigned char>(i);
            v['a' + i] = static_cast<unsigned char>(i);
        }
        for (int i = 0; i < 6; ++i)
            v['2' + i] = static_cast<unsigned char>(26 + i);
        v[static_cast<unsigned char>('=')] = kPad;
    }
};
constexpr Base32Table kBase32Decode;

// The value of each byte as a hexadecimal digit, -1 for the others.
constexpr std::array<signed char, 256> kHexDigits = [] {
    std::array<signed char, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = c >= '0' && c <= '9'   ? static_cast<signed char>(c - '0')
               : c >= 'A' && c <= 'F' ? static_cast<signed char>(c - 'A' + 10)
               : c >= 'a' && c <= 'f' ? static_cast<signed char>(c - 'a' + 10)
                                      : -1;
    return t;
}();

int hexValue(unsigned char c) {
    return kHexDigits[c];
}

bool sameNoCase(const char* a, const char* b) {
    std::size_t n = std::strlen(a);
    return n == std::strlen(b) && asciiCompareNoCase(a, b, n) == 0;
}

const unsigned char* bytesOf(const void* p) {
    return static_cast<const unsigned char*>(p);
}

// Collects characters and appends them to a StringBuffer in runs.
template <unsigned int Size>
class TextRun {
public:
    explicit TextRun(StringBuffer& out) : out_(out) {}
    ~TextRun() { flush(); }
    void put(char c) {
        block_[fill_++] = c;
        if (fill_ == Size)
            flush();
    }
    void put(const char* s, unsigned int n) {
        for (unsigned int i = 0; i < n; ++i)
            put(s[i]);
    }
    void escape(unsigned char c) {
        put('=');
        put(kHex[c >> 4]);
        put(kHex[c & 15]);
    }
    void flush() {
        if (fill_)
            out_.appendBytes(block_, static_cast<int>(fill_));
        fill_ = 0;
    }

private:
    StringBuffer& out_;
    char block_[Size];
    unsigned int fill_ = 0;
};

void encodeGroup(const unsigned char* p, const char* alphabet, char* q) {
    q[0] = alphabet[p[0] >> 2];
    q[1] = alphabet[((p[0] & 3) << 4) | (p[1] >> 4)];
    q[2] = alphabet[((p[1] & 15) << 2) | (p[2] >> 6)];
    q[3] = alphabet[p[2] & 63];
}

// The last 1 or 2 bytes with their padding; returns the characters written.
int encodeTail(const unsigned char* p, unsigned int left, const char* alphabet, char* q) {
    if (left == 0)
        return 0;
    unsigned char last[3] = {p[0], static_cast<unsigned char>(left == 2 ? p[1] : 0), 0};
    encodeGroup(last, alphabet, q);
    q[3] = '=';
    if (left == 1)
        q[2] = '=';
    return 4;
}

int clampToInt(std::uint64_t n) {
    return n > INT_MAX ? INT_MAX : static_cast<int>(n);
}

bool isBlank(const unsigned char* p, unsigned int n) {
    for (unsigned int i = 0; i < n; ++i)
        if (p[i] != ' ' && p[i] != '\t')
            return false;
    return true;
}

char* encodeQ(const void* bytes, unsigned int n, bool commas, unsigned int* lengthOut) {
    if (lengthOut)
        *lengthOut = 0;
    if (!bytes || n == 0)
        return nullptr;
    const unsigned char* p = bytesOf(bytes);
    StringBuffer sb(3000u);
    {
        TextRun<2000> run(sb);
        for (unsigned int i = 0; i < n; ++i) {
            unsigned char c = p[i];
            bool plain = (c >= 33 && c <= 126) && c != '=' && c != '?' && c != '_' && !(commas && c == ',');
            if (plain)
                run.put(static_cast<char>(c));
            else if (c == ' ')
                run.put('_');
            else
                run.escape(c);
        }
    }
    int len = 0;
    char* data = sb.takeData(&len);
    if (lengthOut)
        *lengthOut = static_cast<unsigned int>(len);
    return data;
}

// A word's bytes as UTF-8, by the decoder a body's text goes through: U+FFFD
// for what its charset does not map, a zero byte as a blank. False for a
// charset the library does not decode whole, whose word stays as written.
bool appendWordAsUtf8(const StringBuffer& charset, const unsigned char* bytes, unsigned int n, DataBuffer& out) {
    if (!EncodingConvert::decodesCharsetName(charset.getString()))
        return false;
    return pageTextUtf8(EncodingConvert::charsetToCodePage(charset.getString()), bytes, n, out);
}

enum class WordsMode { Utf8, ProtectCommas };

bool isFoldingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Decoded text handed to the output, commas protected where asked.
void emitWord(const DataBuffer& word, WordsMode mode, DataBuffer& out, bool* commaReplaced) {
    if (mode != WordsMode::ProtectCommas) {
        out.appendDb(word);
        return;
    }
    for (unsigned int i = 0; i < word.getSize(); ++i) {
        if (word.getData()[i] == ',') {
            out.append("_COMMA_", 7);
            *commaReplaced = true;
        } else {
            out.append(word.getData() + i, 1);
        }
    }
}

// Scans for "=?charset?X?text?=" words. A "=?" that starts no well-formed
// word is kept as text and scanning goes on after it. Adjacent words in one
// charset are decoded as one run of bytes, as mail readers do: a sender may
// split a character, or an ISO-2022 shift, between them.
void decodeWords(const StringBuffer& text, WordsMode mode, DataBuffer& out, bool* commaReplaced) {
    const char* s = text.getString();
    const unsigned int n = static_cast<unsigned int>(text.getSize());
    unsigned int pos = 0;
    unsigned int textFrom = 0; // start of text not yet copied
    bool afterWord = false;    // the last thing written was a decoded word
    // The run of adjacent words not yet decoded: their charset, bytes and span.
    StringBuffer runCharset;
    DataBuffer run;
    unsigned int runFrom = 0, runTo = 0;
    auto flush = [&]() {
        if (runTo == runFrom)
            return;
        DataBuffer word;
        if (run.getSize() == 0 || appendWordAsUtf8(runCharset, run.getData(), run.getSize(), word))
            emitWord(word, mode, out, commaReplaced);
        else
            out.append(s + runFrom, runTo - runFrom);
        run.clear();
        runFrom = runTo = 0;
    };
    while (pos + 1 < n) {
        const char* hit = static_cast<const char*>(memmem(s + pos, n - pos, "=?", 2));
        if (!hit)
            break;
        unsigned int start = static_cast<unsigned int>(hit - s);
        unsigned int csFrom = start + 2;
        const char* q1 = static_cast<const char*>(std::memchr(s + csFrom, '?', n - csFrom));
        unsigned int letterAt = q1 ? static_cast<unsigned int>(q1 - s) + 1 : n;
        const char* close = nullptr;
        // RFC 2047 section 2: B or Q, else no word at all.
        const char letter = letterAt < n ? s[letterAt] : '\0';
        const bool wordLetter = letter == 'B' || letter == 'b' || letter == 'Q' || letter == 'q';
        if (wordLetter && letterAt + 2 < n && s[letterAt + 1] == '?') {
            close = static_cast<const char*>(memmem(s + letterAt + 2, n - letterAt - 2, "?=", 2));
            if (!close)
                break; // no later word can close either
        }
        if (!close) {
            pos = start + 2;
            continue;
        }
        unsigned int encFrom = letterAt + 2;
        unsigned int encTo = static_cast<unsigned int>(close - s);

        // White space between two adjacent words belongs to the folding.
        bool gapIsFolding = afterWord;
        for (unsigned int i = textFrom; gapIsFolding && i < start; ++i)
            gapIsFolding = isFoldingSpace(s[i]);

        // A language after '*' (RFC 2231 section 5) names no charset.
        const char* star = static_cast<const char*>(std::memchr(s + csFrom, '*', letterAt - 1 - csFrom));
        StringBuffer charset(s + csFrom, static_cast<unsigned int>((star ? star - s : letterAt - 1) - csFrom), 0);
        unsigned int decodedLen = 0;
        unsigned char* decoded = nullptr;
        if (encTo > encFrom) {
            if (letter == 'B' || letter == 'b')
                decoded = ContentCoding::decodeBase64Ptr(s + encFrom, encTo - encFrom, &decodedLen);
            else
                decoded = reinterpret_cast<unsigned char*>(
                    ContentCoding::decodeQPtr(s + encFrom, static_cast<int>(encTo - encFrom), &decodedLen));
        }
        const bool read = EncodingConvert::decodesCharsetName(charset.getString());
        if (!(read && gapIsFolding && runTo != runFrom && runCharset.equalsNoCase(charset.getString()))) {
            flush();
            if (!gapIsFolding)
                out.append(s + textFrom, start - textFrom);
            runCharset.setSb(charset);
            runFrom = start;
        }
        if (decoded && decodedLen)
            run.append(decoded, decodedLen);
        memFree(decoded);
        runTo = encTo + 2;
        if (!read) {
            // Text like any other, blanks after it included.
            out.append(s + start, runTo - start);
            run.clear();
            runFrom = runTo;
        }
        pos = textFrom = encTo + 2;
        afterWord = read;
    }
    flush();
    out.append(s + textFrom, n - textFrom);
}

// Hands a decoded block to the buffer; an empty result leaves it empty.
void replaceContent(DataBuffer& out, unsigned char* block, unsigned int len) {
    if (len == 0) {
        memFree(block);
        out.clear();
        return;
    }
    out.adoptData(block, len);
}

void replaceWith(StringBuffer& text, DataBuffer& decoded) {
    text.clear();
    text.appendBytes(decoded.getData(), clampToInt(decoded.getSize()));
}

} // namespace

ContentCoding::ContentCoding() : m_lineLength(kDefaultLineLength), m_escapeCommas(false) {}
ContentCoding::~ContentCoding() = default;

void ContentCoding::setLineLength(int n) {
    m_lineLength = n > kMinLineLength ? n : kMinLineLength;
}

// ---------------------------------------------------------------- base64

void ContentCoding::encodeBase64(const void* bytes, unsigned int n, StringBuffer& out) const {
    if (!bytes || n == 0)
        return;
    const unsigned char* p = bytesOf(bytes);
    std::uint64_t chars = (static_cast<std::uint64_t>(n) + 2) / 3 * 4;
    out.reserveExtra(clampToInt(chars + chars / static_cast<unsigned int>(m_lineLength) * 2 + 4));
    char block[4096];
    unsigned int fill = 0;
    std::int64_t column = 0; // a line length near INT_MAX must not overflow it
    unsigned int i = 0;
    for (; n - i >= 3; i += 3) {
        std::uint32_t v = static_cast<std::uint32_t>(p[i]) << 16 | p[i + 1] << 8 | p[i + 2];
        std::memcpy(block + fill, kBase64Pairs.c[v >> 12], 2);
        std::memcpy(block + fill + 2, kBase64Pairs.c[v & 0xFFF], 2);
        fill += 4;
        column += 4;
        if (column >= m_lineLength) {
            block[fill++] = '\r';
            block[fill++] = '\n';
            column = 0;
        }
        if (fill > sizeof block - 6) {
            out.appendBytes(block, static_cast<int>(fill));
            fill = 0;
        }
    }
    fill += static_cast<unsigned int>(encodeTail(p + i, n - i, kBase64, block + fill));
    // A line just broken after the last group needs no second break.
    if (column != 0 || i < n) {
        block[fill++] = '\r';
        block[fill++] = '\n';
    }
    out.appendBytes(block, static_cast<int>(fill));
}

void ContentCoding::encodeBase64NoCrlf(const void* bytes, unsigned int n, StringBuffer& out) {
    encodeBase64Alphabet(bytes, n, kBase64, out);
}

void ContentCoding::encodeBase64Url(const void* bytes, unsigned int n, StringBuffer& out) {
    encodeBase64Alphabet(bytes, n, kBase64Url, out);
}

void ContentCoding::encodeBase64Alphabet(const void* bytes, unsigned int n, const char* alphabet, StringBuffer& out) {
    if (!bytes || n == 0 || !alphabet)
        return;
    const unsigned char* p = bytesOf(bytes);
    out.reserveExtra(clampToInt((static_cast<std::uint64_t>(n) + 2) / 3 * 4 + 1));
    const PairTable* pairs = alphabet == kBase64 ? &kBase64Pairs : alphabet == kBase64Url ? &kBase64UrlPairs : nullptr;
    char block[4096];
    unsigned int fill = 0;
    unsigned int i = 0;
    for (; n - i >= 3; i += 3) {
        if (pairs) {
            std::uint32_t v = static_cast<std::uint32_t>(p[i]) << 16 | p[i + 1] << 8 | p[i + 2];
            std::memcpy(block + fill, pairs->c[v >> 12], 2);
            std::memcpy(block + fill + 2, pairs->c[v & 0xFFF], 2);
        } else {
            encodeGroup(p + i, alphabet, block + fill);
        }
        fill += 4;
        if (fill == sizeof block) {
            out.appendBytes(block, static_cast<int>(fill));
            fill = 0;
        }
    }
    fill += static_cast<unsigned int>(encodeTail(p + i, n - i, alphabet, block + fill));
    if (fill)
        out.appendBytes(block, static_cast<int>(fill));
}

char* ContentCoding::encodeBase64Ptr(const void* bytes, unsigned int n, unsigned int* lengthOut) {
    if (lengthOut)
        *lengthOut = 0;
    if (!bytes || n == 0)
        return nullptr;
    std::uint64_t chars = (static_cast<std::uint64_t>(n) + 2) / 3 * 4;
    char* out = static_cast<char*>(memAlloc(chars + 1));
    if (!out)
        return nullptr;
    const unsigned char* p = bytesOf(bytes);
    char* q = out;
    unsigned int i = 0;
    for (; n - i >= 3; i += 3, q += 4)
        encodeGroup(p + i, kBase64, q);
    q += encodeTail(p + i, n - i, kBase64, q);
    *q = 0;
    if (lengthOut)
        *lengthOut = static_cast<unsigned int>(q - out);
    return out;
}

namespace {

unsigned char* decodeBase64Into(const char* text, unsigned int n, unsigned int extra, unsigned int* lengthOut,
                                bool* ok) {
    if (ok)
        *ok = false;
    if (!lengthOut)
        return nullptr;
    *lengthOut = 0;
    if (!text || n == 0) {
        if (ok)
            *ok = true;
        return nullptr;
    }
    unsigned char* out = static_cast<unsigned char*>(memAlloc(static_cast<std::uint64_t>(n) * 3 / 4 + 4 + extra));
    if (!out)
        return nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    unsigned char* q = out;
    std::uint32_t acc = 0;
    int values = 0;
    unsigned int i = 0;
    for (;;) {
        // Four clean characters at a time while they last.
        while (values == 0 && n - i >= 4) {
            unsigned a = kBase64Decode.v[p[i]], b = kBase64Decode.v[p[i + 1]], c = kBase64Decode.v[p[i + 2]],
                     d = kBase64Decode.v[p[i + 3]];
            if ((a | b | c | d) >= 64)
                break;
            std::uint32_t v = a << 18 | b << 12 | c << 6 | d;
            q[0] = static_cast<unsigned char>(v >> 16);
            q[1] = static_cast<unsigned char>(v >> 8);
            q[2] = static_cast<unsigned char>(v);
            q += 3;
            i += 4;
        }
        if (i >= n)
            break;
        unsigned char v = kBase64Decode.v[p[i++]];
        if (v == kEnd)
            break;
        if (v == kSkip)
            continue;
        acc = acc << 6 | v;
        if (++values == 4) {
            q[0] = static_cast<unsigned char>(acc >> 16);
            q[1] = static_cast<unsigned char>(acc >> 8);
            q[2] = static_cast<unsigned char>(acc);
            q += 3;
            acc = 0;
            values = 0;
        }
    }
    if (values >= 2)
        *q++ = static_cast<unsigned char>(acc >> (6 * values - 8));
    if (values == 3)
        *q++ = static_cast<unsigned char>(acc >> 2);
    *lengthOut = static_cast<unsigned int>(q - out);
    if (ok)
        *ok = true;
    return out;
}

} // namespace

unsigned char* ContentCoding::decodeBase64Checked(const char* text, unsigned int n, unsigned int* lengthOut, bool* ok) {
    return decodeBase64Into(text, n, 0, lengthOut, ok);
}

unsigned char* ContentCoding::decodeBase64Ptr(const char* text, unsigned int n, unsigned int* lengthOut) {
    return decodeBase64Into(text, n, 8, lengthOut, nullptr);
}

bool ContentCoding::decodeBase64(const char* text, unsigned int n, DataBuffer& out) {
    unsigned int len = 0;
    bool ok = false;
    unsigned char* decoded = decodeBase64Checked(text, n, &len, &ok);
    if (!ok)
        return false;
    replaceContent(out, decoded, len);
    return true;
}

void ContentCoding::decodeBase64ToSb(StringBuffer& out, const char* text) {
    if (!text)
        return;
    unsigned int len = 0;
    unsigned char* decoded = decodeBase64Ptr(text, static_cast<unsigned int>(std::strlen(text)), &len);
    if (decoded)
        out.appendBytes(decoded, clampToInt(len));
    memFree(decoded);
}

// ---------------------------------------------------------------- base32

void ContentCoding::encodeBase32(const void* bytes, unsigned int n, StringBuffer& out) {
    if (!bytes || n == 0)
        return;
    static const int kCharsFor[6] = {0, 2, 4, 5, 7, 8};
    const unsigned char* p = bytesOf(bytes);
    TextRun<400> run(out);
    for (unsigned int i = 0; i < n; i += 5) {
        unsigned int take = std::min(5u, n - i);
        std::uint64_t v = 0;
        for (unsigned int k = 0; k < 5; ++k)
            v = v << 8 | (k < take ? p[i + k] : 0);
        int chars = kCharsFor[take];
        for (int k = 0; k < 8; ++k)
            run.put(k < chars ? kBase32[(v >> (35 - 5 * k)) & 31] : kBase32[32]);
    }
}

bool ContentCoding::decodeBase32(const char* text, unsigned int n, DataBuffer& out) {
    if (!text || n == 0)
        return true;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    unsigned char block[500];
    unsigned int fill = 0;
    bool ok = true;
    unsigned int i = 0;
    while (i < n) {
        // One group: up to eight alphabet or pad characters; the data ends at
        // the first pad or where the text runs out.
        std::uint64_t v = 0;
        int taken = 0;
        int dataChars = -1;
        while (taken < 8 && i < n) {
            unsigned char c = kBase32Decode.v[p[i++]];
            if (c == kNotBase32)
                continue;
            if (c == kPad) {
                if (dataChars < 0)
                    dataChars = taken;
            } else if (dataChars < 0) {
                v |= static_cast<std::uint64_t>(c) << (35 - 5 * taken);
            }
            ++taken;
        }
        if (dataChars < 0)
            dataChars = taken;
        int bytes = dataChars * 5 / 8;
        for (int k = 0; k < bytes; ++k)
            block[fill++] = static_cast<unsigned char>(v >> (32 - 8 * k));
        if (fill + 5 > sizeof block) {
            ok = out.append(block, fill) && ok;
            fill = 0;
        }
    }
    if (fill)
        ok = out.append(block, fill) && ok;
    return ok;
}

// ---------------------------------------------------------------- quoted-printable

void ContentCoding::encodeQuotedPrintable(const void* bytes, unsigned int n, StringBuffer& out) const {
    if (!bytes || n == 0)
        return;
    const unsigned char* p = bytesOf(bytes);
    const int lineLength = m_lineLength;
    out.reserveExtra(clampToInt(static_cast<std::uint64_t>(n) + n / 8 + 16));
    TextRun<2000> run(out);
    int column = 0;
    auto softBreak = [&] {
        run.put("=\r\n", 3);
        column = 0;
    };
    auto escape = [&](unsigned char c) {
        if (column >= lineLength - 3)
            softBreak();
        run.escape(c);
        column += 3;
    };
    unsigned int i = 0;
    while (i < n) {
        unsigned char c = p[i];
        // "=FF" and four literal F would read as a sign-extended escape.
        bool afterFF = i > 0 && p[i - 1] == 0xFF && column >= 3;
        if (column == 0 && c == '.') {
            run.escape(c);
            column = 3;
            ++i;
        } else if (column == 0 && c == 'F' && n - i > 4 && std::memcmp(p + i + 1, "rom ", 4) == 0) {
            run.escape(c);
            column = 3;
            ++i;
        } else if (((c >= 33 && c <= 60) || (c >= 62 && c <= 126)) && !(c == 'F' && afterFF)) {
            run.put(static_cast<char>(c));
            ++column;
            ++i;
        } else if (c == ' ' || c == '\t') {
            bool lineEnd = i + 1 == n || (n - i > 2 && p[i + 1] == '\r' && p[i + 2] == '\n');
            if (lineEnd) {
                escape(c);
            } else {
                run.put(static_cast<char>(c));
                ++column;
            }
            ++i;
        } else if (c == '\r' && n - i > 1 && p[i + 1] == '\n') {
            run.put("\r\n", 2);
            column = 0;
            i += 2;
            continue;
        } else {
            escape(c);
            ++i;
        }
        if (column >= lineLength - 1 && !(n - i >= 2 && p[i] == '\r' && p[i + 1] == '\n'))
            softBreak();
    }
}

unsigned char* ContentCoding::decodeQuotedPrintablePtr(const char* text, unsigned int n, unsigned int* lengthOut) {
    if (lengthOut)
        *lengthOut = 0;
    if (!text || n == 0)
        return nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* nul = static_cast<const unsigned char*>(std::memchr(p, 0, n));
    if (nul)
        n = static_cast<unsigned int>(nul - p);
    // Each byte gives at most one byte and a line feed two: the result is
    // written in place into one block of that size, cut to fit at the end.
    auto* out = static_cast<unsigned char*>(memAlloc(2ull * n + 1));
    if (!out)
        return nullptr;
    unsigned char* w = out;
    unsigned int pos = 0;
    while (pos < n) {
        const unsigned char* lf = static_cast<const unsigned char*>(std::memchr(p + pos, '\n', n - pos));
        unsigned int lineEnd = lf ? static_cast<unsigned int>(lf - p) : n;
        unsigned int e = lineEnd;
        while (e > pos && (p[e - 1] == '\r' || p[e - 1] == ' ' || p[e - 1] == '\t'))
            --e;
        bool soft = false;
        unsigned int j = pos;
        while (j < e) {
            const unsigned char c = p[j];
            if (c != '=') {
                *w++ = c;
                ++j;
                continue;
            }
            if (j + 1 == e) {
                soft = true;
                break;
            }
            // Some encoders print a sign-extended byte: =FFFFFFE9 is 0xE9.
            if (e - j >= 9 && (p[j + 1] | 0x20) == 'f' && (p[j + 2] | 0x20) == 'f' &&
                std::memcmp(p + j + 3, "FFFF", 4) == 0 && hexValue(p[j + 7]) >= 0 && hexValue(p[j + 8]) >= 0) {
                *w++ = static_cast<unsigned char>(hexValue(p[j + 7]) << 4 | hexValue(p[j + 8]));
                j += 9;
                continue;
            }
            int hi = e - j >= 3 ? hexValue(p[j + 1]) : -1;
            int lo = e - j >= 3 ? hexValue(p[j + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                *w++ = static_cast<unsigned char>(hi << 4 | lo);
                j += 3;
            } else {
                *w++ = '=';
                ++j;
            }
        }
        if (lf && !soft) {
            *w++ = '\r';
            *w++ = '\n';
        }
        pos = lf ? lineEnd + 1 : n;
    }
    *w = 0;
    const auto len = static_cast<unsigned int>(w - out);
    if (void* fitted = memResize(out, static_cast<std::uint64_t>(len) + 1))
        out = static_cast<unsigned char*>(fitted);
    if (lengthOut)
        *lengthOut = len;
    return out;
}

bool ContentCoding::decodeQuotedPrintable(const char* text, unsigned int n, DataBuffer& out) {
    if (!text || n == 0)
        return false;
    unsigned int len = 0;
    unsigned char* decoded = decodeQuotedPrintablePtr(text, n, &len);
    if (!decoded)
        return false;
    replaceContent(out, decoded, len);
    return true;
}

// ---------------------------------------------------------------- Q encoding

char* ContentCoding::encodeQPtr(const void* bytes, unsigned int n, unsigned int* lengthOut) {
    return encodeQ(bytes, n, false, lengthOut);
}

char* ContentCoding::encodeQCommasPtr(const void* bytes, unsigned int n, unsigned int* lengthOut) {
    return encodeQ(bytes, n, true, lengthOut);
}

char* ContentCoding::decodeQPtr(const char* text, int n, unsigned int* lengthOut) {
    if (lengthOut)
        *lengthOut = 0;
    if (!text)
        return nullptr;
    std::size_t len = n > 0 ? static_cast<std::size_t>(n) : std::strlen(text);
    if (len == 0)
        return nullptr;
    char* out = static_cast<char*>(memAlloc(static_cast<std::uint64_t>(len) + 1));
    if (!out)
        return nullptr;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    char* q = out;
    for (std::size_t i = 0; i < len; ++i) {
        unsigned char c = p[i];
        if (c == '=') {
            int hi = len - i > 2 ? hexValue(p[i + 1]) : -1;
            int lo = len - i > 2 ? hexValue(p[i + 2]) : -1;
            if (hi >= 0 && lo >= 0) {
                *q++ = static_cast<char>(hi << 4 | lo);
                i += 2;
            } else {
                *q++ = '=';
            }
        } else if (c == '_') {
            *q++ = ' ';
        } else if (c == ' ' || (c >= 33 && c <= 126 && c != '?') || c >= 160) {
            *q++ = static_cast<char>(c);
        }
    }
    *q = 0;
    if (lengthOut)
        *lengthOut = static_cast<unsigned int>(q - out);
    return out;
}

// ---------------------------------------------------------------- encoded words

void ContentCoding::encodeBEncodedWord(const void* bytes, unsigned int n, const char* charset, StringBuffer& out) {
    if (!bytes || n == 0 || !charset)
        return;
    out.append("=?");
    out.append(charset);
    out.append("?B?");
    encodeBase64NoCrlf(bytes, n, out);
    out.append("?=");
}

void ContentCoding::encodeQEncodedWord(const void* bytes, unsigned int n, const char* charset,
                                       StringBuffer& out) const {
    if (!bytes || n == 0)
        return;
    unsigned int len = 0;
    char* q = encodeQ(bytes, n, m_escapeCommas, &len);
    out.append("=?");
    out.append(charset && *charset ? charset : "utf-8");
    out.append("?Q?");
    if (q)
        out.appendBytes(q, clampToInt(len));
    out.append("?=");
    memFree(q);
}

void ContentCoding::encodeBEncodedWords(const void* bytes, unsigned int n, std::uint32_t codePage, const char* charset,
                                        StringBuffer& out) const {
    encodeWords(true, bytes, n, codePage, charset, out);
}

void ContentCoding::encodeQEncodedWords(const void* bytes, unsigned int n, std::uint32_t codePage, const char* charset,
                                        StringBuffer& out) const {
    encodeWords(false, bytes, n, codePage, charset, out);
}

void ContentCoding::encodeWords(bool bForm, const void* bytes, unsigned int n, std::uint32_t codePage,
                                const char* charset, StringBuffer& out) const {
    if (!bytes || n == 0)
        return;
    const unsigned char* p = bytesOf(bytes);
    if (codePage == 0)
        codePage = 65001;
    if (isBlank(p, n)) {
        out.appendBytes(p, clampToInt(n));
        return;
    }
    if (bForm) {
        bool iso2022 = codePage >= 50220 && codePage <= 50225;
        bool needed = false;
        for (unsigned int i = 0; i < n && !needed; ++i)
            needed = p[i] >= 0x80 || (iso2022 && (p[i] == 27 || p[i] == '[' || p[i] == '$'));
        if (!needed) {
            out.appendBytes(p, clampToInt(n));
            return;
        }
    }
    EncodingConvert conv;
    DataBuffer utf16;
    if (n <= kOneWordLimit || !conv.convert(static_cast<int>(codePage), 1200, p, n, utf16) || utf16.getSize() == 0) {
        // Short text, or text the converter cannot split safely.
        appendFittingWords(bForm, p, n, static_cast<int>(codePage), charset, out);
        return;
    }
    const unsigned char* u = utf16.getData();
    unsigned int total = utf16.getSize() & ~1u;
    unsigned int at = 0;
    bool first = true;
    while (at < total) {
        unsigned int rest = total - at;
        unsigned int take = rest;
        if (rest > kOneWordLimit) {
            for (unsigned int o = kOneWordLimit; o + 1 < rest; o += 2) {
                if (u[at + o] == 0x20 && u[at + o + 1] == 0) {
                    take = o;
                    break;
                }
            }
        }
        if (!first)
            out.append("\r\n\t");
        first = false;
        DataBuffer piece;
        conv.convert(1200, static_cast<int>(codePage), u + at, take, piece);
        if (piece.getSize())
            appendFittingWords(bForm, piece.getData(), piece.getSize(), static_cast<int>(codePage), charset, out);
        at += take;
    }
}

void ContentCoding::appendWord(bool bForm, const void* bytes, unsigned int n, const char* charset,
                               StringBuffer& out) const {
    if (bForm)
        encodeBEncodedWord(bytes, n, charset, out);
    else
        encodeQEncodedWord(bytes, n, charset, out);
}

// Words longer than RFC 2047 allows are cut between characters of the code
// page into several, each a whole text of its own (an ISO-2022 word ends back
// in ASCII). Text that cannot be converted has no known character
// boundaries and stays one word; so does a single character too long alone.
void ContentCoding::appendFittingWords(bool bForm, const unsigned char* p, unsigned int n, int codePage,
                                       const char* charset, StringBuffer& out) const {
    StringBuffer whole;
    appendWord(bForm, p, n, charset, whole);
    EncodingConvert conv;
    DataBuffer utf16;
    if (whole.getSize() <= kMaxWordLength || !conv.convert(codePage, kUtf16Page, p, n, utf16) || utf16.getSize() < 2) {
        out.appendSb(whole);
        return;
    }
    const unsigned char* u = utf16.getData();
    const unsigned int total = utf16.getSize() & ~1u;
    std::vector<unsigned int> ends; // offset after each character
    for (unsigned int at = 0; at < total;) {
        const unsigned int unit = platform::LoadLe16(u + at);
        at += (unit >= 0xD800 && unit <= 0xDBFF && at + 4 <= total) ? 4 : 2;
        ends.push_back(at);
    }
    auto build = [&](unsigned int from, unsigned int to, StringBuffer& word) {
        DataBuffer piece;
        word.clear();
        conv.convert(kUtf16Page, codePage, u + from, to - from, piece);
        if (piece.getSize())
            appendWord(bForm, piece.getData(), piece.getSize(), charset, word);
    };
    StringBuffer word;
    unsigned int from = 0;
    bool wrote = false;
    for (std::size_t first = 0; first < ends.size();) {
        // The longest run of characters whose word still fits; at least one.
        std::size_t lo = first, hi = ends.size() - 1;
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo + 1) / 2;
            build(from, ends[mid], word);
            if (word.getSize() <= kMaxWordLength)
                lo = mid;
            else
                hi = mid - 1;
        }
        build(from, ends[lo], word);
        if (word.getSize()) {
            if (wrote)
                out.append("\r\n\t");
            out.appendSb(word);
            wrote = true;
        }
        from = ends[lo];
        first = lo + 1;
    }
}

void ContentCoding::encodeEncodedWordAuto(const void* bytes, unsigned int n, const char* charset,
                                          StringBuffer& out) const {
    if (!bytes || n == 0)
        return;
    StringBuffer head(static_cast<const char*>(bytes), std::min(n, 100u), 0);
    if (head.containsSubstringNoCase("?Q?") || head.containsSubstringNoCase("?B?")) {
        out.appendBytes(bytes, clampToInt(n));
        return;
    }
    static const char* const kBCharsets[] = {
        "shift_jis",   "shift-jis",  "Windows-31J",  "iso-2022-jp", "euc-jp",       "euc-kr", "iso-2022-kr", "gb2312",
        "hz-gb-2312",  "euc-cn",     "cp-936",       "euc-tw",      "big5",         "cp-950", "cp-932",      "tis-620",
        "windows-874", "iso-8859-9", "windows-1254", "iso-8859-6",  "windows-1256", "cp-1256"};
    const int codePage = charset && *charset ? EncodingConvert::charsetToCodePage(charset) : kUtf8Page;
    for (const char* name : kBCharsets) {
        if (charset && sameNoCase(charset, name)) {
            appendFittingWords(true, bytesOf(bytes), n, codePage, charset, out);
            return;
        }
    }
    appendFittingWords(false, bytesOf(bytes), n, codePage, charset, out);
}

void ContentCoding::decodeEncodedWordsToUtf8(StringBuffer& text) {
    DataBuffer out;
    decodeWords(text, WordsMode::Utf8, out, nullptr);
    replaceWith(text, out);
    text.setStringKind(2);
}

void ContentCoding::decodeEncodedWordsProtectCommas(StringBuffer& text, bool& replaced) {
    replaced = false;
    DataBuffer out;
    decodeWords(text, WordsMode::ProtectCommas, out, &replaced);
    replaceWith(text, out);
}

} // namespace tessik
