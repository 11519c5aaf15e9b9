#pragma once
// The log nearly every library operation takes as its last argument.
#include <cstdint>

#include "platform/WinTypes.h"

namespace tessik {

class StringBuffer;

class LogBase {
public:
    virtual ~LogBase();

    virtual void getLogXml(tessik::StringBuffer& out);
    virtual void getLogHtml(tessik::StringBuffer& out);
    virtual void getLogText(tessik::StringBuffer& out);
    virtual bool logError(const char* text);
    virtual bool logInfo(const char* text);
    virtual bool logXml(const char* fragment);
    virtual bool clearLog();
    virtual bool enterContext(const char* name, bool flag);
    virtual bool leaveContext();
    virtual bool logData(const char* tag, const char* value);
    virtual bool logDataLong(const char* tag, int value);
    virtual bool logDataInt64(const char* tag, std::int64_t value);
    virtual bool logHex(const char* tag, unsigned int value);
    virtual void logTickCount(const char* tag);
    virtual bool saveLogXml(const char* path);

    void logDataHex(const char* tag, const void* bytes, unsigned int count);
    void logBinaryData(const char* tag, const void* bytes, unsigned int count);
    void logDataQuotedPrintable(const char* tag, const char* text);
    void logDataAnsi(const char* tag, const char* ansiText);
    void logElapsedMs(const char* tag, DWORD startTick);
    void logLastError();
    void logWindowsError(DWORD code);
};

// The silent log.
class LogNull : public LogBase {
public:
    ~LogNull() override;
};

// Enters a log context for the life of a scope.
class LogContext {
public:
    LogContext(LogBase& log, const char* name) : m_log(log) { m_log.enterContext(name, true); }
    ~LogContext() { m_log.leaveContext(); }
    LogContext(const LogContext&) = delete;
    LogContext& operator=(const LogContext&) = delete;

private:
    LogBase& m_log;
};

} // namespace tessik
