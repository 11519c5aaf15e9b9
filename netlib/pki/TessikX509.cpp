#include "netlib/pki/TessikX509.h"

#include <cstring>
#include <string>
#include <vector>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/Utf.h"
#include "netlib/core/XString.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/AsnTreePath.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/text/ContentCoding.h"
#include "platform/ByteOrder.h"
#include "platform/Cp1252Text.h"

namespace tessik {

namespace {
constexpr const char* kSerialPath = "sequence|int|*";
constexpr const char* kIssuerPath = "sequence|sequence[1]|$";
constexpr const char* kSubjectPath = "sequence|sequence[3]|$";
constexpr const char* kPublicKeyPath = "sequence|sequence[4]|bits|*";
constexpr const char* kExtensionsPath = "sequence|/A/contextSpecific,tag,3|sequence|$";
constexpr const char* kBagFirstCertPath = "contextSpecific|sequence|contextSpecific|sequence|$";
constexpr const char* kValueEndings[] = {"|..|printable|*", "|..|utf8|*", "|..|ia5|*", "|..|t61|*", "|..|universal|*"};
constexpr const char* kUniversalEnding = "|..|universal|*";

// The string types derToXml writes as elements of their own, already read
// as text (escaped as every name text is).
struct NamedString {
    const char* element;
    std::uint32_t tag;
};
constexpr NamedString kNamedStrings[] = {{"printable", asn::kTagPrintableString},
                                         {"utf8", asn::kTagUtf8String},
                                         {"ia5", asn::kTagIa5String},
                                         {"t61", asn::kTagT61String}};

// The tag and the content as written of a string without an element of
// its own.
std::uint32_t universalContent(const TreeNode* value, std::string& raw) {
    DataBuffer bytes;
    ContentCoding::decodeBase64(value->getContent(), static_cast<unsigned int>(value->getContentSize()), bytes);
    raw.assign(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
    StringBuffer tagText;
    value->getAttrValue("tag", tagText);
    return static_cast<std::uint32_t>(tagText.intValue());
}

void appendEscaped(const std::string& text, XString& out) {
    StringBuffer escaped;
    appendStringValue(text.data(), text.size(), escaped);
    out.appendUtf8Bytes(escaped.getString(), static_cast<unsigned int>(escaped.getSize()));
}

// A whole name's text shows every value: one of a type no name value is
// read as (VisibleString, GeneralString ...) as single bytes, as openssl
// shows the ones it knows.
void appendUniversalText(const TreeNode* value, XString& out) {
    std::string raw, text;
    const std::uint32_t tag = universalContent(value, raw);
    if (!nameStringText(tag, raw, text))
        text = platform::Utf8OrCp1252ToUtf8(raw);
    appendEscaped(text, out);
}

bool isElement(const TreeNode* n, const char* name) {
    return n && std::strcmp(n->getTag(), name) == 0;
}

bool isContext(const TreeNode* n, const char* tag, bool constructed) {
    return isElement(n, "contextSpecific") && n->hasAttrWithValue("tag", tag) &&
           n->hasAttrWithValue("constructed", constructed ? "1" : "0");
}

bool isAlgorithm(const TreeNode* n) {
    return isElement(n, "sequence") && (n->getNumChildren() == 1 || n->getNumChildren() == 2) &&
           isElement(n->getChild(0), "oid");
}

// RDNs, each a SET of one or more {type, value} pairs.
bool isName(const TreeNode* n) {
    if (!isElement(n, "sequence"))
        return false;
    for (int i = 0; i < n->getNumChildren(); ++i) {
        const TreeNode* rdn = n->getChild(i);
        if (!isElement(rdn, "set") || rdn->getNumChildren() == 0)
            return false;
        for (int j = 0; j < rdn->getNumChildren(); ++j) {
            const TreeNode* pair = rdn->getChild(j);
            if (!isElement(pair, "sequence") || pair->getNumChildren() != 2 || !isElement(pair->getChild(0), "oid"))
                return false;
        }
    }
    return true;
}

bool isTime(const TreeNode* n) {
    return isElement(n, "utctime") ||
           (isElement(n, "universal") && n->hasAttrWithValue("tag", "24") && n->hasAttrWithValue("constructed", "0"));
}

// [3] holding a SEQUENCE of {extnID, critical BOOLEAN optional, extnValue}.
bool isExtensions(const TreeNode* n) {
    if (!isContext(n, "3", true) || n->getNumChildren() != 1)
        return false;
    const TreeNode* list = n->getChild(0);
    if (!isElement(list, "sequence") || list->getNumChildren() == 0)
        return false;
    for (int i = 0; i < list->getNumChildren(); ++i) {
        const TreeNode* ext = list->getChild(i);
        int fields = ext ? ext->getNumChildren() : 0;
        if (!isElement(ext, "sequence") || fields < 2 || fields > 3 || !isElement(ext->getChild(0), "oid") ||
            !isElement(ext->getChild(fields - 1), "octets") || (fields == 3 && !isElement(ext->getChild(1), "bool")))
            return false;
    }
    return true;
}

// The RFC 5280 skeleton: every query below rests on it, and DER that only
// decodes is not yet a certificate.
bool hasCertificateShape(const TreeNode* root) {
    if (!isElement(root, "sequence") || root->getNumChildren() != 3 || !isAlgorithm(root->getChild(1)) ||
        !isElement(root->getChild(2), "bits"))
        return false;
    const TreeNode* tbs = root->getChild(0);
    if (!isElement(tbs, "sequence"))
        return false;
    const int n = tbs->getNumChildren();
    auto at = [&](int k) { return k < n ? tbs->getChild(k) : nullptr; };
    int i = 0;
    if (isContext(at(0), "0", true)) {
        if (at(0)->getNumChildren() != 1 || !isElement(at(0)->getChild(0), "int"))
            return false;
        ++i;
    }
    const TreeNode* validity = at(i + 3);
    const TreeNode* key = at(i + 5);
    if (!isElement(at(i), "int") || !isAlgorithm(at(i + 1)) || !isName(at(i + 2)) || !isElement(validity, "sequence") ||
        validity->getNumChildren() != 2 || !isTime(validity->getChild(0)) || !isTime(validity->getChild(1)) ||
        !isName(at(i + 4)) || !isElement(key, "sequence") || key->getNumChildren() != 2 ||
        !isAlgorithm(key->getChild(0)) || !isElement(key->getChild(1), "bits"))
        return false;
    i += 6;
    if (isContext(at(i), "1", false))
        ++i;
    if (isContext(at(i), "2", false))
        ++i;
    if (isExtensions(at(i)))
        ++i;
    return i == n;
}

} // namespace

std::string utf8OfBmpString(std::string_view utf16be) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf16be.data());
    std::vector<std::uint16_t> units(utf16be.size() / 2);
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = platform::LoadBe16(p + 2 * i);
    // A NUL is kept, as in every other name text, not dropped unseen.
    return utf8OfUnits(units.data(), static_cast<std::uint32_t>(units.size()));
}

