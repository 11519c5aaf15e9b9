// The HTTP component's background task: queueing a method with its
// arguments, the thread that runs it with the task's own log, and the
// readers of its results.
#include <chrono>
#include <memory>
#include <system_error>

#include "netlib/http/ClsHttp.h"

namespace tessik {

bool ClsHttp::refusedWhileBusy(const char* methodName) {
    if (!taskBusy())
        return false;
    if (tryEnterCriticalSection()) {
        enterMethod(methodName);
        checkNotBusy(m_log);
        leaveCriticalSection();
        return true;
    }
    // A running task holds the lock but writes its own log only, and lets
    // go of the lock only after it has said, under the state lock, that it
    // ended: until then the component's log is free.
    std::lock_guard<std::mutex> state(m_stateLock);
    if (m_running) {
        enterMethod(methodName);
        m_log.logError(bg_msg::kBusy);
        m_log.leaveContext();
    }
    return true;
}

bool ClsHttp::queueBackgroundTask(BgMethod method, const char* methodName,
                                  const std::function<void(ClsBgTask&)>& push) {
    if (refusedWhileBusy(methodName))
        return false;
    CritSecExitor lock(*this);
    if (refusedWhileBusy(methodName))
        return false;
    beginQueue();
    push(*this);
    m_methodNumber = static_cast<int>(method);
    return startBackgroundTask(methodName);
}

bool ClsHttp::startBackgroundTask(const char* methodName) {
    CritSecExitor lock(*this);
    // The last task has left the lock for good by now (busy was off).
    if (m_thread.joinable())
        m_thread.join();
    bool started = false;
    try {
        m_thread = std::thread([this] { backgroundThreadProc(this); });
        started = true;
    } catch (const std::system_error&) {
        started = false;
    }
    if (!started) {
        XString noText;
        DataBuffer noBytes;
        endBackgroundTask(false, noText, noBytes);
        enterMethod(methodName);
        m_log.logError(bg_msg::kNoThread);
        m_log.leaveContext();
        return false;
    }
    enterMethod(methodName);
    m_log.logInfo(bg_msg::kStarted);
    m_log.leaveContext();
    return true;
}

int ClsHttp::backgroundThreadProc(ClsHttp* component) {
    if (component == nullptr || !component->isAlive())
        return 0;
    CritSecExitor lock(*component);
    {
        std::lock_guard<std::mutex> state(component->m_stateLock);
        component->m_running = true;
        component->m_taskResult = false;
        component->m_stringResult.clear();
        component->m_bytesResult.clear();
    }
    // The worker writes into its own results, which the readers never see
    // half made.
    bool result = false;
    XString text;
    DataBuffer bytes;
    component->dispatchBackgroundTask(result, text, bytes);
    component->endBackgroundTask(result, text, bytes);
    return 0;
}

void ClsHttp::endBackgroundTask(bool result, XString& text, DataBuffer& bytes) {
    {
        std::lock_guard<std::mutex> state(m_stateLock);
        m_taskResult = result;
        m_stringResult.copyFromX(text);
        m_bytesResult.clear();
        m_bytesResult.appendDb(bytes);
        m_busy = false;
        m_running = false;
        m_finished = true;
    }
    m_stateChanged.notify_all();
}

void ClsHttp::dispatchBackgroundTask(bool& result, XString& stringResult, DataBuffer& bytesResult) {
    LogBase& log = m_taskLog;
    // Arguments by queue position; a missing one ends the task as failed.
    auto text = [this](int i) { return getStringArg(i); };
    auto bytes = [this](int i) { return getBytesArg(i); };
    auto all = [](std::initializer_list<const void*> args) {
        for (const void* a : args)
            if (a == nullptr)
                return false;
        return true;
    };
    // A worker that returns a response: it becomes the last response.
    auto deliver = [this, &result](ClsHttpResponse* response) {
        result = response != nullptr;
        if (response != nullptr)
            setLastResponse(response);
    };
    // A request travels as its XML form; one that cannot be read is not
    // sent as the empty request it would leave.
    auto load = [&log](ClsHttpRequest& request, XString& xml) {
        if (request.loadFromXml(xml.getUtf8()))
            return true;
        log.logError(bg_msg::kUnreadableRequest);
        return false;
    };
    XString* a0 = text(0);
    XString* a1 = text(1);
    XString* a2 = text(2);
    XString* a3 = text(3);
    switch (static_cast<BgMethod>(m_methodNumber)) {
    case BgMethod::Download:
        if (all({a0, a1}))
            result = Download(*a0, *a1, false, nullptr, log);
        break;
    case BgMethod::QuickGetStr:
        if (all({a0}))
            result = QuickGetStr(*a0, stringResult, false, nullptr, log);
        break;
    case BgMethod::DownloadAppend:
        if (all({a0, a1}))
            result = DownloadAppend(*a0, *a1, false, nullptr, log);
        break;
    case BgMethod::GetHead:
        if (all({a0}))
            deliver(GetHead(*a0, false, nullptr, log));
        break;
    case BgMethod::PostBinary:
    case BgMethod::PutBinary: {
        DataBuffer* data = bytes(1);
        if (!all({a0, data, a2, getArg(3), getArg(4)}))
            break;
        const bool put = static_cast<BgMethod>(m_methodNumber) == BgMethod::PutBinary;
        result = put ? PutBinary(*a0, *data, *a2, getBoolArg(3), getBoolArg(4), stringResult, false, nullptr, log)
                     : PostBinary(*a0, *data, *a2, getBoolArg(3), getBoolArg(4), stringResult, false, nullptr, log);
        break;
    }
    case BgMethod::PostUrlEncoded:
        if (all({a0, a1})) {
            ClsHttpRequest request;
            if (load(request, *a1))
                deliver(PostUrlEncoded(*a0, request, false, nullptr, log));
        }
        break;
    case BgMethod::PostXml:
        if (all({a0, a1, a2}))
            deliver(PostXml(*a0, *a1, *a2, false, nullptr, log));
        break;
    case BgMethod::PutText:
        if (all({a0, a1, a2, a3, getArg(4), getArg(5)}))
            result = PutText(*a0, *a1, *a2, *a3, getBoolArg(4), getBoolArg(5), stringResult, false, nullptr, log);
        break;
    // The reply of the body-less PUT and DELETE is kept as the string result.
    case BgMethod::QuickDeleteStr:
        if (all({a0}))
            result = QuickDeleteStr(*a0, stringResult, false, nullptr, log);
        break;
    case BgMethod::QuickGet:
        if (all({a0}))
            result = QuickGet(*a0, bytesResult, false, nullptr, log);
        break;
    case BgMethod::QuickGetObj:
        if (all({a0}))
            deliver(QuickGetObj(*a0, false, nullptr, log));
        break;
    case BgMethod::QuickPutStr:
        if (all({a0}))
            result = QuickPutStr(*a0, stringResult, false, nullptr, log);
        break;
    case BgMethod::ResumeDownload:
        if (all({a0, a1}))
            result = ResumeDownload(*a0, *a1, false, nullptr, log);
        break;
    case BgMethod::SynchronousRequest:
        if (all({a0, getArg(1), getArg(2), a3})) {
            ClsHttpRequest request;
            if (load(request, *a3))
                deliver(synchronousRequestImpl(a0->getUtf8(), getIntArg(1), getBoolArg(2), request, nullptr, log));
        }
        break;
    case BgMethod::XmlRpc:
        if (all({a0, a1}))
            result = XmlRpc(*a0, *a1, stringResult, false, nullptr, log);
        break;
    case BgMethod::XmlRpcPut:
        if (all({a0, a1}))
            result = XmlRpcPut(*a0, *a1, stringResult, false, nullptr, log);
        break;
    case BgMethod::PostMime:
        if (all({a0, a1}))
            deliver(PostMime(*a0, *a1, false, nullptr, log));
        break;
    case BgMethod::S3DeleteBucket:
        if (all({a0}))
            result = S3_DeleteBucket(*a0, nullptr, log);
        break;
    case BgMethod::S3DeleteObject:
        if (all({a0, a1}))
            result = S3_DeleteObject(*a0, *a1, nullptr, log);
        break;
    case BgMethod::S3DownloadBytes:
        if (all({a0, a1}))
            result = S3_DownloadBytes(*a0, *a1, bytesResult, nullptr, log);
        break;
    case BgMethod::S3DownloadFile:
        if (all({a0, a1, a2}))
            result = S3_DownloadFile(*a0, *a1, *a2, nullptr, log);
        break;
    case BgMethod::S3DownloadString:
        if (all({a0, a1, a2}))
            result = S3_DownloadString(*a0, *a1, *a2, stringResult, nullptr, log);
        break;
    case BgMethod::S3ListBucketObjects:
        if (all({a0}))
            result = S3_ListBucketObjects(*a0, stringResult, nullptr, log);
        break;
    case BgMethod::S3ListBuckets: result = S3_ListBuckets(stringResult, nullptr, log); break;
    case BgMethod::S3UploadBytes: {
        DataBuffer* data = bytes(3);
        if (all({a0, a1, a2, data}))
            result = S3_UploadBytes(*a0, *a1, *a2, *data, nullptr, log);
        break;
    }
    case BgMethod::S3UploadFile:
        if (all({a0, a1, a2, a3}))
            result = S3_UploadFile(*a0, *a1, *a2, *a3, nullptr, log);
        break;
    case BgMethod::S3UploadString: {
        XString* body = text(4);
        if (all({a0, a1, a2, a3, body}))
            result = S3_UploadString(*a0, *a1, *a2, *a3, *body, nullptr, log);
        break;
    }
    default: break;
    }
}

void ClsHttp::setUseBackgroundThread(bool on) {
    CritSecExitor lock(*this);
    m_useThread = on;
}

bool ClsHttp::backgroundTaskBusy() {
    return taskBusy();
}

bool ClsHttp::backgroundTaskFinished() {
    std::lock_guard<std::mutex> state(m_stateLock);
    return m_finished;
}

bool ClsHttp::backgroundTaskResult() {
    std::lock_guard<std::mutex> state(m_stateLock);
    return m_taskResult;
}

void ClsHttp::backgroundStringResult(XString& out) {
    std::lock_guard<std::mutex> state(m_stateLock);
    out.copyFromX(m_stringResult);
}

void ClsHttp::backgroundBytesResult(DataBuffer& out) {
    std::lock_guard<std::mutex> state(m_stateLock);
    out.clear();
    out.appendDb(m_bytesResult);
}

void ClsHttp::backgroundTaskLog(XString& out) {
    // The log has a lock of its own, which the task holds only while it
    // writes a line.
    StringBuffer text;
    m_taskLog.getLogText(text);
    out.setFromUtf8(text.getString());
}

bool ClsHttp::waitForBackgroundTask(unsigned int timeoutMs) {
    std::unique_lock<std::mutex> state(m_stateLock);
    return m_stateChanged.wait_for(state, std::chrono::milliseconds(timeoutMs), [this] { return !m_busy; });
}

void ClsHttp::setLastResponse(ClsHttpResponse* response) {
    std::lock_guard<std::mutex> state(m_stateLock);
    if (response == m_lastResponse)
        return;
    delete m_lastResponse;
    m_lastResponse = response;
}

ClsHttpResponse* ClsHttp::takeLastResponse() {
    std::lock_guard<std::mutex> state(m_stateLock);
    ClsHttpResponse* response = m_lastResponse;
    m_lastResponse = nullptr;
    return response;
}

} // namespace tessik
