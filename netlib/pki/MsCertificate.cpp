#include "netlib/pki/MsCertificate.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/core/StringPair.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/ChainEngine.h"
#include "netlib/pki/KeyContainer.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/TessikX509.h"

namespace tessik {

namespace {

constexpr std::uint8_t kClassContext = 2;
constexpr std::uint32_t kTagInteger = 2;
constexpr std::uint32_t kTagBitString = 3;
constexpr std::uint32_t kTagOctetString = 4;
constexpr std::uint32_t kTagExtensions = 3;
constexpr std::uint32_t kTagRfc822Name = 1;
constexpr std::uint32_t kTagKeyIdentifier = 0;
constexpr std::uint32_t kTagBoolean = 1;
constexpr std::uint32_t kTagSequence = 16;
constexpr std::uint32_t kTagDnsName = 2;
constexpr std::uint32_t kTagIpAddress = 7;
constexpr std::uint32_t kTagOtherName = 0;
constexpr std::uint32_t kTagUri = 6;
constexpr std::uint32_t kTagRegisteredId = 8;
constexpr std::uint32_t kTagX400Address = 3;
constexpr std::uint32_t kTagDirectoryName = 4;
constexpr std::uint32_t kTagEdiPartyName = 5;
// Segments of a string nested deeper than this make it unreadable, as the
// TLS peers refuse a certificate with them.
constexpr int kMaxSegmentNesting = 5;
// A BIT STRING's first content octet counts the unused bits of its last.
constexpr unsigned char kMaxUnusedBits = 7;
constexpr int kSubjectField = 4;
// Path lengths beyond this are as good as none.
constexpr long kMaxPathLength = 1L << 24;

constexpr const char* kOidSubjectKeyId = "2.5.29.14";
constexpr const char* kOidKeyUsage = "2.5.29.15";
constexpr const char* kOidSubjectAltName = "2.5.29.17";
constexpr const char* kOidAuthorityKeyId = "2.5.29.35";
constexpr const char* kOidExtKeyUsage = "2.5.29.37";
constexpr const char* kOidBasicConstraints = "2.5.29.19";
constexpr const char* kOidNameConstraints = "2.5.29.30";
// With no policy asked for, any policy serves: a critical policies extension
// changes no verdict.
constexpr const char* kOidCertificatePolicies = "2.5.29.32";
constexpr const char* kOidIssuerAltName = "2.5.29.18";
constexpr const char* kOidCrlDistributionPoints = "2.5.29.31";
constexpr const char* kOidNetscapeCertType = "2.16.840.1.113730.1.1";
constexpr const char* kOidProxyCertInfo = "1.3.6.1.5.5.7.1.14";
constexpr const char* kOidIpAddressBlocks = "1.3.6.1.5.5.7.1.7";
constexpr const char* kOidAsIdentifiers = "1.3.6.1.5.5.7.1.8";
constexpr const char* kOidCommonName = "2.5.4.3";

// The decoded certificate of a context, or null.
std::unique_ptr<Asn1> decodeContext(platform::PCCERT_CONTEXT context) {
    if (!context || !context->pbCertEncoded || context->cbCertEncoded == 0)
        return nullptr;
    LogNull quiet;
    return std::unique_ptr<Asn1>(decodeBerFirst(context->pbCertEncoded, context->cbCertEncoded, nullptr, quiet));
}

// The fields of TBSCertificate after the optional version.
const Asn1* tbsField(const Asn1* cert, int index) {
    const Asn1* tbs = cert ? cert->getChild(0) : nullptr;
    if (!tbs)
        return nullptr;
    const Asn1* first = tbs->getChild(0);
    if (first && first->tagClass == kClassContext && first->tag == 0)
        ++index;
    return tbs->getChild(index);
}

struct Extension {
    std::string oid;
    bool critical = false;
    DataBuffer value;
};

std::vector<std::unique_ptr<Extension>> extensionsOf(const Asn1* cert) {
    std::vector<std::unique_ptr<Extension>> out;
    const Asn1* tbs = cert ? cert->getChild(0) : nullptr;
    if (!tbs)
        return out;
    for (int i = 0; i < tbs->getNumChildren(); ++i) {
        const Asn1* wrap = tbs->getChild(i);
        if (wrap->tagClass != kClassContext || wrap->tag != kTagExtensions)
            continue;
        const Asn1* list = wrap->getChild(0);
        for (int e = 0; list && e < list->getNumChildren(); ++e) {
            const Asn1* ext = list->getChild(e);
            const Asn1* oid = ext->getChild(0);
            const Asn1* value = ext->getChild(ext->getNumChildren() - 1);
            if (!oid || !oid->isOid() || !value || value->tag != kTagOctetString)
                continue;
            auto item = std::make_unique<Extension>();
            StringBuffer text;
            oid->getOidString(text);
            item->oid = text.getString();
            const Asn1* flag = ext->getNumChildren() == 3 ? ext->getChild(1) : nullptr;
            DataBuffer flagByte;
            if (flag && flag->tagClass == 0 && flag->tag == kTagBoolean)
                flag->getContent(flagByte);
            item->critical = flagByte.getSize() == 1 && flagByte.getData()[0] != 0;
            value->getContent(item->value);
            out.push_back(std::move(item));
        }
    }
    return out;
}

std::unique_ptr<Asn1> decodeValue(const DataBuffer& value) {
    if (value.getSize() == 0)
        return nullptr;
    LogNull quiet;
    return std::unique_ptr<Asn1>(decodeBerFirst(value.getData(), value.getSize(), nullptr, quiet));
}

// Splits "NAME=value" name text into parts (see parseNames).
void splitNameText(XString& text, bool subject, ExtPtrArray& parts) {
    ExtPtrArray pieces;
    pieces.setOwnsObjects(true);
    text.getUtf8Sb().split(pieces, ',', true, true);
    for (int i = 0; i < pieces.getCount(); ++i) {
        auto* piece = static_cast<StringBuffer*>(pieces.elementAt(i));
        ExtPtrArray halves;
        halves.setOwnsObjects(true);
        piece->split(halves, '=', true, true);
        if (halves.getCount() < 2 || (halves.getCount() > 2 && !subject))
            continue;
        auto* name = static_cast<StringBuffer*>(halves.elementAt(0));
        auto* value = static_cast<StringBuffer*>(halves.elementAt(1));
        name->trimWhitespace();
        name->toUpperCase();
        if (halves.getCount() > 2 && value->containsSubstring(" + OID")) {
            value->replaceFirst(" + OID", "=");
            value->chopAtFirstChar('=');
        }
        value->trimWhitespace();
        parts.appendPtr(new StringPair(name->getString(), value->getString()));
    }
}

} // namespace

MsCertificate::MsCertificate(platform::PCCERT_CONTEXT context, LogBase& log) : m_context(context) {
    m_issuerParts.setOwnsObjects(true);
    m_subjectParts.setOwnsObjects(true);
    parseNames(log);
}

MsCertificate::MsCertificate(platform::PCCERT_CONTEXT context, LogBase& log, bool duplicate)
    : m_context(duplicate ? platform::CertDuplicateCertificateContext(context) : context) {
    m_issuerParts.setOwnsObjects(true);
    m_subjectParts.setOwnsObjects(true);
    parseNames(log);
}

MsCertificate::~MsCertificate() {
    m_privateKeyDer.secureClear();
    if (m_context)
        platform::CertFreeCertificateContext(m_context);
}

MsCertificate* MsCertificate::createFromBinary(const unsigned char* bytes, unsigned int length, LogBase& log) {
    platform::PCCERT_CONTEXT context =
        platform::CertCreateCertificateContext(platform::X509_ASN_ENCODING, bytes, length);
    if (!context) {
        StringBuffer text(mscert_msg::kCreateFromBinary);
        text.appendLastError();
        log.logError(text.getString());
        return nullptr;
    }
    return new MsCertificate(context, log);
}

MsCertificate* MsCertificate::clone() {
    LogNull quiet;
    auto* copy = new MsCertificate(m_context, quiet, true);
    if (m_privateKeyDer.getSize())
        copy->m_privateKeyDer.appendDb(m_privateKeyDer);
    return copy;
}

void MsCertificate::setPrivateKeyDer(const unsigned char* bytes, unsigned int length) {
    m_privateKeyDer.secureClear();
    m_privateKeyDer.append(bytes, length);
}

bool MsCertificate::getDer(DataBuffer& out, LogBase* log) {
    out.clear();
    if (!m_context) {
        if (log)
            log->logError(mscert_msg::kNoContext);
        return false;
    }
    if (!m_context->pbCertEncoded || m_context->cbCertEncoded == 0) {
        if (log)
            log->logError(mscert_msg::kNoEncoded);
        return false;
    }
    return out.append(m_context->pbCertEncoded, m_context->cbCertEncoded);
}

void MsCertificate::serialToHex(platform::PCCERT_CONTEXT context, StringBuffer& out) {
    out.clear();
    std::unique_ptr<Asn1> cert = decodeContext(context);
    const Asn1* serial = tbsField(cert.get(), 0);
    if (!serial || serial->tag != kTagInteger || serial->tagClass != 0)
        return;
    DataBuffer bytes;
    serial->getContent(bytes);
    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < bytes.getSize(); ++i) {
        unsigned char b = bytes.getData()[i];
        char two[3] = {kHex[b >> 4], kHex[b & 0xF], 0};
        out.append(two);
    }
}

