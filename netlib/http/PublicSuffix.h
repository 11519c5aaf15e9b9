#pragma once
// Which names many owners share (co.uk, github.io, an S3 service host): the
// public suffix list the system keeps up to date (Debian's publicsuffix
// package, read through libpsl). The one place that knows public suffixes;
// a name no rule lists is a public suffix when it is a single label.
#include "netlib/core/StringBuffer.h"

namespace tessik {

namespace public_suffix {

// The host's registrable domain, its public suffix and one label more
// ("example.co.uk" for "www.example.co.uk"; host lower-case, a trailing
// dot dropped). False, out
// empty, for a host that is a public suffix itself and for an address; and
// for every host when the system has no list, so that each name is taken
// for one that others may share.
bool registrableDomain(const char* host, StringBuffer& out);

// Tests: the list is read from path from now on (a path that holds none: no
// list); null goes back to the system's list.
void useListForTest(const char* path);

} // namespace public_suffix

} // namespace tessik
