#pragma once
// Tick counts: milliseconds of the monotonic clock. The 32-bit count wraps
// after 49.7 days, exactly as callers that compare differences expect.
#include "platform/WinTypes.h"

namespace platform {

DWORD GetTickCount();
UINT64 GetTickCount64();
void Sleep(DWORD milliseconds);

} // namespace platform
