#pragma once
// The services this layer lends the core through its hooks: the code-page
// engine behind EncodingConvert and the byte buffer's named encodings. Until
// they are installed the core converts only what it knows itself.

namespace tessik {

// Called where the library starts, before the first conversion; calling it
// again changes nothing.
void installTextServices();

} // namespace tessik
