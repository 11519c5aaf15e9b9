#include "netlib/core/Logger.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "netlib/core/StringBuffer.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

bool isNameStart(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) {
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '.' || c == '-';
}

// An element name that keeps the XML well-formed: unusable bytes become "_".
void appendXmlName(const StringBuffer& name, StringBuffer& out) {
    if (name.getSize() == 0) {
        out.appendChar('_');
        return;
    }
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name.getString());
    if (!isNameStart(p[0]))
        out.appendChar('_');
    for (int i = 0; i < name.getSize(); ++i)
        out.appendChar(isNameChar(p[i]) ? static_cast<char>(p[i]) : '_');
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

void appendText(const StringBuffer* text, StringBuffer& out) {
    if (!LogEntry2::needsCdata(text ? text->getString() : nullptr)) {
        out.appendSb(*text);
        return;
    }
    // A "]]>" inside would end the section early: split it across two sections.
    StringBuffer wrapped(*text);
    wrapped.replaceAll("]]>", "]]]]><![CDATA[>");
    out.append("<![CDATA[");
    out.appendSb(wrapped);
    out.append("]]>");
}

void appendEncoded(const StringBuffer* text, StringBuffer& out) {
    StringBuffer enc(*text);
    enc.encodeXmlEntities();
    out.appendSb(enc);
}

StringBuffer* copyOf(const char* text) {
    return new (std::nothrow) StringBuffer(text);
}

// Trimmed, blanks turned into "_"; empty when nothing is left.
void normaliseTag(const char* tag, StringBuffer& out) {
    out.setString(tag);
    out.trimWhitespace();
    out.replaceChar(' ', '_');
}

} // namespace

// ---------------------------------------------------------------- LogEntry2

LogEntry2::LogEntry2() : m_children(nullptr), m_kind('I'), m_name(nullptr), m_text(nullptr) {}

LogEntry2::~LogEntry2() {
    release();
}

void LogEntry2::release() {
    delete m_name;
    delete m_text;
    delete m_children; // owns its entries
    m_name = m_text = nullptr;
    m_children = nullptr;
}

bool LogEntry2::setContext(const char* name) {
    release();
    m_kind = 'C';
    m_children = new (std::nothrow) ExtPtrArray();
    if (m_children)
        m_children->setOwnsObjects(true);
    m_name = copyOf(name ? name : "");
    return m_children && m_name;
}

bool LogEntry2::setLine(char kind, const char* text) {
    release();
    m_kind = kind;
    m_text = copyOf(text);
    return m_text != nullptr;
}

bool LogEntry2::setError(const char* text) {
    return setLine('E', text);
}
bool LogEntry2::setInfo(const char* text) {
    return setLine('I', text);
}
bool LogEntry2::setXml(const char* text) {
    return setLine('X', text);
}

bool LogEntry2::setTagValue(const char* tag, const char* value) {
    release();
    m_kind = 'T';
    m_name = copyOf(tag);
    m_text = copyOf(value);
    return m_name && m_text;
}

void LogEntry2::addChild(LogEntry2* child) {
    if (!m_children || !m_children->appendPtr(child))
        delete child;
}

bool LogEntry2::needsCdata(const char* text) {
    if (!text)
        return false;
    if (std::strstr(text, "<![CDATA[") && std::strstr(text, "]]>") && standsAsCharData(text))
        return false;
    return std::strpbrk(text, "\n\t&<>") != nullptr;
}

