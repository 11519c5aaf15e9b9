#pragma once
// The target of a redirect: a "Location" made absolute against the URL of
// the request that was redirected.
#include "netlib/core/StringBuffer.h"

namespace tessik {

// Always true. An absolute location (http: or https:, any case) comes back
// as it is; one that begins with "//" names another host under the base's
// scheme; anything else is a path on the base's host and port. A query or
// fragment of the location follows the resolved path untouched.
bool resolveRedirectUrl(const char* baseUrl, const char* location, StringBuffer& out);
// The base path without its last segment, then the relative path.
void mergeUrlPath(const char* basePath, const char* relativePath, StringBuffer& out);
// Removes "/./" and folds "/x/../" into "/", at most 100 times (then every
// "/../" left becomes "/"); a "/../" right after the host just goes, and one
// at the very start stays.
void collapseDotSegments(StringBuffer& url);

} // namespace tessik
