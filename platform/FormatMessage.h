#pragma once
// The system message table: the text of a Windows error code.
#include <cstdarg>

#include "platform/WinTypes.h"

namespace platform {

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x400;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x1000;

// Only system messages are kept; their texts end in CR LF as there. Returns
// the characters written without the NUL, 0 with the last error set on
// failure (ERROR_INSUFFICIENT_BUFFER when the buffer is too small). With
// FORMAT_MESSAGE_ALLOCATE_BUFFER `buffer` is taken as a char** that receives
// a block to be given back with LocalFree.
DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                     va_list* arguments);
void* LocalFree(void* block);

} // namespace platform
