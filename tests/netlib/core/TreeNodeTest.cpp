#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/NamedCodingsHook.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/StringPair.h"
#include "netlib/core/TreeNode.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

struct TreeDeleter {
    void operator()(TreeNode* n) const { n->deleteTree(); }
};
using Tree = std::unique_ptr<TreeNode, TreeDeleter>;

std::string attrsOf(const TreeNode* n) {
    StringBuffer out;
    if (n->getAttributes())
        n->getAttributes()->serialize(out);
    return out.getString();
}

std::string attrValue(const TreeNode* n, const char* name) {
    StringBuffer out("stale");
    return n->getAttrValue(name, out) ? out.getString() : "<absent>";
}

// Stands in for the text layer's decoders so the tree's calls can be seen:
// each decode appends "[name:text]".
bool recordDecode(const char* name, const char* text, DataBuffer& out) {
    std::string s = std::string("[") + name + ":" + text + "]";
    return out.append(s.data(), static_cast<unsigned>(s.size()));
}
const NamedCodings kRecordingCodings = {recordDecode, nullptr};

class RecordingCodings : public ::testing::Test {
protected:
    void SetUp() override { installNamedCodings(&kRecordingCodings); }
    void TearDown() override { installNamedCodings(nullptr); }
    static std::string collected(TreeNode* start, const ExtPtrArray* list) {
        DataBuffer out;
        start->collectBinaryContent(out, list);
        return std::string(reinterpret_cast<const char*>(out.getData()), out.getSize());
    }
};

// root(a(c), b(d)), each node's content its own tag.
Tree smallTree() {
    Tree root(TreeNode::createRoot("root"));
    TreeNode* a = TreeNode::createNode(root.get(), "a");
    TreeNode* b = TreeNode::createNode(root.get(), "b");
    TreeNode* c = TreeNode::createNode(a, "c");
    TreeNode* d = TreeNode::createNode(b, "d");
    for (TreeNode* n : {root.get(), a, b, c, d})
        n->setContent(n->getTag());
    return root;
}

// Tags are mended as attribute names are: name characters only, and "A" in
// front of one a name cannot start with.
TEST(TreeNodeTag, NamesAreMadeValid) {
    Tree root(TreeNode::createRoot(nullptr));
    root->setTag(nullptr); // no buffer yet: nothing changes
    EXPECT_STREQ(root->getTag(), "");
    const struct {
        const char* given;
        const char* stored;
    } cases[] = {
        {"ns:a-b_c.d!\xC3\xA9<> /", "ns:a-b_c.d\xC3\xA9"},
        {"x y", "xy"},
        {"1st", "A1st"},
        {"-dash", "A-dash"},
        {".dot", "A.dot"},
        {"\xCC\x80x", "A\xCC\x80x"}, // a combining mark is a name character, not a first one
        {"\xD9\xA0x", "\xD9\xA0x"},  // the fifth edition's first characters
        {"\xE2\x83\x99x", "\xE2\x83\x99x"},
        // Never renamed beyond ASCII: the writer refuses what no name holds.
        {"bad\xFF\xED\xA0\x80utf8<", "bad\xFF\xED\xA0\x80utf8"},
        {"!!!", ""},
    };
    for (const auto& c : cases) {
        root->setTag(c.given);
        EXPECT_STREQ(root->getTag(), c.stored) << c.given;
    }
}

TEST(TreeNodeContent, NumbersAndTheKeptBuffer) {
    Tree root(TreeNode::createRoot("r"));
    root->setContent(nullptr); // no buffer: stays absent
    EXPECT_FALSE(root->hasContent());
    root->setContent("-42");
    EXPECT_EQ(root->getContentInt(), -42);
    StringBuffer* sb = root->getContentSb();
    ASSERT_NE(sb, nullptr);
    root->setContent(nullptr); // empties, keeps the buffer
    EXPECT_EQ(root->getContentSb(), sb);
    EXPECT_FALSE(root->hasContent());
}

