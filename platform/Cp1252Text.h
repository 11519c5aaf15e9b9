#pragma once
// Texts as they come out of files written on Windows (journals among them),
// which may hold the Windows Western code page: they are shown, never dropped.
// The one home of "UTF-8, else cp1252".
#include <string>
#include <string_view>

namespace platform {

bool IsValidUtf8(std::string_view text);

// Every byte taken as Windows-1252. The five bytes that page leaves
// undefined become the C1 control characters of the same value.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 text unchanged; anything else read as Windows-1252.
std::string Utf8OrCp1252ToUtf8(std::string_view text);

} // namespace platform
