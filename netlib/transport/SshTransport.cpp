#include "netlib/transport/SshTransport.h"

#include <strings.h>

#include <memory>

#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr const char* kAbortedText = "Aborted by application AbortCheck callback.";

// Keeps socket transfers from counting as progress while they run.
class NoProgressScope {
public:
    explicit NoProgressScope(ProgressMonitor* pm) : m_pm(pm) {
        if (m_pm) {
            m_saved = m_pm->getPercentOff();
            m_pm->setPercentOff(true);
        }
    }
    ~NoProgressScope() {
        if (m_pm)
            m_pm->setPercentOff(m_saved);
    }
    NoProgressScope(const NoProgressScope&) = delete;
    NoProgressScope& operator=(const NoProgressScope&) = delete;

private:
    ProgressMonitor* m_pm;
    bool m_saved = false;
};

bool aborted(ProgressMonitor* pm, unsigned int heartbeatMs) {
    return pm && pm->abortCheck(heartbeatMs, 0);
}

} // namespace

SshTransport::SshTransport() : m_heartbeatMs(0), m_reExchange(false), m_disconnectReason(0) {
    m_queue.setOwnsObjects(true);
    m_kex.setTranscript(&m_transcript);
}

SshTransport::~SshTransport() = default;

bool SshTransport::waitForData(unsigned int heartbeatMs, unsigned int timeoutMs, ProgressMonitor* pm, bool* socketError,
                               bool* abortedOut, bool* timedOut, LogBase& log) {
    return m_socket.waitReadable(heartbeatMs, timeoutMs, pm, socketError, abortedOut, timedOut, log);
}

// ------------------------------------------------------------------ packets

bool SshTransport::sendMessage(const char* name, const DataBuffer& payload, ProgressMonitor* pm, LogBase& log,
                               bool verbose) {
    m_transcript.traceText(kTraceSent, name, kTraceEol);
    SshVerboseContext context(log, "sendMessage", verbose);
    if (verbose)
        log.logData("msgName", name);

    DataBuffer wire;
    if (!m_out.seal(payload, wire, pm, log, verbose)) {
        m_transcript.traceText(kTraceNote, "Failed to encrypt.", kTraceEol);
        return false;
    }
    bool ok;
    {
        NoProgressScope scope(pm);
        ok = m_socket.sendDb(wire, kSshSendChunk, m_heartbeatMs, log, pm);
    }
    if (!ok)
        m_transcript.traceText(kTraceNote, "Failed to send.", kTraceEol);
    return ok;
}

void SshTransport::failPacketRead(bool partial) {
    if (partial) {
        m_socket.closeSocket();
        m_readStatus.closedByPeer = true;
    }
}

