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

// A host key blob read whole, as the negotiated algorithm's: its type
// string exactly "ssh-rsa" (e, n) or "ssh-dss" (p, q, g, y), each number a
// non-negative mpint without a needless leading zero, and nothing after
// the last, every number within the bounds of its key kind (logged when
// not). The RSA modulus length is n's bit count, at least
// kSshMinRsaHostKeyBits. A DSS q of 160, 224 or 256 bits is read, as
// OpenSSH reads it; its signature is r and s in 20 bytes each, as OpenSSH
// writes and reads one, so that a larger r or s is refused there.
bool parseRsaHostKey(const DataBuffer& blob, RsaKey& key, LogBase& log);
bool parseDssHostKey(const DataBuffer& blob, DssKey& key, LogBase& log, bool verbose);
bool verifyRsaSignature(const RsaKey& key, const unsigned char* sig, unsigned int sigLength, const unsigned char* data,
                        unsigned int dataLength, LogBase& log);
bool dssVerifySig(const DssKey& key, const unsigned char* sig, unsigned int sigLength, const unsigned char* data,
                  unsigned int dataLength, LogBase& log, bool verbose);
// "ssh-rsa BITS " or "ssh-dss BITS " and the MD5 of the key blob, as the
// server sent it, in colon-joined hex.
void rsaFingerprint(const RsaKey& key, const DataBuffer& blob, StringBuffer& out);
void dssFingerprint(const DssKey& key, const DataBuffer& blob, StringBuffer& out);

} // namespace tessik
