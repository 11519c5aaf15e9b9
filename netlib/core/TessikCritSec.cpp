#include "netlib/core/TessikCritSec.h"

// A thread still inside finishes before the lock goes away.
TessikCritSec::~TessikCritSec() {
    m_mutex.lock();
    m_mutex.unlock();
}
