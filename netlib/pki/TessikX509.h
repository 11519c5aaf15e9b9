#pragma once
// One X.509 certificate, kept as the DER it came from and as its ASN.1
// element tree; every field is answered by a path query over that tree.
#include <cstdint>
#include <string>
#include <string_view>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class Asn1;
class LogBase;
class StringBuffer;
class TreeNode;
class XString;

namespace oid {
constexpr const char* kCountry = "2.5.4.6";
constexpr const char* kState = "2.5.4.8";
constexpr const char* kLocality = "2.5.4.7";
constexpr const char* kOrganization = "2.5.4.10";
constexpr const char* kOrgUnit = "2.5.4.11";
constexpr const char* kCommonName = "2.5.4.3";
constexpr const char* kEmail = "1.2.840.113549.1.9.1";
} // namespace oid

class TessikX509 : public TessikObject, public TessikCritSec {
public:
    TessikX509() = default;
    ~TessikX509() override;
    TessikX509(const TessikX509&) = delete;
    TessikX509& operator=(const TessikX509&) = delete;

    bool loadFromDer(const DataBuffer& der, LogBase& log, bool verbose);
    // Also takes a PKCS#7 certificate bag (p7b), keeping its first certificate.
    bool loadFromBytes(const unsigned char* bytes, std::uint32_t n, LogBase& log, bool verbose);
    void getDer(DataBuffer& out) const;

    bool getSerialNumber(XString& out, LogBase& log);
    bool getSerialNumberAsIs(XString& out, LogBase& log);
    bool getPublicKeyDer(DataBuffer& out, LogBase& log);
    bool getIssuerAttr(const char* oid, XString& out, LogBase& log);
    bool getSubjectAttr(const char* oid, XString& out, LogBase& log);
    bool getIssuerC(XString& out, LogBase& log) { return getIssuerAttr(oid::kCountry, out, log); }
    bool getIssuerST(XString& out, LogBase& log) { return getIssuerAttr(oid::kState, out, log); }
    bool getIssuerL(XString& out, LogBase& log) { return getIssuerAttr(oid::kLocality, out, log); }
    bool getIssuerO(XString& out, LogBase& log) { return getIssuerAttr(oid::kOrganization, out, log); }
    bool getIssuerOU(XString& out, LogBase& log) { return getIssuerAttr(oid::kOrgUnit, out, log); }
    bool getIssuerCN(XString& out, LogBase& log) { return getIssuerAttr(oid::kCommonName, out, log); }
    bool getIssuerE(XString& out, LogBase& log) { return getIssuerAttr(oid::kEmail, out, log); }
    bool getSubjectCN(XString& out, LogBase& log) { return getSubjectAttr(oid::kCommonName, out, log); }
    bool getDnText(bool subject, bool withNames, XString& out, LogBase& log);
    // The issuer or subject name rebuilt for DER encoding (caller owns it).
    Asn1* getNameAsn1(bool subject, LogBase& log);
    bool getExtensionValue(const char* oid, DataBuffer& out, LogBase& log);
    bool getExtensionXml(const char* oid, StringBuffer& out, LogBase& log, bool verbose);
    bool matchesIssuerCnAndSerial(const char* issuerCn, const char* serialHex, LogBase& log);

private:
    // The DER as one item's element tree; false (logged) when it does not
    // decode or bytes follow the item.
    bool decodeTree(const DataBuffer& der, LogBase& log, bool verbose);
    // False (logged, tree dropped) unless the tree has a certificate's shape.
    bool keepIfCertificate(LogBase& log);
    void dropTree();
    TreeNode* nameNode(bool subject, LogBase& log);
    bool getNameAttr(bool subject, const char* oid, XString& out, LogBase& log);

    DataBuffer m_der;
    TreeNode* m_tree = nullptr;
};

// Appends the text of one RDN (its first attribute) of a name's element
// tree: ", " between values, "NAME=" with names on, values holding ','
// quoted. False, logged, when the RDN does not have the shape of one.
bool appendRdnText(const TreeNode* rdn, bool withNames, XString& out, LogBase& log);
// The text of a name attribute's value, the one list of the string types
// read as text: its content as written (segments joined) read by its
// universal tag, a BMPString as UTF-16, a UniversalString as UTF-32,
// UTF8String and the single-byte types openssl reads as text as UTF-8, else
// cp1252. False for any other type (an OCTET STRING, a VisibleString ...).
bool nameStringText(std::uint32_t tag, std::string_view content, std::string& out);
// Appends the text of a name attribute's value element, read by its string
// type through nameStringText, escaped; false, nothing appended, for an
// element that holds no string of those types.
bool appendNameValueText(const TreeNode* value, XString& out);
// The content of a BMPString (UTF-16 big-endian) and of a UniversalString
// (UTF-32 big-endian) as UTF-8, a NUL kept as a NUL.
std::string utf8OfBmpString(std::string_view utf16be);
std::string utf8OfUniversalString(std::string_view utf32be);
// The short name of a name attribute ("CN", "O" ...); null when unknown.
const char* rdnAttributeName(const char* oid);

} // namespace tessik
