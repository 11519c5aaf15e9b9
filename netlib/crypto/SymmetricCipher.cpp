#include "netlib/crypto/SymmetricCipher.h"

#include <cstring>
#include <limits>
#include <memory>

#include "netlib/core/Md5.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

DataBuffer* newCipherOutput(unsigned int size) {
    constexpr unsigned int kSlack = 32;
    // Past this the room would wrap around to a few bytes.
    if (size > std::numeric_limits<unsigned int>::max() - kSlack)
        return nullptr;
    auto out = std::make_unique<DataBuffer>();
    if (!out->ensureCapacity(size + kSlack))
        return nullptr;
    out->setSize(size);
    return out.release();
}

int cipherBlockSize(int algorithmId) {
    switch (algorithmId) {
    case kCipherAes:
    case kCipherTwofish: return kAesBlockSize;
    case kCipherBlowfish:
    case kCipherBlowfish2:
    case kCipherDes:
    case kCipherRc2: return kDesBlockSize;
    case kCipherRc4: return 1;
    default: return 0;
    }
}

int cipherPaddingBlockSize(int algorithmId) {
    return algorithmId == kCipherBlowfish ? kBlowfishPaddingBlockSize : cipherBlockSize(algorithmId);
}

bool paddingIsRemoved(unsigned int scheme) {
    return scheme == kPadPkcs5 || scheme == kPadRandomCount;
}

void keyFromPasswordBytes(const DataBuffer& password, DataBuffer& out) {
    out.clear();
    unsigned char digest[16];
    Md5 md5;
    md5.digestBytes(password.getData(), password.getSize(), digest);
    out.append(digest, sizeof digest);
    StringBuffer b64;
    ContentCoding::encodeBase64NoCrlf(password.getData(), password.getSize(), b64);
    md5.digestBytes(b64.getString(), static_cast<std::uint32_t>(b64.getSize()), digest);
    out.append(digest, sizeof digest);
}

void keyFromPassword(const char* password, DataBuffer& out) {
    DataBuffer bytes;
    if (password)
        bytes.borrowData(password, static_cast<unsigned int>(std::strlen(password)));
    keyFromPasswordBytes(bytes, out);
}

} // namespace tessik
