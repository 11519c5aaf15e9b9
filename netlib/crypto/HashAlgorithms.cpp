#include "netlib/crypto/HashAlgorithms.h"

#include <type_traits>

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

namespace {

std::variant<Sha1, Sha2, Md2, Md5, Md4> digestFor(int id) {
    switch (id) {
    case kHashSha384: return Sha2(Sha2::kSha384);
    case kHashSha512: return Sha2(Sha2::kSha512);
    case kHashSha256: return Sha2(Sha2::kSha256);
    case kHashMd2: return Md2();
    case kHashMd5: return Md5();
    case kHashMd4: return Md4();
    default: return Sha1();
    }
}

} // namespace

HashContext::HashContext(int id) : m_size(hashDigestLength(id)), m_digest(digestFor(id)) {
    if (auto* sha1 = std::get_if<Sha1>(&m_digest))
        sha1->initialize();
}

void HashContext::update(const void* data, std::uint32_t length) {
    std::visit([&](auto& d) { d.update(data, length); }, m_digest);
}

void HashContext::final(DataBuffer& out) {
    unsigned char digest[kMaxDigestSize];
    std::visit(
        [&](auto& d) {
            using Digest = std::decay_t<decltype(d)>;
            if constexpr (std::is_same_v<Digest, Md2>) {
                d.final(out);
            } else {
                d.final(digest);
                out.append(digest, static_cast<unsigned int>(m_size));
            }
            d.initialize();
        },
        m_digest);
}

void hashBytes(const void* data, std::uint32_t length, int id, DataBuffer& out) {
    out.clear();
    HashContext context(id);
    context.update(data, length);
    context.final(out);
}

} // namespace tessik
