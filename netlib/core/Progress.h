#pragma once
// Progress and abort callbacks of long operations, and the monitor that turns
// 64-bit amounts into whole percentages.
#include <atomic>
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikCritSec.h"
#include "platform/WinTypes.h"

namespace tessik {

// Every slot does nothing by default; an abort out-flag is cleared.
class ProgressEvent {
public:
    virtual ~ProgressEvent();
    virtual void PercentDone(int percent, bool* abort);
    virtual void AbortCheck(bool* abort);
    virtual void HeartbeatCheck(unsigned int value, bool* abort);
    virtual bool QueryFlag();
    virtual void ProgressInfo(const char* name, const char* value);
    virtual void Event6(unsigned int a, unsigned int b);
    virtual void Event7(unsigned int a, unsigned int b);
    virtual void Event8(unsigned int a, unsigned int b, unsigned int c);
    virtual void Event9(unsigned int a, unsigned int b, unsigned int c, unsigned int d);
    virtual void Event10(unsigned int a, unsigned int b, unsigned int c, unsigned int d);
    virtual void Event11(unsigned int a, unsigned int b, unsigned int c, unsigned int d);
    virtual void Event12(unsigned int a, unsigned int b, unsigned int c, unsigned int d);
    virtual void Event13(unsigned int a, unsigned int b, unsigned int c);
    virtual void Event14(unsigned int a, unsigned int b, unsigned int c);
    virtual void Event15(unsigned int a, unsigned int b, unsigned int c);
    virtual void Event16(unsigned int a);
    virtual void Event17(unsigned int a, bool* abort);
    virtual void Event18(unsigned int a, unsigned int b);
    virtual void Event19(unsigned int a, bool* abort);
    virtual void Event20(unsigned int a, bool* abort);
    virtual void Event21(unsigned int a, unsigned int b);
    virtual void Event22(unsigned int a, bool* abort);
    virtual void Event23(unsigned int a, bool* abort);
    virtual void Event24(unsigned int a, bool* abort);
    virtual void SendRate(unsigned int bytesSoFar, unsigned int bytesPerSecond);
    virtual void ReceiveRate(unsigned int bytesSoFar, unsigned int bytesPerSecond);
    virtual void BeginChunkedResponse();
    virtual void BeginReceiveResponse();
    virtual void EndReceiveResponse(int success);
    virtual void BeginSendRequest();
    virtual void EndSendRequest(int success);
    virtual void RedirectCheck(const char* requestedUrl, const char* redirectUrl, bool* abort);
    virtual void Event33(unsigned int a, unsigned int b, unsigned int c, unsigned int d, unsigned int e);
    virtual void Event34(unsigned int a, unsigned int b, unsigned int c, unsigned int d, unsigned int e, unsigned int f,
                         unsigned int g);
};

// A sink that only holds an abort flag, set by its owner from any thread.
class AsyncProgressEvent : public ProgressEvent {
public:
    AsyncProgressEvent();
    ~AsyncProgressEvent() override;
    void PercentDone(int percent, bool* abort) override;
    void AbortCheck(bool* abort) override;
    void HeartbeatCheck(unsigned int value, bool* abort) override;

    void setAbort(bool abort) { m_abort.store(abort); }
    bool getAbort() const { return m_abort.load(); }
    int lastPercent() const { return m_lastPercent.load(); }

private:
    std::atomic<bool> m_abort;
    std::atomic<int> m_lastPercent;
};

// Recorded (name, value) events of a background task, under its own lock.
class EventHistory : public TessikCritSec {
public:
    EventHistory();
    ~EventHistory() override;
    void addEvent(const char* name, const char* value);
    void clearEvents();
    // Callers hold the lock (enterCriticalSection) while they read.
    ExtPtrArray& events() { return m_events; }

private:
    ExtPtrArray m_events;
};

class EventHistorian : public ProgressEvent {
public:
    EventHistorian();
    ~EventHistorian() override;

    EventHistory& history() { return m_history; }
    void clearEvents() { m_history.clearEvents(); }
    void setRecord(bool record) { m_record = record; }
    void setAbort(bool abort) { m_abort.store(abort); }
    void setTarget(ProgressEvent* target) { m_target = target; }
    unsigned int lastPercent() const { return m_lastPercent; }

