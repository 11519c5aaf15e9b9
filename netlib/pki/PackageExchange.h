#pragma once
// The carrier of authentication tokens between a security package (MsSspi)
// and the server being authenticated to. The HTTP connection implements it:
// each token goes out in an Authorization field and the server's answer
// token comes back from its WWW-Authenticate field.
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class LogBase;

class PackageExchange {
public:
    virtual ~PackageExchange();

    // Sends token and fills reply with the server's answer token (empty when
    // the server answered without one). False when the exchange failed. The
    // base refuses.
    virtual bool NtlmExchangePackage(DataBuffer& reply, DataBuffer& token, LogBase& log);
    // Sends the last token; whether the server accepted the authentication.
    // The base refuses.
    virtual bool NtlmFinal(DataBuffer& token, LogBase& log);

    // The host the tokens go to, set by the exchange before it asks a package
    // to authenticate. Packages that authenticate to a named service
    // (Negotiate and Kerberos: "HTTP@" and this host) read it; NTLM does not.
    // Not a virtual operation: the two slots above stay the interface's only
    // ones.
    void setTargetHost(const char* host) { m_targetHost.setString(host != nullptr ? host : ""); }
    const StringBuffer& targetHost() const { return m_targetHost; }

private:
    StringBuffer m_targetHost;
};

} // namespace tessik
