#pragma once
// Process-wide start of the socket layer, its name-lookup entry points, the
// log texts of socket error codes, and IP addresses as text.
#include <netdb.h>

#include <cstdint>
#include <vector>

#include "netlib/core/LogBase.h"

namespace tessik {

class StringBuffer;

inline constexpr int kFamilyIpv4 = 2;
inline constexpr int kFamilyIpv6 = 23;

inline constexpr const char* kFirewallHint =
    "Check to make sure the connection is not blocked by a firewall or anti-virus port filtering.";

// The optional entry points, looked up once (always present here).
struct Ws2Functions {
    int (*getaddrinfo)(const char* host, const char* service, const addrinfo* hints, addrinfo** result) = nullptr;
    void (*freeaddrinfo)(addrinfo* list) = nullptr;
    bool (*gethostbyname)(const char* name, std::vector<std::uint32_t>* addresses) = nullptr;
};

// True once the socket layer is started; false only when the start failed
// on this call.
bool startupWSA(LogBase& log);
bool loadWs2Functions(LogBase& log);
const Ws2Functions& ws2Functions();
// Both getaddrinfo and freeaddrinfo were found.
bool addressInfoAvailable();

// logData "SocketError" with the text of a Winsock code.
void logSocketError(int code, LogBase& log);

void formatIpv4(const unsigned char bytes[4], StringBuffer& out);
void formatIpv6(const unsigned char bytes[16], StringBuffer& out);
// kFamilyIpv6 or kFamilyIpv4; false for any other family.
bool formatAddress(int family, const unsigned char* bytes, StringBuffer& out);

// Dotted decimal, exactly four parts of at most 255: the four bytes in
// order (network byte order in memory).
bool parseIpv4(const char* text, std::uint32_t* out);
// The text form of RFC 4291, with "::" and a dotted IPv4 tail.
bool parseIpv6(const char* text, unsigned char out[16]);

} // namespace tessik
