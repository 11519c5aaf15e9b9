#include "netlib/crypto/CryptoServices.h"

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/crypto/Rijndael.h"
#include "netlib/streams/TessikDeflate.h"
#include "netlib/text/TextServices.h"

namespace tessik {

namespace {

bool xmlInflateRaw(const DataBuffer& in, DataBuffer& out, LogBase& log) {
    return TessikDeflate::inflateFromSource(in, out, log);
}

bool xmlAesDecrypt(const char* password, const DataBuffer& in, DataBuffer& out, LogBase& /*log*/) {
    AesCrypt aes;
    aes.setPassword(password);
    DataBuffer plain;
    if (!aes.decryptDb(in, plain))
        return false;
    out.appendDb(plain);
    return true;
}

const XmlBinaryHooks kXmlHooks{xmlInflateRaw, xmlAesDecrypt};

} // namespace

void installCryptoServices() {
    installTextServices();
    installXmlBinaryHooks(&kXmlHooks);
}

} // namespace tessik
