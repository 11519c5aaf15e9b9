#pragma once
// Texts on their way to the printer: formatted into capped buffers, and
// taken as UTF-8, or as cp1252 when they are not valid UTF-8 (journals
// written elsewhere may hold such bytes).
#include <QString>
#include <cstdarg>
#include <string>

namespace print {

QString DecodeText(const char* bytes);

// vsnprintf into at most capacity - 1 bytes; a cut never splits a character.
std::string FormatText(std::size_t capacity, const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));

} // namespace print
