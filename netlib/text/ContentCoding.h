#pragma once
// Transfer encodings of bytes as text: base64 (MIME lines, unbroken, URL-safe),
// base32, quoted-printable and RFC 2047 encoded words. Nothing here logs.
// Returned buffers are malloc blocks the caller frees.
#include <cstdint>

namespace tessik {

class DataBuffer;

class StringBuffer;

class ContentCoding {
public:
    ContentCoding();
    virtual ~ContentCoding();

    // Values not above 10 become 10.
    void setLineLength(int n);
    int getLineLength() const { return m_lineLength; }
    // Q words escape ',' too (display names inside address lists).
    void setEscapeCommas(bool on) { m_escapeCommas = on; }

    // Base64 lines of the line length (rounded up to a multiple of 4), each
    // ended by CR LF, appended.
    void encodeBase64(const void* bytes, unsigned int n, StringBuffer& out) const;
    void encodeQuotedPrintable(const void* bytes, unsigned int n, StringBuffer& out) const;

    // Folded RFC 2047 words of text in `codePage` (0 = UTF-8), none longer
    // than 75 characters.
    void encodeBEncodedWords(const void* bytes, unsigned int n, std::uint32_t codePage, const char* charset,
                             StringBuffer& out) const;
    void encodeQEncodedWords(const void* bytes, unsigned int n, std::uint32_t codePage, const char* charset,
                             StringBuffer& out) const;
    void encodeQEncodedWord(const void* bytes, unsigned int n, const char* charset, StringBuffer& out) const;
    // B words for the East Asian and a few other charsets, else Q words (as
    // many as keep each within 75 characters); text that already holds a word
    // goes out unchanged.
    void encodeEncodedWordAuto(const void* bytes, unsigned int n, const char* charset, StringBuffer& out) const;

    // Replaces the buffer's content; false only when memory ran out.
    static bool decodeBase64(const char* text, unsigned int n, DataBuffer& out);

    static void encodeBase64NoCrlf(const void* bytes, unsigned int n, StringBuffer& out);
    static void encodeBase64Url(const void* bytes, unsigned int n, StringBuffer& out);
    static void encodeBase64Alphabet(const void* bytes, unsigned int n, const char* alphabet, StringBuffer& out);
    static char* encodeBase64Ptr(const void* bytes, unsigned int n, unsigned int* lengthOut);

    // Decoding stops at '=' or NUL; white space and characters outside the
    // alphabet are skipped.
    static unsigned char* decodeBase64Ptr(const char* text, unsigned int n, unsigned int* lengthOut);
    static unsigned char* decodeBase64Checked(const char* text, unsigned int n, unsigned int* lengthOut, bool* ok);
    static void decodeBase64ToSb(StringBuffer& out, const char* text);

    static void encodeBase32(const void* bytes, unsigned int n, StringBuffer& out);
    // Appends; characters outside the alphabet are skipped and a short last
    // group counts as padded. False when the append failed.
    static bool decodeBase32(const char* text, unsigned int n, DataBuffer& out);

    static unsigned char* decodeQuotedPrintablePtr(const char* text, unsigned int n, unsigned int* lengthOut);
    // Replaces the buffer's content; false for empty input or no memory.
    static bool decodeQuotedPrintable(const char* text, unsigned int n, DataBuffer& out);

    static char* encodeQPtr(const void* bytes, unsigned int n, unsigned int* lengthOut);
    static char* encodeQCommasPtr(const void* bytes, unsigned int n, unsigned int* lengthOut);
    // n <= 0: the text runs to its NUL. The result is NUL-terminated.
    static char* decodeQPtr(const char* text, int n, unsigned int* lengthOut);

    static void encodeBEncodedWord(const void* bytes, unsigned int n, const char* charset, StringBuffer& out);

    // Encoded words decoded in place into UTF-8 (kind set to 2), as a body's
    // text is decoded: U+FFFD for bytes the charset does not map, a zero
    // byte as a blank; a word in a charset the library does not decode
    // whole stays as written.
    static void decodeEncodedWordsToUtf8(StringBuffer& text);
    // As decodeEncodedWordsToUtf8, with every ',' of a decoded word written
    // "_COMMA_"; `replaced` tells whether that happened.
    static void decodeEncodedWordsProtectCommas(StringBuffer& text, bool& replaced);

private:
    void appendWord(bool bForm, const void* bytes, unsigned int n, const char* charset, StringBuffer& out) const;
    void appendFittingWords(bool bForm, const unsigned char* p, unsigned int n, int codePage, const char* charset,
                            StringBuffer& out) const;
    void encodeWords(bool bForm, const void* bytes, unsigned int n, std::uint32_t codePage, const char* charset,
                     StringBuffer& out) const;

    int m_lineLength;
    bool m_escapeCommas;
};

// Lets DataBuffer's named encodings "base64", "qp" and "url" reach this layer
// (part of installTextServices()); calling it again is harmless.
void installTextNamedCodings();

} // namespace tessik
