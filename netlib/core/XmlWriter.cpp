// TreeNode::serialize: one fixed layout, CR LF line ends and four blanks of
// indentation per level, so a file the library writes is predictable.
// Whatever the tree holds, what is written is well-formed XML: the ASCII of
// names is mended (a name holding a character beyond ASCII that no XML name
// holds is never renamed: the text is refused), characters XML cannot carry
// are replaced, and a declaration, DOCTYPE or instruction text that is not
// well-formed is not copied. Layout
// goes only where a reader does not take it for content, so that reading
// what was written and writing it again gives the same bytes.
#include <cstring>
#include <string_view>
#include <vector>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlChars.h"
#include "netlib/core/XmlProlog.h"

namespace tessik {

namespace {

constexpr int kIndentPerLevel = 4;
constexpr int kMaxIndentLevels = 50;
constexpr const char* kNoTag = "nothing";
constexpr const char* kCdataEnd = "]]>";

bool isLive(const TreeNode* n) {
    return n && n->getMagic() == xmltree::kAlive;
}

void indent(StringBuffer& out, int depth) {
    if (depth > kMaxIndentLevels)
        depth = kMaxIndentLevels;
    if (depth > 0)
        out.appendCharRepeated(' ', depth * kIndentPerLevel);
}

// A tag that cannot be written is named in `unwritable` (the first one), and
// the text is not given out.
void appendTag(StringBuffer& out, const char* tag, StringBuffer& unwritable) {
    const int before = out.getSize();
    const int n = static_cast<int>(std::strlen(tag));
    if (!xmlchars::appendName(tag, n, out) && unwritable.getSize() == 0)
        unwritable.appendBytes(tag, n);
    if (out.getSize() == before)
        out.append(kNoTag);
}

void appendPseudoAttribute(StringBuffer& out, const char* name, const StringBuffer& value) {
    out.appendChar(' ');
    out.append(name);
    out.append("=\"");
    out.appendSb(value);
    out.appendChar('"');
}

} // namespace

void TreeInfo::setDeclaration(TreeNode* declaration) {
    if (declaration == m_declaration)
        return;
    if (isLive(m_declaration))
        delete m_declaration;
    m_declaration = declaration;
}

void TreeNode::emitStylesheets(StringBuffer& out) {
    TreeInfo* record = getDocument();
    if (!record)
        return;
    ExtPtrArray& sheets = record->getStylesheets();
    for (int i = 0; i < sheets.getCount(); ++i) {
        auto* sheet = static_cast<TreeNode*>(sheets.elementAt(i));
        if (!isLive(sheet) || !sheet->m_attributes)
            continue;
        // One without attributes written would read back as none at all. An
        // instruction's data is no name: a pseudo-attribute no XML name holds
        // is written as read.
        StringBuffer attributes;
        sheet->m_attributes->serialize(attributes);
        if (attributes.appendFailed())
            out.markAppendFailed();
        if (attributes.getSize() == 0)
            continue;
        out.append("<?xml-stylesheet");
        out.appendSb(attributes);
        out.append(" ?>\r\n");
    }
}

void TreeNode::emitDocumentHead(StringBuffer& out, bool noDeclaration) {
    TreeInfo* record = getDocument();
    if (!record)
        return;
    TreeNode* decl = record->getDeclaration();
    if (!noDeclaration && isLive(decl)) {
        // Written from its fields, in the order XML requires; a field that is
        // not well-formed is left out.
        out.append("<?xml version=\"1.0\"");
        StringBuffer value;
        if (decl->getAttrValue("encoding", value) &&
            xmlprolog::isEncodingName(std::string_view(value.getString(), static_cast<std::size_t>(value.getSize()))))
            appendPseudoAttribute(out, "encoding", value);
        if (value.appendFailed())
            out.markAppendFailed();
        value.clear();
        if (decl->getAttrValue("standalone", value) && (value.equals("yes") || value.equals("no")))
            appendPseudoAttribute(out, "standalone", value);
        if (value.appendFailed())
            out.markAppendFailed();
        out.append(" ?>\r\n");
    }
    emitStylesheets(out);
    const StringBuffer* docType = record->getDocTypeText();
    if (docType && docType->getSize() > 0) {
        const int before = out.getSize();
        xmlprolog::appendDocType(*docType, out);
        if (out.getSize() > before)
            out.append("\r\n");
    }
    const StringBuffer* pi = record->getPiText();
    if (pi && pi->getSize() > 0) {
        const int before = out.getSize();
        xmlprolog::appendInstructions(*pi, out);
        if (out.getSize() > before)
            out.append("\r\n");
    }
}

bool TreeNode::emitStartTag(StringBuffer& out, int depth, StringBuffer& unwritable) const {
    indent(out, depth);
    out.appendChar('<');
    appendTag(out, getTag(), unwritable);
    if (m_attributes)
        m_attributes->serialize(out, &unwritable);
    if (hasContent() || getNumChildren() > 0) {
        out.appendChar('>');
        return true;
    }
    out.append(" />\r\n");
    return false;
}

// A CDATA content holding "]]>" is split into two sections there, so no byte
// is lost and the section cannot end early. Text content has the blanks at
// its ends written as references: a reader that trims them, or drops text
// that is only whitespace, still reads the content back whole.
void TreeNode::emitContent(StringBuffer& out) const {
    if (!hasContent())
        return;
    const char* p = getContent();
    const int n = getContentSize();
    if (!m_isCdata) {
        xmlchars::appendEscaped(p, n, xmlchars::TextKind::Content, true, out);
        return;
    }
    out.append("<![CDATA[");
    const std::string_view text(p, static_cast<std::size_t>(n));
    int from = 0;
    for (std::size_t hit = text.find(kCdataEnd); hit != std::string_view::npos; hit = text.find(kCdataEnd, hit + 2)) {
        const int at = static_cast<int>(hit);
        xmlchars::appendEscaped(p + from, at + 2 - from, xmlchars::TextKind::Cdata, false, out);
        out.append("]]><![CDATA[");
        from = at + 2;
    }
    xmlchars::appendEscaped(p + from, n - from, xmlchars::TextKind::Cdata, false, out);
    out.append(kCdataEnd);
}

// Indented only after children: after content, blanks would become part of it.
void TreeNode::emitEndTag(StringBuffer& out, int depth, StringBuffer& unwritable) const {
    if (getNumChildren() > 0)
        indent(out, depth);
    out.append("</");
    appendTag(out, getTag(), unwritable);
    out.append(">\r\n");
}

// Written with an explicit stack: a deep document must not exhaust the
// call stack. Every append is checked through the buffer's record of
// failed appends, parts built on the side included.
bool TreeNode::serialize(StringBuffer& out, int index, int depth, bool noDeclaration, StringBuffer* unwritable) {
    if (!alive() || !getDocument())
        return !out.appendFailed();
    // A name is written as given or not at all: never renamed.
    StringBuffer badName;
    struct Frame {
        TreeNode* node;
        int depth;
        int nextChild;
    };
    std::vector<Frame> stack;
    // The first child of an element with content follows the content
    // directly: a line break there would be read back as more content.
    auto open = [&](TreeNode* node, int idx, int d, bool noDecl, bool afterContent) {
        if (node->getDocument() && node->getDocument()->getRoot() == node)
            node->emitDocumentHead(out, noDecl);
        if (idx == 0 && !afterContent)
            out.append("\r\n");
        if (!node->emitStartTag(out, afterContent ? 0 : d, badName))
            return;
        node->emitContent(out);
        stack.push_back({node, d, 0});
    };
    open(this, index, depth, noDeclaration, false);
    while (!stack.empty() && badName.getSize() == 0) {
        Frame& top = stack.back();
        TreeNode* node = top.node;
        if (top.nextChild < node->getNumChildren()) {
            const int i = top.nextChild++;
            const int d = top.depth + 1;
            TreeNode* child = node->getChild(i);
            if (isLive(child))
                open(child, i, d, false, i == 0 && node->hasContent());
            continue;
        }
        node->emitEndTag(out, top.depth, badName);
        stack.pop_back();
    }
    if (badName.getSize() > 0) {
        if (unwritable)
            unwritable->setString(badName.getString());
        return false;
    }
    return !out.appendFailed() && !badName.appendFailed();
}

} // namespace tessik
