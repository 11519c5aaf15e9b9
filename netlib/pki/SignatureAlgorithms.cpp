#include "netlib/pki/SignatureAlgorithms.h"

#include <cstring>

#include "netlib/crypto/HashAlgorithms.h"

namespace tessik {

namespace {

struct Row {
    int hashId;
    const char* digestOid;
    const char* rsaSignatureOid;
};

constexpr Row kRows[] = {
    {kHashSha1, "1.3.14.3.2.26", "1.2.840.113549.1.1.5"},
    {kHashSha256, "2.16.840.1.101.3.4.2.1", "1.2.840.113549.1.1.11"},
    {kHashSha384, "2.16.840.1.101.3.4.2.2", "1.2.840.113549.1.1.12"},
    {kHashSha512, "2.16.840.1.101.3.4.2.3", "1.2.840.113549.1.1.13"},
    {kHashMd5, "1.2.840.113549.2.5", "1.2.840.113549.1.1.4"},
    {kHashMd2, "1.2.840.113549.2.2", "1.2.840.113549.1.1.2"},
};

// The older OIW name of sha1WithRSAEncryption.
constexpr const char* kOiwSha1WithRsa = "1.3.14.3.2.29";

} // namespace

int hashIdOfDigestOid(const char* oid) {
    for (const Row& r : kRows)
        if (oid && std::strcmp(oid, r.digestOid) == 0)
            return r.hashId;
    return 0;
}

const char* digestOidOfHashId(int hashId) {
    for (const Row& r : kRows)
        if (r.hashId == hashId)
            return r.digestOid;
    return nullptr;
}

int hashIdOfRsaSignatureOid(const char* oid) {
    if (!oid)
        return 0;
    if (std::strcmp(oid, kOiwSha1WithRsa) == 0)
        return kHashSha1;
    for (const Row& r : kRows)
        if (std::strcmp(oid, r.rsaSignatureOid) == 0)
            return r.hashId;
    return 0;
}

} // namespace tessik
