#pragma once
// Thin wrappers of the system calls the library makes in many places.
#include "platform/WinTypes.h"

namespace tessik {
class StringBuffer;
}

void sleepMs(DWORD milliseconds);
// Append the name; nothing when the call fails.
void getUserNameSb(tessik::StringBuffer& out);
void getComputerNameSb(tessik::StringBuffer& out);
