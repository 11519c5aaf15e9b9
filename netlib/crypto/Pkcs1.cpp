#include "netlib/crypto/Pkcs1.h"

#include <algorithm>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TessikRand.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "platform/ByteOrder.h"

namespace tessik {

namespace {

// 00, the block type, at least 8 padding bytes, 00.
constexpr std::uint32_t kV15Overhead = 11;
constexpr std::uint32_t kMinPadding = 8;
constexpr unsigned int kCounterBytes = 4;
constexpr unsigned int kMgfSpare = 32;
constexpr unsigned int kTagEncodeDbMask = 100;
constexpr unsigned int kTagEncodeSeedMask = 101;
constexpr unsigned int kTagDecodeSeedMask = 104;
constexpr unsigned int kTagDecodeDbMask = 105;
constexpr int kV15TypeEncrypt = 2;

// Reads positions of a block that may have lost its leading zero: position 0
// is then a virtual 00.
struct Positions {
    const unsigned char* block;
    std::uint32_t length; // counted with the virtual byte
    bool virtualZero;
    unsigned char at(std::uint32_t i) const {
        if (virtualZero)
            return i == 0 ? 0 : block[i - 1];
        return block[i];
    }
};

bool xorInto(DataBuffer& target, const DataBuffer& mask) {
    DataBuffer result;
    if (!result.setXorOf(target, mask))
        return false;
    target.clear();
    return target.append(result.getData(), result.getSize());
}

} // namespace

std::uint32_t pkcs1ModulusBytes(std::uint32_t modulusBits) {
    return modulusBits / 8 + (modulusBits % 8 != 0 ? 1 : 0);
}

bool pkcs1v15Encode(const unsigned char* message, std::uint32_t messageLength, int blockType, std::uint32_t modulusBits,
                    DataBuffer& out, LogBase& log) {
    out.clear();
    std::uint32_t k = pkcs1ModulusBytes(modulusBits);
    if (static_cast<std::uint64_t>(messageLength) + kV15Overhead > k) {
        log.logError("PKCS v1.5 message length too large");
        log.logDataLong("MessageLen", static_cast<int>(messageLength));
        log.logDataLong("ModulusLen", static_cast<int>(k));
        return false;
    }
    out.appendChar(0);
    out.appendChar(static_cast<unsigned char>(blockType & 0xFF));
    std::uint32_t padLength = k - messageLength - 3;
    if (blockType == 2) {
        DataBuffer padding;
        if (!TessikRand::randomNonZeroBytes(static_cast<int>(padLength), padding) || padding.getSize() != padLength) {
            log.logError("Failed to generate random padding");
            out.clear();
            return false;
        }
        out.append(padding.getData(), padLength);
    } else {
        out.appendCharRepeated(0xFF, padLength);
    }
    out.appendChar(0);
    if (messageLength != 0)
        out.append(message, messageLength);
    return true;
}

bool Pkcs1_5_decode(const unsigned char* block, std::uint32_t blockLength, int blockType, std::uint32_t modulusBits,
                    DataBuffer& out, LogBase& log) {
    LogContext context(log, "Pkcs1_5_decode");
    if (block == nullptr || blockLength == 0) {
        log.logError("PKCS v1.5 decode NULL input.");
        return false;
    }
    // A decryption fails in one way only, whatever broke, so that its
    // failures tell nothing about the plaintext.
    const bool decryption = blockType == kV15TypeEncrypt;
    auto refuse = [&](const char* why) {
        log.logError(decryption ? pkcs1_msg::kBadV15Padding : why);
        return false;
    };
    const std::uint32_t k = pkcs1ModulusBytes(modulusBits);
    if (k < kV15Overhead || (blockLength != k && blockLength + 1 != k)) {
        if (decryption)
            return refuse(nullptr);
        log.logError("Invalid PKCS v1.5 decode length");
        log.logDataLong("MessageLen", static_cast<int>(blockLength));
        log.logDataLong("ModulusLen", static_cast<int>(k));
        return false;
    }
    const Positions pos{block, k, blockLength + 1 == k};
    if (pos.at(0) != 0 || pos.at(1) != blockType)
        return refuse("Invalid PKCS v1.5 block type");
    // The padding runs to the first zero byte (type 2) or over 0xFF bytes
    // (type 1); the zero after it may be the block's last byte.
    std::uint32_t i = 2;
    while (i < k && (decryption ? pos.at(i) != 0 : pos.at(i) == 0xFF))
        ++i;
    const std::uint32_t psLength = i - 2;
    const char* broken = i >= k || pos.at(i) != 0 ? "Invalid PKCS v1.5 PS separator"
                         : psLength < kMinPadding ? "ps_len is too short for PKCS1.5 padding."
                                                  : nullptr;
    if (broken) {
        if (!decryption)
            log.logDataHex("PkcsData", block, blockLength);
        return refuse(broken);
    }
    const std::uint32_t first = i + 1;
    out.append(block + first - (pos.virtualZero ? 1 : 0), k - first);
    return true;
}

bool pkcs1Mgf1(unsigned int callTag, int hashId, const unsigned char* seed, std::uint32_t seedLength,
               std::uint32_t maskLength, DataBuffer& out, LogBase& log) {
    out.clear();
    if (seed == nullptr || seedLength == 0 || maskLength == 0) {
        log.logError("NULL input param in Mask Generation Function");
        log.logDataLong("MgfError", static_cast<int>(callTag));
        return false;
    }
    DataBuffer work;
    if (!work.ensureCapacity(seedLength + kMgfSpare)) {
        log.logError("Memory error");
        log.logDataLong("SeedLen", static_cast<int>(seedLength));
        return false;
    }
    work.append(seed, seedLength);
    work.appendCharRepeated(0, kCounterBytes);
    unsigned char* counterBytes = work.getData() + seedLength;
    for (std::uint32_t counter = 0; out.getSize() < maskLength; ++counter) {
        platform::StoreBe32(counterBytes, counter);
        DataBuffer digest;
        hashBytes(work.getData(), seedLength + kCounterBytes, hashId, digest);
        if (digest.getSize() == 0) {
            log.logError("No digest for the Mask Generation Function");
            out.clear();
            return false;
        }
        std::uint32_t wanted = maskLength - out.getSize();
        out.append(digest.getData(), digest.getSize() < wanted ? digest.getSize() : wanted);
    }
    return true;
}

bool oaepEncode(const unsigned char* message, std::uint32_t messageLength, const unsigned char* label,
                std::uint32_t labelLength, std::uint32_t modulusBits, int hashId, DataBuffer& out, LogBase& log) {
    out.clear();
    if (message == nullptr) {
        log.logError("null input to OAEP encoder");
        return false;
    }
    const std::uint32_t hLen = static_cast<std::uint32_t>(hashDigestLength(hashId));
    const std::uint32_t k = pkcs1ModulusBytes(modulusBits);
    if (k < 2 || 2 * hLen >= k - 2) {
        log.logError("Encoded message size too small given hash size in OAEP");
        log.logDataLong("EncodedLen", static_cast<int>(k));
        log.logDataLong("HashLen", static_cast<int>(hLen));
        return false;
    }
    if (messageLength > k - 2 * hLen - 2) {
        log.logError("Message length too large for OAEP");
        log.logDataLong("EncodedLen", static_cast<int>(k));
        log.logDataLong("HashLen", static_cast<int>(hLen));
        log.logDataLong("MessageLen", static_cast<int>(messageLength));
        return false;
    }
    DataBuffer db;
    hashBytes(label != nullptr ? static_cast<const void*>(label) : "", label != nullptr ? labelLength : 0, hashId, db);
    db.appendCharRepeated(0, k - 2 * hLen - messageLength - 2);
    db.appendChar(1);
    db.append(message, messageLength);

    DataBuffer seed;
    TessikRand::randomBytes(static_cast<int>(hLen), seed);
    DataBuffer dbMask;
    if (pkcs1Mgf1(kTagEncodeDbMask, hashId, seed.getData(), seed.getSize(), k - hLen - 1, dbMask, log))
        xorInto(db, dbMask);
    DataBuffer seedMask;
    if (pkcs1Mgf1(kTagEncodeSeedMask, hashId, db.getData(), db.getSize(), hLen, seedMask, log))
        xorInto(seed, seedMask);
    out.appendChar(0);
    out.append(seed.getData(), seed.getSize());
    out.append(db.getData(), db.getSize());
    if (out.getSize() != k) {
        log.logError("OAEP encoding output size error");
        log.logDataLong("OutputSize", static_cast<int>(out.getSize()));
        log.logDataLong("ExpectedSize", static_cast<int>(k));
        out.clear();
        return false;
    }
    return true;
}

bool oaepDecode(const unsigned char* block, std::uint32_t blockLength, const unsigned char* label,
                std::uint32_t labelLength, std::uint32_t modulusBits, int hashId, DataBuffer& out, LogBase& log) {
    const std::uint32_t hLen = static_cast<std::uint32_t>(hashDigestLength(hashId));
    const std::uint32_t k = pkcs1ModulusBytes(modulusBits);
    bool virtualZero = blockLength + 1 == k;
    std::uint32_t counted = virtualZero ? k : blockLength;
    if (block == nullptr || k < 2 || 2 * hLen >= k - 2 || counted != k) {
        log.logError("Invalid OAEP hash / message size");
        log.logDataLong("MessageLen", static_cast<int>(counted));
        log.logDataLong("HashLen", static_cast<int>(hLen));
        log.logDataLong("ModulusLen", static_cast<int>(k));
        return false;
    }
    if (!virtualZero && block[0] != 0) {
        log.logError("No leading zero byte for OAEP decoding.");
        return false;
    }
    const unsigned char* body = virtualZero ? block : block + 1; // position 1 onwards
    DataBuffer seed;
    seed.append(body, hLen);
    DataBuffer db;
    db.append(body + hLen, k - hLen - 1);
    DataBuffer seedMask;
    if (pkcs1Mgf1(kTagDecodeSeedMask, hashId, db.getData(), db.getSize(), hLen, seedMask, log))
        xorInto(seed, seedMask);
    DataBuffer dbMask;
    if (pkcs1Mgf1(kTagDecodeDbMask, hashId, seed.getData(), seed.getSize(), k - hLen - 1, dbMask, log))
        xorInto(db, dbMask);
    DataBuffer lHash;
    hashBytes(label != nullptr ? static_cast<const void*>(label) : "", label != nullptr ? labelLength : 0, hashId,
              lHash);
    if (lHash.getSize() < hLen || !std::equal(db.getData(), db.getData() + hLen, lHash.getData())) {
        log.logError("OAEP padding hash mismatch");
        return false;
    }
    std::uint32_t i = hLen;
    while (i < db.getSize() && db.getData()[i] == 0)
        ++i;
    if (i >= db.getSize() || db.getData()[i] != 1) {
        log.logError("0x01 byte not found in OAEP padding");
        return false;
    }
    ++i;
    if (i < db.getSize())
        out.append(db.getData() + i, db.getSize() - i);
    return true;
}

} // namespace tessik
