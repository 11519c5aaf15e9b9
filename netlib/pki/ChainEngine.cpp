#include "netlib/pki/ChainEngine.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/CipherOids.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/CertificateFields.h"
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/pki/SignatureAlgorithms.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

constexpr std::int64_t kMsPerSecond = 1000;
constexpr std::int64_t kNsPerMs = 1000 * 1000;
constexpr std::int64_t kNsPerSecond = 1000 * kNsPerMs;

// Two names openssl could read and compares equal.
bool sameName(const std::optional<std::string>& a, const std::optional<std::string>& b) {
    return a && b && *a == *b;
}

// A certificate of the engine's pool or of those a server sent, whether a
// ROOT store holds it, and its names as they are compared on a path: the
// subject, the issuer and the issuer's issuer its authority key identifier
// names (no value for one openssl could not read).
struct ChainCert : CertificateFields {
    bool trusted = false;
    std::optional<std::string> subjectName;
    std::optional<std::string> issuerName;
    std::optional<std::string> authorityIssuerName;

    bool selfIssued() const { return sameName(subjectName, issuerName); }
};

std::unique_ptr<ChainCert> readCertificate(platform::PCCERT_CONTEXT context) {
    std::unique_ptr<CertificateFields> fields = readCertificateFields(context);
    if (!fields)
        return nullptr;
    auto cert = std::make_unique<ChainCert>();
    static_cast<CertificateFields&>(*cert) = std::move(*fields);
    cert->subjectName = nameComparisonKey(cert->subject);
    cert->issuerName = nameComparisonKey(cert->issuer);
    if (cert->authorityKeyId.issuerName) {
        cert->authorityIssuerName = nameComparisonKey(*cert->authorityKeyId.issuerName);
        cert->authorityKeyId.unreadable = cert->authorityKeyId.unreadable || !cert->authorityIssuerName;
    }
    return cert;
}

