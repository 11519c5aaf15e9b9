#include "netlib/text/TsCharset.h"

#include <cstring>

#include "netlib/core/EncodingConvert.h"
#include "netlib/core/XString.h"
#include "netlib/text/CharsetNames.h"
#include "platform/CodePage.h"

namespace tessik {

_tsCharset::_tsCharset() : m_codePage(0) {
    m_name.shrinkToFit();
}

_tsCharset::~_tsCharset() = default;

void _tsCharset::copyFrom(const _tsCharset& other) {
    if (&other == this)
        return;
    m_codePage = other.m_codePage;
    m_name.setSb(other.m_name);
}

void _tsCharset::clear() {
    m_codePage = 0;
    m_name.clear();
}

void _tsCharset::setByCodePage(int codePage) {
    if (codePage <= 0 || !tessik::codePageToCharsetName(static_cast<std::uint32_t>(codePage), m_name)) {
        clear();
        return;
    }
    m_codePage = codePage;
}

bool _tsCharset::setByName(const char* name) {
    if (!name)
        return true;
    if (std::strcmp(name, "default") == 0 || std::strcmp(name, "x-user-defined") == 0) {
        clear();
        return true;
    }
    tessik::StringBuffer n(name);
    if (n.equalsNoCase("ansi")) {
        setByCodePage(static_cast<int>(platform::GetACP()));
        return true;
    }
    if (n.equalsNoCase("oem")) {
        setByCodePage(static_cast<int>(platform::GetOEMCP()));
        return true;
    }
    if (tessik::isKnownCharset(name)) {
        setByCodePage(static_cast<int>(tessik::charsetNameToCodePage(name)));
        // A name whose page the library has no table for (EUC-TW, the ISCII
        // pages) is none it writes in: the text would go as UTF-8, or as
        // nothing.
        return m_codePage != 0 && EncodingConvert::writesCharsetName(name);
    }
    clear();
    n.trimWhitespace();
    return n.getSize() == 0;
}

// The text value's conversions to a charset live here, beside the holder,
// since the core library cannot see charset names.
bool XString::getConverted(const _tsCharset& charset, DataBuffer& out) {
    return getConvertedToCodePage(charset.getCodePage(), false, out);
}

bool XString::getConvertedWithBom(const _tsCharset& charset, DataBuffer& out) {
    return getConvertedToCodePage(charset.getCodePage(), true, out);
}

} // namespace tessik
