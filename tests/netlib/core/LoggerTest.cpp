#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string text(Logger& log) {
    StringBuffer sb("junk");
    log.getLogText(sb);
    return sb.getString();
}
std::string xml(Logger& log) {
    StringBuffer sb("junk");
    log.getLogXml(sb);
    return sb.getString();
}
std::string html(Logger& log) {
    StringBuffer sb("junk");
    log.getLogHtml(sb);
    return sb.getString();
}

TEST(Logger, WorkedExampleIsByteExact) {
    grvtest::TempDir tmp;
    const std::string session = tmp.File("session.log");
    Logger log;
    log.setSessionLogPath(session.c_str());
    log.enterContext("SaveFile", true);
    log.logData(" local path ", "v");
    log.logError("t");
    log.leaveContext();
    EXPECT_EQ(text(log), "TessikLog:\r\n  SaveFile:\r\n    local_path: v\r\n    t\r\n");
    EXPECT_EQ(xml(log), "<TessikLog>\r\n<SaveFile>\r\n<local_path>v</local_path>\r\n<error>t</error>\r\n</SaveFile>\r\n"
                        "</TessikLog>\r\n");
    EXPECT_EQ(html(log), "TessikLog:<blockquote>\r\nSaveFile:<blockquote>\r\nlocal_path: v<br>\r\nt<br>\r\n"
                         "</blockquote>\r\n</blockquote>\r\n");
    EXPECT_EQ(grvtest::ReadFile(session), "SaveFile:\n    local_path: v\n    t\n    (leaveContext)\n");
}

TEST(Logger, TagsValuesAndEcho) {
    grvtest::TempDir tmp;
    const std::string session = tmp.File("echo.log");
    Logger log;
    log.setSessionLogPath(session.c_str());
    EXPECT_TRUE(log.logData("  my tag  ", nullptr));
    EXPECT_FALSE(log.logData(" \t ", "x"));
    EXPECT_FALSE(log.logDataLong("", 1));
    EXPECT_TRUE(log.logDataLong("n", -5));
    EXPECT_TRUE(log.logDataInt64("big", -9000000000LL));
    EXPECT_TRUE(log.logHex("h", 255));
    log.logTickCount("tick");
    log.logInfo("note");
    log.logInfo(nullptr);
    log.logXml("<raw a=\"1\"/>");
    std::string t = text(log);
    EXPECT_NE(t.find("  my_tag: (NULL)\r\n"), std::string::npos);
    EXPECT_NE(t.find("  n: -5\r\n  big: -9000000000\r\n  h: 0xff\r\n  tick: "), std::string::npos);
    EXPECT_NE(t.find("  note\r\n  <raw a=\"1\"/>\r\n"), std::string::npos);
    EXPECT_NE(xml(log).find("<raw a=\"1\"/>\r\n"), std::string::npos);
    // Only data, long, error, info, enter and leave are echoed.
    EXPECT_EQ(grvtest::ReadFile(session), "my_tag: (NULL)\nn: -5\nnote\n");
    log.clearLog();
    EXPECT_EQ(text(log), "TessikLog:\r\n");
    EXPECT_EQ(grvtest::ReadFile(session), "my_tag: (NULL)\nn: -5\nnote\n"); // not truncated
}

TEST(Logger, CdataRules) {
    struct Case {
        const char* value;
        const char* wantXml;
    } cases[] = {
        {"a<b", "<v><![CDATA[a<b]]></v>"},
        {"plain", "<v>plain</v>"},
        {"cr\ronly", "<v>cr\ronly</v>"},
        {"tab\tx", "<v><![CDATA[tab\tx]]></v>"},
        {"<![CDATA[x<y]]>", "<v><![CDATA[x<y]]></v>"},
        // "]]>" inside wrapped text is split so the section does not end early.
        {"a]]>b&", "<v><![CDATA[a]]]]><![CDATA[>b&]]></v>"},
        {"<![CDATA[x]]> & ]]>", "<v><![CDATA[<![CDATA[x]]]]><![CDATA[> & ]]]]><![CDATA[>]]></v>"},
    };
    for (const auto& c : cases) {
        Logger log;
        log.logData("v", c.value);
        std::string x = xml(log);
        EXPECT_NE(x.find(std::string(c.wantXml) + "\r\n"), std::string::npos) << c.value << "\n" << x;
    }
}

