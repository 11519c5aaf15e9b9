#include "netlib/core/ParseEngine.h"

#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"

namespace tessik {

namespace {
bool inSet(char c, const char* set, int n) {
    for (int i = 0; i < n; ++i)
        if (set[i] == c)
            return true;
    return false;
}
} // namespace

ParseEngine::ParseEngine() : m_data(nullptr), m_end(0), m_cursor(0) {
    refreshData();
    measure();
}

ParseEngine::ParseEngine(const DataBuffer& bytes)
    : m_text(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize(), 0), m_data(nullptr), m_end(0),
      m_cursor(0) {
    refreshData();
    measure();
}

ParseEngine::~ParseEngine() = default;

// The buffer may move its storage whenever the text changes.
void ParseEngine::refreshData() {
    m_borrowed = nullptr;
    m_data = m_text.getString();
    if (!m_data)
        m_data = "";
}

void ParseEngine::measure() {
    m_end = static_cast<std::uint32_t>(std::strlen(m_data));
}

void ParseEngine::setString(const char* text) {
    m_text.setString(text ? text : "");
    refreshData();
    measure();
    m_cursor = 0;
}

void ParseEngine::borrowText(const StringBuffer& text) {
    m_text.clear();
    m_borrowed = &text;
    m_data = text.getString();
    measure();
    m_cursor = 0;
}

void ParseEngine::appendString(const char* text) {
    if (!text)
        return;
    if (m_borrowed) {
        const StringBuffer* borrowed = m_borrowed;
        m_text.appendBytes(borrowed->getString(), borrowed->getSize());
    }
    // Appended text holds no zero byte, so only an end at the old size moves.
    bool endIsSize = static_cast<int>(m_end) == m_text.getSize();
    m_text.append(text);
    refreshData();
    if (endIsSize)
        m_end = static_cast<std::uint32_t>(m_text.getSize());
}

void ParseEngine::setCursor(std::uint32_t pos) {
    m_cursor = pos > m_end ? m_end : pos;
}

void ParseEngine::takeFrom(std::uint32_t start, StringBuffer& out) {
    if (m_cursor > start)
        out.appendBytes(m_data + start, static_cast<int>(m_cursor - start));
}

void ParseEngine::skipChars(char a, char b, char c, char d) {
    for (char ch; (ch = m_data[m_cursor]) != 0 && (ch == a || ch == b || ch == c || ch == d);)
        ++m_cursor;
}

void ParseEngine::seekChar(char c) {
    // Most runs are short; a long one is searched word by word.
    constexpr std::uint32_t kShortRun = 16;
    const std::uint32_t shortEnd = m_end - m_cursor > kShortRun ? m_cursor + kShortRun : m_end;
    for (; m_cursor < shortEnd; ++m_cursor)
        if (m_data[m_cursor] == c)
            return;
    if (m_cursor == m_end || c == 0) {
        m_cursor = m_end;
        return;
    }
    const void* hit = std::memchr(m_data + m_cursor, c, m_end - m_cursor);
    m_cursor = hit ? static_cast<std::uint32_t>(static_cast<const char*>(hit) - m_data) : m_end;
}

bool ParseEngine::seekCharBefore(char target, char stop) {
    for (char ch; (ch = m_data[m_cursor]) != 0; ++m_cursor) {
        if (ch == target)
            return true;
        if (ch == stop)
            return false;
    }
    return true;
}

bool ParseEngine::seekSubstringNoCase(const char* sub) {
    const char* hit = findSubstringNoCase(atCursor(), sub);
    if (!hit)
        return false;
    m_cursor = static_cast<std::uint32_t>(hit - m_data);
    return true;
}

bool ParseEngine::seekPastSubstring(const char* sub) {
    if (!sub || !*sub)
        return false;
    const char* hit = std::strstr(atCursor(), sub);
    if (!hit)
        return false;
    m_cursor = static_cast<std::uint32_t>(hit - m_data + std::strlen(sub));
    return true;
}

void ParseEngine::captureToChar(char c, StringBuffer& out) {
    std::uint32_t start = m_cursor;
    seekChar(c);
    takeFrom(start, out);
}

int ParseEngine::captureToAnyOf(const char* set, StringBuffer& out) {
    if (!set || !*set)
        return 0;
    int n = static_cast<int>(std::strlen(set));
    std::uint32_t start = m_cursor;
    for (char ch; (ch = m_data[m_cursor]) != 0 && !inSet(ch, set, n);)
        ++m_cursor;
    takeFrom(start, out);
    return static_cast<int>(m_cursor - start);
}

template <int N>
void ParseEngine::captureToAnyOfN(const char* set, StringBuffer& out) {
    if (!set)
        return;
    std::uint32_t start = m_cursor;
    for (char ch; (ch = m_data[m_cursor]) != 0 && !inSet(ch, set, N);)
        ++m_cursor;
    takeFrom(start, out);
}

void ParseEngine::captureToAnyOf7(const char* set, StringBuffer& out) {
    captureToAnyOfN<7>(set, out);
}
void ParseEngine::captureToAnyOf5(const char* set, StringBuffer& out) {
    captureToAnyOfN<5>(set, out);
}
void ParseEngine::captureToAnyOf2(const char* set, StringBuffer& out) {
    captureToAnyOfN<2>(set, out);
}

void ParseEngine::captureToAnyOfUnescaped(const char* set, StringBuffer& out) {
    if (!set || !*set)
        return;
    int n = static_cast<int>(std::strlen(set));
    std::uint32_t start = m_cursor;
    for (char ch; (ch = m_data[m_cursor]) != 0; ++m_cursor) {
        if (inSet(ch, set, n) && (m_cursor == start || m_data[m_cursor - 1] != '\\'))
            break;
    }
    takeFrom(start, out);
}

void ParseEngine::captureToCharOutsideQuotes(char c, StringBuffer& out) {
    std::uint32_t start = m_cursor;
    char quote = 0;
    for (char ch; (ch = m_data[m_cursor]) != 0; ++m_cursor) {
        if (quote) {
            if (ch == quote)
                quote = 0;
        } else if (ch == c) {
            takeFrom(start, out);
            return;
        } else if (ch == '"' || ch == '\'') {
            quote = ch;
        }
    }
    // Unbalanced quotes: the byte is taken wherever it first occurs.
    m_cursor = start;
    captureToChar(c, out);
}

bool ParseEngine::captureBalanced(char open, char close, int depth, StringBuffer& out) {
    if (depth == 0)
        return true;
    if (depth < 0)
        return false;
    std::uint32_t start = m_cursor;
    for (char ch; depth > 0 && (ch = m_data[m_cursor]) != 0; ++m_cursor) {
        if (ch == close)
            --depth;
        else if (ch == open)
            ++depth;
    }
    takeFrom(start, out);
    return depth == 0;
}

bool ParseEngine::captureThroughSubstringNoCase(const char* sub, StringBuffer& out) {
    const char* hit = findSubstringNoCase(atCursor(), sub);
    if (!hit)
        return false;
    std::uint32_t start = m_cursor;
    m_cursor = static_cast<std::uint32_t>(hit - m_data + std::strlen(sub));
    takeFrom(start, out);
    return true;
}

} // namespace tessik
