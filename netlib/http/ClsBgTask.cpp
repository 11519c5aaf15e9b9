#include "netlib/http/ClsBgTask.h"

namespace tessik {

namespace {
// A queued boolean is an integer: -1 for true.
constexpr int kQueuedTrue = -1;
} // namespace

ClsBgTask::ClsBgTask() : m_busy(false), m_finished(true), m_taskResult(false), m_methodNumber(0), m_useThread(false) {
    m_args.setOwnsObjects(true);
}

ClsBgTask::~ClsBgTask() = default;

bool ClsBgTask::taskBusy() const {
    std::lock_guard<std::mutex> state(m_stateLock);
    return m_busy;
}

bool ClsBgTask::checkNotBusy(LogBase& log) {
    if (!taskBusy())
        return true;
    log.logError(bg_msg::kBusy);
    log.leaveContext();
    return false;
}

void ClsBgTask::beginQueue() {
    {
        std::lock_guard<std::mutex> state(m_stateLock);
        m_busy = true;
        m_finished = false;
    }
    clearArgs();
}

void ClsBgTask::clearArgs() {
    m_args.removeAllObjects();
}

void ClsBgTask::pushStringArg(const XString& text) {
    auto* copy = new XString;
    copy->copyFromX(text);
    if (m_args.appendPtr(copy) == nullptr)
        delete copy;
}

void ClsBgTask::pushIntArg(int value) {
    auto* number = new TessikInt(value);
    if (m_args.appendPtr(number) == nullptr)
        delete number;
}

void ClsBgTask::pushBoolArg(bool value) {
    pushIntArg(value ? kQueuedTrue : 0);
}

void ClsBgTask::pushBytesArg(const DataBuffer& bytes) {
    auto* copy = new DataBuffer;
    copy->appendDb(bytes);
    if (m_args.appendPtr(copy) == nullptr)
        delete copy;
}

TessikObject* ClsBgTask::getArg(int index) const {
    return index >= 0 && index < m_args.getCount() ? m_args.elementAt(index) : nullptr;
}

bool ClsBgTask::getBoolArg(int index) const {
    return getIntArg(index) != 0;
}

int ClsBgTask::getIntArg(int index) const {
    const auto* number = dynamic_cast<const TessikInt*>(getArg(index));
    return number != nullptr ? number->value : 0;
}

XString* ClsBgTask::getStringArg(int index) const {
    return dynamic_cast<XString*>(getArg(index));
}

DataBuffer* ClsBgTask::getBytesArg(int index) const {
    return dynamic_cast<DataBuffer*>(getArg(index));
}

} // namespace tessik
