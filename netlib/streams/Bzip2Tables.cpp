// Constant tables of the bzip2 format.
#include "netlib/streams/Bzip2Internal.h"

namespace bz2 {

const std::uint16_t kRandNums[512] = {0};

}  // namespace bz2
