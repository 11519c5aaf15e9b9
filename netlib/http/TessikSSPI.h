#pragma once
// The HTTP engine's handle on the security packages (MsSspi): look a package
// up by name ("NTLM", "Negotiate"), register the connection that carries the
// tokens, authenticate.
#include "netlib/pki/MsSspi.h"

namespace tessik {

class LogBase;
class PackageExchange;
class XString;

class TessikSSPI {
public:
    TessikSSPI();
    virtual ~TessikSSPI();
    TessikSSPI(const TessikSSPI&) = delete;
    TessikSSPI& operator=(const TessikSSPI&) = delete;

    // Each is a no-op with the result shown when the security-package object
    // could not be made: -1, nothing, false.
    int findPackage(const char* name);
    void setPackageExchange(PackageExchange* exchange);
    bool authenticate(int packageIndex, XString& domain, XString& user, XString& password, LogBase& log);
    void logPackages(LogBase& log);

private:
    MsSspi* m_sspi;
};

} // namespace tessik
