#include <gtest/gtest.h>

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
    EXPECT_FALSE(LogEntry2::needsCdata(nullptr));
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
