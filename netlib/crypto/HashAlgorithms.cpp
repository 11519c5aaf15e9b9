#include "netlib/crypto/HashAlgorithms.h"

#include "netlib/core/Md5.h"
#include "netlib/crypto/Md2.h"
#include "netlib/crypto/Md4.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/crypto/Sha2.h"

namespace tessik {

namespace {

struct HashName {
    int id;
    const char* name;
};

// The order is the strict parser's order of comparison.
constexpr HashName kStrictNames[] = {
    {kHashSha1, "sha1"},
    {kHashSha256, "sha256"},
    {kHashSha384, "sha384"},
    {kHashSha512, "sha512"},
    {kHashMd2, "md2"},
    {kHashMd4, "md4"},
    {kHashMd5, "md5"},
    {kHashRipemd128, "ripemd128"},
    {kHashRipemd160, "ripemd160"},
    {kHashRipemd256, "ripemd256"},
    {kHashRipemd320, "ripemd320"},
    {kHashHaval, "haval"},
};

// The lenient parser's substrings, first hit wins.
constexpr HashName kLenientNames[] = {
    {kHashSha1, "sha1"},     {kHashMd2, "md2"},       {kHashMd5, "md5"},   {kHashSha256, "sha256"},
    {kHashSha384, "sha384"}, {kHashSha512, "sha512"}, {kHashGost, "gost"},
};

constexpr const char* kIdNames[] = {
    "sha1", "sha384",    "sha512",    "md2",       "md5",       "haval",           "sha256",
    "md4",  "ripemd128", "ripemd160", "ripemd256", "ripemd320", "GOST R 34.11-94",
};

constexpr int kFirstId = kHashSha1;
constexpr int kLastId = kHashGost;

} // namespace

int hashNameToId(const char* name) {
    StringBuffer sb(name ? name : "");
    sb.trimWhitespace();
    sb.removeChar(' ');
    sb.removeChar('\t');
    sb.removeChar('-');
    sb.toLowerCase();
    sb.replaceAll("digest", "");
    for (const HashName& n : kLenientNames)
        if (sb.containsSubstringNoCase(n.name))
            return n.id;
    return kHashDefault;
}

int parseHashAlgorithmName(const char* name) {
    StringBuffer sb(name ? name : "");
    sb.removeChar('-');
    sb.trimWhitespace();
    sb.toLowerCase();
    for (const HashName& n : kStrictNames)
        if (sb.equals(n.name))
            return n.id;
    if (sb.containsSubstringNoCase("gost"))
        return kHashGost;
    return kHashDefault;
}

bool hashIdToName(int id, StringBuffer& out) {
    if (id < kFirstId || id > kLastId) {
        out.append(kIdNames[kHashDefault - kFirstId]);
        return false;
    }
    out.append(kIdNames[id - kFirstId]);
    return true;
}

int hashDigestLength(int id) {
    switch (id) {
    case kHashSha384: return kSha384DigestSize;
    case kHashSha512: return kSha512DigestSize;
    case kHashMd2: return kMd2DigestSize;
    case kHashMd5: return kMd5DigestSize;
    case kHashSha256: return kSha256DigestSize;
    case kHashMd4: return kMd4DigestSize;
    default: return kSha1DigestSize;
    }
}

void hashBytes(const void* data, std::uint32_t length, int id, DataBuffer& out) {
    out.clear();
    switch (id) {
    case kHashSha384: Sha2::digestSha384(data, length, out); return;
    case kHashSha512: Sha2::digestSha512(data, length, out); return;
    case kHashSha256: Sha2::digestSha256(data, length, out); return;
    case kHashMd2: {
        Md2 md2;
        md2.digestBytes(data, length, out);
        return;
    }
    case kHashMd5:
    case kHashMd4: {
        unsigned char digest[kMd5DigestSize];
        if (id == kHashMd5) {
            Md5 md5;
            md5.digestBytes(data, length, digest);
        } else {
            Md4 md4;
            md4.digestBytes(data, length, digest);
        }
        out.append(digest, sizeof digest);
        return;
    }
    default: {
        Sha1 sha1;
        sha1.digestBytes(data, length, out);
        return;
    }
    }
}

} // namespace tessik
