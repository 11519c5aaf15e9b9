#pragma once
// SOCKS proxy settings (the base of the HTTP options), and the SOCKS 4 and 5
// messages the socket sends: built here from values alone, so they can be
// checked byte by byte without a proxy.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"

namespace tessik {

inline constexpr int kDefaultSocksPort = 1080;
inline constexpr unsigned char kSocks4Version = 0x04;
inline constexpr unsigned char kSocks5Version = 0x05;
inline constexpr unsigned char kSocksConnect = 0x01;
inline constexpr unsigned char kSocks4Granted = 0x5A;
inline constexpr unsigned char kSocks5MethodNone = 0x00;
inline constexpr unsigned char kSocks5MethodPassword = 0x02;
inline constexpr unsigned char kSocks5PasswordVersion = 0x01;
inline constexpr unsigned char kSocks5AddressIpv4 = 0x01;
inline constexpr unsigned char kSocks5AddressName = 0x03;
inline constexpr unsigned char kSocks5AddressIpv6 = 0x04;
// The version byte that begins every SOCKS4 reply.
inline constexpr unsigned char kSocks4ReplyVersion = 0x00;
inline constexpr unsigned int kSocks4ReplySize = 8;
inline constexpr unsigned int kSocks5ReplyHeadSize = 4;
// Every SOCKS5 length goes in one byte.
inline constexpr unsigned int kSocks5MaxField = 255;

inline constexpr const char* kMsgSocks4Denied = "SOCKS4 connect request denied.";
inline constexpr const char* kMsgSocks5Rejected = "SOCKS5 server rejected connection request";
inline constexpr const char* kMsgSocks5PasswordRejected = "SOCKS5 server rejected username/password";
inline constexpr const char* kMsgSocks4BadVersion = "SOCKS4 reply has the wrong version; it should be 0.";
inline constexpr const char* kMsgSocks5BadVersion = "SOCKS5 reply has the wrong version; it should be 5.";
inline constexpr const char* kMsgSocks5NoMethod = "No acceptable SOCKS5 methods";
inline constexpr const char* kMsgSocks5FieldTooLong = "SOCKS5 username or password is longer than 255 bytes.";
inline constexpr const char* kMsgSocks5TargetTooLong = "SOCKS5 target hostname is longer than 255 bytes.";

class ClsSocksClient {
public:
    ClsSocksClient();
    virtual ~ClsSocksClient();
    ClsSocksClient(const ClsSocksClient&) = delete;
    ClsSocksClient& operator=(const ClsSocksClient&) = delete;

    int getSocksPort() const { return m_socksPort; }
    void setSocksPort(int port) { m_socksPort = port; }
    // 4 or 5; anything else means no SOCKS.
    int getSocksVersion() const { return m_socksVersion; }
    void setSocksVersion(int version) { m_socksVersion = version; }
    void setSocksUsername(const char* utf8) { m_socksUsername.setFromUtf8(utf8); }
    void setSocksPassword(const char* utf8) { m_socksPassword.setFromUtf8(utf8); }
    void setSocksHostname(const char* utf8) { m_socksHostname.setFromUtf8(utf8); }
    void wipeSocksPassword() { m_socksPassword.secureClear(); }
    // All of the other's settings: a copy reaches the servers the way it does.
    void copySocksSettings(const ClsSocksClient& other);

    // In the ANSI code page.
    void getSocksUsername(StringBuffer& out);
    void getSocksPassword(StringBuffer& out);
    void getSocksHostname(StringBuffer& out);

private:
    int m_socksPort;
    int m_socksVersion;
    XString m_socksUsername;
    XString m_socksPassword;
    XString m_socksHostname;
};

// 04 01, port, address, user id, 00.
void buildSocks4Request(int port, std::uint32_t address, const char* userId, DataBuffer& out);
// 05 01 00, or 05 02 00 02 when both a user name and a password are given.
void buildSocks5Greeting(bool withCredentials, DataBuffer& out);
// False (nothing built) when either is longer than kSocks5MaxField.
bool buildSocks5PasswordRequest(const StringBuffer& user, const StringBuffer& password, DataBuffer& out);
// The target as an IPv4 address when `address` is given, as an IPv6
// address when the name is an IPv6 literal (no zone, no brackets), else as
// a name; false when the name is longer than kSocks5MaxField.
bool buildSocks5ConnectRequest(const char* name, const std::uint32_t* address, int port, DataBuffer& out);

} // namespace tessik
