#pragma once
// The line-oriented record of an SSH transport's traffic: two text buffers,
// each with its own switch. "TRAN> " lines are packets sent, "TRAN< "
// packets received, "TRAN* " notes; a run of CHANNEL_DATA packets shows as
// one line ending in "CHANNEL_DATA...".
#include "netlib/core/StringBuffer.h"

namespace tessik {

inline constexpr const char* kTraceSent = "TRAN> ";
inline constexpr const char* kTraceReceived = "TRAN< ";
inline constexpr const char* kTraceNote = "TRAN* ";
inline constexpr const char* kTraceEol = "\r\n";

class SshTranscript {
public:
    static constexpr int kBuffers = 2;
    void enable(int which, bool on) { m_enabled[which] = on; }
    StringBuffer& buffer(int which) { return m_text[which]; }
    void traceText(const char* prefix, const char* text, const char* suffix);
    void traceInt(const char* prefix, long long number, const char* suffix);
    // prefix + text + "\r\n" without the collapsing.
    void traceLine(const char* prefix, const char* text);
    bool anyEnabled() const { return m_enabled[0] || m_enabled[1]; }

private:
    StringBuffer m_text[kBuffers];
    bool m_enabled[kBuffers] = {false, false};
};

} // namespace tessik
