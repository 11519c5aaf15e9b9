#include "netlib/pki/MsSspi.h"

#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

using namespace sspi;

namespace {

std::vector<std::unique_ptr<SecurityPackage>> buildPackages() {
    std::vector<std::unique_ptr<SecurityPackage>> packages;
    packages.push_back(makeNtlmPackage());
    packages.push_back(makeGssapiPackage(kPackageNegotiate));
    packages.push_back(makeGssapiPackage(kPackageKerberos));
    return packages;
}

// The statuses that end a context step with a message of their own.
const char* failureMessage(std::uint32_t status) {
    switch (status) {
    case kSecEInvalidHandle: return "TessikSSPI.prepareOutboundPackage: SEC_E_INVALID_HANDLE";
    case kSecETargetUnknown: return "TessikSSPI.prepareOutboundPackage: SEC_E_TARGET_UNKNOWN";
    case kSecEInternalError: return "TessikSSPI.prepareOutboundPackage: SEC_E_INTERNAL_ERROR";
    case kSecENoCredentials: return "TessikSSPI.prepareOutboundPackage: SEC_E_NO_CREDENTIALS";
    case kSecENoAuthenticatingAuthority: return "TessikSSPI.prepareOutboundPackage: SEC_E_NO_AUTHENTICATING_AUTHORITY";
    default: return nullptr;
    }
}

} // namespace

namespace sspi {

const char* statusName(std::uint32_t status) {
    switch (status) {
    case kSecEUnknownCredentials: return "SEC_E_UNKNOWN_CREDENTIALS";
    case kSecENoCredentials: return "SEC_E_NO_CREDENTIALS";
    case kSecENotOwner: return "SEC_E_NOT_OWNER";
    case kSecEInsufficientMemory: return "SEC_E_INSUFFICIENT_MEMORY";
    case kSecEInternalError: return "SEC_E_INTERNAL_ERROR";
    case kSecESecpkgNotFound: return "SEC_E_SECPKG_NOT_FOUND";
    default: return nullptr;
    }
}

SecurityPackage::~SecurityPackage() = default;

std::uint32_t SecurityPackage::completeAuthToken(DataBuffer& /*token*/) {
    return kSecEOk;
}

} // namespace sspi

MsSspi::MsSspi() : MsSspi(buildPackages()) {}

MsSspi::MsSspi(std::vector<std::unique_ptr<SecurityPackage>> packages)
    : m_packages(std::move(packages)), m_credentialsValid(false), m_contextValid(false), m_exchange(nullptr),
      m_contextFlags(kIscReqSequenceDetect) {}

MsSspi::~MsSspi() {
    for (auto& package : m_packages)
        package->freeCredentials();
    m_password.secureClear();
}

int MsSspi::findPackage(const char* name) const {
    if (name == nullptr)
        return -1;
    for (int i = 0; i < numPackages(); ++i) {
        if (StringBuffer(m_packages[i]->name()).equalsNoCase(name))
            return i;
    }
    return -1;
}

void MsSspi::logPackages(LogBase& log) const {
    LogContext ctx(log, "sspiPackages");
    for (const auto& package : m_packages) {
        if (*package->name() != '\0')
            log.logData("package", package->name());
    }
}

bool MsSspi::acquireCredentials(int packageIndex, XString& domain, XString& username, XString& password, LogBase& log) {
    if (!validIndex(packageIndex)) {
        log.logError(kMsgAcquireRange);
        log.logDataLong("PackageIndex", packageIndex);
        log.logDataLong("NumPackages", numPackages());
        return false;
    }
    const bool useDefault = username.equalsUtf8(kDefaultCredential) && password.equalsUtf8(kDefaultCredential);
    if (useDefault)
        log.logInfo(kMsgDefaultCredentials);
    SecurityPackage& package = *m_packages[static_cast<std::size_t>(packageIndex)];
    if (m_credentialsValid) {
        for (auto& held : m_packages)
            held->freeCredentials();
        m_credentialsValid = false;
        m_contextValid = false;
    }
    m_domain.copyFromX(domain);
    m_username.copyFromX(username);
    m_password.copyFromX(password);
    Identity identity;
    identity.domain.copyFromX(domain);
    identity.user.copyFromX(username);
    identity.password.copyFromX(password);
    const std::uint32_t status = package.acquireCredentials(useDefault ? nullptr : &identity, log);
    identity.password.secureClear();
    if (status == kSecEOk) {
        m_credentialsValid = true;
        return true;
    }
    log.logError(kMsgAcquireFailed);
    log.logData("username", username.getUtf8());
    log.logData("domain", domain.getUtf8());
    if (const char* name = statusName(status))
        log.logData("status_code", name);
    else
        log.logDataLong("status_code", static_cast<int>(status));
    return false;
}