TEST(TreeNodeAttributes, AddedNamesAreMadeValid) {
    struct Case {
        const char* given;
        const char* stored;
    };
    const Case cases[] = {
        {"1st", "A1st"},           {"-dash", "A-dash"}, {".dot", "A.dot"}, {"name", "name"},
        {"has space", "hasspace"}, {"ns:x", "ns:x"},    {"_u", "_u"},
    };
    for (const auto& c : cases) {
        Tree n(TreeNode::createRoot("e"));
        n->addAttribute(c.given, "v");
        EXPECT_EQ(attrsOf(n.get()), std::string(" ") + c.stored + "=\"v\"") << c.given;
    }

    Tree n(TreeNode::createRoot("e"));
    n->addAttribute(nullptr, "v");
    n->addAttribute("", "v");
    n->addAttribute("empty", nullptr);
    EXPECT_EQ(attrsOf(n.get()), " empty=\"\"");
}

// A name added again replaces its value, as an XML reader allows one
// attribute of a name; the mended name counts.
TEST(TreeNodeAttributes, RepeatedNameReplacesItsValue) {
    Tree n(TreeNode::createRoot("e"));
    n->addAttribute("k", "first");
    n->addAttribute("other", "o");
    n->addAttribute("k", "second");
    EXPECT_EQ(n->getAttributes()->getCount(), 2);
    EXPECT_EQ(attrValue(n.get(), "k"), "second");
    n->addAttribute("k!", "third");
    EXPECT_EQ(attrsOf(n.get()), " other=\"o\" k=\"third\"");
    EXPECT_EQ(attrValue(n.get(), "missing"), "<absent>");
    EXPECT_EQ(attrValue(n.get(), "K"), "<absent>"); // names are case-sensitive

    n->updateAttribute("k", "third");
    EXPECT_EQ(attrsOf(n.get()), " other=\"o\" k=\"third\"");

    Tree fresh(TreeNode::createRoot("e"));
    fresh->updateAttribute("1x", "v"); // update does not rename; the writer mends
    EXPECT_EQ(attrValue(fresh.get(), "1x"), "v");
    EXPECT_EQ(attrsOf(fresh.get()), " A1x=\"v\"");
}