void MsCertificate::nameBlobToText(platform::PCCERT_CONTEXT context, bool subject, XString& out) {
    out.clear();
    if (!context || !context->pbCertEncoded)
        return;
    LogNull quiet;
    DataBuffer der;
    der.append(context->pbCertEncoded, context->cbCertEncoded);
    TessikX509 cert;
    if (cert.loadFromDer(der, quiet, false))
        cert.getDnText(subject, true, out, quiet);
}

void MsCertificate::issuerNameText(platform::PCCERT_CONTEXT context, XString& out) {
    nameBlobToText(context, false, out);
}

void MsCertificate::getSubjectText(XString& out, LogBase& log) {
    (void)log;
    nameBlobToText(m_context, true, out);
}

namespace {
void readAuthorityKeyId(const Asn1* value, AuthorityKeyIdFields& out);
} // namespace

void MsCertificate::getKeyIdentifiers(platform::PCCERT_CONTEXT context, DataBuffer& subjectKeyId) {
    std::unique_ptr<Asn1> cert = decodeContext(context);
    getKeyIdentifiers(cert.get(), subjectKeyId);
}

void MsCertificate::getKeyIdentifiers(const Asn1* cert, DataBuffer& subjectKeyId, CertificateFields* fields) {
    subjectKeyId.clear();
    if (fields) {
        fields->authorityKeyId = AuthorityKeyIdFields();
        fields->subjectKeyId.reset();
        fields->subjectKeyIdUnreadable = false;
    }
    for (const auto& ext : extensionsOf(cert)) {
        std::unique_ptr<Asn1> value = decodeValue(ext->value);
        if (ext->oid == kOidAuthorityKeyId && fields)
            readAuthorityKeyId(value.get(), fields->authorityKeyId);
        if (ext->oid != kOidSubjectKeyId)
            continue;
        // One reading for the stores, the chain and the signer lookup: an
        // OCTET STRING, its segments joined.
        std::string keyId;
        const bool readable =
            value && value->tagClass == 0 && value->tag == kTagOctetString && joinedContent(value.get(), keyId);
        subjectKeyId.clear();
        if (readable)
            subjectKeyId.append(keyId.data(), static_cast<unsigned int>(keyId.size()));
        if (fields) {
            fields->subjectKeyIdUnreadable = !readable;
            fields->subjectKeyId = std::move(keyId);
        }
    }
}

