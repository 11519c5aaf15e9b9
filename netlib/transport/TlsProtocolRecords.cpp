// The record side of TlsProtocol: sending and reading records, the
// dispatch by content type, alerts and application data.
#include <algorithm>
#include <cstdio>

#include "netlib/transport/TlsEndpoint.h"
#include "netlib/transport/TlsProtocol.h"
#include "platform/ByteOrder.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr unsigned char kChangeCipherSpecByte = 1;
constexpr unsigned int kAlertSize = 2;
constexpr int kCallSiteApplicationData = 90;

const char* alertName(std::uint32_t code) {
    switch (code) {
    case 0: return "close notify";
    case 10: return "unexpected message";
    case 20: return "bad record mac";
    case 21: return "decryption failed";
    case 22: return "record overflow";
    case 30: return "decompression failure";
    case 40: return "handshake failure";
    case 42: return "bad certificate";
    case 43: return "unsupported certificate";
    case 44: return "certificate revoked";
    case 45: return "certificate expired";
    case 46: return "certificate unknown";
    case 47: return "illegal parameter";
    case 48: return "unknown certificate authority";
    case 49: return "access denied";
    case 50: return "decode error";
    case 51: return "decrypt error";
    case 60: return "export restriction";
    case 70: return "protocol version";
    case 71: return "insufficient security";
    case 80: return "internal error";
    case 90: return "user canceled";
    case 100: return "no renegotiation";
    default: return nullptr;
    }
}

void logAlert(std::uint32_t level, std::uint32_t description, LogBase& log) {
    LogContext ctx(log, "TlsAlert");
    if (level == kTlsAlertWarning)
        log.logData("level", "warning");
    else if (level == kTlsAlertFatal)
        log.logData("level", "fatal");
    else
        log.logDataLong("level", static_cast<int>(level));
    if (const char* name = alertName(description))
        log.logData("descrip", name);
    else
        log.logDataLong("descrip", static_cast<int>(description));
}

void logRecord(const TlsRawRecord& record, LogBase& log) {
    LogContext ctx(log, "TlsRecord");
    switch (record.contentType) {
    case kTlsChangeCipherSpec: log.logData("ContentType", "ChangeCipherSpec"); break;
    case kTlsHandshake: log.logData("ContentType", "Handshake"); break;
    case kTlsApplicationData: log.logData("ContentType", "Application"); break;
    default: log.logDataLong("ContentType", static_cast<int>(record.contentType)); break;
    }
    if (record.major == kTlsMajor && record.minor <= kTls11Minor) {
        static const char* const kNames[] = {"SSL 3.0", "TLS 1.0", "TLS 1.1"};
        log.logData("Protocol", kNames[record.minor]);
    } else {
        log.logDataLong("MajorVersion", static_cast<int>(record.major));
        log.logDataLong("MinorVersion", static_cast<int>(record.minor));
    }
    const std::uint32_t n = record.fragment.getSize();
    log.logDataLong("PacketLen", static_cast<int>(n));
    log.logDataLong("LengthMsb", static_cast<int>(n >> 8));
    log.logDataLong("LengthLsb", static_cast<int>(n & 0xFF));
}

} // namespace

TlsProtocolCb::~TlsProtocolCb() = default;
void TlsProtocolCb::onHandshakeMessage(std::uint32_t, const unsigned char*, std::uint32_t) {}

TlsProtocol::TlsProtocol()
    : m_major(kTlsMajor), m_minor(kTls10Minor), m_closeNotifyReceived(false), m_lastAlertLevel(0),
      m_lastAlertDescription(0), m_writeSeq(0), m_readSeq(0), m_heldOffset(0), m_appOut(nullptr), m_ccsReceived(false),
      m_ccsByte(0), m_appReads(0), m_pendingAlert(-1), m_peerFatal(false), m_corked(false), m_emptyRecords(0),
      m_handshakeDeadline(0), m_handshakeComplete(false) {
    m_queue.setOwnsObjects(true);
    m_clientCerts.setOwnsObjects(true);
    reset(true);
}

TlsProtocol::~TlsProtocol() {
    wipeSecrets();
    m_heldAppData.secureClear();
}

void TlsProtocol::setVersion(std::uint32_t major, std::uint32_t minor) {
    m_major = major;
    m_minor = minor;
}

