#include "FileTestSupport.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {
constexpr const char* kSharedEnv = "GRV_NOBODY_FOLDER";
}

bool RecordingLog::logError(const char* text) {
    lines.push_back(std::string("E:") + text);
    return true;
}
bool RecordingLog::logInfo(const char* text) {
    lines.push_back(std::string("I:") + text);
    return true;
}
bool RecordingLog::logData(const char* tag, const char* value) {
    lines.push_back(std::string("D:") + tag + "=" + (value ? value : "(NULL)"));
    return true;
}
bool RecordingLog::logDataLong(const char* tag, int value) {
    lines.push_back(std::string("L:") + tag + "=" + std::to_string(value));
    return true;
}
bool RecordingLog::logDataInt64(const char* tag, std::int64_t value) {
    lines.push_back(std::string("Q:") + tag + "=" + std::to_string(value));
    return true;
}
bool RecordingLog::logHex(const char* tag, unsigned int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", value);
    lines.push_back(std::string("H:") + tag + "=" + buf);
    return true;
}
bool RecordingLog::has(const std::string& line) const {
    for (const auto& l : lines)
        if (l == line)
            return true;
    return false;
}
std::string RecordingLog::data(const std::string& tag) const {
    std::string prefix = "D:" + tag + "=";
    for (const auto& l : lines)
        if (l.rfind(prefix, 0) == 0)
            return l.substr(prefix.size());
    return "<none>";
}
std::string RecordingLog::all() const {
    std::string out;
    for (const auto& l : lines)
        out += l + "\n";
    return out;
}

void TempTree::SetUp() {
    folder.emplace("ft");
    dir = folder->Path() + "/";
}

void TempTree::TearDown() {
    folder.reset();
}

void TempTree::put(const std::string& name, const std::string& content) const {
    ASSERT_TRUE(grvtest::WriteFile(path(name), content)) << name;
}

std::string TempTree::get(const std::string& name) const {
    return grvtest::ReadFile(path(name));
}

bool TempTree::exists(const std::string& name) const {
    return grvtest::FileExists(path(name));
}

std::string python3Line(const std::string& script, const std::string& arg) {
    const std::string out = grvtest::Python(script, {arg}).out;
    if (out.empty())
        return "<no output>";
    return out.substr(0, out.find('\n'));
}

bool isNobodyRun() {
    return std::getenv(kSharedEnv) != nullptr && ::geteuid() != 0;
}

std::string sharedFolderFromRoot() {
    const char* s = std::getenv(kSharedEnv);
    return s ? s : "";
}

bool reranAsNobody(const std::string& shared) {
    return grvtest::RerunCurrentTestAsNobody({std::string(kSharedEnv) + "=" + shared});
}
