#include "netlib/pki/ClsCert.h"

#include "netlib/pki/Certificate.h"

namespace tessik {

ClsCert::ClsCert(Certificate* certificate, ExtPtrArray* xcerts, bool clone) {
    m_xcerts.setOwnsObjects(true);
    if (clone) {
        m_certificate = certificate ? certificate->clone() : nullptr;
        copyXCertArray(xcerts, &m_xcerts);
        return;
    }
    m_certificate = certificate;
    if (!xcerts)
        return;
    for (int i = 0; i < xcerts->getCount(); ++i)
        m_xcerts.appendPtr(xcerts->elementAt(i));
    // The entries are ours now; the emptied array is the caller's.
    xcerts->removeAll();
}

ClsCert::~ClsCert() {
    delete m_certificate;
}

} // namespace tessik
