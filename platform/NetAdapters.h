#pragma once
// The network adapters' hardware addresses, as the adapter list gives them.
#include <cstdint>

namespace platform {

inline constexpr int kHardwareAddressSize = 6;

// The six-byte hardware (MAC) address of the first adapter that is not a
// loopback and has one; false when the list cannot be read or none has.
bool FirstAdapterHardwareAddress(std::uint8_t out[kHardwareAddressSize]);

} // namespace platform
