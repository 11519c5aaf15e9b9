// The text tests run as a program that uses the library does: with the text
// services installed once at its start.
#include <gtest/gtest.h>

#include "netlib/text/TextServices.h"

namespace {

class TextServices : public ::testing::Environment {
    void SetUp() override { tessik::installTextServices(); }
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new TextServices);

} // namespace
