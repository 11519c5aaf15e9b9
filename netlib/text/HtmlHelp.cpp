#include "netlib/text/HtmlHelp.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/text/CharsetNames.h"

namespace tessik {

namespace {

constexpr const char* kNameStops = " \t\n\r>=";
constexpr const char* kUnquotedStops = "\r\n >";
// How far into a document browsers look for its charset.
constexpr std::size_t kPrescanBytes = 1024;
constexpr const char* kUtf8 = "utf-8";
constexpr const char* kUtf16Le = "utf-16le";
constexpr const char* kUtf16Be = "utf-16be";
constexpr const char* kUserDefined = "x-user-defined";
constexpr const char* kWindows1252 = "windows-1252";
// "<?x" in UTF-16, as the prescan looks for it before anything else.
constexpr char kUtf16LeXml[] = {'<', 0, '?', 0, 'x', 0};
constexpr char kUtf16BeXml[] = {0, '<', 0, '?', 0, 'x'};

void skipBlanks(ParseEngine& pe) {
    pe.skipChars(' ', '\t', '\r', '\n');
}

void advance(ParseEngine& pe) {
    if (pe.currentChar())
        pe.setCursor(pe.getCursor() + 1);
}

void flatten(StringBuffer& out) {
    out.removeChar('\r');
    out.replaceChar('\n', ' ');
}

bool isAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

void finish(StringBuffer& out, LogBase* log, const char* exit) {
    if (log)
        log->logData(exit, out.getString());
}

// The prescan browsers run over the first bytes of an HTML document
// (WHATWG HTML, "prescan a byte stream to determine its encoding"):
// comments, other tags and their attributes are passed over whole, and
// only a <meta> names the charset. Running out of bytes ends it with none.
class CharsetPrescan {
public:
    CharsetPrescan(const char* p, std::size_t n) : m_p(p), m_n(n) {}

    bool run(StringBuffer& charset) {
        while (m_i < m_n) {
            if (at("<!--")) {
                // The "-->" may share its dashes with the opener.
                const char* close = find(m_i + 2, "-->");
                if (!close)
                    return false;
                m_i = static_cast<std::size_t>(close - m_p) + 3;
                continue;
            }
            if (atNoCase("<meta") && m_i + 5 < m_n && (isHtmlSpace(m_p[m_i + 5]) || m_p[m_i + 5] == '/')) {
                m_i += 6;
                const Meta meta = readMeta();
                if (m_ended)
                    return false;
                if (meta.found) {
                    charset.setString(meta.charset.getString());
                    return true;
                }
            } else if (m_p[m_i] == '<' &&
                       (isAsciiLetter(byteAt(m_i + 1)) || (byteAt(m_i + 1) == '/' && isAsciiLetter(byteAt(m_i + 2))))) {
                while (m_i < m_n && !isHtmlSpace(m_p[m_i]) && m_p[m_i] != '>')
                    ++m_i;
                StringBuffer name, value;
                while (attribute(name, value)) {
                }
                if (m_ended)
                    return false;
            } else if (at("<!") || at("</") || at("<?")) {
                const char* close = find(m_i + 2, ">");
                if (!close)
                    return false;
                m_i = static_cast<std::size_t>(close - m_p);
            }
            ++m_i;
        }
        return false;
    }

private:
    struct Meta {
        bool found = false;
        StringBuffer charset;
    };

    static bool isHtmlSpace(char c) { return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' '; }
    static char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
    char byteAt(std::size_t i) const { return i < m_n ? m_p[i] : '\0'; }
    bool at(std::string_view s) const { return m_n - m_i >= s.size() && std::string_view(m_p + m_i, s.size()) == s; }
    bool atNoCase(std::string_view s) const {
        if (m_n - m_i < s.size())
            return false;
        for (std::size_t k = 0; k < s.size(); ++k)
            if (lower(m_p[m_i + k]) != s[k])
                return false;
        return true;
    }
    const char* find(std::size_t from, std::string_view s) const {
        if (from > m_n)
            return nullptr;
        const std::string_view rest(m_p + from, m_n - from);
        const std::size_t hit = rest.find(s);
        return hit == std::string_view::npos ? nullptr : m_p + from + hit;
    }
    // The byte at the cursor, or none (and the prescan ends) past the end.
    bool more() {
        m_ended = m_ended || m_i >= m_n;
        return !m_ended;
    }

