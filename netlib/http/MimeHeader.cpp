#include "netlib/http/MimeHeader.h"

#include <cstring>
#include <new>
#include <string>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/MimeConstants.h"
#include "netlib/http/MimeField.h"
#include "netlib/text/BodyText.h"
#include "netlib/text/CharsetNames.h"
#include "platform/CodePage.h"
#include "platform/Cp1252Text.h"

namespace tessik {

namespace {

struct NamedPage {
    const char* name;
    std::uint32_t page;
};

// Whether the head's bytes are valid text of `page`.
bool convertsCleanly(const StringBuffer& head, std::uint32_t page) {
    if (page == mime::kCodePageUtf8)
        return platform::IsValidUtf8(std::string_view(head.getString(), static_cast<std::size_t>(head.getSize())));
    DataBuffer out;
    EncodingConvert ec;
    bool ok = ec.convert(static_cast<int>(page), static_cast<int>(mime::kCodePageUtf8), head.getString(),
                         static_cast<unsigned>(head.getSize()), out);
    return ok && ec.getDroppedCount() == 0;
}

// Every line end made CR LF.
void normaliseLineEnds(StringBuffer& text) {
    text.replaceAll("\r\n", "\n");
    text.removeChar('\r');
    text.replaceAll("\n", "\r\n");
}

// The charset named between "=?" and the marker after it.
std::uint32_t encodedWordPage(const StringBuffer& head, const char* marker) {
    const char* s = head.getString();
    const char* open = std::strstr(s, "=?");
    if (!open)
        return 0;
    const char* end = findSubstringNoCase(open + 2, marker);
    if (!end)
        return 0;
    StringBuffer name;
    name.appendBytes(open + 2, static_cast<int>(end - open - 2));
    return charsetNameToCodePage(name.getString());
}

// Whether a page reads every 7-bit byte as itself. A head's names, colons
// and blanks are ASCII whatever charset its words name, so a page that reads
// them otherwise (UTF-16, UTF-7, EBCDIC), or that takes ESC, SO and SI as
// shifts (ISO-2022), is no page for the head's own bytes.
bool readsAsciiAsAscii(std::uint32_t page) {
    constexpr unsigned char kFirst = 0x01, kLast = 0x7F;
    if (page == 0 || page == mime::kCodePageUtf8)
        return true;
    unsigned char ascii[kLast - kFirst + 1];
    for (unsigned int c = kFirst; c <= kLast; ++c)
        ascii[c - kFirst] = static_cast<unsigned char>(c);
    DataBuffer text;
    return pageTextUtf8(static_cast<int>(page), ascii, sizeof ascii, text) && text.equalsBytes(ascii, sizeof ascii);
}

constexpr const char* kHeadDividers = ":;=?<>";

// The head's dividers in a text, in order.
std::string dividersOf(const StringBuffer& text) {
    std::string found;
    for (const char* p = text.getString(); (p = std::strpbrk(p, kHeadDividers)) != nullptr; ++p)
        found.push_back(*p);
    return found;
}

// A head's line in its page, made UTF-8. The bytes that divide a head
// (':', ';', '=', '?', '<', '>') are ASCII whatever its page: where the
// page took one into a character (johab's trail bytes begin at '1'), the
// text on either side of each is read apart, a lead byte before one being
// a byte the page cannot read.
void headTextToUtf8(std::uint32_t page, StringBuffer& line) {
    StringBuffer whole(line);
    pageTextToUtf8(static_cast<int>(page), whole);
    if (dividersOf(whole) == dividersOf(line)) {
        line.setSb(whole);
        return;
    }
    const char* s = line.getString();
    const std::size_t n = static_cast<std::size_t>(line.getSize());
    StringBuffer out;
    StringBuffer run;
    for (std::size_t from = 0; from < n;) {
        std::size_t to = from;
        while (to < n && std::strchr(kHeadDividers, s[to]) == nullptr)
            ++to;
        run.clear();
        run.appendBytes(s + from, static_cast<int>(to - from));
        pageTextToUtf8(static_cast<int>(page), run);
        out.appendSb(run);
        if (to < n)
            out.appendChar(s[to]);
        from = to + 1;
    }
    line.setSb(out);
}

bool holdsIso2022JpEscape(const StringBuffer& head) {
    return head.containsSubstring("\x1b$B") || head.containsSubstring("\x1b(B");
}

} // namespace

MimeHeader::MimeHeader() : m_codePage(0), m_shiftedValues(false), m_parsedTypeAt(-1), m_parsedGaps(false) {
    m_fields.setOwnsObjects(true);
}

MimeHeader::~MimeHeader() {
    m_fields.removeAllObjects();
}

void MimeHeader::clear() {
    m_fields.removeAllObjects();
    m_codePage = 0;
    m_shiftedValues = false;
    m_parsedTypeAt = -1;
    m_parsedGaps = false;
}

const MimeField* MimeHeader::getFieldAt(int index) const {
    return static_cast<const MimeField*>(m_fields.elementAt(index));
}

bool MimeHeader::getNameAt(int index, StringBuffer& out) const {
    const MimeField* f = getFieldAt(index);
    if (!f)
        return false;
    f->getNameAnsi(out);
    return true;
}

bool MimeHeader::getValueAt(int index, StringBuffer& out) const {
    const MimeField* f = getFieldAt(index);
    if (!f)
        return false;
    f->getValueAnsi(out);
    return true;
}

void MimeHeader::copyFrom(const MimeHeader& other) {
    m_fields.removeAllObjects();
    for (int i = 0; i < other.getCount(); ++i) {
        MimeField* copy = other.getFieldAt(i)->clone();
        if (!copy)
            return;
        if (!m_fields.appendPtr(copy)) {
            delete copy;
            return;
        }
    }
}

bool MimeHeader::hasField(const char* name) const {
    if (!name || !*name)
        return false;
    for (int i = 0; i < getCount(); ++i)
        if (getFieldAt(i)->nameEquals(name))
            return true;
    return false;
}

bool MimeHeader::getFieldValue(const char* name, StringBuffer& out, LogBase& /*log*/) const {
    return getFieldValueSilent(name, out);
}

bool MimeHeader::getFieldValueSilent(const char* name, StringBuffer& out) const {
    if (!name || !*name)
        return false;
    for (int i = 0; i < getCount(); ++i) {
        const MimeField* f = getFieldAt(i);
        if (f->nameEquals(name)) {
            f->getValue(out);
            return true;
        }
    }
    return false;
}

bool MimeHeader::fieldMatches(const char* name, const char* pattern, bool caseInsensitive) const {
    if (!name || !*name || !pattern)
        return false;
    for (int i = 0; i < getCount(); ++i) {
        const MimeField* f = getFieldAt(i);
        if (f->nameEquals(name) && wildcardMatch(f->getValueSb().getString(), pattern, !caseInsensitive))
            return true;
    }
    return false;
}

bool MimeHeader::fieldValueEquals(const char* name, const char* token) const {
    if (!name || !*name || !token)
        return false;
    for (int i = 0; i < getCount(); ++i) {
        const MimeField* f = getFieldAt(i);
        if (!f->nameEquals(name))
            continue;
        StringBuffer value;
        f->getValueAnsi(value);
        if (value.equalsNoCase(token))
            return true;
    }
    return false;
}

bool MimeHeader::getFieldParam(const char* name, const char* paramName, StringBuffer& out) const {
    out.clear();
    if (!name || !paramName)
        return false;
    StringBuffer value;
    if (!getFieldValueSilent(name, value))
        return false;
    if (!value.containsSubstringNoCase(paramName))
        return false;
    ExtPtrArray pieces;
    pieces.setOwnsObjects(true);
    value.split(pieces, ';', true, true);
    for (int i = 0; i < pieces.getCount(); ++i) {
        auto* piece = static_cast<StringBuffer*>(pieces.elementAt(i));
        StringBuffer pname;
        StringBuffer pvalue;
        if (!piece->parseNameValue(pname, pvalue))
            continue;
        if (pname.equalsNoCase(paramName)) {
            out.appendSb(pvalue);
            return true;
        }
    }
    return false;
}

void MimeHeader::removeField(const char* name, bool all) {
    if (!name || !*name)
        return;
    for (int i = 0; i < m_fields.getCount();) {
        if (getFieldAt(i)->nameEquals(name)) {
            delete m_fields.removeAt(i);
            if (!all)
                return;
        } else {
            ++i;
        }
    }
}

void MimeHeader::replaceField(const char* name, const char* value, bool atFront) {
    if (!name || !*name)
        return;
    removeField(name, true);
    if (!value)
        return;
    StringBuffer trimmed(value);
    trimmed.trimWhitespace();
    if (trimmed.getSize() == 0)
        return;
    auto* f = new (std::nothrow) MimeField();
    if (!f)
        return;
    f->setNameValue(name, value);
    if (atFront)
        m_fields.insertAt(0, f);
    else if (!m_fields.appendPtr(f))
        delete f;
}

void MimeHeader::appendVerbatim(const StringBuffer& name, const StringBuffer& value, bool noFold) {
    auto* f = new (std::nothrow) MimeField();
    if (!f)
        return;
    f->restore(name, value, noFold);
    if (!m_fields.appendPtr(f))
        delete f;
}

void MimeHeader::getSetCookies(ExtPtrArray& out, const char* defaultDomain) const {
    for (int i = 0; i < getCount(); ++i) {
        const MimeField* f = getFieldAt(i);
        const StringBuffer& name = f->getName();
        if (!name.beginsWithNoCase("Set-Cookie"))
            continue;
        int version = 0;
        if (name.equalsNoCase("Set-Cookie2"))
            version = 1;
        else if (!name.equalsNoCase("Set-Cookie"))
            continue;
        auto* cookie = new (std::nothrow) Cookie();
        if (!cookie)
            return;
        cookie->setVersion(version);
        f->loadCookie(*cookie);
        StringBuffer domain(cookie->getDomain());
        domain.trimWhitespace();
        if (domain.getSize() == 0) {
            if (!defaultDomain) {
                delete cookie;
                continue;
            }
            cookie->setDomain(defaultDomain);
        }
        if (!out.appendPtr(cookie))
            delete cookie;
    }
}

void MimeHeader::renderingCharset(const char* charset, StringBuffer& out) const {
    out.clear();
    std::uint32_t page = charset ? charsetNameToCodePage(charset) : 0;
    if (page == 0 && m_codePage != 0)
        page = m_codePage;
    if (page == mime::kCodePageUtf7)
        page = mime::kCodePageUtf8;
    if (page == 0) {
        out.append(charset ? charset : "");
        return;
    }
    if (!codePageToCharsetName(page, out))
        out.append(charset ? charset : "");
}

void MimeHeader::render(StringBuffer& out, const char* skipPrefix, const char* charset, bool contentOnly, bool http,
                        LogBase& log, bool verbose) const {
    StringBuffer cs;
    renderingCharset(charset, cs);
    const int prefixLength = skipPrefix ? static_cast<int>(std::strlen(skipPrefix)) : 0;
    for (int i = 0; i < getCount(); ++i) {
        const MimeField* f = getFieldAt(i);
        const StringBuffer& name = f->getName();
        if (http && (name.equalsNoCase("Content-Type") || name.equalsNoCase("Content-Length")))
            continue;
        if (prefixLength > 0 && asciiCompareNoCase(name.getString(), skipPrefix, prefixLength) == 0 &&
            name.getSize() >= prefixLength)
            continue;
        if (contentOnly && !name.equalsNoCase("Content-Type") && !name.equalsNoCase("Content-Transfer-Encoding") &&
            !name.equalsNoCase("Content-Disposition"))
            continue;
        f->render(out, cs.getString(), log, verbose);
        out.append("\r\n");
    }
    while (out.getSize() >= 2 && out.lastChar() == '\n')
        out.shorten(2);
}

void MimeHeader::getMimeHeaderHttp(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const {
    if (verbose)
        log.enterContext("getMimeHeaderHttp", true);
    render(out, nullptr, charset, false, true, log, verbose);
    if (verbose)
        log.leaveContext();
}

void MimeHeader::AssembleMimeHeader(StringBuffer& out, const char* skipPrefix, const char* charset, bool contentOnly,
                                    LogBase& log, bool verbose) const {
    if (verbose)
        log.enterContext("AssembleMimeHeader", true);
    render(out, skipPrefix, charset, contentOnly, false, log, verbose);
    if (verbose)
        log.leaveContext();
}

void MimeHeader::AssembleKeptHead(StringBuffer& out) const {
    for (int i = 0; i < getCount(); ++i) {
        getFieldAt(i)->keptLine(out);
        out.append("\r\n");
    }
    while (out.getSize() >= 2 && out.lastChar() == '\n')
        out.shorten(2);
}

void MimeHeader::detectCodePage(const char* wholeText, const StringBuffer& head, LogBase& log, bool verbose) {
    // Encoded words need a '?': most heads have none to look for.
    const bool mayHoldWords = head.containsChar('?');
    if (mayHoldWords && head.containsSubstringNoCase("?Q?")) {
        log.logInfo("Header contains Q-encoding.");
        m_codePage = encodedWordPage(head, "?Q?");
        log.logDataLong("DetectedCodePageQ", static_cast<int>(m_codePage));
    } else if (mayHoldWords && head.containsSubstringNoCase("?B?")) {
        log.logInfo("Header contains B-encoding.");
        m_codePage = encodedWordPage(head, "?B?");
        log.logDataLong("DetectedCodePageB", static_cast<int>(m_codePage));
    } else if (head.is7bit(0)) {
        log.logInfo("Header is entirely 7-bit");
        if (holdsIso2022JpEscape(head)) {
            log.logInfo("Detected iso-2022-jp in 7bit header.");
            // Each value is read on its own once the head is split into
            // fields: the decoder stays shifted across a line end, and a
            // shift one value leaves open would take every field after it.
            m_codePage = mime::kCodePageUtf8;
            m_shiftedValues = true;
        }
    } else {
        log.logInfo("Header contains 8bit chars");
        const StringBuffer whole(wholeText);
        auto tryPage = [&](std::uint32_t page) {
            if (m_codePage == 0 && convertsCleanly(head, page))
                m_codePage = page;
        };
        const char* s = head.getString();
        if (const char* w = findSubstringNoCase(s, "windows-125"); w && w[11] >= '0' && w[11] <= '8') {
            tryPage(1250 + static_cast<std::uint32_t>(w[11] - '0'));
        } else if (const char* iso = findSubstringNoCase(s, "iso-8859-"); iso && iso[9] >= '1' && iso[9] <= '8') {
            tryPage(28591 + static_cast<std::uint32_t>(iso[9] - '1'));
        } else if (findSubstringNoCase(s, "koi8-r")) {
            tryPage(mime::kCodePageKoi8R);
        } else if (findSubstringNoCase(s, "koi8-u")) {
            tryPage(mime::kCodePageKoi8U);
        }
        if (m_codePage == 0) {
            static constexpr NamedPage kNamed[] = {{"GB2312", 936},         {"shift_jis", 932},   {"Windows-31J", 932},
                                                   {"ks_c_5601-1987", 949}, {"windows-874", 874}, {"big5", 950},
                                                   {"euc-kr", 51949}};
            static constexpr NamedPage kIso[] = {{"iso-8859-2", 28592}, {"iso-8859-3", 28593}, {"iso-8859-4", 28594},
                                                 {"iso-8859-5", 28595}, {"iso-8859-6", 28596}, {"iso-8859-7", 28597},
                                                 {"iso-8859-8", 28598}, {"iso-8859-9", 28599}};
            static constexpr NamedPage kWin[] = {{"windows-1250", 1250}, {"windows-1251", 1251}, {"windows-1252", 1252},
                                                 {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255},
                                                 {"windows-1256", 1256}, {"windows-1257", 1257}};
            static constexpr NamedPage kKoi[] = {{"koi8-r", 20866}, {"koi8-u", 21866}};
            auto tryNamed = [&](const NamedPage* table, std::size_t count) {
                for (std::size_t i = 0; i < count && m_codePage == 0; ++i)
                    if (whole.containsSubstringNoCase(table[i].name))
                        tryPage(table[i].page);
            };
            tryNamed(kNamed, std::size(kNamed));
            if (whole.containsSubstringNoCase("iso-8859-"))
                tryNamed(kIso, std::size(kIso));
            if (whole.containsSubstringNoCase("windows-125"))
                tryNamed(kWin, std::size(kWin));
            if (whole.containsSubstringNoCase("koi8-"))
                tryNamed(kKoi, std::size(kKoi));
            if (m_codePage != 0)
                log.logDataLong("DetectedCodePage", static_cast<int>(m_codePage));
        }
        if (m_codePage == 0) {
            for (int i = 0; i + 1 < head.getSize(); ++i) {
                auto c = static_cast<unsigned char>(s[i]);
                auto next = static_cast<unsigned char>(s[i + 1]);
                if ((c == 0xC2 || c == 0xC3) && next > 0x7F) {
                    if (verbose)
                        log.logInfo("Probably utf-8");
                    m_codePage = mime::kCodePageUtf8;
                    break;
                }
            }
        }
        if (m_codePage == 0) {
            log.logInfo("No code page detected yet, check to see if header is valid ANSI...");
            const std::uint32_t ansi = platform::GetACP();
            if (convertsCleanly(head, ansi)) {
                m_codePage = ansi;
            } else {
                log.logInfo("Not ANSI, checking some common code pages...");
                tryPage(mime::kCodePageLatin1);
                tryPage(mime::kCodePageLatin2);
            }
        }
    }
    log.logDataLong("FinalCodePageDecision", static_cast<int>(m_codePage));
}

bool MimeHeader::addParsedField(const StringBuffer& text, bool last, LogBase& log, bool verbose) {
    auto* f = new (std::nothrow) MimeField();
    if (!f) {
        log.logError(last ? mime::kMsgOutOfMemoryLastField : mime::kMsgOutOfMemoryField);
        return false;
    }
    StringBuffer line(text);
    if (!line.is7bit(0)) {
        // UTF-8 too, so that no ill-formed byte is handed on.
        if (verbose)
            log.logInfo("Converting header field to utf-8");
        const std::uint32_t page = m_codePage != 0 && readsAsciiAsAscii(m_codePage) ? m_codePage : platform::GetACP();
        headTextToUtf8(page, line);
    }
    if (verbose)
        log.logData("unfoldedHeaderField", line.getString());
    const std::uint32_t shifted = m_shiftedValues ? mime::kCodePageIso2022JpRead : 0;
    if (!f->parse(line.getString(), log, verbose, shifted)) {
        delete f;
        return true;
    }
    if (f->nameEquals("content-type")) {
        // The last one holds; a blank one leaves none. The one before is
        // left a gap, closed once the head is read: removed at once, the
        // fields after it would be moved along for each of many.
        if (m_parsedTypeAt >= 0) {
            delete m_fields.elementAt(m_parsedTypeAt);
            m_fields.setAt(m_parsedTypeAt, nullptr);
            m_parsedTypeAt = -1;
            m_parsedGaps = true;
        }
        StringBuffer value(f->getValueSb());
        value.trimWhitespace();
        if (value.getSize() == 0) {
            delete f;
            return true;
        }
        m_parsedTypeAt = m_fields.getCount();
    }
    if (!m_fields.appendPtr(f)) {
        delete f;
        m_parsedTypeAt = -1;
        log.logError(mime::kMsgOutOfMemoryField);
        return false;
    }
    return true;
}

void MimeHeader::endParse() {
    m_parsedTypeAt = -1;
    if (!m_parsedGaps)
        return;
    m_parsedGaps = false;
    int kept = 0;
    for (int i = 0; i < m_fields.getCount(); ++i)
        if (TessikObject* f = m_fields.elementAt(i))
            m_fields.setAt(kept++, f);
    while (m_fields.getCount() > kept)
        m_fields.popLast();
}

bool MimeHeader::isPlainHttpHead(const unsigned char* data, std::uint32_t size) {
    constexpr unsigned char kEscape = 0x1B;
    constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
    if (size != 0 && (data[0] == ' ' || data[0] == '\t'))
        return false;
    // Eight bytes at a time for bytes past 7 bits; the library's own
    // searches for the few bytes that matter.
    std::uint32_t i = 0;
    for (; i + sizeof(std::uint64_t) <= size; i += sizeof(std::uint64_t)) {
        std::uint64_t word;
        std::memcpy(&word, data + i, sizeof word);
        if ((word & kHighBits) != 0)
            return false;
    }
    for (; i < size; ++i)
        if (data[i] >= 0x80)
            return false;
    if (std::memchr(data, kEscape, size) != nullptr || std::memchr(data, 0, size) != nullptr)
        return false;
    const unsigned char* end = data + size;
    for (const unsigned char* p = data;
         (p = static_cast<const unsigned char*>(std::memchr(p, '=', static_cast<std::size_t>(end - p)))) != nullptr;
         ++p)
        if (p + 1 < end && p[1] == '?')
            return false;
    for (const unsigned char* p = data;
         (p = static_cast<const unsigned char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)))) != nullptr;
         ++p)
        if (p + 1 < end && (p[1] == ' ' || p[1] == '\t'))
            return false;
    return true;
}