const unsigned char* bytePtr(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

enum class SignatureCheck { Valid, Invalid, Unsupported };

SignatureCheck verifyLink(const ChainCert& child, const ChainCert& issuer) {
    // Verified under the outer algorithm, the signature would stand for a
    // signed part that names another.
    if (child.signatureAlgorithmMismatch)
        return SignatureCheck::Invalid;
    int hashId = hashIdOfRsaSignatureOid(child.signatureOid.c_str());
    if (hashId == 0 || issuer.keyOid != alg_oid::kRsaEncryption)
        return SignatureCheck::Unsupported;
    RsaKey key;
    DataBuffer keyDer;
    keyDer.append(issuer.key.data(), static_cast<unsigned int>(issuer.key.size()));
    LogNull quiet;
    if (!rsaPublicKeyFromAsn1(keyDer, key, quiet))
        return SignatureCheck::Invalid;
    DataBuffer digest;
    hashBytes(child.tbs.data(), static_cast<std::uint32_t>(child.tbs.size()), hashId, digest);
    bool ok = rsaVerifyDigestInfo(bytePtr(child.signature), static_cast<std::uint32_t>(child.signature.size()),
                                  digestOidOfHashId(hashId), digest.getData(), digest.getSize(), key, quiet);
    return ok ? SignatureCheck::Valid : SignatureCheck::Invalid;
}

void logUnsupported(const ChainCert& child, LogBase* log) {
    if (!log)
        return;
    log->logError(chain_msg::kUnsupportedSignature);
    log->logData("signatureAlgorithm", child.signatureOid.c_str());
}

struct ChainContextImpl : CERT_CHAIN_CONTEXT {
    std::vector<platform::PCCERT_CONTEXT> elements;
};

// openssl's kinds of CA: 0 none, 1 by basic constraints, 3 a version 1
// self-issued root, 4 by a key usage that allows certificate signing.
enum CaKind { kNotCa = 0, kCaByConstraints = 1, kCaV1Root = 3, kCaByKeyUsage = 4 };

CaKind caKind(const ChainCert& cert) {
    const CertificateExtensionFacts& facts = cert.facts;
    if (facts.malformed || !facts.allowsKeyUsage(kKeyUsageKeyCertSign))
        return kNotCa;
    if (facts.hasBasicConstraints)
        return facts.ca ? kCaByConstraints : kNotCa;
    if (cert.version == 1 && cert.selfIssued())
        return kCaV1Root;
    return facts.hasKeyUsage ? kCaByKeyUsage : kNotCa;
}

void logFailure(LogBase* log, const char* text, std::size_t element) {
    if (!log)
        return;
    log->logError(text);
    log->logDataLong("pathElement", static_cast<long>(element));
}

// The issuers of the path (element 1 up) as CAs; the top alone may be a CA
// by other means than basic constraints.
DWORD judgeIssuers(const std::vector<const ChainCert*>& path, LogBase* log) {
    DWORD status = 0;
    long belowNotSelfIssued = 0;
    for (std::size_t i = 1; i < path.size(); ++i) {
        const ChainCert& cert = *path[i];
        const CaKind kind = caKind(cert);
        const bool top = i + 1 == path.size();
        const char* failed = nullptr;
        if (!cert.facts.allowsKeyUsage(kKeyUsageKeyCertSign)) {
            status |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE;
            failed = chain_msg::kNoCertSign;
        } else if (kind == kNotCa || (!top && kind != kCaByConstraints)) {
            status |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
            failed = chain_msg::kNotACa;
        } else if (i > 1 && cert.facts.pathLength >= 0 && belowNotSelfIssued > cert.facts.pathLength) {
            status |= CERT_TRUST_INVALID_BASIC_CONSTRAINTS;
            failed = chain_msg::kPathTooLong;
        }
        if (failed)
            logFailure(log, failed, i);
        if (!cert.selfIssued())
            ++belowNotSelfIssued;
    }
    return status;
}

// What each certificate of the path holds, on its own.
DWORD judgeEachCertificate(const std::vector<const ChainCert*>& path, LogBase* log) {
    DWORD status = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const ChainCert& cert = *path[i];
        // A trusted root's own signature is never checked.
        const bool signatureChecked = !(i + 1 == path.size() && cert.trusted);
        if (cert.signatureAlgorithmMismatch && signatureChecked) {
            status |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
            logFailure(log, chain_msg::kAlgorithmMismatch, i);
        }
        if (cert.facts.repeatedExtension) {
            status |= CERT_TRUST_INVALID_EXTENSION;
            logFailure(log, chain_msg::kRepeatedExtension, i);
        }
        if (cert.facts.malformed || (!readableAsOpensslReads(cert, i > 0) && !cert.facts.repeatedExtension)) {
            status |= CERT_TRUST_INVALID_EXTENSION;
            logFailure(log, chain_msg::kUnreadableExtension, i);
        }
        if (cert.facts.proxyCertificate) {
            status |= CERT_TRUST_INVALID_EXTENSION;
            logFailure(log, chain_msg::kProxyCertificate, i);
        }
        if (cert.facts.unknownCritical) {
            status |= CERT_TRUST_HAS_NOT_SUPPORTED_CRITICAL_EXT;
            logFailure(log, chain_msg::kUnknownCritical, i);
        }
    }
    return status;
}

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// RFC 5280 4.2.1.10: the base itself and any name with labels added on its
// left; a base with a leading dot, only the latter. Both lower case.
bool dnsWithin(std::string_view name, std::string_view base) {
    if (base.empty())
        return true;
    if (base.front() == '.')
        return name.size() > base.size() && endsWith(name, base);
    return name == base ||
           (name.size() > base.size() && endsWith(name, base) && name[name.size() - base.size() - 1] == '.');
}

// Whether a name, or a host its left-most wildcard stands for, lies within
// the base: "*.corp.example" reaches "secret.corp.example".
bool dnsReaches(std::string_view name, std::string_view base) {
    if (dnsWithin(name, base))
        return true;
    if (name.substr(0, 2) != "*.")
        return false;
    const std::string_view whole = base.substr(base.empty() || base.front() != '.' ? 0 : 1);
    const std::size_t dot = whole.find('.');
    return dot != std::string_view::npos && dot > 0 && whole.substr(dot + 1) == name.substr(2);
}