bool MsSspi::prepareOutboundPackage(int packageIndex, DataBuffer& token, DataBuffer& input, bool& done,
                                    bool& authenticated, LogBase& log) {
    done = true;
    authenticated = false;
    if (!validIndex(packageIndex)) {
        log.logError(kMsgPrepareRange);
        log.logDataLong("packageIndex", packageIndex);
        return false;
    }
    SecurityPackage& package = *m_packages[static_cast<std::size_t>(packageIndex)];
    DataBuffer output;
    const StringBuffer noTarget;
    std::uint32_t status = package.initializeContext(m_exchange != nullptr ? m_exchange->targetHost() : noTarget,
                                                     m_contextFlags, input, output, log);
    if (output.getSize() > package.maxToken())
        status = kSecEBufferTooSmall;
    bool keep = true;
    switch (status) {
    case kSecEOk: authenticated = true; break;
    case kSecIContinueNeeded: done = false; break;
    case kSecICompleteNeeded:
        log.logError("TessikSSPI.prepareOutboundPackage: SEC_I_COMPLETE_NEEDED");
        package.completeAuthToken(output);
        authenticated = true;
        break;
    case kSecICompleteAndContinue:
        log.logError("TessikSSPI.prepareOutboundPackage: SEC_I_COMPLETE_AND_CONTINUE");
        package.completeAuthToken(output);
        done = false;
        break;
    case kSecELogonDenied: log.logError("LOGON_DENIED"); break;
    case kSecEInvalidToken: keep = false; break;
    default: {
        if (const char* message = failureMessage(status))
            log.logError(message);
        log.logHex("statusCode", status);
        log.logError(kMsgNotAuthenticated);
        output.secureClear();
        return false;
    }
    }
    if (keep) {
        m_contextValid = true;
        token.clear();
        token.appendDb(output);
    }
    return true;
}

bool MsSspi::authenticate(int packageIndex, XString& domain, XString& username, XString& password, LogBase& log) {
    if (m_exchange == nullptr) {
        log.logError(kMsgNoExchange);
        return false;
    }
    // Each authentication is a context of its own: a server that saw the end
    // of the last one would not take its continuation.
    if (m_contextValid) {
        for (auto& package : m_packages)
            package->deleteContext();
        m_contextValid = false;
    }
    m_contextFlags = kIscReqSequenceDetect;
    if (!acquireCredentials(packageIndex, domain, username, password, log)) {
        log.logError(kMsgCannotAcquire);
        return false;
    }
    DataBuffer token;
    DataBuffer none;
    bool done = true;
    bool authenticated = false;
    if (!prepareOutboundPackage(packageIndex, token, none, done, authenticated, log)) {
        log.logError(kMsgFirstPackage);
        return false;
    }
    for (int round = 0; round < kMaxRounds; ++round) {
        DataBuffer reply;
        if (!m_exchange->NtlmExchangePackage(reply, token, log)) {
            log.logError(kMsgExchangeFailed);
            return authenticated;
        }
        if (!prepareOutboundPackage(packageIndex, token, reply, done, authenticated, log)) {
            log.logError(kMsgNextPackage);
            return authenticated;
        }
        if (done)
            return m_exchange->NtlmFinal(token, log);
    }
    log.logError(kMsgTooManyRounds);
    return false;
}

} // namespace tessik
