#include "netlib/core/XmlProlog.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/XmlChars.h"

namespace tessik::xmlprolog {

namespace {

// Nested groups of a content model deeper than this are refused rather
// than followed down the stack.
constexpr int kMaxGroupDepth = 64;
constexpr const char* kPredefined[] = {"lt", "gt", "amp", "apos", "quot"};
constexpr const char kPiClose[] = "?>";
constexpr const char kStylesheet[] = "xml-stylesheet";

bool isSpaceByte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isPubidByte(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
        return true;
    return c == ' ' || c == '\r' || c == '\n' || std::strchr("-'()+,./:=?;!*#@$_%", c) != nullptr;
}

// A recursive-descent reader of XML 1.0's prolog productions over one text;
// every method either consumes what it names and says true, or says false
// (the caller then gives up on the whole construct).
class Reader {
public:
    // Parameter-entity references between declarations and general-entity
    // references other than the predefined five in attribute defaults are
    // refused, though well-formed: readers differ on them.
    Reader(const char* p, int n) : m_p(p), m_n(n) {}

    int pos() const { return m_i; }
    bool docTypeDecl();
    bool instruction();
    bool xmlDecl(Declaration& out);

private:
    bool atEnd() const { return m_i >= m_n; }
    char peek(int k = 0) const { return m_i + k < m_n ? m_p[m_i + k] : '\0'; }
    bool literal(const char* s);
    bool space();
    void optSpace() { space(); }
    // One character XML allows, its code point in cp; false at the end or
    // on bytes that are not one.
    bool character(std::uint32_t& cp);
    bool name(int* start = nullptr, int* length = nullptr);
    bool nmtoken();
    template <class Item>
    bool quoted(Item item);
    bool systemLiteral();
    bool pubidLiteral();
    bool externalId(bool publicAlone);
    bool charRef();
    bool reference(bool predefinedOnly);
    bool referencingValue(bool predefinedOnly, char forbidden);
    bool attValue();
    bool entityValue();
    bool internalSubset();
    bool markupDecl();
    bool elementDecl();
    bool contentSpec();
    bool group(int depth);
    bool contentParticle(int depth);
    bool quantifier();
    bool attlistDecl();
    bool attType();
    bool entityDecl();
    bool notationDecl();
    bool comment();
    // S name Eq and a quoted value, the value being what stands between the quotes.
    bool pseudoAttribute(const char* name, std::string_view& value);
    // An optional one: nothing is consumed, and the value stays empty, when it is not there.
    bool optPseudoAttribute(const char* name, std::string_view& value);