    // One attribute, its name and unquoted value in lower case; false when
    // the tag ends (or the bytes do) first.
    bool attribute(StringBuffer& name, StringBuffer& value) {
        name.clear();
        value.clear();
        while (more() && (isHtmlSpace(m_p[m_i]) || m_p[m_i] == '/'))
            ++m_i;
        if (!more() || m_p[m_i] == '>')
            return false;
        for (;; ++m_i) {
            if (!more())
                return false;
            const char c = m_p[m_i];
            if (c == '=' && name.getSize() > 0) {
                ++m_i;
                return attributeValue(value);
            }
            if (isHtmlSpace(c))
                break;
            if (c == '/' || c == '>')
                return true;
            name.appendChar(lower(c));
        }
        while (more() && isHtmlSpace(m_p[m_i]))
            ++m_i;
        if (!more() || m_p[m_i] != '=')
            return !m_ended;
        ++m_i;
        return attributeValue(value);
    }

    bool attributeValue(StringBuffer& value) {
        while (more() && isHtmlSpace(m_p[m_i]))
            ++m_i;
        if (!more())
            return false;
        const char q = m_p[m_i];
        if (q == '"' || q == '\'') {
            for (++m_i; more(); ++m_i) {
                if (m_p[m_i] == q) {
                    ++m_i;
                    return true;
                }
                value.appendChar(lower(m_p[m_i]));
            }
            return false;
        }
        if (q == '>')
            return true;
        for (; more(); ++m_i) {
            if (isHtmlSpace(m_p[m_i]) || m_p[m_i] == '>')
                return true;
            value.appendChar(lower(m_p[m_i]));
        }
        return false;
    }

    // A <meta>'s attributes, from after its name: a charset attribute, or
    // an http-equiv of content-type with a charset in its content.
    Meta readMeta() {
        enum class Pragma { Unset, Needed, NotNeeded } needPragma = Pragma::Unset;
        enum class Charset { Unset, Failure, Named } state = Charset::Unset;
        bool gotPragma = false;
        Meta meta;
        std::vector<std::string> seen;
        StringBuffer name, value;
        while (attribute(name, value)) {
            const std::string key(name.getString());
            if (std::find(seen.begin(), seen.end(), key) != seen.end())
                continue;
            seen.push_back(key);
            if (key == "http-equiv") {
                gotPragma = gotPragma || value.equals("content-type");
            } else if (key == "content" && state == Charset::Unset) {
                StringBuffer label;
                if (charsetInContent(value.getString(), label) && webCharset(label, meta.charset)) {
                    state = Charset::Named;
                    needPragma = Pragma::Needed;
                }
            } else if (key == "charset") {
                state = webCharset(value, meta.charset) ? Charset::Named : Charset::Failure;
                needPragma = Pragma::NotNeeded;
            }
        }
        meta.found = !m_ended && state == Charset::Named && needPragma != Pragma::Unset &&
                     (needPragma == Pragma::NotNeeded || gotPragma);
        return meta;
    }

