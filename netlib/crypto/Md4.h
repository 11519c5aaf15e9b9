#pragma once
// MD4 digest (RFC 1320): MD5's buffering and padding around MD4's rounds.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Md5.h"
#include "netlib/core/XString.h"

namespace tessik {

class Md4 : private Md5 {
public:
    static constexpr unsigned kDigestSize = 16;

    Md4() = default;
    ~Md4() override = default;

    using Md5::digestBytes;
    using Md5::final;
    using Md5::initialize;
    using Md5::update;

    // The NT password hash: MD4 of the UTF-16LE text, appended to out.
    void digestUtf16(XString& text, DataBuffer& out);

private:
    void compress(const unsigned char block[64]) override;
};

} // namespace tessik