bool SshTransport::readPacket(DataBuffer& payloadOut, unsigned int idleTimeoutMs, ProgressMonitor* pm, LogBase& log,
                              bool verbose) {
    m_readStatus.clear();
    if (m_in.streamBroken()) {
        m_readStatus.closedByPeer = true;
        return false;
    }
    while (true) {
        const SshPacketReader::State stage = m_in.state();
        const unsigned int want = m_in.bytesWanted();
        DataBuffer bytes;
        bool ok;
        {
            NoProgressScope scope(pm);
            const unsigned int saved = m_socket.getReadTimeoutMs();
            const bool firstRead = stage == SshPacketReader::State::kFirstBlock && idleTimeoutMs != 0;
            if (firstRead)
                m_socket.setReadTimeoutMs(idleTimeoutMs);
            ok = m_socket.readNToDataBuffer(want, bytes, m_heartbeatMs, log, pm, &m_readStatus.timedOut,
                                            &m_readStatus.aborted, &m_readStatus.socketError,
                                            &m_readStatus.closedByPeer);
            if (firstRead)
                m_socket.setReadTimeoutMs(saved);
        }
        if (!ok) {
            if (stage == SshPacketReader::State::kFirstBlock) {
                failPacketRead(bytes.getSize() != 0 || !m_in.atPacketStart());
                if (!m_readStatus.timedOut)
                    log.logError("Failed to read data on SSH connection.");
                if (m_readStatus.aborted)
                    log.logError(kAbortedText);
            } else if (stage == SshPacketReader::State::kRest) {
                failPacketRead(true);
                if (m_readStatus.aborted)
                    log.logError(kAbortedText);
                log.logError("Failed to read more data on SSH connection.");
            } else {
                const bool sha1 = m_in.macId == kSshMacSha1;
                m_transcript.traceText(kTraceNote, sha1 ? "Failed to read SHA1 MAC" : "Failed to read MD5 MAC",
                                       kTraceEol);
                failPacketRead(true);
                log.logError(sha1 ? "Failed to read HMAC_SHA1" : "Failed to read HMAC_MD5");
                if (m_readStatus.aborted)
                    log.logError(kAbortedText);
            }
            return false;
        }
        unsigned int consumed = 0;
        const SshPacketReader::Step step = m_in.feed(bytes.getData(), bytes.getSize(), consumed, log, verbose);
        if (verbose && stage == SshPacketReader::State::kFirstBlock && step != SshPacketReader::Step::kFailed) {
            StringBuffer hex;
            m_in.firstBlockClear().encodeHexToSb(hex);
            hex.toLowerCase();
            StringBuffer note;
            note.append("Packet start: ");
            note.append(hex.getString());
            m_transcript.traceLine(kTraceNote, note.getString());
            m_transcript.traceInt("TRAN* packetLen: ", m_in.packetLength(), kTraceEol);
        }
        if (step == SshPacketReader::Step::kFailed) {
            if (m_in.fault() == SshPacketReader::Fault::kTooSmall)
                m_transcript.traceText(kTraceNote, "ERROR: Packet smaller than minimum size.", kTraceEol);
            failPacketRead(m_in.streamBroken());
            return false;
        }
        if (step == SshPacketReader::Step::kPacket) {
            payloadOut.appendDb(m_in.payload());
            m_in.payload().clear();
            return true;
        }
    }
}

void SshTransport::queuePayload(const DataBuffer& payload, LogBase& log, bool verbose, int calledFrom) {
    if (verbose) {
        log.logInfo("Queuing payload...");
        log.logData("queuedMsgType", sshMessageName(payload.getSize() ? payload.getData()[0] : 999999));
        log.logDataLong("calledFrom", calledFrom);
        m_transcript.traceText(kTraceNote, "queuing payload...", kTraceEol);
    }
    auto* copy = new DataBuffer();
    copy->appendDb(payload);
    if (!m_queue.appendPtr(copy))
        delete copy;
}

// -------------------------------------------------------- single messages

bool SshTransport::sendDisconnect(ProgressMonitor* pm, LogBase& log, bool verbose) {
    DataBuffer p;
    p.appendChar(kSshMsgDisconnect);
    sshAppendUint32(p, kSshDisconnectByApplication);
    sshAppendCString(p, "disconnect by application");
    sshAppendCString(p, "en");
    if (!sendMessage("DISCONNECT", p, pm, log, verbose)) {
        log.logError("Error sending disconnect");
        return false;
    }
    log.logInfo("Sent disconnect");
    return true;
}

bool SshTransport::sendIgnore(const DataBuffer& data, ProgressMonitor* pm, LogBase& log, bool verbose) {
    if (verbose)
        log.logInfo("Sending IGNORE message.");
    DataBuffer p;
    p.appendChar(kSshMsgIgnore);
    sshAppendBytesString(p, data.getData(), data.getSize());
    if (!sendMessage("IGNORE", p, pm, log, verbose)) {
        log.logError("Error sending IGNORE message");
        return false;
    }
    return true;
}

bool SshTransport::sendChannelFailure(std::uint32_t serverChannelNum, ProgressMonitor* pm, LogBase& log, bool verbose) {
    DataBuffer p;
    p.appendChar(kSshMsgChannelFailure);
    sshAppendUint32(p, serverChannelNum);
    if (!sendMessage("CHANNEL_FAILURE", p, pm, log, verbose)) {
        log.logError("Error sending CHANNEL_FAILURE message");
        return false;
    }
    return true;
}

