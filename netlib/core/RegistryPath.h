#pragma once
// Opening registry keys by '/'-separated paths, one level at a time.
#include "platform/Registry.h"

namespace tessik {

// Closes the key unless it is one of the predefined roots.
void regCloseKeyUnlessPredefined(platform::HKEY key);

// Every level is opened for reading; unless readOnly, the last level also
// for setting values and creating subkeys. Empty segments are skipped, so
// the root itself comes back when there is no name at all. Null (0) for a
// null path, an empty one, or a level that does not open. The caller closes
// the key with regCloseKeyUnlessPredefined.
platform::HKEY openRegistryKeyPath(platform::HKEY root, const char* path, bool readOnly);
platform::HKEY regOpenKeyPathLocalMachine(const char* path, bool readOnly);
platform::HKEY regOpenKeyPathCurrentUser(const char* path, bool readOnly);

} // namespace tessik