namespace {

std::string contentOf(const Asn1* node) {
    DataBuffer bytes;
    node->getContent(bytes);
    return std::string(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
}

} // namespace

bool joinedContent(const Asn1* node, std::string& out, int depth) {
    if (node->primitive) {
        out += contentOf(node);
        return true;
    }
    if (depth > kMaxSegmentNesting)
        return false;
    for (int i = 0; i < node->getNumChildren(); ++i)
        if (!joinedContent(node->getChild(i), out, depth + 1))
            return false;
    return true;
}

bool listItems(const Asn1& node, ExtPtrArray& holder, std::vector<const Asn1*>& out) {
    out.clear();
    if (node.primitive) {
        DataBuffer content;
        node.getContent(content);
        std::uint32_t used = 0;
        LogNull quiet;
        const int first = holder.getCount();
        if (content.getSize() != 0 &&
            (!decodeBer(content.getData(), content.getSize(), holder, 0, true, used, nullptr, quiet) ||
             used != content.getSize()))
            return false;
        for (int i = first; i < holder.getCount(); ++i)
            out.push_back(static_cast<const Asn1*>(holder.elementAt(i)));
        return true;
    }
    for (int i = 0; i < node.getNumChildren(); ++i)
        out.push_back(node.getChild(i));
    return true;
}

namespace {

// SEQUENCE { cA BOOLEAN DEFAULT FALSE, pathLenConstraint INTEGER OPTIONAL }.
void readBasicConstraints(const Asn1& value, CertificateExtensionFacts& out) {
    out.hasBasicConstraints = true;
    if (value.tagClass != 0 || value.tag != kTagSequence || value.primitive) {
        out.malformed = true;
        return;
    }
    for (int i = 0; i < value.getNumChildren(); ++i) {
        const Asn1* part = value.getChild(i);
        std::string bytes = contentOf(part);
        if (part->tagClass == 0 && part->tag == kTagBoolean && i == 0 && bytes.size() == 1) {
            out.ca = bytes[0] != 0;
        } else if (part->tagClass == 0 && part->tag == kTagInteger && !bytes.empty() &&
                   static_cast<unsigned char>(bytes[0]) < 0x80) {
            long length = 0;
            for (unsigned char b : bytes)
                length = length > kMaxPathLength ? length : (length << 8) | b;
            out.pathLength = length;
        } else {
            out.malformed = true;
        }
    }
}

// A BIT STRING's content as openssl reads one, whatever its tag: a count of
// unused bits up to 7 first, the bits after it (none is no fault), those
// unused cleared; false for anything else, an empty content included.
bool bitStringBits(const Asn1& value, std::string& bits) {
    std::string content;
    if (!joinedContent(&value, content) || content.empty() || static_cast<unsigned char>(content[0]) > kMaxUnusedBits)
        return false;
    bits = content.substr(1);
    if (!bits.empty())
        bits.back() = static_cast<char>(static_cast<unsigned char>(bits.back()) & (0xFF << content[0]));
    return true;
}

bool isBitString(const Asn1& value, std::string& bits) {
    return value.tagClass == 0 && value.tag == kTagBitString && bitStringBits(value, bits);
}

// An INTEGER as openssl reads one: primitive, not empty, in its shortest form.
bool integerReads(const Asn1& node) {
    const std::string bytes = contentOf(&node);
    const bool padded = bytes.size() > 1 &&
                        ((bytes[0] == 0 && (bytes[1] & 0x80) == 0) || (bytes[0] == '\xFF' && (bytes[1] & 0x80) != 0));
    return node.primitive && !bytes.empty() && !padded;
}

void readKeyUsage(const Asn1& value, CertificateExtensionFacts& out) {
    out.hasKeyUsage = true;
    std::string bits;
    if (!isBitString(value, bits)) {
        out.malformed = true;
        return;
    }
    constexpr unsigned int kOctetBits = 8;
    for (std::size_t i = 0; i < bits.size() && i < 2; ++i)
        out.keyUsage |= std::uint32_t{static_cast<unsigned char>(bits[i])} << (kOctetBits * i);
}

bool isUniversal(const Asn1* node, std::uint32_t tag) {
    return node && node->tagClass == 0 && node->tag == tag && !node->primitive;
}

// A GeneralName in a form its tag allows: the string forms primitive or in
// segments, a registered ID primitive, an other name as a type and a value,
// a directory name as one Name, an X.400 address or EDI party constructed.
// Any other tag is no GeneralName.
bool generalNameForm(const Asn1& name) {
    switch (name.tag) {
    case kTagRfc822Name:
    case kTagDnsName:
    case kTagUri:
    case kTagIpAddress: return true;
    case kTagRegisteredId: return name.primitive != 0;
    case kTagOtherName:
        return !name.primitive && name.getNumChildren() == 2 && name.getChild(0)->isOid() &&
               name.getChild(1)->tagClass == kClassContext && name.getChild(1)->tag == 0 &&
               !name.getChild(1)->primitive;
    case kTagDirectoryName: {
        const Asn1* rdns = name.getNumChildren() == 1 ? name.getChild(0) : nullptr;
        if (name.primitive || !isUniversal(rdns, kTagSequence))
            return false;
        for (int i = 0; i < rdns->getNumChildren(); ++i)
            if (!isUniversal(rdns->getChild(i), asn::kTagSet))
                return false;
        return true;
    }
    case kTagX400Address:
    case kTagEdiPartyName: return !name.primitive;
    default: return false;
    }
}

// SEQUENCE { keyIdentifier [0], authorityCertIssuer [1] GeneralNames,
// authorityCertSerialNumber [2] INTEGER }, each optional, in that order,
// as openssl reads it: anything else, a GeneralName in a form its tag does
// not allow, a Name it could not read, or a serial number not in its
// shortest form, names no issuer.
void readAuthorityKeyId(const Asn1* value, AuthorityKeyIdFields& out) {
    constexpr std::uint32_t kSerialField = 2;
    out = AuthorityKeyIdFields();
    out.unreadable = !value || value->tagClass != 0 || value->tag != kTagSequence || value->primitive;
    std::uint32_t nextField = kTagKeyIdentifier;
    for (int i = 0; !out.unreadable && i < value->getNumChildren(); ++i) {
        const Asn1* part = value->getChild(i);
        std::string bytes;
        if (part->tagClass != kClassContext || part->tag < nextField || part->tag > kSerialField) {
            out.unreadable = true;
        } else if (part->tag == kTagKeyIdentifier) {
            out.unreadable = !joinedContent(part, bytes);
            out.keyId = std::move(bytes);
        } else if (part->tag == kSerialField) {
            out.unreadable = !integerReads(*part);
            out.serial = contentOf(part);
        } else {
            ExtPtrArray holder;
            holder.setOwnsObjects(true);
            std::vector<const Asn1*> names;
            out.unreadable = !listItems(*part, holder, names);
            for (const Asn1* name : names) {
                // A directory name's Name is read as the names are (written
                // primitive too), the other forms as alternative names are.
                const Asn1* dn = name->getNumChildren() == 1 ? name->getChild(0) : nullptr;
                const bool directory = name->tag == kTagDirectoryName && !name->primitive && dn && dn->tagClass == 0 &&
                                       dn->tag == kTagSequence;
                out.unreadable = out.unreadable || name->tagClass != kClassContext ||
                                 (name->tag == kTagDirectoryName ? !directory : !generalNameForm(*name));
                DataBuffer der;
                LogNull quiet;
                if (!out.unreadable && directory && !out.issuerName) {
                    out.unreadable = !dn->encodeDer(der, false, nullptr, quiet);
                    out.issuerName = std::string(reinterpret_cast<const char*>(der.getData()), der.getSize());
                }
            }
        }
        nextField = part->tag + 1;
    }
}

// GeneralNames: a name of another class or tag, or of a form its tag does
// not allow, or a list of another shape, makes the extension unreadable, and
// the certificate with it: its DNS names are not known, so neither may the
// common name stand in for them.
void readAltNames(const Asn1& value, CertificateExtensionFacts& out) {
    if (value.tagClass != 0 || value.tag != kTagSequence || value.primitive) {
        out.malformed = true;
        return;
    }
    for (int i = 0; i < value.getNumChildren(); ++i) {
        const Asn1* name = value.getChild(i);
        std::string text;
        if (name->tagClass != kClassContext || !generalNameForm(*name) ||
            ((name->tag == kTagDnsName || name->tag == kTagIpAddress || name->tag == kTagRfc822Name) &&
             !joinedContent(name, text))) {
            out.malformed = true;
            continue;
        }
        if (name->tag == kTagDnsName)
            out.dnsNames.push_back(std::move(text));
        else if (name->tag == kTagIpAddress)
            out.ipAddresses.push_back(std::move(text));
        else if (name->tag == kTagRfc822Name)
            out.emailAddresses.push_back(std::move(text));
    }
}

// False when the extension is no SEQUENCE OF OBJECT IDENTIFIER.
bool readExtendedKeyUsage(const Asn1* value, CertificateExtensionFacts& out) {
    out.hasExtendedKeyUsage = true;
    if (!value || value->tagClass != 0 || value->tag != kTagSequence || value->primitive)
        return false;
    bool readable = true;
    for (int i = 0; i < value->getNumChildren(); ++i) {
        StringBuffer oid;
        if (value->getChild(i)->tagClass == 0 && value->getChild(i)->isOid() && value->getChild(i)->getOidString(oid))
            out.extendedKeyUsages.emplace_back(oid.getString());
        else
            readable = false;
    }
    return readable;
}

// GeneralSubtrees of dNSName and iPAddress bases, each with neither a minimum
// nor a maximum; false for anything else.
bool readSubtrees(const Asn1& list, std::vector<std::string>& dns, std::vector<std::string>& ip) {
    constexpr std::size_t kIpv4WithMask = 8, kIpv6WithMask = 32;
    for (int i = 0; i < list.getNumChildren(); ++i) {
        const Asn1* subtree = list.getChild(i);
        const Asn1* base = subtree->getChild(0);
        if (subtree->tagClass != 0 || subtree->tag != kTagSequence || subtree->getNumChildren() != 1 || !base ||
            base->tagClass != kClassContext)
            return false;
        std::string bytes;
        if (!joinedContent(base, bytes))
            return false;
        if (base->tag == kTagDnsName)
            dns.push_back(std::move(bytes));
        else if (base->tag == kTagIpAddress && (bytes.size() == kIpv4WithMask || bytes.size() == kIpv6WithMask))
            ip.push_back(std::move(bytes));
        else
            return false;
    }
    return true;
}

// SEQUENCE { permittedSubtrees [0] OPTIONAL, excludedSubtrees [1] OPTIONAL }.
void readNameConstraints(const Asn1* value, NameConstraintFacts& out) {
    out.present = true;
    if (!value || value->tagClass != 0 || value->tag != kTagSequence || value->primitive) {
        out.unjudgeable = true;
        return;
    }
    for (int i = 0; i < value->getNumChildren(); ++i) {
        const Asn1* part = value->getChild(i);
        const bool permitted = part->tag == 0;
        if (part->tagClass != kClassContext || part->primitive || part->tag > 1 ||
            !readSubtrees(*part, permitted ? out.permittedDns : out.excludedDns,
                          permitted ? out.permittedIp : out.excludedIp))
            out.unjudgeable = true;
    }
}

// A name value as UTF-8 by its string type; any other type (an OCTET
// STRING, a VisibleString, a context tag) is no text here: false.
bool nameValueText(const Asn1& value, std::string& out) {
    std::string bytes;
    return value.tagClass == asn::kClassUniversal && joinedContent(&value, bytes) &&
           nameStringText(value.tag, bytes, out);
}

void readCommonNames(const Asn1* subject, CertificateExtensionFacts& out) {
    for (int i = 0; subject && i < subject->getNumChildren(); ++i) {
        const Asn1* set = subject->getChild(i);
        for (int j = 0; j < set->getNumChildren(); ++j) {
            const Asn1* pair = set->getChild(j);
            const Asn1* oid = pair->getChild(0);
            const Asn1* value = pair->getChild(1);
            StringBuffer oidText;
            if (!oid || !value || !oid->isOid() || !oid->getOidString(oidText) || !oidText.equals(kOidCommonName))
                continue;
            std::string text;
            if (nameValueText(*value, text))
                out.commonNames.push_back(std::move(text));
            else
                out.commonNameNotText = true;
        }
    }
}

bool isInteger(const Asn1* node) {
    return node && node->tagClass == 0 && node->tag == kTagInteger && integerReads(*node);
}

// An OBJECT IDENTIFIER openssl decodes: no arc padded with 0x80, none cut off.
bool isReadableOid(const Asn1* node) {
    if (!node || node->tagClass != 0 || !node->isOid() || !node->primitive)
        return false;
    const std::string bytes = contentOf(node);
    if (bytes.empty() || (bytes.back() & 0x80) != 0)
        return false;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i]) == 0x80 && (i == 0 || (bytes[i - 1] & 0x80) == 0))
            return false;
    return true;
}

