#pragma once
// GB18030 (page 54936): the one- and two-byte codes come from the page's
// table, the four-byte codes are computed: the BMP ones through the stored
// runs, the supplementary planes by formula.
#include "netlib/text/ByteStaging.h"

namespace tessik {

class HashConvert;

// Unmappable or malformed input is skipped and makes the result false, or
// replaced as `unmapped` says.
bool gb18030ToUtf16(const HashConvert& table, const unsigned char* p, unsigned int n, DataBuffer& out,
                    UnmappedInput unmapped = {});
bool utf16ToGb18030(const HashConvert& table, const unsigned char* p, unsigned int n, DataBuffer& out);

} // namespace tessik
