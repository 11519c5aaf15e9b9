#pragma once
// The fields of a certificate that chains and message recipients are built
// from, each as the exact DER the certificate holds: issuer and subject
// names, serial number, signed part, signature, key, validity, key ids.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/CertStore.h"

namespace tessik {

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

// What the extensions and the subject say about issuing and naming.
struct CertificateExtensionFacts {
    bool hasBasicConstraints = false;
    bool ca = false;
    // -1: no path length constraint.
    long pathLength = -1;
    bool hasKeyUsage = false;
    bool keyCertSign = false;
    // A basic-constraints or key-usage extension that cannot be read.
    bool malformed = false;
    // subjectAltName: DNS names as text, IP addresses as their 4 or 16 bytes.
    std::vector<std::string> dnsNames;
    std::vector<std::string> ipAddresses;
    // The content of every common name of the subject.
    std::vector<std::string> commonNames;
    // An extension that appears twice, whichever.
    bool repeatedExtension = false;
    // A critical extension whose meaning is not judged here.
    bool unknownCritical = false;
    // extendedKeyUsage: the purposes as dotted OIDs (none when unreadable).
    bool hasExtendedKeyUsage = false;
    std::vector<std::string> extendedKeyUsages;
    NameConstraintFacts nameConstraints;
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
    std::string subjectKeyId;
    std::string authorityKeyId;
    // 1 to 3, as the certificate says (absent: 1).
    long version = 1;
    CertificateExtensionFacts facts;
    bool timesRead = false;
    std::int64_t notBefore = 0;
    std::int64_t notAfter = 0;

    bool selfIssued() const { return subject == issuer; }
    bool validAt(std::int64_t t) const { return timesRead && notBefore <= t && t <= notAfter; }
    bool notYetValidAt(std::int64_t t) const { return !timesRead || t < notBefore; }
};

// Whether the certificate names the host: an IP address (dotted IPv4, or
// IPv6 with or without brackets) against the subjectAltName IP addresses
// only, a name against its DNS names, where a `*` stands for exactly one
// label, only as the whole left-most one and only over two labels or more;
// the subject's common names count for a name only when the subjectAltName
// holds no DNS name. Case is ignored.
bool certificateNamesHost(const CertificateFields& cert, const std::string& host);

// Null when the context holds no certificate that can be read.
std::unique_ptr<CertificateFields> readCertificateFields(platform::PCCERT_CONTEXT context);

} // namespace tessik
