#include "netlib/pki/PackageExchange.h"

namespace tessik {

PackageExchange::~PackageExchange() = default;

bool PackageExchange::NtlmExchangePackage(DataBuffer&, DataBuffer&, LogBase&) {
    return false;
}

bool PackageExchange::NtlmFinal(DataBuffer&, LogBase&) {
    return false;
}

} // namespace tessik
