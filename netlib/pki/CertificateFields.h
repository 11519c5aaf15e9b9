#pragma once
// The fields of a certificate that chains and message recipients are built
// from, each as the exact DER the certificate holds: issuer and subject
// names, serial number, signed part, signature, key, validity, key ids.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/CertStore.h"

namespace tessik {

class Asn1;

// A CA's name constraints on the DNS names and IP addresses below it.
struct NameConstraintFacts {
    bool present = false;
    // A subtree of another name form, a minimum or maximum, or content that
    // cannot be read: no name below can be judged against them.
    bool unjudgeable = false;
    std::vector<std::string> permittedDns;
    std::vector<std::string> excludedDns;
    // Address then mask: 8 bytes for IPv4, 32 for IPv6.
    std::vector<std::string> permittedIp;
    std::vector<std::string> excludedIp;
};

// keyUsage bits: the first octet of the BIT STRING as it stands, the second
// (decipherOnly) shifted above it.
constexpr std::uint32_t kKeyUsageDigitalSignature = 0x80;
constexpr std::uint32_t kKeyUsageNonRepudiation = 0x40;
constexpr std::uint32_t kKeyUsageKeyEncipherment = 0x20;
constexpr std::uint32_t kKeyUsageDataEncipherment = 0x10;
constexpr std::uint32_t kKeyUsageKeyAgreement = 0x08;
constexpr std::uint32_t kKeyUsageKeyCertSign = 0x04;
constexpr std::uint32_t kKeyUsageCrlSign = 0x02;
// What a TLS server's key may do for some key exchange (openssl's sslserver
// purpose asks for one of these).
constexpr std::uint32_t kKeyUsageTlsServer =
    kKeyUsageDigitalSignature | kKeyUsageKeyEncipherment | kKeyUsageKeyAgreement;

// The Netscape certificate type's bit for an SSL server.
constexpr std::uint8_t kNetscapeSslServer = 0x40;

constexpr const char* kOidServerAuth = "1.3.6.1.5.5.7.3.1";
constexpr const char* kOidAnyExtendedKeyUsage = "2.5.29.37.0";

// What the extensions and the subject say about issuing, naming and use.
struct CertificateExtensionFacts {
    bool hasBasicConstraints = false;
    bool ca = false;
    // -1: no path length constraint.
    long pathLength = -1;
    bool hasKeyUsage = false;
    // kKeyUsage* bits; none when the extension cannot be read.
    std::uint32_t keyUsage = 0;
    // A basic-constraints, key-usage or subjectAltName extension that cannot
    // be read.
    bool malformed = false;
    // subjectAltName: DNS names as text, IP addresses as their 4 or 16
    // bytes, e-mail addresses as text; each written constructed (BER) too,
    // its segments joined.
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses;
    std::vector<std::string> emailAddresses;
    // Every common name of the subject written as text, as UTF-8 by its
    // string type (BMPString and UniversalString decoded); one of another
    // type is left out, and said to be there: openssl stops at it, and
    // takes no common name for a host.
    std::vector<std::string> commonNames;
    bool commonNameNotText = false;
    // An extension that appears twice, whichever.
    bool repeatedExtension = false;
    // A critical extension whose meaning is not judged here.
    bool unknownCritical = false;
    // Basic constraints, key usage, extended key usage, subjectAltName, name
    // constraints, a key identifier, CRL distribution points, the Netscape
    // certificate type, proxyCertInfo or an RFC 3779 address or AS block
    // that cannot be read or is repeated, or a key usage that allows nothing:
    // openssl reads these on every certificate, and takes one it cannot read
    // for no one's issuer and finds no issuer for it.
    bool extensionUnreadable = false;
    // The Netscape certificate type's first octet, when present.
    bool hasNetscapeCertType = false;
    std::uint8_t netscapeCertType = 0;
    // A proxyCertInfo: openssl allows no proxy certificate on a path.
    bool proxyCertificate = false;
    // extendedKeyUsage: the purposes as dotted OIDs (none when unreadable).
    bool hasExtendedKeyUsage = false;
    std::vector<std::string> extendedKeyUsages;
    NameConstraintFacts nameConstraints;

