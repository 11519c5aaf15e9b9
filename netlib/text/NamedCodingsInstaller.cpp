// Installs this layer's codings into the byte buffer's named-encodings hook
// (netlib/core/NamedCodingsHook.h).
#include "netlib/core/NamedCodingsHook.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/text/UrlCoding.h"

namespace tessik {
namespace {

bool isName(const StringBuffer& name, const char* a, const char* b) {
    return name.equalsNoCase(a) || name.equalsNoCase(b);
}

bool decodeNamed(const char* nameText, const char* text, DataBuffer& out) {
    StringBuffer name(nameText);
    if (isName(name, "url", "url")) {
        DataBuffer decoded;
        urlDecode(StringBuffer(text), decoded);
        return out.appendDb(decoded);
    }
    StringBuffer trimmed(text);
    trimmed.trimWhitespace();
    unsigned int n = static_cast<unsigned int>(trimmed.getSize());
    DataBuffer decoded;
    if (isName(name, "base64", "base-64")) {
        if (!ContentCoding::decodeBase64(trimmed.getString(), n, decoded))
            return false;
    } else if (isName(name, "qp", "quoted-printable")) {
        ContentCoding::decodeQuotedPrintable(trimmed.getString(), n, decoded); // false only for empty text
    }
    return out.appendDb(decoded);
}

void encodeNamed(const char* nameText, const void* bytes, unsigned int n, StringBuffer& out) {
    StringBuffer name(nameText);
    if (isName(name, "base64", "base-64")) {
        ContentCoding::encodeBase64NoCrlf(bytes, n, out);
    } else if (isName(name, "qp", "quoted-printable")) {
        ContentCoding().encodeQuotedPrintable(bytes, n, out);
    } else if (isName(name, "url", "url")) {
        urlEncodeBytes(bytes, n, out);
    }
}

const NamedCodings kTextCodings = {decodeNamed, encodeNamed};

} // namespace

void installTextNamedCodings() {
    installNamedCodings(&kTextCodings);
}

} // namespace tessik
