#include "netlib/core/XmlParser.h"

#include <cstring>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TreeNode.h"

namespace tessik {

namespace {

constexpr int kCodePageUtf16Le = 1200;
constexpr int kCodePageUtf16Be = 1201;
constexpr int kCodePageUtf8 = 65001;
// Work buffers for the document's DOCTYPE and instruction texts.
constexpr unsigned int kDocTextInitialSize = 2000;
constexpr const char kCdataOpen[] = "<![CDATA[";
constexpr int kCdataOpenLen = sizeof(kCdataOpen) - 1;
constexpr const char kStylesheet[] = "xml-stylesheet";

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
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

class XmlReader {
public:
    XmlReader(ParseEngine& engine, LogBase& log, ProgressMonitor* progress, bool trim)
        : m_engine(engine), m_log(log), m_progress(progress), m_trim(trim), m_docType(kDocTextInitialSize),
          m_piText(kDocTextInitialSize) {}

    ~XmlReader() {
        // Whatever no root took goes here.
        if (m_open)
            delete m_open->getRoot();
        delete m_pendingDecl;
        for (int i = 0; i < m_pendingStyles.getCount(); ++i)
            delete static_cast<TreeNode*>(m_pendingStyles.elementAt(i));
        delete m_completed;
    }

    TreeNode* run();

private:
    const char* at() const { return m_engine.atCursor(); }
    char cur() const { return m_engine.currentChar(); }
    void advance(std::uint32_t n) { m_engine.setCursor(m_engine.getCursor() + n); }
    void skipSpace() { m_engine.skipChars(' ', '\t', '\r', '\n'); }
    bool atEnd() const { return cur() == 0; }

