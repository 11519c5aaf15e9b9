#include "netlib/http/Rfc822Address.h"

#include <cstring>
#include <new>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/text/BodyText.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {

constexpr const char* kIso2022JpEscape = "\x1b$B";
constexpr int kCodePageIso2022Jp = 50220;

bool hasX400Part(const StringBuffer& text) {
    return text.containsSubstring("C=") || text.containsSubstring("O=") || text.containsSubstring("CN=") ||
           text.containsSubstring("P=");
}

bool holdsEncodedWord(const StringBuffer& text) {
    return text.containsSubstringNoCase("?Q?") || text.containsSubstringNoCase("?B?");
}

} // namespace

Rfc822ParseHelp::~Rfc822ParseHelp() = default;

Rfc822Address::Rfc822Address(const char* text, unsigned int /*flags*/) : m_valid(0) {
    if (!text || !*text)
        return;
    StringBuffer work(text);
    if (work.containsSubstringNoCase("undisclosed recipient") || work.containsSubstringNoCase("undisclosed-recipient"))
        return;
    work.trimSpacesAndTabs();
    if (work.getSize() == 0)
        return;
    if (hasX400Part(work))
        parseX400(work);
    else
        parseMailbox(work);
}

Rfc822Address::~Rfc822Address() = default;

void Rfc822Address::parseX400(const StringBuffer& text) {
    const char* s = text.getString();
    const char* lt = std::strchr(s, '<');
    if (!lt) {
        m_address.setSb(text);
    } else {
        m_name.appendBytes(s, static_cast<int>(lt - s));
        const char* gt = std::strchr(lt, '>');
        m_address.appendBytes(lt, gt ? static_cast<int>(gt - lt) : static_cast<int>(std::strlen(lt)));
        m_name.removeChar('<');
        m_name.removeChar('>');
        m_name.removeChar('"');
        m_address.removeChar('<');
        m_address.removeChar('>');
        m_name.trimWhitespace();
        m_address.trimWhitespace();
    }
    m_valid = 1;
}

void Rfc822Address::parseMailbox(const StringBuffer& text) {
    const char* s = text.getString();
    const int n = text.getSize();
    const char* at = std::strrchr(s, '@');
    int pivot = at ? static_cast<int>(at - s) : (n >= 2 ? n - 2 : 0);
    int start = pivot;
    while (start > 0 && s[start - 1] != ' ' && s[start - 1] != '<')
        --start;
    int end = pivot;
    while (end < n && s[end] != ' ' && s[end] != '>')
        ++end;
    m_address.appendBytes(s + start, end - start);
    m_valid = 1;

    // The display name: what stands before the address, quotes and the
    // opening bracket left out. A backslash keeps the character after it.
    int i = 0;
    while (i < start && (s[i] == '"' || s[i] == '\''))
        ++i;
    StringBuffer name;
    for (; i < start; ++i) {
        if (s[i] == '\\' && i + 1 < start) {
            name.appendChar(s[++i]);
            continue;
        }
        if (s[i] == '"')
            break;
        name.appendChar(s[i]);
    }
    if (i >= start) {
        // No closing quote: drop what trails the name.
        while (name.getSize() > 0) {
            char c = name.lastChar();
            if (c != '"' && c != '\'' && c != ' ' && c != '<' && c != '\t')
                break;
            name.shorten(1);
        }
    }
    name.trimWhitespace();
    m_name.setSb(name);
    // A raw ISO-2022-JP name reads back in UTF-8, as an encoded word would.
    if (m_name.containsSubstring(kIso2022JpEscape))
        pageTextToUtf8(kCodePageIso2022Jp, m_name);
    m_address.removeChar(' ');
}

void Rfc822Address::getName(StringBuffer& out) const {
    if (!holdsEncodedWord(m_name)) {
        out.appendSb(m_name);
        return;
    }
    StringBuffer decoded(m_name);
    ContentCoding::decodeEncodedWordsToUtf8(decoded);
    out.appendSb(decoded);
}

int parseAddressList(const char* text, bool listHoldsAddressObjects, ExtPtrArray& list, bool skipDuplicates,
                     unsigned int flags) {
    if (!text)
        return 0;
    StringBuffer trimmed(text);
    trimmed.trimSpacesAndTabs();
    StringBuffer unfolded;
    unfoldHeaderLines(trimmed.getString(), unfolded);
    ExtPtrArray pieces;
    pieces.setOwnsObjects(true);
    unfolded.split(pieces, ',', true, true);
    int count = 0;
    for (int i = 0; i < pieces.getCount(); ++i) {
        auto* piece = static_cast<StringBuffer*>(pieces.elementAt(i));
        auto* address = new (std::nothrow) Rfc822Address(piece->getString(), flags);
        if (!address)
            break;
        if (!address->isValid()) {
            delete address;
            continue;
        }
        ++count;
        StringBuffer addr;
        address->getAddress(addr);
        bool duplicate = false;
        for (int j = 0; skipDuplicates && j < list.getCount() && !duplicate; ++j) {
            StringBuffer other;
            if (listHoldsAddressObjects)
                static_cast<Rfc822Address*>(list.elementAt(j))->getAddress(other);
            else
                other.appendSb(*static_cast<StringBuffer*>(list.elementAt(j)));
            duplicate = other.equalsNoCaseSb(addr);
        }
        if (duplicate) {
            delete address;
            continue;
        }
        if (listHoldsAddressObjects) {
            if (!list.appendPtr(address))
                delete address;
        } else {
            auto* copy = new (std::nothrow) StringBuffer(addr);
            if (copy && !list.appendPtr(copy))
                delete copy;
            delete address;
        }
    }
    return count;
}

void unfoldHeaderLines(const char* text, StringBuffer& out) {
    out.clear();
    if (!text)
        return;
    char previous = 0;
    for (const char* p = text; *p; ++p) {
        char c = *p;
        if (c == '\t' && previous == '\n')
            out.appendChar(' ');
        else if (c != '\r' && c != '\n')
            out.appendChar(c);
        previous = c;
    }
}

} // namespace tessik
