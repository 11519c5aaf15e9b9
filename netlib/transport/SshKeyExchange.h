#pragma once
// The key exchange of the SSH-2 transport as an engine fed the server's
// messages, with no socket of its own: it builds the client KEXINIT,
// negotiates the eight algorithm categories, runs Diffie-Hellman over a fixed
// group or a group the server sends (RFC 4419), checks the host key's
// signature over the exchange hash, derives the six keys and hands them to
// the packet engines at the switch. Each step leaves what must be sent in
// outgoing() for the transport to send.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/DiffieHellman.h"
#include "netlib/crypto/WordBignum.h"

namespace tessik {

class SshPacketReader;
class SshPacketWriter;
class SshTranscript;

// Key, IV and MAC key sizes of one cipher id.
struct SshKeyLengths {
    unsigned int ivBytes;
    unsigned int keyBytes;
    int keyBits;
    const char* cryptAlgorithm;
    const char* switchMessage;
};
SshKeyLengths sshGetKeyLengths(int cipherId);
unsigned int sshMacKeyLength(int macId);

class SshKeyExchange {
public:
    enum class Phase { kIdle, kAwaitGroup, kAwaitReply, kAwaitNewKeys };
    enum Key { kIvOut, kIvIn, kKeyOut, kKeyIn, kMacOut, kMacIn, kKeyCount };

    SshKeyExchange();
    ~SshKeyExchange();
    SshKeyExchange(const SshKeyExchange&) = delete;
    SshKeyExchange& operator=(const SshKeyExchange&) = delete;

    void setTranscript(SshTranscript* t) { m_trace = t; }
    void setVersions(const char* client, const char* server);

    // The client KEXINIT, kept as I_C.
    void buildKexInit(DataBuffer& payload);
    // True when all eight categories agree; sets the pending ids.
    bool processServerKexinit(const DataBuffer& payload, LogBase& log);
    // bits of key material and the group size asked of the server.
    void getGroupExchangeSizes(std::uint32_t& bits, std::uint32_t& groupSize) const;
    // After the server's KEXINIT was negotiated: the group request or, for a
    // fixed group, KEXDH_INIT into outgoing().
    bool beginDiffieHellman(LogBase& log);
    // KEX_DH_GEX_GROUP: the server's group; KEX_DH_GEX_INIT into outgoing().
    bool takeGroup(const DataBuffer& payload, LogBase& log);
    // KEXDH_REPLY / KEX_DH_GEX_REPLY: K, H, the signature, the keys.
    bool takeReply(const DataBuffer& payload, int msgType, LogBase& log, bool verbose);
    bool computeExchangeHash(int replyMsgType, std::uint32_t groupSize, LogBase& log, bool verbose);
    bool deriveSessionKeys(LogBase& log);
    // One key of RFC 4253 section 7.2; false (key empty) when three hash
    // rounds cannot give `need` bytes.
    bool deriveKey(char letter, unsigned int need, DataBuffer& out) const;
    void switchToNewKeys(SshPacketWriter& out, SshPacketReader& in, LogBase& log);

    Phase phase() const { return m_phase; }
    void setPhase(Phase p) { m_phase = p; }
    // The payload the last step wants sent and its label ("" for none).
    const DataBuffer& outgoing() const { return m_outgoing; }
    const char* outgoingLabel() const { return m_outgoingLabel; }
    const char* outgoingError() const { return m_outgoingError; }
    void clearOutgoing();

    // Settings.
    bool preferRsa = true;
    bool allowCompression = false;
    bool shortenedHmacKey = false;

    // Negotiated and pending.
    int kexAlg = 0;
    int hostKeyAlg = 0;
    int pendingCipherOut = 0, pendingCipherIn = 0;
    int pendingMacOut = 0, pendingMacIn = 0;
    int pendingCompressOut = 0, pendingCompressIn = 0;

    StringBuffer clientVersion;
    StringBuffer serverVersion;
    DataBuffer clientCookie;
    DataBuffer clientKexInit;
    DataBuffer serverKexInit;
    DataBuffer hostKeyBlob;
    DataBuffer signatureBlob;
    DataBuffer exchangeHash;
    DataBuffer sessionId;
    WordBignum f = nullptr;
    DiffieHellman dh;
    DataBuffer keys[kKeyCount];
    StringBuffer hostKeyFingerprint;

private:
    void trace(const char* note);
    void setOutgoing(const char* label, const char* error);
    bool hashIsSha256() const { return kexAlg == 256; }
    void hash(const DataBuffer& in, DataBuffer& out) const;
    bool verifyHostKey(LogBase& log, bool verbose);
    bool sendDhInit(int msgType, LogBase& log);

    SshTranscript* m_trace = nullptr;
    Phase m_phase = Phase::kIdle;
    int m_replyMsg = 0;
    std::uint32_t m_groupSize = 0;
    DataBuffer m_outgoing;
    const char* m_outgoingLabel = "";
    const char* m_outgoingError = "";
};

} // namespace tessik
