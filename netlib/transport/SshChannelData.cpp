// The data of one open channel (RFC 4254 section 5): reading with upkeep of
// the local window, sending within the server's window, EOF and CLOSE.
#include <algorithm>

#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"
#include "netlib/transport/SshTransport.h"

namespace tessik {

namespace {

bool readHeader(const DataBuffer& payload, int type, unsigned int& idx, std::uint32_t& recipient) {
    unsigned char t = 0;
    idx = 0;
    return sshReadByte(payload, idx, t) && t == type && sshReadUint32(payload, idx, recipient);
}

} // namespace

bool parseChannelData(const DataBuffer& payload, std::uint32_t& recipient, DataBuffer& out, LogBase& log) {
    unsigned int idx = 0;
    if (!readHeader(payload, kSshMsgChannelData, idx, recipient)) {
        log.logError("Parsing MSG_CHANNEL_DATA failed.");
        log.logDataLong("mType", payload.getSize() ? payload.getData()[0] : 0);
        return false;
    }
    return sshReadString(payload, idx, out, log);
}

bool parseExtendedData(const DataBuffer& payload, std::uint32_t& recipient, std::uint32_t& typeCode, DataBuffer& out,
                       LogBase& log) {
    unsigned int idx = 0;
    return readHeader(payload, kSshMsgChannelExtendedData, idx, recipient) && sshReadUint32(payload, idx, typeCode) &&
           sshReadString(payload, idx, out, log);
}

bool parseChannelRequest(const DataBuffer& payload, std::uint32_t& recipient, StringBuffer& requestType,
                         unsigned int& idx) {
    return readHeader(payload, kSshMsgChannelRequest, idx, recipient) && sshReadShortString(payload, idx, requestType);
}

bool parseExitStatus(const DataBuffer& payload, std::uint32_t& recipient, bool& wantReply, std::uint32_t& status) {
    unsigned int idx = 0;
    StringBuffer type;
    return parseChannelRequest(payload, recipient, type, idx) && sshReadBoolean(payload, idx, wantReply) &&
           sshReadUint32(payload, idx, status);
}

bool SshTransport::hasQueuedChannelData(std::uint32_t clientChannelNum) const {
    for (int i = 0; i < m_queue.getCount(); ++i) {
        const auto* payload = static_cast<const DataBuffer*>(m_queue.elementAt(i));
        if (payload && sshChannelRecipient(*payload) == static_cast<std::int64_t>(clientChannelNum))
            return true;
    }
    return false;
}

bool SshTransport::takeQueuedChannelData(SshChannel& channel, bool onlyExtended, bool skipExtended, DataBuffer& dataOut,
                                         DataBuffer& extendedOut, bool& eofOut, bool& closeOut, ProgressMonitor* pm,
                                         LogBase& log, bool verbose) {
    eofOut = false;
    closeOut = false;
    if (verbose && m_queue.getCount() != 0) {
        log.logInfo("Checking for queued channel data...");
        log.logDataLong("numQueuedMsgs", m_queue.getCount());
    }
    int counted = 0;
    for (int i = 0; i < m_queue.getCount();) {
        auto* payload = static_cast<DataBuffer*>(m_queue.elementAt(i));
        if (payload == nullptr ||
            sshChannelRecipient(*payload) != static_cast<std::int64_t>(channel.clientChannelNum)) {
            ++i;
            continue;
        }
        const int type = payload->getData()[0];
        std::unique_ptr<TessikObject> owned;
        switch (type) {
        case kSshMsgChannelClose:
            owned.reset(m_queue.removeAt(i));
            channel.closeReceived = true;
            closeOut = true;
            if (!channel.closeSent) {
                if (!sendChannelClose(channel, pm, log, verbose)) {
                    log.logError("Failed to send CHANNEL_CLOSE in response.");
                    return false;
                }
                if (pm && pm->abortCheck(m_heartbeatMs, 0)) {
                    log.logError("App aborted when sending CHANNEL_CLOSE in response.");
                    return false;
                }
            }
            ++counted;
            continue;
        case kSshMsgChannelEof:
            owned.reset(m_queue.removeAt(i));
            channel.eofReceived = true;
            eofOut = true;
            ++counted;
            continue;
        case kSshMsgChannelData:
        case kSshMsgChannelExtendedData: {
            const bool extended = type == kSshMsgChannelExtendedData;
            if ((!extended && onlyExtended) || (extended && skipExtended)) {
                ++i;
                continue;
            }
            owned.reset(m_queue.removeAt(i));
            std::uint32_t recipient = 0, code = 0;
            const bool ok = extended ? parseExtendedData(*payload, recipient, code, extendedOut, log)
                                     : parseChannelData(*payload, recipient, dataOut, log);
            if (!ok) {
                log.logError(extended ? "Failed to parse extended data payload" : "Failed to parse data payload");
                continue;
            }
            ++counted;
            return true;
        }
        default: ++i; continue;
        }
    }
    return counted != 0;
}

bool SshTransport::windowUpkeep(SshChannel& channel, std::uint32_t consumed, ProgressMonitor* pm, LogBase& log,
                                bool verbose) {
    // A server that overruns the window leaves it at 0, not wrapped round to
    // four gigabytes, so the upkeep below still tops it up.
    channel.localWindow = consumed >= channel.localWindow ? 0 : channel.localWindow - consumed;
    if (channel.localWindow > kSshWindowLowWater || channel.initialWindow <= channel.localWindow)
        return true;
    const std::uint32_t add = channel.initialWindow - channel.localWindow;
    channel.localWindow = channel.initialWindow;
    return sendWindowAdjust(channel, add, pm, log, verbose);
}

bool SshTransport::readChannelData(SshChannel& channel, unsigned int totalTimeoutMs, bool checkQueue,
                                   bool onlyExtendedData, bool skipExtendedData, unsigned int idleTimeoutMs,
                                   DataBuffer& dataOut, DataBuffer& extendedOut, SshReadOutcome& outcome,
                                   ProgressMonitor* pm, LogBase& log, bool verbose, int calledFrom, bool readOneRaw) {
    SshVerboseContext context(log, "readChannelData", verbose);
    if (verbose) {
        log.logDataInt64("clientChannelNum", channel.clientChannelNum);
        log.logDataLong("totalTimeoutMs", static_cast<int>(totalTimeoutMs));
        log.logDataLong("bCheckQueue", checkQueue);
        log.logDataLong("bOnlyExtendedData", onlyExtendedData);
        log.logDataLong("bSkipExtendedData", skipExtendedData);
        log.logDataLong("idleTimeoutMs_1", static_cast<int>(idleTimeoutMs));
        log.logDataLong("calledFrom", calledFrom);
        log.logDataLong("bReadOneRaw", readOneRaw);
    }

    const bool sameBuffer = &dataOut == &extendedOut;
    auto grown = [&](unsigned int data0, unsigned int ext0) {
        const std::uint32_t d = dataOut.getSize() - data0;
        return sameBuffer ? d : d + (extendedOut.getSize() - ext0);
    };
    const unsigned int data0 = dataOut.getSize(), ext0 = extendedOut.getSize();
    outcome.clear();
    if (checkQueue && takeQueuedChannelData(channel, onlyExtendedData, skipExtendedData, dataOut, extendedOut,
                                            outcome.eof, outcome.close, pm, log, verbose)) {
        if (!windowUpkeep(channel, grown(data0, ext0), pm, log, verbose))
            return false;
        if (verbose)
            log.logInfo("Returning previously queued message...");
        return true;
    }
    const int condition = readOneRaw         ? kSshUntilAnyMessage
                          : onlyExtendedData ? kSshUntilExtendedData
                                             : kSshUntilChannelData;
    DataBuffer payload;
    while (true) {
        const bool ok =
            readUntilCondition(condition, idleTimeoutMs, totalTimeoutMs, &channel, payload, outcome, pm, log, verbose);
        if (ok && outcome.conditionMet && outcome.msgType == kSshMsgChannelExtendedData && skipExtendedData) {
            log.logInfo("Skipping extended data...");
            continue;
        }
        if (!ok || !outcome.conditionMet)
            return false;
        break;
    }
    std::uint32_t recipient = 0;
    if (outcome.msgType == kSshMsgChannelExtendedData) {
        if (verbose)
            log.logInfo("Parsing extended data...(1)");
        std::uint32_t code = 0;
        const unsigned int before = extendedOut.getSize();
        if (!parseExtendedData(payload, recipient, code, extendedOut, log)) {
            log.logError("Failed to parse extended data payload");
            return false;
        }
        if (verbose) {
            log.logDataInt64("dataTypeCode", code);
            log.logDataLong("extendedDataLen", static_cast<int>(extendedOut.getSize() - before));
            log.logDataHex("extendedData", extendedOut.getData() + before, extendedOut.getSize() - before);
        }
        return windowUpkeep(channel, grown(data0, ext0), pm, log, verbose);
    }
    if (outcome.msgType == kSshMsgChannelData) {
        if (!parseChannelData(payload, recipient, dataOut, log)) {
            log.logError("Failed to parse data payload");
            return false;
        }
        return windowUpkeep(channel, grown(data0, ext0), pm, log, verbose);
    }
    return true;
}

bool SshTransport::readChannelDataToClose(SshChannel& channel, DataBuffer& dataOut, DataBuffer& extendedOut,
                                          ProgressMonitor* pm, LogBase& log, bool& disconnectOut, bool verbose) {
    disconnectOut = false;
    while (!channel.closeReceived) {
        SshReadOutcome outcome;
        const bool ok = readChannelData(channel, 0, true, false, false, 0, dataOut, extendedOut, outcome, pm, log,
                                        verbose, kSshCalledFromReadToClose, false);
        disconnectOut = outcome.disconnect;
        if (pm && pm->abortCheck(m_heartbeatMs, 0))
            return false;
        if (channel.closeReceived)
            return true;
        if (!ok || disconnectOut)
            return false;
    }
    return true;
}

bool SshTransport::sendChannelData(SshChannel& channel, const DataBuffer& data, unsigned int maxPacketSize,
                                   ProgressMonitor* pm, LogBase& log, bool verbose) {
    if (verbose)
        log.logDataInt64("m_curServerWinSize", channel.serverWindow);
    if (maxPacketSize < kSshMinMaxPacket)
        maxPacketSize = kSshMinMaxPacket;
    const unsigned int perPacket = maxPacketSize - kSshChannelOverhead;
    unsigned int offset = 0;
    while (offset < data.getSize()) {
        const unsigned int chunk = std::min({data.getSize() - offset, perPacket, channel.serverWindow});
        if (chunk > 0) {
            DataBuffer p;
            p.appendChar(kSshMsgChannelData);
            sshAppendUint32(p, channel.serverChannelNum);
            sshAppendBytesString(p, data.getData() + offset, chunk);
            if (!sendMessage("CHANNEL_DATA", p, pm, log, verbose)) {
                log.logError("Error sending data");
                return false;
            }
            m_transcript.traceInt("TRAN* NumBytes: ", chunk, kTraceEol);
            channel.serverWindow -= chunk;
            offset += chunk;
        }
        if (offset < data.getSize() && channel.serverWindow == 0) {
            if (verbose) {
                log.logInfo("Desparately need WINDOW_ADJUST message...");
                log.enterContext("readWindowAdjust", true);
            }
            SshReadOutcome outcome;
            DataBuffer payload;
            const bool ok = readUntilCondition(kSshUntilWindowAdjust, kSshWindowAdjustIdleMs, 0, &channel, payload,
                                               outcome, pm, log, verbose);
            if (verbose)
                log.leaveContext();
            if (!ok || !outcome.conditionMet) {
                log.logError("Failed to read WINDOW_ADJUST...");
                log.logDataLong("disconnected", outcome.disconnect ? 1 : 0);
                return false;
            }
        }
    }
    return true;
}

bool SshTransport::sendWindowAdjust(SshChannel& channel, std::uint32_t bytesToAdd, ProgressMonitor* pm, LogBase& log,
                                    bool verbose) {
    DataBuffer p;
    p.appendChar(kSshMsgChannelWindowAdjust);
    sshAppendUint32(p, channel.serverChannelNum);
    sshAppendUint32(p, bytesToAdd);
    if (!sendMessage("WINDOW_ADJUST", p, pm, log, verbose)) {
        log.logError("Error sending window-adjust request");
        return false;
    }
    return true;
}

bool SshTransport::sendChannelEof(SshChannel& channel, ProgressMonitor* pm, LogBase& log, bool verbose) {
    DataBuffer p;
    p.appendChar(kSshMsgChannelEof);
    sshAppendUint32(p, channel.serverChannelNum);
    if (!sendMessage("CHANNEL_EOF", p, pm, log, verbose)) {
        log.logError("Error sending EOF");
        return false;
    }
    m_transcript.traceInt("TRAN* svrChannel=", channel.serverChannelNum, kTraceEol);
    log.logInfo("Sent SSH Channel EOF");
    return true;
}

bool SshTransport::sendChannelClose(SshChannel& channel, ProgressMonitor* pm, LogBase& log, bool verbose) {
    if (channel.closeSent) {
        log.logError("Sending CHANNEL_CLOSE again?");
        log.logDataInt64("channelNum", channel.clientChannelNum);
    }
    DataBuffer p;
    p.appendChar(kSshMsgChannelClose);
    sshAppendUint32(p, channel.serverChannelNum);
    if (!sendMessage("CHANNEL_CLOSE", p, pm, log, verbose)) {
        log.logError("Error sending CLOSE");
        return false;
    }
    channel.closeSent = true;
    m_transcript.traceInt("TRAN* svrChannel=", channel.serverChannelNum, kTraceEol);
    log.logInfo("Sent SSH Channel CLOSE");
    return true;
}

bool SshTransport::closeChannel(SshChannel& channel, bool& disconnectOut, ProgressMonitor* pm, LogBase& log,
                                bool verbose) {
    disconnectOut = false;
    // A channel the server closed first was answered when its CLOSE came:
    // neither EOF nor a second CLOSE may follow (RFC 4254 section 5.3).
    if (!channel.closeSent) {
        if (!channel.closeReceived && !sendChannelEof(channel, pm, log, verbose))
            return false;
        if (!sendChannelClose(channel, pm, log, verbose))
            return false;
    }
    if (channel.closeReceived)
        return true;
    DataBuffer scratch;
    return readChannelDataToClose(channel, scratch, scratch, pm, log, disconnectOut, verbose);
}

} // namespace tessik
