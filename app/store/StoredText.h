#pragma once
// Texts as they come out of a journal file. Journals written on Windows hold
// their texts in the Windows Western code page; they are shown, never dropped.
#include <string>
#include <string_view>

bool IsValidUtf8(std::string_view text);

// Every byte taken as Windows-1252. The five bytes that page leaves
// undefined become the C1 control characters of the same value.
std::string Cp1252ToUtf8(std::string_view text);

// UTF-8 text unchanged; anything else read as Windows-1252.
std::string StoredTextToUtf8(std::string_view text);
