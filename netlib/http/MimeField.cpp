#include "netlib/http/MimeField.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/MimeConstants.h"
#include "netlib/http/Rfc822Address.h"
#include "netlib/text/BodyText.h"
#include "netlib/text/CharsetNames.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

namespace {

bool nameIsOneOf(const StringBuffer& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (name.equalsNoCase(n))
            return true;
    return false;
}

bool holdsEncodedWord(const StringBuffer& text) {
    return text.containsSubstringNoCase("?Q?") || text.containsSubstringNoCase("?B?");
}

// Fields whose value the client acts on: it frames, unpacks and reads the
// body by them, caches by them, sends them back or follows them. They are
// kept as sent (curl, http.client and any proxy on the way read them so):
// text in them that looks like a word or a shift is not one.
bool isKeptAsSent(const StringBuffer& name) {
    return nameIsOneOf(name, {"set-cookie", "set-cookie2", "location", "www-authenticate", "proxy-authenticate",
                              "authentication-info", "proxy-authentication-info", "etag", "content-type",
                              "content-encoding", "transfer-encoding", "content-length", "content-range",
                              "cache-control", "expires", "last-modified", "vary", "pragma", "connection"});
}

bool isAddressField(const StringBuffer& name) {
    return nameIsOneOf(name, {"to", "cc", "bcc", "from"});
}

bool isIso2022Page(std::uint32_t cp) {
    return cp >= mime::kIso2022First && cp <= mime::kIso2022Last;
}

bool holdsIso2022Escape(const StringBuffer& text) {
    return text.containsSubstring("(B") || text.containsSubstring("$)");
}

// Pages whose text goes out as B words (double-byte, UTF-16, right-to-left).
bool isBWordPage(std::uint32_t cp) {
    static constexpr std::uint32_t kPages[] = {932, 52936, 936, 949, 950, 874, 1361, 1200, 1201, 28596, 1256};
    for (std::uint32_t p : kPages)
        if (cp == p)
            return true;
    return cp >= mime::kBWordRangeFirst && cp <= mime::kBWordRangeLast;
}

// Names whose whole value is one text, never split into parameters.
bool isWholeTextName(const StringBuffer& name) {
    return nameIsOneOf(name, {"subject", "Content-Location", "Accept-Language", "User-Agent", "Thread-Topic"});
}

bool isSpaceFoldName(const StringBuffer& name) {
    return nameIsOneOf(name, {"subject", "Content-Location", "User-Agent", "Accept-Language", "Thread-Topic"});
}

bool isAddressListText(const StringBuffer& text) {
    return text.getSize() > mime::kAddressListMinLength && text.containsChar('@') && text.containsChar(',');
}

bool convertUtf8(const StringBuffer& value, std::uint32_t cp, StringBuffer& out) {
    out.clear();
    DataBuffer converted;
    EncodingConvert ec;
    bool ok = ec.convert(static_cast<int>(mime::kCodePageUtf8), static_cast<int>(cp), value.getString(),
                         static_cast<unsigned>(value.getSize()), converted);
    if (!ok || ec.getDroppedCount() != 0)
        return false;
    out.appendDb(converted);
    return true;
}

// Length of the text after the last line break of out.
int currentColumn(const StringBuffer& out) {
    const char* s = out.getString();
    for (int i = out.getSize() - 1; i >= 0; --i)
        if (s[i] == '\n')
            return out.getSize() - i - 1;
    return out.getSize();
}

void trimTrailingWhite(StringBuffer& out, int from) {
    while (out.getSize() > from) {
        char c = out.lastChar();
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            break;
        out.shorten(1);
    }
}

void removeFolds(StringBuffer& value) {
    if (!value.containsChar('\n'))
        return;
    value.replaceAll("\r\n\t", "");
    value.replaceAll("\r\n ", "");
}

} // namespace

struct MimeField::RenderCtx {
    WordKind kind;
    std::uint32_t codePage;
    const char* charset;
    LogBase& log;
    bool verbose;
    int lineStart; // column where the value begins
};

