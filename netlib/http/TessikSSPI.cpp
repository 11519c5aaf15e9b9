#include "netlib/http/TessikSSPI.h"

#include <new>

namespace tessik {

TessikSSPI::TessikSSPI() : m_sspi(new(std::nothrow) MsSspi) {}

TessikSSPI::~TessikSSPI() {
    delete m_sspi;
}

int TessikSSPI::findPackage(const char* name) {
    return m_sspi != nullptr ? m_sspi->findPackage(name) : -1;
}

void TessikSSPI::setPackageExchange(PackageExchange* exchange) {
    if (m_sspi != nullptr)
        m_sspi->setPackageExchange(exchange);
}

bool TessikSSPI::authenticate(int packageIndex, XString& domain, XString& user, XString& password, LogBase& log) {
    return m_sspi != nullptr && m_sspi->authenticate(packageIndex, domain, user, password, log);
}

void TessikSSPI::logPackages(LogBase& log) {
    if (m_sspi != nullptr)
        m_sspi->logPackages(log);
}

} // namespace tessik
