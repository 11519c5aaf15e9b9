#pragma once
// The public certificate object: one certificate and the certificate-pool
// entries that travel with it.
#include "netlib/core/ClsBase.h"
#include "netlib/core/ExtPtrArray.h"

namespace tessik {

class Certificate;

class ClsCert : public ClsBase {
public:
    // With clone both are copied; otherwise both are taken over.
    ClsCert(Certificate* certificate, ExtPtrArray* xcerts, bool clone);
    ~ClsCert() override;

    // Still owned by this object.
    Certificate* getCertificate() const { return m_certificate; }
    ExtPtrArray& getXCerts() { return m_xcerts; }

private:
    Certificate* m_certificate = nullptr;
    ExtPtrArray m_xcerts;
};

} // namespace tessik
