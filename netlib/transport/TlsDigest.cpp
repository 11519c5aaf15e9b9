#include "netlib/transport/TlsDigest.h"

#include <cstring>

#include "netlib/crypto/HashAlgorithms.h"

namespace tessik {

TlsDigest::TlsDigest(int hashId) : m_md5(hashId == kHashMd5) {
    if (m_md5)
        m_md5State.initialize();
    else
        m_sha1State.initialize();
}

TlsDigest::~TlsDigest() = default;

void TlsDigest::update(const void* data, std::uint32_t n) {
    if (n == 0)
        return;
    if (m_md5)
        m_md5State.update(data, n);
    else
        m_sha1State.update(data, n);
}

void TlsDigest::final(unsigned char* out) {
    if (m_md5)
        m_md5State.final(out);
    else
        m_sha1State.final(out);
}

void TlsDigest::updatePad(unsigned char value) {
    unsigned char pad[kMd5Pad];
    std::memset(pad, value, sizeof pad);
    update(pad, ssl3PadSize());
}

void ssl3OuterHash(int hashId, const unsigned char* secret, std::uint32_t secretLength, const unsigned char* inner,
                   unsigned char* out) {
    TlsDigest outer(hashId);
    outer.update(secret, secretLength);
    outer.updatePad(TlsDigest::kPad2);
    outer.update(inner, outer.size());
    outer.final(out);
}

} // namespace tessik
