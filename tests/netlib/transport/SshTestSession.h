#pragma once
// The tests' own way into an SSH server, since the transport leaves
// connecting, identification, authentication and opening channels to its
// creator: TCP connect and version lines, the first key exchange, the
// "ssh-userauth" service, password or "ssh-rsa" public-key login, and one
// "session" channel with an exec request. Nothing here is library code.
#include <cstdint>
#include <string>

#include "netlib/core/Logger.h"
#include "netlib/transport/SshTransport.h"

namespace grvtest {

inline constexpr const char* kSshClientVersion = "SSH-2.0-GorvaneTest_1.0";
inline constexpr std::uint32_t kSshTestWindow = 2 * 1024 * 1024;
inline constexpr std::uint32_t kSshTestMaxPacket = 32768;

class SshTestSession {
public:
    SshTestSession();

    tessik::SshTransport transport;
    tessik::Logger log;
    tessik::SshChannel channel;
    std::uint32_t serverMaxPacket = 0;
    std::string failure; // what went wrong, with the end of the log

    // TCP connect and the exchange of identification lines.
    bool Connect(int port);
    // sendKexInit and the read until the server's NEWKEYS.
    bool KeyExchange();
    bool Connect(int port, bool withKeyExchange) { return Connect(port) && (!withKeyExchange || KeyExchange()); }
    // SERVICE_REQUEST "ssh-userauth" answered by SERVICE_ACCEPT.
    bool RequestUserauth();
    bool LoginPassword(const std::string& user, const std::string& password);
    // An unencrypted PEM "RSA PRIVATE KEY" file.
    bool LoginRsaKey(const std::string& user, const std::string& pemPath);
    // CHANNEL_OPEN "session" with the given window, then exec.
    bool OpenSession(std::uint32_t window = kSshTestWindow);
    bool Exec(const std::string& command);

    // Connect, key exchange, service, login and an exec in one go.
    bool RunPassword(int port, const std::string& user, const std::string& password, const std::string& command);
    bool RunRsaKey(int port, const std::string& user, const std::string& pemPath, const std::string& command);

    // Reads both kinds of data until the server closes the channel.
    bool ReadToClose(std::string& out, std::string& err);

private:
    bool Fail(const std::string& what);
    bool SendAndWait(const char* label, const tessik::DataBuffer& payload, int condition, tessik::DataBuffer& reply,
                     tessik::SshReadOutcome& outcome);
};

} // namespace grvtest