    const char* m_p;
    int m_n;
    int m_i = 0;
};

bool Reader::literal(const char* s) {
    const int len = static_cast<int>(std::strlen(s));
    if (m_n - m_i < len || std::memcmp(m_p + m_i, s, static_cast<std::size_t>(len)) != 0)
        return false;
    m_i += len;
    return true;
}

bool Reader::space() {
    const int start = m_i;
    while (!atEnd() && isSpaceByte(peek()))
        ++m_i;
    return m_i > start;
}

bool Reader::character(std::uint32_t& cp) {
    if (atEnd())
        return false;
    const int used = xmlchars::utf8CharAt(m_p + m_i, m_n - m_i, cp);
    if (used == 0 || !xmlchars::isChar(cp))
        return false;
    m_i += used;
    return true;
}

bool Reader::name(int* start, int* length) {
    int end = m_i;
    std::uint32_t cp = 0;
    while (end < m_n) {
        const int used = xmlchars::utf8CharAt(m_p + end, m_n - end, cp);
        if (used == 0 || !(end == m_i ? xmlchars::isNameStart(cp) : xmlchars::isNameChar(cp)))
            break;
        end += used;
    }
    if (end == m_i)
        return false;
    if (start)
        *start = m_i;
    if (length)
        *length = end - m_i;
    m_i = end;
    return true;
}

bool Reader::nmtoken() {
    const int start = m_i;
    std::uint32_t cp = 0;
    while (m_i < m_n) {
        const int used = xmlchars::utf8CharAt(m_p + m_i, m_n - m_i, cp);
        if (used == 0 || !xmlchars::isNameChar(cp))
            break;
        m_i += used;
    }
    return m_i > start;
}

// A quoted literal: `item` takes each thing in it (a character, or a
// reference) up to the closing quote, which it is told.
template <class Item>
bool Reader::quoted(Item item) {
    const char q = peek();
    if (q != '"' && q != '\'')
        return false;
    ++m_i;
    while (!atEnd() && peek() != q)
        if (!item(q))
            return false;
    if (atEnd())
        return false;
    ++m_i;
    return true;
}

bool Reader::systemLiteral() {
    return quoted([this](char) {
        std::uint32_t cp = 0;
        return character(cp);
    });
}

bool Reader::pubidLiteral() {
    return quoted([this](char q) {
        std::uint32_t cp = 0;
        return character(cp) && cp < 0x80 && isPubidByte(static_cast<char>(cp)) && static_cast<char>(cp) != q;
    });
}

bool Reader::externalId(bool publicAlone) {
    if (literal("SYSTEM"))
        return space() && systemLiteral();
    if (!literal("PUBLIC") || !space() || !pubidLiteral())
        return false;
    const int afterPubid = m_i;
    if (space() && (peek() == '"' || peek() == '\''))
        return systemLiteral();
    m_i = afterPubid;
    return publicAlone;
}

bool Reader::charRef() {
    if (!literal("&#"))
        return false;
    const bool hex = peek() == 'x';
    if (hex)
        ++m_i;
    std::uint32_t code = 0;
    int digits = 0;
    for (;; ++m_i, ++digits) {
        const char c = peek();
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            break;
        code = code * (hex ? 16 : 10) + static_cast<std::uint32_t>(d);
        if (code > 0x10FFFF)
            return false;
    }
    return digits > 0 && literal(";") && xmlchars::isChar(code);
}

bool Reader::reference(bool predefinedOnly) {
    if (peek(1) == '#')
        return charRef();
    if (!literal("&"))
        return false;
    int start = 0, length = 0;
    if (!name(&start, &length) || !literal(";"))
        return false;
    if (!predefinedOnly)
        return true;
    for (const char* p : kPredefined)
        if (static_cast<int>(std::strlen(p)) == length && std::memcmp(m_p + start, p, std::strlen(p)) == 0)
            return true;
    return false;
}

// A quoted value whose "&" must start a reference (only to a predefined
// entity when `predefinedOnly`) and which may not hold `forbidden`.
bool Reader::referencingValue(bool predefinedOnly, char forbidden) {
    return quoted([&](char) {
        if (peek() == '&')
            return reference(predefinedOnly);
        std::uint32_t cp = 0;
        return peek() != forbidden && character(cp);
    });
}

bool Reader::attValue() {
    return referencingValue(true, '<');
}

// Parameter-entity references are not taken, so "%" is refused.
bool Reader::entityValue() {
    return referencingValue(false, '%');
}

bool Reader::comment() {
    if (!literal("<!--"))
        return false;
    while (!atEnd()) {
        if (peek() == '-' && peek(1) == '-')
            return literal("-->");
        std::uint32_t cp = 0;
        if (!character(cp))
            return false;
    }
    return false;
}

bool Reader::instruction() {
    if (!literal("<?"))
        return false;
    int start = 0, length = 0;
    if (!name(&start, &length))
        return false;
    if (length == 3 && (m_p[start] | 0x20) == 'x' && (m_p[start + 1] | 0x20) == 'm' && (m_p[start + 2] | 0x20) == 'l')
        return false;
    if (literal("?>"))
        return true;
    if (!space())
        return false;
    while (!atEnd()) {
        if (literal("?>"))
            return true;
        std::uint32_t cp = 0;
        if (!character(cp))
            return false;
    }
    return false;
}

bool Reader::pseudoAttribute(const char* name, std::string_view& value) {
    if (!space() || !literal(name))
        return false;
    optSpace();
    if (!literal("="))
        return false;
    optSpace();
    const char q = peek();
    if (q != '"' && q != '\'')
        return false;
    const int from = ++m_i;
    while (!atEnd() && peek() != q)
        ++m_i;
    if (atEnd())
        return false;
    value = std::string_view(m_p + from, static_cast<std::size_t>(m_i - from));
    ++m_i;
    return true;
}

bool Reader::optPseudoAttribute(const char* name, std::string_view& value) {
    const int start = m_i;
    if (pseudoAttribute(name, value))
        return true;
    m_i = start;
    value = {};
    return false;
}

// XMLDecl ::= '<?xml' VersionInfo EncodingDecl? SDDecl? S? '?>', the version
// number as the first editions wrote it, which every reader takes.
bool Reader::xmlDecl(Declaration& out) {
    out = Declaration{};
    auto versionChar = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::strchr("_.:-", c) != nullptr;
    };
    if (!literal("<?xml") || !pseudoAttribute("version", out.version) || out.version.empty() ||
        !std::all_of(out.version.begin(), out.version.end(), versionChar))
        return false;
    if (optPseudoAttribute("encoding", out.encoding) && !isEncodingName(out.encoding))
        return false;
    if (optPseudoAttribute("standalone", out.standalone) && out.standalone != "yes" && out.standalone != "no")
        return false;
    optSpace();
    if (!literal("?>"))
        return false;
    out.length = m_i;
    return true;
}

bool Reader::quantifier() {
    const char c = peek();
    if (c == '?' || c == '*' || c == '+')
        ++m_i;
    return true;
}

bool Reader::contentParticle(int depth) {
    if (peek() == '(')
        return group(depth + 1) && quantifier();
    return name() && quantifier();
}

// choice or seq: "(" cp (sep cp)* ")", one separator kind throughout.
bool Reader::group(int depth) {
    if (depth > kMaxGroupDepth || !literal("("))
        return false;
    optSpace();
    if (!contentParticle(depth))
        return false;
    optSpace();
    const char sep = peek();
    if (sep == '|' || sep == ',') {
        while (peek() == sep) {
            ++m_i;
            optSpace();
            if (!contentParticle(depth))
                return false;
            optSpace();
        }
    }
    return literal(")");
}

bool Reader::contentSpec() {
    if (literal("EMPTY") || literal("ANY"))
        return true;
    const int start = m_i;
    if (literal("(")) {
        optSpace();
        if (literal("#PCDATA")) {
            optSpace();
            if (literal(")")) {
                literal("*");
                return true;
            }
            while (literal("|")) {
                optSpace();
                if (!name())
                    return false;
                optSpace();
            }
            return literal(")*");
        }
    }
    m_i = start;
    return group(1) && quantifier();
}

bool Reader::elementDecl() {
    if (!literal("<!ELEMENT") || !space() || !name() || !space() || !contentSpec())
        return false;
    optSpace();
    return literal(">");
}

bool Reader::attType() {
    if (literal("CDATA") || literal("IDREFS") || literal("IDREF") || literal("ID") || literal("ENTITY") ||
        literal("ENTITIES") || literal("NMTOKENS") || literal("NMTOKEN"))
        return true;
    const bool notation = literal("NOTATION");
    if (notation && !space())
        return false;
    if (!literal("("))
        return false;
    do {
        optSpace();
        if (!(notation ? name() : nmtoken()))
            return false;
        optSpace();
    } while (literal("|"));
    return literal(")");
}

bool Reader::attlistDecl() {
    if (!literal("<!ATTLIST") || !space() || !name())
        return false;
    while (true) {
        const bool spaced = space();
        if (literal(">"))
            return true;
        if (!spaced || !name() || !space() || !attType() || !space())
            return false;
        if (literal("#REQUIRED") || literal("#IMPLIED"))
            continue;
        if (literal("#FIXED") && !space())
            return false;
        if (!attValue())
            return false;
    }
}

bool Reader::entityDecl() {
    if (!literal("<!ENTITY") || !space())
        return false;
    const bool parameter = literal("%");
    if (parameter && !space())
        return false;
    int start = 0, length = 0;
    if (!name(&start, &length) || !space())
        return false;
    // Readers hold the predefined entities to rules of their own.
    for (const char* p : kPredefined)
        if (!parameter && static_cast<int>(std::strlen(p)) == length &&
            std::memcmp(m_p + start, p, std::strlen(p)) == 0)
            return false;
    if (peek() == '"' || peek() == '\'') {
        if (!entityValue())
            return false;
    } else {
        if (!externalId(false))
            return false;
        const int afterId = m_i;
        if (!parameter && space() && literal("NDATA")) {
            if (!space() || !name())
                return false;
        } else {
            m_i = afterId;
        }
    }
    optSpace();
    return literal(">");
}

bool Reader::notationDecl() {
    if (!literal("<!NOTATION") || !space() || !name() || !space() || !externalId(true))
        return false;
    optSpace();
    return literal(">");
}

bool Reader::markupDecl() {
    if (peek(1) == '?')
        return instruction();
    if (peek(2) == '-')
        return comment();
    switch (peek(3)) {
    case 'L': return elementDecl();
    case 'T': return attlistDecl();
    case 'N': return entityDecl();
    case 'O': return notationDecl();
    default: return false;
    }
}

bool Reader::internalSubset() {
    while (true) {
        optSpace();
        if (peek() == ']')
            return true;
        if (peek() != '<' || !markupDecl())
            return false;
    }
}

bool Reader::docTypeDecl() {
    if (!literal("<!DOCTYPE") || !space() || !name())
        return false;
    const int afterName = m_i;
    if (!(space() && (peek() == 'S' || peek() == 'P') && externalId(false)))
        m_i = afterName;
    optSpace();
    if (literal("[")) {
        if (!internalSubset() || !literal("]"))
            return false;
        optSpace();
    }
    return literal(">");
}

// Length of the construct `read` takes at p, or 0; `stopped` is where the
// reading ended either way.
template <class Read>
int scan(const char* p, int n, Read read) {
    Reader r(p, n);
    return (r.*read)() ? r.pos() : 0;
}

// Where the reader's lenient capture of a construct starting at p[0] ends:
// DOCTYPE text at its grammar's end, instruction text through the next
// "?>". A construct that is not well-formed is passed over whole, so
// nothing inside it is taken for a construct of its own, and the text is
// read once.
int lenientEnd(const char* p, int n, bool instruction) {
    if (instruction) {
        const char* close = std::search(p + 2, p + n, kPiClose, kPiClose + 2);
        return close == p + n ? n : static_cast<int>(close + 2 - p);
    }
    const int extent = docTypeExtent(p, n);
    return extent > 0 ? extent : n;
}

// The reader sends these instructions elsewhere (the stylesheets), so they
// cannot stand in the instruction text.
bool isStylesheetInstruction(const char* p, int n) {
    return n >= 2 && instructionTargetIs(p + 2, n - 2, kStylesheet);
}

// The constructs `read` takes in the text, each written with a line end as
// the reader keeps them; whitespace and anything else are left out.
void appendWellFormed(const StringBuffer& text, bool (Reader::*read)(), bool firstOnly, StringBuffer& out) {
    const char* p = text.getString();
    const int n = text.getSize();
    const bool instructions = read == &Reader::instruction;
    for (int i = 0; i < n;) {
        if (p[i] != '<') {
            ++i;
            continue;
        }
        // Read no further than the lenient end, which a well-formed one
        // shares: the text is read a bounded number of times.
        const int end = lenientEnd(p + i, n - i, instructions);
        const int len = scan(p + i, end, read);
        if (len == 0 || (instructions && isStylesheetInstruction(p + i, len))) {
            i += end;
            continue;
        }
        out.appendBytes(p + i, len);
        out.appendChar('\n');
        if (firstOnly)
            return;
        i += len;
    }
}

// Index just past `close`, searched for from `from`; -1 when it is not there.
int past(const char* p, int n, int from, std::string_view close) {
    const std::size_t at = std::string_view(p, static_cast<std::size_t>(n)).find(close, static_cast<std::size_t>(from));
    return at == std::string_view::npos ? -1 : static_cast<int>(at + close.size());
}

// Index just past the internal subset whose "[" comes just before i, or -1.
int pastInternalSubset(const char* p, int n, int i) {
    while (i >= 0 && i < n) {
        const char c = p[i];
        if (c == ']')
            return i + 1;
        if (c != '<' || i + 1 >= n || (p[i + 1] != '?' && p[i + 1] != '!')) {
            ++i;
        } else if (p[i + 1] == '?') {
            i = past(p, n, i + 2, kPiClose);
        } else if (std::string_view(p + i, static_cast<std::size_t>(n - i)).substr(0, 4) == "<!--") {
            i = past(p, n, i + 4, "-->");
        } else {
            // A declaration: its literals may hold ">".
            for (i += 2; i >= 0 && i < n && p[i] != '>';)
                i = p[i] == '"' || p[i] == '\'' ? past(p, n, i + 1, std::string_view(p + i, 1)) : i + 1;
            if (i >= 0 && i < n)
                ++i;
            else
                i = -1;
        }
    }
    return -1;
}

} // namespace