// An address of 4 or 16 bytes against an address and mask twice as long.
bool ipWithin(std::string_view address, std::string_view range) {
    if (range.size() != 2 * address.size())
        return false;
    for (std::size_t k = 0; k < address.size(); ++k) {
        const unsigned char mask = static_cast<unsigned char>(range[address.size() + k]);
        if ((static_cast<unsigned char>(address[k]) & mask) != (static_cast<unsigned char>(range[k]) & mask))
            return false;
    }
    return true;
}

// One certificate's names against one CA's constraints.
DWORD judgeNames(const std::vector<std::string>& dnsNames, const std::vector<std::string>& ipAddresses,
                 const NameConstraintFacts& nc) {
    if (nc.unjudgeable)
        return CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT;
    DWORD status = 0;
    for (const std::string& name : dnsNames) {
        if (!nc.permittedDns.empty() &&
            std::none_of(nc.permittedDns.begin(), nc.permittedDns.end(),
                         [&](const std::string& b) { return dnsWithin(name, asciiLowered(b)); }))
            status |= CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT;
        if (std::any_of(nc.excludedDns.begin(), nc.excludedDns.end(),
                        [&](const std::string& b) { return dnsReaches(name, asciiLowered(b)); }))
            status |= CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;
    }
    constexpr std::size_t kIpv4 = 4, kIpv6 = 16;
    const bool ipConstrained = !nc.permittedIp.empty() || !nc.excludedIp.empty();
    for (const std::string& address : ipAddresses) {
        if (!ipConstrained)
            break;
        if (address.size() != kIpv4 && address.size() != kIpv6) {
            status |= CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT;
            continue;
        }
        if (!nc.permittedIp.empty() && std::none_of(nc.permittedIp.begin(), nc.permittedIp.end(),
                                                    [&](const std::string& r) { return ipWithin(address, r); }))
            status |= CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT;
        if (std::any_of(nc.excludedIp.begin(), nc.excludedIp.end(),
                        [&](const std::string& r) { return ipWithin(address, r); }))
            status |= CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT;
    }
    return status;
}

// Each CA's name constraints over the certificates below it, on the names
// each claims (the end certificate's are those the host check reads); a
// self-issued CA's own names are not bound.
DWORD judgeNameConstraints(const std::vector<const ChainCert*>& path, LogBase* log) {
    DWORD status = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const ChainCert& cert = *path[i];
        if (i > 0 && cert.selfIssued())
            continue;
        const ClaimedNames names = claimedNames(cert.facts, i == 0);
        for (std::size_t j = i + 1; j < path.size(); ++j) {
            const NameConstraintFacts& nc = path[j]->facts.nameConstraints;
            if (!nc.present)
                continue;
            const DWORD found = judgeNames(names.dns, names.ip, nc);
            if (found & CERT_TRUST_HAS_NOT_SUPPORTED_NAME_CONSTRAINT)
                logFailure(log, chain_msg::kUnsupportedNameConstraint, j);
            if (found & CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT)
                logFailure(log, chain_msg::kNotPermittedName, i);
            if (found & CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT)
                logFailure(log, chain_msg::kExcludedName, i);
            status |= found;
        }
    }
    return status ? status | CERT_TRUST_INVALID_NAME_CONSTRAINTS : 0;
}

// The requested usages against every extended key usage of the path, and
// for a TLS server the end certificate's key usage too; the information
// bits kChainInfoExtendedKeyUsage and kChainInfoKeyUsage ride on the result.
DWORD judgeUsage(const std::vector<const ChainCert*>& path, const CERT_CHAIN_PARA* para, LogBase* log) {
    if (!para || para->RequestedUsage.Usage.cUsageIdentifier == 0 || !para->RequestedUsage.Usage.rgpszUsageIdentifier)
        return 0;
    const CERT_ENHKEY_USAGE& wanted = para->RequestedUsage.Usage;
    const char* const* first = wanted.rgpszUsageIdentifier;
    const char* const* last = first + wanted.cUsageIdentifier;
    const bool all = para->RequestedUsage.dwType == USAGE_MATCH_TYPE_AND;
    DWORD status = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const CertificateExtensionFacts& facts = path[i]->facts;
        auto allows = [&](const char* usage) { return facts.allowsPurpose(usage); };
        if (all ? std::all_of(first, last, allows) : std::any_of(first, last, allows))
            continue;
        status |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE | kChainInfoExtendedKeyUsage;
        logFailure(log, chain_msg::kUsageNotAllowed, i);
    }
    const bool forServer =
        std::any_of(first, last, [](const char* usage) { return std::string_view(usage) == kOidServerAuth; });
    if (forServer && !path.front()->facts.allowsKeyUsage(kKeyUsageTlsServer)) {
        status |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE | kChainInfoKeyUsage;
        logFailure(log, chain_msg::kKeyUsageNotForServer, 0);
    }
    const CertificateExtensionFacts& leaf = path.front()->facts;
    if (forServer && leaf.hasNetscapeCertType && (leaf.netscapeCertType & kNetscapeSslServer) == 0) {
        status |= CERT_TRUST_IS_NOT_VALID_FOR_USAGE | kChainInfoKeyUsage;
        logFailure(log, chain_msg::kNetscapeTypeNotForServer, 0);
    }
    return status;
}