MimeField::MimeField() : m_noFold(0) {}
MimeField::~MimeField() = default;

MimeField* MimeField::clone() const {
    auto* f = new (std::nothrow) MimeField();
    if (!f)
        return nullptr;
    f->m_name.setSb(m_name);
    f->m_value.setSb(m_value);
    f->m_undecoded.setSb(m_undecoded);
    return f;
}

bool MimeField::nameEquals(const char* name) const {
    return name && m_name.equalsNoCase(name);
}

bool MimeField::keptAsSent() const {
    return isKeptAsSent(m_name);
}

void MimeField::keptLine(StringBuffer& out) const {
    out.appendSb(m_name);
    out.append(": ");
    out.appendSb(m_undecoded.getSize() != 0 ? m_undecoded : m_value);
}

void MimeField::getNameAnsi(StringBuffer& out) const {
    StringBuffer s(m_name);
    s.utf8ToAnsi();
    out.appendSb(s);
}

void MimeField::getValueAnsi(StringBuffer& out) const {
    StringBuffer s(m_value);
    s.utf8ToAnsi();
    out.appendSb(s);
}

void MimeField::setNameValue(const char* name, const char* value) {
    m_name.setString(name);
    m_value.setString(value);
    m_undecoded.clear();
    if (holdsEncodedWord(m_value))
        ContentCoding::decodeEncodedWordsToUtf8(m_value);
    removeFolds(m_value);
    if (nameIsOneOf(m_name, {"user-agent", "accept", "accept-charset"}))
        m_noFold = 1;
}

void MimeField::restore(const StringBuffer& name, const StringBuffer& value, bool noFold) {
    m_name.setSb(name);
    m_value.setSb(value);
    m_undecoded.clear();
    m_noFold = noFold ? 1 : 0;
}

bool MimeField::parse(const char* line, LogBase& log, bool verbose, std::uint32_t shiftedPage) {
    m_name.clear();
    m_value.clear();
    m_undecoded.clear();
    if (!line)
        return false;
    const char* colon = std::strchr(line, ':');
    if (!colon)
        return false;
    m_name.appendBytes(line, static_cast<int>(colon - line));
    m_name.trimWhitespace();
    const char* v = colon + 1;
    if (*v == ' ' || *v == '\t')
        ++v;
    m_value.append(v);
    if (!m_name.equalsNoCase("subject"))
        m_value.trimWhitespace();
    m_name.replaceAnyOfFiveChars(" <>\"'", '-');

    const bool keptAsSent = isKeptAsSent(m_name);
    if (shiftedPage != 0 && !keptAsSent) {
        pageTextToUtf8(static_cast<int>(shiftedPage), m_value);
        if (!m_name.equalsNoCase("subject"))
            m_value.trimWhitespace();
    }
    // Before the list is rebuilt, so ';'-separated lists split as well.
    if (nameIsOneOf(m_name, {"to", "cc", "bcc"}))
        m_value.replaceChar(';', ',');
    if (!keptAsSent && holdsEncodedWord(m_value)) {
        m_undecoded.setSb(m_value);
        if (isAddressField(m_name)) {
            bool replaced = false;
            ContentCoding::decodeEncodedWordsProtectCommas(m_value, replaced);
            rebuildAddressList(replaced);
        } else {
            ContentCoding::decodeEncodedWordsToUtf8(m_value);
        }
    }
    removeFolds(m_value);
    if (m_name.equalsNoCase("user-agent"))
        m_noFold = 1;
    if (nameIsOneOf(m_name, {"received", "DKIM-Signature", "DomainKey-Signature"}))
        m_value.collapseWhitespace();
    if (verbose) {
        log.enterContext("MimeField", true);
        log.logData("rawField", line);
        log.logData("name", m_name.getString());
        log.logData("value", m_value.getString());
        log.leaveContext();
    }
    return true;
}