void TlsProtocol::reset(bool createFreshParams, bool keepLastAlert) {
    freeMessages();
    wipeSecrets();
    m_readParams.reset();
    m_writeParams.reset();
    m_pendingRead.reset();
    m_pendingWrite.reset();
    m_queue.removeAllObjects();
    m_clientCerts.removeAllObjects();
    m_testData.reset();
    m_framer.reset();
    m_handshakeCarry.clear();
    m_receivedHandshake.clear();
    m_heldAppData.secureClear();
    m_heldOffset = 0;
    m_major = kTlsMajor;
    m_minor = kTls10Minor;
    m_closeNotifyReceived = false;
    m_ccsReceived = false;
    m_handshakeComplete = false;
    m_appReads = 0;
    if (!keepLastAlert) {
        m_lastAlertLevel = 0;
        m_lastAlertDescription = 0;
    }
    m_pendingAlert = -1;
    m_peerFatal = false;
    m_corked = false;
    m_corkedRecords.clear();
    m_emptyRecords = 0;
    m_handshakeDeadline = 0;
    if (createFreshParams) {
        m_readParams = std::make_unique<TlsSecurityParams>();
        m_writeParams = std::make_unique<TlsSecurityParams>();
        m_pendingRead = std::make_unique<TlsSecurityParams>();
        m_pendingWrite = std::make_unique<TlsSecurityParams>();
        m_readSeq = 0;
        m_writeSeq = 0;
    }
}

void TlsProtocol::installPendingWrite() {
    m_writeParams = std::move(m_pendingWrite);
    m_pendingWrite = std::make_unique<TlsSecurityParams>();
    m_writeSeq = 0;
}

void TlsProtocol::installPendingRead() {
    m_readParams = std::move(m_pendingRead);
    m_pendingRead = std::make_unique<TlsSecurityParams>();
    m_readSeq = 0;
}

bool TlsProtocol::sendRecord(const unsigned char* content, std::uint32_t n, std::uint32_t contentType,
                             TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log) {
    if (!m_writeParams) {
        log.logError(tlsmsg::kSendFailed);
        return false;
    }
    DataBuffer fragment;
    const bool sealed =
        tlsProtect(*m_writeParams, m_writeSeq, contentType, m_major, m_minor, content, n, fragment, log);
    ++m_writeSeq;
    if (!sealed) {
        log.logError(tlsmsg::kSendFailed);
        return false;
    }
    DataBuffer record;
    DataBuffer& out = m_corked ? m_corkedRecords : record;
    out.ensureCapacity(out.getSize() + kTlsRecordHeaderSize + fragment.getSize());
    unsigned char header[kTlsRecordHeaderSize];
    header[0] = static_cast<unsigned char>(contentType);
    header[1] = static_cast<unsigned char>(m_major);
    header[2] = static_cast<unsigned char>(m_minor);
    platform::StoreBe16(header + 3, static_cast<std::uint16_t>(fragment.getSize()));
    out.append(header, sizeof header);
    out.appendDb(fragment);
    if (m_corked)
        return true;
    if (!endpoint.sendBytes(record, params.heartbeatMs, log, params.pm)) {
        log.logError(tlsmsg::kSendFailed);
        return false;
    }
    return true;
}

void TlsProtocol::cork() {
    m_corked = true;
}

bool TlsProtocol::uncork(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log) {
    m_corked = false;
    DataBuffer records;
    records.takeFrom(m_corkedRecords);
    if (records.getSize() == 0 || endpoint.sendBytes(records, params.heartbeatMs, log, params.pm))
        return true;
    log.logError(tlsmsg::kSendFailed);
    return false;
}

bool TlsProtocol::sendApplicationData(const unsigned char* data, std::uint32_t n, TlsEndpoint& endpoint,
                                      SocketReadParams& params, LogBase& log, bool) {
    for (std::uint32_t done = 0; done < n;) {
        const std::uint32_t piece = std::min(n - done, kTlsMaxFragment);
        if (!sendRecord(data + done, piece, kTlsApplicationData, endpoint, params, log))
            return false;
        done += piece;
    }
    return true;
}

bool TlsProtocol::sendHandshakeData(const DataBuffer& messages, TlsEndpoint& endpoint, SocketReadParams& params,
                                    LogBase& log) {
    const std::uint32_t n = messages.getSize();
    for (std::uint32_t done = 0; done < n;) {
        const std::uint32_t piece = std::min(n - done, kTlsMaxFragment);
        if (!sendRecord(messages.getData() + done, piece, kTlsHandshake, endpoint, params, log))
            return false;
        done += piece;
    }
    return true;
}

