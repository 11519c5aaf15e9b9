// The conversions of the text and byte buffers that go through the encoding
// layer.
#include <climits>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/Utf.h"
#include "netlib/core/XString.h"
#include "platform/ByteOrder.h"
#include "platform/CodePage.h"

namespace tessik {

bool StringBuffer::convertEncoding(int fromCodePage, int toCodePage) {
    check("convertEncoding");
    if (m_length == 0 || fromCodePage == 0 || toCodePage == 0)
        return true;
    if (fromCodePage == 437 && (toCodePage == 65001 || toCodePage == 1252 || toCodePage == 28591) && is7bit(0))
        return true;
    DataBuffer out;
    EncodingConvert ec;
    bool ok = ec.convert(fromCodePage, toCodePage, m_data, static_cast<unsigned>(m_length), out);
    // Keep the text when the result cannot be held.
    if (out.getSize() > static_cast<unsigned>(INT_MAX - 1))
        return false;
    clear();
    if (out.getSize())
        appendBytes(out.getData(), static_cast<int>(out.getSize()));
    return ok;
}

bool StringBuffer::utf8ToAnsi() {
    return convertEncoding(65001, static_cast<int>(platform::GetACP()));
}

bool StringBuffer::convertToAnsi(int fromCodePage) {
    return convertEncoding(fromCodePage, static_cast<int>(platform::GetACP()));
}

bool StringBuffer::convertFromAnsi(int toCodePage) {
    return convertEncoding(static_cast<int>(platform::GetACP()), toCodePage);
}

void StringBuffer::replaceCharUtf8(std::uint16_t from, std::uint16_t to) {
    check("replaceCharUtf8");
    if (from == 0 || to == 0 || m_length == 0)
        return;
    if (is7bit(0) && from < 0x80 && to < 0x80) {
        replaceChar(static_cast<char>(from), static_cast<char>(to));
        return;
    }
    // Non-ASCII text is UTF-8: replace on its UTF-16 form.
    DataBuffer utf16;
    utf8ToUtf16(reinterpret_cast<const unsigned char*>(m_data), static_cast<unsigned>(m_length), utf16);
    bool found = false;
    for (unsigned i = 0; i + 1 < utf16.getSize(); i += 2)
        if (platform::LoadLe16(utf16.getData() + i) == from)
            found = true;
    if (!found)
        return;
    utf16.replaceWideChar(from, to);
    DataBuffer utf8;
    utf16ToUtf8(utf16.getData(), utf16.getSize(), utf8);
    clear();
    appendDb(utf8);
}

bool DataBuffer::decodeCharsetToX(const char* charsetName, XString& out) const {
    check("decodeCharsetToX");
    out.clear();
    int page = 0;
    if (!charsetName || std::strcmp(charsetName, "default") == 0 || std::strcmp(charsetName, "x-user-defined") == 0) {
        page = 0;
    } else {
        tessik::StringBuffer name(charsetName);
        if (name.equalsNoCase("ansi"))
            page = static_cast<int>(platform::GetACP());
        else if (name.equalsNoCase("oem"))
            page = static_cast<int>(platform::GetOEMCP());
        else
            page = EncodingConvert::charsetToCodePage(charsetName);
    }
    DataBuffer utf16;
    EncodingConvert ec;
    bool ok = ec.convert(page, 1200, m_data, m_size, utf16);
    if (utf16.getSize() >= 2)
        out.setFromUtf16Chars(reinterpret_cast<const std::uint16_t*>(utf16.getData()), utf16.getSize() / 2);
    return ok;
}

void LogBase::logDataAnsi(const char* tag, const char* ansiText) {
    XString x;
    x.setFromAnsi(ansiText);
    logData(tag, x.getUtf8());
}

} // namespace tessik
