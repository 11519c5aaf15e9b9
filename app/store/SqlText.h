#pragma once
// Building statement text. The journal's statements are plain text; every
// value that reaches one passes through these helpers.
#include <string>
#include <string_view>

// A text value made safe inside single quotes: ' doubled, everything else
// kept as typed. NUL bytes are dropped: they would cut the statement short.
std::string EscapeSqlText(std::string_view text);

// printf-style formatting into a new string.
std::string SqlFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Leading and trailing white space removed.
std::string TrimText(std::string_view text);