void LogEntry2::renderXml(StringBuffer& out) const {
    switch (m_kind) {
    case 'E':
    case 'I':
        if (!m_text)
            return;
        out.append(m_kind == 'E' ? "<error>" : "<info>");
        appendText(m_text, out);
        out.append(m_kind == 'E' ? "</error>\r\n" : "</info>\r\n");
        return;
    case 'X':
        if (!m_text)
            return;
        out.appendSb(*m_text);
        out.append("\r\n");
        return;
    case 'T':
        if (!m_name || !m_text)
            return;
        out.appendChar('<');
        appendXmlName(*m_name, out);
        out.appendChar('>');
        appendText(m_text, out);
        out.append("</");
        appendXmlName(*m_name, out);
        out.append(">\r\n");
        return;
    case 'C':
        if (!m_name || !m_children)
            return;
        out.appendChar('<');
        appendXmlName(*m_name, out);
        out.append(">\r\n");
        for (int i = 0; i < m_children->getCount(); ++i)
            static_cast<const LogEntry2*>(m_children->elementAt(i))->renderXml(out);
        out.append("</");
        appendXmlName(*m_name, out);
        out.append(">\r\n");
        return;
    }
}

void LogEntry2::renderHtml(StringBuffer& out) const {
    switch (m_kind) {
    case 'E':
    case 'I':
    case 'X':
        if (!m_text)
            return;
        appendEncoded(m_text, out);
        out.append("<br>\r\n");
        return;
    case 'T':
        if (!m_name || !m_text)
            return;
        out.appendSb(*m_name);
        out.append(": ");
        appendEncoded(m_text, out);
        out.append("<br>\r\n");
        return;
    case 'C':
        if (!m_name || !m_children)
            return;
        out.appendSb(*m_name);
        out.append(":<blockquote>\r\n");
        for (int i = 0; i < m_children->getCount(); ++i)
            static_cast<const LogEntry2*>(m_children->elementAt(i))->renderHtml(out);
        out.append("</blockquote>\r\n");
        return;
    }
}

void LogEntry2::renderText(StringBuffer& out, int depth) const {
    switch (m_kind) {
    case 'E':
    case 'I':
    case 'X':
        if (!m_text)
            return;
        out.appendCharRepeated(' ', 2 * depth);
        out.appendSb(*m_text);
        out.append("\r\n");
        return;
    case 'T':
        if (!m_name || !m_text)
            return;
        out.appendCharRepeated(' ', 2 * depth);
        out.appendSb(*m_name);
        out.append(": ");
        out.appendSb(*m_text);
        out.append("\r\n");
        return;
    case 'C':
        if (!m_name || !m_children)
            return;
        out.appendCharRepeated(' ', 2 * depth);
        out.appendSb(*m_name);
        out.append(":\r\n");
        for (int i = 0; i < m_children->getCount(); ++i)
            static_cast<const LogEntry2*>(m_children->elementAt(i))->renderText(out, depth + 1);
        return;
    }
}

// ---------------------------------------------------------------- ErrorLog

ErrorLog::ErrorLog() {
    reset();
}

ErrorLog::~ErrorLog() {
    delete static_cast<LogEntry2*>(m_stack.elementAt(0));
}

void ErrorLog::reset() {
    delete static_cast<LogEntry2*>(m_stack.elementAt(0));
    m_stack.removeAll();
    LogEntry2* root = new (std::nothrow) LogEntry2();
    if (!root)
        return;
    root->setContext("TessikLog");
    m_stack.appendPtr(root);
}

void ErrorLog::addEntry(LogEntry2* entry) {
    auto* current = static_cast<LogEntry2*>(m_stack.lastElement());
    if (!current) {
        delete entry;
        return;
    }
    current->addChild(entry);
}

void ErrorLog::pushContext(LogEntry2* context) {
    auto* current = static_cast<LogEntry2*>(m_stack.lastElement());
    if (!current || !current->children()) {
        delete context;
        return;
    }
    int before = current->children()->getCount();
    current->addChild(context);
    // Only a context that made it into the tree becomes current.
    if (current->children()->getCount() > before)
        m_stack.appendPtr(context);
}

