// SSH packets and payloads from untrusted input: the packet reader under
// each kind of protection, then every payload parser on what it yields. The
// reader never hands out a payload over the inflate cap and stays failed
// once its stream is broken.
#include <cstdint>
#include <cstdlib>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/crypto/SymmetricCipher.h"
#include "netlib/transport/SshConstants.h"
#include "netlib/transport/SshHostKey.h"
#include "netlib/transport/SshKeyExchange.h"
#include "netlib/transport/SshPacketCodec.h"
#include "netlib/transport/SshTransport.h"

namespace {

using namespace tessik;

void require(bool ok) {
    if (!ok)
        std::abort();
}

void setUp(SshPacketReader& reader, unsigned char mode) {
    static const unsigned char kKey[32] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,
                                           17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32};
    const int ciphers[] = {kSshCipherNone, kSshCipherNone, kSshCipherAes128, kSshCipher3des, kSshCipherArcfour128};
    const int macs[] = {kSshMacNone, kSshMacNone, kSshMacSha1, kSshMacMd5, kSshMacNone};
    const int m = mode % 5;
    reader.cipherId = ciphers[m];
    reader.macId = macs[m];
    reader.compressionId = m == 1 ? kSshCompressZlib : kSshCompressNone;
    reader.newStream = m == 1;
    if (reader.cipherId != kSshCipherNone) {
        const SshKeyLengths lengths = sshGetKeyLengths(reader.cipherId);
        reader.crypt.setCryptAlgorithm(lengths.cryptAlgorithm);
        reader.crypt.setKeyLength(lengths.keyBits);
        reader.crypt.setSecretKeyBytes(kKey, lengths.keyBytes);
        reader.crypt.setIVBytes(kKey, lengths.ivBytes);
        reader.crypt.setCipherMode(kCipherModeCbc);
        reader.crypt.setPaddingScheme(kPadZeros);
        reader.crypt.setRc4Drop(true);
        reader.firstPacket = true;
        reader.blockSize = static_cast<unsigned int>(reader.crypt.getBlockSize());
    }
    if (reader.macId != kSshMacNone) {
        DataBuffer key;
        key.append(kKey, sizeof kKey);
        reader.crypt.setHashAlgorithm(reader.macId == kSshMacSha1 ? "sha1" : "md5");
        reader.crypt.SetHmacKeyBytes(key);
    }
}

void parseAll(const DataBuffer& payload) {
    LogNull log;
    std::uint32_t a = 0, b = 0;
    bool flag = false;
    StringBuffer sb;
    XString xs;
    DataBuffer out;
    unsigned int idx = 0;
    parseDisconnect(payload, a, sb, log);
    parseBanner(payload, xs, log);
    parseGlobalRequest(payload, xs, flag, log);
    parseChannelData(payload, a, out, log);
    parseExtendedData(payload, a, b, out, log);
    parseChannelRequest(payload, a, sb, idx);
    parseExitStatus(payload, a, flag, b);
    SshKeyExchange kex;
    kex.processServerKexinit(payload, log);
    RsaKey rsa;
    parseRsaHostKey(payload, rsa, log);
    DssKey dss;
    parseDssHostKey(payload, dss, log, false);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 300000)
        return 0;
    SshPacketReader reader;
    setUp(reader, data[0]);
    const unsigned int chunk = 1 + data[1] % 64;
    LogNull log;
    std::size_t at = 2;
    bool broken = false;
    while (at < size) {
        const unsigned int n = static_cast<unsigned int>(size - at < chunk ? size - at : chunk);
        unsigned int consumed = 0;
        const SshPacketReader::Step step = reader.feed(data + at, n, consumed, log, false);
        if (broken) {
            require(step == SshPacketReader::Step::kFailed && consumed == 0);
            break;
        }
        if (step == SshPacketReader::Step::kPacket) {
            require(reader.payload().getSize() <= kSshMaxInflatedPayload);
            parseAll(reader.payload());
        }
        if (step == SshPacketReader::Step::kFailed && reader.streamBroken())
            broken = true;
        if (consumed == 0 && step != SshPacketReader::Step::kFailed)
            break;
        at += consumed;
    }
    return 0;
}
