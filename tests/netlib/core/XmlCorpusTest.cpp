// Whole documents judged by python's xml.etree and xmllint: a corpus in
// several encodings parses to the trees etree reads, and what the library
// writes back passes xmllint and reads back to the same trees.
#include <gtest/gtest.h>

#include <sstream>

#include "netlib/core/ClsXml.h"
#include "tests/netlib/core/XmlTestSupport.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

const std::string kXmlData = std::string(GRV_TEST_DATA_DIR) + "/core/xml/";

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> v;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);)
        if (!l.empty())
            v.push_back(l);
    return v;
}

// The etree dumps of the files, in order.
std::vector<std::string> peerDumps(const std::vector<std::string>& files) {
    auto r = grvtest::Python(grvtest::ReadFile(kXmlData + "xml_dump.py"), files);
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

std::string loadAndDump(const std::string& path) {
    ClsXml xml;
    if (!xml.LoadXmlFile(path.c_str(), false))
        return "<load failed>";
    return xmltest::Dump(xml.getCurrentNode());
}

TEST(XmlCorpus, ParsesLikeEtreeAndWritesWhatXmllintAndEtreeReadBack) {
    grvtest::TempDir dir("xmlcorpus");
    auto made = grvtest::Python(grvtest::ReadFile(kXmlData + "make_corpus.py"), {dir.Path()});
    ASSERT_TRUE(made.Ok()) << made.err;
    std::vector<std::string> files;
    for (const std::string& name : lines(made.out))
        files.push_back(dir.File(name));
    ASSERT_GE(files.size(), 9u);

    const auto expected = peerDumps(files);
    ASSERT_EQ(expected.size(), files.size());
    std::vector<std::string> saved;
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i]);
        EXPECT_EQ(loadAndDump(files[i]), expected[i]);
        // Mixed content is written with line breaks that become part of it.
        if (files[i].find("mixed") != std::string::npos)
            continue;
        ClsXml xml;
        ASSERT_TRUE(xml.LoadXmlFile(files[i].c_str(), false));
        const std::string out = files[i] + ".saved.xml";
        ASSERT_TRUE(xml.SaveXml(out.c_str()));
        auto lint = grvtest::RunPeer({"xmllint", "--noout", out});
        EXPECT_TRUE(lint.Ok()) << lint.out;
        EXPECT_EQ(loadAndDump(out), expected[i]);
        saved.push_back(out);
    }
    // etree reads the written files as it read the originals.
    const auto again = peerDumps(saved);
    std::vector<std::string> want;
    for (size_t i = 0; i < files.size(); ++i)
        if (files[i].find("mixed") == std::string::npos)
            want.push_back(expected[i]);
    EXPECT_EQ(again, want);
}

// A file declared ISO-8859-1 is written back in that charset, its declaration
// kept; one that cannot be is not written at all.
TEST(XmlCorpus, SaveConvertsToTheDeclaredCharsetOrWritesNothing) {
    grvtest::TempDir dir("xmlsave");
    ClsXml xml;
    ASSERT_TRUE(xml.LoadXml("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><r>gr\xc3\xbc\xc3\x9f"
                            "e</r>",
                            true));
    const std::string latin = dir.File("latin.xml");
    ASSERT_TRUE(xml.SaveXml(latin.c_str()));
    EXPECT_EQ(grvtest::ReadFile(latin), "<?xml version=\"1.0\" encoding=\"iso-8859-1\" ?>\r\n\r\n<r>gr\xfc\xdf"
                                        "e</r>\r\n");
    auto peer =
        grvtest::Python("import sys,xml.etree.ElementTree as E;print(E.parse(sys.argv[1]).getroot().text)", {latin});
    EXPECT_EQ(peer.out, "gr\xc3\xbc\xc3\x9f"
                        "e\n");

    // A short text ending in ".XML" without a "<" names a file.
    ClsXml byName;
    const std::string named = dir.File("n.XML");
    ASSERT_LT(named.size(), 100u);
    ASSERT_TRUE(grvtest::WriteFile(named, "<n>file</n>"));
    ASSERT_TRUE(byName.LoadXml((" " + named + " ").c_str(), true));
    EXPECT_TRUE(byName.contentEquals("file"));

    ASSERT_TRUE(xml.setContent("\xe6\x97\xa5"));
    const std::string lost = dir.File("lost.xml");
    EXPECT_FALSE(xml.SaveXml(lost.c_str()));
    EXPECT_FALSE(grvtest::FileExists(lost));
}

} // namespace