    bool allowsKeyUsage(std::uint32_t bits) const { return !hasKeyUsage || (keyUsage & bits) != 0; }
    // Whether the extended key usage, when present, allows the purpose.
    bool allowsPurpose(const std::string& oid) const;
};

// What an authority key identifier names its certificate's issuer by, each
// field only when written: the issuer's key identifier, the Name of the
// issuer's own issuer (the first directory name of authorityCertIssuer, as
// DER) and the issuer's serial number (content octets). An identifier that
// openssl cannot read (another shape, a GeneralName or an INTEGER not in a
// form it takes) names no issuer at all, as openssl then finds none.
struct AuthorityKeyIdFields {
    bool unreadable = false;
    std::optional<std::string> keyId;
    std::optional<std::string> issuerName;
    std::optional<std::string> serial;
};

struct CertificateFields {
    std::string der;
    std::string subject;
    std::string issuer;
    // The serial number's content bytes (big-endian, sign byte kept).
    std::string serial;
    std::string tbs;
    std::string signatureOid;
    // The signed part names another signature algorithm than the one outside it.
    bool signatureAlgorithmMismatch = false;
    // Empty when the certificate's signature is malformed.
    std::string signature;
    std::string keyOid;
    std::string key;
    // Its content (segments joined) when the extension is there.
    std::optional<std::string> subjectKeyId;
    // A subject key identifier that is no OCTET STRING: openssl takes no
    // certificate with one for an issuer.
    bool subjectKeyIdUnreadable = false;
    AuthorityKeyIdFields authorityKeyId;
    // 1 to 3, as the certificate says (absent: 1).
    long version = 1;
    CertificateExtensionFacts facts;
    bool timesRead = false;
    std::int64_t notBefore = 0;
    std::int64_t notAfter = 0;

    bool validAt(std::int64_t t) const { return timesRead && notBefore <= t && t <= notAfter; }
    bool notYetValidAt(std::int64_t t) const { return !timesRead || t < notBefore; }
};

// Whether openssl reads the certificate whole: every extension it reads on
// every certificate and, for an issuer, its public key.
bool readableAsOpensslReads(const CertificateFields& cert, bool asIssuer);

// The names a certificate claims, the one reading of them that both the
// host check and the name-constraint check make: its DNS subjectAltNames
// (lower case) and its IP subjectAltNames; for an end entity whose
// subjectAltName can be read and holds no DNS name, and whose common names
// are all text, its common names instead of the DNS names, but only those of
// two labels or more in host-name characters (ASCII letters, digits, '-',
// '.', '_' and '*'), as openssl's constraints read one. A common name of any
// other byte (a space, '@', a NUL, non-ASCII text) or of one label claims
// no host: openssl's constraints would pass it by.
// The text with its ASCII letters in lower case, as names are compared.
std::string asciiLowered(std::string text);

struct ClaimedNames {
    std::vector<std::string> dns;
    std::vector<std::string> ip;
};
ClaimedNames claimedNames(const CertificateExtensionFacts& facts, bool endEntity);

// Whether the certificate names the host: an IP address (dotted IPv4, or
// IPv6 with or without brackets) against the claimed addresses only, a name
// against the claimed DNS names, where a `*` stands for exactly one label,
// only as the whole left-most one and only over two labels or more. Case is
// ignored.
bool certificateNamesHost(const CertificateFields& cert, const std::string& host);

// Null when the context holds no certificate that can be read.
std::unique_ptr<CertificateFields> readCertificateFields(platform::PCCERT_CONTEXT context);
std::unique_ptr<CertificateFields> readCertificateFields(std::string_view der);

// How a message names the certificate of a signer or a recipient: by its
// issuer Name and serial number, or by its subject key identifier.
struct CertificateId {
    bool byKeyId = false;
    // The issuer Name as DER, and the serial INTEGER's content octets.
    std::string issuer;
    std::string serial;
    std::string keyId;
};

// A Name as openssl compares names on a chain (RFC 5280 section 7.1): each
// value of a string type openssl reads as text taken as UTF-8 (the
// single-byte types as Latin-1), its ASCII letters in lower case, white
// space at its ends dropped and each run inside it one space; values of
// other types as written; the values of one RDN in any order, and empty
// RDNs none. Two names compare equal when their keys do. No value when
// openssl could not read the name (text that does not convert, a value of
// a type a name may not hold, another shape).
std::optional<std::string> nameComparisonKey(std::string_view nameDer);

// A Name as DER: lengths written longer than they need, or indefinite, do
// not make another name. Empty when it cannot be read.
std::string nameAsDer(std::string_view encoded);
// Reads an IssuerAndSerialNumber, or a [0] subject key identifier (in
// segments too); false for anything else.
bool readCertificateId(const Asn1* node, CertificateId& out);
// Whether the certificate is the one named: its issuer Name, compared as
// names on a chain are (nameComparisonKey), and its serial's value, or its
// subjectKeyIdentifier.
bool certificateHasId(const CertificateFields& cert, const CertificateId& id);
// Map keys, so that thousands of certificates or of names are matched
// without a walk: the key of what an id names (empty when it names
// nothing), and a certificate's two, by issuer and serial and by key
// identifier (each empty when it has none). certificateHasId(cert, id)
// holds exactly when the id's key is one of the certificate's.
std::string certificateIdKey(const CertificateId& id);
void certificateIdKeys(const CertificateFields& cert, std::string& byIssuer, std::string& byKeyId);
// The second alone, which reads no name.
std::string certificateKeyIdKey(const CertificateFields& cert);
// The next certificate of the store after `from` (which the enumeration
// frees) that the id names, as the store's enumeration hands it on; null at
// the end.
platform::PCCERT_CONTEXT nextCertificateWithId(platform::HCERTSTORE store, const CertificateId& id,
                                               platform::PCCERT_CONTEXT from);
} // namespace tessik
