// The library core's text tests run here a second time with the ANSI page
// set to 1252, where the code-page engine is linked in.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/CodePage.h"

namespace {

class Ansi1252 : public ::testing::EmptyTestEventListener {
    static bool isCoreTextTest(const ::testing::TestInfo& t) {
        const char* f = t.file();
        return f && std::strstr(f, "core/TextTest.cpp") != nullptr;
    }
    void OnTestStart(const ::testing::TestInfo& t) override {
        if (isCoreTextTest(t))
            platform::SetAnsiCodePageOverride(1252);
    }
    void OnTestEnd(const ::testing::TestInfo& t) override {
        if (isCoreTextTest(t))
            platform::SetAnsiCodePageOverride(0);
    }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new Ansi1252);
    return true;
}();

} // namespace
