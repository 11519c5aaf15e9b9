#pragma once
// Shared pieces of the file tests: a log that records its lines, a fresh
// folder per test, and running one test again as an unprivileged user.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/core/XString.h"
#include "tests/support/TestSupport.h"

// A path given as UTF-8.
struct XPath : tessik::XString {
    explicit XPath(const std::string& utf8) { setFromUtf8(utf8.c_str()); }
};

// Lines as "E:text", "I:text", "D:tag=value", "L:tag=n", "Q:tag=n", "H:tag=hex".
class RecordingLog : public tessik::LogBase {
public:
    bool logError(const char* text) override;
    bool logInfo(const char* text) override;
    bool logData(const char* tag, const char* value) override;
    bool logDataLong(const char* tag, int value) override;
    bool logDataInt64(const char* tag, std::int64_t value) override;
    bool logHex(const char* tag, unsigned int value) override;
    bool has(const std::string& line) const;
    // The value of the first "D:tag=" line, or "<none>".
    std::string data(const std::string& tag) const;
    std::string all() const;
    std::vector<std::string> lines;
};

class TempTree : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string path(const std::string& name) const { return dir + name; }
    void put(const std::string& name, const std::string& content) const;
    std::string get(const std::string& name) const;
    bool exists(const std::string& name) const;
    std::optional<grvtest::TempDir> folder;
    std::string dir; // ends in '/'
};

// The first output line (without its end) of a python3 script given one
// argument; "<no output>" when it printed nothing.
std::string python3Line(const std::string& script, const std::string& arg);

// The user the privilege-dropped runs take.
using grvtest::kNobodyId;

// For tests that must meet the kernel's permission checks: when this process
// is root, runs the current test again in a child under setpriv as nobody,
// expects it to pass, and returns true (the caller returns). In that child,
// and when not root to begin with, returns false and the body runs.
// `shared` is a folder both runs see; the root run may prepare it first.
bool reranAsNobody(const std::string& shared);
// In the nobody run: the folder the root run passed on.
std::string sharedFolderFromRoot();
bool isNobodyRun();
