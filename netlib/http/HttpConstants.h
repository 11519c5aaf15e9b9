#pragma once
// Message texts and fixed values of the HTTP component that callers and
// tests match exactly.

namespace tessik {

// Slots in each facade object's ring of returned strings.
constexpr int kResultRingSize = 10;

namespace http_msg {
constexpr const char* kUtf8Preamble = "Response begins with utf-8 preamble.";
constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
} // namespace http_msg

} // namespace tessik
