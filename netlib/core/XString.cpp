#include "netlib/core/XString.h"

#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/WideCase.h"
#include "platform/ByteOrder.h"
#include "platform/CodePage.h"

namespace tessik {

namespace {

// The wide form's NUL: one UTF-16 unit.
constexpr unsigned int kUtf16TerminatorBytes = 2;

int ansiPage() {
    return static_cast<int>(platform::GetACP());
}

const char* skipBom(const char* text) {
    if (text && static_cast<unsigned char>(text[0]) == 0xEF && static_cast<unsigned char>(text[1]) == 0xBB &&
        static_cast<unsigned char>(text[2]) == 0xBF)
        return text + 3;
    return text;
}

std::size_t wideLength(const std::uint16_t* p) {
    std::size_t n = 0;
    while (p[n])
        ++n;
    return n;
}

} // namespace

XString::XString() : m_ansiState(0), m_validUtf16(true), m_validAnsi(true), m_validUtf8(true), m_ansi(""), m_utf8("") {
    resetUtf16();
}

XString::~XString() = default;

void XString::resetUtf16() {
    m_utf16.clear();
    // Room for the terminator alone: most texts never take the wide form,
    // and a byte buffer's first growth step would be thousands of bytes.
    m_utf16.ensureCapacity(kUtf16TerminatorBytes);
    m_utf16.appendCharRepeated(0, kUtf16TerminatorBytes);
}

// Hands converted bytes to a text buffer without copying.
void XString::moveInto(DataBuffer& bytes, StringBuffer& sb) {
    bytes.appendChar(0);
    if (bytes.getSize() >= 2)
        sb.takeFromDb(bytes);
    else
        sb.clear();
}

void XString::clear() {
    m_ansi.clear();
    m_utf8.clear();
    m_ansi.shrinkToFit();
    m_utf8.shrinkToFit();
    resetUtf16();
    m_validUtf16 = m_validAnsi = m_validUtf8 = true;
    m_ansiState = 0;
}

void XString::secureClear() {
    m_ansi.secureClear();
    m_utf8.secureClear();
    // The whole blocks, not just the current lengths: earlier, longer texts
    // may have left bytes behind.
    if (m_ansi.getCapacity() > 1)
        std::memset(m_ansi.getPtrAt(0), 0, static_cast<std::size_t>(m_ansi.getCapacity()));
    if (m_utf8.getCapacity() > 1)
        std::memset(m_utf8.getPtrAt(0), 0, static_cast<std::size_t>(m_utf8.getCapacity()));
    if (m_utf16.getData()) {
        m_utf16.setSize(m_utf16.getCapacity());
        m_utf16.secureClear();
    }
    clear();
}

void XString::onlyUtf8() {
    m_validUtf8 = true;
    m_validAnsi = m_validUtf16 = false;
}
void XString::onlyAnsi() {
    m_validAnsi = true;
    m_validUtf8 = m_validUtf16 = false;
}
void XString::onlyUtf16() {
    m_validUtf16 = true;
    m_validUtf8 = m_validAnsi = false;
}

// ---------------------------------------------------------------- setting

void XString::setFromAnsi(const char* text) {
    if (!text || !*text)
        return clear();
    m_ansi.setString(text);
    onlyAnsi();
    m_ansiState = 1;
}

void XString::setFromUtf8(const char* text) {
    if (!text || !*text)
        return clear();
    m_utf8.setString(skipBom(text));
    onlyUtf8();
    m_ansiState = 0;
}

void XString::setFromUtf8Bytes(const char* bytes, unsigned int count) {
    if (!bytes || count == 0 || bytes[0] == 0)
        return clear();
    if (count >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF && static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF) {
        bytes += 3;
        count -= 3;
    }
    m_utf8.clear();
    m_utf8.appendBytes(bytes, static_cast<int>(count));
    onlyUtf8();
    m_ansiState = 0;
}

void XString::setFromUtf16(const std::uint16_t* text) {
    if (!text || !*text)
        return clear();
    setFromUtf16Chars(text, static_cast<unsigned>(wideLength(text)));
}

void XString::setFromUtf16Chars(const std::uint16_t* units, unsigned int count) {
    if (!units || count == 0 || units[0] == 0)
        return clear();
    m_utf16.clear();
    m_utf16.append(units, count * 2);
    m_utf16.appendCharRepeated(0, 2);
    onlyUtf16();
    m_ansiState = 0;
}

void XString::setFromAnsiOrUtf8(const char* text, bool isUtf8) {
    if (isUtf8)
        setFromUtf8(text);
    else
        setFromAnsi(text);
}

void XString::copyFromX(const XString& other) {
    if (&other == this)
        return;
    m_validUtf16 = other.m_validUtf16;
    m_validAnsi = other.m_validAnsi;
    m_validUtf8 = other.m_validUtf8;
    m_ansiState = other.m_ansiState;
    m_ansi.setSb(other.m_ansi);
    m_utf8.setSb(other.m_utf8);
    m_utf16.clear();
    m_utf16.appendDb(other.m_utf16);
}

// ---------------------------------------------------------------- forms

void XString::ensureUtf16() {
    if (m_validUtf16)
        return;
    m_utf16.clear();
    EncodingConvert ec;
    if (m_validUtf8) {
        ec.convert(65001, 1200, m_utf8.getString(), static_cast<unsigned>(m_utf8.getSize()), m_utf16);
    } else if (m_validAnsi) {
        ec.convert(ansiPage(), 1200, m_ansi.getString(), static_cast<unsigned>(m_ansi.getSize()), m_utf16);
    } else {
        clear();
        return;
    }
    m_utf16.appendCharRepeated(0, 2);
    m_validUtf16 = true;
}

void XString::ensureAnsi() {
    if (m_validAnsi)
        return;
    DataBuffer out;
    bool exact = true;
    EncodingConvert ec;
    if (m_validUtf8) {
        exact = ec.convert(65001, ansiPage(), m_utf8.getString(), static_cast<unsigned>(m_utf8.getSize()), out);
    } else if (m_validUtf16) {
        if (m_utf16.getSize() > 3)
            exact = ec.convert(1200, ansiPage(), m_utf16.getData(), m_utf16.getSize() - 2, out);
    } else {
        clear();
        return;
    }
    moveInto(out, m_ansi);
    m_ansiState = exact ? 1 : 2;
    m_validAnsi = true;
}

void XString::ensureUtf8() {
    if (m_validUtf8)
        return;
    DataBuffer out;
    EncodingConvert ec;
    if (m_validAnsi) {
        unsigned n = static_cast<unsigned>(m_ansi.getSize());
        out.ensureCapacity(n + n / 16 + 4);
        ec.convert(ansiPage(), 65001, m_ansi.getString(), n, out);
    } else if (m_validUtf16) {
        if (m_utf16.getSize() > 3)
            ec.convert(1200, 65001, m_utf16.getData(), m_utf16.getSize() - 2, out);
    } else {
        clear();
        return;
    }
    moveInto(out, m_utf8);
    m_validUtf8 = true;
}

const char* XString::getUtf8() {
    ensureUtf8();
    return m_utf8.getString();
}

const char* XString::getAnsi() {
    ensureAnsi();
    return m_ansi.getString();
}

const std::uint16_t* XString::getUtf16() {
    ensureUtf16();
    return reinterpret_cast<const std::uint16_t*>(m_utf16.getData());
}

StringBuffer& XString::getUtf8Sb() {
    ensureUtf8();
    return m_utf8;
}

int XString::getSizeUtf8() {
    ensureUtf8();
    return m_utf8.getSize();
}

int XString::getSizeAnsi() {
    ensureAnsi();
    return m_ansi.getSize();
}

int XString::getSizeUtf16() {
    ensureUtf16();
    return m_utf16.getSize() >= 2 ? static_cast<int>(m_utf16.getSize() - 2) : 0;
}

int XString::getNumChars() {
    if (m_validAnsi)
        return m_ansi.getSize();
    ensureUtf16();
    return m_utf16.getSize() >= 2 ? static_cast<int>((m_utf16.getSize() - 2) / 2) : 0;
}

bool XString::isAnsiExact() {
    if (m_ansiState == 1)
        return true;
    if (m_ansiState == 2)
        return false;
    if (!m_validUtf16 && !m_validUtf8)
        return true; // only the ANSI form
    DataBuffer out;
    EncodingConvert ec;
    bool exact = true;
    if (m_validUtf16) {
        if (m_utf16.getSize() > 3)
            exact = ec.convert(1200, ansiPage(), m_utf16.getData(), m_utf16.getSize() - 2, out);
    } else {
        exact = ec.convert(65001, ansiPage(), m_utf8.getString(), static_cast<unsigned>(m_utf8.getSize()), out);
    }
    moveInto(out, m_ansi);
    m_validAnsi = true;
    if (!exact) {
        m_ansi.clear();
        m_validAnsi = false;
        m_ansiState = 2;
        return false;
    }
    m_ansiState = 1;
    return true;
}

// ---------------------------------------------------------------- appending

void XString::appendUtf8(const char* text) {
    if (!text)
        return;
    ensureUtf8();
    m_utf8.append(skipBom(text));
    onlyUtf8();
}

void XString::appendUtf8Bytes(const char* bytes, unsigned int count) {
    if (!bytes || count == 0)
        return;
    if (count >= 3 && static_cast<unsigned char>(bytes[0]) == 0xEF && static_cast<unsigned char>(bytes[1]) == 0xBB &&
        static_cast<unsigned char>(bytes[2]) == 0xBF) {
        bytes += 3;
        count -= 3;
    }
    ensureUtf8();
    m_utf8.appendBytes(bytes, static_cast<int>(count));
    onlyUtf8();
}

void XString::appendAnsi(const char* text) {
    if (!text)
        return;
    ensureAnsi();
    m_ansi.append(text);
    onlyAnsi();
}

void XString::appendAnsiBytes(const char* bytes, unsigned int count) {
    if (!bytes || count == 0)
        return;
    ensureAnsi();
    m_ansi.appendBytes(bytes, static_cast<int>(count));
    onlyAnsi();
}

void XString::appendUtf16(const std::uint16_t* text) {
    if (!text)
        return;
    appendUtf16Chars(text, static_cast<unsigned>(wideLength(text)));
}

void XString::appendUtf16Chars(const std::uint16_t* units, unsigned int count) {
    if (!units || count == 0)
        return;
    ensureUtf16();
    m_utf16.shorten(2);
    m_utf16.append(units, count * 2);
    m_utf16.appendCharRepeated(0, 2);
    onlyUtf16();
}

void XString::appendX(const XString& other) {
    if (&other == this) {
        // Appending a value to itself: take a copy first.
        XString copy;
        copy.copyFromX(other);
        appendX(copy);
        return;
    }
    if (other.m_validUtf8) {
        if (other.m_utf8.getSize() > 0)
            appendUtf8Bytes(other.m_utf8.getString(), static_cast<unsigned>(other.m_utf8.getSize()));
    } else if (other.m_validUtf16) {
        if (other.m_utf16.getSize() > 2)
            appendUtf16Chars(reinterpret_cast<const std::uint16_t*>(other.m_utf16.getData()),
                             (other.m_utf16.getSize() - 2) / 2);
    } else if (other.m_validAnsi) {
        if (other.m_ansi.getSize() > 0)
            appendAnsiBytes(other.m_ansi.getString(), static_cast<unsigned>(other.m_ansi.getSize()));
    }
}

void XString::appendInt(int value) {
    ensureUtf8();
    m_utf8.appendInt(value);
    onlyUtf8();
}

bool XString::appendFromCharset(const char* text, const char* charsetName) {
    if (!text)
        return true;
    StringBuffer name(charsetName ? charsetName : "utf-8");
    name.trimWhitespace();
    if (name.getSize() == 0 || name.equalsNoCase("utf-8")) {
        appendUtf8(text);
        return true;
    }
    if (name.equalsNoCase("ansi")) {
        appendAnsi(text);
        return true;
    }
    DataBuffer utf8;
    EncodingConvert ec;
    bool ok = ec.convertFromCharsetName(name.getString(), 65001, text, static_cast<unsigned>(std::strlen(text)), utf8);
    if (utf8.getSize())
        appendUtf8Bytes(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
    return ok;
}

// ---------------------------------------------------------------- editing

void XString::trimWhitespace() {
    ensureUtf8();
    m_utf8.trimWhitespace();
    onlyUtf8();
}

void XString::toLowerCase() {
    ensureUtf16();
    m_utf16.toLowerCaseWide();
    onlyUtf16();
}

void XString::toUpperCase() {
    ensureUtf16();
    m_utf16.toUpperCaseWide();
    onlyUtf16();
}

namespace {
// An ANSI character as a UTF-16 unit; 0 when it has none.
std::uint16_t ansiCharToUnit(char c) {
    DataBuffer out;
    EncodingConvert ec;
    ec.convert(ansiPage(), 1200, &c, 1, out);
    return out.getSize() >= 2 ? platform::LoadLe16(out.getData()) : 0;
}
} // namespace

void XString::replaceChar(char from, char to) {
    std::uint16_t a = ansiCharToUnit(from), b = ansiCharToUnit(to);
    ensureUtf16();
    m_utf16.replaceWideChar(a, b);
    onlyUtf16();
}

void XString::chopAtFirstChar(char c) {
    std::uint16_t u = ansiCharToUnit(c);
    ensureUtf16();
    m_utf16.chopAtWideChar(u);
    onlyUtf16();
}

void XString::prependZeroIfOddLength() {
    if (getNumChars() % 2 == 0)
        return;
    ensureUtf8();
    m_utf8.prepend("0");
    onlyUtf8();
}

// ---------------------------------------------------------------- comparing

bool XString::equalsUtf8(const char* text) {
    ensureUtf8();
    return m_utf8.equals(skipBom(text));
}

bool XString::equalsNoCaseUtf8(const char* text) {
    XString other;
    other.setFromUtf8(text);
    ensureUtf16();
    other.ensureUtf16();
    unsigned n = m_utf16.getSize();
    if (n != other.m_utf16.getSize())
        return false;
    const unsigned char* a = m_utf16.getData();
    const unsigned char* b = other.m_utf16.getData();
    for (unsigned i = 0; i + 1 < n; i += 2) {
        std::uint16_t ua = platform::LoadLe16(a + i);
        std::uint16_t ub = platform::LoadLe16(b + i);
        if (ua != ub && wideToLower(ua) != wideToLower(ub))
            return false;
    }
    return true;
}

bool XString::beginsWithUtf8(const char* text) {
    if (!text)
        return false;
    ensureUtf8();
    return m_utf8.beginsWith(skipBom(text));
}

bool XString::beginsWithAnsi(const char* text) {
    ensureAnsi();
    bool r = m_ansi.beginsWith(text);
    if (m_ansiState == 2) {
        // A lossy form must not be taken for the text later.
        m_ansi.clear();
        m_validAnsi = false;
        if (!m_validUtf8 && !m_validUtf16)
            clear();
    }
    return r;
}

bool XString::containsSubstringUtf8(const char* text) {
    if (!text)
        return false;
    ensureUtf8();
    return m_utf8.containsSubstring(skipBom(text));
}

int XString::indexOfUtf8(const char* text) {
    if (!text)
        return -1;
    ensureUtf8();
    const char* needle = skipBom(text);
    const char* at = std::strstr(m_utf8.getString(), needle);
    if (!at)
        return -1;
    DataBuffer units;
    EncodingConvert::utf8ToUtf16(m_utf8.getString(), static_cast<unsigned>(at - m_utf8.getString()), units);
    return static_cast<int>(units.getSize() / 2);
}

// ---------------------------------------------------------------- converting out

bool XString::getConvertedToCodePage(int codePage, bool withBom, DataBuffer& out) {
    out.clear();
    EncodingConvert ec;
    if (m_validUtf16) {
        if (m_utf16.getSize() <= 2)
            return true;
        unsigned n = m_utf16.getSize() - 2;
        return withBom ? ec.convertWithPreamble(1200, codePage, m_utf16.getData(), n, out)
                       : ec.convert(1200, codePage, m_utf16.getData(), n, out);
    }
    ensureUtf8();
    unsigned n = static_cast<unsigned>(m_utf8.getSize());
    return withBom ? ec.convertWithPreamble(65001, codePage, m_utf8.getString(), n, out)
                   : ec.convert(65001, codePage, m_utf8.getString(), n, out);
}

} // namespace tessik
