#pragma once
// MD5 or SHA-1, chosen by hash id, for the SSL 3.0 constructions that hash
// a secret with pad bytes around the data rather than use HMAC.
#include <cstdint>

#include "netlib/core/Md5.h"
#include "netlib/crypto/Sha1.h"

namespace tessik {

class TlsDigest {
public:
    // kHashMd5 picks MD5; every other id SHA-1.
    explicit TlsDigest(int hashId);
    virtual ~TlsDigest();

    std::uint32_t size() const { return m_md5 ? kMd5Size : kSha1Size; }
    void update(const void* data, std::uint32_t n);
    // Writes size() bytes; the digest must be re-made before further use.
    void final(unsigned char* out);
    // SSL 3.0 pads: 48 bytes for MD5, 40 for SHA-1.
    std::uint32_t ssl3PadSize() const { return m_md5 ? kMd5Pad : kSha1Pad; }
    void updatePad(unsigned char value);

    static constexpr unsigned char kPad1 = 0x36;
    static constexpr unsigned char kPad2 = 0x5C;

private:
    static constexpr std::uint32_t kMd5Size = 16;
    static constexpr std::uint32_t kSha1Size = 20;
    static constexpr std::uint32_t kMd5Pad = 48;
    static constexpr std::uint32_t kSha1Pad = 40;

    bool m_md5;
    Md5 m_md5State;
    Sha1 m_sha1State;
};

// SSL 3.0's outer step: hash(secret + pad2 + inner), inner being the
// finished hash(secret-and-pad1 construction). Writes digest.size() bytes.
void ssl3OuterHash(int hashId, const unsigned char* secret, std::uint32_t secretLength, const unsigned char* inner,
                   unsigned char* out);

} // namespace tessik