TEST(Logger, EmptyContextsVanishExceptUnderRoot) {
    Logger log;
    log.enterContext("Outer", true);
    log.enterContext("Inner", true);
    log.leaveContext();
    log.leaveContext();
    log.enterContext("Empty", true);
    log.leaveContext();
    EXPECT_EQ(text(log), "TessikLog:\r\n  Outer:\r\n  Empty:\r\n");
    // Leaving more than entered keeps the root.
    EXPECT_TRUE(log.leaveContext());
    EXPECT_TRUE(log.leaveContext());
    log.logInfo("still here");
    EXPECT_EQ(text(log), "TessikLog:\r\n  Outer:\r\n  Empty:\r\n  still here\r\n");
}

// The parsed XML as an indented outline: element name, then the text of a
// leaf as JSON. python3's parser judges what our renderer wrote.
std::string xmlOutline(const std::string& xmlText) {
    const auto peer = grvtest::Python("import sys, json, xml.etree.ElementTree as ET\n"
                                      "out = []\n"
                                      "def walk(e, d):\n"
                                      "    kids = list(e)\n"
                                      "    leaf = '' if kids else ' ' + json.dumps(e.text or '', ensure_ascii=False)\n"
                                      "    out.append('  ' * d + e.tag + leaf)\n"
                                      "    for k in kids:\n"
                                      "        walk(k, d + 1)\n"
                                      "walk(ET.fromstring(sys.stdin.buffer.read()), 0)\n"
                                      "sys.stdout.buffer.write(('\\n'.join(out) + '\\n').encode())\n",
                                      {}, xmlText);
    return peer.status == 0 ? peer.out : "python3 refused: " + peer.err;
}

struct Rendering {
    const char* name;
    std::function<void(Logger&)> script;
    const char* wantText;
    const char* wantOutline; // python3's reading of the XML
    const char* wantXml;
    const char* wantHtml;
};

void variedLog(Logger& log) {
    log.logInfo("first");
    log.enterContext("Outer", true);
    log.logData("  odd tag\tname ", "v1");
    log.logDataLong("min", INT_MIN);
    log.logDataLong("max", INT_MAX);
    log.logDataLong("zero", 0);
    log.logDataInt64("min64", INT64_MIN);
    log.logDataInt64("max64", INT64_MAX);
    log.logHex("hex0", 0);
    log.logHex("hexMax", 0xFFFFFFFFu);
    log.logHex("hex", 0xBEEF);
    log.enterContext("EmptyInner", true);
    log.leaveContext();
    log.enterContext("Mid", true);
    log.enterContext("Deep", true);
    log.enterContext("Deeper", true);
    log.leaveContext();
    log.leaveContext();
    log.logError("a<b & c > d");
    log.logData("9 lives", "x]]>y");
    log.logInfo("<![CDATA[kept]]> as is");
    log.enterContext("-dash.ctx", true);
    log.logInfo("line\nbreak\tand tab");
    log.leaveContext();
    log.leaveContext();
    log.logData("caf\xC3\xA9", "\xC3\xA9t\xC3\xA9 'q' \"dq\"");
    log.leaveContext();
    log.enterContext("EmptyTop", true);
    log.leaveContext();
    log.enterContext("Top2", true);
    log.enterContext("E1", true);
    log.enterContext("E2", true);
    log.leaveContext();
    log.leaveContext();
    log.leaveContext();
    log.logXml("<raw a=\"1\">r</raw>");
    log.logError("");
    log.logData("empty", "");
    log.enterContext("", true);
    log.logInfo("in a nameless context");
    log.leaveContext();
}

// Entries, then clearLog in the middle of contexts, then a fresh log whose
// contexts start again from the root.
void clearedAndReused(Logger& log) {
    log.enterContext("Gone", true);
    log.enterContext("AlsoGone", true);
    log.logDataLong("n", 1);
    log.clearLog();
    log.enterContext("After", true);
    log.logDataLong("n", 7);
    log.enterContext("Vanishes", true);
    log.leaveContext();
    log.leaveContext();
    log.leaveContext(); // one more than entered since the clear
    log.logInfo("at the root");
}