// Where a candidate issuer comes from: a ROOT store, the certificates the
// server sent (openssl's untrusted ones) or the stores of other
// certificates, which openssl does not read.
enum class Source { kOtherStore = 0, kSent = 1, kTrusted = 2 };

struct Candidate {
    const ChainCert* cert;
    Source source;
};

// Whether the authority key identifier leaves the candidate in, as openssl
// judges it: each field it holds (key identifier against one the candidate
// has, serial number, the issuer's issuer by name) must match.
bool authorityKeyIdAllows(const ChainCert& current, const ChainCert& candidate) {
    const AuthorityKeyIdFields& named = current.authorityKeyId;
    if (named.unreadable)
        return false;
    if (named.keyId && candidate.subjectKeyId && *named.keyId != *candidate.subjectKeyId)
        return false;
    if (named.serial && *named.serial != candidate.serial)
        return false;
    return !named.issuerName || sameName(current.authorityIssuerName, candidate.issuerName);
}

// Whether a ranks before b: a trusted one first, then one valid at the
// time, then one the server sent before one of the other stores, then, of
// two out of time, the one that ends later; else the earlier of the list
// stands.
bool ranksBefore(const Candidate& a, const Candidate& b, std::int64_t now) {
    const bool aTrusted = a.source == Source::kTrusted, bTrusted = b.source == Source::kTrusted;
    if (aTrusted != bTrusted)
        return aTrusted;
    const bool aValid = a.cert->validAt(now), bValid = b.cert->validAt(now);
    if (aValid != bValid)
        return aValid;
    if (a.source != b.source)
        return a.source > b.source;
    return !aValid && a.cert->timesRead && (!b.cert->timesRead || a.cert->notAfter > b.cert->notAfter);
}

// The issuer of the path's top among the candidates of its name, as openssl
// chooses one without a signature: none that the authority key identifier
// leaves out, nor one with an extension openssl cannot read, nor whose key
// is of another kind than the signature needs; of the others the first by
// ranksBefore; none for a top with an extension openssl cannot read.
// skippedUnreadable tells that one of the name was left out for an
// extension openssl cannot read. Whether it may issue is judged on
// the path, not here: openssl too takes an issuer that is no CA, and
// refuses the path.
const ChainCert* chooseIssuer(const ChainCert& current, const std::vector<Candidate>& candidates,
                              const std::unordered_set<std::string>& inPath, std::int64_t now,
                              bool& skippedUnreadable) {
    skippedUnreadable = false;
    if (!readableAsOpensslReads(current, false))
        return nullptr;
    const bool rsaSigned = hashIdOfRsaSignatureOid(current.signatureOid.c_str()) != 0;
    const Candidate* best = nullptr;
    for (const Candidate& candidate : candidates) {
        const ChainCert& cert = *candidate.cert;
        if (!sameName(cert.subjectName, current.issuerName) || inPath.count(cert.der))
            continue;
        if (!readableAsOpensslReads(cert, true)) {
            skippedUnreadable = true;
            continue;
        }
        if (!authorityKeyIdAllows(current, cert))
            continue;
        if (rsaSigned && cert.keyOid != alg_oid::kRsaEncryption)
            continue;
        if (!best || ranksBefore(candidate, *best, now))
            best = &candidate;
    }
    return best ? best->cert : nullptr;
}

} // namespace

