#pragma once
// Converts byte strings between Windows code pages. The UTF family (1200,
// 1201, 65001, 65005, 65006) is built in; the table pages, UTF-7 and the
// ISO-2022 forms come from the code-page engine once it is installed
// (tessik::installTextServices in netlib/text). A conversion from or to a
// page nobody supports gives false and writes nothing.
#include <cstdint>

namespace tessik {

class DataBuffer;
class LogBase;

// Converters that skip input (ill-formed, unmappable, or the unit 0 that UTF-8
// text does not carry) add the bytes skipped to a tally of the thread, which
// EncodingConvert reads around each conversion.
void noteDroppedInput(std::uint64_t bytes);

// What the code-page engine supplies. Every member may be null.
struct CodePageEngine {
    // A page's bytes to UTF-16LE and back; false for a page it cannot convert.
    bool (*codePageToUtf16)(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out);
    bool (*utf16ToCodePage)(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out);
    // A charset name's code page, 0 when unknown.
    int (*charsetNameToCodePage)(const char* name);
    // Whether the engine converts from and to the page.
    bool (*supportsPage)(int page);
    // Source pages with a byte-level front end: appends the bytes in the form
    // of the page returned (which may be the page itself), 0 when none.
    int (*frontEnd)(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out);
    // Destination pages produced from another page's bytes: that page or 0,
    // and the transform from it.
    int (*backEndPage)(int page);
    void (*backEnd)(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out);
    // UTF-7 (65000) through UTF-16LE, for conversions the caller asks for;
    // text from outside is read by codePageToUtf8Replacing.
    bool (*utf7ToUtf16)(const DataBuffer& in, DataBuffer& out);
    bool (*utf16ToUtf7)(const DataBuffer& in, DataBuffer& out);
    // One pass between two pages other than UTF-16 (UTF-8 included), with
    // the result the conversion through UTF-16 would give; -1 for a pair it
    // does not convert that way.
    int (*convertDirect)(int fromPage, int toPage, const unsigned char* bytes, unsigned int count, DataBuffer& out);
    // A page's bytes as UTF-8, decoded as the Encoding Standard does: U+FFFD
    // for what the page does not map, counted in `replaced`, the unit 0
    // kept; false for a page it has no such decoder for.
    bool (*codePageToUtf8Replacing)(int page, const unsigned char* bytes, unsigned int count, DataBuffer& out,
                                    std::uint64_t& replaced);
    // UTF-8 to a page, every character as a code that reads back as it:
    // 1, 0 when one has none, -1 for a page not converted this way.
    int (*convertUtf8Exactly)(int toPage, const unsigned char* utf8, unsigned int count, DataBuffer& out);
    // Whether bytes written under a charset name hold only the codes of the
    // standard it names (gb2312's of page 936, shift_jis's of 932, the
    // ISO-2022-JP subset ISO-2022-JP-2 is written as); with null bytes,
    // whether text under the name is read whole by its page.
    bool (*bytesWithinNamedCharset)(const char* name, const unsigned char* bytes, unsigned int count);
};

class EncodingConvert {
public:
    EncodingConvert();
    virtual ~EncodingConvert();

    // Every conversion appends to `out` and never clears it.
    bool convert(int fromCodePage, int toCodePage, const void* bytes, unsigned int count, DataBuffer& out);
    bool convertFromAnsi(int toCodePage, const void* bytes, unsigned int count, DataBuffer& out);
    bool convertToAnsi(int fromCodePage, const void* bytes, unsigned int count, DataBuffer& out);
    bool convertBetweenCharsetNames(const char* fromName, const char* toName, const void* bytes, unsigned int count,
                                    DataBuffer& out);
    bool convertFromCharsetName(const char* fromName, int toCodePage, const void* bytes, unsigned int count,
                                DataBuffer& out);
    bool convertToCharsetName(int fromCodePage, const char* toName, const void* bytes, unsigned int count,
                              DataBuffer& out);
    bool convertWithPreamble(int fromCodePage, int toCodePage, const void* bytes, unsigned int count, DataBuffer& out);
    bool convertViaUtf16(int fromCodePage, int toCodePage, const void* bytes, unsigned int count, DataBuffer& out);
    bool codePageToUtf16(int page, const void* bytes, unsigned int count, DataBuffer& out);
    bool utf16ToCodePage(int page, const void* bytes, unsigned int count, DataBuffer& out);

    // A page's text as well-formed UTF-8 with nothing lost unseen: what the
    // page does not map and what is not well-formed in it (a lone surrogate,
    // an odd last byte of UTF-16) each become U+FFFD, counted in `replaced`;
    // the unit 0 stays. False, with nothing appended, for a page without
    // such a decoder.
    bool decodeToUtf8(int page, const void* bytes, unsigned int count, DataBuffer& out, std::uint64_t& replaced);
    // UTF-8 text to a page with nothing that would read back otherwise: 1
    // when every character was written as a code the page reads back as
    // it, 0 when one could not be (the output then unfinished), -1 when
    // the page is not written this way (nothing appended): UTF-8 itself,
    // the pages converted through a transform.
    int encodeUtf8Exactly(int page, const void* utf8, unsigned int count, DataBuffer& out);

    static bool utf8ToUtf16(const void* bytes, unsigned int count, DataBuffer& out);

    // Bytes of input the last conversion could not convert (skipped, or in
    // UTF-7 an 8-bit byte passed through as Latin-1), counted in the input of
    // the step concerned; the output and result are what they always were.
    std::uint64_t getDroppedCount() const { return m_droppedInput; }
    // A log that is told how many bytes each conversion skipped, when any; null
    // for none.
    void setVerboseLog(LogBase* log) { m_verboseLog = log; }

    // Set by the text layer at the library's start; a null engine removes it.
    static void installEngine(const CodePageEngine* engine);
    // The engine's reading of a name; without it, the names of UTF-8,
    // UTF-16, UTF-32 and US-ASCII, which are read here.
    static int charsetToCodePage(const char* name);
    static bool isSupportedPage(int page);
    // Whether text in the charset a name stands for is read here: a known
    // name of a page with a decoder, and not a name of more than that page
    // decodes (ISO-2022-JP-2).
    static bool decodesCharsetName(const char* name);
    // Whether text is written under a name: a known name of a page with a
    // converter, the bytes then held to what the name stands for
    // (withinNamedCharset). ISO-2022-JP-2 is, as its ISO-2022-JP subset.
    static bool writesCharsetName(const char* name);
    // Whether bytes written under a name, in the page it maps to, hold only
    // what the standard it names has: "gb2312" no GBK code, "shift_jis" no
    // NEC row 13. True for a name that is its page's own.
    static bool withinNamedCharset(const char* name, const void* bytes, unsigned int count);

private:
    class DropTally;

    int m_fromCodePage;
    int m_toCodePage;
    std::uint64_t m_droppedInput;
    LogBase* m_verboseLog;
    int m_depth; // public conversions under way, nested ones included
    std::uint64_t m_tallyAtStart;
};

} // namespace tessik
