#pragma once
// The real log: a tree of contexts, lines and tagged values, rendered as text,
// XML or HTML for the caller, with an optional echo to a session-log file.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/core/TessikCritSec.h"

namespace tessik {

class StringBuffer;

// The tree as one pre-order list of records whose strings live in one pool.
// Every public call of a component clears and refills its log, so both are
// kept across reset() and an entry costs no allocation of its own.
class ErrorLog {
public:
    ErrorLog() = default;
    ErrorLog(const ErrorLog&) = delete;
    ErrorLog& operator=(const ErrorLog&) = delete;

    void reset();
    void addLine(char kind, const char* text); // 'E'rror, 'I'nfo or raw 'X'ml
    // The tag is stored with its spaces made "_"; returns it from the pool
    // (valid until the next addition), or nullptr when it could not be stored.
    const char* addTagged(std::string_view tag, const char* value);
    void pushContext(const char* name);
    void popContext();

    void renderXml(tessik::StringBuffer& out) const;
    void renderHtml(tessik::StringBuffer& out) const;
    void renderText(tessik::StringBuffer& out) const;

private:
    struct Record {
        std::uint32_t name; // offsets of NUL-terminated strings in m_pool
        std::uint32_t text;
        std::uint32_t depth; // 1 directly under the root
        char kind;           // 'C'ontext, 'T'ag, 'E'rror, 'I'nfo, 'X'ml
    };

    // Room for n more bytes at the end of the pool, or nullptr.
    char* take(std::size_t n) {
        if (n > m_capacity - m_used && !growPool(n))
            return nullptr;
        char* at = m_pool.get() + m_used;
        m_used += static_cast<std::uint32_t>(n);
        return at;
    }
    bool add(char kind, std::uint32_t name, std::uint32_t text) {
        if (m_records.size() == m_records.capacity() && !growRecords(kind, name, text))
            return false;
        m_records.push_back(Record{name, text, static_cast<std::uint32_t>(m_open.size() + 1), kind});
        return true;
    }
    bool growPool(std::size_t n);
    bool growRecords(char kind, std::uint32_t name, std::uint32_t text);
    bool store(std::string_view s, std::uint32_t& at);
    const char* str(std::uint32_t at) const { return m_pool.get() + at; }

    std::vector<Record> m_records;
    std::vector<std::uint32_t> m_open; // indices of the entered contexts
    std::unique_ptr<char[]> m_pool;
    std::uint32_t m_used = 0;
    std::uint32_t m_capacity = 0;
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
    void echo(const char* format, const char* a, const char* b) {
        if (!m_sessionLogPath.empty())
            appendToSessionLog(format, a, b);
    }
    void appendToSessionLog(const char* format, const char* a, const char* b);

    ErrorLog m_log;
    int m_depth;
    std::string m_sessionLogPath; // UTF-8
};

} // namespace tessik
