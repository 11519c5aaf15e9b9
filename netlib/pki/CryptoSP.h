#pragma once
// An acquired cryptographic service provider context.
#include <cstdint>

#include "netlib/core/StringBuffer.h"
#include "platform/CryptProv.h"

namespace tessik {

class CryptoAlg;
class LogBase;

namespace cryptosp_msg {
constexpr const char* kDefaultFailed = "Failed to acquire default crypographic context";
constexpr const char* kSuccess = "Success";
constexpr const char* kFailedDot = "Failed.";
constexpr const char* kFailed = "Failed";
constexpr const char* kRetryNewKeyset = "Retry with new keyset...";
} // namespace cryptosp_msg

constexpr std::uint32_t kUnknownImpType = 4;
constexpr DWORD kProvParamBufferSize = 1024;
constexpr DWORD kEnumBufferSize = 1200;

class CryptoSP {
public:
    CryptoSP(platform::HCRYPTPROV handle, std::uint32_t providerType);
    virtual ~CryptoSP();
    CryptoSP(const CryptoSP&) = delete;
    CryptoSP& operator=(const CryptoSP&) = delete;

    static CryptoSP* AcquireDefaultCSP(bool machineKeyset, bool verifyContext, LogBase& log);
    static CryptoSP* AcquireCSP(const char* providerName, const char* containerName, bool verifyContext,
                                bool machineKeyset, LogBase& log);
    static CryptoSP* acquireCspAnyKeyset(const char* providerName, const char* containerName, bool verifyContext,
                                         LogBase& log);
    static std::uint32_t providerTypeByName(const char* name);

    platform::HCRYPTPROV getHandle() const { return m_handle; }
    CryptoAlg* findFirstEncryptionAlgorithm();

    const char* containerName() const { return m_containerName.getString(); }
    const char* providerName() const { return m_providerName.getString(); }
    std::uint32_t providerType() const { return m_providerType; }
    std::uint32_t impType() const { return m_impType; }
    std::uint32_t version() const { return m_version; }

private:
    platform::HCRYPTPROV m_handle = 0;
    StringBuffer m_containerName;
    StringBuffer m_providerName;
    std::uint32_t m_providerType = 0;
    std::uint32_t m_impType = kUnknownImpType;
    std::uint32_t m_version = 0;
};

} // namespace tessik
