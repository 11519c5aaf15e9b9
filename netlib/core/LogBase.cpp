#include "netlib/core/LogBase.h"

#include <cstdio>
#include <cstring>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "platform/Ticks.h"
#include "platform/WinErr.h"

namespace tessik {

LogBase::~LogBase() = default;

void LogBase::getLogXml(tessik::StringBuffer&) {}
void LogBase::getLogHtml(tessik::StringBuffer&) {}
void LogBase::getLogText(tessik::StringBuffer&) {}
bool LogBase::logError(const char*) {
    return true;
}
bool LogBase::logInfo(const char*) {
    return true;
}
bool LogBase::logXml(const char*) {
    return true;
}
bool LogBase::clearLog() {
    return true;
}
bool LogBase::enterContext(const char*, bool) {
    return true;
}
bool LogBase::leaveContext() {
    return true;
}
bool LogBase::logData(const char*, const char*) {
    return true;
}
bool LogBase::logDataLong(const char*, int) {
    return true;
}
bool LogBase::logDataInt64(const char*, std::int64_t) {
    return true;
}
bool LogBase::logHex(const char*, unsigned int) {
    return true;
}
void LogBase::logTickCount(const char*) {}
bool LogBase::saveLogXml(const char*) {
    return true;
}

void LogBase::logDataHex(const char* tag, const void* bytes, unsigned int count) {
    tessik::StringBuffer sb;
    if (bytes && count)
        sb.appendHexGrouped(bytes, static_cast<int>(count));
    logData(tag, sb.getString());
}

void LogBase::logBinaryData(const char* tag, const void* bytes, unsigned int count) {
    if (!bytes || count == 0) {
        logError("No binary data to log");
        return;
    }
    logDataHex(tag, bytes, count);
}

void LogBase::logDataQuotedPrintable(const char* tag, const char* text) {
    tessik::StringBuffer sb;
    if (text)
        encodeBytesToSb("qp", text, static_cast<unsigned>(std::strlen(text)), sb);
    logData(tag, sb.getString());
}

void LogBase::logElapsedMs(const char* tag, DWORD startTick) {
    DWORD now = platform::GetTickCount();
    if (now < startTick || now - startTick >= 900000000u)
        return;
    char buf[64];
    std::snprintf(buf, sizeof buf, "Elapsed time: %d millisec", static_cast<int>(now - startTick));
    logData(tag, buf);
}

void LogBase::logLastError() {
    DWORD code = platform::GetLastError();
    tessik::StringBuffer sb;
    sb.appendWindowsErrorText(code);
    logData("WindowsError", sb.getString());
    logHex("WindowsErrorCode", code);
}

void LogBase::logWindowsError(DWORD code) {
    if (code == 0)
        return;
    tessik::StringBuffer sb;
    sb.appendWindowsErrorText(code);
    logData("WindowsError", sb.getString());
}

LogNull::~LogNull() = default;

} // namespace tessik
