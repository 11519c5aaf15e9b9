#include "tests/netlib/core/XmlTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <vector>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"
#include "tests/support/TestSupport.h"

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

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty())
            v.push_back(l);
    return v;
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

std::string DataDir() {
    return std::string(GRV_TEST_DATA_DIR) + "/core/xml/";
}

std::vector<std::string> MadeFiles(const char* script, const grvtest::TempDir& dir,
                                   const std::vector<std::string>& more) {
    std::vector<std::string> args{dir.Path()};
    args.insert(args.end(), more.begin(), more.end());
    auto made = grvtest::Python(grvtest::ReadFile(DataDir() + script), args);
    EXPECT_TRUE(made.Ok()) << made.err;
    std::vector<std::string> files;
    for (const std::string& name : lines(made.out))
        files.push_back(dir.File(name));
    return files;
}

namespace {

// xml_dump.py's dumps of the files, its options first.
std::vector<std::string> scriptDumps(const char* option, const std::vector<std::string>& files) {
    std::vector<std::string> args = files;
    if (option)
        args.insert(args.begin(), option);
    auto r = grvtest::Python(grvtest::ReadFile(DataDir() + "xml_dump.py"), args);
    EXPECT_TRUE(r.Ok()) << r.err;
    std::vector<std::string> dumps{""};
    for (const std::string& l : lines(r.out)) {
        if (l == "==")
            dumps.emplace_back();
        else
            dumps.back() += l + "\n";
    }
    return dumps;
}

} // namespace

std::vector<std::string> ExpatDumps(const std::vector<std::string>& files, bool asUtf8) {
    return scriptDumps(asUtf8 ? "--as-utf8" : nullptr, files);
}

std::vector<std::string> Libxml2Reads(const std::vector<std::string>& files) {
    return scriptDumps("--libxml2", files);
}

std::vector<std::string> Libxml2Dumps(const std::vector<std::string>& files) {
    std::vector<std::string> rewritten;
    for (const std::string& f : files) {
        const auto lint = grvtest::RunProgram({"xmllint", "--nonet", "--encode", "utf-8", f});
        EXPECT_TRUE(lint.Ok() && lint.err.empty()) << f << ": " << lint.err;
        rewritten.push_back(f + ".libxml2.xml");
        EXPECT_TRUE(grvtest::WriteFile(rewritten.back(), lint.out));
    }
    return ExpatDumps(rewritten);
}

} // namespace xmltest
