#pragma once
// Vector files, hex and the reference peers shared by the cryptography tests.
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"

namespace tessik {
class ChainedBlockCipher;
}

namespace cryptotest {

using Record = std::map<std::string, std::string>;

std::string hex(const void* p, std::size_t n);
std::string hex(const tessik::DataBuffer& db);
std::string hex(const std::string& bytes);
std::string unhex(const std::string& hex);
std::string dataPath(const std::string& name);
std::string randomBytes(std::mt19937& rng, std::size_t n);

// What the cipher helpers give for a call that returned no buffer.
inline const std::string kFailed = "<failed>";
// The bytes of a cipher's result, kFailed for null.
std::string str(const tessik::DataBuffer* db);

struct Bytes : tessik::DataBuffer {
    explicit Bytes(const std::string& s) { append(s.data(), static_cast<unsigned int>(s.size())); }
};

// Runs a block cipher's chunk entry points as the crypt component does, the
// data cut at `cuts`: partial blocks are carried; a decryption keeps its last
// block back for the last call, which removes the padding. A run whose first
// call is also its last is one whole-buffer call.
std::string chunkedRun(tessik::ChainedBlockCipher& c, bool encrypt, const std::string& data,
                       const std::vector<std::size_t>& cuts);

// "Name = value" files (CAVP responses, the RFC HMAC files): one record per
// value of `last`, holding every name seen since the previous record.
std::vector<Record> readRecords(const std::string& file, const std::string& last);
// "message" digest lines of the RFC 1319/1320/1321 suites.
std::vector<std::pair<std::string, std::string>> readQuotedSuite(const std::string& file);

// Hex digests of `files` by `command` (given the file names as arguments);
// openssl's "-r" lines and nettle-hash's grouped lines are both understood.
std::vector<std::string> peerDigests(const std::string& command, const std::vector<std::string>& files);

} // namespace cryptotest

namespace cryptotest {

// NIST CAVP cipher responses (AESAVS, TMOVS): one record per COUNT, with the
// section ("ENCRYPT" or "DECRYPT") under the name "section". An absolute
// path is read as it is; others are under tests/data/crypto.
std::vector<Record> readCavp(const std::string& file);
// The installed python3-cryptography-vectors cipher files.
std::string cipherVectorPath(const std::string& relative);

// A byte string's bytes and length, as the public-key routines take them.
inline const unsigned char* u(const std::string& s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}
inline std::uint32_t len(const std::string& s) {
    return static_cast<std::uint32_t>(s.size());
}

// Every line a routine logs, as "E:text", "I:text" or "D:tag=value".
class LineLog : public tessik::LogBase {
public:
    bool logError(const char* text) override;
    bool logInfo(const char* text) override;
    bool logData(const char* tag, const char* value) override;
    bool logDataLong(const char* tag, int value) override;
    bool has(const std::string& line) const;
    std::string all() const;
    std::vector<std::string> lines;
};

// The "# Label:" sections of the PKCS#1 vector files, in order, each with
// the bytes of the hex lines below it.
std::vector<std::pair<std::string, std::string>> readLabelledHex(const std::string& file);

} // namespace cryptotest