TEST(AttributeSet, HasAttrWithValue) {
    AttributeSet set;
    set.add("empty", "");
    set.add("full", "abc");
    struct Case {
        const char* name;
        const char* value;
        bool expected;
    };
    const Case cases[] = {
        {"empty", nullptr, true}, {"full", "", false},    {"full", "ab", false},   {"full", "abcd", false},
        {"full", "ABC", false},   {"missing", "", false}, {nullptr, "abc", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(set.hasAttrWithValue(c.name, c.value), c.expected)
            << (c.name ? c.name : "(null)") << "=" << (c.value ? c.value : "(null)");
    EXPECT_FALSE(set.hasAttr("abc")); // values are never names
}

TEST(AttributeSet, HasAttrWithValueLooksAtEveryAttributeOfTheName) {
    // An earlier attribute whose value is a prefix of the wanted one must
    // not hide a later exact match.
    struct Case {
        std::vector<const char*> stored;
        const char* wanted;
        bool expected;
    };
    const Case cases[] = {
        {{"ab", "abc"}, "abc", true},  {{"", "x"}, "x", true}, {{"abc", "ab"}, "ab", true},
        {{"ab", "abd"}, "abc", false}, {{"x", ""}, "", true},
    };
    for (const auto& c : cases) {
        AttributeSet set;
        for (const char* v : c.stored)
            set.add("dup", v);
        EXPECT_EQ(set.hasAttrWithValue("dup", c.wanted), c.expected) << c.wanted;
    }
}

TEST(AttributeSet, RemoveTakesEveryAttributeOfTheName) {
    AttributeSet set;
    set.add("a", "1");
    set.add("b", "");
    set.add("a", "22");
    set.add("c", "333");
    set.remove("a");
    EXPECT_EQ(set.getCount(), 2);
    StringBuffer out;
    set.serialize(out);
    EXPECT_STREQ(out.getString(), " b=\"\" c=\"333\"");
    set.remove("b");
    set.remove("nothing");
    set.remove(nullptr);
    out.clear();
    set.serialize(out);
    EXPECT_STREQ(out.getString(), " c=\"333\"");

    // One call removes at most 101.
    AttributeSet many;
    for (int i = 0; i < 105; ++i)
        many.add("r", std::to_string(i).c_str());
    many.remove("r");
    EXPECT_EQ(many.getCount(), 4);
    StringBuffer v;
    EXPECT_TRUE(many.getValue("r", v));
    EXPECT_STREQ(v.getString(), "101");
}

// What an XML parser must read back from each written value: the value
// itself, a text that looks like a reference included; characters XML
// cannot carry become U+FFFD.
struct EscapeCase {
    const char* value;
    const char* parsed;
};
const EscapeCase kEscapeCases[] = {
    {"plain", "plain"},
    {"a\"b'c<d>e", "a\"b'c<d>e"},
    {"x & y", "x & y"},
    {"&#38;", "&#38;"},
    {"&#x26;", "&#x26;"},
    {"&#65;&", "&#65;&"},
    {"&#xe9;&#x1F600;", "&#xe9;&#x1F600;"},
    {"&amp;", "&amp;"},
    {"&#", "&#"},
    {"&#0;", "&#0;"},
    {"a\tb\nc\r\nd", "a\tb\nc\r\nd"},
    {"bell\x07 esc\x1b", "bell\xEF\xBF\xBD esc\xEF\xBF\xBD"},
    {"bad\xFF utf8 \xC3", "bad\xEF\xBF\xBD utf8 \xEF\xBF\xBD"},
    {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
    {"nonchar \xEF\xBF\xBE", "nonchar \xEF\xBF\xBD"},
    {"\xC3\xA9\xF0\x9F\x98\x80 \x7F", "\xC3\xA9\xF0\x9F\x98\x80 \x7F"},
};

// python's XML parser reads every written value back as what was meant; an
// ill-formed attribute fails to parse.
TEST(AttributeSet, SerializedValuesParseBackWithPython) {
    std::string doc;
    for (const auto& c : kEscapeCases) {
        AttributeSet set;
        set.add("v", c.value);
        StringBuffer out;
        set.serialize(out);
        doc += std::string("<e") + out.getString() + "/>\n";
    }
    AttributeSet empty;
    StringBuffer out("keep");
    empty.serialize(out);
    EXPECT_STREQ(out.getString(), "keep");

    const auto parsed = grvtest::Python("import sys,xml.etree.ElementTree as E\n"
                                        "for l in sys.stdin.buffer:\n"
                                        "  try: print(E.fromstring(l).get('v').encode().hex())\n"
                                        "  except E.ParseError: print('ill-formed')",
                                        {}, doc);
    ASSERT_EQ(parsed.status, 0) << parsed.err;
    std::istringstream lines(parsed.out);
    for (const auto& c : kEscapeCases) {
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, grvtest::ToHex(reinterpret_cast<const unsigned char*>(c.parsed), std::strlen(c.parsed)))
            << c.value;
    }
}

TEST(TreeNodeChildren, NavigationAndFinding) {
    Tree root(TreeNode::createRoot("root"));
    TreeNode* a1 = TreeNode::createNode(root.get(), "item");
    TreeNode* b = TreeNode::createNode(root.get(), "other");
    TreeNode* a2 = TreeNode::createNode(root.get(), "item");
    a1->setContent("one");
    b->setContent("one");
    a1->addAttribute("type", "cert");
    a2->addAttribute("type", "key");

    StringPair key("type", "key");
    StringPair partial("type", "ke");
    const std::pair<TreeNode*, TreeNode*> found[] = {
        {root->getChild(3), nullptr},
        {root->getChild(-1), nullptr},
        {a1->getIntMember(), b},
        {root->findChild(1, "item"), a2},
        {root->findChild(2, "item"), nullptr},
        {root->findChild(0, nullptr), nullptr},
        {root->findChildByContent(1, "one"), b},
        {root->findChildByContent(0, nullptr), a2},
        {root->findChildWithAttrPair("item", nullptr), a1},
        {root->findChildWithAttrPair("item", &key), a2},
        {root->findChildWithAttrPair("item", &partial), nullptr},
        {root->findChildWithAttrMatch("item", "type", "k*"), a2},
        {root->findChildWithAttrMatch("other", "type", "*"), nullptr},
    };
    for (std::size_t i = 0; i < std::size(found); ++i)
        EXPECT_EQ(found[i].first, found[i].second) << i;
}

TEST(TreeNodeSearch, BreadthFirstOrder) {
    // The node at depth 1 is found before the one deeper in the first branch.
    Tree root(TreeNode::createRoot("root"));
    TreeNode* a = TreeNode::createNode(root.get(), "a");
    TreeNode* deep = TreeNode::createNode(TreeNode::createNode(a, "mid"), "x");
    TreeNode* shallow = TreeNode::createNode(root.get(), "x");
    TreeNode* last = TreeNode::createNode(shallow, "x");
    EXPECT_EQ(root->searchTag(nullptr, "x"), shallow);
    // Levels: root; a, x; mid, x; x.
    EXPECT_EQ(root->searchTag(shallow, "x"), last);
    EXPECT_EQ(root->searchTag(last, "x"), deep);
    EXPECT_EQ(root->searchTag(deep, "x"), nullptr);
    EXPECT_EQ(a->searchTag(nullptr, "x"), deep); // only the subtree
    EXPECT_EQ(shallow->searchTag(nullptr, "x"), shallow);
    EXPECT_EQ(root->searchTag(nullptr, nullptr), nullptr);

    shallow->addAttribute("kind", "leaf-1");
    deep->addAttribute("kind", "leaf-2");
    deep->setContent("payload");
    EXPECT_EQ(root->searchTagAttr(nullptr, "x", "kind", "leaf-*"), shallow);
    EXPECT_EQ(root->searchTagAttr(nullptr, "x", "kind", "*2"), deep);
    EXPECT_EQ(root->searchTagContent(nullptr, "x", "pay*"), deep);
    EXPECT_EQ(root->searchTagContent(nullptr, "x", nullptr), shallow);
}

TEST_F(RecordingCodings, WalkVisitsLevelByLevel) {
    Tree root = smallTree();
    EXPECT_EQ(collected(root.get(), nullptr), "[base64:root][base64:a][base64:b][base64:c][base64:d]");
    EXPECT_EQ(collected(root->getChild(1), nullptr), "[base64:b][base64:d]");
}

TEST_F(RecordingCodings, BinaryContentFromListOrBase64) {
    std::vector<std::unique_ptr<DataBuffer>> parts;
    ExtPtrArray list;
    for (int i = 0; i < 5; ++i) {
        parts.push_back(std::make_unique<DataBuffer>());
        std::string s = "<part" + std::to_string(i) + ">";
        parts.back()->append(s.data(), static_cast<unsigned>(s.size()));
        list.appendPtr(parts.back().get());
    }
    struct Case {
        const char* name;
        const char* content; // null: none
        const char* src;     // null: no attribute
        bool withList;
        const char* expected;
    };
    const Case cases[] = {
        {"index into list", "3", "ext", true, "<part3>"},
        {"no list decodes", "3", "ext", false, "[base64:3]"},
        {"no content is index 0", nullptr, "ext", true, "<part0>"},
        {"out of range", "9", "ext", true, ""},
        {"negative", "-1", "ext", true, ""},
        {"seven bytes", "0000004", "ext", true, "<part4>"},
        {"eight bytes decodes", "00000004", "ext", true, "[base64:00000004]"},
        {"other src", "3", "EXT", true, "[base64:3]"},
        {"no src", "QUJD", nullptr, true, "[base64:QUJD]"},
        {"no content decodes empty", nullptr, nullptr, true, "[base64:]"},
    };
    for (const auto& c : cases) {
        Tree n(TreeNode::createRoot("bin"));
        if (c.content)
            n->setContent(c.content);
        if (c.src)
            n->addAttribute("src", c.src);
        EXPECT_EQ(collected(n.get(), c.withList ? &list : nullptr), c.expected) << c.name;
    }

    // Parts are gathered in walk order.
    Tree root(TreeNode::createRoot("bin"));
    root->setContent("AAAA");
    TreeNode* a = TreeNode::createNode(root.get(), "p");
    TreeNode* b = TreeNode::createNode(root.get(), "p");
    TreeNode::createNode(a, "p")->setContent("BBBB");
    a->setContent("1");
    a->addAttribute("src", "ext");
    b->setContent("2");
    b->addAttribute("src", "ext");
    EXPECT_EQ(collected(root.get(), &list), "[base64:AAAA]<part1><part2>[base64:BBBB]");
}

TEST(TreeNodeAppend, Refusals) {
    Tree root(TreeNode::createRoot("root"));
    TreeNode* a = TreeNode::createNode(root.get(), "a");
    TreeNode* b = TreeNode::createNode(a, "b");
    Tree other(TreeNode::createRoot("other"));
    TreeNode* foreign = TreeNode::createNode(other.get(), "f");

    struct Case {
        const char* name;
        TreeNode* parent;
        TreeNode* child;
    };
    const Case cases[] = {
        {"own child again", root.get(), a},
        {"grandchild", root.get(), b},
        {"ancestor", b, root.get()},
        {"itself", a, a},
        {"child of another tree", root.get(), foreign},
        {"null", root.get(), nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.parent->appendChild(c.child)) << c.name;
        EXPECT_EQ(root->getNumChildren(), 1) << c.name;
        EXPECT_EQ(a->getNumChildren(), 1) << c.name;
        EXPECT_EQ(b->getNumChildren(), 0) << c.name;
        EXPECT_EQ(a->getParentPointerMember(), root.get()) << c.name;
        EXPECT_EQ(foreign->getRoot(), other.get()) << c.name;
    }
    TreeNode* lone = TreeNode::createNode(nullptr, "lone");
    EXPECT_EQ(lone->getRoot(), lone);
    lone->deleteTree();
}

TEST(TreeNodeAppend, MovingARootAcrossCarriesItsReferences) {
    Tree target(TreeNode::createRoot("target"));
    TreeNode* first = TreeNode::createNode(target.get(), "first");
    target->addRef();

    TreeNode* moved = TreeNode::createRoot("moved");
    TreeNode* inner = TreeNode::createNode(moved, "inner");
    moved->setDeclEncoding("utf-8"); // its record's declaration goes with the record
    moved->setDocTypeText("<!DOCTYPE moved>");
    moved->addRef();
    moved->addRef();
    ASSERT_EQ(moved->getDocRefCount(), 2u);

    ASSERT_TRUE(target->appendChild(moved));
    EXPECT_EQ(target->getDocRefCount(), 3u);
    EXPECT_EQ(inner->getDocRefCount(), 3u);
    EXPECT_EQ(inner->getRoot(), target.get());
    EXPECT_EQ(first->getIntMember(), moved);
    StringBuffer enc;
    EXPECT_FALSE(moved->getDeclEncoding(enc)); // the target has no declaration
    EXPECT_EQ(target->getDocument()->getDocTypeText(), nullptr);

    // Once in the tree it cannot be appended again.
    EXPECT_FALSE(first->appendChild(moved));
}

TEST(TreeNodeLifetime, DeletingTheRootDeletesTheRecordNotTheOtherWay) {
    // Leaks or double frees here are reported by the sanitizer.
    TreeNode* root = TreeNode::createRoot("root");
    TreeNode::createNode(root, "a");
    root->setDeclEncoding("utf-8");
    root->setPiText("<?pi x?>");
    TreeNode* sheet = TreeNode::createRoot("xml-stylesheet");
    sheet->addAttribute("href", "s.xsl");
    root->getDocument()->getStylesheets().appendPtr(sheet);
    delete root;

    TreeNode* survivor = TreeNode::createRoot("survivor");
    TreeNode* child = TreeNode::createNode(survivor, "child");
    delete survivor->getDocument();
    EXPECT_EQ(survivor->getMagic(), xmltree::kAlive);
    EXPECT_EQ(child->getDocument(), nullptr);
    EXPECT_EQ(child->getRoot(), nullptr);
    EXPECT_EQ(survivor->getFirstChild(), child);
    delete survivor;
}

TEST(TreeNodeLifetime, DeletingAChildUnlinksIt) {
    Tree root(TreeNode::createRoot("root"));
    TreeNode* a = TreeNode::createNode(root.get(), "a");
    TreeNode* b = TreeNode::createNode(root.get(), "b");
    TreeNode* c = TreeNode::createNode(root.get(), "c");
    TreeNode::createNode(b, "under-b");
    delete b;
    EXPECT_EQ(root->getNumChildren(), 2);
    EXPECT_EQ(root->getChild(1), c);
    EXPECT_EQ(a->getIntMember(), c);
    EXPECT_EQ(root->searchTag(nullptr, "under-b"), nullptr);
}

TEST(TreeNodeLifetime, DeepTreeIsWalkedAndDeletedWithoutRecursion) {
    constexpr int kDepth = 200000;
    TreeNode* root = TreeNode::createRoot("d");
    TreeNode* n = root;
    for (int i = 0; i < kDepth; ++i)
        n = TreeNode::createNode(n, "d");
    n->setTag("bottom");
    EXPECT_EQ(root->searchTag(nullptr, "bottom"), n);
    Tree other(TreeNode::createRoot("other"));
    ASSERT_TRUE(other->appendChild(root)); // re-points every node at the new record
    EXPECT_EQ(n->getRoot(), other.get());
}

TEST(TreeNodeDocument, DeclarationAndTexts) {
    Tree root(TreeNode::createRoot("r"));
    TreeNode* a = TreeNode::createNode(root.get(), "a");
    a->release(); // never below zero
    a->addRef();
    root->addRef();
    a->release();
    EXPECT_EQ(root->getDocRefCount(), 1u);

    StringBuffer out("stale");
    EXPECT_FALSE(a->getStandalone(out));
    a->setDeclEncoding("iso-8859-1");
    a->setDeclEncoding("utf-8");
    EXPECT_TRUE(root->getDeclEncoding(out));
    EXPECT_STREQ(out.getString(), "utf-8");
    EXPECT_FALSE(root->getStandalone(out));
    TreeNode* decl = root->getDocument()->getDeclaration();
    ASSERT_NE(decl, nullptr);
    EXPECT_EQ(attrsOf(decl), " version=\"1.0\" encoding=\"utf-8\"");
    decl->addAttribute("standalone", "yes");
    EXPECT_TRUE(a->getStandalone(out));
    EXPECT_STREQ(out.getString(), "yes");

    TreeInfo* record = root->getDocument();
    a->setDocTypeText("<!DOCTYPE r>");
    a->setPiText("<?app go?>");
    ASSERT_NE(record->getDocTypeText(), nullptr);
    EXPECT_STREQ(record->getDocTypeText()->getString(), "<!DOCTYPE r>");
    EXPECT_STREQ(record->getPiText()->getString(), "<?app go?>");
    a->setDocTypeText("");
    a->setPiText(nullptr);
    EXPECT_EQ(record->getDocTypeText(), nullptr);
    EXPECT_EQ(record->getPiText(), nullptr);
}

TEST(TsQueue, FirstInFirstOut) {
    tessik::_tsQueue q;
    int values[3] = {1, 2, 3};
    EXPECT_FALSE(q.hasItems());
    EXPECT_EQ(q.pop(), nullptr);
    for (int& v : values)
        q.push(&v);
    EXPECT_EQ(q.pop(), &values[0]);
    q.push(&values[0]);
    EXPECT_EQ(q.pop(), &values[1]);
    EXPECT_EQ(q.pop(), &values[2]);
    EXPECT_EQ(q.pop(), &values[0]);
    EXPECT_FALSE(q.hasItems());
    q.push(&values[1]); // left for the destructor, which frees only its items
}

} // namespace
