#pragma once
// The one parser from a cipher name to its algorithm id.

namespace tessik {

// '-' removed, trimmed and lower-cased, then matched; unknown names give AES.
int parseCipherAlgorithmName(const char* name);

} // namespace tessik
