#include "netlib/transport/SshTranscript.h"

#include <cstring>
#include <string>

namespace tessik {

namespace {
constexpr const char* kDataName = "CHANNEL_DATA";
constexpr const char* kDataLine = "CHANNEL_DATA\r\n";
constexpr const char* kDataRun = "CHANNEL_DATA...\r\n";
constexpr const char* kRunTail = "...\r\n";
constexpr int kEolLength = 2;
} // namespace

void SshTranscript::traceText(const char* prefix, const char* text, const char* suffix) {
    if (prefix == nullptr || text == nullptr || suffix == nullptr)
        return;
    const bool data = strncasecmp(text, kDataName, std::strlen(kDataName)) == 0;
    for (int i = 0; i < kBuffers; ++i) {
        if (!m_enabled[i])
            continue;
        StringBuffer& sb = m_text[i];
        if (data && sb.endsWith(kDataLine)) {
            sb.shorten(kEolLength);
            sb.append(kRunTail);
        } else if (!(data && sb.endsWith(kDataRun))) {
            sb.append(prefix);
            sb.append(text);
            sb.append(suffix);
        }
    }
}

void SshTranscript::traceInt(const char* prefix, long long number, const char* suffix) {
    const std::string text = std::to_string(number);
    for (int i = 0; i < kBuffers; ++i) {
        if (!m_enabled[i])
            continue;
        m_text[i].append(prefix);
        m_text[i].append(text.c_str());
        m_text[i].append(suffix);
    }
}

void SshTranscript::traceLine(const char* prefix, const char* text) {
    for (int i = 0; i < kBuffers; ++i) {
        if (!m_enabled[i])
            continue;
        m_text[i].append(prefix);
        m_text[i].append(text);
        m_text[i].append(kTraceEol);
    }
}

} // namespace tessik
