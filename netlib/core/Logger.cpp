#include "netlib/core/Logger.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "netlib/core/FileSys.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr const char* kRootName = "TessikLog";

bool isNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// An element name that keeps the XML well-formed: unusable bytes become "_".
void appendXmlName(const char* name, StringBuffer& out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    if (!*p) {
        out.appendChar('_');
        return;
    }
    if (!isNameStart(p[0]))
        out.appendChar('_');
    for (; *p; ++p)
        out.appendChar(isNameChar(*p) ? static_cast<char>(*p) : '_');
}

// Text that may stand in an element as it is: plain characters and complete
// CDATA sections, with no markup outside them.
bool standsAsCharData(const char* t) {
    while (*t) {
        if (std::strncmp(t, "<![CDATA[", 9) == 0) {
            const char* end = std::strstr(t + 9, "]]>");
            if (!end)
                return false;
            t = end + 3;
            continue;
        }
        if (*t == '<' || *t == '&' || std::strncmp(t, "]]>", 3) == 0)
            return false;
        ++t;
    }
    return true;
}

bool needsCdata(const char* text) {
    if (std::strstr(text, "<![CDATA[") && std::strstr(text, "]]>") && standsAsCharData(text))
        return false;
    return std::strpbrk(text, "\n\t&<>") != nullptr;
}

void appendText(const char* text, StringBuffer& out) {
    if (!needsCdata(text)) {
        out.append(text);
        return;
    }
    // A "]]>" inside would end the section early: split it across two sections.
    out.append("<![CDATA[");
    for (const char* end; (end = std::strstr(text, "]]>")) != nullptr; text = end + 3) {
        out.appendBytes(text, static_cast<int>(end - text));
        out.append("]]]]><![CDATA[>");
    }
    out.append(text);
    out.append("]]>");
}

void appendEncoded(const char* text, StringBuffer& out) {
    StringBuffer enc(text);
    enc.encodeXmlEntities();
    out.appendSb(enc);
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The tag without surrounding blanks; empty when nothing is left.
std::string_view trimmedTag(const char* tag) {
    if (!tag)
        return {};
    std::string_view t(tag);
    while (!t.empty() && isBlank(t.back()))
        t.remove_suffix(1);
    while (!t.empty() && isBlank(t.front()))
        t.remove_prefix(1);
    return t;
}

// Text of an integer, NUL-terminated, in a buffer big enough for any.
template <class Int>
const char* formatInt(char (&buf)[24], Int value, const char* prefix = "", int base = 10) {
    const std::size_t n = std::strlen(prefix);
    std::memcpy(buf, prefix, n);
    *std::to_chars(buf + n, buf + sizeof buf - 1, value, base).ptr = '\0';
    return buf;
}

} // namespace

// ---------------------------------------------------------------- ErrorLog

void ErrorLog::reset() {
    m_records.clear();
    m_open.clear();
    m_used = 0;
}

bool ErrorLog::growPool(std::size_t n) {
    constexpr std::size_t kMax = std::numeric_limits<std::uint32_t>::max();
    if (n > kMax - m_used)
        return false;
    const std::size_t capacity = std::min(kMax, std::max<std::size_t>({2 * std::size_t{m_capacity}, m_used + n, 1024}));
    std::unique_ptr<char[]> pool(new (std::nothrow) char[capacity]);
    if (!pool)
        return false;
    if (m_used)
        std::memcpy(pool.get(), m_pool.get(), m_used);
    m_pool = std::move(pool);
    m_capacity = static_cast<std::uint32_t>(capacity);
    return true;
}

bool ErrorLog::store(std::string_view s, std::uint32_t& at) {
    char* p = take(s.size() + 1);
    if (!p)
        return false;
    std::memcpy(p, s.data(), s.size());
    p[s.size()] = '\0';
    at = static_cast<std::uint32_t>(p - m_pool.get());
    return true;
}

// On failure the entry's strings are given back to the pool.
bool ErrorLog::growRecords(char kind, std::uint32_t name, std::uint32_t text) {
    try {
        m_records.reserve(std::max<std::size_t>(64, 2 * m_records.capacity()));
        return true;
    } catch (const std::bad_alloc&) {
        m_used = kind == 'T' || kind == 'C' ? name : text;
        return false;
    }
}

