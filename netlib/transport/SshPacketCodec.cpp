#include "netlib/transport/SshPacketCodec.h"

#include <algorithm>

#include "netlib/core/TessikRand.h"
#include "netlib/streams/Output.h"
#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

constexpr unsigned int kLengthField = 4;
constexpr unsigned int kSmallBlock = 8;
constexpr unsigned int kLargeBlock = 16;

// Takes inflated bytes up to a cap and refuses the write that would pass it,
// so a small packet cannot make the reader allocate without bound.
class CappedOutput : public Output {
public:
    CappedOutput(DataBuffer& target, std::uint32_t cap) : m_target(target), m_cap(cap) {}
    std::uint32_t writeBytes(const void* data, std::uint32_t size, std::uint32_t count, ProgressMonitor*,
                             LogBase&) override {
        const std::uint64_t n = static_cast<std::uint64_t>(size) * count;
        if (m_target.getSize() + n > m_cap) {
            m_over = true;
            return 0;
        }
        if (n && !m_target.append(data, static_cast<unsigned int>(n)))
            return 0;
        return count;
    }
    std::uint32_t writeBytes64(const void* data, std::uint64_t size, std::uint32_t count, ProgressMonitor* pm,
                               LogBase& log) override {
        if (size > UINT32_MAX) {
            m_over = true;
            return 0;
        }
        return writeBytes(data, static_cast<std::uint32_t>(size), count, pm, log);
    }
    bool over() const { return m_over; }

private:
    DataBuffer& m_target;
    std::uint32_t m_cap;
    bool m_over = false;
};

} // namespace

unsigned int SshDirection::macSize() const {
    return macId == kSshMacSha1 ? kSshMacSha1Size : macId == kSshMacMd5 ? kSshMacMd5Size : 0;
}

void SshDirection::computeMac(std::uint32_t seq, const DataBuffer& clear, DataBuffer& mac) {
    DataBuffer input;
    sshAppendUint32(input, seq);
    input.appendDb(clear);
    // A fresh output for every packet: nothing of the last MAC may remain.
    mac.clear();
    crypt.HmacBytes(input, mac);
}

unsigned int sshOutgoingBlockSize(int cipherId) {
    switch (cipherId) {
    case kSshCipherAes256:
    case kSshCipherAes128:
    case kSshCipherTwofish256:
    case kSshCipherTwofish128: return kLargeBlock;
    default: return kSmallBlock;
    }
}

SshPadding sshComputePadding(unsigned int payloadLength, unsigned int block) {
    SshPadding p;
    const unsigned int unpadded = payloadLength + kLengthField + 1;
    p.padding = block - unpadded % block;
    if (p.padding < kSshMinPadding)
        p.padding += block;
    p.total = unpadded + p.padding;
    if (p.total < kSshMinPacket) {
        p.padding += block;
        p.total += block;
    }
    p.packetLength = p.total - kLengthField;
    return p;
}

