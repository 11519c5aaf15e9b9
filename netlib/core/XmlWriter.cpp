// TreeNode::serialize: one fixed layout, CR LF line ends and four blanks of
// indentation per level, so a file the library writes is predictable.
#include <cstring>
#include <vector>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"

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

void appendTag(StringBuffer& out, const char* tag) {
    out.append(*tag ? tag : kNoTag);
}

void appendContentEscaped(const char* p, int n, StringBuffer& out) {
    int from = 0;
    for (int i = 0; i < n; ++i) {
        const char* rep;
        switch (p[i]) {
        case '<': rep = "&lt;"; break;
        case '>': rep = "&gt;"; break;
        case '"': rep = "&quot;"; break;
        case '\'': rep = "&apos;"; break;
        case '&': rep = "&amp;"; break;
        default: continue;
        }
        out.appendBytes(p + from, i - from);
        out.append(rep);
        from = i + 1;
    }
    out.appendBytes(p + from, n - from);
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
        out.append("<?xml-stylesheet");
        sheet->m_attributes->serialize(out);
        out.append(" ?>\r\n");
    }
}

void TreeNode::emitDocumentHead(StringBuffer& out, bool noDeclaration) {
    TreeInfo* record = getDocument();
    if (!record)
        return;
    TreeNode* decl = record->getDeclaration();
    if (!noDeclaration && isLive(decl)) {
        out.append("<?xml");
        if (decl->m_attributes) {
            // "standalone" must come last in a declaration.
            StringBuffer standalone;
            if (decl->m_attributes->getValue("standalone", standalone)) {
                decl->m_attributes->remove("standalone");
                decl->m_attributes->add("standalone", standalone.getString());
            }
            decl->m_attributes->serialize(out);
        }
        out.append(" ?>\r\n");
    }
    emitStylesheets(out);
    const StringBuffer* docType = record->getDocTypeText();
    if (docType && docType->getSize() > 0) {
        out.appendSb(*docType);
        out.append("\r\n");
    }
    const StringBuffer* pi = record->getPiText();
    if (pi && pi->getSize() > 0) {
        out.appendSb(*pi);
        out.append("\r\n");
    }
}

bool TreeNode::emitStartTag(StringBuffer& out, int depth) const {
    indent(out, depth);
    out.appendChar('<');
    appendTag(out, getTag());
    if (m_attributes)
        m_attributes->serialize(out);
    if (hasContent() || m_children) {
        out.appendChar('>');
        return true;
    }
    out.append(" />\r\n");
    return false;
}

// A CDATA content holding "]]>" is split into two sections there, so no byte
// is lost and the section cannot end early.
void TreeNode::emitContent(StringBuffer& out) const {
    if (!hasContent())
        return;
    const char* p = m_content->getString();
    const int n = m_content->getSize();
    if (!m_isCdata) {
        appendContentEscaped(p, n, out);
        return;
    }
    out.append("<![CDATA[");
    int from = 0;
    for (const char* hit = std::strstr(p, kCdataEnd); hit; hit = std::strstr(hit + 2, kCdataEnd)) {
        const int at = static_cast<int>(hit - p);
        out.appendBytes(p + from, at + 2 - from);
        out.append("]]><![CDATA[");
        from = at + 2;
    }
    out.appendBytes(p + from, n - from);
    out.append(kCdataEnd);
}

void TreeNode::emitEndTag(StringBuffer& out, int depth) const {
    if (m_children || out.lastChar() == '\n')
        indent(out, depth);
    out.append("</");
    appendTag(out, getTag());
    out.append(">\r\n");
}

// Written with an explicit stack: a deep document must not exhaust the
// call stack.
void TreeNode::serialize(StringBuffer& out, int index, int depth, bool noDeclaration) {
    if (!alive() || !getDocument())
        return;
    struct Frame {
        TreeNode* node;
        int depth;
        int nextChild;
    };
    std::vector<Frame> stack;
    auto open = [&](TreeNode* node, int idx, int d, bool noDecl) {
        if (node->getDocument() && node->getDocument()->getRoot() == node)
            node->emitDocumentHead(out, noDecl);
        if (idx == 0)
            out.append("\r\n");
        if (!node->emitStartTag(out, d))
            return;
        node->emitContent(out);
        stack.push_back({node, d, 0});
    };
    open(this, index, depth, noDeclaration);
    while (!stack.empty()) {
        Frame& top = stack.back();
        TreeNode* node = top.node;
        if (top.nextChild < node->getNumChildren()) {
            const int i = top.nextChild++;
            const int d = top.depth + 1;
            TreeNode* child = node->getChild(i);
            if (isLive(child))
                open(child, i, d, false);
            continue;
        }
        node->emitEndTag(out, top.depth);
        stack.pop_back();
    }
}

} // namespace tessik
