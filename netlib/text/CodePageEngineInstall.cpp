// Linked as an object into every program that uses grv_text (see
// CMakeLists.txt), so EncodingConvert has its tables without a call.
#include "netlib/text/CodePageEngine.h"

namespace {
const bool g_installed = [] {
    tessik::installCodePageEngine();
    return true;
}();
}  // namespace
