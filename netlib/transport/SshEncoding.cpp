#include "netlib/transport/SshEncoding.h"

#include <cstdio>
#include <cstring>

#include "netlib/transport/SshConstants.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

struct MessageName {
    int number;
    const char* name;
};

constexpr MessageName kMessageNames[] = {
    {kSshMsgDisconnect, "DISCONNECT"},
    {kSshMsgIgnore, "IGNORE"},
    {kSshMsgUnimplemented, "UNIMPLEMENTED"},
    {kSshMsgDebug, "DEBUG"},
    {kSshMsgServiceRequest, "SERVICE_REQUEST"},
    {kSshMsgServiceAccept, "SERVICE_ACCEPT"},
    {kSshMsgKexInit, "KEXINIT"},
    {kSshMsgNewKeys, "NEWKEYS"},
    {kSshMsgKexDhInit, "KEXDH_INIT"},
    {kSshMsgKexDhReply, "KEXDH_REPLY"},
    {kSshMsgKexDhGexInit, "KEX_DH_GEX_INIT"},
    {kSshMsgKexDhGexReply, "KEX_DH_GEX_REPLY"},
    {kSshMsgUserauthRequest, "USERAUTH_REQUEST"},
    {kSshMsgUserauthFailure, "USERAUTH_FAILURE"},
    {kSshMsgUserauthSuccess, "USERAUTH_SUCCESS"},
    {kSshMsgUserauthBanner, "USERAUTH_BANNER"},
    {kSshMsgUserauthPkOk, "USERAUTH_PK_OK"},
    {kSshMsgUserauthInfoResponse, "USERAUTH_INFO_RESPONSE"},
    {kSshMsgGlobalRequest, "GLOBAL_REQUEST"},
    {kSshMsgRequestSuccess, "REQUEST_SUCCESS"},
    {kSshMsgRequestFailure, "REQUEST_FAILURE"},
    {kSshMsgChannelOpen, "CHANNEL_OPEN"},
    {kSshMsgChannelOpenConfirmation, "CHANNEL_OPEN_CONFIRMATION"},
    {kSshMsgChannelOpenFailure, "CHANNEL_OPEN_FAILURE"},
    {kSshMsgChannelWindowAdjust, "CHANNEL_WINDOW_ADJUST"},
    {kSshMsgChannelData, "CHANNEL_DATA"},
    {kSshMsgChannelExtendedData, "CHANNEL_EXTENDED_DATA"},
    {kSshMsgChannelEof, "CHANNEL_EOF"},
    {kSshMsgChannelClose, "CHANNEL_CLOSE"},
    {kSshMsgChannelRequest, "CHANNEL_REQUEST"},
    {kSshMsgChannelSuccess, "CHANNEL_SUCCESS"},
    {kSshMsgChannelFailure, "CHANNEL_FAILURE"},
};

// Reads the uint32 length of a string and checks that the bytes fit.
bool stringSpan(const DataBuffer& in, unsigned int& idx, std::uint32_t limit, std::uint32_t& length) {
    const unsigned int size = in.getSize();
    if (idx >= size || size - idx < 4)
        return false;
    length = platform::LoadBe32(in.getData() + idx);
    if (length > limit || length > size - idx - 4)
        return false;
    idx += 4;
    return true;
}

} // namespace

void sshAppendByte(DataBuffer& out, unsigned char b) {
    out.appendChar(b);
}

void sshAppendUint32(DataBuffer& out, std::uint32_t v) {
    unsigned char bytes[4];
    platform::StoreBe32(bytes, v);
    out.append(bytes, sizeof bytes);
}

void sshAppendBytesString(DataBuffer& out, const void* bytes, std::uint32_t n) {
    sshAppendUint32(out, n);
    if (n)
        out.append(bytes, n);
}

void sshAppendCString(DataBuffer& out, const char* text) {
    const char* t = text ? text : "";
    sshAppendBytesString(out, t, static_cast<std::uint32_t>(std::strlen(t)));
}

