#pragma once
// The pipeline stage that deflates what passes through it (raw deflate),
// with the CRC-32 and, on request, the RFC 1950 checksum of its input, and
// traditional zip encryption of its output when the crypt parameters ask.
#include <cstdint>
#include <memory>

#include "netlib/streams/DataProcessor.h"
#include "netlib/streams/ZeeStream.h"

namespace tessik {

class DeflateProcessor : public DataProcessor {
public:
    DeflateProcessor();
    ~DeflateProcessor() override;

    void setLevel(int level) { m_level = level; }
    void setComputeCrc(bool on) { m_computeCrc = on; }
    // Also turns on the RFC 1950 checksum of the input.
    void setKeepChecksum(bool on) { m_keepChecksum = on; }
    void setKeepCrc(bool keep) { m_keepCrc = keep; }

    const char* getProcessorName() const override;
    void beginProcessing() override;
    void endProcessing() override;
    int processChunk(LogBase* log) override;
    // Slot 2 of a stage reports the bytes it took in.
    std::uint64_t getNumBytesWritten64() override { return m_bytesIn; }
    std::uint64_t getNumBytesHeld64() override;

    // The check CRC when encrypting, else the CRC of the input.
    std::uint32_t getCrc() const;
    std::uint32_t getChecksum() const { return m_checksum; }
    std::uint64_t getNumBytesOut64() const { return m_bytesOut; }

private:
    // Takes in `n` bytes from `data` into the input's CRC and checksum.
    void takeIn(const unsigned char* data, std::uint32_t n);
    // One deflate step over `input`; returns the bytes it consumed.
    int deflateStep(const unsigned char* input, std::uint32_t available, bool finish, std::uint32_t& consumed,
                    LogBase* log);
    int passOutput(LogBase* log);
    int processFromRing(LogBase* log);

    int m_level;
    std::unique_ptr<ZeeStream> m_stream;
    const unsigned char* m_nextIn;
    std::uint32_t m_inAvailable;
    bool m_deflateFinished;
    std::unique_ptr<unsigned char[]> m_output;
    std::uint32_t m_pendingOut;
    std::uint32_t m_pendingOutDone;
    PwdProtect m_cipher;
    std::uint64_t m_bytesIn;
    std::uint64_t m_bytesOut;
    std::uint32_t m_crcResult;
    std::uint32_t m_checksum;
    bool m_computeCrc;
    bool m_keepChecksum;
    ZipCRC m_zipCrc;
    bool m_keepCrc;
};

} // namespace tessik