void ErrorLog::addLine(char kind, const char* text) {
    std::uint32_t at = 0;
    if (store(text, at))
        add(kind, 0, at);
}

const char* ErrorLog::addTagged(std::string_view tag, const char* value) {
    const std::size_t length = std::strlen(value);
    if (tag.size() > std::numeric_limits<std::uint32_t>::max() - length - 2)
        return nullptr;
    char* p = take(tag.size() + length + 2);
    if (!p)
        return nullptr;
    const auto name = static_cast<std::uint32_t>(p - m_pool.get());
    std::memcpy(p, tag.data(), tag.size());
    char* const end = p + tag.size();
    for (char* c = p; (c = static_cast<char*>(std::memchr(c, ' ', static_cast<std::size_t>(end - c)))) != nullptr;)
        *c++ = '_';
    *end = '\0';
    std::memcpy(p + tag.size() + 1, value, length + 1);
    if (!add('T', name, name + static_cast<std::uint32_t>(tag.size()) + 1))
        return nullptr;
    return str(name);
}

void ErrorLog::pushContext(const char* name) {
    std::uint32_t at = 0;
    if (!store(name ? name : "", at))
        return;
    if (!add('C', at, 0))
        return;
    // Only a context that made it into the list becomes current.
    try {
        m_open.push_back(static_cast<std::uint32_t>(m_records.size() - 1));
    } catch (const std::bad_alloc&) {
        m_records.pop_back();
        m_used = at;
    }
}

void ErrorLog::popContext() {
    if (m_open.empty())
        return;
    const std::uint32_t left = m_open.back();
    m_open.pop_back();
    // A context in which nothing was logged vanishes, unless it stands
    // directly under the root.
    if (!m_open.empty() && left + 1 == m_records.size()) {
        m_used = m_records.back().name;
        m_records.pop_back();
    }
}

// Each form walks the records in order; a context closes before the first
// record that is not deeper than it.
void ErrorLog::renderXml(StringBuffer& out) const {
    std::vector<std::uint32_t> open;
    auto close = [&](const char* name) {
        out.append("</");
        appendXmlName(name, out);
        out.append(">\r\n");
    };
    out.append("<");
    out.append(kRootName);
    out.append(">\r\n");
    for (std::uint32_t i = 0; i < m_records.size(); ++i) {
        const Record& r = m_records[i];
        for (; !open.empty() && m_records[open.back()].depth >= r.depth; open.pop_back())
            close(str(m_records[open.back()].name));
        switch (r.kind) {
        case 'E':
        case 'I':
            out.append(r.kind == 'E' ? "<error>" : "<info>");
            appendText(str(r.text), out);
            out.append(r.kind == 'E' ? "</error>\r\n" : "</info>\r\n");
            break;
        case 'X':
            out.append(str(r.text));
            out.append("\r\n");
            break;
        case 'T':
            out.appendChar('<');
            appendXmlName(str(r.name), out);
            out.appendChar('>');
            appendText(str(r.text), out);
            close(str(r.name));
            break;
        case 'C':
            out.appendChar('<');
            appendXmlName(str(r.name), out);
            out.append(">\r\n");
            open.push_back(i);
            break;
        }
    }
    for (; !open.empty(); open.pop_back())
        close(str(m_records[open.back()].name));
    close(kRootName);
}

void ErrorLog::renderHtml(StringBuffer& out) const {
    std::uint32_t depth = 0; // contexts open below the root
    out.append(kRootName);
    out.append(":<blockquote>\r\n");
    for (const Record& r : m_records) {
        for (; depth >= r.depth; --depth)
            out.append("</blockquote>\r\n");
        switch (r.kind) {
        case 'E':
        case 'I':
        case 'X':
            appendEncoded(str(r.text), out);
            out.append("<br>\r\n");
            break;
        case 'T':
            out.append(str(r.name));
            out.append(": ");
            appendEncoded(str(r.text), out);
            out.append("<br>\r\n");
            break;
        case 'C':
            out.append(str(r.name));
            out.append(":<blockquote>\r\n");
            depth = r.depth;
            break;
        }
    }
    for (; depth > 0; --depth)
        out.append("</blockquote>\r\n");
    out.append("</blockquote>\r\n");
}