bool derOf(const Asn1& node, std::string& out) {
    DataBuffer der;
    LogNull quiet;
    if (!node.encodeDer(der, false, nullptr, quiet))
        return false;
    out.assign(reinterpret_cast<const char*>(der.getData()), der.getSize());
    return true;
}

// The items of a SEQUENCE OF or a SET OF as openssl reads them, written
// primitive too; those read from a primitive one are held here.
struct ListOf {
    ExtPtrArray holder;
    std::vector<const Asn1*> items;

    ListOf() { holder.setOwnsObjects(true); }
    bool read(const Asn1& node) { return listItems(node, holder, items); }
    bool readSequence(const Asn1* node) {
        return node && node->tagClass == 0 && node->tag == kTagSequence && read(*node);
    }
};

// GeneralNames (of any tag), written primitive too: each a GeneralName in a
// form its tag allows, a directory name one whose values openssl can
// compare.
bool generalNamesRead(const Asn1& list) {
    ListOf names;
    if (!names.read(list))
        return false;
    for (const Asn1* name : names.items) {
        std::string der;
        if (name->tagClass != kClassContext || !generalNameForm(*name) ||
            (name->tag == kTagDirectoryName && (!derOf(*name->getChild(0), der) || !nameComparisonKey(der))))
            return false;
    }
    return true;
}

