#include "netlib/text/HtmlHelp.h"

#include <cstring>
#include <initializer_list>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/ParseEngine.h"

namespace tessik {

namespace {

constexpr const char* kNameStops = " \t\n\r>=";
constexpr const char* kUnquotedStops = "\r\n >";

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

} // namespace

HtmlHelp::HtmlHelp() = default;
HtmlHelp::~HtmlHelp() = default;

void HtmlHelp::getCharsetFromMetaSb(const StringBuffer& html, StringBuffer& out) {
    getCharsetFromMeta(html.getString(), out);
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
    if (!html)
        return;
    ParseEngine pe;
    pe.setString(html);
    while (pe.seekSubstringNoCase("<meta")) {
        const std::uint32_t start = pe.getCursor();
        StringBuffer raw;
        pe.captureToCharOutsideQuotes('>', raw);
        if (pe.getCursor() <= start)
            pe.setCursor(start + 1);
        raw.appendChar('>');
        StringBuffer tag, equiv, content;
        cleanTag(raw.getString(), tag, nullptr);
        getAttributeValue(tag.getString(), "HTTP-EQUIV", equiv);
        getAttributeValue(tag.getString(), "content", content);
        if (!equiv.equalsNoCase("content-type") || content.getSize() == 0)
            continue;
        const char* hit = findSubstringNoCase(content.getString(), "CHARSET=");
        if (!hit) {
            getAttributeValue(tag.getString(), "CHARSET", out);
            return;
        }
        const char* value = hit + std::strlen("CHARSET=");
        const char* end = nullptr;
        for (char stop : {'"', ';', ' '})
            if (!end)
                end = std::strchr(value, stop);
        out.clear();
        out.appendBytes(value, static_cast<int>(end ? end - value : static_cast<long>(std::strlen(value))));
        return;
    }
    static const char kEncoding[] = "encoding=\"";
    const char* hit = findSubstringNoCase(html, kEncoding);
    if (!findSubstringNoCase(html, "<?xml ") || !hit)
        return;
    const char* value = hit + std::strlen(kEncoding);
    if (const char* end = std::strchr(value, '"'))
        out.appendBytes(value, static_cast<int>(end - value));
}

} // namespace tessik
