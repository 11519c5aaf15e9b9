#pragma once
// A cursor over one 8-bit text with the scans the XML, HTML and address
// parsers are built on. The first zero byte ends the text for every scan;
// no scan moves the cursor past it, and none allocates while scanning.
#include <cstdint>

#include "netlib/core/StringBuffer.h"

namespace tessik {

class DataBuffer;

class ParseEngine {
public:
    ParseEngine();
    explicit ParseEngine(const DataBuffer& bytes);
    virtual ~ParseEngine();

    ParseEngine(const ParseEngine&) = delete;
    ParseEngine& operator=(const ParseEngine&) = delete;

    void setString(const char* text);
    // The whole buffer, zero bytes included (so that holdsZeroByte can
    // tell), read where it is without a copy: the text must stay as it is
    // while the engine reads it.
    void borrowText(const tessik::StringBuffer& text);
    void appendString(const char* text);

    // Parsers read the bytes at the cursor themselves and move it on.
    const char* getData() const { return m_data; }
    const char* atCursor() const { return m_data + m_cursor; }
    char currentChar() const { return m_data[m_cursor]; }
    std::uint32_t getCursor() const { return m_cursor; }
    // Bytes from the cursor to the end of the text.
    std::uint32_t remaining() const { return m_end - m_cursor; }
    // A zero byte ends the text before the bytes it was given do.
    bool holdsZeroByte() const { return static_cast<int>(m_end) < (m_borrowed ? m_borrowed : &m_text)->getSize(); }
    void setCursor(std::uint32_t pos); // clamped to the end of the text

    // Moving without capturing
    void skipChars(char a, char b, char c, char d);
    void seekChar(char c);
    bool seekCharBefore(char target, char stop);
    bool seekSubstringNoCase(const char* sub);
    bool seekPastSubstring(const char* sub);

    // Capturing: the bytes from the cursor up to the stopping byte are
    // appended to `out`; the cursor is left on that byte or at the end.
    void captureToChar(char c, tessik::StringBuffer& out);
    int captureToAnyOf(const char* set, tessik::StringBuffer& out);
    void captureToAnyOf7(const char* set, tessik::StringBuffer& out);
    void captureToAnyOf5(const char* set, tessik::StringBuffer& out);
    void captureToAnyOf2(const char* set, tessik::StringBuffer& out);
    void captureToAnyOfUnescaped(const char* set, tessik::StringBuffer& out);
    void captureToCharOutsideQuotes(char c, tessik::StringBuffer& out);

    bool captureBalanced(char open, char close, int depth, tessik::StringBuffer& out);
    bool captureThroughSubstringNoCase(const char* sub, tessik::StringBuffer& out);

private:
    template <int N>
    void captureToAnyOfN(const char* set, tessik::StringBuffer& out);
    void takeFrom(std::uint32_t start, tessik::StringBuffer& out);
    void refreshData();
    void measure();

    tessik::StringBuffer m_text;
    const tessik::StringBuffer* m_borrowed = nullptr;
    const char* m_data;
    std::uint32_t m_end; // the first zero byte
    std::uint32_t m_cursor;
};

} // namespace tessik