// nameRelativeToCRLIssuer: openssl joins it to the CRL issuer's name and
// encodes the whole, which fails for a value it cannot compare.
bool relativeNameReads(const Asn1& rdn) {
    ListOf pairs;
    if (!pairs.read(rdn))
        return false;
    std::unique_ptr<Asn1> name(Asn1::newSequence());
    Asn1* set = Asn1::newSet();
    name->appendChild(set);
    for (const Asn1* pair : pairs.items) {
        std::string der;
        if (!isUniversal(pair, kTagSequence) || pair->getNumChildren() != 2 || !isReadableOid(pair->getChild(0)) ||
            !derOf(*pair, der))
            return false;
        DataBuffer bytes;
        bytes.append(der.data(), static_cast<unsigned int>(der.size()));
        std::unique_ptr<Asn1> copy = decodeValue(bytes);
        if (!copy || !set->appendChild(copy.get()))
            return false;
        copy.release();
    }
    std::string der;
    return derOf(*name, der) && nameComparisonKey(der).has_value();
}

// CRLDistributionPoints: a SEQUENCE OF DistributionPoint { [0]
// DistributionPointName, [1] reasons, [2] cRLIssuer }, each optional and in
// that order, with a point's name or a CRL issuer; a relative name joined to
// the issuer's as openssl joins it.
bool crlDistributionPointsRead(const Asn1* value) {
    constexpr std::uint32_t kPointName = 0, kReasons = 1, kCrlIssuer = 2;
    constexpr std::uint32_t kFullName = 0, kRelativeName = 1;
    ListOf points;
    if (!points.readSequence(value))
        return false;
    for (const Asn1* point : points.items) {
        if (!isUniversal(point, kTagSequence))
            return false;
        std::uint32_t next = kPointName;
        bool named = false;
        for (int j = 0; j < point->getNumChildren(); ++j) {
            const Asn1* part = point->getChild(j);
            std::string bits;
            if (part->tagClass != kClassContext || part->tag < next || part->tag > kCrlIssuer)
                return false;
            next = part->tag + 1;
            if (part->tag == kPointName) {
                const Asn1* choice = part->getNumChildren() == 1 && !part->primitive ? part->getChild(0) : nullptr;
                if (!choice || choice->tagClass != kClassContext ||
                    (choice->tag == kFullName ? !generalNamesRead(*choice)
                                              : choice->tag != kRelativeName || !relativeNameReads(*choice)))
                    return false;
                named = true;
            } else if (part->tag == kReasons) {
                if (!bitStringBits(*part, bits))
                    return false;
            } else {
                if (!generalNamesRead(*part))
                    return false;
                named = named || part->getNumChildren() > 0;
            }
        }
        if (!named)
            return false;
    }
    return true;
}

