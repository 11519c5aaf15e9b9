#include "netlib/pki/CryptoSP.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/core/WinUtil.h"
#include "netlib/crypto/CryptoAlg.h"
#include "platform/WinErr.h"

namespace tessik {

namespace {

struct NamedType {
    const char* name;
    std::uint32_t type;
};

constexpr NamedType kNamesNoCase[] = {
    {"Microsoft Base Cryptographic Provider v1.0", 1},
    {"Microsoft Enhanced Cryptographic Provider v1.0", 1},
    {"Microsoft RSA SChannel Cryptographic Provider", 12},
    {"Microsoft Strong Cryptographic Provider", 1},
    {"Microsoft RSA Signature Cryptographic Provider", 2},
    {"Microsoft Base DSS Cryptographic Provider", 3},
    {"Microsoft Enhanced RSA and AES Cryptographic Provider", 24},
    {"Microsoft DH SChannel Cryptographic Provider", 18},
    {"Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13},
    {"Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", 13},
    {"Crypto-Pro GOST R 34.10-2001 Cryptographic Service Provider", 75},
    {"Crypto-Pro Cryptographic Service Provider", 2},
    {"Crypto-Pro GOST R 34.10-94 Cryptographic Service Provider", 71},
};

constexpr NamedType kNamesExact[] = {
    {"Gemplus GemSAFE Card CSP v1.0", 1},
    {"Infineon SICRYPT Base Smart Card CSP", 1},
    {"Schlumberger Cryptographic Service Provider", 1},
    {"Microsoft Enhanced RSA and AES Cryptographic Provider (Prototype)", 24},
    {"Microsoft Exchange Cryptographic Provider v1.0", 5},
};

constexpr std::uint32_t kTypeFortezza = 4;
constexpr std::uint32_t kTypeSchannel = 12;
constexpr std::uint32_t kTypeAes = 24;
constexpr std::uint32_t kTypeDefault = 1;

void readTextParam(platform::HCRYPTPROV handle, DWORD param, StringBuffer& out) {
    std::vector<BYTE> buffer(kProvParamBufferSize);
    DWORD size = kProvParamBufferSize;
    if (!platform::CryptGetProvParam(handle, param, buffer.data(), &size, 0) || size == 0)
        return;
    const char* text = reinterpret_cast<const char*>(buffer.data());
    out.append(std::string(text, strnlen(text, size)).c_str());
}

bool readDwordParam(platform::HCRYPTPROV handle, DWORD param, std::uint32_t& out) {
    DWORD value = 0, size = sizeof value;
    if (!platform::CryptGetProvParam(handle, param, reinterpret_cast<BYTE*>(&value), &size, 0))
        return false;
    out = value;
    return true;
}

} // namespace

CryptoSP::CryptoSP(platform::HCRYPTPROV handle, std::uint32_t providerType)
    : m_handle(handle), m_providerType(providerType) {
    readTextParam(handle, platform::PP_CONTAINER, m_containerName);
    readTextParam(handle, platform::PP_NAME, m_providerName);
    if (!readDwordParam(handle, platform::PP_IMPTYPE, m_impType))
        m_impType = kUnknownImpType;
    if (!readDwordParam(handle, platform::PP_VERSION, m_version))
        m_version = 0;
}

CryptoSP::~CryptoSP() {
    if (m_handle)
        platform::CryptReleaseContext(m_handle, 0);
}

std::uint32_t CryptoSP::providerTypeByName(const char* name) {
    if (!name)
        return kTypeDefault;
    for (const auto& row : kNamesNoCase)
        if (strcasecmp(name, row.name) == 0)
            return row.type;
    for (const auto& row : kNamesExact)
        if (std::strcmp(name, row.name) == 0)
            return row.type;
    std::vector<char> buffer(kEnumBufferSize);
    for (DWORD index = 0;; ++index) {
        DWORD type = 0, size = kEnumBufferSize;
        if (!platform::CryptEnumProvidersA(index, nullptr, 0, &type, buffer.data(), &size))
            break;
        if (std::strcmp(buffer.data(), name) == 0)
            return type;
    }
    StringBuffer lower(name);
    lower.toLowerCase();
    if (lower.containsSubstring("fortezza"))
        return kTypeFortezza;
    if (lower.containsSubstring("schannel"))
        return kTypeSchannel;
    if (lower.containsSubstring("aes"))
        return kTypeAes;
    return kTypeDefault;
}

CryptoSP* CryptoSP::AcquireDefaultCSP(bool machineKeyset, bool verifyContext, LogBase& log) {
    LogContext ctx(log, "AcquireDefaultCSP");
    DWORD flags =
        (machineKeyset ? platform::CRYPT_MACHINE_KEYSET : 0) | (verifyContext ? platform::CRYPT_VERIFYCONTEXT : 0);
    platform::HCRYPTPROV handle = 0;
    if (!cryptAcquireContext(&handle, nullptr, platform::kEnhancedCryptProvider, platform::PROV_RSA_FULL, flags)) {
        DWORD err = platform::GetLastError();
        if (err == platform::NTE_BAD_KEYSET) {
            if (!cryptAcquireContext(&handle, nullptr, platform::kEnhancedCryptProvider, platform::PROV_RSA_FULL,
                                     platform::CRYPT_NEWKEYSET))
                log.logHex("errorCode2", platform::GetLastError());
        } else if (err == platform::ERROR_FILE_NOT_FOUND) {
            if (!cryptAcquireContext(&handle, nullptr, platform::kEnhancedCryptProvider, platform::PROV_RSA_FULL,
                                     platform::CRYPT_MACHINE_KEYSET) &&
                platform::GetLastError() == platform::NTE_BAD_KEYSET &&
                !cryptAcquireContext(&handle, nullptr, platform::kEnhancedCryptProvider, platform::PROV_RSA_FULL,
                                     platform::CRYPT_MACHINE_KEYSET | platform::CRYPT_NEWKEYSET))
                log.logHex("errorCode3", platform::GetLastError());
        } else {
            log.logHex("errorCode", err);
        }
    }
    if (!handle) {
        log.logError(cryptosp_msg::kDefaultFailed);
        return nullptr;
    }
    log.logInfo(cryptosp_msg::kSuccess);
    return new CryptoSP(handle, kTypeDefault);
}

CryptoSP* CryptoSP::AcquireCSP(const char* providerName, const char* containerName, bool verifyContext,
                               bool machineKeyset, LogBase& log) {
    LogContext ctx(log, "AcquireCSP");
    log.logData("providerName", providerName ? providerName : "");
    log.logData("keyContainer", containerName ? containerName : "");
    log.logDataLong("verifyContext", verifyContext ? 1 : 0);
    log.logDataLong("machineKeyset", machineKeyset ? 1 : 0);
    StringBuffer provider(providerName ? providerName : ""), container(containerName ? containerName : "");
    provider.trimWhitespace();
    container.trimWhitespace();
    const char* prov = provider.getSize() ? provider.getString() : nullptr;
    const char* cont = container.getSize() ? container.getString() : nullptr;
    std::uint32_t type = prov ? providerTypeByName(prov) : kTypeDefault;
    log.logHex("providerType", type);
    DWORD flags = machineKeyset ? platform::CRYPT_MACHINE_KEYSET : 0;
    if (verifyContext) {
        flags |= platform::CRYPT_VERIFYCONTEXT;
        cont = nullptr;
    }
    platform::HCRYPTPROV handle = 0;
    if (cryptAcquireContext(&handle, cont, prov, type, flags)) {
        if (!handle) {
            log.logError(cryptosp_msg::kFailedDot);
            return nullptr;
        }
        log.logInfo(cryptosp_msg::kSuccess);
        return new CryptoSP(handle, type);
    }
    log.logLastError();
    DWORD err = platform::GetLastError();
    if (err == platform::NTE_BAD_KEYSET || err == platform::NTE_KEYSET_NOT_DEF) {
        log.logInfo(cryptosp_msg::kRetryNewKeyset);
        if (cryptAcquireContext(&handle, cont, prov, type, flags | platform::CRYPT_NEWKEYSET)) {
            if (!handle) {
                log.logError(cryptosp_msg::kFailedDot);
                return nullptr;
            }
            log.logInfo(cryptosp_msg::kSuccess);
            return new CryptoSP(handle, type);
        }
    }
    log.logError(cryptosp_msg::kFailed);
    return nullptr;
}

CryptoSP* CryptoSP::acquireCspAnyKeyset(const char* providerName, const char* containerName, bool verifyContext,
                                        LogBase& log) {
    CryptoSP* sp = AcquireCSP(providerName, containerName, verifyContext, false, log);
    if (!sp)
        sp = AcquireCSP(providerName, containerName, verifyContext, true, log);
    return sp;
}

CryptoAlg* CryptoSP::findFirstEncryptionAlgorithm() {
    std::vector<BYTE> buffer(kEnumBufferSize);
    for (DWORD flag = platform::CRYPT_FIRST;; flag = 0) {
        DWORD size = kEnumBufferSize;
        if (!platform::CryptGetProvParam(m_handle, platform::PP_ENUMALGS, buffer.data(), &size, flag))
            return nullptr;
        if (size < sizeof(platform::PROV_ENUMALGS))
            return nullptr;
        platform::PROV_ENUMALGS alg;
        std::memcpy(&alg, buffer.data(), sizeof alg);
        platform::ALG_ID cls = alg.aiAlgid & kAlgClassMask;
        if (cls != kAlgClassDataEncrypt && cls != kAlgClassMsgEncrypt)
            continue;
        std::size_t nameLen = std::min<std::size_t>(alg.dwNameLen, platform::kAlgNameSize);
        std::string name(alg.szName, strnlen(alg.szName, nameLen));
        return new CryptoAlg(alg.aiAlgid, alg.dwBitLen, name.c_str());
    }
}

} // namespace tessik
