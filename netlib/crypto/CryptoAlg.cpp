#include "netlib/crypto/CryptoAlg.h"

namespace tessik {

namespace {

constexpr std::uint32_t kSubIdSha256 = 12;
constexpr std::uint32_t kSubIdSha384 = 13;
constexpr std::uint32_t kSubIdSha512 = 14;
constexpr std::uint32_t kAes128Bits = 128;
constexpr std::uint32_t kAes192Bits = 192;

bool hashOid(const StringBuffer& name, std::uint32_t algId, StringBuffer& out) {
    struct Row {
        const char* name;
        const char* oid;
    };
    static const Row rows[] = {
        {"sha1", "1.3.14.3.2.26"},
        {"sha-1", "1.3.14.3.2.26"},
        {"sha", "1.3.14.3.2.18"},
        {"md5", "1.2.840.113549.2.5"},
        {"md4", "1.2.840.113549.2.4"},
        {"md2", "1.2.840.113549.2.2"},
        {"GOST R 34.11-94", "1.2.643.2.2.9"},
    };
    for (const Row& r : rows)
        if (name.equalsNoCase(r.name)) {
            out.append(r.oid);
            return true;
        }
    switch (algId & kAlgSubIdMask) {
    case kSubIdSha256: out.append("2.16.840.1.101.3.4.2.1"); return true;
    case kSubIdSha384: out.append("2.16.840.1.101.3.4.2.2"); return true;
    case kSubIdSha512: out.append("2.16.840.1.101.3.4.2.3"); return true;
    default: out.append("1.3.14.3.2.26"); return false;
    }
}

bool cipherOid(const StringBuffer& name, std::uint32_t bits, StringBuffer& out) {
    if (name.equalsNoCase("des")) {
        out.append("1.3.14.3.2.7");
    } else if (name.equalsNoCase("3des") || name.equalsNoCase("3DES TWO KEY")) {
        out.append("1.2.840.113549.3.7");
    } else if (name.equalsNoCase("rc2")) {
        out.append("1.2.840.113549.3.2");
    } else if (name.endsWith("c4") || name.endsWith("C4")) {
        out.append("1.2.840.113549.3.4");
    } else if (name.equalsNoCase("GOST 28147-89")) {
        out.append("1.2.643.2.2.21");
    } else if (name.equalsNoCase("aes") || name.equalsNoCase("aes 128") || name.equalsNoCase("aes 192") ||
               name.equalsNoCase("aes 256")) {
        // The key length decides, not the name.
        out.append(bits == kAes128Bits   ? "2.16.840.1.101.3.4.1.2"
                   : bits == kAes192Bits ? "2.16.840.1.101.3.4.1.22"
                                         : "2.16.840.1.101.3.4.1.42");
    } else {
        out.append("1.2.840.113549.3.2");
        return false;
    }
    return true;
}

} // namespace

CryptoAlg::CryptoAlg(std::uint32_t algId, std::uint32_t bits, const char* name)
    : m_algId(algId), m_bits(bits), m_name(name ? name : "") {}

CryptoAlg::~CryptoAlg() = default;

bool CryptoAlg::getOid(StringBuffer& out) const {
    const std::uint32_t cls = m_algId & kAlgClassMask;
    if (cls == kAlgClassHash)
        return hashOid(m_name, m_algId, out);
    if (cls == kAlgClassDataEncrypt || cls == kAlgClassMsgEncrypt)
        return cipherOid(m_name, m_bits, out);
    return false;
}

CryptoSettings2::CryptoSettings2() = default;

CryptoSettings2::~CryptoSettings2() = default;

} // namespace tessik
