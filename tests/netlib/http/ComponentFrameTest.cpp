// The component base: the method frame as a whole log text, reading the log
// back, the conversion into a named charset, and the checkpoint words.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "netlib/core/Checkpoints.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/text/TextServices.h"
#include "netlib/text/TsCharset.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string lastErrorText(ClsBase& c, bool normalise = false) {
    XString x;
    c.getLastErrorText(x, normalise);
    return x.getUtf8();
}

// "computer:user" as the machine's own tools report them.
std::string identity() {
    grvtest::RunResult r = grvtest::Python(
        "import os, pwd, socket; print(socket.gethostname().split('.')[0] + ':' + pwd.getpwuid(os.geteuid()).pw_name)");
    EXPECT_TRUE(r.Ok()) << r.err;
    return r.out.substr(0, r.out.find('\n'));
}

std::string frameHead(const char* method, const std::string& user) {
    return std::string("TessikLog:\r\n  ") + method + ":\r\n    DllDate: Jun 16 2011\r\n    Username: " + user +
           "\r\n    Architecture: Little Endian; " + (sizeof(void*) == 8 ? "64-bit" : "32-bit") +
           "\r\n    Language: Visual C++ 10.0\r\n";
}

class ComponentFrame : public ::testing::Test {
protected:
    void SetUp() override { installTextServices(); }
};

TEST_F(ComponentFrame, FailedRequestLeavesOnlyItsOwnFrame) {
    ClsHttp http;
    ClsHttpRequest request;
    XString url;
    url.setFromUtf8("http://stats.gorvane.invalid/usage");
    request.SetFromUrl(url, true);
    EXPECT_EQ(lastErrorText(request),
              frameHead("SetFromUrl", identity()) + "    url: http://stats.gorvane.invalid/usage\r\n");

    setCheckpoint(3, 42);
    EXPECT_EQ(http.SynchronousRequest("Stats.Gorvane.Invalid", 80, false, request, nullptr), nullptr);
    EXPECT_EQ(getCheckpoint(3), 0u);
    // The second call's log holds the second call only.
    EXPECT_EQ(http.SynchronousRequest("stats.gorvane.invalid", 8080, true, request, nullptr), nullptr);
    const std::string text = lastErrorText(http);
    const std::string head = frameHead("SynchronousRequest", identity()) +
                             "    domain: stats.gorvane.invalid\r\n"
                             "    port: 8080\r\n"
                             "    ssl: 1\r\n"
                             "    OriginallySetFromUrl: http://stats.gorvane.invalid/usage\r\n"
                             "    RequestData:\r\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.find("SynchronousRequest:"), text.rfind("SynchronousRequest:"));
    EXPECT_EQ(text.substr(text.size() - 13), "    Failed.\r\n");
    EXPECT_TRUE(http.isAlive());
}

// A private host name needs CAP_SYS_ADMIN; the runner leaves the AsRoot
// tests out where a UTS namespace cannot be made, and says so. The names are
// taken once per process, so the probe runs in a process started after the
// host name changed: this executable again, running the disabled test below.
class AsRoot : public ComponentFrame {};

constexpr const char* kProbeUserVariable = "GRV_PROBE_USER";

TEST_F(AsRoot, DISABLED_UsernameLineOfThisProcess) {
    const char* user = std::getenv(kProbeUserVariable);
    ASSERT_NE(user, nullptr);
    ClsHttpRequest request;
    request.enterMethod("Probe");
    EXPECT_NE(lastErrorText(request).find(std::string("    Username: ") + user + "\r\n"), std::string::npos)
        << lastErrorText(request);
}

TEST_F(AsRoot, UnreadableComputerNameLeavesTheBareUserName) {
    std::string user = identity();
    user = user.substr(user.find(':') + 1);
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string probeUser = std::string(kProbeUserVariable) + "=" + user;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A private host name that is empty: the computer name reads as "".
        if (unshare(CLONE_NEWUTS) != 0 || sethostname("", 0) != 0)
            _exit(77);
        putenv(const_cast<char*>(probeUser.c_str()));
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        execl(self, self, "--gtest_also_run_disabled_tests", "--gtest_filter=AsRoot.DISABLED_UsernameLineOfThisProcess",
              static_cast<char*>(nullptr));
        _exit(78);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 77) << "no private UTS namespace could be made";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(ComponentFrame, NormalisedLogTextHasOnlyCrLfLineEnds) {
    ClsHttpRequest request;
    request.enterMethod("Lines");
    request.getLog().logData("value", "a\nb\r\rc\r\n");
    request.logSuccessOrFailed(true);
    request.getLog().leaveContext();
    std::string raw = lastErrorText(request);
    EXPECT_NE(raw.find("value: a\nb\r\rc\r\n\r\n"), std::string::npos);
    std::string normal = lastErrorText(request, true);
    EXPECT_NE(normal.find("value: a\r\nbc\r\n\r\n    Success.\r\n"), std::string::npos);
}

TEST_F(ComponentFrame, ConvertsIntoNamedCharsets) {
    struct Case {
        const char* charset;
        const char* utf8;
        bool bom;
        std::string bytes;
    } cases[] = {
        {"iso-8859-1", "\xE2\x82\xAC caf\xC3\xA9", false, "\x80 caf\xE9"},
        {"windows-1252", "\xE2\x80\x9Cq\xE2\x80\x9D", false, "\x93q\x94"},
        {"utf-8", "A\xC3\xA9", true,
         "\xEF\xBB\xBF"
         "A\xC3\xA9"},
        {"utf-16le", "A", true,
         std::string("\xFF\xFE"
                     "A\0",
                     4)},
        {"utf-16be", "A", true, std::string("\xFE\xFF\0A", 4)},
        {"iso-8859-2", "A", true, "A"},
    };
    ClsHttpRequest component;
    for (const Case& c : cases) {
        _tsCharset cs;
        cs.setByName(c.charset);
        XString text;
        text.setFromUtf8(c.utf8);
        DataBuffer out;
        ASSERT_TRUE(component.convertToCharset(cs, text, out, c.bom, false, false, component.getLog())) << c.charset;
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out.getData()), out.getSize()), c.bytes) << c.charset;
    }
}

TEST_F(ComponentFrame, FailedConversionExplainsItselfAndCanCloseTheMethod) {
    ClsHttpRequest component;
    _tsCharset cs;
    cs.setByName("windows-1252");
    XString text;
    text.setFromUtf8("ab\xE6\x97\xA5");
    DataBuffer out;
    component.enterMethod("PutText");
    EXPECT_FALSE(component.convertToCharset(cs, text, out, false, true, true, component.getLog()));
    component.getLog().logInfo("after the method");
    std::string log = lastErrorText(component);
    std::string tail = log.substr(log.find("    Character encoding"));
    EXPECT_EQ(tail, std::string("    Character encoding conversion failed.\r\n"
                                "    NumCharsIn: 3\r\n"
                                "    Charset: windows-1252\r\n"
                                "    ConvertedToNumBytes: ") +
                        std::to_string(out.getSize()) + "\r\n    " + cls_msg::kCharsetHint +
                        "\r\n    Failed.\r\n  after the method\r\n");
}

} // namespace
