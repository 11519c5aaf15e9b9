#pragma once
// The certificate chain engine the certificate contexts ask for their
// verdicts, in the shape of the platform's chain calls. An engine holds the
// certificates of the stores a path is built from: the trusted roots (the
// user's and the machine's ROOT stores, the latter with the system CA
// bundle) and the others (CA, MY and AddressBook, user and machine). A path
// goes by names, issuer to subject, compared as openssl compares them
// (nameComparisonKey). Of the issuers of one name one is chosen as openssl
// chooses one, by what costs no signature (none that a field of the
// authority key identifier leaves out, nor one openssl cannot read whole,
// an extension or its key (readableAsOpensslReads), nor with a key of
// another kind than the signature needs; none for a certificate with an
// extension openssl cannot read; a trusted one first, then
// one valid at the time, then one the server sent before one of the other
// stores, then of two out of time the later ending, then the first) and
// only its signature checked, as openssl checks only the issuer it chose:
// one chain takes at most kMaxSignatureChecks checks. The certificates of an additional store
// (those a TLS server sent with its own) are candidates too, in their
// order, never trusted. RSA signatures with PKCS#1 v1.5 padding are
// verified; any other algorithm counts as a bad signature and says so in
// the log.
//
// Every issuer on the path must be a CA as openssl judges one: a key usage,
// when present, allows certificate signing; basic constraints say cA;
// without them only the top of the path may stand, as a version 1
// self-issued root or with a key usage that allows certificate signing; a
// path length constraint bounds the CAs below it that are not
// self-issued. Every certificate of the path must hold each extension at
// most once, those openssl reads on every certificate in a form it can read
// (a key usage allowing something), no proxyCertInfo, and no critical one
// this engine does not judge, and must name in its signed part the
// signature algorithm it is signed with. A CA's name
// constraints on DNS names and IP addresses bind every certificate below it
// that is not a self-issued CA, on the names claimedNames gives (the end
// certificate's common names too, when it has no DNS alternative name, of
// two labels or more in host-name characters only); constraints of another
// name form cannot
// be judged and fail the path. Requested usages are judged against the
// extended key usage of every certificate that has one, and server
// authentication against the end certificate's key usage and Netscape
// certificate type, as openssl's sslserver purpose does. Beyond that: no revocation or policies (a
// critical policy constraints, inhibit-any-policy or policy mappings
// extension is one not understood).
#include <cstdint>

#include "platform/CertStore.h"
#include "platform/WinTime.h"

