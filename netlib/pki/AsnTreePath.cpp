#include "netlib/pki/AsnTreePath.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TreeNode.h"
#include "netlib/pki/PkiConstants.h"

namespace tessik {

namespace {

TreeNode* searchContent(TreeNode* from, const char* tag, const char* text) {
    for (TreeNode* n = from->searchTag(nullptr, tag); n; n = from->searchTag(n, tag))
        if (std::strcmp(n->getContent(), text) == 0)
            return n;
    return nullptr;
}

TreeNode* searchAttr(TreeNode* from, const char* tag, const char* attr, const char* value) {
    for (TreeNode* n = from->searchTag(nullptr, tag); n; n = from->searchTag(n, tag))
        if (n->hasAttrWithValue(attr, value))
            return n;
    return nullptr;
}

// One step; null when it leads nowhere.
TreeNode* step(TreeNode* node, const StringBuffer& piece, LogBase& log) {
    const char* s = piece.getString();
    if (piece.equals(".."))
        return node->getParentPointerMember();
    if (piece.beginsWith("/T/"))
        return node->searchTag(nullptr, s + 3);
    if (piece.beginsWith("/C/")) {
        StringBuffer name(s + 3);
        const char* comma = std::strchr(s + 3, ',');
        if (!comma)
            return nullptr;
        name.chopAtFirstChar(',');
        return searchContent(node, name.getString(), comma + 1);
    }
    if (piece.beginsWith("/A/")) {
        const char* first = std::strchr(s + 3, ',');
        const char* second = first ? std::strchr(first + 1, ',') : nullptr;
        if (!second) {
            log.logData(x509_msg::kInvalidCmd, s);
            return nullptr;
        }
        StringBuffer name, attr;
        name.appendBytes(s + 3, static_cast<int>(first - (s + 3)));
        attr.appendBytes(first + 1, static_cast<int>(second - (first + 1)));
        return searchAttr(node, name.getString(), attr.getString(), second + 1);
    }
    const char* open = std::strchr(s, '[');
    if (open && piece.lastChar() == ']') {
        StringBuffer name;
        name.appendBytes(s, static_cast<int>(open - s));
        return node->findChild(std::atoi(open + 1), name.getString());
    }
    return node->findChild(0, s);
}

} // namespace

TreeNode* copyAsnElement(const TreeNode* element, TreeNode* parent) {
    if (!element)
        return nullptr;
    TreeNode* copy = TreeNode::createNode(parent, element->getTag());
    if (!copy)
        return nullptr;
    for (const char* attr : {"tag", "constructed", "n", "src"}) {
        StringBuffer value;
        if (element->getAttrValue(attr, value))
            copy->addAttribute(attr, value.getString());
    }
    if (element->hasContent())
        copy->setContent(element->getContent());
    for (int i = 0; i < element->getNumChildren(); ++i)
        copyAsnElement(element->getChild(i), copy);
    return copy;
}

bool resolveTreePath(TreeNode*& current, const char* path, StringBuffer& out, LogBase& log) {
    out.clear();
    if (!current || !path)
        return false;
    StringBuffer whole(path);
    ExtPtrArray pieces;
    pieces.setOwnsObjects(true);
    whole.split(pieces, '|', false, false);
    int count = pieces.getCount();
    if (count == 0)
        return true;
    TreeNode* node = current;
    for (int i = 0; i < count - 1; ++i) {
        auto* piece = static_cast<StringBuffer*>(pieces.elementAt(i));
        if (piece->getSize() == 0)
            continue;
        node = step(node, *piece, log);
        if (!node)
            return false;
    }
    auto* last = static_cast<StringBuffer*>(pieces.elementAt(count - 1));
    if (last->getSize() == 0)
        return true;
    if (last->equals("*")) {
        out.append(node->getContent());
        return true;
    }
    if (last->equals("$")) {
        current = node;
        return true;
    }
    if (last->beginsWith("(") && last->lastChar() == ')') {
        StringBuffer attr(last->getString() + 1);
        attr.shorten(1);
        return node->getAttrValue(attr.getString(), out);
    }
    return false;
}

} // namespace tessik
