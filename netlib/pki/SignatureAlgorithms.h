#pragma once
// The digest and RSA signature algorithm identifiers certificates and
// signed messages name, and the digests behind them.

namespace tessik {

// The hash id (HashAlgorithms.h) of a digest OID; 0 when the library has
// no digest for it.
int hashIdOfDigestOid(const char* oid);
// The digest OID of a hash id; null for ids without one.
const char* digestOidOfHashId(int hashId);
// The hash id of a PKCS#1 v1.5 RSA signature OID (md2/md5/sha1/sha256/
// sha384/sha512 with RSA); 0 for any other signature algorithm.
int hashIdOfRsaSignatureOid(const char* oid);

} // namespace tessik
