#include "tests/netlib/core/XmlTestSupport.h"

#include <cstdio>
#include <vector>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"

using namespace tessik;

namespace xmltest {

namespace {

std::string esc(const char* p, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) {
        const auto b = static_cast<unsigned char>(p[i]);
        if (b >= 0x20 && b < 0x7F && b != '\\') {
            s += static_cast<char>(b);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            s += hex;
        }
    }
    return s;
}

std::string esc(const StringBuffer& sb) {
    return esc(sb.getString(), sb.getSize());
}

} // namespace

std::string Escaped(std::string_view bytes) {
    return esc(bytes.data(), static_cast<int>(bytes.size()));
}

std::string Dump(const TreeNode* root) {
    std::string out;
    std::vector<std::pair<const TreeNode*, int>> stack{{root, 0}};
    while (!stack.empty()) {
        auto [n, depth] = stack.back();
        stack.pop_back();
        out += std::string(depth * 2, ' ') + Escaped(n->getTag());
        StringBuffer name, value;
        for (int i = 0; n->getAttributes() && n->getAttributes()->getAt(i, name, value); ++i)
            out += " " + esc(name) + "=\"" + esc(value) + "\"";
        out += " |" + esc(n->getContent(), n->getContentSize()) + "|\n";
        for (int i = n->getNumChildren() - 1; i >= 0; --i)
            stack.push_back({n->getChild(i), depth + 1});
    }
    return out;
}

std::string ParseAndDump(const std::string& text, bool trimContent) {
    StringBuffer sb(text.c_str());
    TreeNode* root = nullptr;
    parseXmlText(sb, nullptr, nullptr, &root, trimContent);
    if (!root)
        return "";
    std::string d = Dump(root);
    root->deleteTree();
    return d;
}

} // namespace xmltest
