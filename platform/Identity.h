#pragma once
// The user's login name and the machine's name, as the Windows calls give them.
#include "platform/WinTypes.h"

namespace platform {

// On entry *size is the buffer's size; on success the name is copied with its
// NUL and *size set (user name: counting the NUL; computer name: without it).
// FALSE with ERROR_INSUFFICIENT_BUFFER (and the needed size) when it is too small.
BOOL GetUserNameA(char* buffer, DWORD* size);
BOOL GetComputerNameA(char* buffer, DWORD* size);

} // namespace platform
