#pragma once
// Server host keys and their signatures over the exchange hash (RFC 4253
// section 6.6): "ssh-rsa" and "ssh-dss".
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/DiffieHellman.h"
#include "netlib/crypto/MpInt.h"
#include "netlib/crypto/Rsa.h"

namespace tessik {

// p, q, g, y of an "ssh-dss" key.
using DssKey = DsaKey;

// e and n; the modulus length is n's bit count.
bool parseRsaHostKey(const DataBuffer& blob, RsaKey& key);
bool parseDssHostKey(const DataBuffer& blob, DssKey& key, LogBase& log, bool verbose);
bool verifyRsaSignature(const RsaKey& key, const unsigned char* sig, unsigned int sigLength, const unsigned char* data,
                        unsigned int dataLength, LogBase& log);
bool dssVerifySig(const DssKey& key, const unsigned char* sig, unsigned int sigLength, const unsigned char* data,
                  unsigned int dataLength, LogBase& log, bool verbose);
// "ssh-dss BITS " and the MD5 of the key blob as colon-joined hex.
void dssFingerprint(const DssKey& key, const DataBuffer& blob, StringBuffer& out);

} // namespace tessik