namespace {

// The certificates of the system stores, decoded: built once and shared,
// read-only, by every engine made while the stores stay as they were.
struct StorePool {
    std::vector<std::unique_ptr<ChainCert>> certs;
    std::unordered_map<std::string, std::size_t> byDer;

    void addStore(DWORD provider, DWORD location, const char* name, bool trusted) {
        platform::HCERTSTORE store =
            platform::CertOpenStore(provider, location | platform::CERT_STORE_READONLY_FLAG, name);
        if (!store)
            return;
        for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(store, nullptr); c;
             c = platform::CertEnumCertificatesInStore(store, c)) {
            auto found = byDer.find(std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded));
            if (found != byDer.end()) {
                certs[found->second]->trusted = certs[found->second]->trusted || trusted;
                continue;
            }
            std::unique_ptr<ChainCert> cert = readCertificate(c);
            if (!cert)
                continue;
            cert->trusted = trusted;
            byDer.emplace(cert->der, certs.size());
            certs.push_back(std::move(cert));
        }
        platform::CertCloseStore(store, 0);
    }

    // Issuers that rank alike are taken in this order, which the
    // certificates decide, never the folders' file names: the one that ends
    // later first, then by their bytes.
    void settleOrder() {
        std::sort(certs.begin(), certs.end(), [](const auto& a, const auto& b) {
            constexpr std::int64_t kNoEnd = std::numeric_limits<std::int64_t>::min();
            const std::int64_t aEnd = a->timesRead ? a->notAfter : kNoEnd;
            const std::int64_t bEnd = b->timesRead ? b->notAfter : kNoEnd;
            return aEnd != bEnd ? aEnd > bEnd : a->der < b->der;
        });
        byDer.clear();
        for (std::size_t i = 0; i < certs.size(); ++i)
            byDer.emplace(certs[i]->der, i);
    }
};

struct StoreSource {
    DWORD provider;
    DWORD location;
    const char* name;
    bool trusted;
};

// The stores the pool is read from; a certificate several hold is trusted
// when one of them is a ROOT store.
constexpr StoreSource kStoreSources[] = {
    {platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_CURRENT_USER, "ROOT", true},
    {platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "ROOT", true},
    {platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_CURRENT_USER, "CA", false},
    {platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_CURRENT_USER, "MY", false},
    {platform::CERT_STORE_PROV_REG, platform::CERT_SYSTEM_STORE_CURRENT_USER, kAddressBookPath, false},
    {platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "CA", false},
    {platform::CERT_STORE_PROV_SYSTEM_W, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, "MY", false},
    {platform::CERT_STORE_PROV_REG, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE, kAddressBookPath, false},
};

// A file's identity and stamps as stat gives them (links followed, as the
// stores read them); -1 with errno when it cannot be had.
void appendFileStamp(const std::string& path, std::string& out, std::int64_t& newest) {
    struct stat st{};
    out += path;
    out += '\0';
    if (::stat(path.c_str(), &st) != 0) {
        out += "-1 " + std::to_string(errno) + '\n';
        return;
    }
    const std::int64_t mtime = std::int64_t{st.st_mtim.tv_sec} * kNsPerSecond + st.st_mtim.tv_nsec;
    const std::int64_t ctime = std::int64_t{st.st_ctim.tv_sec} * kNsPerSecond + st.st_ctim.tv_nsec;
    newest = std::max({newest, mtime, ctime});
    for (std::int64_t v : {std::int64_t(st.st_dev), std::int64_t(st.st_ino), std::int64_t(st.st_mode),
                           std::int64_t(st.st_size), mtime, ctime}) {
        out += std::to_string(v);
        out += ' ';
    }
    out += '\n';
}

// What the pool is built from, as names and stats: every entry of every
// store folder and the system CA bundle. Folders come from the environment
// and the machine root, so a change of those shows here too.
struct StoreStamp {
    std::string text;
    // Newest change time seen, ns since the epoch.
    std::int64_t newest = 0;
};