void sshAppendMpint(DataBuffer& out, const std::uint32_t* value) {
    DataBuffer body;
    if (value)
        wordBignumToMpintBytes(value, body);
    sshAppendBytesString(out, body.getData(), body.getSize());
}

bool sshReadByte(const DataBuffer& in, unsigned int& idx, unsigned char& out) {
    if (idx >= in.getSize())
        return false;
    out = in.getData()[idx++];
    return true;
}

bool sshReadBoolean(const DataBuffer& in, unsigned int& idx, bool& out) {
    unsigned char b = 0;
    if (!sshReadByte(in, idx, b))
        return false;
    out = b != 0;
    return true;
}

bool sshReadUint32(const DataBuffer& in, unsigned int& idx, std::uint32_t& out) {
    if (idx >= in.getSize() || in.getSize() - idx < 4)
        return false;
    out = platform::LoadBe32(in.getData() + idx);
    idx += 4;
    return true;
}

bool sshReadShortString(const DataBuffer& in, unsigned int& idx, StringBuffer& out) {
    std::uint32_t length = 0;
    unsigned int at = idx;
    if (!stringSpan(in, at, kSshMaxShortString, length))
        return false;
    out.clear();
    out.appendBytes(in.getData() + at, static_cast<int>(length));
    idx = at + length;
    return true;
}

bool sshReadString(const DataBuffer& in, unsigned int& idx, DataBuffer& out, LogBase& log) {
    const unsigned int size = in.getSize();
    if (idx >= size) {
        log.logError("Error 1 parsing binary string");
        return false;
    }
    if (size - idx < 4) {
        log.logError("Error 2 parsing binary string");
        return false;
    }
    const std::uint32_t length = platform::LoadBe32(in.getData() + idx);
    if (length > kSshMaxString) {
        log.logError("Error 3 parsing binary string");
        return false;
    }
    if (length > size - idx - 4) {
        log.logError("Error 4 parsing binary string");
        log.logDataLong("sz", static_cast<int>(size));
        log.logDataInt64("sLen", length);
        log.logDataLong("idx", static_cast<int>(idx));
        return false;
    }
    if (length)
        out.append(in.getData() + idx + 4, length);
    idx += 4 + length;
    return true;
}

bool sshReadUtf8String(const DataBuffer& in, unsigned int& idx, XString& out) {
    StringBuffer text;
    if (!sshReadShortString(in, idx, text))
        return false;
    out.setFromUtf8Bytes(text.getString(), static_cast<unsigned int>(text.getSize()));
    return true;
}

bool sshReadMpint(const DataBuffer& in, unsigned int& idx, WordBignum* out, LogBase& log) {
    DataBuffer bytes;
    if (!sshReadString(in, idx, bytes, log))
        return false;
    // Two's complement (RFC 4251): a top bit set is a negative number, which
    // no prime, generator or public value is; OpenSSH refuses one too.
    constexpr unsigned char kSignBit = 0x80;
    if (bytes.getSize() != 0 && (bytes.getData()[0] & kSignBit) != 0) {
        log.logError(kSshMsgNegativeMpint);
        return false;
    }
    static const unsigned char kZero = 0;
    *out = bytes.getSize() ? wordBignumFromBytes(bytes.getData(), bytes.getSize()) : wordBignumFromBytes(&kZero, 1);
    return true;
}

const char* sshMessageName(int msgType) {
    for (const MessageName& m : kMessageNames) {
        if (m.number == msgType)
            return m.name;
    }
    // One per thread: sessions on other threads log names of their own.
    thread_local char unknown[32];
    std::snprintf(unknown, sizeof unknown, "Unknown(%d)", msgType);
    return unknown;
}

std::int64_t sshChannelRecipient(const DataBuffer& payload) {
    if (payload.getSize() < 5)
        return -1;
    const int type = payload.getData()[0];
    if (type < kSshMsgChannelOpenConfirmation || type > kSshMsgChannelFailure)
        return -1;
    return platform::LoadBe32(payload.getData() + 1);
}

} // namespace tessik
