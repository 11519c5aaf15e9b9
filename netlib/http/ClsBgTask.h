#pragma once
// The state of an HTTP component's background call: one method of the
// component queued with its arguments, run on a thread of its own with its
// own log and event recorder, and its results kept for later collection.
// The component's lock guards the arguments and the method number; the task
// thread holds it from its start to its end. The task's status and results
// have a lock of their own, never held while the task waits on the network,
// so that every status call and wait answers within its limit.
#include <condition_variable>
#include <mutex>
#include <thread>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Logger.h"
#include "netlib/core/Progress.h"
#include "netlib/core/XString.h"

namespace tessik {

namespace bg_msg {
inline constexpr const char* kBusy = "Cannot do this while background HTTP task on this object instance is running.";
inline constexpr const char* kStarted = "Task started in background thread.";
inline constexpr const char* kNoThread = "Failed to start thread";
inline constexpr const char* kUnreadableRequest =
    "The request's XML form could not be read (or written): nothing was sent.";
} // namespace bg_msg

class ClsBgTask {
public:
    ClsBgTask();
    virtual ~ClsBgTask();
    ClsBgTask(const ClsBgTask&) = delete;
    ClsBgTask& operator=(const ClsBgTask&) = delete;

    // False, with the reason logged and the method's context left, while a
    // task is queued or running.
    bool checkNotBusy(LogBase& log);

    void clearArgs();
    void pushStringArg(const XString& text);
    void pushIntArg(int value);
    void pushBoolArg(bool value);
    void pushBytesArg(const DataBuffer& bytes);
    // Null when there is no argument at that position.
    TessikObject* getArg(int index) const;
    bool getBoolArg(int index) const;
    int getIntArg(int index) const;
    // Null unless the argument there is of that kind.
    XString* getStringArg(int index) const;
    DataBuffer* getBytesArg(int index) const;

protected:
    // Queued: busy, not finished, no arguments yet.
    void beginQueue();
    // A task is queued or running.
    bool taskBusy() const;

    // Guards busy, finished and the results; announces the task's end.
    mutable std::mutex m_stateLock;
    std::condition_variable m_stateChanged;
    bool m_busy;
    // The task holds the component's lock and runs.
    bool m_running = false;
    bool m_finished;
    bool m_taskResult;
    ExtPtrArray m_args;
    int m_methodNumber;
    bool m_useThread;
    XString m_stringResult;
    DataBuffer m_bytesResult;
    Logger m_taskLog;
    // Records the progress events of every request (direct calls too) and
    // passes them on to the sink the request paths set.
    EventHistorian m_historian;
    // Joined before the component goes, so a task never outlives it.
    std::thread m_thread;
};

} // namespace tessik
