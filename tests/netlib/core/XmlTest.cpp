// The XML parser's lenient rules, the writer's fixed layout, the path
// queries and the byte contents of the XML component.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"
#include "tests/netlib/core/XmlTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;
using xmltest::ParseAndDump;

namespace {

struct ParseCase {
    const char* text;
    bool trim;
    const char* dump; // "" for no root
};

TEST(XmlParser, LenientRulesGiveTheseTrees) {
    const ParseCase cases[] = {
        // Entities are decoded once, per text run.
        {"<a>AT&amp;T &lt;x&gt;</a>", true, "a |AT&T <x>|\n"},
        {"<a>&amp;lt;</a>", true, "a |&lt;|\n"},
        {"<a>x&amp;amp;<b/>&amp;lt;y</a>", true, "a |x&amp; &lt;y|\n  b ||\n"},
        {"<a>&#65;&#x1F600;&#0;&bogus;&#xZ;</a>", true, "a |A\\xf0\\x9f\\x98\\x80&#0;&bogus;&#xZ;|\n"},
        {"<a v='&amp;lt;&#x41;' w=\"a\r\n\tb\"/>", true, "a v=\"&lt;A\" w=\"a  b\" ||\n"},
        // Whitespace: trimmed or held; runs around children join with a blank.
        {"<a> x </a>", true, "a |x|\n"},
        {"<a> x </a>", false, "a | x |\n"},
        {"<a>x<b/>y</a>", true, "a |x y|\n  b ||\n"},
        {"<a>x<b/> y</a>", false, "a |x  y|\n  b ||\n"},
        // CDATA is kept whole; text after it joins it.
        {"<a><![CDATA[1]]2]]>tail</a>", true, "a |1]]2tail|\n"},
        {"<a><![CDATA[x]]><![CDATA[<y>]]></a>", true, "a |x<y>|\n"},
        {"<a><![CDATA[cut", true, "a |cut|\n"},
        // Damage the parser survives.
        {"<a><b></c>text</a>", true, "a |text|\n  b ||\n"},
        {"<a/><b/>", true, "b ||\n"},
        {"<a><b>", true, "a ||\n  b ||\n"},
        {"<!-- open <a/>", true, ""},
        {"<a><!-- never", true, "a ||\n"},
        {"<a x=1>y</a>", true, "a x=\"1>y</a>\" ||\n"},
        {"<a x=1 '>y</a>", true, "a x=\"1 \" |y|\n"},
        {"<1st -b=\"v\" 2=\"w\" c>t</1st>", true, "A1st A-b=\"v\" A2=\"w\" c=\"\" |t|\n"},
        {"junk<?pi x?><!DOCTYPE r [<!ENTITY e \"v\">]><!x><r/>trailing", true, "r ||\n"},
        {"", true, ""},
        {"<", true, ""},
        {"<a", true, ""},
    };
    for (const ParseCase& c : cases)
        EXPECT_EQ(ParseAndDump(c.text, c.trim), c.dump) << c.text;
}

TEST(XmlParser, LogsTheThreeKindsOfDamage) {
    struct LogCase {
        const char* text;
        std::vector<std::string> lines;
    } cases[] = {
        {"<a><b></a<c/></b></a>", {xml_msg::kClosingTagError, "error_tag: b"}},
        {"<a><!-- x", {xml_msg::kUnclosedComment}},
        {"<!DOCTYPE a [<!ELEMENT a ANY>", {xml_msg::kFailedDtd}},
    };
    for (const LogCase& c : cases) {
        Logger log;
        TreeNode* root = nullptr;
        parseXmlText(StringBuffer(c.text), &log, nullptr, &root, true);
        StringBuffer text;
        log.getLogText(text);
        for (const std::string& want : c.lines)
            EXPECT_NE(std::string(text.getString()).find(want), std::string::npos) << text.getString();
        if (root)
            root->deleteTree();
    }
}

std::string written(const char* text) {
    ClsXml xml;
    EXPECT_TRUE(xml.LoadXml(text, true)) << text;
    StringBuffer out;
    xml.getXmlSb(out);
    return out.getString();
}

TEST(XmlWriter, FixedLayout) {
    struct WriteCase {
        const char* text;
        const char* out;
    } cases[] = {
        {"<?xml version=\"1.0\" encoding=\"utf-8\"?><root><a>x</a><b/></root>",
         "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\r\n\r\n<root>\r\n    <a>x</a>\r\n    <b />\r\n</root>\r\n"},
        {"<a>a&lt;b</a>", "\r\n<a>a&lt;b</a>\r\n"},
        {"<a v='&#65;&amp;' w='&quot;&apos;'/>", "\r\n<a v=\"A&amp;\" w=\"&quot;&apos;\" />\r\n"},
        {"<?xml version='1.0' standalone='yes'?><?xml-stylesheet href='s.xsl'?><!DOCTYPE a><?app go?><a/>",
         "<?xml version=\"1.0\" standalone=\"yes\" ?>\r\n<?xml-stylesheet href=\"s.xsl\" ?>\r\n<!DOCTYPE a>\n\r\n"
         "<?app go?>\n\r\n\r\n<a />\r\n"},
        // The last root keeps the instructions read before it ended.
        {"<?a?><x/><?b?><y/><?c?><?open", "<?a?>\n<?b?>\n\r\n\r\n<y />\r\n"},
        // "]]>" inside a CDATA content splits the section; nothing is dropped.
        {"<a><![CDATA[x]]]]><![CDATA[>y]]></a>", "\r\n<a><![CDATA[x]]]]><![CDATA[>y]]></a>\r\n"},
    };
    for (const WriteCase& c : cases)
        EXPECT_EQ(written(c.text), c.out) << c.text;
}

TEST(XmlWriter, DeepTreeNeedsNoDeepStack) {
    std::string text;
    for (int i = 0; i < 50000; ++i)
        text += "<d>";
    ClsXml xml;
    ASSERT_TRUE(xml.LoadXml(text.c_str(), true));
    StringBuffer out;
    ASSERT_TRUE(xml.getXmlSb(out));
    // Each element but the innermost, empty one has two tags.
    EXPECT_EQ(StringBuffer(out).countChar('<'), 99999);
}

// An ASN.1-shaped tree like the one the certificate code walks.
const char* const kCert =
    "<sequence><sequence><contextSpecific tag='0'><int>2</int></contextSpecific><int>4711</int>"
    "<sequence><oid>1.2.840</oid></sequence>"
    "<sequence><set><sequence><oid>2.5.4.3</oid><utf8>Example CA</utf8></sequence></set></sequence>"
    "<sequence><utc>250101</utc></sequence><sequence><set/></sequence><sequence><bits n='1'>00ff</bits></sequence>"
    "<contextSpecific tag='3'><sequence><ext>x</ext></sequence></contextSpecific></sequence>"
    "<sequence><oid>sig</oid></sequence></sequence>";

TEST(XmlPath, QueriesOfTheCertificateCodeAndTheEdgeCases) {
    struct PathCase {
        const char* path;
        bool ok;
        const char* out;
        const char* tagAfter; // the current node's tag afterwards
    } cases[] = {
        {"sequence|int|*", true, "4711", "sequence"},
        {"sequence|sequence[1]|$", true, "", "sequence"},
        {"sequence|sequence[4]|bits|*", true, "00ff", "sequence"},
        {"sequence|sequence[4]|bits|(n)", true, "1", "sequence"},
        {"sequence|sequence[4]|bits|(n", true, "1", "sequence"},
        {"sequence|/A/contextSpecific,tag,3|sequence|ext|*", true, "x", "sequence"},
        {"sequence|contextSpecific|int|*", true, "2", "sequence"},
        {"/C/oid,2.5.4.3|..|utf8|*", true, "Example CA", "sequence"},
        {"/C/oid,2.5.*|..|utf8|*", true, "Example CA", "sequence"},
        {"/C/oid,9.9|..|utf8|*", false, "", "sequence"},
        {"/T/utf8|*", true, "Example CA", "sequence"},
        {"/T/sequence|*", true, "", "sequence"},
        {"/A/contextSpecific,tag", false, "", "sequence"},
        {"sequence|sequence", false, "", "sequence"},
        {"sequence|nothere|*", false, "", "sequence"},
        {"sequence|{4711}|*", true, "4711", "sequence"},
        {"sequence|{4711|*", false, "", "sequence"},
        {"sequence|int|", true, "", "sequence"},
        {"*", true, "", "sequence"},
        {"$", true, "", "sequence"},
        {"|sequence|sequence[1]|set|sequence|oid|$", true, "", "oid"},
    };
    for (const PathCase& c : cases) {
        ClsXml xml;
        ASSERT_TRUE(xml.LoadXml(kCert, true));
        XString path, out;
        path.setFromUtf8(c.path);
        EXPECT_EQ(xml.TessikPath(path, out), c.ok) << c.path;
        EXPECT_STREQ(out.getUtf8(), c.out) << c.path;
        EXPECT_STREQ(xml.getTagPtr(), c.tagAfter) << c.path;
    }
    // "|..|utf8|*" from a node moved to by "$" goes up and back down.
    ClsXml xml;
    ASSERT_TRUE(xml.LoadXml(kCert, true));
    XString path, out;
    path.setFromUtf8("sequence|sequence[1]|set|sequence|oid|$");
    ASSERT_TRUE(xml.TessikPath(path, out));
    path.setFromUtf8("|..|utf8|*");
    ASSERT_TRUE(xml.TessikPath(path, out));
    EXPECT_STREQ(out.getUtf8(), "Example CA");
}

// The certificate code's path forms, on a tree built node by node: each row
// is a node's depth, tag, content and an optional attribute.
TEST(XmlPath, CertificateFormsOnAHandBuiltTree) {
    struct Row {
        int depth;
        const char* tag;
        const char* content;
        const char* attr; // "name=value" or null
    } rows[] = {
        {1, "sequence", "", nullptr},
        {2, "int", "7", nullptr},
        {2, "sequence", "", nullptr},
        {2, "sequence", "", nullptr},
        {3, "set", "", nullptr},
        {4, "sequence", "", nullptr},
        {5, "oid", "2.5.4.3", nullptr},
        {5, "printable", "CN", nullptr},
        {4, "sequence", "", nullptr},
        {5, "oid", "2.5.4.10", nullptr},
        {5, "utf8", "Org", nullptr},
        {4, "sequence", "", nullptr},
        {5, "oid", "2.5.4.11", nullptr},
        {5, "ia5", "OU", nullptr},
        {4, "sequence", "", nullptr},
        {5, "oid", "2.5.4.7", nullptr},
        {5, "t61", "L", nullptr},
        {4, "sequence", "", nullptr},
        {5, "oid", "2.5.4.8", nullptr},
        {5, "universal", "ST", nullptr},
        {4, "sequence", "", nullptr},
        {5, "oid", "1.2.3", nullptr},
        {5, "octets", "AQI=", nullptr},
        {2, "sequence", "", nullptr},
        {2, "sequence", "", nullptr},
        {3, "bits", "0101", nullptr},
        {2, "contextSpecific", "", "tag=3"},
        {3, "sequence", "", nullptr},
        {4, "ext", "e", nullptr},
        {1, "contextSpecific", "", "tag=0"},
        {2, "sequence", "", nullptr},
        {3, "contextSpecific", "", nullptr},
        {4, "sequence", "", nullptr},
        {5, "deep", "d", nullptr},
    };
    ClsXml root;
    root.setTag("sequence");
    std::vector<ClsXml*> open{&root};
    std::vector<std::unique_ptr<ClsXml>> owned;
    for (const Row& r : rows) {
        open.resize(r.depth);
        ClsXml* node = open.back()->newChild(r.tag, r.content);
        ASSERT_NE(node, nullptr);
        owned.emplace_back(node);
        if (r.attr) {
            std::string a(r.attr);
            node->addAttribute(a.substr(0, a.find('=')).c_str(), a.substr(a.find('=') + 1).c_str());
        }
        open.push_back(node);
    }
    struct Query {
        const char* path;
        const char* out;
        const char* firstChildTag; // of the node "$" moved to
    } queries[] = {
        {"sequence|int|*", "7", nullptr},
        {"sequence|sequence[1]|$", "", "set"},
        {"sequence|sequence[3]|$", "", "bits"},
        {"sequence|sequence[3]|bits|*", "0101", nullptr},
        {"sequence|/A/contextSpecific,tag,3|sequence|$", "", "ext"},
        {"contextSpecific|sequence|contextSpecific|sequence|$", "", "deep"},
        {"/C/oid,2.5.4.3|..|printable|*", "CN", nullptr},
        {"/C/oid,2.5.4.10|..|utf8|*", "Org", nullptr},
        {"/C/oid,2.5.4.11|..|ia5|*", "OU", nullptr},
        {"/C/oid,2.5.4.7|..|t61|*", "L", nullptr},
        {"/C/oid,2.5.4.8|..|universal|*", "ST", nullptr},
        {"/C/oid,1.2.3|..|octets|*", "AQI=", nullptr},
    };
    for (const Query& q : queries) {
        ClsXml* x = root.newRefToSelf();
        XString path, out;
        path.setFromUtf8(q.path);
        EXPECT_TRUE(x->TessikPath(path, out)) << q.path;
        EXPECT_STREQ(out.getUtf8(), q.out) << q.path;
        if (q.firstChildTag) {
            ClsXml* child = x->getFirstChild();
            ASSERT_NE(child, nullptr) << q.path;
            EXPECT_STREQ(child->getTagPtr(), q.firstChildTag) << q.path;
            delete child;
        }
        delete x;
    }
}

TEST(XmlComponent, SharedTreeLivesUntilTheLastHolderGoes) {
    auto* xml = new ClsXml();
    ASSERT_TRUE(xml->LoadXml("<r><a>1</a><b>2</b></r>", true));
    ClsXml* b = xml->getChild(1);
    ClsXml* built = xml->newChild("new tag", "3");
    ASSERT_TRUE(b && built);
    EXPECT_EQ(xml->getCurrentNode()->getDocRefCount(), 3u);
    delete xml;
    EXPECT_TRUE(b->navigateToParent());
    EXPECT_EQ(b->getNumChildren(), 3);
    EXPECT_TRUE(b->childContentEquals("new_tag", "3"));
    delete b;
    EXPECT_TRUE(built->contentEquals("3"));
    delete built;
}

// Stands in for the streams layer's raw inflate until it is installed.
bool zlibInflate(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    grvtest::Bytes plain;
    const bool ok = grvtest::InflateRaw(grvtest::Bytes(in.getData(), in.getData() + in.getSize()), &plain);
    out.append(plain.data(), static_cast<unsigned>(plain.size()));
    if (!ok)
        log.logError("Deflated data ended prematurely.");
    return ok;
}

TEST(XmlComponent, GetBinaryContentDecodesAndInflatesThroughItsHooks) {
    const std::string text = "payload payload payload payload";
    // python's zlib deflates, raw (window bits -15).
    auto peer = grvtest::Python("import sys,zlib\nc=zlib.compressobj(9,zlib.DEFLATED,-15)\n"
                                "sys.stdout.write((c.compress(sys.argv[1].encode())+c.flush()).hex())",
                                {text});
    ASSERT_TRUE(peer.Ok()) << peer.err;
    grvtest::Bytes deflated;
    for (size_t i = 0; i + 1 < peer.out.size(); i += 2)
        deflated.push_back(static_cast<std::uint8_t>(std::stoi(peer.out.substr(i, 2), nullptr, 16)));

    ClsXml xml;
    DataBuffer bytes;
    bytes.append(deflated.data(), static_cast<unsigned>(deflated.size()));
    xml.addNewChildBase64("compressedDer", bytes);
    ASSERT_TRUE(xml.navigateToFirstChild());

    DataBuffer out;
    installXmlBinaryHooks(nullptr);
    EXPECT_FALSE(xml.GetBinaryContent(out, true, false, nullptr));
    XString log;
    xml.getLastErrorText(log, false);
    EXPECT_NE(std::string(log.getUtf8()).find(xml_msg::kNoInflate), std::string::npos);
    EXPECT_FALSE(xml.GetBinaryContent(out, false, true, "pw"));

    static const XmlBinaryHooks hooks{zlibInflate, nullptr};
    installXmlBinaryHooks(&hooks);
    ASSERT_TRUE(xml.GetBinaryContent(out, true, false, nullptr));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(out.getData()), out.getSize()), text);
    // Cut-off deflate data: false, and what was inflated stays.
    DataBuffer cut;
    cut.append(deflated.data(), static_cast<unsigned>(deflated.size() - 4));
    ClsXml broken;
    broken.addNewChildBase64("d", cut);
    ASSERT_TRUE(broken.navigateToFirstChild());
    EXPECT_FALSE(broken.GetBinaryContent(out, true, false, nullptr));
    installXmlBinaryHooks(nullptr);

    ClsXml empty;
    DataBuffer untouched;
    untouched.appendStr("kept");
    EXPECT_TRUE(empty.GetBinaryContent(untouched, true, true, "pw"));
    EXPECT_EQ(untouched.getSize(), 4u);
}

} // namespace