void MimeField::rebuildAddressList(bool commasProtected) {
    ExtPtrArray list;
    list.setOwnsObjects(true);
    parseAddressList(m_value.getString(), true, list, false, 0);
    StringBuffer rebuilt;
    for (int i = 0; i < list.getCount(); ++i) {
        auto* a = static_cast<Rfc822Address*>(list.elementAt(i));
        StringBuffer name;
        StringBuffer address;
        // Its words were decoded once already: text they held that looks
        // like a word is text.
        a->getNameAsParsed(name);
        a->getAddress(address);
        if (commasProtected)
            name.replaceAll(mime::kProtectedComma, ",");
        if (i > 0)
            rebuilt.appendChar(',');
        if (name.getSize() > 0) {
            bool quote = name.containsChar(',') || name.containsChar(' ');
            if (quote) {
                // Escaped so the quoted name reads back as it was.
                name.replaceAll("\\", "\\\\");
                name.replaceAll("\"", "\\\"");
                rebuilt.appendChar('"');
            }
            rebuilt.appendSb(name);
            if (quote)
                rebuilt.appendChar('"');
            rebuilt.append(" ");
        }
        rebuilt.appendChar('<');
        rebuilt.appendSb(address);
        rebuilt.appendChar('>');
    }
    m_value.setSb(rebuilt);
}

