// A parsed tree lives in its parse's arena; the tree's calls must work on it
// as on a tree built call by call. Each case makes the same changes to the
// tree parsed from a text and to a copy of it built through the calls, and
// both must be written the same; the sanitizers watch the arena's lifetime
// as nodes are deleted one by one, trees move into others and outlive the
// parse that made them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"

using namespace tessik;

namespace {

const char* const kDocument = "<?xml version=\"1.0\"?><r id=\"1\" kind=\"root\"><a x=\"1\" y=\"2\">text</a>"
                              "<b><![CDATA[data]]><c n=\"7\">42</c><c/></b><d>tail &amp; more</d></r>";

TreeNode* parsed(const char* text) {
    TreeNode* root = nullptr;
    parseXmlText(StringBuffer(text), nullptr, nullptr, &root, true);
    return root;
}

// The same tree through the calls alone, on the heap.
void copyInto(const TreeNode* from, TreeNode* to) {
    StringBuffer name, value;
    for (int i = 0; from->getAttributes() && from->getAttributes()->getAt(i, name, value); ++i)
        to->addAttribute(name.getString(), value.getString());
    to->setContent(from->getContent());
    if (from->isCdata())
        to->setCdata();
    for (int i = 0; i < from->getNumChildren(); ++i)
        copyInto(from->getChild(i), TreeNode::createNode(to, from->getChild(i)->getTag()));
}

TreeNode* builtByCalls(const TreeNode* from) {
    TreeNode* root = TreeNode::createRoot(from->getTag());
    copyInto(from, root);
    return root;
}

std::string written(TreeNode* root) {
    StringBuffer out;
    root->serialize(out, 0, 0, true);
    return out.getString();
}

TreeNode* childAt(TreeNode* root, std::vector<int> path) {
    TreeNode* n = root;
    for (int i : path)
        n = n->getChild(i);
    return n;
}

struct Change {
    const char* what;
    // Changes the tree and gives back the node to write (the root, or the
    // tree the root moved into).
    std::function<TreeNode*(TreeNode*)> apply;
};

const Change kChanges[] = {
    {"nothing", [](TreeNode* r) { return r; }},
    {"tag and content",
     [](TreeNode* r) {
         childAt(r, {0})->setTag("renamed");
         childAt(r, {0})->setContent("new text");
         childAt(r, {2})->getContentSb()->append(" appended");
         childAt(r, {1, 0})->setContent(nullptr);
         return r;
     }},
    {"attributes",
     [](TreeNode* r) {
         TreeNode* a = childAt(r, {0});
         a->addAttribute("z", "3");
         a->addAttribute("x", "again");
         a->updateAttribute("y", "updated");
         r->getAttributes()->remove("kind");
         childAt(r, {1, 0})->getAttributes()->add("n", "repeat");
         return r;
     }},
    {"children added",
     [](TreeNode* r) {
         for (int i = 0; i < 40; ++i)
             TreeNode::createNode(r, "more")->setContent(std::to_string(i).c_str());
         TreeNode::createNode(childAt(r, {0}), "under")->addAttribute("k", "v");
         return r;
     }},
    {"children deleted",
     [](TreeNode* r) {
         delete childAt(r, {1, 1});
         delete childAt(r, {0});
         return r;
     }},
    {"moved into another tree",
     [](TreeNode* r) {
         TreeNode* host = TreeNode::createRoot("host");
         TreeNode::createNode(host, "first");
         host->appendChild(r);
         return host;
     }},
};

TEST(TreeNodeArena, ParsedTreesTakeEveryChangeAsBuiltOnesDo) {
    for (const Change& c : kChanges) {
        SCOPED_TRACE(c.what);
        TreeNode* fromParse = parsed(kDocument);
        ASSERT_NE(fromParse, nullptr);
        TreeNode* fromCalls = builtByCalls(fromParse);
        EXPECT_EQ(written(fromParse), written(fromCalls));
        TreeNode* a = c.apply(fromParse);
        TreeNode* b = c.apply(fromCalls);
        EXPECT_EQ(written(a), written(b));
        EXPECT_EQ(childAt(a, {})->getContentInt(), childAt(b, {})->getContentInt());
        a->deleteTree();
        b->deleteTree();
    }
}

// Content the parser left in the arena reads as any other: its number, its
// size, and a buffer to change that no longer shares the arena's bytes.
TEST(TreeNodeArena, ArenaContentReadsAndChangesLikeABuffer) {
    TreeNode* root = parsed("<r><n>  -42 </n><e></e></r>");
    ASSERT_NE(root, nullptr);
    TreeNode* n = root->getChild(0);
    EXPECT_EQ(n->getContentInt(), -42);
    EXPECT_EQ(n->getContentSize(), 3);
    StringBuffer* sb = n->getContentSb();
    sb->append("0");
    EXPECT_STREQ(n->getContent(), "-420");
    EXPECT_EQ(n->getContentSb(), sb);
    EXPECT_FALSE(root->getChild(1)->hasContent());
    root->deleteTree();
}

// Trees from parses on other threads go on threads of their own.
TEST(TreeNodeArena, TreesOfManyParsesGoOnManyThreads) {
    std::vector<TreeNode*> trees;
    for (int i = 0; i < 8; ++i)
        trees.push_back(parsed(kDocument));
    TreeNode* host = TreeNode::createRoot("host");
    host->appendChild(trees[0]);
    std::vector<std::thread> threads;
    for (int i = 1; i < 8; ++i)
        threads.emplace_back([tree = trees[i]] { tree->deleteTree(); });
    for (auto& t : threads)
        t.join();
    EXPECT_NE(written(host).find("<r id=\"1\" kind=\"root\">"), std::string::npos);
    host->deleteTree();
}

} // namespace
