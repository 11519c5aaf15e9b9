#pragma once
// The client side of the SSH-2 transport (RFC 4253, RFC 4254 channels) over
// one TCP connection: packets through the two packet engines, the read loop
// that answers housekeeping messages itself, parks messages nobody waits for
// and runs key re-exchanges the server starts, and the data of one open
// channel with its window upkeep.
//
// Connecting, the identification strings, authentication and opening
// channels are not done here: whoever creates a transport does them (the
// tests have their own way in) and sets the versions before the first key
// exchange.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/transport/SshKeyExchange.h"
#include "netlib/transport/SshPacketCodec.h"
#include "netlib/transport/SshTranscript.h"
#include "netlib/transport/TessikSocket.h"

namespace tessik {

// One open channel, as whoever opened it filled it in.
struct SshChannel {
    std::uint32_t clientChannelNum = 0;
    std::uint32_t initialWindow = 0;
    std::uint32_t serverChannelNum = 0;
    std::uint32_t localWindow = 0;
    std::uint32_t serverWindow = 0;
    bool eofReceived = false;
    bool closeReceived = false;
    bool closeSent = false;
    bool exitStatusReceived = false;
    std::uint32_t exitStatus = 0;
};

// Events and status of one read. status holds the socket's four flags.
struct SshReadOutcome {
    bool eof = false;
    bool close = false;
    bool disconnect = false;
    bool conditionMet = false;
    int msgType = 0;
    SocketFlags status;
    void clear() { *this = SshReadOutcome(); }
};

class SshTransport {
public:
    SshTransport();
    ~SshTransport();
    SshTransport(const SshTransport&) = delete;
    SshTransport& operator=(const SshTransport&) = delete;

    TessikSocket& getSocket() { return m_socket; }
    bool waitForData(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                     bool* aborted, bool* timedOut, LogBase& log);

    void setHeartbeatMs(unsigned int ms) { m_heartbeatMs = ms; }
    unsigned int getHeartbeatMs() const { return m_heartbeatMs; }
    SshTranscript& transcript() { return m_transcript; }
    SshKeyExchange& kex() { return m_kex; }
    const SshPacketWriter& outgoing() const { return m_out; }
    const SshPacketReader& incoming() const { return m_in; }
    const StringBuffer& hostKeyFingerprint() const { return m_kex.hostKeyFingerprint; }
    std::uint32_t lastDisconnectReason() const { return m_disconnectReason; }
    const StringBuffer& lastDisconnectText() const { return m_disconnectText; }
    XString& banner() { return m_banner; }
    int queuedCount() const { return m_queue.getCount(); }
    // Whether a message for this channel waits in the queue.
    bool hasQueuedChannelData(std::uint32_t clientChannelNum) const;

    // Packets.
    bool sendMessage(const char* name, const DataBuffer& payload, ProgressMonitor* pm, LogBase& log, bool verbose);
    bool readPacket(DataBuffer& payloadOut, unsigned int idleTimeoutMs, ProgressMonitor* pm, LogBase& log,
                    bool verbose);
    bool readUntilCondition(int condition, unsigned int idleTimeoutMs, unsigned int totalTimeoutMs, SshChannel* channel,
                            DataBuffer& payloadOut, SshReadOutcome& outcome, ProgressMonitor* pm, LogBase& log,
                            bool verbose);
    void queuePayload(const DataBuffer& payload, LogBase& log, bool verbose, int calledFrom);

    // Single transport messages.
    bool sendDisconnect(ProgressMonitor* pm, LogBase& log, bool verbose);
    bool sendIgnore(const DataBuffer& data, ProgressMonitor* pm, LogBase& log, bool verbose);
    bool sendChannelFailure(std::uint32_t serverChannelNum, ProgressMonitor* pm, LogBase& log, bool verbose);

    // Key exchange: sendKexInit, then read with kSshUntilNewKeys.
    bool sendKexInit(ProgressMonitor* pm, LogBase& log, bool verbose);