void MimeField::render(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const {
    const int start = out.getSize();
    out.appendSb(m_name);
    out.append(": ");
    std::uint32_t cp = charset ? charsetNameToCodePage(charset) : 0;
    if (cp == 0)
        cp = mime::kCodePageUtf8;
    RenderCtx ctx{WordKind::Q, cp, charset, log, verbose, out.getSize() - start};
    const char* canonical = canonicalCharsetName(cp);
    ctx.charset = canonical ? canonical : charset;
    StringBuffer encoded;

    if (isBWordPage(cp)) {
        if (verbose)
            log.logDataLong("codePage", static_cast<int>(cp));
        if (isIso2022Page(cp) && cp <= mime::kIso2022JisLast && m_value.is7bit(0)) {
            if (verbose)
                log.logInfo("Appending 7bit value and returning.");
            encoded.appendSb(m_value);
        } else {
            StringBuffer text;
            ctx.kind = WordKind::B;
            if (cp == mime::kCodePageUtf16Le || cp == mime::kCodePageUtf16Be) {
                ctx.codePage = mime::kCodePageUtf8;
                ctx.charset = "utf-8";
                text.setSb(m_value);
            } else if (!convertUtf8(m_value, cp, text)) {
                text.setSb(m_value);
                ctx.codePage = mime::kCodePageUtf8;
                ctx.charset = "utf-8";
            }
            encodeWithParams(ctx, text, encoded);
            if (encoded.getSize() == 0)
                encoded.appendSb(m_value);
        }
    } else if (cp == mime::kCodePageUsAscii && m_value.is7bit(0)) {
        if (verbose)
            log.logInfo("Appending 7bit value. (us-ascii)");
        fold(m_value, ctx.lineStart, true, encoded, log);
    } else if (cp == mime::kCodePageUsAscii) {
        if (verbose)
            log.logInfo("Appending 8bit utf-8 value. (us-ascii email)");
        ctx.kind = WordKind::B;
        ctx.codePage = mime::kCodePageUtf8;
        ctx.charset = "utf-8";
        encodeWithParams(ctx, m_value, encoded);
        if (encoded.getSize() == 0)
            encoded.appendSb(m_value);
    } else if (cp != mime::kCodePageUtf8) {
        StringBuffer text;
        if (convertUtf8(m_value, cp, text)) {
            encodeWithParams(ctx, text, encoded);
        } else if ((cp == mime::kCodePageLatin1 || cp == mime::kCodePage1252) &&
                   convertUtf8(m_value, mime::kCodePageLatin2, text)) {
            ctx.codePage = mime::kCodePageLatin2;
            ctx.charset = "iso-8859-2";
            encodeWithParams(ctx, text, encoded);
        } else {
            ctx.codePage = mime::kCodePageUtf8;
            ctx.charset = "utf-8";
            encodeWithParams(ctx, m_value, encoded);
        }
        if (encoded.getSize() == 0)
            encoded.appendSb(m_value);
    } else {
        ctx.kind = WordKind::B;
        ctx.charset = "utf-8";
        encodeWithParams(ctx, m_value, encoded);
        if (encoded.getSize() == 0)
            encoded.appendSb(m_value);
    }
    out.appendSb(encoded);
    if (!m_name.equalsNoCase("subject"))
        trimTrailingWhite(out, start);
    if (verbose) {
        log.enterContext("MimeField", true);
        log.logData("name", m_name.getString());
        log.logData("m_value", m_value.getString());
        log.logData("encodedValue", encoded.getString());
        log.leaveContext();
    }
}

void MimeField::encodeWithParams(RenderCtx& ctx, const StringBuffer& value, StringBuffer& out) const {
    const bool iso2022 = ctx.codePage >= mime::kIso2022First && ctx.codePage <= mime::kIso2022Last;
    bool wholeText = isWholeTextName(m_name) || isAddressField(m_name);
    if (iso2022 && !m_name.equalsNoCase("Content-Type") && !m_name.equalsNoCase("Content-Disposition") &&
        holdsIso2022Escape(value))
        wholeText = true;
    // Plain values keep their own layout; only the long ones are folded.
    if (value.is7bit(0) && !iso2022)
        wholeText = true;
    const char* semi = std::strchr(value.getString(), ';');
    if (wholeText || !semi) {
        encodeText(ctx, value, false, out);
        return;
    }

    StringBuffer first;
    first.appendBytes(value.getString(), static_cast<int>(semi - value.getString()));
    StringBuffer rest(semi + 1);
    StringBuffer line;
    if (first.getSize() > 0)
        encodeText(ctx, first, false, line);
    line.appendChar(';');
    if (first.getSize() >= mime::kOwnLineFirstPart) {
        out.appendSb(line);
        line.clear();
    }
    ExtPtrArray params;
    params.setOwnsObjects(true);
    rest.split(params, ';', true, true);
    bool firstParam = true;
    for (int i = 0; i < params.getCount(); ++i) {
        auto* p = static_cast<StringBuffer*>(params.elementAt(i));
        p->trimWhitespace();
        if (p->getSize() == 0)
            continue;
        StringBuffer piece;
        if (!firstParam)
            piece.appendChar(';');
        piece.appendChar(' ');
        firstParam = false;
        StringBuffer pname;
        StringBuffer pvalue;
        if (!p->parseNameValue(pname, pvalue)) {
            piece.appendSb(*p);
        } else {
            piece.appendSb(pname);
            piece.appendChar('=');
            StringBuffer enc;
            encodeText(ctx, pvalue, true, enc);
            const char* e = enc.getString();
            bool quote = e[0] == '=' || e[0] == '-' || std::strpbrk(e, " '\t;=") != nullptr;
            if (quote)
                piece.appendChar('"');
            piece.appendSb(enc);
            if (quote)
                piece.appendChar('"');
        }
        if (line.getSize() + piece.getSize() >= mime::kParamLineLimit) {
            if (out.getSize() > 0)
                out.append("\r\n\t");
            out.appendSb(line);
            line.clear();
        }
        line.appendSb(piece);
    }
    if (line.getSize() > 0) {
        if (out.getSize() > 0)
            out.append("\r\n\t");
        out.appendSb(line);
    }
}

void MimeField::encodeText(RenderCtx& ctx, const StringBuffer& text, bool isParamValue, StringBuffer& out) const {
    if (isAddressField(m_name) && !isParamValue) {
        encodeAddressText(ctx, text, out);
        return;
    }
    bool wordsRequired = false;
    if (ctx.codePage == mime::kCodePageUtf7 ||
        (ctx.codePage >= mime::kIso2022First && ctx.codePage <= mime::kIso2022Last)) {
        wordsRequired = nameIsOneOf(m_name, {"subject", "Thread-Topic"}) || (isParamValue && holdsIso2022Escape(text));
    }
    if (nameIsOneOf(m_name, {"received", "content-transfer-encoding"})) {
        out.appendSb(text);
        return;
    }
    if (text.is7bit(0) && !wordsRequired) {
        int column = ctx.lineStart + currentColumn(out);
        if (column + text.getSize() < mime::kPlainLineLimit)
            out.appendSb(text);
        else
            fold(text, column, false, out, ctx.log);
        return;
    }
    appendWords(ctx, text, out);
}

void MimeField::appendWords(RenderCtx& ctx, const StringBuffer& text, StringBuffer& out) const {
    ContentCoding coder;
    StringBuffer words;
    const char* charset = ctx.charset ? ctx.charset : "utf-8";
    if (ctx.kind == WordKind::B)
        coder.encodeBEncodedWords(text.getString(), static_cast<unsigned>(text.getSize()), ctx.codePage, charset,
                                  words);
    else
        coder.encodeQEncodedWords(text.getString(), static_cast<unsigned>(text.getSize()), ctx.codePage, charset,
                                  words);
    out.appendSb(words);
}

void MimeField::encodeAddressText(RenderCtx& ctx, const StringBuffer& text, StringBuffer& out) const {
    // Only display names are encoded; the addresses and separators stay.
    const char* s = text.getString();
    const int n = text.getSize();
    StringBuffer run;
    auto flushRun = [&]() {
        if (run.getSize() == 0)
            return;
        if (run.is7bit(0)) {
            out.appendSb(run);
        } else {
            int lead = 0;
            while (lead < run.getSize() && run.charAt(lead) == ' ')
                ++lead;
            out.appendCharRepeated(' ', lead);
            StringBuffer name(run.getString() + lead);
            bool trailingSpace = name.lastChar() == ' ';
            name.trimWhitespace();
            if (name.charAt(0) == '"' && name.lastChar() == '"' && name.getSize() >= 2) {
                name.shorten(1);
                name.removeChunk(0, 1);
            }
            appendWords(ctx, name, out);
            if (trailingSpace)
                out.appendChar(' ');
        }
        run.clear();
    };
    bool inQuotes = false;
    for (int i = 0; i < n; ++i) {
        char c = s[i];
        if (c == '"')
            inQuotes = !inQuotes;
        if (!inQuotes && c == '<') {
            flushRun();
            const char* gt = std::strchr(s + i, '>');
            int end = gt ? static_cast<int>(gt - s) + 1 : n;
            out.appendBytes(s + i, end - i);
            i = end - 1;
        } else if (!inQuotes && c == ',') {
            flushRun();
            out.appendChar(',');
        } else {
            run.appendChar(c);
        }
    }
    flushRun();
}

void MimeField::fold(const StringBuffer& text, int column, bool sevenBitCase, StringBuffer& out, LogBase& log) const {
    if (column + text.getSize() < mime::kFoldLineLimit || m_noFold) {
        out.appendSb(text);
        return;
    }
    const bool spaceMode = isSpaceFoldName(m_name);
    const bool addressList = isAddressListText(text);
    int behavior = mime::kFoldAtBlanks;
    if (sevenBitCase) {
        if (!nameIsOneOf(m_name,
                         {"subject", "Content-Location", "received", "DKIM-Signature", "DomainKey-Signature"}) &&
            addressList)
            behavior = mime::kFoldAtCommas;
        log.logDataLong("foldBehavior", behavior);
    }
    const char* s = text.getString();
    const int n = text.getSize();
    bool inQuotes = false;
    int col = column;
    for (int i = 0; i < n; ++i) {
        char c = s[i];
        const bool last = i == n - 1;
        if (c == '"')
            inQuotes = !inQuotes;
        if (inQuotes || c == '"') {
            out.appendChar(c);
            ++col;
            continue;
        }
        if (spaceMode) {
            if (c == ' ' && col >= mime::kSpaceFoldColumn && !last) {
                out.append("\r\n ");
                col = 0;
            } else {
                out.appendChar(c);
                ++col;
            }
            continue;
        }
        bool breakAfter = false;
        if (c == ';' && col >= mime::kSemicolonFoldColumn && !last && s[i + 1] != '>')
            breakAfter = true;
        if (c == ',' && !last) {
            if (sevenBitCase ? behavior == mime::kFoldAtCommas : (addressList && col >= mime::kSemicolonFoldColumn))
                breakAfter = true;
        }
        if (breakAfter) {
            out.appendChar(c);
            out.append("\r\n");
            if (s[i + 1] == ' ' || s[i + 1] == '\t') {
                out.appendChar(s[++i]);
            } else {
                out.appendChar(' ');
            }
            col = 0;
            continue;
        }
        if (sevenBitCase && behavior == mime::kFoldAtBlanks && (c == ' ' || c == '\t') &&
            col >= mime::kBlankFoldColumn && !last) {
            out.append("\r\n");
            out.appendChar(c);
            col = 0;
            continue;
        }
        out.appendChar(c);
        ++col;
    }
}

namespace {

constexpr std::int32_t kMaxAgeCap = 0x7FFFFFFF;

// RFC 6265: a Max-Age that is no number is ignored; zero or less ends the
// cookie at once, which the cookie keeps as kMaxAgeExpired.
void setMaxAge(Cookie& cookie, const StringBuffer& value) {
    const char* p = value.getString();
    const bool negative = *p == '-';
    if (negative)
        ++p;
    if (*p == '\0')
        return;
    std::int64_t seconds = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return;
        if (seconds < kMaxAgeCap)
            seconds = seconds * 10 + (*p - '0');
    }
    if (negative || seconds == 0)
        cookie.setMaxAge(Cookie::kMaxAgeExpired);
    else
        cookie.setMaxAge(static_cast<std::int32_t>(seconds < kMaxAgeCap ? seconds : kMaxAgeCap));
}

} // namespace