std::string utf8OfUniversalString(std::string_view utf32be) {
    const auto* p = reinterpret_cast<const unsigned char*>(utf32be.data());
    DataBuffer utf32;
    for (std::size_t i = 0; i + 4 <= utf32be.size(); i += 4) {
        unsigned char le[4];
        platform::StoreLe32(le, platform::LoadBe32(p + i));
        utf32.append(le, sizeof le);
    }
    DataBuffer utf8;
    utf32ToUtf8(utf32, utf8);
    return std::string(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
}

bool nameStringText(std::uint32_t tag, std::string_view content, std::string& out) {
    switch (tag) {
    case asn::kTagUtf8String:
    case asn::kTagNumericString:
    case asn::kTagPrintableString:
    case asn::kTagT61String:
    case asn::kTagIa5String: out = platform::Utf8OrCp1252ToUtf8(content); return true;
    case asn::kTagBmpString: out = utf8OfBmpString(content); return true;
    case asn::kTagUniversalString: out = utf8OfUniversalString(content); return true;
    default: return false;
    }
}

bool appendNameValueText(const TreeNode* value, XString& out) {
    std::string text;
    if (isElement(value, "universal") && value->hasAttrWithValue("constructed", "0")) {
        std::string raw;
        const std::uint32_t tag = universalContent(value, raw);
        if (!nameStringText(tag, raw, text))
            return false;
        appendEscaped(text, out);
        return true;
    }
    for (const NamedString& named : kNamedStrings)
        if (isElement(value, named.element) && nameStringText(named.tag, value->getContent(), text)) {
            out.appendUtf8(text.c_str());
            return true;
        }
    return false;
}

TessikX509::~TessikX509() {
    dropTree();
}

void TessikX509::dropTree() {
    if (m_tree)
        m_tree->deleteTree();
    m_tree = nullptr;
}

bool TessikX509::decodeTree(const DataBuffer& der, LogBase& log, bool verbose) {
    m_der.clear();
    m_der.appendDb(der);
    dropTree();
    // A certificate is one item: bytes after it are refused, not dropped.
    std::uint32_t consumed = 0;
    ExtPtrArray* items = decodeAsnItems(der.getData(), der.getSize(), consumed, log, verbose, 1);
    if (!items)
        return false;
    if (items->getCount() == 1 && consumed == der.getSize())
        m_tree = static_cast<AsnItem*>(items->elementAt(0))->toTree(nullptr);
    else
        log.logError(asn_msg::kTrailingBytes);
    items->removeAllObjects();
    delete items;
    return m_tree != nullptr;
}

bool TessikX509::keepIfCertificate(LogBase& log) {
    if (hasCertificateShape(m_tree))
        return true;
    log.logError(x509_msg::kNotCertificate);
    dropTree();
    return false;
}

bool TessikX509::loadFromDer(const DataBuffer& der, LogBase& log, bool verbose) {
    CritSecExitor lock(*this);
    return decodeTree(der, log, verbose) && keepIfCertificate(log);
}

bool TessikX509::loadFromBytes(const unsigned char* bytes, std::uint32_t n, LogBase& log, bool verbose) {
    CritSecExitor lock(*this);
    DataBuffer der;
    der.append(bytes, n);
    if (!decodeTree(der, log, verbose))
        return false;
    TreeNode* first = m_tree->getFirstChild();
    TreeNode* cert = m_tree;
    StringBuffer unused;
    if (isElement(first, "oid") && resolveTreePath(cert, kBagFirstCertPath, unused, log)) {
        log.logInfo(x509_msg::kLoadingP7b);
        TreeNode* alone = copyAsnElement(cert, nullptr);
        if (alone) {
            dropTree();
            m_tree = alone;
        }
    }
    return keepIfCertificate(log);
}

void TessikX509::getDer(DataBuffer& out) const {
    out.clear();
    out.appendDb(m_der);
}

bool TessikX509::getSerialNumberAsIs(XString& out, LogBase& log) {
    CritSecExitor lock(*this);
    TreeNode* node = m_tree;
    StringBuffer hex;
    if (!resolveTreePath(node, kSerialPath, hex, log))
        return false;
    out.setFromUtf8(hex.getString());
    return true;
}

bool TessikX509::getSerialNumber(XString& out, LogBase& log) {
    CritSecExitor lock(*this);
    TreeNode* node = m_tree;
    StringBuffer hex;
    if (!resolveTreePath(node, kSerialPath, hex, log))
        return false;
    hex.prependZeroIfOddLength();
    out.appendUtf8(hex.getString());
    return true;
}

bool TessikX509::getPublicKeyDer(DataBuffer& out, LogBase& log) {
    CritSecExitor lock(*this);
    out.clear();
    TreeNode* node = m_tree;
    StringBuffer hex;
    if (!resolveTreePath(node, kPublicKeyPath, hex, log))
        return false;
    hex.decodeHex(out);
    return true;
}

TreeNode* TessikX509::nameNode(bool subject, LogBase& log) {
    TreeNode* node = m_tree;
    StringBuffer unused;
    if (!resolveTreePath(node, subject ? kSubjectPath : kIssuerPath, unused, log))
        return nullptr;
    return node;
}

bool TessikX509::getNameAttr(bool subject, const char* oidText, XString& out, LogBase& log) {
    CritSecExitor lock(*this);
    out.clear();
    TreeNode* name = nameNode(subject, log);
    if (!name) {
        log.logError(subject ? x509_msg::kSubjectUnreachable : x509_msg::kIssuerUnreachable);
        return false;
    }
    for (const char* ending : kValueEndings) {
        StringBuffer path("/C/oid,");
        path.append(oidText);
        path.append(ending);
        StringBuffer text;
        TreeNode* node = name;
        if (!resolveTreePath(node, path.getString(), text, log))
            continue;
        if (std::strcmp(ending, kUniversalEnding) == 0) {
            std::string valuePath = path.getString();
            valuePath.back() = '$';
            resolveTreePath(node, valuePath.c_str(), text, log);
            appendUniversalText(node, out);
            if (subject)
                log.logData("bmpStr", out.getUtf8());
        } else {
            out.setFromUtf8(text.getString());
        }
        return true;
    }
    return false;
}

bool TessikX509::getIssuerAttr(const char* oidText, XString& out, LogBase& log) {
    return getNameAttr(false, oidText, out, log);
}

bool TessikX509::getSubjectAttr(const char* oidText, XString& out, LogBase& log) {
    return getNameAttr(true, oidText, out, log);
}

bool TessikX509::getDnText(bool subject, bool withNames, XString& out, LogBase& log) {
    CritSecExitor lock(*this);
    out.clear();
    TreeNode* name = nameNode(subject, log);
    if (!name)
        return false;
    for (int i = 0; i < name->getNumChildren(); ++i)
        appendRdnText(name->getChild(i), withNames, out, log);
    return true;
}

Asn1* TessikX509::getNameAsn1(bool subject, LogBase& log) {
    CritSecExitor lock(*this);
    TreeNode* name = nameNode(subject, log);
    return name ? Asn1::fromXml(name, log) : nullptr;
}

bool TessikX509::getExtensionValue(const char* oidText, DataBuffer& out, LogBase& log) {
    CritSecExitor lock(*this);
    out.clear();
    TreeNode* node = m_tree;
    StringBuffer text;
    if (!oidText || !resolveTreePath(node, kExtensionsPath, text, log))
        return false;
    StringBuffer path("/C/oid,");
    path.append(oidText);
    path.append("|..|octets|*");
    if (!resolveTreePath(node, path.getString(), text, log))
        return false;
    DataBuffer scratch;
    ContentCoding::decodeBase64(text.getString(), static_cast<unsigned int>(text.getSize()), scratch);
    out.appendDb(scratch);
    return true;
}

bool TessikX509::getExtensionXml(const char* oidText, StringBuffer& out, LogBase& log, bool verbose) {
    CritSecExitor lock(*this);
    out.clear();
    DataBuffer value;
    if (!getExtensionValue(oidText, value, log))
        return false;
    return derToXml(value, out, nullptr, log, verbose);
}

bool TessikX509::matchesIssuerCnAndSerial(const char* issuerCn, const char* serialHex, LogBase& log) {
    CritSecExitor lock(*this);
    StringBuffer wanted(serialHex ? serialHex : "");
    wanted.prependZeroIfOddLength();
    XString serial;
    if (!getSerialNumber(serial, log) || !serial.getUtf8Sb().equalsNoCase(wanted.getString()))
        return false;
    XString cn;
    getIssuerCN(cn, log);
    return cn.equalsUtf8(issuerCn ? issuerCn : "");
}

// ---------------------------------------------------------------- RDN text

const char* rdnAttributeName(const char* oidText) {
    static const struct {
        const char* oid;
        const char* name;
    } kNames[] = {
        {"1.2.840.113549.1.9.1", "E"},
        {"2.5.4.3", "CN"},
        {"2.5.4.11", "OU"},
        {"2.5.4.10", "O"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "ST"},
        {"2.5.4.9", "STREET"},
        {"2.5.4.6", "C"},
        {"2.5.4.17", "PostalCode"},
        {"2.5.4.4", "Surname"},
        {"2.5.4.5", "SN"},
        {"2.5.4.13", "Description"},
        {"2.5.4.14", "SearchGuide"},
        {"2.5.4.15", "BusinessCategory"},
        {"2.5.4.16", "PostalAddress"},
        {"2.5.4.18", "PostOfficeBox"},
        {"2.5.4.19", "PhysicalDeliveryOfficeName"},
        {"2.5.4.20", "TelephoneNumber"},
        {"2.5.4.23", "FaxNumber"},
        {"0.9.2342.19200300.100.1.25", "DC"},
        {"2.5.4.12", "Title"},
    };
    for (const auto& row : kNames)
        if (std::strcmp(row.oid, oidText) == 0)
            return row.name;
    return nullptr;
}

bool appendRdnText(const TreeNode* rdn, bool withNames, XString& out, LogBase& log) {
    if (!rdn || std::strcmp(rdn->getTag(), "set") != 0) {
        log.logError(x509_msg::kExpectedSet);
        return false;
    }
    const TreeNode* pair = rdn->getFirstChild();
    if (!pair || std::strcmp(pair->getTag(), "sequence") != 0) {
        log.logError(x509_msg::kExpectedSequence);
        return false;
    }
    const TreeNode* oidNode = pair->getFirstChild();
    if (!oidNode || std::strcmp(oidNode->getTag(), "oid") != 0) {
        log.logError(x509_msg::kExpectedOid);
        return false;
    }
    const TreeNode* value = oidNode->getIntMember();
    if (!value)
        return true;
    if (out.getSizeUtf8() > 0)
        out.appendUtf8(", ");
    if (withNames) {
        if (const char* name = rdnAttributeName(oidNode->getContent())) {
            out.appendUtf8(name);
        } else {
            out.appendUtf8("OID.");
            out.appendUtf8(oidNode->getContent());
        }
        out.appendUtf8("=");
    }
    XString text;
    if (std::strcmp(value->getTag(), "universal") == 0)
        appendUniversalText(value, text);
    else
        text.appendUtf8(value->getContent());
    bool quote = std::strchr(text.getUtf8(), ',') != nullptr;
    if (quote)
        out.appendUtf8("\"");
    out.appendX(text);
    if (quote)
        out.appendUtf8("\"");
    return true;
}

} // namespace tessik
