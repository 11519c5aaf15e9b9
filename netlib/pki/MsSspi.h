#pragma once
// The security-package interface that authenticates an HTTP connection: it
// lists the packages ("NTLM", "Negotiate", "Kerberos"), acquires credentials
// (explicit ones, or with user and password both "default" those of the
// logged-on user) and runs the token loop of one security context, each
// token travelling to the server and back through a PackageExchange.
#include <cstdint>
#include <memory>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/pki/PackageExchange.h"
#include "netlib/pki/SecurityPackage.h"

namespace tessik {

class LogBase;

namespace sspi {
// Token legs one authentication may take before it gives up; every package
// here finishes in two or three.
inline constexpr int kMaxRounds = 10;

inline constexpr const char* kMsgNoExchange = "TessikSSPI.authenticate: no package exchange object";
inline constexpr const char* kMsgCannotAcquire = "TessikSSPI.authenticate: cannot acquire alternate credentials";
inline constexpr const char* kMsgFirstPackage = "TessikSSPI.authenticate: failed to prepare 1st outbound package";
inline constexpr const char* kMsgExchangeFailed = "TessikSSPI.authenticate: exchange failed";
inline constexpr const char* kMsgNextPackage = "TessikSSPI.authenticate: failed to prepare next package";
inline constexpr const char* kMsgTooManyRounds = "TessikSSPI.authenticate: no result after 10 token exchanges";
inline constexpr const char* kMsgAcquireRange = "Failed to acquire alternate credentials: package index out of range";
inline constexpr const char* kMsgAcquireFailed = "Failed to acquire credentials handle";
inline constexpr const char* kMsgPrepareRange = "TessikSSPI.prepareOutboundPackage: package index out of range";
inline constexpr const char* kMsgNotAuthenticated = "Finished and NOT authenticated";
inline constexpr const char* kMsgDefaultCredentials = "Using default NTLM credentials.";
inline constexpr const char* kDefaultCredential = "default";
} // namespace sspi

class MsSspi {
public:
    // With the packages of this build.
    MsSspi();
    // With the given packages only (tests script a package's statuses).
    explicit MsSspi(std::vector<std::unique_ptr<sspi::SecurityPackage>> packages);
    virtual ~MsSspi();
    MsSspi(const MsSspi&) = delete;
    MsSspi& operator=(const MsSspi&) = delete;

    // Not owned.
    void setPackageExchange(PackageExchange* exchange) { m_exchange = exchange; }
    // Index of the package of that name (case ignored), or -1.
    int findPackage(const char* name) const;
    void logPackages(LogBase& log) const;
    int numPackages() const { return static_cast<int>(m_packages.size()); }

    bool acquireCredentials(int packageIndex, XString& domain, XString& username, XString& password, LogBase& log);
    // One token of the context: input is the server's last token, token the
    // next one to send. done: no further token follows; authenticated: the
    // context stands.
    bool prepareOutboundPackage(int packageIndex, DataBuffer& token, DataBuffer& input, bool& done, bool& authenticated,
                                LogBase& log);
    // The whole loop, on a new security context.
    bool authenticate(int packageIndex, XString& domain, XString& username, XString& password, LogBase& log);

private:
    bool validIndex(int index) const { return index >= 0 && index < numPackages(); }

    std::vector<std::unique_ptr<sspi::SecurityPackage>> m_packages;
    XString m_domain;
    XString m_username;
    XString m_password;
    bool m_credentialsValid;
    bool m_contextValid;
    PackageExchange* m_exchange;
    std::uint32_t m_contextFlags;
};

} // namespace tessik