void MimeField::loadCookie(Cookie& cookie) const {
    const std::int32_t version = cookie.getVersion();
    cookie.clear();
    cookie.setVersion(version);
    ExtPtrArray pieces;
    pieces.setOwnsObjects(true);
    m_value.split(pieces, ';', true, true);
    // The first piece is the cookie; what follows are attributes, and one
    // this library does not know (SameSite, Priority, Partitioned ...) is
    // passed over (RFC 6265, section 5.2).
    for (int i = 0; i < pieces.getCount(); ++i) {
        auto* piece = static_cast<StringBuffer*>(pieces.elementAt(i));
        piece->trimWhitespace();
        if (i == 0) {
            StringBuffer name;
            StringBuffer value;
            if (piece->containsChar('='))
                piece->parseNameValue(name, value);
            else
                name.setSb(*piece);
            if (name.getSize() > 0)
                cookie.setNameValue(name.getString(), value.getString());
            continue;
        }
        if (!piece->containsChar('=')) {
            if (piece->equalsNoCase("secure"))
                cookie.setSecure(true);
            else if (piece->equalsNoCase("discard"))
                cookie.setDiscard(true);
            continue;
        }
        StringBuffer name;
        StringBuffer value;
        piece->parseNameValue(name, value);
        if (name.equalsNoCase("domain")) {
            cookie.setDomain(value.getString());
        } else if (name.equalsNoCase("path")) {
            cookie.setPath(value.getString());
        } else if (name.equalsNoCase("expires")) {
            cookie.setExpire(value.getString());
        } else if (name.equalsNoCase("max-age")) {
            setMaxAge(cookie, value);
        } else if (name.equalsNoCase("version")) {
            if (value.equals("0") || value.equals("1"))
                cookie.setVersion(value.intValue());
        }
    }
}

} // namespace tessik
