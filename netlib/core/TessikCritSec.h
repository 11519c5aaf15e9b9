#pragma once
// The library's lock: re-entrant for the thread that holds it.
#include <mutex>

namespace tessik {

class TessikCritSec {
public:
    TessikCritSec() = default;
    virtual ~TessikCritSec();

    TessikCritSec(const TessikCritSec&) = delete;
    TessikCritSec& operator=(const TessikCritSec&) = delete;

    void enterCriticalSection() { m_mutex.lock(); }
    // False, at once, while another thread holds it.
    bool tryEnterCriticalSection() { return m_mutex.try_lock(); }
    void leaveCriticalSection() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};

// Holds a TessikCritSec for a scope.
class CritSecExitor {
public:
    explicit CritSecExitor(TessikCritSec& cs) : m_cs(cs) { m_cs.enterCriticalSection(); }
    ~CritSecExitor() { m_cs.leaveCriticalSection(); }
    CritSecExitor(const CritSecExitor&) = delete;
    CritSecExitor& operator=(const CritSecExitor&) = delete;

private:
    TessikCritSec& m_cs;
};

} // namespace tessik
