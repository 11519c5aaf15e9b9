#pragma once
// The process-wide code-page tables, each built once on first use from its
// stored text and then only read, from any thread.
#include <cstdint>

namespace tessik {

struct DirectDecodeTable;
struct DirectEncodeTable;
class HashConvert;
class StringBuffer;
class UnicodeLookup;

// GB18030: its four-byte codes are computed, not stored.
constexpr int kGb18030Page = 54936;
// The pages the multi-byte and ISO-2022 forms are read and judged by.
constexpr int kShiftJisPage = 932;
constexpr int kGbkPage = 936;
constexpr int kUhcPage = 949;
constexpr int kBig5Page = 950;
constexpr int kEucJpPage = 51932;
constexpr int kEucCnPage = 51936;
constexpr int kEucKrPage = 51949;
constexpr int kIso2022JpFirstPage = 50220;
constexpr int kIso2022JpLastPage = 50222;
constexpr int kIso2022KrPage = 50225;
constexpr int kUtf7Page = 65000;

enum class TableDirection { ToUnicode, FromUnicode };

bool isSingleByteTablePage(int page);
bool isMultiByteTablePage(int page);
inline bool isTablePage(int page) {
    return isSingleByteTablePage(page) || isMultiByteTablePage(page);
}

// Null for a page without tables.
const HashConvert* fromUnicodeTable(int page);
const UnicodeLookup* singleByteToUnicodeTable(int page);
const HashConvert* multiByteToUnicodeTable(int page);

// The direct-indexed forms, derived once from the tables above; null for a
// page without tables. Check `usable` before use.
const DirectDecodeTable* directDecodeTable(int page);
const DirectEncodeTable* directEncodeTable(int page);

// Whether the Encoding Standard's decoders (and python's codecs) read a
// byte standing alone as the character `unit` a page's table gives it. A
// multi-byte page's tables give some lone bytes from 0x80 a private-use
// character or a C1 control (page 932's A0 and FD-FF, 936's FF, the EUC
// pages' 80-9F) that those decoders take as errors; Shift_JIS keeps 0x80 as
// U+0080.
bool isStandardLoneByte(int page, unsigned char c, unsigned int unit);
// The same, or python's codec of the page's own names reading it so (page
// 932's private-use 0xA0 and 0xFD-0xFF): a lone byte written for a text
// must be one of these, else neither reads it back.
bool isReadLoneByte(int page, unsigned char c, unsigned int unit);
// Whether a page's two-byte code is one its table reads as private use
// where its readers take it otherwise: page 936's A2E3, A3A0, A8BC and
// A8BF, a browser's U+20AC, U+3000, U+1E3F and U+01F9 (GB18030's), which
// python's gbk and iconv do not read. Never written as the page's own.
bool isCodeReadOtherwise(int page, unsigned int code);

// The 503 page 932 codes (2 bytes each) of ISO-2022-JP rows 0x79 to 0x7C.
const unsigned char* jisExtensionTable();

// Appends a page's stored text; false for a page without one.
bool appendTableText(int page, StringBuffer& out);
// Decodes a stored text into `target` in one direction; false when the text
// is not a stored table.
bool loadTableText(const char* text, HashConvert& target, TableDirection direction);
// Single-byte lookup from a to-Unicode map.
void fillSingleByteLookup(const HashConvert& source, UnicodeLookup& target);

} // namespace tessik