const Rendering kRenderings[] = {
    {"varied", variedLog,
     // text
     "TessikLog:\r\n"
     "  first\r\n"
     "  Outer:\r\n"
     "    odd_tag\tname: v1\r\n"
     "    min: -2147483648\r\n"
     "    max: 2147483647\r\n"
     "    zero: 0\r\n"
     "    min64: -9223372036854775808\r\n"
     "    max64: 9223372036854775807\r\n"
     "    hex0: 0x0\r\n"
     "    hexMax: 0xffffffff\r\n"
     "    hex: 0xbeef\r\n"
     "    Mid:\r\n"
     "      a<b & c > d\r\n"
     "      9_lives: x]]>y\r\n"
     "      <![CDATA[kept]]> as is\r\n"
     "      -dash.ctx:\r\n"
     "        line\n"
     "break\tand tab\r\n"
     "    caf\xC3\xA9: \xC3\xA9t\xC3\xA9 'q' \"dq\"\r\n"
     "  EmptyTop:\r\n"
     "  Top2:\r\n"
     "  <raw a=\"1\">r</raw>\r\n"
     "  \r\n"
     "  empty: \r\n"
     "  :\r\n"
     "    in a nameless context\r\n",
     // python3's outline of the XML
     "TessikLog\n"
     "  info \"first\"\n"
     "  Outer\n"
     "    odd_tag_name \"v1\"\n"
     "    min \"-2147483648\"\n"
     "    max \"2147483647\"\n"
     "    zero \"0\"\n"
     "    min64 \"-9223372036854775808\"\n"
     "    max64 \"9223372036854775807\"\n"
     "    hex0 \"0x0\"\n"
     "    hexMax \"0xffffffff\"\n"
     "    hex \"0xbeef\"\n"
     "    Mid\n"
     "      error \"a<b & c > d\"\n"
     "      _9_lives \"x]]>y\"\n"
     "      info \"kept as is\"\n"
     "      _-dash.ctx\n"
     "        info \"line\\n"
     "break\\tand tab\"\n"
     "    caf\xC3\xA9 \"\xC3\xA9t\xC3\xA9 'q' \\\"dq\\\"\"\n"
     "  EmptyTop \"\\n"
     "\"\n"
     "  Top2 \"\\n"
     "\"\n"
     "  raw \"r\"\n"
     "  error \"\"\n"
     "  empty \"\"\n"
     "  _\n"
     "    info \"in a nameless context\"\n",
     // XML
     "<TessikLog>\r\n"
     "<info>first</info>\r\n"
     "<Outer>\r\n"
     "<odd_tag_name>v1</odd_tag_name>\r\n"
     "<min>-2147483648</min>\r\n"
     "<max>2147483647</max>\r\n"
     "<zero>0</zero>\r\n"
     "<min64>-9223372036854775808</min64>\r\n"
     "<max64>9223372036854775807</max64>\r\n"
     "<hex0>0x0</hex0>\r\n"
     "<hexMax>0xffffffff</hexMax>\r\n"
     "<hex>0xbeef</hex>\r\n"
     "<Mid>\r\n"
     "<error><![CDATA[a<b & c > d]]></error>\r\n"
     "<_9_lives><![CDATA[x]]]]><![CDATA[>y]]></_9_lives>\r\n"
     "<info><![CDATA[kept]]> as is</info>\r\n"
     "<_-dash.ctx>\r\n"
     "<info><![CDATA[line\n"
     "break\tand tab]]></info>\r\n"
     "</_-dash.ctx>\r\n"
     "</Mid>\r\n"
     "<caf\xC3\xA9>\xC3\xA9t\xC3\xA9 'q' \"dq\"</caf\xC3\xA9>\r\n"
     "</Outer>\r\n"
     "<EmptyTop>\r\n"
     "</EmptyTop>\r\n"
     "<Top2>\r\n"
     "</Top2>\r\n"
     "<raw a=\"1\">r</raw>\r\n"
     "<error></error>\r\n"
     "<empty></empty>\r\n"
     "<_>\r\n"
     "<info>in a nameless context</info>\r\n"
     "</_>\r\n"
     "</TessikLog>\r\n",
     // HTML
     "TessikLog:<blockquote>\r\n"
     "first<br>\r\n"
     "Outer:<blockquote>\r\n"
     "odd_tag\tname: v1<br>\r\n"
     "min: -2147483648<br>\r\n"
     "max: 2147483647<br>\r\n"
     "zero: 0<br>\r\n"
     "min64: -9223372036854775808<br>\r\n"
     "max64: 9223372036854775807<br>\r\n"
     "hex0: 0x0<br>\r\n"
     "hexMax: 0xffffffff<br>\r\n"
     "hex: 0xbeef<br>\r\n"
     "Mid:<blockquote>\r\n"
     "a&lt;b &amp; c &gt; d<br>\r\n"
     "9_lives: x]]&gt;y<br>\r\n"
     "&lt;![CDATA[kept]]&gt; as is<br>\r\n"
     "-dash.ctx:<blockquote>\r\n"
     "line\n"
     "break\tand tab<br>\r\n"
     "</blockquote>\r\n"
     "</blockquote>\r\n"
     "caf\xC3\xA9: \xC3\xA9t\xC3\xA9 'q' &quot;dq&quot;<br>\r\n"
     "</blockquote>\r\n"
     "EmptyTop:<blockquote>\r\n"
     "</blockquote>\r\n"
     "Top2:<blockquote>\r\n"
     "</blockquote>\r\n"
     "&lt;raw a=&quot;1&quot;&gt;r&lt;/raw&gt;<br>\r\n"
     "<br>\r\n"
     "empty: <br>\r\n"
     ":<blockquote>\r\n"
     "in a nameless context<br>\r\n"
     "</blockquote>\r\n"
     "</blockquote>\r\n"},
    {"cleared and reused", clearedAndReused,
     // text
     "TessikLog:\r\n"
     "  After:\r\n"
     "    n: 7\r\n"
     "  at the root\r\n",
     // python3's outline of the XML
     "TessikLog\n"
     "  After\n"
     "    n \"7\"\n"
     "  info \"at the root\"\n",
     // XML
     "<TessikLog>\r\n"
     "<After>\r\n"
     "<n>7</n>\r\n"
     "</After>\r\n"
     "<info>at the root</info>\r\n"
     "</TessikLog>\r\n",
     // HTML
     "TessikLog:<blockquote>\r\n"
     "After:<blockquote>\r\n"
     "n: 7<br>\r\n"
     "</blockquote>\r\n"
     "at the root<br>\r\n"
     "</blockquote>\r\n"},
};