bool TlsProtocol::sendChangeCipherSpec(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log) {
    return sendRecord(&kChangeCipherSpecByte, 1, kTlsChangeCipherSpec, endpoint, params, log);
}

bool TlsProtocol::SendAlert(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log) {
    LogContext ctx(log, "SendAlert");
    logAlert(kTlsAlertWarning, kTlsAlertCloseNotify, log);
    const unsigned char alert[kAlertSize] = {kTlsAlertWarning, kTlsAlertCloseNotify};
    return sendRecord(alert, kAlertSize, kTlsAlert, endpoint, params, log);
}

bool TlsProtocol::sendFatalAlert(std::uint32_t description, TlsEndpoint& endpoint, SocketReadParams& params,
                                 LogBase& log) {
    LogContext ctx(log, "SendAlert");
    logAlert(kTlsAlertFatal, description, log);
    const unsigned char alert[kAlertSize] = {kTlsAlertFatal, static_cast<unsigned char>(description)};
    return sendRecord(alert, kAlertSize, kTlsAlert, endpoint, params, log);
}

void TlsProtocol::noteBadInput(std::uint32_t description) {
    if (m_pendingAlert >= 0)
        return;
    // SSL 3.0 has no decode_error, record_overflow or protocol_version.
    if (m_minor == kSsl30Minor && (description == kTlsAlertDecodeError || description == kTlsAlertRecordOverflow ||
                                   description == kTlsAlertProtocolVersion))
        description = kTlsAlertIllegalParameter;
    m_pendingAlert = static_cast<int>(description);
}

void TlsProtocol::sendPendingAlert(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log) {
    if (m_pendingAlert < 0)
        return;
    m_lastAlertLevel = kTlsAlertFatal;
    m_lastAlertDescription = static_cast<std::uint32_t>(m_pendingAlert);
    if (endpoint.isConnected()) {
        sendFatalAlert(static_cast<std::uint32_t>(m_pendingAlert), endpoint, params, log);
        endpoint.close(log);
    }
    m_pendingAlert = -1;
}

unsigned int TlsProtocol::readTimeLeftMs(TlsEndpoint& endpoint) const {
    // 0 is no time-out, as the socket's waits take it.
    const unsigned int timeoutMs = endpoint.getReadTimeoutMs() == 0 ? kNoTimeoutMs : endpoint.getReadTimeoutMs();
    if (m_handshakeDeadline == 0)
        return timeoutMs;
    const std::uint64_t now = platform::GetTickCount64();
    if (now >= m_handshakeDeadline)
        return 0;
    return static_cast<unsigned int>(std::min<std::uint64_t>(m_handshakeDeadline - now, timeoutMs));
}

bool TlsProtocol::readTlsRecord(TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log, bool verbose,
                                TlsRawRecord& out) {
    for (;;) {
        DataBuffer chunk;
        bool read = false;
        {
            // A handshake's reads share its deadline: a peer that trickles
            // bytes cannot hold it past the read time-out.
            const unsigned int saved = endpoint.getReadTimeoutMs();
            const unsigned int left = readTimeLeftMs(endpoint);
            if (left == 0) {
                params.flags.clear();
                params.flags.timedOut = true;
            } else {
                endpoint.setReadTimeoutMs(left);
                read = endpoint.readBytes(m_framer.bytesWanted(), chunk, params, log);
                endpoint.setReadTimeoutMs(saved);
            }
        }
        if (!read) {
            if (m_framer.readingHeader()) {
                log.logError(tlsmsg::kReadHeaderFailed);
            } else if (m_framer.readingSsl2()) {
                log.logError(tlsmsg::kReadSsl2Failed);
            } else {
                log.logError(tlsmsg::kReadRecordFailed);
                log.logDataLong("tlsRec_msg", static_cast<int>(m_framer.bodyReceived() + chunk.getSize()));
                log.logDataLong("msgLen", static_cast<int>(m_framer.bodyLength()));
            }
            m_framer.reset();
            return false;
        }
        std::uint32_t used = 0;
        switch (m_framer.feed(chunk.getData(), chunk.getSize(), &used, out, log, verbose)) {
        case TlsRecordFramer::kRecordReady:
            if (verbose)
                logRecord(out, log);
            return true;
        case TlsRecordFramer::kBad:
            noteBadInput(m_framer.failureAlert());
            m_framer.reset();
            return false;
        case TlsRecordFramer::kNeedMore: break;
        }
    }
}