bool SshPacketWriter::seal(const DataBuffer& payload, DataBuffer& wire, ProgressMonitor* pm, LogBase& log,
                           bool verbose) {
    wire.clear();
    const DataBuffer* body = &payload;
    DataBuffer compressed;
    if (compressionId == kSshCompressZlib) {
        if (newStream) {
            m_deflate.beginCompress(compressed);
            newStream = false;
        }
        if (!m_deflate.compressChunk(payload, compressed, log, pm))
            return false;
        body = &compressed;
    }
    const unsigned int block = sshOutgoingBlockSize(cipherId);
    const SshPadding pad = sshComputePadding(body->getSize(), block);
    if (verbose) {
        log.logDataLong("unpaddedLength", static_cast<int>(body->getSize() + kLengthField + 1));
        log.logDataLong("remainder", static_cast<int>((body->getSize() + kLengthField + 1) % block));
        log.logDataLong("paddingLen", static_cast<int>(pad.padding));
        log.logDataLong("totalSize", static_cast<int>(pad.total));
    }
    DataBuffer clear;
    sshAppendUint32(clear, pad.packetLength);
    clear.appendChar(static_cast<unsigned char>(pad.padding));
    clear.appendDb(*body);
    TessikRand::randomBytes(static_cast<int>(pad.padding), clear);

    if (cipherId != kSshCipherNone) {
        crypt.setFirstChunk(firstPacket);
        crypt.setLastChunk(false);
        firstPacket = false;
        if (!crypt.encryptBytesToDb(clear, wire, nullptr, log, false) || wire.getSize() != clear.getSize()) {
            log.logError("Size of encrypted data changed!");
            log.logDataLong("unencryptedPacketSize", static_cast<int>(clear.getSize()));
            log.logDataLong("encryptedPacketSize", static_cast<int>(wire.getSize()));
            wire.clear();
            return false;
        }
    } else {
        wire.appendDb(clear);
    }
    if (macId != kSshMacNone) {
        DataBuffer mac;
        computeMac(sequence, clear, mac);
        wire.appendDb(mac);
    }
    ++sequence;
    return true;
}

SshPacketReader::SshPacketReader() = default;
SshPacketReader::~SshPacketReader() = default;

unsigned int SshPacketReader::firstBlockSize() const {
    return std::max(blockSize, kLengthField);
}

unsigned int SshPacketReader::bytesWanted() const {
    unsigned int need = 0;
    switch (m_state) {
    case State::kFirstBlock: need = firstBlockSize(); break;
    case State::kRest: need = m_packetLength + kLengthField - firstBlockSize(); break;
    case State::kMac: need = macSize(); break;
    case State::kBroken: return 0;
    }
    return need - m_pending.getSize();
}

bool SshPacketReader::streamBroken() const {
    return m_state == State::kBroken;
}

SshPacketReader::Step SshPacketReader::fail(Fault fault, LogBase& log, const char* text) {
    m_fault = fault;
    if (text)
        log.logError(text);
    const bool packetWhole = fault == Fault::kEmpty || fault == Fault::kInflate;
    m_pending.clear();
    m_clear.clear();
    m_state = packetWhole ? State::kFirstBlock : State::kBroken;
    return Step::kFailed;
}

bool SshPacketReader::decrypt(DataBuffer& bytes, LogBase& log) {
    if (cipherId == kSshCipherNone)
        return true;
    crypt.setFirstChunk(firstPacket);
    crypt.setLastChunk(false);
    firstPacket = false;
    DataBuffer out;
    if (!crypt.decryptBytesToDb(bytes, out, log) || out.getSize() != bytes.getSize())
        return false;
    bytes.takeFrom(out);
    return true;
}

SshPacketReader::Step SshPacketReader::feed(const unsigned char* data, unsigned int n, unsigned int& consumed,
                                            LogBase& log, bool verbose) {
    consumed = 0;
    if (m_state == State::kBroken)
        return Step::kFailed;
    const unsigned int take = std::min(n, bytesWanted());
    if (take)
        m_pending.append(data, take);
    consumed = take;
    if (bytesWanted() != 0)
        return Step::kNeedMore;
    switch (m_state) {
    case State::kFirstBlock: {
        Step s = takeFirstBlock(log, verbose);
        if (s != Step::kNeedMore || m_state != State::kMac || macSize() != 0)
            return s;
        return finishPacket(log);
    }
    case State::kRest: {
        Step s = takeRest(log);
        if (s != Step::kNeedMore || macSize() != 0)
            return s;
        return finishPacket(log);
    }
    case State::kMac: return finishPacket(log);
    case State::kBroken: break;
    }
    return Step::kFailed;
}

