#include "netlib/core/FileTimeValue.h"

#include "platform/WinTime.h"

namespace tessik {

bool FileTimeValue::toLocalFileTime(FileTimeValue& out) const {
    const platform::FILETIME in{low, high};
    platform::FILETIME local{};
    const bool ok = platform::FileTimeToLocalFileTime(&in, &local) != FALSE;
    out.setFromFileTime(local.dwLowDateTime, local.dwHighDateTime);
    return ok;
}

} // namespace tessik
