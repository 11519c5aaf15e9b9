#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/HtmlHelp.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string clean(const std::string& tag, std::string* exit = nullptr) {
    StringBuffer out;
    Logger log;
    HtmlHelp::cleanTag(tag.c_str(), out, &log);
    if (exit) {
        StringBuffer text;
        log.getLogText(text);
        const std::string t = text.getString();
        const std::size_t at = t.find("clean_tag_");
        *exit = at == std::string::npos ? "" : t.substr(at, 11);
    }
    return out.getString();
}

std::string charset(const std::string& html, const char* start = "") {
    StringBuffer out(start);
    HtmlHelp::getCharsetFromBytes(html.data(), html.size(), out);
    return out.getString();
}

std::string unhex(const std::string& h) {
    std::string s;
    for (std::size_t i = 0; i + 1 < h.size(); i += 2)
        s.push_back(static_cast<char>(std::stoi(h.substr(i, 2), nullptr, 16)));
    return s;
}

} // namespace

TEST(HtmlHelp, CleanTagCases) {
    std::string many = "<x";
    for (int i = 0; i < 105; ++i)
        many += " a" + std::to_string(i) + "=" + std::to_string(i);
    many += ">";
    struct Case {
        std::string in, out, exit;
    } cases[] = {
        {"<img src=a.gif alt=\"A picture\">", "<img src=\"a.gif\" alt=\"A picture\">", "clean_tag_4"},
        {"<p title=\"say \\\"hi\\\"\">", "<p title=\"say &quot;hi&quot;\">", "clean_tag_4"},
        {"<a href='x.html'", "<a href='x.html'>", "clean_tag_3"},
        {"<br/>", "<br/>", "clean_tag_3"},
        {"<v:rect v:shape=\"s1\">", "<v:rect vshape=\"s1\">", "clean_tag_4"},
        {"  text <td\n nowrap>", "<td nowrap>", "clean_tag_6"},
        {"<input checked value=a\"b>", "<input checked value='a\"b'>", "clean_tag_4"},
        {"<p class=\"a\nb\"\r\n id=c>", "<p class=\"a b\" id=\"c\">", "clean_tag_4"},
        {"<hr>", "<hr>", "clean_tag_3"},
        {"<hr >", "<hr>", "clean_tag_2"},
        {"no tag", "", "clean_tag_1"},
    };
    for (const Case& c : cases) {
        std::string exit;
        EXPECT_EQ(clean(c.in, &exit), c.out) << c.in;
        EXPECT_EQ(exit, c.exit) << c.in;
    }
    std::string exit;
    const std::string cut = clean(many, &exit);
    EXPECT_EQ(exit, "clean_tag_5");
    EXPECT_NE(cut.find("a100=\"100\""), std::string::npos);
    EXPECT_EQ(cut.find("a101"), std::string::npos);
    EXPECT_NE(cut.back(), '>');

    StringBuffer value;
    HtmlHelp::getAttributeValue("<a HREF=\" c:\\dir\\f.htm \">", "href", value);
    EXPECT_STREQ(value.getString(), "c:/dir/f.htm");
    HtmlHelp::getAttributeValue("<a href=\"open", "href", value);
    EXPECT_STREQ(value.getString(), "");
}

// The charset of each document of tests/data/text/meta-charset.txt, and of
// documents generated from its judge's pieces, is the one browsers'
// prescan finds (html5lib judges): a <meta> in a comment, an attribute
// value or another tag, past the first 1,024 bytes, or naming a label
// browsers do not decode was taken, and a <meta charset> was not; an XML
// declaration at the start was not read, and labels were read by the
// library's own table ("iso-8859-1" as Latin-1, not windows-1252).
TEST(HtmlHelp, CharsetIsTheOneTheBrowsersPrescanFinds) {
    const std::string judge = grvtest::ReadFile(std::string(GRV_TEST_DATA_DIR) + "/text/meta_charset.py");
    const auto rows = grvtest::Python(judge, {"rows", std::string(GRV_TEST_DATA_DIR) + "/text/meta-charset.txt"});
    const auto made = grvtest::Python(judge, {"generate", "500", "95"});
    ASSERT_TRUE(rows.Ok() && made.Ok()) << rows.err << made.err;
    std::string pairs;
    int count = 0;
    const std::string docs = rows.out + made.out;
    for (std::size_t at = 0, nl; (nl = docs.find('\n', at)) != std::string::npos; at = nl + 1, ++count) {
        const std::string hex = docs.substr(at, nl - at);
        const std::string found = charset(unhex(hex));
        pairs += hex + " " + (found.empty() ? "-" : found) + "\n";
    }
    ASSERT_GT(count, 530);
    const auto judged = grvtest::Python(judge, {"judge"}, pairs);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    EXPECT_EQ(judged.out, "mismatches 0\n");
    EXPECT_EQ(charset("<p>nothing</p>", "kept"), "kept");
}

