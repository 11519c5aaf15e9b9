#include "netlib/pki/ChainEngine.h"

#include <memory>
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
#include "netlib/pki/CertificateStore.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/RsaDer.h"
#include "netlib/pki/SignatureAlgorithms.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

constexpr std::uint32_t kTagGeneralizedTime = 24;
constexpr unsigned char kContextConstructed0 = 0xA0;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kMsPerSecond = 1000;
constexpr int kUtcTimeCenturyPivot = 50;

// One certificate as the engine needs it: the names as their DER, the
// signed bytes, the signature and the key, the validity and key ids.
struct ChainCert {
    std::string der;
    std::string subject;
    std::string issuer;
    std::string tbs;
    std::string signatureOid;
    std::string signature;
    std::string keyOid;
    std::string key;
    std::string subjectKeyId;
    std::string authorityKeyId;
    bool timesRead = false;
    std::int64_t notBefore = 0;
    std::int64_t notAfter = 0;
    bool trusted = false;

    bool selfIssued() const { return subject == issuer; }
    bool validAt(std::int64_t t) const { return timesRead && notBefore <= t && t <= notAfter; }
};

std::string bytesOf(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

const unsigned char* bytePtr(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// The whole encodings of the items one after the other in a range.
bool splitItems(std::string_view range, std::vector<std::string_view>& out) {
    out.clear();
    while (!range.empty()) {
        ExtPtrArray items;
        items.setOwnsObjects(true);
        std::uint32_t used = 0;
        LogNull quiet;
        if (!decodeBer(bytePtr(range), static_cast<std::uint32_t>(range.size()), items, 1, false, used, nullptr,
                       quiet) ||
            used == 0 || used > range.size())
            return false;
        out.push_back(range.substr(0, used));
        range.remove_prefix(used);
    }
    return true;
}

// The items inside one constructed item.
bool childItems(std::string_view item, std::vector<std::string_view>& out) {
    ExtPtrArray items;
    items.setOwnsObjects(true);
    std::uint32_t used = 0;
    LogNull quiet;
    if (!decodeBer(bytePtr(item), static_cast<std::uint32_t>(item.size()), items, 1, false, used, nullptr, quiet) ||
        items.getCount() != 1)
        return false;
    auto* node = static_cast<Asn1*>(items.elementAt(0));
    if (node->primitive || !node->rawContent)
        return false;
    std::size_t contentSize = node->rawContent->getSize();
    if (contentSize > item.size())
        return false;
    // The content is the tail of the item (definite lengths only).
    return splitItems(item.substr(item.size() - contentSize), out);
}

std::unique_ptr<Asn1> decoded(std::string_view item) {
    LogNull quiet;
    return std::unique_ptr<Asn1>(
        decodeBerFirst(bytePtr(item), static_cast<std::uint32_t>(item.size()), nullptr, quiet));
}

bool firstOid(std::string_view algorithm, std::string& out) {
    std::unique_ptr<Asn1> node = decoded(algorithm);
    const Asn1* oid = node ? node->getChild(0) : nullptr;
    if (!oid || !oid->isOid())
        return false;
    StringBuffer text;
    oid->getOidString(text);
    out = text.getString();
    return true;
}

// A BIT STRING's bits, whole bytes only.
bool bitStringBytes(const Asn1* node, std::string& out) {
    if (!node || node->tagClass != asn::kClassUniversal || node->tag != asn::kTagBitString || !node->primitive)
        return false;
    DataBuffer content;
    node->getContent(content);
    if (content.getSize() == 0 || content.getData()[0] != 0)
        return false;
    out.assign(reinterpret_cast<const char*>(content.getData()) + 1, content.getSize() - 1);
    return true;
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// UTCTime YYMMDDHHMM[SS]Z or GeneralizedTime YYYYMMDDHHMMSS[.f]Z, as Unix time.
bool parseAsnTime(const Asn1* node, std::int64_t& out) {
    constexpr std::size_t kUtcNoSeconds = 11, kUtcWithSeconds = 13, kGeneralizedFixed = 14;
    if (!node || node->tagClass != asn::kClassUniversal ||
        (node->tag != asn::kTagUtcTime && node->tag != kTagGeneralizedTime))
        return false;
    DataBuffer content;
    node->getContent(content);
    std::string text = bytesOf(content);
    if (text.empty() || text.back() != 'Z')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::size_t at = 0;
    if (node->tag == asn::kTagUtcTime) {
        if (text.size() != kUtcNoSeconds && text.size() != kUtcWithSeconds)
            return false;
        if (!digits(text, 0, 2, year))
            return false;
        year += year >= kUtcTimeCenturyPivot ? 1900 : 2000;
        at = 2;
    } else {
        if (text.size() < kGeneralizedFixed + 1 || !digits(text, 0, 4, year))
            return false;
        at = 4;
        // A fraction of a second, if any, is dropped.
        if (text.size() > kGeneralizedFixed + 1 && text[kGeneralizedFixed] != '.')
            return false;
        for (std::size_t i = kGeneralizedFixed + 1; i + 1 < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9')
                return false;
    }
    if (!digits(text, at, 2, month) || !digits(text, at + 2, 2, day) || !digits(text, at + 4, 2, hour) ||
        !digits(text, at + 6, 2, minute))
        return false;
    bool hasSeconds = node->tag == kTagGeneralizedTime || text.size() == kUtcWithSeconds;
    if (hasSeconds && !digits(text, at + 8, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    out = platform::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kSecondsPerDay +
          hour * 3600 + minute * 60 + second;
    return true;
}

std::unique_ptr<ChainCert> readCertificate(platform::PCCERT_CONTEXT context) {
    if (!context || !context->pbCertEncoded || context->cbCertEncoded == 0)
        return nullptr;
    auto cert = std::make_unique<ChainCert>();
    cert->der.assign(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
    std::vector<std::string_view> outer, tbs;
    if (!childItems(cert->der, outer) || outer.size() != 3 || !childItems(outer[0], tbs))
        return nullptr;
    std::size_t at = !tbs.empty() && static_cast<unsigned char>(tbs[0][0]) == kContextConstructed0 ? 1 : 0;
    constexpr std::size_t kIssuer = 2, kValidity = 3, kSubject = 4, kKeyInfo = 5;
    if (tbs.size() < at + kKeyInfo + 1)
        return nullptr;
    cert->tbs = std::string(outer[0]);
    cert->issuer = std::string(tbs[at + kIssuer]);
    cert->subject = std::string(tbs[at + kSubject]);
    if (!firstOid(outer[1], cert->signatureOid))
        return nullptr;
    // A malformed signature stays empty and fails its check.
    std::unique_ptr<Asn1> signature = decoded(outer[2]);
    if (!bitStringBytes(signature.get(), cert->signature))
        cert->signature.clear();
    std::unique_ptr<Asn1> keyInfo = decoded(tbs[at + kKeyInfo]);
    if (!keyInfo || !keyInfo->getChild(0) || !bitStringBytes(keyInfo->getChild(1), cert->key))
        return nullptr;
    const Asn1* keyOid = keyInfo->getChild(0)->getChild(0);
    if (!keyOid || !keyOid->isOid())
        return nullptr;
    StringBuffer oidText;
    keyOid->getOidString(oidText);
    cert->keyOid = oidText.getString();
    std::unique_ptr<Asn1> validity = decoded(tbs[at + kValidity]);
    cert->timesRead = validity && parseAsnTime(validity->getChild(0), cert->notBefore) &&
                      parseAsnTime(validity->getChild(1), cert->notAfter);
    DataBuffer ski, aki;
    MsCertificate::getKeyIdentifiers(context, ski, aki);
    cert->subjectKeyId = bytesOf(ski);
    cert->authorityKeyId = bytesOf(aki);
    return cert;
}

enum class SignatureCheck { Valid, Invalid, Unsupported };

SignatureCheck verifyLink(const ChainCert& child, const ChainCert& issuer) {
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

} // namespace

struct ChainEngineState {
    std::vector<std::unique_ptr<ChainCert>> pool;
    std::unordered_map<std::string, std::size_t> byDer;

    void addStore(DWORD provider, DWORD location, const char* name, bool trusted) {
        platform::HCERTSTORE store =
            platform::CertOpenStore(provider, location | platform::CERT_STORE_READONLY_FLAG, name);
        if (!store)
            return;
        for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(store, nullptr); c;
             c = platform::CertEnumCertificatesInStore(store, c)) {
            std::unique_ptr<ChainCert> cert = readCertificate(c);
            if (!cert)
                continue;
            auto found = byDer.find(cert->der);
            if (found != byDer.end()) {
                pool[found->second]->trusted = pool[found->second]->trusted || trusted;
                continue;
            }
            cert->trusted = trusted;
            byDer.emplace(cert->der, pool.size());
            pool.push_back(std::move(cert));
        }
        platform::CertCloseStore(store, 0);
    }

    bool isTrusted(const ChainCert& cert) const {
        auto found = byDer.find(cert.der);
        return found != byDer.end() && pool[found->second]->trusted;
    }
};

BOOL CertCreateCertificateChainEngine(const CERT_CHAIN_ENGINE_CONFIG* config, HCERTCHAINENGINE* engine) {
    if (!config || !engine || config->cbSize != sizeof(CERT_CHAIN_ENGINE_CONFIG)) {
        platform::SetLastError(platform::ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto state = std::make_unique<ChainEngineState>();
    using platform::CERT_STORE_PROV_REG;
    using platform::CERT_STORE_PROV_SYSTEM_W;
    for (DWORD location : {platform::CERT_SYSTEM_STORE_CURRENT_USER, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE})
        state->addStore(CERT_STORE_PROV_SYSTEM_W, location, "ROOT", true);
    for (DWORD location : {platform::CERT_SYSTEM_STORE_CURRENT_USER, platform::CERT_SYSTEM_STORE_LOCAL_MACHINE}) {
        state->addStore(CERT_STORE_PROV_SYSTEM_W, location, "CA", false);
        state->addStore(CERT_STORE_PROV_SYSTEM_W, location, "MY", false);
        state->addStore(CERT_STORE_PROV_REG, location, kAddressBookPath, false);
    }
    *engine = state.release();
    return TRUE;
}

void CertFreeCertificateChainEngine(HCERTCHAINENGINE engine) {
    delete engine;
}

BOOL CertGetCertificateChain(HCERTCHAINENGINE engine, platform::PCCERT_CONTEXT context, const platform::FILETIME* time,
                             platform::HCERTSTORE additionalStore, const CERT_CHAIN_PARA* para, DWORD flags,
                             void* reserved, PCCERT_CHAIN_CONTEXT* chain, LogBase* log) {
    (void)additionalStore;
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
            const ChainCert* best = nullptr;
            SignatureCheck bestCheck = SignatureCheck::Unsupported;
            int bestScore = -1;
            for (const auto& candidate : engine->pool) {
                if (candidate->subject != current.issuer || inPath.count(candidate->der))
                    continue;
                SignatureCheck check = verifyLink(current, *candidate);
                bool keyIdMatch = !current.authorityKeyId.empty() && current.authorityKeyId == candidate->subjectKeyId;
                int score = (check == SignatureCheck::Valid ? 8 : 0) + (keyIdMatch ? 4 : 0) +
                            (candidate->validAt(now) ? 2 : 0) + (candidate->trusted ? 1 : 0);
                if (score > bestScore) {
                    best = candidate.get();
                    bestCheck = check;
                    bestScore = score;
                }
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
            if (!element->validAt(now))
                status |= CERT_TRUST_IS_NOT_TIME_VALID;
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
