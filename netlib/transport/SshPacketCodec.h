#pragma once
// The SSH binary packet (RFC 4253 section 6) as two engines, one per
// direction, that never touch a socket: the writer turns a payload into the
// bytes for the wire; the reader is fed the bytes that arrive and hands out
// each payload once its packet is whole, checked and decompressed. Both carry
// their cipher chain, MAC key, zlib stream and sequence number from packet to
// packet; the key switch sets them.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/crypto/ClsCrypt.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/TessikDeflate.h"

namespace tessik {

// What one direction runs under; the key switch fills it.
struct SshDirection {
    int cipherId = 0;
    int macId = 0;
    int compressionId = 0;
    ClsCrypt crypt;
    // The next packet starts a fresh cipher chain / a new zlib stream.
    bool firstPacket = false;
    bool newStream = false;
    std::uint32_t sequence = 0;

    unsigned int macSize() const;
    // HMAC over the sequence number and the clear packet.
    void computeMac(std::uint32_t seq, const DataBuffer& clear, DataBuffer& mac);
};

// Padding of one packet: the padding length and packet_length.
struct SshPadding {
    unsigned int padding = 0;
    unsigned int total = 0;
    std::uint32_t packetLength = 0;
};
// Block 16 for AES and Twofish, otherwise 8 (also without a cipher).
unsigned int sshOutgoingBlockSize(int cipherId);
SshPadding sshComputePadding(unsigned int payloadLength, unsigned int block);

class SshPacketWriter : public SshDirection {
public:
    // The wire bytes of one packet into wire (replaced). On success the
    // sequence number moves on; on failure nothing changes that the peer saw.
    bool seal(const DataBuffer& payload, DataBuffer& wire, ProgressMonitor* pm, LogBase& log, bool verbose);

private:
    TessikDeflate m_deflate;
};

class SshPacketReader : public SshDirection {
public:
    enum class Step { kNeedMore, kPacket, kFailed };
    // kBroken: the stream lost its place and cannot go on.
    enum class State { kFirstBlock, kRest, kMac, kBroken };
    enum class Fault { kNone, kDecrypt, kTooSmall, kTooLarge, kNotBlocks, kEmpty, kMac, kInflate };

    SshPacketReader();
    ~SshPacketReader();
    SshPacketReader(const SshPacketReader&) = delete;
    SshPacketReader& operator=(const SshPacketReader&) = delete;

    // Incoming cipher block size (0 before the first key switch).
    unsigned int blockSize = 0;

    // How many bytes the packet in progress needs next (first block, rest of
    // the packet, MAC); feeding more than that leaves the surplus unread.
    unsigned int bytesWanted() const;
    bool atPacketStart() const { return m_state == State::kFirstBlock && m_pending.getSize() == 0; }
    // Takes up to bytesWanted() bytes, consumed says how many.
    Step feed(const unsigned char* data, unsigned int n, unsigned int& consumed, LogBase& log, bool verbose);
    // After kPacket: the payload (taken with takePayload, or cleared by the
    // next packet).
    DataBuffer& payload() { return m_payload; }
    std::uint32_t packetLength() const { return m_packetLength; }
    const DataBuffer& firstBlockClear() const { return m_firstClear; }
    Fault fault() const { return m_fault; }
    // The reader can go on after a fault only when the packet was whole and
    // only its contents were refused.
    bool streamBroken() const;

    State state() const { return m_state; }

private:
    unsigned int firstBlockSize() const;
    Step fail(Fault fault, LogBase& log, const char* text);
    Step takeFirstBlock(LogBase& log, bool verbose);
    Step takeRest(LogBase& log);
    Step finishPacket(LogBase& log);
    bool decrypt(DataBuffer& bytes, LogBase& log);
    bool inflatePayload(const unsigned char* data, unsigned int n, LogBase& log);

    State m_state = State::kFirstBlock;
    Fault m_fault = Fault::kNone;
    DataBuffer m_pending;    // raw bytes of the current step
    DataBuffer m_clear;      // packet_length and the body so far, decrypted
    DataBuffer m_firstClear; // the decrypted first block
    DataBuffer m_payload;
    std::uint32_t m_packetLength = 0;
    std::unique_ptr<InflateState2> m_inflate;
};

} // namespace tessik
