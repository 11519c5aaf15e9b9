#pragma once
// The services this layer lends the layers below through their hooks: the
// XML component's password AES and raw inflate, AES and SHA-1 for the zip
// entries' WinZip AES, and the password-based encryptors of the zip entry
// pipeline. Installing them installs the text layer's services too.

namespace tessik {

// Called where the library starts, before the first use; calling it again
// changes nothing.
void installCryptoServices();

} // namespace tessik