StoreStamp stampStores() {
    StoreStamp stamp;
    for (const StoreSource& source : kStoreSources) {
        const std::string folder = platform::CertStoreFolder(source.provider, source.location, source.name);
        stamp.text += "dir ";
        stamp.text += folder;
        stamp.text += '\n';
        std::vector<std::string> entries;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
            entries.push_back(entry.path().string());
        if (ec)
            stamp.text += "error " + std::to_string(ec.value()) + '\n';
        std::sort(entries.begin(), entries.end());
        for (const std::string& entry : entries)
            appendFileStamp(entry, stamp.text, stamp.newest);
    }
    appendFileStamp(platform::kSystemCaBundle, stamp.text, stamp.newest);
    return stamp;
}

std::int64_t wallClockNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct PoolCache {
    std::mutex lock;
    std::string stamp;
    bool settled = false;
    std::shared_ptr<const StorePool> pool;
};

PoolCache& poolCache() {
    static PoolCache cache;
    return cache;
}

std::shared_ptr<const StorePool> currentPool() {
    const StoreStamp stamp = stampStores();
    const bool settled = wallClockNs() - stamp.newest > std::int64_t{kStoresSettledAfterMs} * kNsPerMs;
    PoolCache& cache = poolCache();
    {
        std::lock_guard<std::mutex> guard(cache.lock);
        if (cache.pool && cache.settled && cache.stamp == stamp.text)
            return cache.pool;
    }
    // Read after the stamp was taken: a change in between shows as a
    // different stamp next time, and this pool is then read afresh.
    auto pool = std::make_shared<StorePool>();
    for (const StoreSource& source : kStoreSources)
        pool->addStore(source.provider, source.location, source.name, source.trusted);
    pool->settleOrder();
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.stamp = stamp.text;
    cache.settled = settled;
    cache.pool = pool;
    return pool;
}

} // namespace

struct ChainEngineState {
    std::shared_ptr<const StorePool> stores;

    bool isTrusted(const ChainCert& cert) const {
        auto found = stores->byDer.find(cert.der);
        return found != stores->byDer.end() && stores->certs[found->second]->trusted;
    }
};

BOOL CertCreateCertificateChainEngine(const CERT_CHAIN_ENGINE_CONFIG* config, HCERTCHAINENGINE* engine) {
    if (!config || !engine || config->cbSize != sizeof(CERT_CHAIN_ENGINE_CONFIG)) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto state = std::make_unique<ChainEngineState>();
    state->stores = currentPool();
    *engine = state.release();
    return TRUE;
}