namespace tessik {

class LogBase;

struct ChainEngineState;
using HCERTCHAINENGINE = ChainEngineState*;

constexpr DWORD CERT_CHAIN_CACHE_END_CERT = 0x1;
constexpr DWORD USAGE_MATCH_TYPE_AND = 0;
constexpr DWORD USAGE_MATCH_TYPE_OR = 1;

constexpr DWORD CERT_TRUST_NO_ERROR = 0;
constexpr DWORD CERT_TRUST_IS_NOT_TIME_VALID = 0x1;
constexpr DWORD CERT_TRUST_IS_NOT_SIGNATURE_VALID = 0x8;
// An issuer whose key usage does not allow certificate signing.
// Also: an extended key usage that allows none of the requested usages, or
// for server authentication an end certificate whose key usage allows
// neither digitalSignature, keyEncipherment nor keyAgreement.
constexpr DWORD CERT_TRUST_IS_NOT_VALID_FOR_USAGE = 0x10;
constexpr DWORD CERT_TRUST_IS_UNTRUSTED_ROOT = 0x20;
// An extension repeated, or one of those judged here that cannot be read.
constexpr DWORD CERT_TRUST_INVALID_EXTENSION = 0x100;
// An issuer that is no CA, or a path length constraint exceeded.
constexpr DWORD CERT_TRUST_INVALID_BASIC_CONSTRAINTS = 0x400;
// Set with each of the three name-constraint bits after it.
constexpr DWORD CERT_TRUST_INVALID_NAME_CONSTRAINTS = 0x800;
constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT = 0x1000;
constexpr DWORD CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT = 0x4000;
constexpr DWORD CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT = 0x8000;
constexpr DWORD CERT_TRUST_IS_PARTIAL_CHAIN = 0x10000;
constexpr DWORD CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT = 0x08000000;

// This engine's own information bits beside CERT_TRUST_IS_NOT_TIME_VALID:
// which way a certificate of the path is out of time.
constexpr DWORD kChainInfoExpired = 0x10000000;
constexpr DWORD kChainInfoNotYetValid = 0x20000000;
// And beside CERT_TRUST_IS_NOT_VALID_FOR_USAGE: an extended key usage failed,
// or the end certificate's key usage allows no TLS server (rather than, or
// as well as, an issuer's key usage).
constexpr DWORD kChainInfoExtendedKeyUsage = 0x40000000;
constexpr DWORD kChainInfoKeyUsage = 0x80000000;

// An engine's stores are decoded once and shared by the engines made after
// it for as long as neither an entry of their folders nor the system CA
// bundle changes its name, inode, size or times. A file changed twice
// within its file system's timestamp granularity can keep all of those, so
// stores changed less than this long ago are read afresh for every engine.
constexpr int kStoresSettledAfterMs = 1000;

// Paths longer than this are cut and reported partial.
constexpr int kMaxChainLength = 16;
// At each level of a path, a self-issued certificate's own signature and
// its issuer's.
constexpr int kMaxSignatureChecks = 2 * kMaxChainLength;

namespace chain_msg {
constexpr const char* kUnsupportedSignature =
    "Cannot verify this signature algorithm; the signature counts as invalid.";
constexpr const char* kUnreadableCertificate = "The certificate to build a chain for cannot be read.";
constexpr const char* kNotACa = "An issuer on the path is not a CA certificate.";
constexpr const char* kNoCertSign = "An issuer's key usage does not allow certificate signing.";
constexpr const char* kPathTooLong = "A path length constraint is exceeded.";
constexpr const char* kAlgorithmMismatch =
    "A certificate names another signature algorithm in its signed part than outside it.";
constexpr const char* kRepeatedExtension = "A certificate holds the same extension twice.";
constexpr const char* kUnreadableExtension =
    "A certificate's basic constraints, key usage, extended key usage, alternative names, name constraints, "
    "key identifiers, CRL distribution points, Netscape type, proxyCertInfo, address or AS blocks, or its key "
    "cannot be read, or its key usage allows nothing.";
constexpr const char* kUnknownCritical = "A certificate holds a critical extension that is not understood.";
constexpr const char* kUnsupportedNameConstraint = "A name constraint of a form that cannot be judged.";
constexpr const char* kNotPermittedName = "A name lies outside the names its issuer's constraints permit.";
constexpr const char* kExcludedName = "A name lies inside names its issuer's constraints exclude.";
constexpr const char* kUsageNotAllowed = "An extended key usage does not allow the requested usage.";
constexpr const char* kKeyUsageNotForServer = "The certificate's key usage allows no TLS key exchange.";
constexpr const char* kNetscapeTypeNotForServer = "The certificate's Netscape type does not allow an SSL server.";
constexpr const char* kProxyCertificate = "A proxy certificate is not allowed on a path.";
} // namespace chain_msg

struct CERT_CHAIN_ENGINE_CONFIG {
    DWORD cbSize;
    platform::HCERTSTORE hRestrictedRoot;
    platform::HCERTSTORE hRestrictedTrust;
    platform::HCERTSTORE hRestrictedOther;
    DWORD cAdditionalStore;
    platform::HCERTSTORE* rghAdditionalStore;
    DWORD dwFlags;
    DWORD dwUrlRetrievalTimeout;
    DWORD MaximumCachedCertificates;
    DWORD CycleDetectionModulus;
};

struct CERT_ENHKEY_USAGE {
    DWORD cUsageIdentifier;
    char** rgpszUsageIdentifier;
};

struct CERT_USAGE_MATCH {
    DWORD dwType;
    CERT_ENHKEY_USAGE Usage;
};

struct CERT_CHAIN_PARA {
    DWORD cbSize;
    CERT_USAGE_MATCH RequestedUsage;
};

struct CERT_TRUST_STATUS {
    DWORD dwErrorStatus;
    DWORD dwInfoStatus;
};

// The path from the certificate (element 0) toward its root.
struct CERT_CHAIN_CONTEXT {
    DWORD cbSize;
    CERT_TRUST_STATUS TrustStatus;
    DWORD cElement;
    platform::PCCERT_CONTEXT* rgpElement;
};
using PCCERT_CHAIN_CONTEXT = const CERT_CHAIN_CONTEXT*;

// Restricted stores are not offered: the engine always reads the system
// stores. cbSize must be the structure's size.
BOOL CertCreateCertificateChainEngine(const CERT_CHAIN_ENGINE_CONFIG* config, HCERTCHAINENGINE* engine);
void CertFreeCertificateChainEngine(HCERTCHAINENGINE engine);
// time null: now (the platform clock, which tests can pin). additionalStore
// (may be null): more candidate issuers, untrusted. para (may be null): the
// requested usages, all of them (AND) or one (OR). The log, when given, says
// why a signature could not be verified and which check failed.
BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, platform::PCCERT_CONTEXT context, const platform::FILETIME* time,
                             platform::HCERTSTORE additionalStore, const CERT_CHAIN_PARA* para, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain, LogBase* log = nullptr);
void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain);

} // namespace tessik
