#pragma once
// One text value kept lazily in up to three forms: the ANSI code page, UTF-8
// and UTF-16LE. A form is produced when asked for and kept until the text
// changes. Not thread-safe: even the getters change the object.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class _tsCharset;

class XString : public TessikObject {
public:
    XString();
    ~XString() override;
    XString(const XString&) = delete;
    XString& operator=(const XString&) = delete;

    void clear();
    void secureClear();
    void setFromAnsi(const char* text);
    void setFromUtf8(const char* text);
    void setFromUtf8Bytes(const char* bytes, unsigned int count);
    void setFromUtf16(const std::uint16_t* text);
    void setFromUtf16Chars(const std::uint16_t* units, unsigned int count);
    void setFromAnsiOrUtf8(const char* text, bool isUtf8);
    void copyFromX(const XString& other);

    const char* getUtf8();
    const char* getAnsi();
    const std::uint16_t* getUtf16();
    tessik::StringBuffer& getUtf8Sb();
    tessik::StringBuffer& getUtf8SbAsIs() { return m_utf8; }
    DataBuffer& getUtf16Db() { return m_utf16; }
    int getSizeUtf8();
    int getSizeAnsi();
    int getSizeUtf16();
    int getNumChars();
    bool isAnsiExact();
    // 0 unknown, 1 the ANSI form is exact, 2 it lost characters.
    int getAnsiState() const { return m_ansiState; }

    void appendUtf8(const char* text);
    void appendUtf8Bytes(const char* bytes, unsigned int count);
    void appendAnsi(const char* text);
    void appendAnsiBytes(const char* bytes, unsigned int count);
    void appendUtf16(const std::uint16_t* text);
    void appendUtf16Chars(const std::uint16_t* units, unsigned int count);
    void appendX(const XString& other);
    void appendInt(int value);
    bool appendFromCharset(const char* text, const char* charsetName);

    void trimWhitespace();
    void toLowerCase();
    void toUpperCase();
    void replaceChar(char from, char to);
    void chopAtFirstChar(char c);
    void prependZeroIfOddLength();

    bool equalsUtf8(const char* text);
    bool equalsNoCaseUtf8(const char* text);
    bool beginsWithUtf8(const char* text);
    bool beginsWithAnsi(const char* text);
    bool containsSubstringUtf8(const char* text);
    int indexOfUtf8(const char* text);

    bool getConverted(const _tsCharset& charset, DataBuffer& out);
    bool getConvertedWithBom(const _tsCharset& charset, DataBuffer& out);
    // The same for a code page number (the charset holder's page).
    bool getConvertedToCodePage(int codePage, bool withBom, DataBuffer& out);

private:
    void ensureUtf8();
    void ensureAnsi();
    void ensureUtf16();
    void onlyUtf8();
    void onlyAnsi();
    void onlyUtf16();
    void resetUtf16();
    static void moveInto(DataBuffer& bytes, tessik::StringBuffer& sb);

    int m_ansiState;
    bool m_validUtf16;
    bool m_validAnsi;
    bool m_validUtf8;
    DataBuffer m_utf16;
    tessik::StringBuffer m_ansi;
    tessik::StringBuffer m_utf8;
};

} // namespace tessik
