#pragma once
// uuencode text: a "begin <mode> <name>" line, lines of at most 45 bytes
// behind a length character, a "`" line and "end", every line ending CR LF.
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class Uu {
public:
    // Appends nothing at all for empty data. Blank mode and name become
    // "644" and "file.dat".
    static void uuencode(const DataBuffer& data, const char* fileMode, const char* fileName, StringBuffer& out);
    // Appends the bytes and fills mode and name from the begin line; false
    // (mode and name empty, out unchanged) without a begin line and octal mode.
    static bool uudecode(const char* text, DataBuffer& out, StringBuffer& fileMode, StringBuffer& fileName);
};

} // namespace tessik