    // The label after "charset" "=" in a content value (WHATWG, "extracting
    // a character encoding from a meta element").
    static bool charsetInContent(std::string_view s, StringBuffer& label) {
        constexpr std::string_view kCharset = "charset";
        for (std::size_t at = 0;;) {
            std::size_t hit = at;
            while (hit + kCharset.size() <= s.size()) {
                std::size_t k = 0;
                while (k < kCharset.size() && lower(s[hit + k]) == kCharset[k])
                    ++k;
                if (k == kCharset.size())
                    break;
                ++hit;
            }
            if (hit + kCharset.size() > s.size())
                return false;
            std::size_t i = hit + kCharset.size();
            while (i < s.size() && isHtmlSpace(s[i]))
                ++i;
            if (i >= s.size() || s[i] != '=') {
                at = i;
                continue;
            }
            ++i;
            while (i < s.size() && isHtmlSpace(s[i]))
                ++i;
            if (i >= s.size())
                return false;
            if (s[i] == '"' || s[i] == '\'') {
                const std::size_t close = s.find(s[i], i + 1);
                if (close == std::string_view::npos)
                    return false;
                label.setString(std::string(s.substr(i + 1, close - i - 1)).c_str());
                return true;
            }
            std::size_t end = i;
            while (end < s.size() && !isHtmlSpace(s[end]) && s[end] != ';')
                ++end;
            label.setString(std::string(s.substr(i, end - i)).c_str());
            return true;
        }
    }

    // A label as browsers read it, as the encoding to decode by: 16-bit
    // labels read as UTF-8 and x-user-defined as windows-1252 here, as the
    // HTML standard has it; a label browsers do not know names none.
    static bool webCharset(const StringBuffer& label, StringBuffer& out) {
        const char* encoding = webEncodingName(label.getString());
        if (!encoding)
            return false;
        out.setString(encoding);
        if (out.equals(kUtf16Le) || out.equals(kUtf16Be))
            out.setString(kUtf8);
        else if (out.equals(kUserDefined))
            out.setString(kWindows1252);
        return true;
    }