bool SshTransport::sendKexInit(ProgressMonitor* pm, LogBase& log, bool verbose) {
    DataBuffer p;
    m_kex.buildKexInit(p);
    if (!sendMessage("KEXINIT", p, pm, log, verbose)) {
        log.logError("Error sending KEXINIT message to server");
        return false;
    }
    return true;
}

bool parseDisconnect(const DataBuffer& payload, std::uint32_t& reason, StringBuffer& description, LogBase& log) {
    unsigned int idx = 0;
    unsigned char type = 0;
    if (!sshReadByte(payload, idx, type) || type != kSshMsgDisconnect) {
        log.logError("Error parsing disconnect (1)");
        return false;
    }
    if (!sshReadUint32(payload, idx, reason)) {
        log.logError("Error parsing disconnect (2)");
        return false;
    }
    if (!sshReadShortString(payload, idx, description)) {
        log.logError("Error parsing disconnect (3)");
        return false;
    }
    return true;
}

bool parseBanner(const DataBuffer& payload, XString& message, LogBase& log) {
    unsigned int idx = 0;
    unsigned char type = 0;
    XString language;
    if (!sshReadByte(payload, idx, type) || type != kSshMsgUserauthBanner) {
        log.logError("Error parsing banner message (1)");
        return false;
    }
    if (!sshReadUtf8String(payload, idx, message)) {
        log.logError("Error parsing banner message (2)");
        return false;
    }
    if (!sshReadUtf8String(payload, idx, language)) {
        log.logError("Error parsing banner message (3)");
        return false;
    }
    return true;
}