    // Channel data.
    bool takeQueuedChannelData(SshChannel& channel, bool onlyExtended, bool skipExtended, DataBuffer& dataOut,
                               DataBuffer& extendedOut, bool& eofOut, bool& closeOut, ProgressMonitor* pm, LogBase& log,
                               bool verbose);
    bool readChannelData(SshChannel& channel, unsigned int totalTimeoutMs, bool checkQueue, bool onlyExtendedData,
                         bool skipExtendedData, unsigned int idleTimeoutMs, DataBuffer& dataOut,
                         DataBuffer& extendedOut, SshReadOutcome& outcome, ProgressMonitor* pm, LogBase& log,
                         bool verbose, int calledFrom, bool readOneRaw);
    bool readChannelDataToClose(SshChannel& channel, DataBuffer& dataOut, DataBuffer& extendedOut, ProgressMonitor* pm,
                                LogBase& log, bool& disconnectOut, bool verbose);
    bool sendChannelData(SshChannel& channel, const DataBuffer& data, unsigned int maxPacketSize, ProgressMonitor* pm,
                         LogBase& log, bool verbose);
    bool sendWindowAdjust(SshChannel& channel, std::uint32_t bytesToAdd, ProgressMonitor* pm, LogBase& log,
                          bool verbose);
    bool sendChannelEof(SshChannel& channel, ProgressMonitor* pm, LogBase& log, bool verbose);
    bool sendChannelClose(SshChannel& channel, ProgressMonitor* pm, LogBase& log, bool verbose);
    bool closeChannel(SshChannel& channel, bool& disconnectOut, ProgressMonitor* pm, LogBase& log, bool verbose);

private:
    enum class Handled { kContinue, kClaimed, kReturnTrue, kFail };
    struct ReadContext {
        int condition;
        SshChannel* channel;
        DataBuffer& payloadOut;
        SshReadOutcome& outcome;
        ProgressMonitor* pm;
        LogBase& log;
        bool verbose;
    };
    Handled handleMessage(ReadContext& c, const DataBuffer& payload);
    Handled claim(ReadContext& c, const DataBuffer& payload, int msgType);
    Handled handleChannelClose(ReadContext& c, const DataBuffer& payload);
    Handled handleChannelRequest(ReadContext& c, const DataBuffer& payload);
    Handled handleWindowAdjust(ReadContext& c, const DataBuffer& payload);
    Handled handleKexInit(ReadContext& c, const DataBuffer& payload);
    Handled handleKexReply(ReadContext& c, const DataBuffer& payload, int msgType);
    Handled handleNewKeys(ReadContext& c, const DataBuffer& payload);
    bool sendKexPayloads(ReadContext& c);
    // Between our KEXINIT (or the server's) and the server's NEWKEYS.
    bool keyExchangeRunning(int condition) const;
    bool channelMatches(const SshChannel* channel, const DataBuffer& payload) const;
    bool windowUpkeep(SshChannel& channel, std::uint32_t consumed, ProgressMonitor* pm, LogBase& log, bool verbose);
    void failPacketRead(bool partial);

    TessikSocket m_socket;
    unsigned int m_heartbeatMs;
    SshTranscript m_transcript;
    SshPacketWriter m_out;
    SshPacketReader m_in;
    SshKeyExchange m_kex;
    SocketFlags m_readStatus;
    ExtPtrArray m_queue;
    bool m_reExchange;
    std::uint32_t m_disconnectReason;
    StringBuffer m_disconnectText;
    XString m_banner;
};

// Parsers of received transport and channel messages.
bool parseDisconnect(const DataBuffer& payload, std::uint32_t& reason, StringBuffer& description, LogBase& log);
bool parseBanner(const DataBuffer& payload, XString& message, LogBase& log);
bool parseGlobalRequest(const DataBuffer& payload, XString& name, bool& wantReply, LogBase& log);
bool parseChannelData(const DataBuffer& payload, std::uint32_t& recipient, DataBuffer& out, LogBase& log);
bool parseExtendedData(const DataBuffer& payload, std::uint32_t& recipient, std::uint32_t& typeCode, DataBuffer& out,
                       LogBase& log);
bool parseChannelRequest(const DataBuffer& payload, std::uint32_t& recipient, StringBuffer& requestType,
                         unsigned int& idx);
bool parseExitStatus(const DataBuffer& payload, std::uint32_t& recipient, bool& wantReply, std::uint32_t& status);

} // namespace tessik