int docTypeExtent(const char* p, int n) {
    for (int i = 1; i >= 0 && i < n;) {
        const char c = p[i];
        if (c == '>')
            return i + 1;
        if (c == '"' || c == '\'')
            i = past(p, n, i + 1, std::string_view(p + i, 1));
        else if (c == '[')
            i = pastInternalSubset(p, n, i + 1);
        else
            ++i;
    }
    return 0;
}

int instructionLength(const char* p, int n) {
    return scan(p, n, &Reader::instruction);
}

bool readDeclaration(const char* p, int n, Declaration& out) {
    Reader r(p, n);
    return r.xmlDecl(out);
}

bool isEncodingName(std::string_view name) {
    auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (name.empty() || !letter(name[0]))
        return false;
    return std::all_of(name.begin() + 1, name.end(),
                       [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '-'; });
}

bool instructionTargetIs(const char* p, int n, std::string_view target) {
    const int len = static_cast<int>(target.size());
    if (n < len || std::string_view(p, target.size()) != target)
        return false;
    std::uint32_t cp = 0;
    return len == n || xmlchars::utf8CharAt(p + len, n - len, cp) == 0 || !xmlchars::isNameChar(cp);
}

void appendDocType(const StringBuffer& text, StringBuffer& out) {
    appendWellFormed(text, &Reader::docTypeDecl, true, out);
}

void appendInstructions(const StringBuffer& text, StringBuffer& out) {
    appendWellFormed(text, &Reader::instruction, false, out);
}

} // namespace tessik::xmlprolog