SshPacketReader::Step SshPacketReader::takeFirstBlock(LogBase& log, bool verbose) {
    m_payload.clear();
    m_fault = Fault::kNone;
    if (verbose && cipherId != kSshCipherNone)
        log.logInfo("Decrypting first block of message..");
    if (verbose && firstPacket && cipherId != kSshCipherNone)
        log.logInfo("This is the 1st block after the key exchange.");
    const unsigned int block = m_pending.getSize();
    if (!decrypt(m_pending, log) || m_pending.getSize() != block)
        return fail(Fault::kDecrypt, log, "Size of decrypted packet length changed!");
    m_firstClear.clear();
    m_firstClear.appendDb(m_pending);
    m_clear.clear();
    m_clear.takeFrom(m_pending);
    m_packetLength = platform::LoadBe32(m_clear.getData());
    if (verbose)
        log.logDataInt64("packetLen", m_packetLength);
    if (m_packetLength > kSshMaxPacketLength) {
        log.logDataInt64("packetLen", m_packetLength);
        return fail(Fault::kTooLarge, log, kSshMsgPacketTooLarge);
    }
    if (m_packetLength < kSshMinBody) {
        log.logDataInt64("packetLen", m_packetLength);
        return fail(Fault::kTooSmall, log, kSshMsgPacketTooSmall);
    }
    if (cipherId != kSshCipherNone && blockSize > 1 && (m_packetLength + kLengthField) % blockSize != 0)
        return fail(Fault::kNotBlocks, log, kSshMsgPacketNotBlocks);
    m_state = m_packetLength + kLengthField > block ? State::kRest : State::kMac;
    return Step::kNeedMore;
}

SshPacketReader::Step SshPacketReader::takeRest(LogBase& log) {
    const unsigned int n = m_pending.getSize();
    if (!decrypt(m_pending, log) || m_pending.getSize() != n)
        return fail(Fault::kDecrypt, log, "Size of decrypted packet changed!");
    m_clear.appendDb(m_pending);
    m_pending.clear();
    m_state = State::kMac;
    return Step::kNeedMore;
}

SshPacketReader::Step SshPacketReader::finishPacket(LogBase& log) {
    const std::uint32_t seq = sequence++;
    if (macSize() != 0) {
        DataBuffer mac;
        computeMac(seq, m_clear, mac);
        if (!mac.equalsDb(m_pending))
            return fail(Fault::kMac, log, kSshMsgMacMismatch);
    }
    m_pending.clear();
    m_state = State::kFirstBlock;
    const unsigned char* body = m_clear.getData() + kLengthField;
    const unsigned int bodyLength = m_packetLength;
    const unsigned int padding = body[0];
    if (padding + 1 >= bodyLength)
        return fail(Fault::kEmpty, log, kSshMsgPayloadEmpty);
    const unsigned int payloadLength = bodyLength - padding - 1;
    if (compressionId == kSshCompressZlib) {
        if (!inflatePayload(body + 1, payloadLength, log))
            return Step::kFailed;
    } else {
        m_payload.append(body + 1, payloadLength);
    }
    m_clear.clear();
    return Step::kPacket;
}

bool SshPacketReader::inflatePayload(const unsigned char* data, unsigned int n, LogBase& log) {
    if (newStream) {
        if (n < kSshZlibHeaderSize) {
            fail(Fault::kInflate, log, kSshMsgInflateFailed);
            return false;
        }
        data += kSshZlibHeaderSize;
        n -= kSshZlibHeaderSize;
        m_inflate = std::make_unique<InflateState2>();
        m_inflate->reset(kSshZlibWindow);
        newStream = false;
    }
    if (!m_inflate) {
        fail(Fault::kInflate, log, kSshMsgInflateFailed);
        return false;
    }
    CappedOutput out(m_payload, kSshMaxInflatedPayload);
    bool finished = false;
    int code = 0;
    if (n == 0)
        return true;
    if (m_inflate->inflateChunk(data, n, false, out, finished, log, code, 0) != 1) {
        m_payload.clear();
        fail(Fault::kInflate, log, out.over() ? kSshMsgInflateTooLarge : kSshMsgInflateFailed);
        // A stream that failed cannot be resumed.
        m_state = State::kBroken;
        return false;
    }
    return true;
}

} // namespace tessik
