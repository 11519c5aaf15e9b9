// Writes what it read and holds the writing to a reference: libxml2 (the
// system's, whose names are XML 1.0's fifth edition's, as the writer's are)
// must read it as well-formed XML, and reading it again
// and writing it once more must give the same bytes. The first byte picks
// the road: even, the rest is a document read by the lenient reader (both
// ways, trimmed and not); odd, the rest builds a tree through the element
// tree's own calls, pieces split at zero bytes, each piece's first byte
// the call (so names, values, contents and head texts hold any bytes). A
// tree holding a name with a character beyond ASCII that no XML name holds
// is not written, and the name it gives must be one.
#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlChars.h"
#include "netlib/core/XmlParser.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

namespace {

constexpr std::size_t kMaxInput = 1 << 18;

[[noreturn]] void fail(const char* what, const StringBuffer& text) {
    std::fprintf(stderr, "%s\n----\n%.*s\n----\n", what, text.getSize(), text.getString());
    std::abort();
}

// The writer's text is UTF-8 whatever charset its declaration names.
void expectWellFormed(const StringBuffer& text) {
    xmlDocPtr doc = xmlReadMemory(text.getString(), text.getSize(), "written.xml", "UTF-8",
                                  XML_PARSE_NONET | XML_PARSE_IGNORE_ENC | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                                      XML_PARSE_HUGE);
    const bool ok = doc != nullptr;
    xmlFreeDoc(doc);
    if (!ok)
        fail("written text is not well-formed", text);
}

void judge(TreeNode* root, bool trim) {
    StringBuffer first;
    StringBuffer unwritable;
    if (!root->serialize(first, 0, 0, false, &unwritable)) {
        if (xmlchars::nonAsciiAreNameChars(unwritable.getString(), unwritable.getSize()))
            fail("a name was not written that is one", unwritable);
        return;
    }
    expectWellFormed(first);
    TreeNode* again = nullptr;
    parseXmlText(first, nullptr, nullptr, &again, trim);
    if (!again)
        fail("written text reads back to no tree", first);
    StringBuffer second;
    again->serialize(second, 0, 0, false);
    again->deleteTree();
    if (second.getSize() != first.getSize() || std::memcmp(second.getString(), first.getString(), first.getSize()) != 0)
        fail("written text reads back to a tree written otherwise", second);
}

void readDocument(const std::uint8_t* data, std::size_t size) {
    DataBuffer bytes;
    bytes.append(data, static_cast<unsigned>(size));
    if (!prepareXmlBytes(bytes))
        return;
    for (bool trim : {true, false}) {
        ParseEngine engine(bytes);
        TreeNode* root = nullptr;
        parseXml(engine, nullptr, nullptr, &root, trim);
        if (!root)
            continue;
        judge(root, trim);
        root->deleteTree();
    }
}

void buildTree(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> pieces{""};
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            pieces.emplace_back();
        else
            pieces.back() += static_cast<char>(data[i]);
    }
    TreeNode* root = TreeNode::createRoot("r");
    TreeNode* at = root;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::string& piece = pieces[i];
        if (piece.empty())
            continue;
        const char* arg = piece.c_str() + 1;
        const char* next = i + 1 < pieces.size() ? pieces[i + 1].c_str() : "";
        switch (static_cast<unsigned char>(piece[0]) % 10) {
        case 0: at = TreeNode::createNode(at, arg); break;
        case 1: at->setTag(arg); break;
        case 2: at->addAttribute(arg, next); break;
        case 3:
            // Straight into the set, as other code may: names and repeats as given.
            if (!at->getAttributes())
                at->addAttribute("a", "");
            at->getAttributes()->add(arg, next);
            break;
        case 4: at->setContent(arg); break;
        case 5:
            at->getContentSb()->append(arg);
            at->setCdata();
            break;
        case 6:
            if (at->getParentPointerMember())
                at = at->getParentPointerMember();
            break;
        case 7: root->setDocTypeText(arg); break;
        case 8: root->setPiText(arg); break;
        default: {
            TreeNode* decl = TreeNode::createRoot("xml");
            decl->addAttribute("version", arg);
            decl->addAttribute("encoding", next);
            decl->addAttribute(next, arg);
            root->getDocument()->setDeclaration(decl);
        }
        }
        if (!at)
            at = root;
    }
    judge(root, false);
    judge(root, true);
    root->deleteTree();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool installed = [] {
        installTextServices();
        return true;
    }();
    (void)installed;
    if (size == 0 || size > kMaxInput)
        return 0;
    if (data[0] % 2 == 0)
        readDocument(data + 1, size - 1);
    else
        buildTree(data + 1, size - 1);
    return 0;
}
