#include "netlib/transport/SshKeyExchange.h"

#include <strings.h>

#include <initializer_list>
#include <memory>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikRand.h"
#include "netlib/crypto/Rsa.h"
#include "netlib/crypto/Sha1.h"
#include "netlib/crypto/Sha2.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshEncoding.h"
#include "netlib/transport/SshHostKey.h"
#include "netlib/transport/SshPacketCodec.h"
#include "netlib/transport/SshTranscript.h"

namespace tessik {

namespace {

// Packets are whole blocks, so this scheme never adds a byte: the packet
// layer pads for itself.
constexpr PaddingScheme kPaddingNone = kPadZeros;
constexpr unsigned int kShortenBy = 4;
constexpr unsigned int kMinIncomingBlock = 4;
constexpr std::uint32_t kBaseGroupBits = 512;
constexpr std::uint32_t kBitsPerStep = 64;
constexpr int kDhGroup1 = 2;
constexpr int kNameLists = 10;

struct Choice {
    const char* name;
    int id;
    const char* info;
};

constexpr Choice kCipherChoices[] = {
    {"aes256-cbc", kSshCipherAes256, "Encryption: 256-bit AES"},
    {"aes128-cbc", kSshCipherAes128, "Encryption: 128-bit AES"},
    {"twofish256-cbc", kSshCipherTwofish256, "Encryption: 256-bit Twofish"},
    {"twofish128-cbc", kSshCipherTwofish128, "Encryption: 128-bit Twofish"},
    {"blowfish-cbc", kSshCipherBlowfish, "Encryption: Blowfish"},
    {"3des-cbc", kSshCipher3des, "Encryption: 3DES"},
    {"arcfour128", kSshCipherArcfour128, "Encryption: arcfour128"},
    {"arcfour256", kSshCipherArcfour256, "Encryption: arcfour256"},
};
constexpr Choice kMacChoices[] = {
    {"hmac-sha1", kSshMacSha1, "MAC: HMAC-SHA1"},
    {"hmac-md5", kSshMacMd5, "MAC: HMAC-MD5"},
};
constexpr Choice kCompressChoices[] = {
    {"zlib", kSshCompressZlib, "Compression: zlib"},
    {"none", kSshCompressNone, "Compression: none"},
};
constexpr Choice kKexChoices[] = {
    {"diffie-hellman-group-exchange-sha256", kSshKexGexSha256, "Key Exchange: DH Group Exchange SHA256"},
    {"diffie-hellman-group-exchange-sha1", kSshKexGexSha1, "Key Exchange: DH Group Exchange SHA1"},
    {"diffie-hellman-group1-sha1", kSshKexGroup1, "Key Exchange: DH Group 1"},
    {"diffie-hellman-group14-sha1", kSshKexGroup14, "Key Exchange: DH Group 14"},
};
constexpr Choice kRsaChoice = {"ssh-rsa", kSshHostKeyRsa, "Host Key Algorithm: RSA"};
constexpr Choice kDssChoice = {"ssh-dss", kSshHostKeyDss, "Host Key Algorithm: DSS"};

const SshKeyLengths kKeyLengths[] = {
    {16, 16, 256, "none", "Outgoing encryption is now NONE"},
    {16, 32, 256, "aes", "Outgoing encryption is now AES 256"},
    {16, 16, 128, "aes", "Outgoing encryption is now AES 128"},
    {16, 32, 256, "twofish", "Outgoing encryption is now Twofish 256"},
    {16, 16, 128, "twofish", "Outgoing encryption is now Twofish 128"},
    {8, 16, 128, "blowfish2", "Outgoing encryption is now Blowfish 256"},
    {8, 24, 192, "3des", "Outgoing encryption is now 3DES"},
    {0, 16, 128, "rc4", "Outgoing encryption is now arcfour128"},
    {0, 32, 256, "rc4", "Outgoing encryption is now arcfour256"},
};

bool listHolds(const ExtPtrArray& list, const char* name) {
    for (int i = 0; i < list.getCount(); ++i) {
        auto* sb = static_cast<StringBuffer*>(list.elementAt(i));
        if (sb && strcasecmp(sb->getString(), name) == 0)
            return true;
    }
    return false;
}

// The first of the client's choices the server also lists, or null.
const Choice* choose(std::initializer_list<const Choice*> client, const ExtPtrArray& server) {
    for (const Choice* c : client) {
        if (listHolds(server, c->name))
            return c;
    }
    return nullptr;
}

bool agree(const Choice* c, int& id, const char* failure, LogBase& log) {
    if (c == nullptr) {
        log.logError(failure);
        return false;
    }
    id = c->id;
    log.logInfo(c->info);
    return true;
}

template <std::size_t N>
const Choice* chooseFrom(const Choice (&table)[N], const ExtPtrArray& server, bool skipFirst = false) {
    for (std::size_t i = skipFirst ? 1 : 0; i < N; ++i) {
        if (listHolds(server, table[i].name))
            return &table[i];
    }
    return nullptr;
}

void appendString(DataBuffer& out, const DataBuffer& bytes) {
    sshAppendBytesString(out, bytes.getData(), bytes.getSize());
}

void appendNameList(DataBuffer& out, const char* names) {
    sshAppendCString(out, names);
}

} // namespace

SshKeyLengths sshGetKeyLengths(int cipherId) {
    if (cipherId < 0 || cipherId > kSshCipherArcfour256)
        cipherId = kSshCipherNone;
    return kKeyLengths[cipherId];
}

unsigned int sshMacKeyLength(int macId) {
    return macId == kSshMacSha1 ? kSshMacSha1Size : kSshMacMd5Size;
}

SshKeyExchange::SshKeyExchange() = default;

SshKeyExchange::~SshKeyExchange() {
    wordBignumFree(f);
    for (DataBuffer& k : keys)
        k.secureClear();
}

void SshKeyExchange::setVersions(const char* client, const char* server) {
    clientVersion.setString(client);
    serverVersion.setString(server);
}

void SshKeyExchange::trace(const char* note) {
    if (m_trace)
        m_trace->traceText(kTraceNote, note, kTraceEol);
}

void SshKeyExchange::clearOutgoing() {
    m_outgoing.clear();
    m_outgoingLabel = "";
    m_outgoingError = "";
}

void SshKeyExchange::setOutgoing(const char* label, const char* error) {
    m_outgoingLabel = label;
    m_outgoingError = error;
}

void SshKeyExchange::buildKexInit(DataBuffer& payload) {
    payload.clear();
    payload.appendChar(kSshMsgKexInit);
    clientCookie.clear();
    TessikRand::randomBytes(kSshCookieSize, clientCookie);
    payload.appendDb(clientCookie);
    appendNameList(payload, kSshNamesKex);
    appendNameList(payload, preferRsa ? kSshNamesHostKeyRsaFirst : kSshNamesHostKeyDssFirst);
    appendNameList(payload, kSshNamesCiphers);
    appendNameList(payload, kSshNamesCiphers);
    appendNameList(payload, kSshNamesMacs);
    appendNameList(payload, kSshNamesMacs);
    const char* compress = allowCompression ? kSshNamesCompressZlib : kSshNamesCompressNone;
    appendNameList(payload, compress);
    appendNameList(payload, compress);
    appendNameList(payload, "");
    appendNameList(payload, "");
    payload.appendChar(0);
    sshAppendUint32(payload, 0);
    clientKexInit.clear();
    clientKexInit.appendDb(payload);
}

bool SshKeyExchange::processServerKexinit(const DataBuffer& payload, LogBase& log) {
    serverKexInit.clear();
    serverKexInit.appendDb(payload);
    if (payload.getSize() == 0)
        return false;
    if (payload.getData()[0] != kSshMsgKexInit) {
        log.logError("Unexpected message received.  Expected KEXINIT.");
        log.logData("msgType", sshMessageName(payload.getData()[0]));
        log.logDataHex("payload", payload.getData(), payload.getSize());
        return false;
    }
    static const char* const kTraces[] = {
        "Key Algorithms: ", "Host Key Algorithms: ", "Out Encryption: ", "In Encryption: ", "Out MAC: ",
        "In MAC: ",         "Out Compress: ",        "In Compress: "};
    static const char* const kContexts[kNameLists] = {"KeyExchangeAlgs", "HostKeyAlgs", "EncCS",  "EncSC",  "MacCS",
                                                      "MacSC",           "CompCS",      "CompSC", "LangCS", "LangSC"};
    ExtPtrArray lists[kNameLists];
    unsigned int idx = 1 + kSshCookieSize;
    bool parsed = payload.getSize() >= idx;
    int got = 0;
    for (; parsed && got < kNameLists; ++got) {
        StringBuffer text;
        if (!sshReadShortString(payload, idx, text)) {
            parsed = false;
            break;
        }
        lists[got].setOwnsObjects(true);
        text.split(lists[got], ',', true, true);
        if (got < static_cast<int>(sizeof kTraces / sizeof kTraces[0]) && m_trace) {
            StringBuffer note;
            note.append(kTraces[got]);
            note.append(text.getString());
            m_trace->traceLine(kTraceNote, note.getString());
        }
    }
    unsigned char follows = 0;
    if (parsed && !sshReadByte(payload, idx, follows))
        parsed = false;
    for (int i = 0; i < got; ++i) {
        LogContext context(log, kContexts[i]);
        for (int j = 0; j < lists[i].getCount(); ++j)
            log.logData("algorithm", static_cast<StringBuffer*>(lists[i].elementAt(j))->getString());
    }
    if (!parsed) {
        log.logError("Error in KEXINIT message from server");
        return false;
    }

    kexAlg = hostKeyAlg = 0;
    pendingCipherOut = pendingCipherIn = pendingMacOut = pendingMacIn = 0;
    pendingCompressOut = pendingCompressIn = 0;
    bool ok = true;
    ok &= agree(chooseFrom(kCipherChoices, lists[3]), pendingCipherIn,
                "Unable to agree upon server-to-client encryption algorithm.", log);
    ok &= agree(chooseFrom(kCipherChoices, lists[2]), pendingCipherOut,
                "Unable to agree upon client-to-server encryption algorithm.", log);
    ok &= agree(chooseFrom(kMacChoices, lists[5]), pendingMacIn, "Unable to agree upon server-to-client MAC algorithm.",
                log);
    ok &= agree(chooseFrom(kMacChoices, lists[4]), pendingMacOut,
                "Unable to agree upon client-to-server MAC algorithm.", log);
    ok &= agree(chooseFrom(kCompressChoices, lists[7], !allowCompression), pendingCompressIn,
                "Unable to agree upon server-to-client compression algorithm.", log);
    ok &= agree(chooseFrom(kCompressChoices, lists[6], !allowCompression), pendingCompressOut,
                "Unable to agree upon client-to-server compression algorithm.", log);
    ok &= agree(chooseFrom(kKexChoices, lists[0]), kexAlg, "Unable to agree upon key exchange algorithm.", log);
    const Choice* hostKey =
        preferRsa ? choose({&kRsaChoice, &kDssChoice}, lists[1]) : choose({&kDssChoice, &kRsaChoice}, lists[1]);
    ok &= agree(hostKey, hostKeyAlg, "Unable to agree upon host key algorithm.", log);
    return ok;
}

void SshKeyExchange::getGroupExchangeSizes(std::uint32_t& bits, std::uint32_t& groupSize) const {
    switch (pendingCipherOut) {
    case kSshCipherAes256:
    case kSshCipherTwofish256:
    case kSshCipherArcfour256: bits = 256; break;
    case kSshCipher3des: bits = 192; break;
    default: bits = 128; break;
    }
    const std::uint32_t cap = kexAlg == kSshKexGexSha256 ? 256 : 160;
    if (bits > cap)
        bits = cap;
    groupSize = kBaseGroupBits << ((bits - 1) / kBitsPerStep);
}

bool SshKeyExchange::sendDhInit(int msgType, LogBase& log) {
    std::uint32_t bits = 0, groupSize = 0;
    getGroupExchangeSizes(bits, groupSize);
    if (bits == 0 || bits > kSshMaxExponentBits) {
        log.logError("Invalid number of bits for e.");
        log.logDataLong("kex_numBits", static_cast<int>(bits));
        return false;
    }
    if (!dh.generateKeyPair(2 * bits))
        return false;
    clearOutgoing();
    m_outgoing.appendChar(static_cast<unsigned char>(msgType));
    sshAppendMpint(m_outgoing, dh.e);
    setOutgoing("KEXDH_INIT", "Error sending e to server");
    m_phase = Phase::kAwaitReply;
    return true;
}

bool SshKeyExchange::beginDiffieHellman(LogBase& log) {
    std::uint32_t bits = 0;
    getGroupExchangeSizes(bits, m_groupSize);
    log.logDataLong("numBits", static_cast<int>(bits));
    log.logDataLong("pbits", static_cast<int>(m_groupSize));
    if (kexAlg == kSshKexGexSha256 || kexAlg == kSshKexGexSha1) {
        m_replyMsg = kSshMsgKexDhGexReply;
        // min, preferred and max (RFC 4419 section 3): every server knows
        // this form; OpenSSH refuses the old one with the preferred size alone.
        log.logInfo("Sending KEX_DH_GEX_REQUEST...");
        log.logDataLong("kex_pbits", static_cast<int>(m_groupSize));
        clearOutgoing();
        m_outgoing.appendChar(kSshMsgKexDhGexRequest);
        sshAppendUint32(m_outgoing, kSshMinGroupBits);
        sshAppendUint32(m_outgoing, m_groupSize);
        sshAppendUint32(m_outgoing, kSshMaxGroupBits);
        setOutgoing("KEX_DH_GEX_REQUEST", "Error sending KEX_DH_GEX_REQUEST message to server");
        m_phase = Phase::kAwaitGroup;
        return true;
    }
    m_replyMsg = kSshMsgKexDhReply;
    dh.setGroup(kexAlg == kSshKexGroup14 ? kSshKexGroup14 : kDhGroup1);
    return sendDhInit(kSshMsgKexDhInit, log);
}

bool SshKeyExchange::takeGroup(const DataBuffer& payload, LogBase& log) {
    log.logInfo("Received KEX_DH_GEX_GROUP");
    unsigned int idx = 1;
    WordBignum p = nullptr, g = nullptr;
    if (!sshReadMpint(payload, idx, &p, log) || !sshReadMpint(payload, idx, &g, log)) {
        wordBignumFree(p);
        wordBignumFree(g);
        log.logError("Failed to parse KEX_DH_GEX_GROUP.");
        return false;
    }
    // The prime must be an odd number of a size the exchange can trust, the
    // generator inside 1 < g < p - 1.
    const std::uint32_t pBits = wordBignumBitLength(p);
    WordBignum pMinusOne = wordBignumCopy(p);
    wordBignumSetBit(pMinusOne, 0, false);
    static const unsigned char kOne = 1;
    WordBignum one = wordBignumFromBytes(&kOne, 1);
    const bool acceptable = dhPrimeBounded(p, log) && pBits >= kSshMinGroupBits && pBits <= kSshMaxGroupBits &&
                            (p[1] & 1u) != 0 && wordBignumCompare(g, one) > 0 && wordBignumCompare(g, pMinusOne) < 0;
    wordBignumFree(pMinusOne);
    wordBignumFree(one);
    if (!acceptable) {
        wordBignumFree(p);
        wordBignumFree(g);
        log.logError(kSshMsgBadGroup);
        log.logDataLong("groupBits", static_cast<int>(pBits));
        return false;
    }
    dh.setPrime(p);
    dh.setGenerator(g);
    return sendDhInit(kSshMsgKexDhGexInit, log);
}

void SshKeyExchange::hash(const DataBuffer& in, DataBuffer& out) const {
    if (hashIsSha256())
        Sha2::digestSha256Db(in, out);
    else
        Sha1().digestDb(in, out);
}

bool SshKeyExchange::computeExchangeHash(int replyMsgType, std::uint32_t groupSize, LogBase& log, bool verbose) {
    if (verbose) {
        log.enterContext("computeExchangeHash", true);
        log.logDataLong("dhReplyMsgType", replyMsgType);
        StringBuffer shown;
        shown.append("[");
        shown.append(serverVersion.getString());
        shown.append("]");
        log.logData("serverVersion", shown.getString());
    }
    DataBuffer in;
    sshAppendBytesString(in, clientVersion.getString(), static_cast<std::uint32_t>(clientVersion.getSize()));
    sshAppendBytesString(in, serverVersion.getString(), static_cast<std::uint32_t>(serverVersion.getSize()));
    appendString(in, clientKexInit);
    appendString(in, serverKexInit);
    appendString(in, hostKeyBlob);
    if (replyMsgType == kSshMsgKexDhGexReply) {
        sshAppendUint32(in, kSshMinGroupBits);
        sshAppendUint32(in, groupSize);
        sshAppendUint32(in, kSshMaxGroupBits);
        sshAppendMpint(in, dh.p);
        sshAppendMpint(in, dh.g);
    }
    sshAppendMpint(in, dh.e);
    sshAppendMpint(in, f);
    sshAppendMpint(in, dh.K);
    log.logInfo(hashIsSha256() ? "Using SHA256 for Exchange Hash" : "Using SHA-1 for Exchange Hash");
    exchangeHash.clear();
    hash(in, exchangeHash);
    in.secureClear();
    if (verbose)
        log.leaveContext();
    return true;
}

bool SshKeyExchange::deriveKey(char letter, unsigned int need, DataBuffer& out) const {
    out.secureClear();
    if (need == 0)
        return true;
    DataBuffer prefix;
    sshAppendMpint(prefix, dh.K);
    prefix.appendDb(exchangeHash);
    DataBuffer in;
    in.appendDb(prefix);
    in.appendChar(static_cast<unsigned char>(letter));
    in.appendDb(sessionId);
    DataBuffer material;
    hash(in, material);
    for (int round = 0; round < 2 && material.getSize() < need; ++round) {
        in.secureClear();
        in.appendDb(prefix);
        in.appendDb(material);
        DataBuffer more;
        hash(in, more);
        material.appendDb(more);
    }
    in.secureClear();
    prefix.secureClear();
    if (material.getSize() < need) {
        material.secureClear();
        return false;
    }
    out.append(material.getData(), need);
    material.secureClear();
    return true;
}

bool SshKeyExchange::deriveSessionKeys(LogBase& log) {
    (void)log;
    const SshKeyLengths out = sshGetKeyLengths(pendingCipherOut);
    const SshKeyLengths in = sshGetKeyLengths(pendingCipherIn);
    deriveKey('A', out.ivBytes, keys[kIvOut]);
    deriveKey('B', in.ivBytes, keys[kIvIn]);
    deriveKey('C', out.keyBytes, keys[kKeyOut]);
    deriveKey('D', in.keyBytes, keys[kKeyIn]);
    deriveKey('E', sshMacKeyLength(pendingMacOut), keys[kMacOut]);
    deriveKey('F', sshMacKeyLength(pendingMacIn), keys[kMacIn]);
    return true;
}

bool SshKeyExchange::verifyHostKey(LogBase& log, bool verbose) {
    hostKeyFingerprint.clear();
    if (hostKeyAlg == kSshHostKeyRsa) {
        RsaKey key;
        if (!parseRsaHostKey(hostKeyBlob, key, log)) {
            log.logError("Failed to parse RSA host key");
            return false;
        }
        log.logInfo("RSA host key parsed successfully.");
        rsaFingerprint(key, hostKeyBlob, hostKeyFingerprint);
        if (!verifyRsaSignature(key, signatureBlob.getData(), signatureBlob.getSize(), exchangeHash.getData(),
                                exchangeHash.getSize(), log)) {
            log.logError("RSA signature verification failure.");
            return false;
        }
        if (verbose) {
            log.logInfo("RSA signature is valid.");
            log.logDataHex("rsa_key", hostKeyBlob.getData(), hostKeyBlob.getSize());
            log.logDataHex("sigH", signatureBlob.getData(), signatureBlob.getSize());
            log.logDataHex("exchangeHash", exchangeHash.getData(), exchangeHash.getSize());
            trace("RSA signature verified");
        }
        return true;
    }
    DssKey key;
    if (!parseDssHostKey(hostKeyBlob, key, log, verbose)) {
        log.logError("Failed to parse DSS host key");
        return false;
    }
    log.logInfo("DSS host key parsed successfully.");
    dssFingerprint(key, hostKeyBlob, hostKeyFingerprint);
    const bool valid = dssVerifySig(key, signatureBlob.getData(), signatureBlob.getSize(), exchangeHash.getData(),
                                    exchangeHash.getSize(), log, verbose);
    if (!valid || verbose) {
        log.logDataHex("dss_key", hostKeyBlob.getData(), hostKeyBlob.getSize());
        log.logDataHex("sigH", signatureBlob.getData(), signatureBlob.getSize());
        log.logDataHex("exchangeHash", exchangeHash.getData(), exchangeHash.getSize());
    }
    if (!valid) {
        log.logError("DSS signature verification failure. (2)");
        return false;
    }
    if (verbose) {
        log.logInfo("DSS signature is valid.");
        trace("DSS signature verified");
    }
    return true;
}

bool SshKeyExchange::takeReply(const DataBuffer& payload, int msgType, LogBase& log, bool verbose) {
    unsigned int idx = 1;
    hostKeyBlob.clear();
    signatureBlob.clear();
    wordBignumFree(f);
    f = nullptr;
    if (!sshReadString(payload, idx, hostKeyBlob, log) || !sshReadMpint(payload, idx, &f, log) ||
        !sshReadString(payload, idx, signatureBlob, log)) {
        log.logError("Failed to parse server host key.");
        return false;
    }
    // A value of f that gives a guessable secret (0, 1, p - 1, not below p)
    // ends the exchange.
    if (!dh.computeSharedSecret(f)) {
        log.logError(kSshMsgSharedSecretFailed);
        return false;
    }
    computeExchangeHash(msgType, m_groupSize, log, verbose);
    if (!verifyHostKey(log, verbose))
        return false;
    if (sessionId.getSize() == 0)
        sessionId.appendDb(exchangeHash);
    deriveSessionKeys(log);
    clearOutgoing();
    m_outgoing.appendChar(kSshMsgNewKeys);
    setOutgoing("NEWKEYS", "Error sending newkeys to server");
    m_phase = Phase::kAwaitNewKeys;
    return true;
}

namespace {

void configureDirection(SshDirection& d, int cipherId, const DataBuffer& key, const DataBuffer& iv,
                        const DataBuffer& macKey, bool shorten, LogBase& log) {
    const SshKeyLengths lengths = sshGetKeyLengths(cipherId);
    d.crypt.setCryptAlgorithm(lengths.cryptAlgorithm);
    d.crypt.setKeyLength(lengths.keyBits);
    d.crypt.setSecretKey(key);
    d.crypt.setCipherMode(kCipherModeCbc);
    d.crypt.setIV(iv);
    d.crypt.setPaddingScheme(kPaddingNone);
    d.crypt.setRc4Drop(cipherId == kSshCipherArcfour128 || cipherId == kSshCipherArcfour256);
    if (d.macId == kSshMacSha1) {
        DataBuffer k;
        k.appendDb(macKey);
        if (shorten && k.getSize() > kShortenBy) {
            k.shorten(kShortenBy);
            log.logInfo("Shortened HMAC key by 4 bytes for buggy server.");
            log.logDataLong("HMAC_keylen", static_cast<int>(k.getSize()));
        }
        d.crypt.setHashAlgorithm("sha1");
        d.crypt.SetHmacKeyBytes(k);
        k.secureClear();
    } else if (d.macId == kSshMacMd5) {
        d.crypt.setHashAlgorithm("md5");
        d.crypt.SetHmacKeyBytes(macKey);
    }
}

} // namespace

void SshKeyExchange::switchToNewKeys(SshPacketWriter& out, SshPacketReader& in, LogBase& log) {
    out.macId = pendingMacOut;
    in.macId = pendingMacIn;
    out.cipherId = pendingCipherOut;
    in.cipherId = pendingCipherIn;
    out.compressionId = pendingCompressOut;
    in.compressionId = pendingCompressIn;
    if (out.compressionId == kSshCompressZlib)
        out.newStream = true;
    if (in.compressionId == kSshCompressZlib)
        in.newStream = true;

    log.logInfo(sshGetKeyLengths(out.cipherId).switchMessage);
    configureDirection(out, out.cipherId, keys[kKeyOut], keys[kIvOut], keys[kMacOut], shortenedHmacKey, log);
    configureDirection(in, in.cipherId, keys[kKeyIn], keys[kIvIn], keys[kMacIn], shortenedHmacKey, log);
    const int block = in.cipherId == kSshCipherNone ? 0 : in.crypt.getBlockSize();
    if (block == 0) {
        log.logError("Encryption algorithm block size was 0?");
        in.blockSize = kMinIncomingBlock;
    } else {
        in.blockSize = static_cast<unsigned int>(block);
    }
    out.firstPacket = true;
    in.firstPacket = true;
    m_phase = Phase::kIdle;
}

} // namespace tessik