    void PercentDone(int percent, bool* abort) override;
    void AbortCheck(bool* abort) override;
    void HeartbeatCheck(unsigned int value, bool* abort) override;
    bool QueryFlag() override;
    void ProgressInfo(const char* name, const char* value) override;
    void Event6(unsigned int a, unsigned int b) override;
    void Event7(unsigned int a, unsigned int b) override;
    void Event8(unsigned int a, unsigned int b, unsigned int c) override;
    void Event9(unsigned int a, unsigned int b, unsigned int c, unsigned int d) override;
    void Event10(unsigned int a, unsigned int b, unsigned int c, unsigned int d) override;
    void Event11(unsigned int a, unsigned int b, unsigned int c, unsigned int d) override;
    void Event12(unsigned int a, unsigned int b, unsigned int c, unsigned int d) override;
    void Event13(unsigned int a, unsigned int b, unsigned int c) override;
    void Event14(unsigned int a, unsigned int b, unsigned int c) override;
    void Event15(unsigned int a, unsigned int b, unsigned int c) override;
    void Event17(unsigned int a, bool* abort) override;
    void Event18(unsigned int a, unsigned int b) override;
    void Event19(unsigned int a, bool* abort) override;
    void Event20(unsigned int a, bool* abort) override;
    void Event21(unsigned int a, unsigned int b) override;
    void Event22(unsigned int a, bool* abort) override;
    void Event23(unsigned int a, bool* abort) override;
    void Event24(unsigned int a, bool* abort) override;
    void SendRate(unsigned int bytesSoFar, unsigned int bytesPerSecond) override;
    void ReceiveRate(unsigned int bytesSoFar, unsigned int bytesPerSecond) override;
    void BeginChunkedResponse() override;
    void BeginReceiveResponse() override;
    void EndReceiveResponse(int success) override;
    void BeginSendRequest() override;
    void EndSendRequest(int success) override;
    void RedirectCheck(const char* requestedUrl, const char* redirectUrl, bool* abort) override;
    void Event33(unsigned int a, unsigned int b, unsigned int c, unsigned int d, unsigned int e) override;
    void Event34(unsigned int a, unsigned int b, unsigned int c, unsigned int d, unsigned int e, unsigned int f,
                 unsigned int g) override;

private:
    EventHistory m_history;
    bool m_record;
    std::atomic<bool> m_abort;
    ProgressEvent* m_target;
    unsigned int m_lastPercent;
};

class ProgressMonitor {
public:
    // The tick source; tests inject their own clock.
    using TickFn = DWORD (*)();

    ProgressMonitor(ProgressEvent* sink, unsigned int total, TickFn ticks = nullptr);
    virtual ~ProgressMonitor();
    ProgressMonitor(const ProgressMonitor&) = delete;
    ProgressMonitor& operator=(const ProgressMonitor&) = delete;

    void setTotalUint32(unsigned int total);
    void setTotalInt64(std::int64_t total);
    bool consumeProgress(std::int64_t amount, bool* abort);
    bool consumeProgressUint32(unsigned int amount, bool* abort);
    void consumeProgressNoAbort(unsigned int amount);
    void setAmountDone(std::int64_t amountDone, bool* abort);
    void setAmountDoneUint32(unsigned int amountDone, bool* abort);
    void endProgress(int callSite);
    bool abortCheck(unsigned int intervalMs, unsigned int unused);
    void pollAbort(unsigned int intervalMs, unsigned int unused);
    bool abortCheckDefault();
    bool isAborted() const { return m_aborted; }
    // The application's sink, or the monitor's own when none was given.
    ProgressEvent* getEventSink() const { return m_sink; }
    void progressInfo(const char* name, const char* value);
    void progressInfoInt(const char* name, int value);
    void progressInfoInt64(const char* name, std::int64_t value);

    // The owner's settings.
    void setNoHeartbeat(bool v) { m_noHeartbeat = v; }
    void setPercentOff(bool v) { m_percentOff = v; }
    bool getPercentOff() const { return m_percentOff; }
    void setHold100(bool v) { m_hold100 = v; }
    void setDefaultHeartbeatMs(unsigned int ms) { m_defaultHeartbeatMs = ms; }

    static int computePercent(std::int64_t done, std::int64_t total);

private:
    void countUp(std::int64_t amount, bool* abort, bool mayAbort);

    AsyncProgressEvent m_internalSink;
    std::int64_t m_total;
    std::int64_t m_done;
    unsigned int m_lastPercent;
    ProgressEvent* m_sink;
    bool m_aborted;
    DWORD m_lastEventTick;
    unsigned int m_heartbeatMs;
    bool m_noHeartbeat;
    DWORD m_lastHeartbeatTick;
    unsigned int m_defaultHeartbeatMs;
    bool m_percentOff;
    bool m_hold100;
    TickFn m_ticks;
};

} // namespace tessik
