// DER and BER arrive from any TLS server and in every certificate file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

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
    derToXml(der, xml, &ext, log, true);
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
        for (int i = 0; ok && i < list.getCount(); ++i) {
            DataBuffer out;
            static_cast<Asn1*>(list.elementAt(i))->encodeDer(out, true, nullptr, log);
        }
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
