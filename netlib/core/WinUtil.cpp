#include "netlib/core/WinUtil.h"

#include "netlib/core/StringBuffer.h"
#include "platform/Identity.h"
#include "platform/Ticks.h"

void sleepMs(DWORD milliseconds) { platform::Sleep(milliseconds); }

void getUserNameSb(tessik::StringBuffer& out) {
    char name[400];
    DWORD size = sizeof name;
    if (platform::GetUserNameA(name, &size)) out.append(name);
}

void getComputerNameSb(tessik::StringBuffer& out) {
    char name[118];
    DWORD size = sizeof name;
    if (platform::GetComputerNameA(name, &size)) out.append(name);
}