void MimeHeader::parseHttpFields(const unsigned char* data, std::uint32_t size, LogBase& log, bool utf8Text) {
    clear();
    const bool whole = !isPlainHttpHead(data, size);
    // Each line ends in CR LF for the whole reader, which wants one kind.
    StringBuffer text;
    StringBuffer line;
    std::uint32_t at = 0;
    while (at < size) {
        std::uint32_t end = at;
        while (end < size && data[end] != '\n')
            ++end;
        std::uint32_t n = end - at;
        if (n > 0 && data[at + n - 1] == '\r')
            --n;
        line.clear();
        line.appendBytes(data + at, static_cast<int>(n));
        at = end + 1;
        if (whole) {
            text.appendSb(line);
            text.append("\r\n");
        } else if (line.getSize() != 0 && !line.beginsWith("From ") && !addParsedField(line, at >= size, log, false)) {
            endParse();
            return;
        }
    }
    endParse();
    if (whole) {
        text.append("\r\n");
        ParseMimeHeader(text.getString(), log, false, utf8Text);
    }
}

void MimeHeader::ParseMimeHeader(const char* text, LogBase& log, bool verbose, bool utf8Text) {
    clear();
    if (!text)
        return;
    if (verbose)
        log.enterContext("ParseMimeHeader", true);
    StringBuffer head;
    const char* end = nullptr;
    for (const char* marker : {"\r\n\r\n", "\n\r\n", "\r\n\r"}) {
        end = std::strstr(text, marker);
        if (end)
            break;
    }
    if (end) {
        head.appendBytes(text, static_cast<int>(end - text));
        if (!head.containsSubstring("\r\n")) {
            if (verbose)
                log.logInfo(mime::kMsgNoCrlf);
            normaliseLineEnds(head);
        }
    } else {
        if (verbose)
            log.logInfo(mime::kMsgNoDoubleCrlf);
        head.append(text);
        normaliseLineEnds(head);
        head.chopAtSubstring("\r\n\r\n", false);
    }
    if (utf8Text)
        m_codePage = mime::kCodePageUtf8;
    else
        detectCodePage(text, head, log, verbose);

    ExtPtrArray lines;
    lines.setOwnsObjects(true);
    head.splitOnSubstring(StringBuffer("\r\n"), lines, mime::kMaxHeaderLines);
    StringBuffer pending;
    bool ok = true;
    for (int i = 0; i < lines.getCount() && ok; ++i) {
        auto* line = static_cast<StringBuffer*>(lines.elementAt(i));
        if (line->getSize() == 0 || line->beginsWith("From "))
            continue;
        const char c = line->charAt(0);
        if (c == ' ' || c == '\t') {
            const char* s = line->getString();
            const char* p = s;
            while (*p == ' ' || *p == '\t')
                ++p;
            // A fold is one blank (RFC 9112 section 5.2); before a word it
            // stands for all the blanks, which a word's own decoding drops
            // between two words.
            if (p[0] == '=' && p[1] == '?') {
                pending.appendChar(' ');
                pending.append(p);
            } else {
                pending.append(s);
            }
            continue;
        }
        if (pending.getSize() > 0)
            ok = addParsedField(pending, false, log, verbose);
        pending.setSb(*line);
    }
    if (ok && pending.getSize() > 0)
        addParsedField(pending, true, log, verbose);
    endParse();
    if (verbose)
        log.leaveContext();
}

} // namespace tessik