int TlsProtocol::handleRecord(TlsRawRecord& record, LogBase& log, bool verbose) {
    if (!m_readParams || !tlsUnprotect(*m_readParams, m_readSeq, record, log, verbose)) {
        noteBadInput(kTlsAlertBadRecordMac);
        return -1;
    }
    ++m_readSeq;
    // Empty records carry nothing and cost a read each: a run of them is a
    // peer holding the connection open.
    m_emptyRecords = record.fragment.getSize() == 0 ? m_emptyRecords + 1 : 0;
    if (m_emptyRecords > kTlsMaxEmptyRecords) {
        log.logError(tlsmsg::kTooManyEmptyRecords);
        noteBadInput(kTlsAlertUnexpectedMessage);
        return -1;
    }
    if (!verbose)
        return processRecord(record, log, verbose);
    LogContext ctx(log, "processTlsRecord");
    return processRecord(record, log, verbose);
}

int TlsProtocol::receiveRecordBytes(const unsigned char* data, std::uint32_t n, LogBase& log, bool verbose) {
    int total = 0;
    while (n > 0) {
        TlsRawRecord record;
        std::uint32_t used = 0;
        const TlsRecordFramer::Result result = m_framer.feed(data, n, &used, record, log, verbose);
        data += used;
        n -= used;
        if (result == TlsRecordFramer::kBad) {
            noteBadInput(m_framer.failureAlert());
            m_framer.reset();
            return -1;
        }
        if (result == TlsRecordFramer::kNeedMore)
            break;
        const int handled = handleRecord(record, log, verbose);
        if (handled < 0)
            return -1;
        total += handled;
    }
    return total;
}

int TlsProtocol::processTlsRecord(int callSite, TlsEndpoint& endpoint, SocketReadParams& params, LogBase& log,
                                  bool verbose) {
    params.flags.clear();
    const unsigned int timeoutMs = readTimeLeftMs(endpoint);
    if (timeoutMs == 0) {
        log.logError(tlsmsg::kHandshakeTimedOut);
        params.flags.timedOut = true;
        return 0;
    }
    if (!endpoint.waitForData(params.heartbeatMs, timeoutMs, params.pm, &params.flags.socketError,
                              &params.flags.aborted, &params.flags.timedOut, log)) {
        if (params.flags.aborted) {
            log.logError(tlsmsg::kAborted);
            return 0;
        }
        if (params.flags.timedOut) {
            log.logError(m_handshakeDeadline != 0 && readTimeLeftMs(endpoint) == 0 ? tlsmsg::kHandshakeTimedOut
                                                                                   : tlsmsg::kTimedOut);
            log.logDataLong("timeoutMs", static_cast<int>(timeoutMs));
            return 0;
        }
        if (params.flags.socketError)
            log.logError(tlsmsg::kFatalSocketError);
        return -1;
    }
    if (verbose)
        log.logDataLong("callSite", callSite);
    int total = 0;
    for (;;) {
        TlsRawRecord record;
        if (!readTlsRecord(endpoint, params, log, verbose, record)) {
            if (params.flags.timedOut && m_handshakeDeadline != 0 && readTimeLeftMs(endpoint) == 0)
                log.logError(tlsmsg::kHandshakeTimedOut);
            sendPendingAlert(endpoint, params, log);
            return params.flags.timedOut || params.flags.aborted ? 0 : -1;
        }
        const int handled = handleRecord(record, log, verbose);
        if (handled < 0) {
            if (m_peerFatal) {
                if (endpoint.isConnected())
                    log.logError(tlsmsg::kClosingOnFatal);
                endpoint.close(log);
            } else {
                sendPendingAlert(endpoint, params, log);
            }
            return -1;
        }
        total += handled;
        if (total != 0)
            return total;
    }
}

