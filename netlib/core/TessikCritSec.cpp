#include "netlib/core/TessikCritSec.h"

namespace tessik {

// A thread still inside finishes before the lock goes away.
TessikCritSec::~TessikCritSec() {
    m_mutex.lock();
    m_mutex.unlock();
}

} // namespace tessik