void CertFreeCertificateChainEngine(HCERTCHAINENGINE engine) {
    delete engine;
}

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, platform::PCCERT_CONTEXT context, const platform::FILETIME* time,
                             platform::HCERTSTORE additionalStore, const CERT_CHAIN_PARA* para, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain, LogBase* log) {
    (void)flags;
    if (!engine || !context || !chain || reserved || (para && para->cbSize != sizeof(CERT_CHAIN_PARA))) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *chain = nullptr;
    std::int64_t now = time ? platform::FileTimeTicksToUnixTime(platform::FileTimeToTicks(*time))
                            : platform::CurrentUnixTimeMs() / kMsPerSecond;
    auto result = std::make_unique<ChainContextImpl>();
    result->cbSize = sizeof(CERT_CHAIN_CONTEXT);
    result->TrustStatus = {CERT_TRUST_NO_ERROR, 0};
    result->elements.push_back(platform::CertDuplicateCertificateContext(context));

    std::unique_ptr<ChainCert> end = readCertificate(context);
    DWORD status = 0;
    if (!end) {
        // Nothing of it can be judged: every verdict fails.
        if (log)
            log->logError(chain_msg::kUnreadableCertificate);
        status = CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_TIME_VALID;
    } else {
        end->trusted = engine->isTrusted(*end);
        // The server's certificates in its order; one a store holds too is
        // the store's, and counts as sent unless a ROOT store trusts it.
        std::vector<Candidate> sentCandidates;
        std::vector<std::unique_ptr<ChainCert>> sent;
        std::unordered_set<const ChainCert*> sentFromStores;
        for (platform::PCCERT_CONTEXT c =
                 additionalStore ? platform::CertEnumCertificatesInStore(additionalStore, nullptr) : nullptr;
             c; c = platform::CertEnumCertificatesInStore(additionalStore, c)) {
            auto pooled = engine->stores->byDer.find(
                std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded));
            if (pooled != engine->stores->byDer.end()) {
                const ChainCert* stored = engine->stores->certs[pooled->second].get();
                if (!stored->trusted && sentFromStores.insert(stored).second)
                    sentCandidates.push_back({stored, Source::kSent});
                continue;
            }
            std::unique_ptr<ChainCert> cert = readCertificate(c);
            if (cert) {
                sentCandidates.push_back({cert.get(), Source::kSent});
                sent.push_back(std::move(cert));
            }
        }
        std::vector<Candidate> candidates;
        for (const auto& cert : engine->stores->certs)
            if (!sentFromStores.count(cert.get()))
                candidates.push_back({cert.get(), cert->trusted ? Source::kTrusted : Source::kOtherStore});
        candidates.insert(candidates.end(), sentCandidates.begin(), sentCandidates.end());
        std::vector<const ChainCert*> path{end.get()};
        std::unordered_set<std::string> inPath{end->der};
        bool reachedRoot = false;
        while (true) {
            const ChainCert& current = *path.back();
            SignatureCheck self = SignatureCheck::Unsupported;
            if (current.selfIssued()) {
                if (current.trusted) {
                    reachedRoot = true;
                    break;
                }
                self = verifyLink(current, current);
                if (self == SignatureCheck::Valid) {
                    reachedRoot = true;
                    break;
                }
            }
            if (path.size() >= static_cast<std::size_t>(kMaxChainLength)) {
                status |= CERT_TRUST_IS_PARTIAL_CHAIN;
                break;
            }
            // Only the issuer chosen is checked, as openssl does: another of
            // its name whose key happens to verify is no path openssl takes.
            bool skippedUnreadable = false;
            const ChainCert* best = chooseIssuer(current, candidates, inPath, now, skippedUnreadable);
            if (!best && skippedUnreadable) {
                status |= CERT_TRUST_INVALID_EXTENSION;
                logFailure(log, chain_msg::kUnreadableExtension, path.size());
            }
            if (!best) {
                if (current.selfIssued()) {
                    // Its own issuer, but its signature does not hold.
                    reachedRoot = true;
                    status |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
                    if (self == SignatureCheck::Unsupported)
                        logUnsupported(current, log);
                } else {
                    status |= CERT_TRUST_IS_PARTIAL_CHAIN;
                }
                break;
            }
            const SignatureCheck bestCheck = verifyLink(current, *best);
            if (bestCheck != SignatureCheck::Valid)
                status |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
            if (bestCheck == SignatureCheck::Unsupported)
                logUnsupported(current, log);
            path.push_back(best);
            inPath.insert(best->der);
        }
        if (reachedRoot && !path.back()->trusted)
            status |= CERT_TRUST_IS_UNTRUSTED_ROOT;
        for (const ChainCert* element : path)
            if (!element->validAt(now)) {
                status |= CERT_TRUST_IS_NOT_TIME_VALID;
                result->TrustStatus.dwInfoStatus |=
                    element->notYetValidAt(now) ? kChainInfoNotYetValid : kChainInfoExpired;
            }
        status |= judgeIssuers(path, log) | judgeEachCertificate(path, log) | judgeNameConstraints(path, log);
        constexpr DWORD kUsageInfo = kChainInfoExtendedKeyUsage | kChainInfoKeyUsage;
        const DWORD usage = judgeUsage(path, para, log);
        status |= usage & ~kUsageInfo;
        result->TrustStatus.dwInfoStatus |= usage & kUsageInfo;
        for (std::size_t i = 1; i < path.size(); ++i)
            result->elements.push_back(platform::CertCreateCertificateContext(
                platform::X509_ASN_ENCODING, bytePtr(path[i]->der), static_cast<DWORD>(path[i]->der.size())));
    }
    result->TrustStatus.dwErrorStatus = status;
    result->cElement = static_cast<DWORD>(result->elements.size());
    result->rgpElement = result->elements.data();
    *chain = result.release();
    return TRUE;
}

void CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT chain) {
    if (!chain)
        return;
    const auto* impl = static_cast<const ChainContextImpl*>(chain);
    for (platform::PCCERT_CONTEXT element : impl->elements)
        platform::CertFreeCertificateContext(element);
    delete impl;
}

} // namespace tessik