TEST(Logger, RendersVariedLogsExactly) {
    for (const Rendering& r : kRenderings) {
        SCOPED_TRACE(r.name);
        for (int pass = 0; pass < 2; ++pass) {
            // The second pass reuses the log after a clear.
            Logger log;
            if (pass == 1) {
                variedLog(log);
                log.clearLog();
            }
            r.script(log);
            const std::string x = xml(log);
            EXPECT_EQ(text(log), r.wantText);
            EXPECT_EQ(x, r.wantXml);
            EXPECT_EQ(xmlOutline(x), r.wantOutline);
            EXPECT_EQ(html(log), r.wantHtml);
        }
    }
}

// Entries well past any first allocation, and contexts nested deep, some
// of them left empty: every earlier entry survives the growth intact.
TEST(Logger, LongAndDeepLogsKeepEveryEntry) {
    for (int pass = 0; pass < 2; ++pass) {
        Logger log;
        std::string wantText = "TessikLog:\r\n";
        std::string wantOutline = "TessikLog\n";
        if (pass == 1) { // the same again on a cleared log
            log.logData("before", std::string(5000, 'b').c_str());
            log.clearLog();
        }
        const std::string big(3000, 'v');
        for (int i = 0; i < 120; ++i) {
            const std::string name = "c" + std::to_string(i);
            const std::string indent(static_cast<std::size_t>(2 * (i + 1)), ' ');
            log.enterContext(name.c_str(), true);
            log.enterContext("empty", true);
            log.leaveContext();
            const std::string value = i % 7 == 0 ? big : std::to_string(i);
            log.logData("n", value.c_str());
            wantText += indent + name + ":\r\n" + indent + "  n: " + value + "\r\n";
            wantOutline += indent + name + "\n" + indent + "  n \"" + value + "\"\n";
        }
        for (int i = 0; i < 120; ++i)
            log.leaveContext();
        log.logInfo("done");
        wantText += "  done\r\n";
        wantOutline += "  info \"done\"\n";
        EXPECT_EQ(text(log), wantText);
        EXPECT_EQ(xmlOutline(xml(log)), wantOutline);
    }
}