void ErrorLog::renderText(StringBuffer& out) const {
    out.append(kRootName);
    out.append(":\r\n");
    for (const Record& r : m_records) {
        out.appendCharRepeated(' ', static_cast<int>(2 * r.depth));
        if (r.kind == 'T' || r.kind == 'C') {
            out.append(str(r.name));
            out.append(r.kind == 'T' ? ": " : ":\r\n");
        }
        if (r.kind != 'C') {
            out.append(str(r.text));
            out.append("\r\n");
        }
    }
}

// ---------------------------------------------------------------- Logger

Logger::Logger() : m_depth(0) {}

Logger::~Logger() {
    enterCriticalSection();
    leaveCriticalSection();
}

void Logger::setSessionLogPath(const char* utf8Path) {
    XString path;
    path.setFromUtf8(utf8Path);
    CritSecExitor lock(*this);
    m_sessionLogPath = path.getUtf8();
}

// Under the lock. The indentation is that of the depth before the call.
void Logger::appendToSessionLog(const char* format, const char* a, const char* b) {
    StringBuffer indent;
    indent.appendCharRepeated(' ', 4 * m_depth);
    const int size = std::snprintf(nullptr, 0, format, indent.getString(), a ? a : "", b ? b : "");
    if (size <= 0)
        return;
    std::string line(static_cast<std::size_t>(size) + 1, '\0');
    std::snprintf(line.data(), line.size(), format, indent.getString(), a ? a : "", b ? b : "");
    XString path;
    path.setFromUtf8(m_sessionLogPath.c_str());
    appendToFile(path, line.data(), static_cast<std::uint64_t>(size), nullptr);
}

void Logger::getLogXml(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    m_log.renderXml(out);
}

void Logger::getLogHtml(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    m_log.renderHtml(out);
}

void Logger::getLogText(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    m_log.renderText(out);
}

bool Logger::addLine(char kind, const char* text, bool doEcho) {
    if (!text)
        return true;
    CritSecExitor lock(*this);
    m_log.addLine(kind, text);
    if (doEcho)
        echo("%s%s\n%s", text, "");
    return true;
}

bool Logger::logError(const char* text) {
    return addLine('E', text, true);
}
bool Logger::logInfo(const char* text) {
    return addLine('I', text, true);
}
bool Logger::logXml(const char* fragment) {
    return addLine('X', fragment, false);
}

bool Logger::clearLog() {
    CritSecExitor lock(*this);
    m_log.reset();
    m_depth = 0;
    return true;
}

bool Logger::enterContext(const char* name, bool) {
    CritSecExitor lock(*this);
    m_log.pushContext(name);
    echo("%s%s:\n%s", name, "");
    ++m_depth;
    return true;
}

bool Logger::leaveContext() {
    CritSecExitor lock(*this);
    m_log.popContext();
    echo("%s(leaveContext)\n%s%s", "", "");
    if (m_depth > 0)
        --m_depth;
    return true;
}

// A tag of nothing but blanks logs nothing.
bool Logger::addTagged(const char* tag, const char* value, bool doEcho) {
    const std::string_view trimmed = trimmedTag(tag);
    if (trimmed.empty())
        return false;
    CritSecExitor lock(*this);
    const char* stored = m_log.addTagged(trimmed, value);
    if (stored && doEcho)
        echo("%s%s: %s\n", stored, value);
    return true;
}

bool Logger::logData(const char* tag, const char* value) {
    return addTagged(tag, value ? value : "(NULL)", true);
}

bool Logger::logDataLong(const char* tag, int value) {
    char buf[24];
    return addTagged(tag, formatInt(buf, value), true);
}

bool Logger::logDataInt64(const char* tag, std::int64_t value) {
    char buf[24];
    return addTagged(tag, formatInt(buf, value), false);
}

bool Logger::logHex(const char* tag, unsigned int value) {
    char buf[24];
    return addTagged(tag, formatInt(buf, value, "0x", 16), false);
}

void Logger::logTickCount(const char* tag) {
    char buf[24];
    addTagged(tag, formatInt(buf, platform::GetTickCount(), "", 16), false);
}

bool Logger::saveLogXml(const char* path) {
    if (!path || !*path)
        return false;
    StringBuffer xml;
    getLogXml(xml);
    XString p;
    p.setFromAnsi(path);
    return writeWholeFile(p, xml.getString(), static_cast<std::uint64_t>(xml.getSize()), nullptr);
}

} // namespace tessik