// ProxyCertInfo ::= SEQUENCE { pcPathLengthConstraint INTEGER OPTIONAL,
// proxyPolicy SEQUENCE { policyLanguage OID, policy OCTET STRING OPTIONAL } }.
bool proxyCertInfoReads(const Asn1* value) {
    if (!isUniversal(value, kTagSequence) || value->getNumChildren() < 1 || value->getNumChildren() > 2)
        return false;
    const bool hasLength = value->getNumChildren() == 2;
    const Asn1* policy = value->getChild(hasLength ? 1 : 0);
    if ((hasLength && !isInteger(value->getChild(0))) || !isUniversal(policy, kTagSequence) ||
        policy->getNumChildren() < 1 || policy->getNumChildren() > 2 || !isReadableOid(policy->getChild(0)))
        return false;
    const Asn1* text = policy->getChild(1);
    return !text || (text->tagClass == 0 && text->tag == kTagOctetString);
}

bool isNull(const Asn1* node) {
    constexpr std::uint32_t kTagNull = 5;
    return node && node->tagClass == 0 && node->tag == kTagNull && node->primitive && contentOf(node).empty();
}

bool isBitStringItem(const Asn1* node) {
    std::string bits;
    return node && isBitString(*node, bits);
}

// An RFC 3779 choice: inherit NULL, or a SEQUENCE OF items or of SEQUENCE
// { min, max } ranges of them.
bool resourceChoiceReads(const Asn1* choice, bool (*item)(const Asn1*)) {
    if (isNull(choice))
        return true;
    ListOf entries;
    if (!entries.readSequence(choice))
        return false;
    for (const Asn1* entry : entries.items) {
        const bool range = isUniversal(entry, kTagSequence) && entry->getNumChildren() == 2 &&
                           item(entry->getChild(0)) && item(entry->getChild(1));
        if (!range && !item(entry))
            return false;
    }
    return true;
}

// IPAddrBlocks ::= SEQUENCE OF SEQUENCE { addressFamily OCTET STRING,
// choice of BIT STRING prefixes and ranges }.
bool ipAddressBlocksRead(const Asn1* value) {
    ListOf families;
    if (!families.readSequence(value))
        return false;
    for (const Asn1* family : families.items) {
        if (!isUniversal(family, kTagSequence) || family->getNumChildren() != 2 || family->getChild(0)->tagClass != 0 ||
            family->getChild(0)->tag != kTagOctetString || !resourceChoiceReads(family->getChild(1), isBitStringItem))
            return false;
    }
    return true;
}

// ASIdentifiers ::= SEQUENCE { asnum [0], rdi [1] }, each optional and
// explicit, a choice of INTEGER ids and ranges.
bool asIdentifiersRead(const Asn1* value) {
    if (!isUniversal(value, kTagSequence))
        return false;
    std::uint32_t next = 0;
    for (int i = 0; i < value->getNumChildren(); ++i) {
        const Asn1* part = value->getChild(i);
        if (part->tagClass != kClassContext || part->primitive || part->tag < next || part->tag > 1 ||
            part->getNumChildren() != 1 || !resourceChoiceReads(part->getChild(0), isInteger))
            return false;
        next = part->tag + 1;
    }
    return true;
}

} // namespace

void MsCertificate::getExtensionFacts(platform::PCCERT_CONTEXT context, CertificateExtensionFacts& out) {
    std::unique_ptr<Asn1> cert = decodeContext(context);
    getExtensionFacts(cert.get(), out);
}

void MsCertificate::getExtensionFacts(const Asn1* cert, CertificateExtensionFacts& out) {
    out = CertificateExtensionFacts();
    readCommonNames(tbsField(cert, kSubjectField), out);
    static const char* const kJudged[] = {
        kOidBasicConstraints, kOidKeyUsage,       kOidSubjectAltName,      kOidExtKeyUsage,     kOidNameConstraints,
        kOidSubjectKeyId,     kOidAuthorityKeyId, kOidCertificatePolicies, kOidNetscapeCertType};
    // Those openssl reads on every certificate, a repeated one included.
    static const char* const kReadByOpenssl[] = {
        kOidBasicConstraints, kOidKeyUsage,      kOidSubjectAltName,  kOidExtKeyUsage,
        kOidNameConstraints,  kOidSubjectKeyId,  kOidAuthorityKeyId,  kOidCrlDistributionPoints,
        kOidNetscapeCertType, kOidProxyCertInfo, kOidIpAddressBlocks, kOidAsIdentifiers};
    bool proxy = false, altNames = false;
    std::vector<std::string> seen;
    for (const auto& ext : extensionsOf(cert)) {
        if (std::find(seen.begin(), seen.end(), ext->oid) != seen.end()) {
            out.repeatedExtension = true;
            out.extensionUnreadable =
                out.extensionUnreadable || std::any_of(std::begin(kReadByOpenssl), std::end(kReadByOpenssl),
                                                       [&](const char* oid) { return ext->oid == oid; });
        }
        seen.push_back(ext->oid);
        if (ext->critical &&
            std::none_of(std::begin(kJudged), std::end(kJudged), [&](const char* oid) { return ext->oid == oid; }))
            out.unknownCritical = true;
        std::unique_ptr<Asn1> value = decodeValue(ext->value);
        if (ext->oid == kOidBasicConstraints) {
            if (value)
                readBasicConstraints(*value, out);
            else
                out.hasBasicConstraints = out.malformed = true;
        } else if (ext->oid == kOidKeyUsage) {
            if (value)
                readKeyUsage(*value, out);
            else
                out.hasKeyUsage = out.malformed = true;
        } else if (ext->oid == kOidSubjectAltName) {
            if (value)
                readAltNames(*value, out);
            else
                out.malformed = true;
        } else if (ext->oid == kOidExtKeyUsage) {
            out.extensionUnreadable = !readExtendedKeyUsage(value.get(), out) || out.extensionUnreadable;
        } else if (ext->oid == kOidNameConstraints) {
            readNameConstraints(value.get(), out.nameConstraints);
            out.extensionUnreadable = out.extensionUnreadable || !value || value->tagClass != 0 ||
                                      value->tag != kTagSequence || value->primitive;
        } else if (ext->oid == kOidCrlDistributionPoints) {
            out.extensionUnreadable = !crlDistributionPointsRead(value.get()) || out.extensionUnreadable;
        } else if (ext->oid == kOidNetscapeCertType) {
            // openssl reads unused bits and no octet as no type at all,
            // where the decoder refuses such a BIT STRING.
            constexpr unsigned char kBareBitString[] = {kTagBitString, 1};
            const unsigned char* raw = ext->value.getData();
            const bool bare = ext->value.getSize() == sizeof kBareBitString + 1 &&
                              std::memcmp(raw, kBareBitString, sizeof kBareBitString) == 0 &&
                              raw[sizeof kBareBitString] <= kMaxUnusedBits;
            std::string bits;
            out.extensionUnreadable = (!bare && (!value || !isBitString(*value, bits))) || out.extensionUnreadable;
            out.hasNetscapeCertType = true;
            out.netscapeCertType = bits.empty() ? 0 : static_cast<unsigned char>(bits[0]);
        } else if (ext->oid == kOidProxyCertInfo) {
            out.extensionUnreadable = !proxyCertInfoReads(value.get()) || out.extensionUnreadable;
            proxy = true;
        } else if (ext->oid == kOidIpAddressBlocks) {
            out.extensionUnreadable = !ipAddressBlocksRead(value.get()) || out.extensionUnreadable;
        } else if (ext->oid == kOidAsIdentifiers) {
            out.extensionUnreadable = !asIdentifiersRead(value.get()) || out.extensionUnreadable;
        }
        altNames = altNames || ext->oid == kOidSubjectAltName || ext->oid == kOidIssuerAltName;
    }
    // openssl takes a proxy certificate that is a CA or has alternative
    // names for one it cannot read.
    out.proxyCertificate = proxy;
    out.extensionUnreadable = out.extensionUnreadable || out.malformed || (out.hasKeyUsage && out.keyUsage == 0) ||
                              (proxy && (out.ca || altNames));
}