TEST(Logger, HtmlEncodesEntities) {
    Logger log;
    log.logError("a<b & \"c\"");
    log.logData("k", ">");
    EXPECT_EQ(html(log),
              "TessikLog:<blockquote>\r\na&lt;b &amp; &quot;c&quot;<br>\r\nk: &gt;<br>\r\n</blockquote>\r\n");
}

TEST(LogBase, HelpersAndSilentLogs) {
    Logger log;
    const unsigned char bytes[] = {0x01, 0xAB};
    log.logDataHex("d", bytes, 2);
    log.logDataHex("e", bytes, 0);
    log.logBinaryData("b", nullptr, 3);
    log.logWindowsError(0);
    log.logWindowsError(2);
    log.logElapsedMs("late", 0xFFFFFFF0u); // a start after now: nothing
    log.logDataAnsi("a", "x");
    std::string t = text(log);
    EXPECT_NE(t.find("  d: 01AB \r\n  e: \r\n  No binary data to log\r\n  WindowsError: "), std::string::npos) << t;
    EXPECT_EQ(t.find("late"), std::string::npos);
    EXPECT_NE(t.find("  a: x\r\n"), std::string::npos);

    LogNull silent;
    StringBuffer out("kept");
    silent.getLogXml(out);
    EXPECT_STREQ(out.getString(), "kept");
}

TEST(Logger, SavesXml) {
    Logger log;
    log.logInfo("saved");
    grvtest::TempDir tmp;
    std::string path = tmp.File("log.xml");
    EXPECT_TRUE(log.saveLogXml(path.c_str()));
    EXPECT_EQ(grvtest::ReadFile(path), xml(log));
    EXPECT_FALSE(log.saveLogXml(tmp.File("no/such/dir/log.xml").c_str()));
}

// Random trees with hostile texts and tags: xmllint must accept every rendering.
TEST(Logger, RandomTreesRenderWellFormedXml) {
    std::mt19937 rng(5120);
    const char* pieces[] = {"<",  ">",  "&", "]]>", "<![CDATA[",   "]]", "\t",  "\n",
                            "\r", "\"", "'", "x",   "caf\xC3\xA9", " ",  "-->", "<!--"};
    auto randomText = [&] {
        std::string s;
        int n = static_cast<int>(rng() % 6);
        for (int i = 0; i < n; ++i)
            s += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        return s;
    };
    for (int round = 0; round < 40; ++round) {
        Logger log;
        int depth = 0;
        for (int step = 0; step < 60; ++step) {
            switch (rng() % 6) {
            case 0:
                log.enterContext(("ctx" + randomText()).c_str(), true);
                ++depth;
                break;
            case 1:
                if (depth > 0) {
                    log.leaveContext();
                    --depth;
                }
                break;
            case 2: log.logError(randomText().c_str()); break;
            case 3: log.logInfo(randomText().c_str()); break;
            case 4: log.logData(("tag " + randomText()).c_str(), randomText().c_str()); break;
            case 5: log.logDataLong(randomText().c_str(), static_cast<int>(rng())); break;
            }
        }
        grvtest::TempDir tmp;
        const std::string path = tmp.File("random.xml");
        ASSERT_TRUE(grvtest::WriteFile(path, xml(log)));
        const auto lint = grvtest::RunPeer({"xmllint", "--noout", path});
        EXPECT_EQ(lint.status, 0) << lint.out << "\n" << xml(log);
    }
}

TEST(Logger, ManyThreadsShareOneLog) {
    Logger log;
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&log, t] {
            for (int i = 0; i < 300; ++i) {
                log.enterContext("work", true);
                log.logDataLong("thread", t);
                log.logInfo("step");
                log.leaveContext();
                if (i % 50 == 0) {
                    StringBuffer sb;
                    log.getLogText(sb);
                }
            }
        });
    for (auto& th : threads)
        th.join();
    // Contexts of different threads interleave, but no entry is lost.
    std::string t = text(log);
    auto count = [&t](const std::string& what) {
        size_t n = 0;
        for (size_t at = t.find(what); at != std::string::npos; at = t.find(what, at + 1))
            ++n;
        return n;
    };
    EXPECT_EQ(count("thread: "), 6u * 300);
    EXPECT_EQ(count("step\r\n"), 6u * 300);
}

} // namespace
