#pragma once
// Path text: Windows-style separators become '/'.
#include <string>
#include <string_view>

namespace platform {

constexpr char kPathSeparator = '/';

std::string NormalizeSeparators(std::string_view path);

} // namespace platform
