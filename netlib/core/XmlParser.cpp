#include "netlib/core/XmlParser.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/NodeArena.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlChars.h"
#include "netlib/core/XmlProlog.h"

namespace tessik {

namespace {

constexpr int kCodePageUtf16Le = 1200;
constexpr int kCodePageUtf16Be = 1201;
constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageUtf32Le = 65005;
constexpr int kCodePageUtf32Be = 65006;
// Work buffers for the document's DOCTYPE and instruction texts.
constexpr unsigned int kDocTextInitialSize = 2000;
constexpr const char kCdataOpen[] = "<![CDATA[";
constexpr int kCdataOpenLen = sizeof(kCdataOpen) - 1;
constexpr const char kStylesheet[] = "xml-stylesheet";
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr unsigned int kUtf8MarkLen = sizeof(kUtf8Mark);

bool startsWithUtf8Mark(const void* p, unsigned int n) {
    return n >= kUtf8MarkLen && std::memcmp(p, kUtf8Mark, kUtf8MarkLen) == 0;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Whether a CDATA section opens at p; the first two bytes rule most places out.
bool atCdataOpen(const char* p) {
    return p[0] == '<' && p[1] == '!' && std::strncmp(p, kCdataOpen, kCdataOpenLen) == 0;
}

// Quotes and "<" never belong to a tag or attribute name the reader
// captured: taken out in one pass, and only where there is one.
bool isNameNoise(char c) {
    return c == '"' || c == '\'' || c == '<';
}

// What a byte is to the scan of a name, in one table read: where the name
// ends (in an attribute's name, "=" too), noise, an ASCII name character
// (as XmlChars has them), or the lead of a character beyond ASCII.
constexpr std::uint8_t kScanEnds = 1;
constexpr std::uint8_t kScanEndsAttribute = 2;
constexpr std::uint8_t kScanNoise = 4;
constexpr std::uint8_t kScanStartsName = 8;
constexpr std::uint8_t kScanInName = 16;
constexpr std::uint8_t kScanBeyondAscii = 32;
constexpr int kByteValues = 256;
struct NameScanTable {
    std::uint8_t bits[kByteValues] = {};
    constexpr NameScanTable() {
        for (int c = 0; c < kByteValues; ++c) {
            std::uint8_t k = 0;
            if (c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>')
                k = kScanEnds | kScanEndsAttribute;
            else if (c == '=')
                k = kScanEndsAttribute;
            if (c == '"' || c == '\'' || c == '<')
                k |= kScanNoise;
            if (c >= static_cast<int>(xmlchars::kAsciiEnd))
                k |= kScanBeyondAscii;
            else if (c != '=') {
                const std::uint8_t name = xmlchars::kAsciiNameBits[static_cast<std::uint32_t>(c)];
                k |=
                    (name & xmlchars::kStartsName ? kScanStartsName : 0) | (name & xmlchars::kInName ? kScanInName : 0);
            }
            bits[c] = k;
        }
    }
};
constexpr NameScanTable kNameScan;

void removeNameNoise(StringBuffer& name) {
    const char* p = name.getString();
    const int n = name.getSize();
    int i = 0;
    while (i < n && !isNameNoise(p[i]))
        ++i;
    if (i == n)
        return;
    StringBuffer kept;
    for (int k = 0; k < n; ++k)
        if (!isNameNoise(p[k]))
            kept.appendChar(p[k]);
    name.setString(kept.getString());
}

bool startsWithNoCase(const char* p, const char* prefix) {
    for (; *prefix; ++p, ++prefix) {
        char a = *p, b = *prefix;
        if (a >= 'A' && a <= 'Z')
            a = static_cast<char>(a - 'A' + 'a');
        if (a != b)
            return false;
    }
    return true;
}

void appendUtf8(unsigned long c, StringBuffer& out) {
    char b[4];
    int n;
    if (c < 0x80) {
        b[0] = static_cast<char>(c);
        n = 1;
    } else if (c < 0x800) {
        b[0] = static_cast<char>(0xC0 | (c >> 6));
        b[1] = static_cast<char>(0x80 | (c & 0x3F));
        n = 2;
    } else if (c < 0x10000) {
        b[0] = static_cast<char>(0xE0 | (c >> 12));
        b[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        b[2] = static_cast<char>(0x80 | (c & 0x3F));
        n = 3;
    } else {
        b[0] = static_cast<char>(0xF0 | (c >> 18));
        b[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        b[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        b[3] = static_cast<char>(0x80 | (c & 0x3F));
        n = 4;
    }
    out.appendBytes(b, n);
}

struct NamedEntity {
    const char* text;
    int length;
    char value;
};
constexpr NamedEntity kEntities[] = {
    {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&amp;", 5, '&'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
};

// An attribute value's literal blanks, tabs and line ends each read as one
// blank (a CR LF pair as one), as every XML reader sees them; references to
// them keep the characters.
void normalizeAttrWhitespace(StringBuffer& value) {
    char* p = value.getPtrAt(0);
    int n = value.getSize();
    int w = 0;
    for (int r = 0; r < n; ++r) {
        char c = p[r];
        if (c == '\r' && r + 1 < n && p[r + 1] == '\n')
            continue;
        p[w++] = (c == '\t' || c == '\r' || c == '\n') ? ' ' : c;
    }
    value.shorten(n - w);
}

// XML 1.0, 2.11: a CR LF pair and a lone CR each read as one LF.
void appendLineEndsNormalized(const char* p, int n, StringBuffer& out) {
    int from = 0;
    for (const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<std::size_t>(n))); cr;) {
        const int at = static_cast<int>(cr - p);
        out.appendBytes(p + from, at - from);
        out.appendChar('\n');
        from = at + 1;
        if (from < n && p[from] == '\n')
            ++from;
        cr = from < n ? static_cast<const char*>(std::memchr(p + from, '\r', static_cast<std::size_t>(n - from)))
                      : nullptr;
    }
    out.appendBytes(p + from, n - from);
}

class XmlReader {
public:
    XmlReader(ParseEngine& engine, LogBase& log, ProgressMonitor* progress, bool trim)
        : m_engine(engine), m_log(log), m_progress(progress), m_trim(trim), m_piText(kDocTextInitialSize),
          m_arena(NodeArena::create()) {}

    ~XmlReader() {
        // Whatever no root took goes here.
        if (m_open)
            delete m_open->getRoot();
        delete m_pendingDecl;
        for (int i = 0; i < m_pendingStyles.getCount(); ++i)
            delete static_cast<TreeNode*>(m_pendingStyles.elementAt(i));
        delete m_completed;
        // The arena stays as long as a node of it does.
        if (m_arena)
            m_arena->finishBuilding();
    }

    TreeNode* run();

private:
    const char* at() const { return m_engine.atCursor(); }
    char cur() const { return m_engine.currentChar(); }
    void advance(std::uint32_t n) { m_engine.setCursor(m_engine.getCursor() + n); }
    void skipSpace() {
        const char* p = at();
        const char* q = p;
        while (isSpace(*q))
            ++q;
        if (q != p)
            advance(static_cast<std::uint32_t>(q - p));
    }
    bool atEnd() const { return cur() == 0; }

    void addRun(StringBuffer& held, const char* run, int n);
    // The open element's content, when it has none yet, from the bytes given.
    void setFirstContent(const StringBuffer& text);
    // Text as a run of content: line ends normalised, then references decoded.
    void appendText(const char* text, int n, StringBuffer& out);
    bool readCdata();
    bool dispatch();
    bool readComment();
    void readDocType();
    void giveDocTypes(TreeNode* root);
    void readLeadingDeclaration();
    void readInstruction();
    TreeNode* readStylesheet(ParseEngine& engine);
    void readClosingTag();
    bool readStartTag();
    const char* readName(bool attribute, int& n, bool& isName);
    void readAttributes(TreeNode* node, bool& selfClosing);
    void appendAttrValue();
    void closeOpen();
    void reportProgress();

    ParseEngine& m_engine;
    LogBase& m_log;
    ProgressMonitor* m_progress;
    bool m_trim;
    TreeNode* m_open = nullptr;
    TreeNode* m_completed = nullptr;
    TreeNode* m_pendingDecl = nullptr;
    ExtPtrArray m_pendingStyles;
    // Where each DOCTYPE lies in the text: copied once, when the parse is over.
    struct Span {
        std::uint32_t from;
        std::uint32_t length;
    };
    std::vector<Span> m_docTypes;
    StringBuffer m_piText;
    std::size_t m_completedDocTypes = 0;
    int m_completedPiLen = 0;
    bool m_noPiEnd = false;
    bool m_noDocTypeEnd = false;
    // Reused for every tag, attribute name and value, text run.
    StringBuffer m_tag;
    StringBuffer m_scratch;
    StringBuffer m_run;
    StringBuffer m_lineEnds;
    StringBuffer m_cdata;
    // A start tag's attributes as an AttributeSet packs them.
    std::vector<int> m_attrLengths;
    StringBuffer m_attrBytes;
    bool m_stop = false;
    bool m_refused = false;
    // Where the tree is built; null (out of memory) builds it on the heap.
    NodeArena* m_arena;
};

TreeNode* XmlReader::run() {
    StringBuffer held;
    const std::uint32_t total = m_engine.getCursor() + m_engine.remaining();
    if (m_progress && total > 0)
        m_progress->setTotalUint32(total);
    readLeadingDeclaration();

    while (!m_stop && !atEnd()) {
        if (!m_open) {
            skipSpace();
            if (atEnd())
                break;
            m_engine.seekChar('<');
            if (atEnd())
                break;
            advance(1);
            if (!dispatch())
                break;
            continue;
        }
        held.clear();
        if (m_trim) {
            skipSpace();
        } else {
            const std::uint32_t start = m_engine.getCursor();
            skipSpace();
            held.appendBytes(m_engine.getData() + start, static_cast<int>(m_engine.getCursor() - start));
        }
        if (atCdataOpen(at())) {
            if (!readCdata())
                break;
            continue;
        }
        const char* runStart = at();
        m_engine.seekChar('<');
        const char* runEnd = at();
        if (m_trim)
            while (runEnd > runStart && isSpace(runEnd[-1]))
                --runEnd;
        if (runEnd > runStart)
            addRun(held, runStart, static_cast<int>(runEnd - runStart));
        if (atEnd())
            break;
        if (atCdataOpen(at())) {
            if (!readCdata())
                break;
            continue;
        }
        advance(1);
        if (!dispatch())
            break;
    }

    if (!m_refused && !m_completed && m_open) {
        m_open = m_open->getRoot();
        while (m_open)
            closeOpen();
    }
    if (m_progress && total > 0)
        m_progress->endProgress(0);
    if (m_refused)
        return nullptr;
    TreeNode* root = m_completed;
    m_completed = nullptr;
    if (root) {
        giveDocTypes(root);
        m_piText.shorten(m_piText.getSize() - m_completedPiLen);
        root->setPiText(m_piText.getString());
    }
    return root;
}

// Each run is decoded on its own as it is added, so text already decoded is
// never decoded a second time.
void XmlReader::addRun(StringBuffer& held, const char* run, int n) {
    // A first run becomes the content at its exact size.
    if (!m_open->hasContent()) {
        m_run.clear();
        if (!m_trim)
            appendLineEndsNormalized(held.getString(), held.getSize(), m_run);
        appendText(run, n, m_run);
        setFirstContent(m_run);
        return;
    }
    StringBuffer* content = m_open->getContentSb();
    if (!content)
        return;
    if (!m_trim)
        appendLineEndsNormalized(held.getString(), held.getSize(), *content);
    content->appendChar(' ');
    appendText(run, n, *content);
}

void XmlReader::setFirstContent(const StringBuffer& text) {
    if (m_arena)
        m_open->setArenaContent(m_arena, text.getString(), text.getSize());
    else
        m_open->setContent(text.getString());
}

// Line ends first, so that a CR written as &#13; stays a CR.
void XmlReader::appendText(const char* text, int n, StringBuffer& out) {
    if (!std::memchr(text, '\r', static_cast<std::size_t>(n))) {
        appendXmlDecoded(text, n, out);
        return;
    }
    m_lineEnds.clear();
    appendLineEndsNormalized(text, n, m_lineEnds);
    appendXmlDecoded(m_lineEnds.getString(), m_lineEnds.getSize(), out);
}

// Sections join the content with nothing between; text after a section up
// to the next tag joins it too (it is part of the element's text).
bool XmlReader::readCdata() {
    StringBuffer& text = m_cdata;
    text.clear();
    bool next = false;
    while (true) {
        advance(kCdataOpenLen);
        const char* start = at();
        const char* close = std::strstr(start, "]]>");
        const int n = close ? static_cast<int>(close - start) : static_cast<int>(std::strlen(start));
        appendLineEndsNormalized(start, n, text);
        m_open->setCdata();
        if (!close) {
            advance(static_cast<std::uint32_t>(n));
            break;
        }
        advance(static_cast<std::uint32_t>(n + 3));
        const char* tail = at();
        m_engine.seekChar('<');
        const char* tailEnd = at();
        const char* lead = tail;
        while (lead < tailEnd && isSpace(*lead))
            ++lead;
        if (lead < tailEnd) {
            if (m_trim) {
                while (isSpace(tailEnd[-1]))
                    --tailEnd;
                tail = lead;
            }
            appendText(tail, static_cast<int>(tailEnd - tail), text);
        }
        if (atEnd())
            break;
        if (atCdataOpen(at()))
            continue;
        next = true;
        break;
    }
    if (!m_open->hasContent())
        setFirstContent(text);
    else if (StringBuffer* content = m_open->getContentSb())
        content->appendSb(text);
    if (!next)
        return false;
    advance(1);
    return dispatch();
}

// The construct after a "<"; false ends the parse.
bool XmlReader::dispatch() {
    skipSpace();
    if (atEnd())
        return false;
    const char c = cur();
    if (c == '!') {
        if (std::strncmp(at(), "!--", 3) == 0)
            return readComment();
        if (startsWithNoCase(at(), "!doctype")) {
            readDocType();
            return !atEnd();
        }
        m_engine.seekChar('>');
        if (atEnd())
            return false;
        advance(1);
        return true;
    }
    if (c == '?') {
        readInstruction();
        return !m_stop;
    }
    if (c == '/') {
        readClosingTag();
        return true;
    }
    return readStartTag();
}

// The close is looked for after the opener: in "<!-->" or "<!--->" the
// opener's own dashes are not its end.
bool XmlReader::readComment() {
    constexpr std::uint32_t kOpenerRest = 3; // "!--"
    const char* close = std::strstr(at() + kOpenerRest, "-->");
    if (!close) {
        m_log.logError(xml_msg::kUnclosedComment);
        m_stop = true;
        return false;
    }
    advance(static_cast<std::uint32_t>(close + 3 - at()));
    return true;
}

// A DOCTYPE is taken to its grammar's end, so that literals, comments,
// instructions and declarations holding "<", ">" or "<!DOCTYPE" do not end
// it early; the writer keeps only a well-formed one. One the text ends
// inside is taken by counting "<" and ">"; after one, all later ones are,
// so that the text is read to its end at most once.
// An unbalanced one is not kept: written out again it would swallow the
// document that follows it.
void XmlReader::readDocType() {
    const std::uint32_t from = m_engine.getCursor() - 1;
    const char* start = at() - 1;
    if (!m_noDocTypeEnd && m_engine.getCursor() > 0 && *start == '<') {
        const int extent = xmlprolog::docTypeExtent(start, static_cast<int>(m_engine.remaining()) + 1);
        m_noDocTypeEnd = extent == 0;
        if (extent > 0) {
            m_docTypes.push_back({from, static_cast<std::uint32_t>(extent)});
            advance(static_cast<std::uint32_t>(extent - 1));
            return;
        }
    }
    const char* p = at();
    int depth = 1;
    for (; *p && depth > 0; ++p)
        depth += *p == '<' ? 1 : *p == '>' ? -1 : 0;
    advance(static_cast<std::uint32_t>(p - at()));
    if (depth > 0) {
        m_log.logError(xml_msg::kFailedDtd);
        return;
    }
    m_docTypes.push_back({from, m_engine.getCursor() - from});
}

// The DOCTYPEs read before the root ended, a line end between two.
void XmlReader::giveDocTypes(TreeNode* root) {
    const char* data = m_engine.getData();
    if (m_completedDocTypes == 1) {
        root->setDocTypeText(data + m_docTypes[0].from, static_cast<int>(m_docTypes[0].length));
        return;
    }
    StringBuffer joined;
    for (std::size_t i = 0; i < m_completedDocTypes; ++i) {
        if (i > 0)
            joined.appendChar('\n');
        joined.appendBytes(data + m_docTypes[i].from, static_cast<int>(m_docTypes[i].length));
    }
    root->setDocTypeText(joined.getString(), joined.getSize());
}

// Only a declaration standing at the start of the text is one (a text may
// still carry a byte-order mark before it), read by the grammar every road
// that takes an encoding from a document reads it by. Any other "<?xml" is
// an instruction, which no writer keeps.
void XmlReader::readLeadingDeclaration() {
    const std::uint32_t mark = startsWithUtf8Mark(at(), m_engine.remaining()) ? kUtf8MarkLen : 0;
    xmlprolog::Declaration decl;
    if (!xmlprolog::readDeclaration(at() + mark, static_cast<int>(m_engine.remaining() - mark), decl))
        return;
    TreeNode* node = TreeNode::createRoot("xml");
    if (node) {
        const std::pair<const char*, std::string_view> fields[] = {
            {"version", decl.version}, {"encoding", decl.encoding}, {"standalone", decl.standalone}};
        for (const auto& [name, value] : fields)
            if (!value.empty())
                node->addAttribute(name, std::string(value).c_str());
    }
    m_pendingDecl = node;
    advance(mark + static_cast<std::uint32_t>(decl.length));
}

// An instruction ends only at "?>", whatever its data holds. Once no "?>"
// follows, none follows any later one either.
void XmlReader::readInstruction() {
    advance(1); // past "?"
    const char* close = m_noPiEnd ? nullptr : std::strstr(at(), "?>");
    m_noPiEnd = close == nullptr;
    if (!xmlprolog::instructionTargetIs(at(), static_cast<int>(m_engine.remaining()), kStylesheet)) {
        // An unterminated instruction is dropped for the same reason.
        if (close) {
            m_piText.append("<?");
            m_piText.appendBytes(at(), static_cast<int>(close + 2 - at()));
            m_piText.appendChar('\n');
            advance(static_cast<std::uint32_t>(close + 2 - at()));
        }
        return;
    }
    TreeNode* node = nullptr;
    if (close) {
        // Its pseudo-attributes are read from its data alone.
        const StringBuffer data(at(), static_cast<unsigned int>(close - at()), 0);
        ParseEngine inside;
        inside.borrowText(data);
        node = readStylesheet(inside);
        advance(static_cast<std::uint32_t>(close + 2 - at()));
    } else {
        node = readStylesheet(m_engine);
        if (atEnd())
            m_stop = true;
    }
    if (node && !m_pendingStyles.appendPtr(node))
        delete node;
}

// A stylesheet instruction's name and pseudo-attributes, from its name on.
TreeNode* XmlReader::readStylesheet(ParseEngine& engine) {
    StringBuffer name;
    engine.captureToAnyOf7(" \t\r\n/>>", name);
    engine.skipChars(' ', '\t', '\r', '\n');
    if (engine.currentChar() == '/')
        engine.setCursor(engine.getCursor() + 1);
    TreeNode* node = TreeNode::createRoot(name.getString());
    if (node)
        parseDeclAttributes(engine, node, &m_log);
    return node;
}

void XmlReader::readClosingTag() {
    if (m_engine.seekCharBefore('>', '<')) {
        if (!atEnd())
            advance(1);
    } else {
        m_log.logError(xml_msg::kClosingTagError);
        if (m_open)
            m_log.logData(xml_msg::kErrorTag, m_open->getTag());
    }
    if (m_open)
        closeOpen();
    reportProgress();
}

// A name read in place: the bytes up to whitespace, "/", ">" (or "=" for an
// attribute name); quotes and "<" in it, which no name holds, are taken
// out in a copy. Mending a name may drop an ASCII byte, as the lenient
// rules have it, but never a character beyond ASCII: one that no XML name
// holds (or bytes that are not UTF-8) refuses the document, and null is
// returned. The same scan tells whether the name is an XML name as it
// stands (`isName`), which nothing need judge again.
const char* XmlReader::readName(bool attribute, int& n, bool& isName) {
    const char* p = at();
    const char* end = p;
    const char* const last = p + m_engine.remaining();
    const std::uint8_t ends = attribute ? kScanEndsAttribute : kScanEnds;
    // ASCII bytes are judged together: their bits AND-ed, noise OR-ed.
    std::uint8_t all = kScanInName;
    std::uint8_t any = 0;
    bool kept = true;
    bool name = (kNameScan.bits[static_cast<unsigned char>(*p)] & (kScanStartsName | kScanBeyondAscii)) != 0;
    for (;;) {
        const std::uint8_t k = kNameScan.bits[static_cast<unsigned char>(*end)];
        if (k & ends)
            break;
        if (!(k & kScanBeyondAscii)) {
            all &= k;
            any |= k;
            ++end;
            continue;
        }
        std::uint32_t cp = 0;
        const int len = xmlchars::utf8CharAt(end, static_cast<int>(last - end), cp);
        kept = kept && len > 0 && xmlchars::isNameChar(cp);
        name = name && kept && (end != p || xmlchars::isNameStart(cp));
        end += len > 0 ? len : 1;
    }
    const bool noise = (any & kScanNoise) != 0;
    name = name && (all & kScanInName) != 0;
    advance(static_cast<std::uint32_t>(end - p));
    n = static_cast<int>(end - p);
    isName = name && n > 0;
    if (!kept) {
        m_log.logError(xml_msg::kNotNameChar);
        // Logged as text: bytes that are not UTF-8 as U+FFFD.
        StringBuffer shown;
        xmlchars::appendEscaped(p, n, xmlchars::TextKind::Cdata, false, shown);
        m_log.logData(xml_msg::kNameTag, shown.getString());
        m_refused = true;
        m_stop = true;
        return nullptr;
    }
    if (!noise)
        return p;
    m_tag.clear();
    m_tag.appendBytes(p, n);
    removeNameNoise(m_tag);
    n = m_tag.getSize();
    return m_tag.getString();
}

bool XmlReader::readStartTag() {
    int tagLength = 0;
    bool tagIsName = false;
    const char* tag = readName(false, tagLength, tagIsName);
    if (!tag || atEnd())
        return false;
    skipSpace();
    bool selfClosing = false;
    if (cur() == '/') {
        selfClosing = true;
        advance(1);
    }
    TreeNode* node = TreeNode::createIn(m_arena, m_open, tag, tagLength, tagIsName);
    if (!node)
        return false;
    m_open = node;
    readAttributes(node, selfClosing);
    if (m_refused)
        return false;
    if (cur() == '>')
        advance(1);
    if (selfClosing)
        closeOpen();
    return true;
}

// A quoted value is taken as it stands when nothing in it needs reading
// (references, line ends, tabs); otherwise, and unquoted, through scratch.
void XmlReader::appendAttrValue() {
    const char q = cur();
    if (q == '"' || q == '\'') {
        advance(1);
        const char* p = at();
        const void* close = std::memchr(p, q, m_engine.remaining());
        const int n =
            close ? static_cast<int>(static_cast<const char*>(close) - p) : static_cast<int>(m_engine.remaining());
        bool plain = true;
        for (int i = 0; i < n && plain; ++i)
            plain = p[i] != '&' && p[i] != '\t' && p[i] != '\r' && p[i] != '\n';
        if (plain) {
            m_attrBytes.appendBytes(p, n);
            advance(static_cast<std::uint32_t>(n));
            if (cur() == q)
                advance(1);
            return;
        }
    }
    StringBuffer& value = m_scratch;
    value.clear();
    if (q == '"' || q == '\'')
        m_engine.captureToChar(q, value);
    else
        m_engine.captureToAnyOf2("\"'", value);
    normalizeAttrWhitespace(value);
    if (cur() == '"' || cur() == '\'')
        advance(1);
    if (value.containsChar('&'))
        appendXmlDecoded(value.getString(), value.getSize(), m_attrBytes);
    else
        m_attrBytes.appendSb(value);
}

void XmlReader::readAttributes(TreeNode* node, bool& selfClosing) {
    m_attrLengths.clear();
    m_attrBytes.clear();
    bool namesAreNames = true;
    while (cur() != '>' && !atEnd()) {
        int nameLength = 0;
        bool isName = false;
        const char* name = readName(true, nameLength, isName);
        namesAreNames = namesAreNames && (isName || nameLength == 0);
        if (!name)
            return;
        // Kept before the value is read: a mended name lives in scratch.
        const int nameAt = m_attrBytes.getSize();
        if (nameLength > 0)
            m_attrBytes.appendBytes(name, nameLength);
        skipSpace();
        const int valueAt = m_attrBytes.getSize();
        if (cur() == '=') {
            advance(1);
            skipSpace();
            appendAttrValue();
        }
        if (nameLength > 0) {
            m_attrLengths.push_back(nameLength);
            m_attrLengths.push_back(m_attrBytes.getSize() - valueAt);
        } else {
            m_attrBytes.shorten(m_attrBytes.getSize() - nameAt);
        }
        skipSpace();
        if (cur() == '/') {
            selfClosing = true;
            advance(1);
            skipSpace();
        }
    }
    // Names are mended, and a name given twice keeps its last value.
    if (!m_attrLengths.empty())
        node->setParsedAttributes(m_arena, m_attrLengths.data(), static_cast<int>(m_attrLengths.size()),
                                  m_attrBytes.getString(), m_attrBytes.getSize(), namesAreNames);
}

void XmlReader::closeOpen() {
    TreeNode* node = m_open;
    if (!node->getParentPointerMember()) {
        TreeInfo* record = node->getDocument();
        if (record) {
            record->setDeclaration(m_pendingDecl);
            m_pendingDecl = nullptr;
            for (int i = 0; i < m_pendingStyles.getCount(); ++i)
                if (!record->getStylesheets().appendPtr(m_pendingStyles.elementAt(i)))
                    delete static_cast<TreeNode*>(m_pendingStyles.elementAt(i));
            m_pendingStyles.removeAll();
        }
        // Only the last completed root is kept: its texts are what was read
        // before it ended, given to it once the parse is over.
        m_completedDocTypes = m_docTypes.size();
        m_completedPiLen = m_piText.getSize();
        delete m_completed;
        m_completed = node;
    }
    m_open = node->getParentPointerMember();
}

void XmlReader::reportProgress() {
    if (!m_progress)
        return;
    bool ignored = false;
    m_progress->setAmountDoneUint32(m_engine.getCursor(), &ignored);
}

} // namespace

void appendXmlDecoded(const char* text, int n, StringBuffer& out) {
    int from = 0;
    for (int i = 0; i < n; ++i) {
        if (text[i] != '&')
            continue;
        int len = 0;
        char named = 0;
        unsigned long code = 0;
        for (const NamedEntity& e : kEntities) {
            if (n - i >= e.length && std::memcmp(text + i, e.text, e.length) == 0) {
                len = e.length;
                named = e.value;
                break;
            }
        }
        if (!len)
            len = xmlCharRefLength(text, i, n, &code);
        if (!len)
            continue;
        out.appendBytes(text + from, i - from);
        if (named)
            out.appendChar(named);
        else
            appendUtf8(code, out);
        i += len - 1;
        from = i + 1;
    }
    out.appendBytes(text + from, n - from);
}

// A quoted value runs to its own closing quote, the other quote and line
// ends included, as the stylesheet instruction's grammar has it; its line
// ends read as in all XML text.
void parseDeclAttributes(ParseEngine& engine, TreeNode* node, LogBase*) {
    auto skipSpace = [&engine] { engine.skipChars(' ', '\t', '\r', '\n'); };
    StringBuffer name;
    StringBuffer value;
    StringBuffer lineEnds;
    StringBuffer decoded;
    skipSpace();
    while (engine.currentChar() != '>' && engine.currentChar() != 0) {
        const std::uint32_t before = engine.getCursor();
        name.clear();
        value.clear();
        engine.captureToAnyOf7(" \t\r\n=?>", name);
        name.removeChar('"');
        skipSpace();
        if (engine.currentChar() == '=') {
            engine.setCursor(engine.getCursor() + 1);
            skipSpace();
            const char q = engine.currentChar();
            if (q == '\'' || q == '"') {
                engine.setCursor(engine.getCursor() + 1);
                engine.captureToChar(q, value);
                if (engine.currentChar() == q)
                    engine.setCursor(engine.getCursor() + 1);
            } else {
                engine.captureToAnyOf(" \t\r\n\"'", value);
            }
        }
        if (name.getSize() > 0) {
            lineEnds.clear();
            appendLineEndsNormalized(value.getString(), value.getSize(), lineEnds);
            decoded.clear();
            appendXmlDecoded(lineEnds.getString(), lineEnds.getSize(), decoded);
            node->addAttribute(name.getString(), decoded.getString());
        }
        skipSpace();
        if (engine.currentChar() == '?') {
            engine.setCursor(engine.getCursor() + 1);
            skipSpace();
        }
        // A stray byte no rule consumes must not hold the loop.
        if (engine.getCursor() == before)
            engine.setCursor(before + 1);
    }
    if (engine.currentChar() == '>')
        engine.setCursor(engine.getCursor() + 1);
}

bool parseXml(ParseEngine& engine, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent) {
    if (!outRoot)
        return false;
    LogNull silent;
    // Read on, a zero byte would silently end the document there.
    if (engine.holdsZeroByte()) {
        (log ? *log : silent).logError(xml_msg::kZeroByte);
        *outRoot = nullptr;
        return true;
    }
    XmlReader reader(engine, log ? *log : silent, progress, trimContent);
    *outRoot = reader.run();
    return true;
}

bool parseXmlText(const StringBuffer& text, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot,
                  bool trimContent) {
    ParseEngine engine;
    engine.borrowText(text);
    return parseXml(engine, log, progress, outRoot, trimContent);
}

namespace {

bool isWideCodePage(int page) {
    return page == kCodePageUtf16Le || page == kCodePageUtf16Be || page == kCodePageUtf32Le || page == kCodePageUtf32Be;
}

struct Signature {
    unsigned char bytes[4];
    unsigned int length;
    int page;
    // Bytes of a byte-order mark, dropped before decoding.
    unsigned int mark;
    const char* charset;
};
// XML 1.0, appendix F: a document's first bytes tell a 16- or 32-bit
// encoding, with a byte-order mark or without one (then by "<?" or "<").
// The 32-bit marks come before the 16-bit ones they begin with.
constexpr Signature kSignatures[] = {
    {{0x00, 0x00, 0xFE, 0xFF}, 4, kCodePageUtf32Be, 4, "utf-32be"},
    {{0xFF, 0xFE, 0x00, 0x00}, 4, kCodePageUtf32Le, 4, "utf-32"},
    {{0xFE, 0xFF}, 2, kCodePageUtf16Be, 2, "utf-16be"},
    {{0xFF, 0xFE}, 2, kCodePageUtf16Le, 2, "utf-16le"},
    {{0x00, 0x00, 0x00, 0x3C}, 4, kCodePageUtf32Be, 0, "utf-32be"},
    {{0x3C, 0x00, 0x00, 0x00}, 4, kCodePageUtf32Le, 0, "utf-32"},
    {{0x00, 0x3C, 0x00, 0x3F}, 4, kCodePageUtf16Be, 0, "utf-16be"},
    {{0x3C, 0x00, 0x3F, 0x00}, 4, kCodePageUtf16Le, 0, "utf-16le"},
};

const Signature* wideSignature(const unsigned char* p, unsigned int n) {
    for (const Signature& s : kSignatures)
        if (n >= s.length && std::memcmp(p, s.bytes, s.length) == 0)
            return &s;
    return nullptr;
}

// The byte-order mark a 16- or 32-bit page writes, or null. (A mark
// converted from UTF-8 would be dropped as the input's own.)
const Signature* byteOrderMark(int page) {
    for (const Signature& s : kSignatures)
        if (s.page == page && s.mark > 0)
            return &s;
    return nullptr;
}

struct ByteEncoding {
    int page = kCodePageUtf8;
    // Bytes of a byte-order mark, dropped before decoding.
    unsigned int mark = 0;
    StringBuffer charset{"utf-8"};
    // Why the bytes are not read as XML at all, or null. Refused, they are
    // still text in the page above where a mark, the width of the first
    // bytes or a label reads them, for a reader of text.
    const char* refusal = nullptr;
    // Refused, and nothing reads the bytes: no page above applies.
    bool unread = false;
};

// XML 1.0, appendix F: "<?xm" in EBCDIC, whose declaration (in the
// characters every EBCDIC page shares) names the page.
constexpr unsigned char kEbcdicSignature[] = {0x4C, 0x6F, 0xA7, 0x94};
constexpr unsigned char kEbcdicClose = 0x6E; // '>'
constexpr int kCodePageEbcdicInvariant = 37;
// How far an EBCDIC declaration's end is looked for.
constexpr unsigned int kMaxEbcdicDeclaration = 512;
// An ISO-2022-KR text announces itself with this designator, which older
// saves and iconv write before the declaration.
constexpr unsigned char kIso2022KrHeader[] = {0x1B, '$', ')', 'C'};
constexpr unsigned char kEscape = 0x1B;
constexpr unsigned char kShiftOut = 0x0E;
constexpr unsigned char kShiftIn = 0x0F;
constexpr int kCodePageIso2022Kr = 50225;
constexpr int kCodePageIso2022JpFirst = 50220;
constexpr int kCodePageIso2022JpLast = 50222;
// How far into a marked document its declaration is looked for.
constexpr unsigned int kMaxDeclarationBytes = 1024;

bool decodesAs(int page, const unsigned char* p, unsigned int n, DataBuffer& out) {
    EncodingConvert conv;
    std::uint64_t replaced = 0;
    out.clear();
    return conv.decodeToUtf8(page, p, n, out, replaced) && replaced == 0;
}

// An EBCDIC document is read in the page its declaration names, once that
// page reads the declaration as the shared characters do.
void readEbcdic(const unsigned char* p, unsigned int n, ByteEncoding& e) {
    e.refusal = xml_msg::kEbcdicUnnamed;
    const unsigned int window = n < kMaxEbcdicDeclaration ? n : kMaxEbcdicDeclaration;
    const void* close = std::memchr(p, kEbcdicClose, window);
    if (!close)
        return;
    const unsigned int length = static_cast<unsigned int>(static_cast<const unsigned char*>(close) - p) + 1;
    DataBuffer shared;
    DataBuffer own;
    StringBuffer declared;
    if (!decodesAs(kCodePageEbcdicInvariant, p, length, shared) ||
        !declaredXmlEncoding(reinterpret_cast<const char*>(shared.getData()), shared.getSize(), declared))
        return;
    const int page = EncodingConvert::charsetToCodePage(declared.getString());
    if (page == 0 || !decodesAs(page, p, length, own) || !own.equalsDb(shared))
        return;
    e.page = page;
    e.charset.setString(declared.getString());
    e.refusal = nullptr;
}

// A text that starts with an escape sequence is ISO-2022-KR when that is
// its designator (a declaration after it may only agree); no other one
// names anything a reader could take.
void readDesignated(const unsigned char* p, unsigned int n, ByteEncoding& e) {
    constexpr unsigned int kHeader = sizeof(kIso2022KrHeader);
    if (n < kHeader || std::memcmp(p, kIso2022KrHeader, kHeader) != 0) {
        e.refusal = xml_msg::kEscapeAtStart;
        return;
    }
    StringBuffer declared;
    if (declaredXmlEncoding(reinterpret_cast<const char*>(p + kHeader), n - kHeader, declared) &&
        EncodingConvert::charsetToCodePage(declared.getString()) != kCodePageIso2022Kr) {
        e.refusal = xml_msg::kEscapeAtStart;
        return;
    }
    e.page = kCodePageIso2022Kr;
    e.charset.setString(declared.getSize() > 0 ? declared.getString() : "iso-2022-kr");
}

// Pages whose two-byte text is ASCII bytes between shifts: read as any
// other charset, that text would be taken for markup.
bool isShiftingPage(int page) {
    return (page >= kCodePageIso2022JpFirst && page <= kCodePageIso2022JpLast) || page == kCodePageIso2022Kr;
}

// The ISO-2022 form a page reads: ISO-2022-JP's variants share their
// escapes, ISO-2022-KR shifts by SO and SI; 0 for any other page.
int shiftFamily(int page) {
    if (page >= kCodePageIso2022JpFirst && page <= kCodePageIso2022JpLast)
        return kCodePageIso2022JpFirst;
    return page == kCodePageIso2022Kr ? kCodePageIso2022Kr : 0;
}

// The ISO-2022 form a document's own bytes show: its declaration's, or
// that of the escape it starts with.
int shiftsShown(const unsigned char* p, unsigned int n, const ByteEncoding& own) {
    if (isShiftingPage(own.page))
        return shiftFamily(own.page);
    if (own.refusal != xml_msg::kEscapeAtStart)
        return 0;
    constexpr unsigned int kHeader = sizeof(kIso2022KrHeader);
    return n >= kHeader && std::memcmp(p, kIso2022KrHeader, kHeader) == 0 ? kCodePageIso2022Kr
                                                                          : kCodePageIso2022JpFirst;
}

// Bytes no XML text holds, which only an ISO-2022 text not yet decoded has.
bool holdsShiftByte(const unsigned char* p, unsigned int n) {
    return n != 0 && (std::memchr(p, kEscape, n) || std::memchr(p, kShiftOut, n) || std::memchr(p, kShiftIn, n));
}

// The page family a byte-order mark's declaration may name.
int markFamily(int page) {
    return page == kCodePageUtf32Be ? kCodePageUtf32Le : page;
}

bool isSixteenBit(int page) {
    return page == kCodePageUtf16Le || page == kCodePageUtf16Be;
}

// 16- and 32-bit names that leave the byte order to the mark or the first
// bytes, as libxml2 and python's codecs read them; every other one says its
// order ("ucs-2" and "unicode" little-endian, as libxml2 reads them too).
bool leavesByteOrder(const char* name) {
    StringBuffer key(name);
    key.trimWhitespace();
    key.replaceChar('_', '-');
    for (const char* open : {"utf-16", "utf16", "ucs2", "iso-10646-ucs-2", "utf-32", "utf32"})
        if (key.equalsNoCase(open))
            return true;
    return false;
}

// A declaration after a byte-order mark (or after none, where the first
// bytes show a 16- or 32-bit encoding), read in the mark's encoding. One
// naming the mark's encoding, or none, leaves the mark to decide; one
// naming a charset the library cannot decode whole is refused. A 16-bit
// name of the other byte order than the mark's ("utf-16be" after FF FE)
// is refused, as libxml2 and expat refuse it; one that names no order
// ("utf-16") takes the mark's. After a UTF-8 mark, a charset that reads
// the declaration's ASCII as ASCII is followed, as libxml2 and expat
// follow it: its shifts, if it has any, are then read as shifts. Any
// other (a 16- or 32-bit encoding against another mark, EBCDIC) is
// refused, as expat refuses it (XML 1.0, 4.3.3). Refused, the bytes stay
// the mark's text for a reader of text.
void readMarkedDeclaration(const unsigned char* p, unsigned int n, ByteEncoding& e) {
    const unsigned int window = n - e.mark < kMaxDeclarationBytes ? n - e.mark : kMaxDeclarationBytes;
    DataBuffer head;
    if (e.page == kCodePageUtf8) {
        head.append(p + e.mark, window);
    } else {
        EncodingConvert conv;
        std::uint64_t replaced = 0;
        conv.decodeToUtf8(e.page, p + e.mark, window, head, replaced);
    }
    xmlprolog::Declaration decl;
    if (!xmlprolog::readDeclaration(reinterpret_cast<const char*>(head.getData()), static_cast<int>(head.getSize()),
                                    decl) ||
        decl.encoding.empty())
        return;
    const std::string declared(decl.encoding);
    const int page = EncodingConvert::charsetToCodePage(declared.c_str());
    if (!EncodingConvert::decodesCharsetName(declared.c_str())) {
        e.refusal = xml_msg::kUnknownCharset;
        return;
    }
    if (isSixteenBit(page) && isSixteenBit(e.page)) {
        if (page != e.page && !leavesByteOrder(declared.c_str()))
            e.refusal = xml_msg::kMarkDisagrees;
        return;
    }
    if (markFamily(page) == markFamily(e.page))
        return;
    DataBuffer own;
    if (e.page == kCodePageUtf8 && !isWideCodePage(page) &&
        decodesAs(page, head.getData(), static_cast<unsigned int>(decl.length), own) &&
        own.equalsBytes(head.getData(), static_cast<unsigned int>(decl.length))) {
        e.page = page;
        e.charset.setString(declared.c_str());
        return;
    }
    e.refusal = xml_msg::kMarkDisagrees;
}

// What the document's own bytes show, with no mark and no label: the byte
// pattern of a 16- or 32-bit or an EBCDIC encoding, an ISO-2022-KR
// designator, or the declaration standing at the start, else UTF-8. A
// declared encoding the library has no decoder for is refused, as libxml2
// refuses it, and so is an 8-bit one in 16- or 32-bit text, as expat
// refuses it; a 16- or 32-bit one in 8-bit text reads as UTF-8: a
// declaration read as 8-bit text shows that the text is not in it.
// Refused, 16- or 32-bit text is still text of its width; nothing reads
// any other.
ByteEncoding ownEncoding(const unsigned char* p, unsigned int n, const Signature* wide) {
    ByteEncoding e;
    if (wide) {
        e.page = wide->page;
        e.charset.setString(wide->charset);
        // Its declaration is held to the width the first bytes show, as
        // a mark's is.
        readMarkedDeclaration(p, n, e);
        return e;
    }
    if (n >= sizeof(kEbcdicSignature) && std::memcmp(p, kEbcdicSignature, sizeof(kEbcdicSignature)) == 0) {
        readEbcdic(p, n, e);
        e.unread = e.refusal != nullptr;
        return e;
    }
    if (n > 0 && p[0] == kEscape) {
        readDesignated(p, n, e);
        e.unread = e.refusal != nullptr;
        return e;
    }
    StringBuffer declared;
    if (!declaredXmlEncoding(reinterpret_cast<const char*>(p), n, declared))
        return e;
    const int page = EncodingConvert::charsetToCodePage(declared.getString());
    if (isWideCodePage(page))
        return e;
    // Read as UTF-8, the shift bytes of such a charset (HZ's "~{", an
    // ISO-2022 escape) would leave its two-byte text to be read as markup.
    if (!EncodingConvert::decodesCharsetName(declared.getString())) {
        e.refusal = xml_msg::kUnknownCharset;
        e.unread = true;
        return e;
    }
    e.page = page;
    e.charset.setString(declared.getString());
    return e;
}

// The one reading of an XML document's bytes (RFC 7303, XML 1.0 appendix
// F): a byte-order mark (and the declaration after it), else the charset
// the document came labelled with (a Content-Type's), else what its own
// bytes show. A name the library cannot decode whole refuses the document
// whichever names it, the label or the declaration; so does a label
// without those shifts (another charset, or the other ISO-2022 form) on a
// declared ISO-2022 text that holds its shifts (or starts with an
// escape), which it would read as markup. A refusal is the XML reader's
// alone: the mark, else a label with a decoder, else the width of 16- or
// 32-bit first bytes still reads the bytes as text (RFC 7303, the Encoding
// Standard's mark sniff); a label without one leaves nothing but the mark.
ByteEncoding detectEncoding(const unsigned char* p, unsigned int n, const char* outside) {
    ByteEncoding e;
    const bool labelled = outside && *outside;
    const Signature* wide = wideSignature(p, n);
    const bool marked = (wide && wide->mark > 0) || startsWithUtf8Mark(p, n);
    if (marked) {
        if (wide && wide->mark > 0) {
            e.page = wide->page;
            e.mark = wide->mark;
            e.charset.setString(wide->charset);
        } else {
            e.mark = kUtf8MarkLen;
        }
    }
    if (labelled && !EncodingConvert::decodesCharsetName(outside)) {
        e.refusal = xml_msg::kUnknownLabel;
        e.unread = !marked;
        return e;
    }
    if (marked) {
        readMarkedDeclaration(p, n, e);
        return e;
    }
    ByteEncoding own = ownEncoding(p, n, wide);
    if (!labelled)
        return own;
    const int label = EncodingConvert::charsetToCodePage(outside);
    // A 16-bit label takes the byte order the text shows.
    e.page = isSixteenBit(label) && wide && isSixteenBit(wide->page) ? wide->page : label;
    e.charset.setString(outside);
    const int shown = shiftsShown(p, n, own);
    if (own.refusal == xml_msg::kUnknownCharset)
        e.refusal = own.refusal;
    else if (shown != 0 && shiftFamily(label) != shown && holdsShiftByte(p, n))
        e.refusal = xml_msg::kLabelAgainstShifts;
    return e;
}

// Whether a page writes the declaration in its own bytes, where readers
// look for it by them: 16- and 32-bit pages, and EBCDIC ones.
bool declaresInOwnBytes(int page) {
    if (isWideCodePage(page))
        return true;
    EncodingConvert conv;
    DataBuffer probe;
    return conv.convert(kCodePageUtf8, page, "<?xm", sizeof(kEbcdicSignature), probe) &&
           probe.getSize() == sizeof(kEbcdicSignature) &&
           std::memcmp(probe.getData(), kEbcdicSignature, sizeof(kEbcdicSignature)) == 0;
}

} // namespace

int pageByMark(const char* name, int page, const unsigned char* p, unsigned int n, unsigned int& mark) {
    mark = 0;
    if (!name || !leavesByteOrder(name))
        return page;
    for (const Signature& s : kSignatures)
        if (s.mark > 0 && n >= s.mark && std::memcmp(p, s.bytes, s.mark) == 0 &&
            (isSixteenBit(page) ? isSixteenBit(s.page) : markFamily(page) == markFamily(s.page))) {
            mark = s.mark;
            return s.page;
        }
    return page;
}

bool declaredXmlEncoding(const char* text, unsigned int n, StringBuffer& out) {
    out.clear();
    xmlprolog::Declaration decl;
    if (!text || !xmlprolog::readDeclaration(text, static_cast<int>(n), decl) || decl.encoding.empty())
        return false;
    out.appendBytes(decl.encoding.data(), static_cast<int>(decl.encoding.size()));
    return true;
}

bool decodeXmlBytes(const unsigned char* p, unsigned int n, DataBuffer& out, LogBase* log, const char* outside,
                    StringBuffer* charset) {
    LogNull silent;
    LogBase& lg = log ? *log : silent;
    out.clear();
    const ByteEncoding enc = detectEncoding(p, n, outside);
    if (charset)
        charset->setString(enc.unread ? "" : enc.charset.getString());
    if (n == 0)
        return false;
    const unsigned int mark = enc.mark;
    EncodingConvert conv;
    std::uint64_t replaced = 0;
    if (enc.refusal) {
        lg.logError(enc.refusal);
        if (!enc.unread && !conv.decodeToUtf8(enc.page, p + mark, n - mark, out, replaced))
            out.clear();
        return false;
    }
    const bool decoded = conv.decodeToUtf8(enc.page, p + mark, n - mark, out, replaced);
    if (!decoded) {
        out.clear();
        lg.logError(xml_msg::kUndecodable);
        lg.logData("charset", enc.charset.getString());
        return false;
    }
    // U+0000, in whatever bytes it came, is no character of XML: the text
    // stays for a reader of text.
    if (out.getSize() != 0 && std::memchr(out.getData(), 0, out.getSize())) {
        lg.logError(xml_msg::kZeroByte);
        return false;
    }
    // An escape, SO or SI left in the text is the shift of a charset it was
    // not read in (a mark or label against ISO-2022 text, or one read twice),
    // and the two-byte text after it would be taken for markup. No XML text
    // holds them, as libxml2 and expat refuse them; the text stays.
    if (holdsShiftByte(out.getData(), out.getSize())) {
        lg.logError(xml_msg::kShiftBytes);
        lg.logData("charset", enc.charset.getString());
        return false;
    }
    if (replaced > 0) {
        lg.logError(xml_msg::kReplacedBytes);
        lg.logData("charset", enc.charset.getString());
        lg.logDataInt64("numBytesReplaced", static_cast<std::int64_t>(replaced));
    }
    return true;
}

bool prepareXmlText(StringBuffer& text, LogBase* log) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.getString());
    const unsigned int n = text.getSize();
    const ByteEncoding enc = detectEncoding(p, n, nullptr);
    if (enc.refusal) {
        // A charset without a decoder, or a mark against its declaration:
        // refused as the same bytes in a file are, its shifted text never
        // read as markup.
        if (log)
            log->logError(enc.refusal);
        return false;
    }
    if (!isShiftingPage(enc.page) || !holdsShiftByte(p, n))
        return true;
    DataBuffer out;
    if (!decodeXmlBytes(p, n, out, log))
        return false;
    text.clear();
    text.appendDb(out);
    return true;
}

bool prepareXmlBytes(DataBuffer& bytes, LogBase* log, const char* outside) {
    DataBuffer out;
    if (!decodeXmlBytes(bytes.getData(), bytes.getSize(), out, log, outside))
        return false;
    bytes.takeFrom(out);
    return true;
}

bool encodeXmlText(const char* utf8, unsigned int n, const char* charset, bool markWide, DataBuffer& out,
                   LogBase& log) {
    out.clear();
    const int page = EncodingConvert::charsetToCodePage(charset);
    if (page == kCodePageUtf8)
        return out.append(utf8, n);
    // The declaration stays in ASCII before whatever UTF-7 or ISO-2022
    // shifts into, where readers look for it by its ASCII bytes.
    xmlprolog::Declaration decl;
    unsigned int head = 0;
    const bool ownBytes = page != 0 && declaresInOwnBytes(page);
    if (page != 0 && !ownBytes && xmlprolog::readDeclaration(utf8, static_cast<int>(n), decl))
        head = static_cast<unsigned int>(decl.length);
    const Signature* mark = markWide ? byteOrderMark(page) : nullptr;
    if (mark)
        out.append(mark->bytes, mark->mark);
    const unsigned int start = out.getSize();
    EncodingConvert conv;
    // Written exactly (every character as a code that reads back as it),
    // the bytes read back as the text once a reader finds the page. Pages
    // written so have no shifts: their declaration is the same bytes
    // converted as kept in ASCII.
    const int exact = page == 0 ? -1 : conv.encodeUtf8Exactly(page, utf8, n, out);
    if (exact == 0 ||
        (exact < 0 && (page == 0 || !out.append(utf8, head) ||
                       !conv.convert(kCodePageUtf8, page, utf8 + head, n - head, out) || conv.getDroppedCount() > 0))) {
        log.logError(xml_msg::kSaveConversionFailed);
        log.logData("encoding", charset);
        return false;
    }
    if (!EncodingConvert::withinNamedCharset(charset, out.getData() + start, out.getSize() - start)) {
        log.logError(xml_msg::kBeyondNamedCharset);
        log.logData("encoding", charset);
        return false;
    }
    if (exact > 0) {
        const ByteEncoding found = detectEncoding(out.getData(), out.getSize(), nullptr);
        if (!found.refusal && found.page == page && found.mark == (mark ? mark->mark : 0))
            return true;
    }
    // What a reader would take from the bytes must be the text itself. A
    // name written as its subset (ISO-2022-JP-2) is more than a reader here
    // takes: its bytes are read in the page they were written in.
    DataBuffer back;
    std::uint64_t replaced = 0;
    const bool read =
        EncodingConvert::decodesCharsetName(charset)
            ? back.appendDb(out) && prepareXmlBytes(back, nullptr)
            : conv.decodeToUtf8(page, out.getData() + start, out.getSize() - start, back, replaced) && replaced == 0;
    if (!read || !back.equalsBytes(utf8, n)) {
        log.logError(xml_msg::kNotReadBack);
        log.logData("encoding", charset);
        return false;
    }
    return true;
}

void declareXmlEncoding(const char* utf8, unsigned int n, const char* charset, StringBuffer& out) {
    out.clear();
    const int page = EncodingConvert::charsetToCodePage(charset);
    xmlprolog::Declaration decl;
    const bool declared = xmlprolog::readDeclaration(utf8, static_cast<int>(n), decl);
    const int named = declared && !decl.encoding.empty()
                          ? EncodingConvert::charsetToCodePage(std::string(decl.encoding).c_str())
                          : kCodePageUtf8;
    if (named == page) {
        out.appendBytes(utf8, static_cast<int>(n));
        return;
    }
    out.append("<?xml version=\"");
    out.append(declared ? std::string(decl.version).c_str() : "1.0");
    out.append("\" encoding=\"");
    out.append(charset);
    out.appendChar('"');
    if (declared && !decl.standalone.empty()) {
        out.append(" standalone=\"");
        out.append(std::string(decl.standalone).c_str());
        out.appendChar('"');
    }
    out.append("?>");
    const unsigned int rest = declared ? static_cast<unsigned int>(decl.length) : 0;
    out.appendBytes(utf8 + rest, static_cast<int>(n - rest));
}

bool parseXmlFile(const char* path, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent) {
    if (!outRoot)
        return false;
    *outRoot = nullptr;
    DataBuffer bytes;
    if (!bytes.loadFileUtf8(path, log))
        return false;
    if (!prepareXmlBytes(bytes, log))
        return false;
    ParseEngine engine(bytes);
    parseXml(engine, log, progress, outRoot, trimContent);
    if (*outRoot) {
        StringBuffer enc;
        if ((*outRoot)->getDeclEncoding(enc) &&
            (enc.equalsNoCase("utf-16") || enc.equalsNoCase("ucs-2") || enc.equalsNoCase("unicode")))
            (*outRoot)->setDeclEncoding("utf-8");
    }
    return true;
}

} // namespace tessik
