// DER and BER arrive from any TLS server and in every certificate file.
// OpenSSL's ASN.1 walk judges both readers: what it refuses they refuse, and
// where all three read the input the BER reader lists the same items; input
// its releases part on is judged by the table test alone. They may refuse
// more than it does (content it does not check, an indefinite length left
// open at the end of the input, a DER length longer than it needs): a refusal
// is logged, never a silent loss.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "OpensslAsn1Reference.h"

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/DistinguishedName.h"
#include "netlib/pki/TessikX509.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    LogNull log;
    DataBuffer der;
    der.append(data, static_cast<unsigned int>(size));

    ExtPtrArray ext;
    ext.setOwnsObjects(true);
    StringBuffer xml;
    std::vector<fuzzref::Item> reference;
    const bool opensslReads = fuzzref::opensslWalk(data, size, reference);
    const bool judged = !fuzzref::releasesPart(data, size);
    if (derToXml(der, xml, &ext, log, true) && !opensslReads)
        fuzzref::disagree("the DER reader accepts what OpenSSL refuses");
    if (TreeNode* root = derToTree(der, log, false))
        root->deleteTree();

    // What the BER reader accepts deep must re-encode; DER input read
    // shallow must come back byte for byte.
    for (bool deep : {true, false}) {
        ExtPtrArray list;
        list.setOwnsObjects(true);
        std::uint32_t consumed = 0;
        StringBuffer trace;
        bool ok = decodeBer(data, static_cast<std::uint32_t>(size), list, 0, deep, consumed, &trace, log);
        if (consumed > size)
            std::abort();
        // Read shallow, constructed content is kept as it stands, unread.
        if (ok && deep && judged && !opensslReads)
            fuzzref::disagree("the BER reader accepts what OpenSSL refuses");
        std::vector<fuzzref::Item> ours;
        for (int i = 0; ok && i < list.getCount(); ++i) {
            DataBuffer out;
            static_cast<Asn1*>(list.elementAt(i))->encodeDer(out, true, nullptr, log);
            fuzzref::listNodes(static_cast<Asn1*>(list.elementAt(i)), 0, ours);
        }
        if (ok && deep && judged)
            fuzzref::compareListings(ours, reference, "the BER reader lists other items than OpenSSL");
    }

    TessikX509 cert;
    if (cert.loadFromBytes(data, static_cast<std::uint32_t>(size), log, false)) {
        XString text;
        cert.getDnText(true, true, text, log);
        cert.getSerialNumber(text, log);
        DataBuffer value;
        cert.getExtensionValue("2.5.29.17", value, log);
        cert.getPublicKeyDer(value, log);
        if (Asn1* name = cert.getNameAsn1(false, log)) {
            DataBuffer out;
            name->encodeDer(out, false, nullptr, log);
            delete name;
        }
    }
    DistinguishedName dn;
    if (dn.loadDer(der, log)) {
        XString text;
        dn.getDnString(text, log);
    }
    return 0;
}