    const char* m_p;
    std::size_t m_n;
    std::size_t m_i = 0;
    bool m_ended = false;
};

// The HTML standard's "get an XML encoding": the encoding an XML
// declaration at the very start names, read loosely as browsers read it.
bool xmlDeclarationCharset(std::string_view s, StringBuffer& out) {
    constexpr std::string_view kOpen = "<?xml";
    constexpr std::string_view kEncoding = "encoding";
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    const std::size_t end = s.find('>');
    if (s.substr(0, kOpen.size()) != kOpen || end == std::string_view::npos)
        return false;
    s = s.substr(0, end);
    std::size_t i = s.find(kEncoding);
    if (i == std::string_view::npos)
        return false;
    i += kEncoding.size();
    while (i < s.size() && blank(s[i]))
        ++i;
    if (i >= s.size() || s[i] != '=')
        return false;
    ++i;
    while (i < s.size() && blank(s[i]))
        ++i;
    if (i >= s.size() || (s[i] != '"' && s[i] != '\''))
        return false;
    const std::size_t close = s.find(s[i], i + 1);
    if (close == std::string_view::npos)
        return false;
    const std::string_view label = s.substr(i + 1, close - i - 1);
    if (std::any_of(label.begin(), label.end(), blank))
        return false;
    const char* encoding = webEncodingName(std::string(label).c_str());
    if (!encoding)
        return false;
    out.setString(std::strcmp(encoding, kUtf16Le) == 0 || std::strcmp(encoding, kUtf16Be) == 0 ? kUtf8 : encoding);
    return true;
}

// The prescan of the first 1,024 bytes: a UTF-16 "<?x" at the start, else
// a <meta>, else an XML declaration at the start.
void prescanCharset(const char* html, std::size_t n, StringBuffer& out) {
    const std::string_view head(html, n < kPrescanBytes ? n : kPrescanBytes);
    const std::string_view le(kUtf16LeXml, sizeof kUtf16LeXml), be(kUtf16BeXml, sizeof kUtf16BeXml);
    if (head.substr(0, le.size()) == le || head.substr(0, be.size()) == be) {
        out.setString(head[0] == '<' ? kUtf16Le : kUtf16Be);
        return;
    }
    CharsetPrescan scan(head.data(), head.size());
    StringBuffer found;
    if (scan.run(found) || xmlDeclarationCharset(head, found))
        out.setString(found.getString());
}

} // namespace

HtmlHelp::HtmlHelp() = default;
HtmlHelp::~HtmlHelp() = default;

void HtmlHelp::getCharsetFromMetaSb(const StringBuffer& html, StringBuffer& out) {
    prescanCharset(html.getString(), static_cast<std::size_t>(html.getSize()), out);
}

void HtmlHelp::cleanTag(const char* tag, StringBuffer& out, LogBase* log) {
    if (log)
        log->logData("cleaning_tag", tag ? tag : "");
    out.clear();
    ParseEngine pe;
    pe.setString(tag ? tag : "");
    pe.seekChar('<');
    if (pe.currentChar() != '<')
        return finish(out, log, "clean_tag_1");
    out.appendChar('<');
    advance(pe);
    skipBlanks(pe);
    pe.captureToAnyOf(" \t\r\n", out);
    skipBlanks(pe);
    if (pe.currentChar() == '>') {
        out.appendChar('>');
        return finish(out, log, "clean_tag_2");
    }
    for (int valued = 0;;) {
        StringBuffer name(" ");
        while (pe.currentChar() == '"' || pe.currentChar() == '\'')
            advance(pe);
        pe.captureToAnyOf(kNameStops, name);
        skipBlanks(pe);
        name.removeChar(':');
        const char c = pe.currentChar();
        if (isAsciiLetter(c)) {
            out.appendSb(name);
            continue;
        }
        if (c == '>') {
            out.appendSb(name);
            out.appendChar('>');
            return finish(out, log, "clean_tag_6");
        }
        if (c != '=') {
            out.trimWhitespace();
            if (!out.endsWith(">"))
                out.appendChar('>');
            flatten(out);
            return finish(out, log, "clean_tag_3");
        }
        out.appendSb(name);
        out.appendChar('=');
        advance(pe);
        skipBlanks(pe);
        char q = pe.currentChar();
        if (q == '\\') {
            advance(pe);
            q = pe.currentChar();
        }
        if (q == '"' || q == '\'') {
            advance(pe);
            out.appendChar(q);
            const char set[2] = {q, 0};
            pe.captureToAnyOfUnescaped(set, out);
            out.replaceAll("\\\"", "&quot;");
        } else {
            StringBuffer value;
            pe.captureToAnyOf(kUnquotedStops, value);
            q = std::strchr(value.getString(), '"') ? '\'' : '"';
            out.appendChar(q);
            out.appendSb(value);
        }
        skipBlanks(pe);
        if (pe.currentChar() == '"' || pe.currentChar() == '\'')
            advance(pe);
        if (out.lastChar() == '\\')
            out.shorten(1);
        out.appendChar(q);
        skipBlanks(pe);
        if (pe.currentChar() == '>') {
            out.appendChar('>');
            flatten(out);
            return finish(out, log, "clean_tag_4");
        }
        if (++valued > kMaxAttributes) {
            flatten(out);
            return finish(out, log, "clean_tag_5");
        }
    }
}

void HtmlHelp::getAttributeValue(const char* tag, const char* name, StringBuffer& out) {
    out.clear();
    if (!tag || !name)
        return;
    for (char q : {'"', '\''}) {
        StringBuffer pattern(name);
        pattern.appendChar('=');
        pattern.appendChar(q);
        const char* hit = findSubstringNoCase(tag, pattern.getString());
        if (!hit)
            continue;
        const char* start = hit + pattern.getSize();
        const char* end = std::strchr(start, q);
        if (!end)
            return;
        out.appendBytes(start, static_cast<int>(end - start));
        out.trimWhitespace();
        out.replaceChar('\\', '/');
        return;
    }
}

void HtmlHelp::getCharsetFromMeta(const char* html, StringBuffer& out) {
    if (html)
        prescanCharset(html, std::strlen(html), out);
}

void HtmlHelp::getCharsetFromBytes(const void* html, std::size_t n, StringBuffer& out) {
    if (html)
        prescanCharset(static_cast<const char*>(html), n, out);
}

} // namespace tessik
