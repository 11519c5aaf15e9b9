#pragma once
// Hex, log text and peer helpers shared by the ASN.1 and certificate tests.
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"

namespace pkitest {

std::unique_ptr<tessik::DataBuffer> fromHex(const std::string& hex);
std::string toHex(const tessik::DataBuffer& db);
// The certificates (PEM and DER) under dir, recursively.
std::vector<std::string> certificateFiles(const std::string& dir);
// A file's first certificate as DER, through `openssl x509`; empty when
// openssl does not read it as one.
std::string certificateDer(const std::string& path);

} // namespace pkitest
