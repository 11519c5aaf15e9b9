// Redirect targets: the cases worth a name, and a generated corpus of
// relative references judged by python's urllib.parse.urljoin.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "netlib/core/Logger.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/TessikSSPI.h"
#include "netlib/http/UrlResolve.h"
#include "tests/support/TestSupport.h"

using namespace tessik;

namespace {

std::string resolve(const char* base, const char* location) {
    StringBuffer out;
    EXPECT_TRUE(resolveRedirectUrl(base, location, out));
    return out.getString();
}

TEST(RedirectUrl, NamedCases) {
    struct Case {
        const char* base;
        const char* location;
        const char* expected;
    };
    const Case cases[] = {
        {"http://h.test:8080/a/b/c.html", "d/e.html", "http://h.test:8080/a/b/d/e.html"},
        {"http://h.test:8080/a/b/c.html", "/x", "http://h.test:8080/x"},
        {"http://h.test:8080/a/b/c.html", "HTTPS://Other.test/Y", "HTTPS://Other.test/Y"},
        {"http://h.test/a/b/c.html", "  d  ", "http://h.test/a/b/d"},
        {"http://h.test:80/a", "x", "http://h.test/x"},
        {"https://h.test:80/a", "x", "https://h.test:80/x"},
        {"https://h.test/a", "x", "https://h.test/x"},
        {"http://h.test/a/b/c", "../x", "http://h.test/a/x"},
        {"http://h.test/a/b/c", "./x/./y", "http://h.test/a/b/x/y"},
        {"http://h.test/a/b/c", "../../../../x", "http://h.test/x"},
        {"http://h.test/a/", "//cdn.test/lib/../x.js", "http://cdn.test/x.js"},
        {"https://h.test/a/", "//cdn.test/x.js", "https://cdn.test/x.js"},
        {"http://h.test/a/b/c?q=1", "d?x=../y#f", "http://h.test/a/b/d?x=../y#f"},
        {"http://h.test/a/b/c", "#top", "http://h.test/a/b/#top"},
        {"", "x", "x"},
        {"http://h.test/a", "", ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(resolve(c.base, c.location), c.expected) << c.base << " + " << c.location;
}

TEST(RedirectUrl, MergeAndCollapseEdges) {
    struct Merge {
        const char* base;
        const char* relative;
        const char* expected;
    };
    for (const Merge& m : {Merge{"/a/b/c.html", "d.html", "/a/b/d.html"}, Merge{"/", "//d", "/d"}, Merge{"", "d", "/d"},
                           Merge{"/a/", "d", "/a/d"}}) {
        StringBuffer out;
        mergeUrlPath(m.base, m.relative, out);
        EXPECT_STREQ(out.getString(), m.expected) << m.base << " + " << m.relative;
    }
    struct Collapse {
        const char* in;
        const char* expected;
    };
    for (const Collapse& c : {Collapse{"/../x", "/../x"}, Collapse{"/a/b/../c", "/a/c"}, Collapse{"a/../b", "/b"},
                              Collapse{"/a/./././b", "/a/b"}, Collapse{"http://h/../x", "http://h/x"},
                              Collapse{"http://h/../s/../g", "http://h/g"}}) {
        StringBuffer url(c.in);
        collapseDotSegments(url);
        EXPECT_STREQ(url.getString(), c.expected) << c.in;
    }
    // A hundred folds at most; what is left after them only loses its dots.
    std::string deep;
    for (int i = 0; i < 101; ++i)
        deep += "/a";
    for (int i = 0; i < 101; ++i)
        deep += "/..";
    StringBuffer url((deep + "/z").c_str());
    collapseDotSegments(url);
    EXPECT_STREQ(url.getString(), "/a/z");
}

// Relative references from segments, "..", "." and absolute paths, each
// printed with urljoin's answer against the base.
constexpr const char* kUrljoin = R"PY(
import random, sys, urllib.parse
rnd = random.Random(5)
bases = ["http://h.test/a/b/c", "http://h.test:8080/x/y/", "https://h.test/p", "https://h.test:8443/d/e/f.html"]
for _ in range(400):
    parts = [rnd.choice(["s", "t1", "..", ".", "u-2"]) for _ in range(rnd.randint(1, 5))] + [rnd.choice(["f", "g.html"])]
    loc = ("/" if rnd.random() < 0.2 else "") + "/".join(parts)
    base = rnd.choice(bases)
    print(base, loc, urllib.parse.urljoin(base, loc))
)PY";

TEST(RedirectUrl, AgreesWithUrljoinOnGeneratedReferences) {
    const grvtest::RunResult peer = grvtest::Python(kUrljoin);
    ASSERT_TRUE(peer.Ok()) << peer.err;
    std::istringstream lines(peer.out);
    std::string base, location, expected;
    int count = 0;
    while (lines >> base >> location >> expected) {
        ++count;
        EXPECT_EQ(resolve(base.c_str(), location.c_str()), expected) << base << " + " << location;
    }
    EXPECT_EQ(count, 400);
}

TEST(RedirectUrl, TargetOfTheComponentsRedirect) {
    struct Case {
        const char* request;
        const char* location;
        const char* expected;
    };
    const Case cases[] = {
        {"http://H.test:80/a/b", "https://other.test/x", "https://other.test/x"},
        {"http://H.test:80/a/b?q", "/x/../y", "http://H.test:80/x/../y"},
        {"http://h.test", "/x", "http://h.test/x"},
        {"http://h.test:8080/a/b", "c/../d", "http://h.test:8080/a/d"},
        {"http://h.test/a/b", "//cdn.test/x", "http://cdn.test/x"},
        {"no host here", "/x", ""},
    };
    for (const Case& c : cases) {
        StringBuffer target;
        HttpClient::resolveRedirectTarget(c.request, c.location, target);
        EXPECT_STREQ(target.getString(), c.expected) << c.request << " + " << c.location;
    }
}

TEST(SspiWrapper, FindsThePackagesTheHttpExchangesUse) {
    TessikSSPI sspi;
    EXPECT_EQ(sspi.findPackage("NTLM"), 0);
    EXPECT_GE(sspi.findPackage("Negotiate"), 0);
    EXPECT_EQ(sspi.findPackage("Basic"), -1);
    XString none;
    Logger log;
    EXPECT_FALSE(sspi.authenticate(0, none, none, none, log));
}

} // namespace