int TlsProtocol::processRecord(TlsRawRecord& record, LogBase& log, bool verbose) {
    std::unique_ptr<LogContext> ctx;
    if (verbose) {
        ctx = std::make_unique<LogContext>(log, "ProcessTlsRecord");
        log.logDataLong("ContentType", static_cast<int>(record.contentType));
    }
    const DataBuffer& fragment = record.fragment;
    switch (record.contentType) {
    case kTlsChangeCipherSpec:
        if (fragment.getSize() != 1) {
            log.logError(tlsmsg::kBadCcsSize);
            noteBadInput(kTlsAlertDecodeError);
            return -1;
        }
        m_ccsReceived = true;
        m_ccsByte = fragment.getFirstByte();
        log.logDataLong("ccsProtocolType", m_ccsByte);
        return 1;
    case kTlsAlert: return processAlert(fragment, log, verbose);
    case kTlsHandshake: return processHandshakeRecord(fragment.getData(), fragment.getSize(), record.fromSsl2, log);
    case kTlsApplicationData: (m_appOut != nullptr ? m_appOut : &m_heldAppData)->appendDb(fragment); return 1;
    default:
        log.logError(tlsmsg::kInvalidRecordType);
        noteBadInput(kTlsAlertUnexpectedMessage);
        return -1;
    }
}

int TlsProtocol::processAlert(const DataBuffer& fragment, LogBase& log, bool verbose) {
    if (fragment.getSize() != kAlertSize) {
        log.logError(tlsmsg::kBadAlertSize);
        noteBadInput(kTlsAlertDecodeError);
        return -1;
    }
    m_lastAlertLevel = fragment.getData()[0];
    m_lastAlertDescription = fragment.getData()[1];
    // A fatal alert is the peer's explanation of a failure: always logged.
    if (verbose || m_lastAlertLevel == kTlsAlertFatal)
        logAlert(m_lastAlertLevel, m_lastAlertDescription, log);
    if (m_lastAlertDescription == kTlsAlertCloseNotify)
        m_closeNotifyReceived = true;
    if (m_lastAlertLevel != kTlsAlertFatal)
        return 1;
    m_peerFatal = true;
    m_readParams = std::make_unique<TlsSecurityParams>();
    m_writeParams = std::make_unique<TlsSecurityParams>();
    return -1;
}

bool TlsProtocol::readApplicationData(TlsEndpoint& endpoint, SocketReadParams& params, DataBuffer& out, LogBase& log,
                                      bool verbose) {
    if (m_heldAppData.getSize() > m_heldOffset) {
        out.appendDbRange(m_heldAppData, m_heldOffset, m_heldAppData.getSize() - m_heldOffset);
        m_heldAppData.clear();
        m_heldOffset = 0;
        return true;
    }
    if (m_closeNotifyReceived)
        log.logInfo(tlsmsg::kAlreadyCloseNotify);
    m_appOut = &out;
    const std::uint32_t before = out.getSize();
    bool ok = true;
    while (ok && out.getSize() == before) {
        const int handled = processTlsRecord(kCallSiteApplicationData, endpoint, params, log, verbose);
        if (handled >= 1 && m_queue.getCount() > 0) {
            if (peekMessageType() != static_cast<int>(kTlsHelloRequest)) {
                log.logError(tlsmsg::kUnexpectedHandshake);
                m_queue.removeAllObjects();
                ok = false;
                break;
            }
            delete dequeueAny(log);
            log.logInfo("Dequeued HelloRequest message.");
            log.logInfo("Need to re-negotiate the security parameters.");
            log.logInfo("Starting the handshake process again...");
            ok = clientHandshake(endpoint, params, log, verbose);
            // A server may present other certificates the second time.
            if (ok && m_renegotiationCheck && !m_renegotiationCheck(log)) {
                out.shorten(out.getSize() - before);
                ok = false;
            }
            continue;
        }
        if (m_closeNotifyReceived) {
            if (verbose)
                log.logInfo(tlsmsg::kCloseNotifyWhileReading);
            ok = false;
        } else if (handled < 1) {
            log.logError(tlsmsg::kAppReadFailed);
            ok = false;
        }
    }
    m_appOut = nullptr;
    if (ok)
        ++m_appReads;
    return ok;
}

int TlsProtocol::numServerCerts() const {
    return m_serverCerts ? m_serverCerts->count() : 0;
}

std::shared_ptr<Certificate> TlsProtocol::serverCertificate() const {
    return m_serverCerts ? m_serverCerts->leaf : nullptr;
}

bool TlsProtocol::getServerCertDer(int index, DataBuffer& out) const {
    out.clear();
    if (!m_serverCerts || index < 0 || index >= m_serverCerts->count())
        return false;
    return out.appendDb(*m_serverCerts->certAt(index));
}

} // namespace tessik