bool parseGlobalRequest(const DataBuffer& payload, XString& name, bool& wantReply, LogBase& log) {
    unsigned int idx = 0;
    unsigned char type = 0;
    if (!sshReadByte(payload, idx, type) || type != kSshMsgGlobalRequest) {
        log.logError("Error parsing global request (1)");
        return false;
    }
    if (!sshReadUtf8String(payload, idx, name)) {
        log.logError("Error parsing global request (2)");
        return false;
    }
    if (!sshReadBoolean(payload, idx, wantReply)) {
        log.logError("Error parsing global request (3)");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- read loop

bool SshTransport::channelMatches(const SshChannel* channel, const DataBuffer& payload) const {
    return channel && sshChannelRecipient(payload) == static_cast<std::int64_t>(channel->clientChannelNum);
}

bool SshTransport::keyExchangeRunning(int condition) const {
    return condition == kSshUntilNewKeys || m_reExchange || m_kex.phase() != SshKeyExchange::Phase::kIdle;
}

SshTransport::Handled SshTransport::claim(ReadContext& c, const DataBuffer& payload, int msgType) {
    c.payloadOut.appendDb(payload);
    c.outcome.msgType = msgType;
    c.outcome.conditionMet = true;
    return Handled::kClaimed;
}

bool SshTransport::readUntilCondition(int condition, unsigned int idleTimeoutMs, unsigned int totalTimeoutMs,
                                      SshChannel* channel, DataBuffer& payloadOut, SshReadOutcome& outcome,
                                      ProgressMonitor* pm, LogBase& log, bool verbose) {
    outcome.clear();
    payloadOut.clear();
    ReadContext c{condition, channel, payloadOut, outcome, pm, log, verbose};
    DWORD start = platform::GetTickCount();
    DataBuffer packet;
    while (true) {
        packet.clear();
        if (totalTimeoutMs != 0) {
            const DWORD now = platform::GetTickCount();
            if (now < start)
                start = now;
            if (now - start > totalTimeoutMs) {
                log.logError(kSshMsgReadTimeout);
                log.logDataLong("ReadTimeoutMs", static_cast<int>(totalTimeoutMs));
                outcome.status.timedOut = true;
                return false;
            }
        }
        if (!readPacket(packet, idleTimeoutMs, pm, log, verbose)) {
            outcome.status = m_readStatus;
            if (!m_readStatus.timedOut && !m_readStatus.aborted)
                log.logError("Failed to read packet from SSH server.");
            return false;
        }
        if (aborted(pm, m_heartbeatMs))
            return false;
        if (packet.getSize() == 0) {
            log.logError("Payload is empty!");
            return false;
        }
        const int msgType = packet.getData()[0];
        m_transcript.traceText(kTraceReceived, sshMessageName(msgType), kTraceEol);
        if (verbose)
            log.logData("mType", sshMessageName(msgType));
        switch (handleMessage(c, packet)) {
        case Handled::kFail: return false;
        case Handled::kReturnTrue: return true;
        case Handled::kClaimed:
            if (!m_reExchange)
                return true;
            break;
        case Handled::kContinue: break;
        }
        if (aborted(pm, m_heartbeatMs))
            return false;
        if (condition == kSshUntilAnyMessage && !m_reExchange && !outcome.conditionMet) {
            payloadOut.appendDb(packet);
            outcome.msgType = msgType;
            outcome.conditionMet = true;
            return true;
        }
    }
}

SshTransport::Handled SshTransport::handleMessage(ReadContext& c, const DataBuffer& payload) {
    const int msgType = payload.getData()[0];
    const bool match = channelMatches(c.channel, payload);
    const int cond = c.condition;
    LogBase& log = c.log;
    switch (msgType) {
    case kSshMsgChannelData:
        if (c.channel && (cond == kSshUntilChannelData || cond == kSshUntilAnyMessage) && match) {
            if (c.verbose) {
                log.logDataLong("payloadMsgType", kSshMsgChannelData);
                log.logDataLong("payloadLen", static_cast<int>(payload.getSize()));
                if (payload.getSize() < kSshHexLogLimit)
                    log.logDataHex("payload", payload.getData(), payload.getSize());
                m_transcript.traceInt("TRAN* payload size: ", payload.getSize(), kTraceEol);
            }
            return claim(c, payload, msgType);
        }
        queuePayload(payload, log, c.verbose, c.channel && !match ? 2 : 1);
        return Handled::kContinue;
    case kSshMsgChannelExtendedData:
        if (c.channel && match &&
            (cond == kSshUntilChannelData || cond == kSshUntilExtendedData || cond == kSshUntilAnyMessage)) {
            if (c.verbose)
                log.logInfo("Returning extended data...(1)");
            return claim(c, payload, msgType);
        }
        if (c.channel && !match) {
            if (c.verbose)
                log.logInfo("Queueing extended data...(2)");
            queuePayload(payload, log, c.verbose, 4);
        } else {
            if (c.verbose)
                log.logInfo("Queueing extended data...(1)");
            queuePayload(payload, log, c.verbose, 3);
        }
        return Handled::kContinue;
    case kSshMsgServiceAccept:
        if (cond == kSshUntilServiceAccept)
            return claim(c, payload, msgType);
        log.logInfo("Received unexpected SERVICE_ACCEPT message.");
        return Handled::kContinue;
    case kSshMsgUnimplemented:
        log.logInfo("[SSH] Received UNIMPLEMENTED message");
        // A server that cannot take our key exchange message will send
        // nothing more for it: waiting out the idle time-out gains nothing.
        if (keyExchangeRunning(cond)) {
            log.logError(kSshMsgKexUnimplemented);
            log.logDataLong("kexAlgorithm", m_kex.kexAlg);
            return Handled::kFail;
        }
        if (cond == kSshUntilServiceAccept) {
            claim(c, payload, msgType);
            return m_reExchange ? Handled::kContinue : Handled::kFail;
        }
        return Handled::kContinue;
    case kSshMsgIgnore: return Handled::kContinue;
    case kSshMsgDebug: log.logInfo("[SSH] Received DEBUG message"); return Handled::kContinue;
    case kSshMsgChannelOpenConfirmation:
    case kSshMsgChannelOpenFailure:
        if (!c.channel || !match) {
            queuePayload(payload, log, c.verbose, msgType == kSshMsgChannelOpenConfirmation ? 5 : 6);
            return Handled::kContinue;
        }
        if (cond == kSshUntilOpenResult)
            return claim(c, payload, msgType);
        return Handled::kContinue;
    case kSshMsgUserauthPkOk:
        if (cond == kSshUntilUserauth || cond == kSshUntilUserauth2)
            return claim(c, payload, msgType);
        log.logError("Received unexpected SSH2_MSG_USERAUTH_PK_OK message");
        return Handled::kContinue;
    case kSshMsgUserauthFailure:
    case kSshMsgUserauthSuccess:
        if (cond == kSshUntilUserauth || cond == kSshUntilUserauth2)
            return claim(c, payload, msgType);
        queuePayload(payload, log, c.verbose, 15);
        return Handled::kContinue;
    case kSshMsgChannelClose: return handleChannelClose(c, payload);
    case kSshMsgChannelEof:
        if (!c.channel) {
            queuePayload(payload, log, c.verbose, 10);
            return Handled::kContinue;
        }
        if (!match) {
            queuePayload(payload, log, c.verbose, 9);
            return Handled::kContinue;
        }
        c.channel->eofReceived = true;
        c.outcome.eof = true;
        if (cond == kSshUntilChannelData || cond == kSshUntilExtendedData || cond == kSshUntilAnyMessage) {
            if (m_reExchange)
                log.logInfo("Waiting for re-key to complete.");
            return claim(c, payload, msgType);
        }
        return Handled::kContinue;
    case kSshMsgChannelRequest: return handleChannelRequest(c, payload);
    case kSshMsgChannelSuccess:
        if (!c.channel || !match) {
            log.logDataInt64("requestedChannelNum", sshChannelRecipient(payload));
            if (c.channel)
                log.logDataInt64("clientChannelNum", c.channel->clientChannelNum);
            log.logDataLong("payloadLen", static_cast<int>(payload.getSize()));
            log.logDataHex("payloadBytes", payload.getData(),
                           payload.getSize() < kSshSuccessHexLimit ? payload.getSize() : kSshSuccessHexLimit);
            queuePayload(payload, log, c.verbose, 12);
            return Handled::kContinue;
        }
        return cond == kSshUntilRequestResult ? claim(c, payload, msgType) : Handled::kContinue;
    case kSshMsgChannelFailure:
        if (!c.channel || !match) {
            queuePayload(payload, log, c.verbose, 13);
            return Handled::kContinue;
        }
        return cond == kSshUntilRequestResult ? claim(c, payload, msgType) : Handled::kContinue;
    case kSshMsgChannelWindowAdjust: return handleWindowAdjust(c, payload);
    case kSshMsgDisconnect: {
        c.outcome.disconnect = true;
        log.logInfo("Received DISCONNECT message");
        m_disconnectText.clear();
        parseDisconnect(payload, m_disconnectReason, m_disconnectText, log);
        if (keyExchangeRunning(cond))
            log.logError(kSshMsgKexDisconnect);
        log.logDataLong("DisconnectReason", static_cast<int>(m_disconnectReason));
        log.logData("DisconnectDescription", m_disconnectText.getString());
        StringBuffer note;
        note.append("Reason: ");
        note.append(m_disconnectText.getString());
        m_transcript.traceLine(kTraceNote, note.getString());
        c.outcome.status.closedByPeer = true;
        m_socket.closeSocket();
        return Handled::kFail;
    }
    case kSshMsgUserauthBanner:
        log.logInfo("[SSH] Received USERAUTH_BANNER");
        parseBanner(payload, m_banner, log);
        return Handled::kContinue;
    case kSshMsgGlobalRequest: {
        log.logInfo("[SSH] Received GLOBAL_REQUEST");
        XString name;
        bool wantReply = false;
        if (!parseGlobalRequest(payload, name, wantReply, log))
            return Handled::kContinue;
        log.logData("GlobalRequestName", name.getUtf8());
        log.logDataLong("WantReply", wantReply ? 1 : 0);
        if (wantReply) {
            DataBuffer reply;
            reply.appendChar(kSshMsgRequestFailure);
            if (!sendMessage("SSH2_MSG_REQUEST_FAILURE", reply, c.pm, log, c.verbose)) {
                log.logError("Error sending SSH2_MSG_REQUEST_FAILURE message to server");
                return Handled::kFail;
            }
        }
        return Handled::kContinue;
    }
    case kSshMsgKexInit: return handleKexInit(c, payload);
    case kSshMsgKexDhReply:
    case kSshMsgKexDhGexReply: return handleKexReply(c, payload, msgType);
    case kSshMsgNewKeys: return handleNewKeys(c, payload);
    default:
        log.logInfo("Received unexpected SSH message");
        log.logData("msgType", sshMessageName(msgType));
        return Handled::kReturnTrue;
    }
}

SshTransport::Handled SshTransport::handleChannelClose(ReadContext& c, const DataBuffer& payload) {
    LogBase& log = c.log;
    if (!c.channel) {
        queuePayload(payload, log, c.verbose, 8);
        return Handled::kContinue;
    }
    if (c.verbose) {
        log.logInfo("Received CHANNEL CLOSE from server.");
        log.logDataInt64("serverChannelNum", c.channel->serverChannelNum);
        log.logDataInt64("clientChannelNum", c.channel->clientChannelNum);
        log.logDataInt64("targetChannelNum", sshChannelRecipient(payload));
    }
    if (!channelMatches(c.channel, payload)) {
        queuePayload(payload, log, c.verbose, 7);
        return Handled::kContinue;
    }
    c.channel->closeReceived = true;
    c.outcome.close = true;
    if (!c.channel->closeSent) {
        if (!sendChannelClose(*c.channel, c.pm, log, c.verbose) || aborted(c.pm, m_heartbeatMs))
            return Handled::kFail;
    }
    const int cond = c.condition;
    if (cond == kSshUntilChannelData || cond == kSshUntilExtendedData || cond == kSshUntilAnyMessage)
        return claim(c, payload, kSshMsgChannelClose);
    return Handled::kContinue;
}

SshTransport::Handled SshTransport::handleChannelRequest(ReadContext& c, const DataBuffer& payload) {
    LogBase& log = c.log;
    log.logInfo("Received CHANNEL REQUEST message");
    std::uint32_t recipient = 0;
    StringBuffer type;
    unsigned int idx = 0;
    if (!parseChannelRequest(payload, recipient, type, idx)) {
        log.logError("Failed to parse CHANNEL_REQUEST");
        return Handled::kContinue;
    }
    log.logData("requestType", type.getString());
    StringBuffer note;
    note.append("Request Type: ");
    note.append(type.getString());
    m_transcript.traceLine(kTraceNote, note.getString());
    m_transcript.traceInt("TRAN* Channel: ", recipient, kTraceEol);
    const bool match = c.channel && c.channel->clientChannelNum == recipient;
    if (type.equals("exit-status")) {
        if (!match) {
            queuePayload(payload, log, c.verbose, 11);
            return Handled::kContinue;
        }
        bool wantReply = false;
        std::uint32_t status = 0;
        if (parseExitStatus(payload, recipient, wantReply, status)) {
            c.channel->exitStatusReceived = true;
            c.channel->exitStatus = status;
            log.logDataInt64("exitStatusCode", status);
        }
        return Handled::kContinue;
    }
    if (type.containsSubstringNoCase(kSshKeepAliveName)) {
        bool wantReply = false;
        sshReadBoolean(payload, idx, wantReply);
        // The server counts any answer as a sign of life; a request that asks
        // for none gets none, as RFC 4254 section 5.4 requires. Without the
        // channel's record the failure names the number the request carried.
        if (!wantReply)
            return Handled::kContinue;
        const std::uint32_t target = match ? c.channel->serverChannelNum : recipient;
        DataBuffer empty;
        if (!sendIgnore(empty, c.pm, log, c.verbose) || !sendChannelFailure(target, c.pm, log, c.verbose))
            return Handled::kFail;
    }
    return Handled::kContinue;
}

SshTransport::Handled SshTransport::handleWindowAdjust(ReadContext& c, const DataBuffer& payload) {
    unsigned int idx = 1;
    std::uint32_t recipient = 0, bytes = 0;
    if (!sshReadUint32(payload, idx, recipient) || !sshReadUint32(payload, idx, bytes)) {
        c.log.logError("Failed to parse CHANNEL_WINDOW_ADJUST");
        return Handled::kContinue;
    }
    if (c.channel && c.channel->clientChannelNum == recipient) {
        // The window never passes 2^32 - 1 (RFC 4254 section 5.2).
        const std::uint32_t room = UINT32_MAX - c.channel->serverWindow;
        c.channel->serverWindow += bytes < room ? bytes : room;
    } else {
        queuePayload(payload, c.log, c.verbose, 14);
    }
    if (c.condition == kSshUntilWindowAdjust) {
        c.outcome.conditionMet = true;
        if (!m_reExchange)
            return Handled::kReturnTrue;
    }
    return Handled::kContinue;
}

bool SshTransport::sendKexPayloads(ReadContext& c) {
    if (m_kex.outgoing().getSize() == 0)
        return true;
    const bool ok = sendMessage(m_kex.outgoingLabel(), m_kex.outgoing(), c.pm, c.log, c.verbose);
    if (!ok)
        c.log.logError(m_kex.outgoingError());
    m_kex.clearOutgoing();
    return ok;
}

SshTransport::Handled SshTransport::handleKexInit(ReadContext& c, const DataBuffer& payload) {
    LogBase& log = c.log;
    log.logInfo("Received key exchange init message");
    if (m_kex.phase() != SshKeyExchange::Phase::kIdle) {
        log.logError(kSshMsgNoKeyExchange);
        return Handled::kFail;
    }
    if (c.condition != kSshUntilNewKeys) {
        m_reExchange = true;
        if (!sendKexInit(c.pm, log, c.verbose))
            return Handled::kFail;
    }
    if (!m_kex.processServerKexinit(payload, log) || !m_kex.beginDiffieHellman(log) || !sendKexPayloads(c))
        return Handled::kFail;
    return Handled::kContinue;
}

SshTransport::Handled SshTransport::handleKexReply(ReadContext& c, const DataBuffer& payload, int msgType) {
    LogBase& log = c.log;
    const bool gex = m_kex.kexAlg == kSshKexGexSha1 || m_kex.kexAlg == kSshKexGexSha256;
    const SshKeyExchange::Phase phase = m_kex.phase();
    if (msgType == kSshMsgKexDhGexGroup && gex && phase == SshKeyExchange::Phase::kAwaitGroup) {
        if (!m_kex.takeGroup(payload, log) || !sendKexPayloads(c))
            return Handled::kFail;
        return Handled::kContinue;
    }
    const int expected = gex ? kSshMsgKexDhGexReply : kSshMsgKexDhReply;
    if (msgType != expected || phase != SshKeyExchange::Phase::kAwaitReply) {
        log.logError(kSshMsgNoKeyExchange);
        return Handled::kFail;
    }
    if (!m_kex.takeReply(payload, msgType, log, c.verbose))
        return Handled::kFail;
    log.logInfo("[SSH] Sending newkeys to server...");
    if (!sendKexPayloads(c))
        return Handled::kFail;
    log.logInfo("Expecting newkeys from server...");
    return Handled::kContinue;
}

SshTransport::Handled SshTransport::handleNewKeys(ReadContext& c, const DataBuffer& payload) {
    LogBase& log = c.log;
    // Keys switch only at the end of an exchange this side took part in.
    if (m_kex.phase() != SshKeyExchange::Phase::kAwaitNewKeys) {
        log.logError(kSshMsgNoKeyExchange);
        return Handled::kFail;
    }
    log.logInfo("[SSH] Received newkeys message");
    m_transcript.traceText(kTraceNote, "SSH Key Exchange Success.", kTraceEol);
    log.logInfo("SSH Key Exchange Success.");
    m_kex.switchToNewKeys(m_out, m_in, log);
    m_reExchange = false;
    if (c.condition == kSshUntilNewKeys) {
        log.logInfo("Got the REKEY we were waiting for...");
        return claim(c, payload, kSshMsgNewKeys);
    }
    if (c.outcome.conditionMet) {
        log.logInfo("Return condition previously satisfied, got the REKEY we were waiting for...");
        return Handled::kReturnTrue;
    }
    log.logInfo("Return condition still not satisfied...");
    log.logDataLong("returnCondition", c.condition);
    return Handled::kContinue;
}

} // namespace tessik
