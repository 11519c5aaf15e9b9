#pragma once
// The security packages behind MsSspi, the stand-in for the Windows
// security-package interface: "NTLM" on the library's own NTLM messages,
// "Negotiate" (SPNEGO) and "Kerberos" through GSSAPI. Each package object
// holds one set of credentials and one security context, and answers in the
// status codes of the interface it stands in for.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"

namespace tessik {

class LogBase;

namespace sspi {

// Status codes.
inline constexpr std::uint32_t kSecEOk = 0;
inline constexpr std::uint32_t kSecIContinueNeeded = 0x90312;
inline constexpr std::uint32_t kSecICompleteNeeded = 0x90313;
inline constexpr std::uint32_t kSecICompleteAndContinue = 0x90314;
inline constexpr std::uint32_t kSecEInsufficientMemory = 0x80090300;
inline constexpr std::uint32_t kSecEInvalidHandle = 0x80090301;
inline constexpr std::uint32_t kSecETargetUnknown = 0x80090303;
inline constexpr std::uint32_t kSecEInternalError = 0x80090304;
inline constexpr std::uint32_t kSecESecpkgNotFound = 0x80090305;
inline constexpr std::uint32_t kSecENotOwner = 0x80090306;
inline constexpr std::uint32_t kSecEInvalidToken = 0x80090308;
inline constexpr std::uint32_t kSecELogonDenied = 0x8009030C;
inline constexpr std::uint32_t kSecEUnknownCredentials = 0x8009030D;
inline constexpr std::uint32_t kSecENoCredentials = 0x8009030E;
inline constexpr std::uint32_t kSecENoAuthenticatingAuthority = 0x80090311;
inline constexpr std::uint32_t kSecEBufferTooSmall = 0x80090321;

// Context requirement flags; the low bits mean the same to GSSAPI.
inline constexpr std::uint32_t kIscReqSequenceDetect = 4;
inline constexpr std::uint32_t kIscReqMask = 0x3F;

// Largest token each package hands out.
inline constexpr std::uint32_t kMaxTokenNtlm = 2888;
inline constexpr std::uint32_t kMaxTokenNegotiate = 48256;
inline constexpr std::uint32_t kMaxTokenKerberos = 48000;

inline constexpr const char* kPackageNtlm = "NTLM";
inline constexpr const char* kPackageNegotiate = "Negotiate";
inline constexpr const char* kPackageKerberos = "Kerberos";

// Default NTLM credentials: the file this variable names holds lines
// "DOMAIN:USER:PASSWORD"; the line of the logged-on user is taken.
inline constexpr const char* kNtlmUserFileVariable = "NTLM_USER_FILE";
inline constexpr std::uint32_t kMaxUserFileSize = 1024 * 1024;
inline constexpr const char* kMsgNoUserFile = "No default NTLM credentials: NTLM_USER_FILE is not set.";
inline constexpr const char* kMsgUserFileUnreadable = "No default NTLM credentials: the NTLM user file cannot be read.";
inline constexpr const char* kMsgNoUserFileEntry = "No default NTLM credentials: the NTLM user file has no line for "
                                                   "the logged-on user.";

// Name of the status for the log, or null when it has none here.
const char* statusName(std::uint32_t status);

// Explicit credentials; a package given none uses the logged-on user's.
struct Identity {
    XString domain; // empty: none
    XString user;
    XString password;
};

class SecurityPackage {
public:
    virtual ~SecurityPackage();

    virtual const char* name() const = 0;
    virtual std::uint32_t maxToken() const = 0;

    // Replaces any credentials held. identity null: the logged-on user's.
    virtual std::uint32_t acquireCredentials(Identity* identity, LogBase& log) = 0;
    virtual void freeCredentials() = 0;
    // One step of the security context, which the first call creates: input
    // is the server's last token (empty at first), output the next token to
    // send (empty when there is none). contextFlags go in as the requested
    // attributes and come back as those granted. targetHost names the server
    // for packages that authenticate to a service.
    virtual std::uint32_t initializeContext(const StringBuffer& targetHost, std::uint32_t& contextFlags,
                                            const DataBuffer& input, DataBuffer& output, LogBase& log) = 0;
    // Finishes a token the context asked to complete.
    virtual std::uint32_t completeAuthToken(DataBuffer& token);
    virtual void deleteContext() = 0;
};

std::unique_ptr<SecurityPackage> makeNtlmPackage();
// The GSSAPI packages: kPackageNegotiate (SPNEGO) or kPackageKerberos.
std::unique_ptr<SecurityPackage> makeGssapiPackage(const char* name);

// The user file line for user (ASCII letters compared without case): true
// and the three texts filled, or false with a reason logged.
bool findNtlmUserFileEntry(const char* path, const char* user, Identity& out, LogBase& log);

} // namespace sspi

} // namespace tessik
