#pragma once
// The encoding component: bytes to text and back by one encoding mode
// (base64 by default).
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"

namespace tessik {

enum EncodingMode : int {
    kEncodeBase64 = 1,
    kEncodeQp = 2,
    kEncodeHex = 3,
    kEncodeUrl = 4,
    kEncodeHtml = 5, // produces nothing either way
    kEncodeAnsi = 6,
    kEncodeBase32 = 7,
    kEncodeUu = 8,
    kEncodeModBase64 = 10,
};

class ClsEncode {
public:
    ClsEncode();
    virtual ~ClsEncode();

    // Any number is stored; those without an encoding are named "base64"
    // but encode and decode nothing.
    void setEncodingMode(int mode) { m_encodingMode = mode; }
    int getEncodingMode() const { return m_encodingMode; }
    void getEncodingModeName(XString& out) const;

    // The text replaces out's content, or with append is added to it; modes
    // that produce nothing leave out alone.
    void encodeBytes(const DataBuffer& data, XString& out, bool append);
    // Base64, quoted-printable and modBase64 always append; the other modes
    // replace out's content unless append is set.
    void decodeToBytes(XString& text, DataBuffer& out, bool append);

    const StringBuffer& getUuMode() const { return m_uuMode; }
    XString& getUuFilename() { return m_uuFilename; }

protected:
    int m_encodingMode;
    StringBuffer m_uuMode;
    XString m_uuFilename;
};

} // namespace tessik