void ErrorLog::popContext() {
    if (m_stack.getCount() <= 1)
        return;
    m_stack.removeAt(m_stack.getCount() - 1);
    if (m_stack.getCount() <= 1)
        return;
    // A context in which nothing was logged vanishes.
    auto* current = static_cast<LogEntry2*>(m_stack.lastElement());
    ExtPtrArray* kids = current->children();
    if (!kids || kids->getCount() == 0)
        return;
    auto* last = static_cast<LogEntry2*>(kids->lastElement());
    if (last && last->kind() == 'C' && last->children() && last->children()->getCount() == 0)
        delete static_cast<LogEntry2*>(kids->removeAt(kids->getCount() - 1));
}

const LogEntry2* ErrorLog::root() const {
    return static_cast<const LogEntry2*>(m_stack.elementAt(0));
}

// ---------------------------------------------------------------- Logger

Logger::Logger() : m_depth(0) {}

Logger::~Logger() {
    enterCriticalSection();
    leaveCriticalSection();
}

void Logger::setSessionLogPath(const char* utf8Path) {
    CritSecExitor lock(*this);
    m_sessionLogPath.setFromUtf8(utf8Path);
}

// Under the lock. The indentation is that of the depth before the call.
void Logger::echo(const char* format, const char* a, const char* b) {
    if (m_sessionLogPath.getSizeUtf8() == 0)
        return;
    FILE* f = std::fopen(m_sessionLogPath.getUtf8(), "a");
    if (!f)
        return;
    StringBuffer indent;
    indent.appendCharRepeated(' ', 4 * m_depth);
    std::fprintf(f, format, indent.getString(), a ? a : "", b ? b : "");
    std::fclose(f);
}

void Logger::getLogXml(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    if (m_log.root())
        m_log.root()->renderXml(out);
}

void Logger::getLogHtml(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    if (m_log.root())
        m_log.root()->renderHtml(out);
}

void Logger::getLogText(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    if (m_log.root())
        m_log.root()->renderText(out, 0);
}

bool Logger::addLine(char kind, const char* text, bool doEcho) {
    if (!text)
        return true;
    CritSecExitor lock(*this);
    LogEntry2* e = new (std::nothrow) LogEntry2();
    bool made = e && (kind == 'E' ? e->setError(text) : kind == 'I' ? e->setInfo(text) : e->setXml(text));
    if (made)
        m_log.addEntry(e);
    else
        delete e;
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
    LogEntry2* e = new (std::nothrow) LogEntry2();
    if (e && e->setContext(name))
        m_log.pushContext(e);
    else
        delete e;
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

bool Logger::addTagged(const char* tag, const char* value, bool doEcho) {
    StringBuffer t;
    normaliseTag(tag, t);
    if (t.getSize() == 0)
        return false;
    CritSecExitor lock(*this);
    LogEntry2* e = new (std::nothrow) LogEntry2();
    if (e && e->setTagValue(t.getString(), value))
        m_log.addEntry(e);
    else
        delete e;
    if (doEcho)
        echo("%s%s: %s\n", t.getString(), value);
    return true;
}

bool Logger::logData(const char* tag, const char* value) {
    return addTagged(tag, value ? value : "(NULL)", true);
}

bool Logger::logDataLong(const char* tag, int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", value);
    return addTagged(tag, buf, true);
}

bool Logger::logDataInt64(const char* tag, std::int64_t value) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
    return addTagged(tag, buf, false);
}

bool Logger::logHex(const char* tag, unsigned int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", value);
    return addTagged(tag, buf, false);
}

void Logger::logTickCount(const char* tag) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", platform::GetTickCount());
    addTagged(tag, buf, false);
}

bool Logger::saveLogXml(const char* path) {
    if (!path || !*path)
        return false;
    StringBuffer xml;
    getLogXml(xml);
    XString p;
    p.setFromAnsi(path);
    FILE* f = std::fopen(p.getUtf8(), "wb");
    if (!f)
        return false;
    std::size_t n = static_cast<std::size_t>(xml.getSize());
    bool ok = std::fwrite(xml.getString(), 1, n, f) == n;
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

} // namespace tessik
