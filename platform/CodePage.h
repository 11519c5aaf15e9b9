#pragma once
// The "ANSI" and OEM code pages. Here the ANSI page is UTF-8 (65001); tests
// may set another (e.g. 1252) to exercise the lossy single-byte paths.

namespace platform {

constexpr unsigned kCodePageUtf8 = 65001;
constexpr unsigned kCodePageOem = 437;

unsigned GetACP();
unsigned GetOEMCP();

// 0 restores the default. Affects every thread.
void SetAnsiCodePageOverride(unsigned codePage);

} // namespace platform