void MsCertificate::parseNames(LogBase& log) {
    issuerNameText(m_context, m_issuerText);
    getSubjectText(m_subjectText, log);
    splitNameText(m_issuerText, false, m_issuerParts);
    splitNameText(m_subjectText, true, m_subjectParts);
    parseExtensions();
}

void MsCertificate::parseExtensions() {
    CertificateExtensionFacts facts;
    getExtensionFacts(m_context, facts);
    const std::uint32_t ku = facts.hasKeyUsage ? facts.keyUsage : 0;
    m_digitalSignature = (ku & kKeyUsageDigitalSignature) != 0;
    m_nonRepudiation = (ku & kKeyUsageNonRepudiation) != 0;
    m_keyEncipherment = (ku & kKeyUsageKeyEncipherment) != 0;
    m_dataEncipherment = (ku & kKeyUsageDataEncipherment) != 0;
    m_keyCertSign = (ku & kKeyUsageKeyCertSign) != 0;
    m_crlSign = (ku & kKeyUsageCrlSign) != 0;
    if (!facts.emailAddresses.empty())
        m_email.appendUtf8Bytes(facts.emailAddresses.back().data(),
                                static_cast<unsigned int>(facts.emailAddresses.back().size()));
    m_hasExtKeyUsage = facts.hasExtendedKeyUsage;
    static const struct {
        const char* oid;
        bool MsCertificate::* flag;
    } kUsages[] = {
        {kOidServerAuth, &MsCertificate::m_serverAuth},        {"1.3.6.1.5.5.7.3.2", &MsCertificate::m_clientAuth},
        {"1.3.6.1.5.5.7.3.3", &MsCertificate::m_codeSigning},  {"1.3.6.1.5.5.7.3.4", &MsCertificate::m_emailProtection},
        {"1.3.6.1.5.5.7.3.8", &MsCertificate::m_timeStamping},
    };
    for (const std::string& oid : facts.extendedKeyUsages)
        for (const auto& row : kUsages)
            if (oid == row.oid)
                this->*row.flag = true;
}

void MsCertificate::checkChain(LogBase& log) {
    log.logInfo(mscert_msg::kInitValidity);
    CERT_CHAIN_ENGINE_CONFIG config{};
    config.cbSize = sizeof(config);
    config.dwFlags = CERT_CHAIN_CACHE_END_CERT;
    HCERTCHAINENGINE engine = nullptr;
    if (!CertCreateCertificateChainEngine(&config, &engine))
        return;
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    if (!CertGetCertificateChain(engine, m_context, nullptr, nullptr, &para, 0, nullptr, &chain, &log)) {
        CertFreeCertificateChainEngine(engine);
        return;
    }
    DWORD status = chain->TrustStatus.dwErrorStatus;
    m_signatureValid = (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) == 0;
    // A path through an issuer that is no CA, past a name constraint or over
    // an extension that cannot be judged leads to no trusted root.
    m_rootTrusted =
        (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_INVALID_BASIC_CONSTRAINTS |
                   CERT_TRUST_IS_NOT_VALID_FOR_USAGE | CERT_TRUST_INVALID_EXTENSION |
                   CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT | CERT_TRUST_INVALID_NAME_CONSTRAINTS)) == 0;
    m_expired = (status & CERT_TRUST_IS_NOT_TIME_VALID) != 0;
    CertFreeCertificateChain(chain);
    CertFreeCertificateChainEngine(engine);
    m_chainChecked = true;
}

bool MsCertificate::isSignatureValid(LogBase& log) {
    if (!m_chainChecked)
        checkChain(log);
    return m_signatureValid;
}

bool MsCertificate::isRootTrusted(LogBase& log) {
    if (!m_chainChecked)
        checkChain(log);
    return m_rootTrusted;
}

bool MsCertificate::isExpired(LogBase& log) {
    if (!m_chainChecked)
        checkChain(log);
    return m_expired;
}

