#pragma once
// The algorithm record of the PKCS#7 code: read from the ASN.1 XML rendering,
// written back as Asn1 nodes, logged; and the choice of a content-encryption
// algorithm for a new envelope.
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/crypto/CipherOids.h"

namespace tessik {

class Asn1;
class ClsXml;
class ExtPtrArray;
class LogBase;

class AlgorithmIdentifier : public TessikObject {
public:
    AlgorithmIdentifier() = default;
    ~AlgorithmIdentifier() override;

    // node sits on the AlgorithmIdentifier element and is back there afterwards.
    bool loadXml(ClsXml& node, LogBase& log, bool verbose);
    // A new SEQUENCE the caller owns; null for an OID without a parameter form.
    Asn1* toAsn(LogBase& log);
    void logParams(LogBase& log) const;

    StringBuffer oid;
    DataBuffer salt;
    int iterations = 0;
    DataBuffer iv;
    // Bits; for RC2 the effective key bits.
    int keyLength = 0;
};

// Fills out for the crypt component's algorithm id (2 AES, 7 DES family,
// 8 RC2, 9 RC4) with a fresh IV; false for any other id.
bool setPkcs7ContentEncAlgId(int algorithmId, int keyLengthBits, AlgorithmIdentifier& out, LogBase& log);

// The bytes of an OCTET STRING element: its base64 content, or an entry of
// extList that the element refers to (src="ext").
bool getOctetsFromXml(ClsXml& element, const ExtPtrArray* extList, DataBuffer& out);

} // namespace tessik
