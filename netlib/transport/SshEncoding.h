#pragma once
// The field encodings of SSH payloads (RFC 4251 section 5) and the names of
// the message numbers. Readers work on a payload with a byte cursor, move it
// past what they read and fail when the field does not fit.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/WordBignum.h"

namespace tessik {

void sshAppendByte(DataBuffer& out, unsigned char b);
void sshAppendUint32(DataBuffer& out, std::uint32_t v);
void sshAppendCString(DataBuffer& out, const char* text);
void sshAppendBytesString(DataBuffer& out, const void* bytes, std::uint32_t n);
// uint32 length, then the two's-complement bytes; null appends zero.
void sshAppendMpint(DataBuffer& out, const std::uint32_t* value);

bool sshReadByte(const DataBuffer& in, unsigned int& idx, unsigned char& out);
bool sshReadBoolean(const DataBuffer& in, unsigned int& idx, bool& out);
bool sshReadUint32(const DataBuffer& in, unsigned int& idx, std::uint32_t& out);
// Replaces out's text; at most 65000 bytes.
bool sshReadShortString(const DataBuffer& in, unsigned int& idx, StringBuffer& out);
// Appends to out; at most 99000000 bytes.
bool sshReadString(const DataBuffer& in, unsigned int& idx, DataBuffer& out, LogBase& log);
bool sshReadUtf8String(const DataBuffer& in, unsigned int& idx, XString& out);
// A new word bignum owned by the caller; a negative mpint is refused.
bool sshReadMpint(const DataBuffer& in, unsigned int& idx, WordBignum* out, LogBase& log);

// A log context opened only when verbose, closed when the scope ends.
class SshVerboseContext {
public:
    SshVerboseContext(LogBase& log, const char* name, bool on) : m_log(log), m_on(on) {
        if (m_on)
            m_log.enterContext(name, true);
    }
    ~SshVerboseContext() {
        if (m_on)
            m_log.leaveContext();
    }
    SshVerboseContext(const SshVerboseContext&) = delete;
    SshVerboseContext& operator=(const SshVerboseContext&) = delete;

private:
    LogBase& m_log;
    bool m_on;
};

// "KEXINIT", "CHANNEL_DATA" ..., else "Unknown(%d)" in one shared buffer.
const char* sshMessageName(int msgType);
// The recipient channel of messages 91 to 100, else -1.
std::int64_t sshChannelRecipient(const DataBuffer& payload);

} // namespace tessik
