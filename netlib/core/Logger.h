#pragma once
// The real log: a tree of contexts, lines and tagged values, rendered as text,
// XML or HTML for the caller, with an optional echo to a session-log file.
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"

namespace tessik {

class StringBuffer;

class LogEntry2 : public TessikObject {
public:
    LogEntry2();
    ~LogEntry2() override;
    LogEntry2(const LogEntry2&) = delete;
    LogEntry2& operator=(const LogEntry2&) = delete;

    bool setContext(const char* name);
    bool setError(const char* text);
    bool setInfo(const char* text);
    bool setXml(const char* text);
    bool setTagValue(const char* tag, const char* value);
    void addChild(LogEntry2* child);

    char kind() const { return m_kind; }
    ExtPtrArray* children() const { return m_children; }

    void renderXml(tessik::StringBuffer& out) const;
    void renderHtml(tessik::StringBuffer& out) const;
    void renderText(tessik::StringBuffer& out, int depth) const;
    static bool needsCdata(const char* text);

private:
    void release();
    bool setLine(char kind, const char* text);

    ExtPtrArray* m_children;
    char m_kind;
    tessik::StringBuffer* m_name;
    tessik::StringBuffer* m_text;
};

class ErrorLog {
public:
    ErrorLog();
    virtual ~ErrorLog();
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

    void reset();
    void addEntry(LogEntry2* entry); // into the current context; takes ownership
    void pushContext(LogEntry2* context);
    void popContext();
    const LogEntry2* root() const;

private:
    ExtPtrArray m_stack;
};

class Logger : public LogBase, public TessikCritSec {
public:
    Logger();
    ~Logger() override;

    void getLogXml(tessik::StringBuffer& out) override;
    void getLogHtml(tessik::StringBuffer& out) override;
    void getLogText(tessik::StringBuffer& out) override;
    bool logError(const char* text) override;
    bool logInfo(const char* text) override;
    bool logXml(const char* fragment) override;
    bool clearLog() override;
    bool enterContext(const char* name, bool flag) override;
    bool leaveContext() override;
    bool logData(const char* tag, const char* value) override;
    bool logDataLong(const char* tag, int value) override;
    bool logDataInt64(const char* tag, std::int64_t value) override;
    bool logHex(const char* tag, unsigned int value) override;
    void logTickCount(const char* tag) override;
    bool saveLogXml(const char* path) override;

    // While set (not empty), each echoed call appends a line to this file.
    void setSessionLogPath(const char* utf8Path);

private:
    bool addTagged(const char* tag, const char* value, bool echo);
    bool addLine(char kind, const char* text, bool echo);
    void echo(const char* format, const char* a, const char* b);

    ErrorLog m_log;
    int m_depth;
    XString m_sessionLogPath;
};

} // namespace tessik
