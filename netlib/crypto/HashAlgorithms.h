#pragma once
// Hash algorithm ids, the names that select them, and the one dispatch from
// an id to its digest: a running context fed in pieces, and the routine that
// hashes a byte range.
#include <cstdint>
#include <variant>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Md5.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/Md2.h"
#include "netlib/crypto/Md4.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/crypto/Sha2.h"

namespace tessik {

enum HashId : int {
    kHashSha1 = 1,
    kHashSha384 = 2,
    kHashSha512 = 3,
    kHashMd2 = 4,
    kHashMd5 = 5,
    kHashHaval = 6,
    kHashSha256 = 7,
    kHashMd4 = 8,
    kHashRipemd128 = 9,
    kHashRipemd160 = 10,
    kHashRipemd256 = 11,
    kHashRipemd320 = 12,
    kHashGost = 13,
};

// Wherever a name or id is not recognised.
constexpr int kHashDefault = kHashSha1;

constexpr int kMd2DigestSize = 16;
constexpr int kMd4DigestSize = 16;
constexpr int kMd5DigestSize = 16;
constexpr int kSha1DigestSize = 20;
constexpr int kSha256DigestSize = 32;
constexpr int kSha384DigestSize = 48;
constexpr int kSha512DigestSize = 64;
constexpr int kMaxDigestSize = kSha512DigestSize;

// Lenient: the password-based derivations' names ("SHA-1", "hmac-sha1", "MD-5").
int hashNameToId(const char* name);
// Strict: the encryption component's hash setting; names rendered by
// hashIdToName parse back to their id.
int parseHashAlgorithmName(const char* name);
// Appends the id's name; for an unknown id appends "sha1" and returns false.
bool hashIdToName(int id, StringBuffer& out);
// Always the number of bytes hashBytes writes for the id.
int hashDigestLength(int id);
// Clears out, then leaves the digest of the bytes in it. Ids without digest
// code of their own hash with SHA-1.
void hashBytes(const void* data, std::uint32_t length, int id, DataBuffer& out);

// The digest of an id over a message given in pieces, held in place: the
// message is never copied.
class HashContext {
public:
    explicit HashContext(int id);
    void update(const void* data, std::uint32_t length);
    // Appends the digest (hashDigestLength bytes); the context starts over.
    void final(DataBuffer& out);

private:
    int m_size;
    std::variant<Sha1, Sha2, Md2, Md5, Md4> m_digest;
};

} // namespace tessik