    void addRun(StringBuffer& held, const char* run, int n);
    bool readCdata();
    bool dispatch();
    bool readComment();
    void readDocType();
    void readInstruction();
    void readClosingTag();
    bool readStartTag();
    void readAttributes(TreeNode* node, bool& selfClosing);
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
    StringBuffer m_docType;
    StringBuffer m_piText;
    int m_completedDocTypeLen = 0;
    int m_completedPiLen = 0;
    bool m_noPiEnd = false;
    // Reused for every tag, attribute name and value, text run.
    StringBuffer m_tag;
    StringBuffer m_scratch;
    StringBuffer m_run;
    bool m_stop = false;
};

TreeNode* XmlReader::run() {
    StringBuffer held;
    const std::uint32_t total = static_cast<std::uint32_t>(std::strlen(m_engine.getData()));
    if (m_progress && total > 0)
        m_progress->setTotalUint32(total);

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
        if (std::strncmp(at(), kCdataOpen, kCdataOpenLen) == 0) {
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
        if (std::strncmp(at(), kCdataOpen, kCdataOpenLen) == 0) {
            if (!readCdata())
                break;
            continue;
        }
        advance(1);
        if (!dispatch())
            break;
    }

    if (!m_completed && m_open) {
        m_open = m_open->getRoot();
        while (m_open)
            closeOpen();
    }
    if (m_progress && total > 0)
        m_progress->endProgress(0);
    TreeNode* root = m_completed;
    m_completed = nullptr;
    if (root) {
        m_docType.shorten(m_docType.getSize() - m_completedDocTypeLen);
        m_piText.shorten(m_piText.getSize() - m_completedPiLen);
        root->setDocTypeText(m_docType.getString());
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
            m_run.appendSb(held);
        appendXmlDecoded(run, n, m_run);
        m_open->setContent(m_run.getString());
        return;
    }
    StringBuffer* content = m_open->getContentSb();
    if (!content)
        return;
    if (!m_trim)
        content->appendSb(held);
    content->appendChar(' ');
    appendXmlDecoded(run, n, *content);
}

// Sections join the content with nothing between; text after a section up
// to the next tag joins it too (it is part of the element's text).
bool XmlReader::readCdata() {
    while (true) {
        advance(kCdataOpenLen);
        StringBuffer* content = m_open->getContentSb();
        const char* start = at();
        const char* close = std::strstr(start, "]]>");
        const int n = close ? static_cast<int>(close - start) : static_cast<int>(std::strlen(start));
        if (content)
            content->appendBytes(start, n);
        m_open->setCdata();
        if (!close) {
            advance(static_cast<std::uint32_t>(n));
            return false;
        }
        advance(static_cast<std::uint32_t>(n + 3));
        const char* tail = at();
        m_engine.seekChar('<');
        const char* tailEnd = at();
        const char* lead = tail;
        while (lead < tailEnd && isSpace(*lead))
            ++lead;
        if (lead < tailEnd && content) {
            if (m_trim) {
                while (isSpace(tailEnd[-1]))
                    --tailEnd;
                tail = lead;
            }
            appendXmlDecoded(tail, static_cast<int>(tailEnd - tail), *content);
        }
        if (atEnd())
            return false;
        if (std::strncmp(at(), kCdataOpen, kCdataOpenLen) == 0)
            continue;
        advance(1);
        return dispatch();
    }
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

bool XmlReader::readComment() {
    const char* close = std::strstr(at(), "-->");
    if (!close) {
        m_log.logError(xml_msg::kUnclosedComment);
        m_stop = true;
        return false;
    }
    advance(static_cast<std::uint32_t>(close + 3 - at()));
    return true;
}

// An unbalanced DOCTYPE is not kept: written out again it would swallow the
// document that follows it.
void XmlReader::readDocType() {
    const int before = m_docType.getSize();
    m_docType.appendChar('<');
    if (!m_engine.captureBalanced('<', '>', 1, m_docType)) {
        m_log.logError(xml_msg::kFailedDtd);
        m_docType.shorten(m_docType.getSize() - before);
        return;
    }
    m_docType.appendChar('\n');
}

void XmlReader::readInstruction() {
    advance(1); // past "?"
    const bool isDecl = startsWithNoCase(at(), "xml ");
    const bool isStyle = !isDecl && startsWithNoCase(at(), kStylesheet);
    if (!isDecl && !isStyle) {
        // An unterminated instruction is dropped for the same reason. Once
        // no "?>" follows, none follows any later one either.
        const char* close = m_noPiEnd ? nullptr : std::strstr(at(), "?>");
        m_noPiEnd = close == nullptr;
        if (close) {
            m_piText.append("<?");
            m_piText.appendBytes(at(), static_cast<int>(close + 2 - at()));
            m_piText.appendChar('\n');
            advance(static_cast<std::uint32_t>(close + 2 - at()));
        }
        return;
    }
    StringBuffer name;
    m_engine.captureToAnyOf7(" \t\r\n/>>", name);
    skipSpace();
    if (cur() == '/')
        advance(1);
    TreeNode* node = TreeNode::createRoot(name.getString());
    if (!node)
        return;
    parseDeclAttributes(m_engine, node, &m_log);
    if (isDecl) {
        delete m_pendingDecl;
        m_pendingDecl = node;
    } else if (!m_pendingStyles.appendPtr(node)) {
        delete node;
    }
    if (atEnd())
        m_stop = true;
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

bool XmlReader::readStartTag() {
    StringBuffer& tag = m_tag;
    tag.clear();
    m_engine.captureToAnyOf7(" \t\r\n/>>", tag);
    if (atEnd())
        return false;
    tag.removeChar('<');
    skipSpace();
    bool selfClosing = false;
    if (cur() == '/') {
        selfClosing = true;
        advance(1);
    }
    TreeNode* node = m_open ? TreeNode::createNode(m_open, tag.getString()) : TreeNode::createRoot(tag.getString());
    if (!node)
        return false;
    m_open = node;
    readAttributes(node, selfClosing);
    if (cur() == '>')
        advance(1);
    if (selfClosing)
        closeOpen();
    return true;
}

void XmlReader::readAttributes(TreeNode* node, bool& selfClosing) {
    StringBuffer& name = m_tag;
    StringBuffer& value = m_scratch;
    while (cur() != '>' && !atEnd()) {
        name.clear();
        value.clear();
        m_engine.captureToAnyOf7(" \t\r\n=/>", name);
        name.removeChar('"');
        name.removeChar('\'');
        name.removeChar('<');
        skipSpace();
        if (cur() == '=') {
            advance(1);
            skipSpace();
            const char q = cur();
            if (q == '"' || q == '\'') {
                advance(1);
                m_engine.captureToChar(q, value);
            } else {
                m_engine.captureToAnyOf2("\"'", value);
            }
            normalizeAttrWhitespace(value);
            if (cur() == '"' || cur() == '\'')
                advance(1);
        }
        if (name.getSize() > 0) {
            if (value.containsChar('&')) {
                StringBuffer decoded;
                appendXmlDecoded(value.getString(), value.getSize(), decoded);
                node->addAttribute(name.getString(), decoded.getString());
            } else {
                node->addAttribute(name.getString(), value.getString());
            }
        }
        skipSpace();
        if (cur() == '/') {
            selfClosing = true;
            advance(1);
            skipSpace();
        }
    }
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
        m_completedDocTypeLen = m_docType.getSize();
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

void parseDeclAttributes(ParseEngine& engine, TreeNode* node, LogBase*) {
    auto skipSpace = [&engine] { engine.skipChars(' ', '\t', '\r', '\n'); };
    StringBuffer name;
    StringBuffer value;
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
                engine.captureToAnyOf("\"'\r\n", value);
            } else {
                engine.captureToAnyOf(" \t\r\n\"'", value);
            }
            value.removeChar('"');
            if (engine.currentChar() == '"' || engine.currentChar() == '\'')
                engine.setCursor(engine.getCursor() + 1);
        }
        if (name.getSize() > 0) {
            StringBuffer decoded;
            appendXmlDecoded(value.getString(), value.getSize(), decoded);
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
    XmlReader reader(engine, log ? *log : silent, progress, trimContent);
    *outRoot = reader.run();
    return true;
}

bool parseXmlText(const StringBuffer& text, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot,
                  bool trimContent) {
    ParseEngine engine;
    engine.setString(text.getString());
    return parseXml(engine, log, progress, outRoot, trimContent);
}

bool prepareXmlBytes(DataBuffer& bytes) {
    const unsigned int n = bytes.getSize();
    if (n == 0)
        return false;
    const unsigned char* p = bytes.getData();
    EncodingConvert conv;
    DataBuffer out;
    if (n >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        const int from = p[0] == 0xFF ? kCodePageUtf16Le : kCodePageUtf16Be;
        // The mark itself would come through as a UTF-8 mark.
        if (conv.convert(from, kCodePageUtf8, p + 2, n - 2, out))
            bytes.takeFrom(out);
        return true;
    }
    if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) {
        bytes.removeFront(3);
        return true;
    }
    // The declaration, if any, names the charset.
    StringBuffer head(reinterpret_cast<const char*>(p), n < 4096 ? n : 4096, 0);
    const char* decl = findSubstringNoCase(head.getString(), "<?xml");
    if (!decl)
        return true;
    StringBuffer text(decl);
    text.chopAtFirstChar('>');
    text.removeChar(' ');
    text.toLowerCase();
    StringBuffer enc;
    const char* v = std::strstr(text.getString(), "encoding=\"");
    char quote = '"';
    if (!v) {
        v = std::strstr(text.getString(), "encoding='");
        quote = '\'';
    }
    if (!v)
        return true;
    enc.append(v + 10);
    enc.chopAtFirstChar(quote);
    if (enc.getSize() == 0 || enc.equals("utf-8") || EncodingConvert::charsetToCodePage(enc.getString()) == 0)
        return true;
    if (conv.convertFromCharsetName(enc.getString(), kCodePageUtf8, p, n, out))
        bytes.takeFrom(out);
    return true;
}

bool parseXmlFile(const char* path, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent) {
    if (!outRoot)
        return false;
    *outRoot = nullptr;
    DataBuffer bytes;
    if (!bytes.loadFileUtf8(path, log))
        return false;
    if (!prepareXmlBytes(bytes))
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