bool MsCertificate::getKeyProviderInfo(int calledFrom, LogBase& log) {
    if (m_keyProvLoaded)
        return true;
    if (m_keyProvUnavailable) {
        log.logError(mscert_msg::kNoKeyProvInfo);
        log.logDataLong("calledFrom", calledFrom);
        return false;
    }
    log.logInfo(mscert_msg::kFetchingKeyProv);
    log.logDataLong("calledFrom", calledFrom);
    DWORD size = 0;
    if (!platform::CertGetCertificateContextProperty(m_context, platform::CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
        log.logLastError();
        log.logError(mscert_msg::kKeyProvFailed);
        log.logDataLong("calledFrom", calledFrom);
        m_keyProvUnavailable = true;
        return false;
    }
    std::vector<unsigned char> buffer(size);
    if (!platform::CertGetCertificateContextProperty(m_context, platform::CERT_KEY_PROV_INFO_PROP_ID, buffer.data(),
                                                     &size)) {
        log.logLastError();
        log.logError(mscert_msg::kKeyProvFailed2);
        m_keyProvUnavailable = true;
        return false;
    }
    m_keyProvLoaded = true;
    const auto* info = reinterpret_cast<const platform::CRYPT_KEY_PROV_INFO*>(buffer.data());
    m_containerName.append(info->pwszContainerName ? info->pwszContainerName : "");
    m_providerName.append(info->pwszProvName ? info->pwszProvName : "");
    m_providerType = info->dwProvType;
    m_machineKeyset = (info->dwFlags & platform::CRYPT_MACHINE_KEYSET) != 0;
    m_silent = (info->dwFlags & platform::CRYPT_SILENT) != 0;
    m_forKeyExchange = (info->dwKeySpec & platform::AT_KEYEXCHANGE) != 0;
    log.logHex("dwKeySpec", info->dwKeySpec);
    log.logDataLong("forKeyExchange", m_forKeyExchange ? 1 : 0);
    log.logDataLong("forSignature", (info->dwKeySpec & platform::AT_SIGNATURE) ? 1 : 0);
    log.logDataLong("silent", m_silent ? 1 : 0);
    return true;
}

bool MsCertificate::getKeyContainerName(StringBuffer& out, LogBase& log) {
    out.clear();
    if (!getKeyProviderInfo(kFromGetKeyContainerName, log))
        return false;
    out.append(m_containerName.getString());
    return true;
}

bool MsCertificate::isMachineKeyset(bool& out, LogBase& log) {
    out = false;
    if (!getKeyProviderInfo(kFromIsMachineKeyset, log))
        return false;
    out = m_machineKeyset;
    return true;
}

void MsCertificate::logKeyProviderInfo(LogBase& log) {
    getKeyProviderInfo(kFromLogKeyProviderInfo, log);
    if (!m_keyProvLoaded) {
        log.logInfo(mscert_msg::kKeyProvNotAvailable);
        return;
    }
    LogContext ctx(log, "CertKeyProvider");
    log.logData("keyContainer", m_containerName.getString());
    log.logHex("providerType", m_providerType);
    log.logData("keyset", m_machineKeyset ? "machine" : "user");
    log.logData("silent", m_silent ? "yes" : "no");
    log.logData("keyUsage", m_forKeyExchange ? "key exchange" : "signature");
}

bool MsCertificate::hasPrivateKey(LogBase& log) {
    (void)log;
    if (m_privateKeyDer.getSize())
        return true;
    platform::HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL mustFree = FALSE;
    bool ok = platform::CryptAcquireCertificatePrivateKey(m_context, platform::CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr,
                                                          &provider, &keySpec, &mustFree) != FALSE;
    if (mustFree && provider)
        platform::CryptReleaseContext(provider, 0);
    return ok;
}

bool MsCertificate::checkPrivateKey(LogBase& log) {
    LogContext ctx(log, "checkPrivateKey");
    platform::HCRYPTPROV provider = 0;
    DWORD keySpec = 0;
    BOOL mustFree = FALSE;
    if (!platform::CryptAcquireCertificatePrivateKey(m_context, platform::CRYPT_ACQUIRE_COMPARE_KEY_FLAG, nullptr,
                                                     &provider, &keySpec, &mustFree)) {
        log.logLastError();
        log.logError(mscert_msg::kCannotAcquire);
        return false;
    }
    if (mustFree && provider) {
        StringBuffer name;
        getKeyContainerName(name, log);
        log.logData("myKeyContainer", name.getString());
        platform::CryptReleaseContext(provider, 0);
    }
    return true;
}

bool MsCertificate::acquirePrivateKey(platform::HCRYPTPROV* provider, DWORD* keySpec, LogBase& log) {
    if (!platform::CryptAcquireCertificatePrivateKey(m_context, 0, nullptr, provider, keySpec, nullptr)) {
        log.logLastError();
        return false;
    }
    return true;
}

bool MsCertificate::exportPrivateKeyDer(bool skipKeyAccess, DataBuffer& out, bool& keyInaccessible, LogBase& log) {
    out.clear();
    keyInaccessible = false;
    if (m_privateKeyDer.getSize())
        return out.appendDb(m_privateKeyDer);
    if (!m_context) {
        log.logError(mscert_msg::kNoCertContext);
        return false;
    }
    bool haveInfo;
    {
        LogContext ctx(log, "getKeyProviderInfo");
        haveInfo = getKeyProviderInfo(kFromExportPrivateKeyDer, log);
    }
    std::unique_ptr<KeyContainer> container;
    {
        LogContext ctx(log, "openCertKeyContainer");
        container.reset(KeyContainer::openCertKeyContainer(*this, log));
        if (!container) {
            log.logError(mscert_msg::kNoKeyContainer);
            return false;
        }
    }
    if (skipKeyAccess) {
        log.logInfo(mscert_msg::kSkippingKeyAccess);
        keyInaccessible = true;
        return haveInfo;
    }
    LogContext ctx(log, "ExportPrivateKeyToDER");
    bool ok = container->GetPrivateKeyToDER(m_forKeyExchange, out, keyInaccessible, log);
    if (!ok)
        out.clear();
    return ok;
}

} // namespace tessik