// Every start tag of the HTML documents under tests/data/text/html (written
// in the styles of hand-made, converted, office-exported and current pages),
// and of seeded random tags mixing their quoting, spacing and case, cleaned,
// reads back in python's parser with the same name and attributes.
TEST(HtmlHelp, CleansDocumentTagsAsPythonReadsThem) {
    auto found = grvtest::Python(R"(import glob,random,re,sys
from html.parser import HTMLParser
class P(HTMLParser):
    def handle_starttag(self,tag,attrs):
        t=self.get_starttag_text()
        if '\\' not in t and '/>' not in t: print(t.encode().hex())
docs=[open(f,encoding='utf-8').read() for f in sorted(glob.glob(sys.argv[1]+'/*.html'))]
rng=random.Random(71)
names=['a','IMG','td','Table','p','meta','input','v:shape','o:lock','font','li']
keys=['href','SRC','alt','class','style','o:title','xml:lang','data-note','nowrap','checked','width','onclick']
values=['x.html','images/a b.gif','100%','#top','say "hi"',"it's",'','a\nb','a\r\nb','&amp;',
        'width:1pt;\n border:none','caf\u00e9','a=b','Pain vs. Actions']
spaces=[' ','  ','\n','\r\n ','\t']
def tag():
    t,unquoted='<'+rng.choice(names),False
    for _ in range(rng.randrange(9)):
        k,v=rng.choice(keys),rng.choice(values)
        forms=[k]
        if '"' not in v: forms.append(k+'="'+v+'"')
        if "'" not in v: forms.append(k+"='"+v+"'")
        if re.fullmatch(r'[\w#%.:/-]+',v): forms.append(k+'='+v)
        # An unquoted value runs on over a TAB, as the cleaner is meant to read it.
        form=rng.choice(forms)
        t+=rng.choice(spaces[:-1] if unquoted else spaces)+form
        unquoted=form==k+'='+v
    return t+rng.choice(['',' ','\n'])+'>'
tags=[tag() for _ in range(400)]
docs.append(' text '.join(tags))
for d in docs:
    p=P(); p.feed(d); p.close()
)",
                                 {std::string(GRV_TEST_DATA_DIR) + "/text/html"});
    ASSERT_TRUE(found.Ok()) << found.err;
    std::string pairs;
    int tags = 0;
    for (std::size_t at = 0, nl; (nl = found.out.find('\n', at)) != std::string::npos; at = nl + 1, ++tags) {
        const std::string raw = found.out.substr(at, nl - at);
        pairs += raw + " " + grvtest::ToHex(clean(unhex(raw))) + "\n";
    }
    ASSERT_GT(tags, 600) << "too few tags to clean: " << found.out;
    auto judged = grvtest::Python(R"(import sys
from html.parser import HTMLParser
class P(HTMLParser):
    tags=[]
    def handle_starttag(self,tag,attrs):
        self.tags.append((tag.replace(':',''),[(k.replace(':',''),' '.join((v or '').replace('\r','').split('\n'))) for k,v in attrs]))
bad=0
for line in sys.stdin:
    raw,ours=(bytes.fromhex(x).decode() for x in line.split())
    a=P(); a.tags=[]; a.feed(raw); a.close()
    b=P(); b.tags=[]; b.feed(ours); b.close()
    if [x[1] for x in a.tags]!=[x[1] for x in b.tags]:
        bad+=1
        if bad<5: print(repr(raw),'->',repr(ours))
print('mismatches',bad)
)",
                                  {}, pairs);
    ASSERT_TRUE(judged.Ok()) << judged.err;
    EXPECT_NE(judged.out.find("mismatches 0\n"), std::string::npos) << judged.out;
}
