#include "netlib/core/Progress.h"

#include <cstdio>
#include <new>

#include "netlib/core/Int64Util.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/StringPair.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {
inline void clearFlag(bool* abort) {
    if (abort)
        *abort = false;
}
} // namespace

// ---------------------------------------------------------------- ProgressEvent defaults

ProgressEvent::~ProgressEvent() = default;
void ProgressEvent::PercentDone(int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::AbortCheck(bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::HeartbeatCheck(unsigned int, bool* abort) {
    clearFlag(abort);
}
bool ProgressEvent::QueryFlag() {
    return false;
}
void ProgressEvent::ProgressInfo(const char*, const char*) {}
void ProgressEvent::Event6(unsigned int, unsigned int) {}
void ProgressEvent::Event7(unsigned int, unsigned int) {}
void ProgressEvent::Event8(unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event9(unsigned int, unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event10(unsigned int, unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event11(unsigned int, unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event12(unsigned int, unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event13(unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event14(unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event15(unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event16(unsigned int) {}
void ProgressEvent::Event17(unsigned int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::Event18(unsigned int, unsigned int) {}
void ProgressEvent::Event19(unsigned int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::Event20(unsigned int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::Event21(unsigned int, unsigned int) {}
void ProgressEvent::Event22(unsigned int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::Event23(unsigned int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::Event24(unsigned int, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::SendRate(unsigned int, unsigned int) {}
void ProgressEvent::ReceiveRate(unsigned int, unsigned int) {}
void ProgressEvent::BeginChunkedResponse() {}
void ProgressEvent::BeginReceiveResponse() {}
void ProgressEvent::EndReceiveResponse(int) {}
void ProgressEvent::BeginSendRequest() {}
void ProgressEvent::EndSendRequest(int) {}
void ProgressEvent::RedirectCheck(const char*, const char*, bool* abort) {
    clearFlag(abort);
}
void ProgressEvent::Event33(unsigned int, unsigned int, unsigned int, unsigned int, unsigned int) {}
void ProgressEvent::Event34(unsigned int, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                            unsigned int) {}

// ---------------------------------------------------------------- AsyncProgressEvent

AsyncProgressEvent::AsyncProgressEvent() : m_abort(false), m_lastPercent(0) {}
AsyncProgressEvent::~AsyncProgressEvent() = default;

void AsyncProgressEvent::PercentDone(int percent, bool* abort) {
    m_lastPercent.store(percent);
    if (abort)
        *abort = m_abort.load();
}
void AsyncProgressEvent::AbortCheck(bool* abort) {
    if (abort)
        *abort = m_abort.load();
}
void AsyncProgressEvent::HeartbeatCheck(unsigned int, bool* abort) {
    if (abort)
        *abort = m_abort.load();
}

// ---------------------------------------------------------------- EventHistory

EventHistory::EventHistory() {
    m_events.setOwnsObjects(true);
}

EventHistory::~EventHistory() {
    CritSecExitor lock(*this);
    m_events.removeAllObjects();
}

void EventHistory::addEvent(const char* name, const char* value) {
    StringPair* p = new (std::nothrow) StringPair(name, value);
    if (!p)
        return;
    CritSecExitor lock(*this);
    if (!m_events.appendPtr(p))
        delete p;
}

void EventHistory::clearEvents() {
    CritSecExitor lock(*this);
    m_events.removeAllObjects();
}

// ---------------------------------------------------------------- EventHistorian

EventHistorian::EventHistorian() : m_record(false), m_abort(false), m_target(nullptr), m_lastPercent(0) {}
EventHistorian::~EventHistorian() {
    m_target = nullptr;
}

void EventHistorian::PercentDone(int percent, bool* abort) {
    if (m_record) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%d", percent);
        m_history.addEvent("PercentDone", buf);
    }
    m_lastPercent = static_cast<unsigned int>(percent);
    if (m_target)
        m_target->PercentDone(percent, abort);
    else if (abort)
        *abort = m_abort.load();
}

void EventHistorian::AbortCheck(bool* abort) {
    if (m_target)
        m_target->AbortCheck(abort);
    else if (abort)
        *abort = m_abort.load();
}

void EventHistorian::HeartbeatCheck(unsigned int value, bool* abort) {
    if (m_target)
        m_target->HeartbeatCheck(value, abort);
    else if (abort)
        *abort = m_abort.load();
}

bool EventHistorian::QueryFlag() {
    return m_target ? m_target->QueryFlag() : false;
}

void EventHistorian::ProgressInfo(const char* name, const char* value) {
    if (m_record)
        m_history.addEvent(name, value);
    if (m_target)
        m_target->ProgressInfo(name, value);
}

#define FORWARD(call)                                                                                                  \
    if (m_target)                                                                                                      \
    m_target->call
void EventHistorian::Event6(unsigned int a, unsigned int b) {
    FORWARD(Event6(a, b));
}
void EventHistorian::Event7(unsigned int a, unsigned int b) {
    FORWARD(Event7(a, b));
}
void EventHistorian::Event8(unsigned int a, unsigned int b, unsigned int c) {
    FORWARD(Event8(a, b, c));
}
void EventHistorian::Event9(unsigned int a, unsigned int b, unsigned int c, unsigned int d) {
    FORWARD(Event9(a, b, c, d));
}
void EventHistorian::Event10(unsigned int a, unsigned int b, unsigned int c, unsigned int d) {
    FORWARD(Event10(a, b, c, d));
}
void EventHistorian::Event11(unsigned int a, unsigned int b, unsigned int c, unsigned int d) {
    FORWARD(Event11(a, b, c, d));
}
void EventHistorian::Event12(unsigned int a, unsigned int b, unsigned int c, unsigned int d) {
    FORWARD(Event12(a, b, c, d));
}
void EventHistorian::Event13(unsigned int a, unsigned int b, unsigned int c) {
    FORWARD(Event13(a, b, c));
}
void EventHistorian::Event14(unsigned int a, unsigned int b, unsigned int c) {
    FORWARD(Event14(a, b, c));
}
void EventHistorian::Event15(unsigned int a, unsigned int b, unsigned int c) {
    FORWARD(Event15(a, b, c));
}
void EventHistorian::Event17(unsigned int a, bool* abort) {
    FORWARD(Event17(a, abort));
}
void EventHistorian::Event18(unsigned int a, unsigned int b) {
    FORWARD(Event18(a, b));
}
void EventHistorian::Event19(unsigned int a, bool* abort) {
    FORWARD(Event19(a, abort));
}
void EventHistorian::Event20(unsigned int a, bool* abort) {
    FORWARD(Event20(a, abort));
}
void EventHistorian::Event21(unsigned int a, unsigned int b) {
    FORWARD(Event21(a, b));
}
void EventHistorian::Event22(unsigned int a, bool* abort) {
    FORWARD(Event22(a, abort));
}
void EventHistorian::Event23(unsigned int a, bool* abort) {
    FORWARD(Event23(a, abort));
}
void EventHistorian::Event24(unsigned int a, bool* abort) {
    FORWARD(Event24(a, abort));
}
void EventHistorian::SendRate(unsigned int a, unsigned int b) {
    FORWARD(SendRate(a, b));
}
void EventHistorian::ReceiveRate(unsigned int a, unsigned int b) {
    FORWARD(ReceiveRate(a, b));
}
void EventHistorian::BeginChunkedResponse() {
    FORWARD(BeginChunkedResponse());
}
void EventHistorian::BeginReceiveResponse() {
    FORWARD(BeginReceiveResponse());
}
void EventHistorian::EndReceiveResponse(int success) {
    FORWARD(EndReceiveResponse(success));
}
void EventHistorian::BeginSendRequest() {
    FORWARD(BeginSendRequest());
}
void EventHistorian::EndSendRequest(int success) {
    FORWARD(EndSendRequest(success));
}
void EventHistorian::RedirectCheck(const char* a, const char* b, bool* abort) {
    FORWARD(RedirectCheck(a, b, abort));
}
void EventHistorian::Event33(unsigned int a, unsigned int b, unsigned int c, unsigned int d, unsigned int e) {
    FORWARD(Event33(a, b, c, d, e));
}
void EventHistorian::Event34(unsigned int a, unsigned int b, unsigned int c, unsigned int d, unsigned int e,
                             unsigned int f, unsigned int g) {
    FORWARD(Event34(a, b, c, d, e, f, g));
}
#undef FORWARD

// ---------------------------------------------------------------- ProgressMonitor

ProgressMonitor::ProgressMonitor(ProgressEvent* sink, unsigned int total, TickFn ticks)
    : m_total(total), m_done(0), m_lastPercent(0), m_sink(sink ? sink : &m_internalSink), m_aborted(false),
      m_heartbeatMs(0), m_noHeartbeat(false), m_lastHeartbeatTick(0), m_defaultHeartbeatMs(0), m_percentOff(false),
      m_hold100(false), m_ticks(ticks ? ticks : &platform::GetTickCount) {
    m_lastEventTick = m_ticks();
}

ProgressMonitor::~ProgressMonitor() = default;

int ProgressMonitor::computePercent(std::int64_t done, std::int64_t total) {
    if (total <= 0)
        return 100;
    while (total > 1000000) {
        total /= 10;
        done /= 10;
    }
    return static_cast<int>(done * 100 / total);
}

void ProgressMonitor::setTotalUint32(unsigned int total) {
    setTotalInt64(total);
}

void ProgressMonitor::setTotalInt64(std::int64_t total) {
    m_total = total;
    m_done = 0;
    m_aborted = false;
    m_lastPercent = 0;
}

void ProgressMonitor::countUp(std::int64_t amount, bool* abort, bool mayAbort) {
    int oldPct = computePercent(m_done, m_total);
    int newPct = 0;
    if (!m_percentOff) {
        m_done += amount;
        if (m_done > m_total)
            m_done = m_total;
        newPct = computePercent(m_done, m_total);
    }
    if (!m_percentOff && newPct > oldPct && newPct > static_cast<int>(m_lastPercent)) {
        m_lastEventTick = m_ticks();
        if (m_hold100 && newPct == 100)
            return;
        m_lastPercent = static_cast<unsigned int>(newPct);
        bool answer = false;
        m_sink->PercentDone(newPct, &answer);
        if (mayAbort) {
            *abort = answer;
            if (answer)
                m_aborted = true;
        }
        return;
    }
    if (!mayAbort)
        return;
    DWORD now = m_ticks();
    if (!m_noHeartbeat && m_heartbeatMs != 0 && static_cast<DWORD>(now - m_lastEventTick) > m_heartbeatMs) {
        m_lastHeartbeatTick = m_lastEventTick = now;
        bool answer = false;
        m_sink->AbortCheck(&answer);
        *abort = answer;
        if (answer)
            m_aborted = true;
    }
}

bool ProgressMonitor::consumeProgress(std::int64_t amount, bool* abort) {
    bool local = false;
    if (!abort)
        abort = &local;
    *abort = false;
    countUp(amount, abort, true);
    return *abort;
}

bool ProgressMonitor::consumeProgressUint32(unsigned int amount, bool* abort) {
    return consumeProgress(amount, abort);
}

void ProgressMonitor::consumeProgressNoAbort(unsigned int amount) {
    if (m_percentOff)
        return;
    countUp(amount, nullptr, false);
}

void ProgressMonitor::setAmountDone(std::int64_t amountDone, bool* abort) {
    if (abort)
        *abort = false;
    int oldPct = computePercent(m_done, m_total);
    m_done = amountDone > m_total ? m_total : amountDone;
    int newPct = computePercent(m_done, m_total);
    if (newPct > oldPct && newPct > static_cast<int>(m_lastPercent) && !(m_hold100 && newPct == 100)) {
        m_lastPercent = static_cast<unsigned int>(newPct);
        bool answer = false;
        m_sink->PercentDone(newPct, &answer);
        if (abort)
            *abort = answer;
        if (answer)
            m_aborted = true;
    }
}

void ProgressMonitor::setAmountDoneUint32(unsigned int amountDone, bool* abort) {
    setAmountDone(amountDone, abort);
}

void ProgressMonitor::endProgress(int) {
    if (m_total - m_done > 0 && !m_percentOff)
        countUp(m_total - m_done, nullptr, false);
    if (m_hold100) {
        m_lastEventTick = m_ticks();
        bool ignored = false;
        m_sink->PercentDone(100, &ignored);
    }
}

bool ProgressMonitor::abortCheck(unsigned int intervalMs, unsigned int) {
    if (m_aborted)
        return true;
    m_heartbeatMs = intervalMs;
    if (intervalMs == 0)
        return false;
    DWORD now = m_ticks();
    if (now <= m_lastHeartbeatTick) {
        // Equal, or the counter wrapped: start timing again.
        m_lastHeartbeatTick = now;
        return false;
    }
    if (now - m_lastHeartbeatTick < intervalMs)
        return false;
    m_lastHeartbeatTick = m_lastEventTick = now;
    if (!m_aborted)
        m_sink->HeartbeatCheck(0, &m_aborted);
    return m_aborted;
}

void ProgressMonitor::pollAbort(unsigned int intervalMs, unsigned int unused) {
    if (!m_aborted && intervalMs != 0)
        abortCheck(intervalMs, unused);
}

bool ProgressMonitor::abortCheckDefault() {
    if (m_defaultHeartbeatMs == 0)
        return false;
    return abortCheck(m_defaultHeartbeatMs, 0);
}

void ProgressMonitor::progressInfo(const char* name, const char* value) {
    m_sink->ProgressInfo(name, value);
}

void ProgressMonitor::progressInfoInt(const char* name, int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    m_sink->ProgressInfo(name, buf);
}

void ProgressMonitor::progressInfoInt64(const char* name, std::int64_t value) {
    tessik::StringBuffer sb;
    appendInt64Decimal(value, sb);
    m_sink->ProgressInfo(name, sb.getString());
}

} // namespace tessik
