#pragma once
// Data pipelines: a source, a chain of processing stages (deflate, CRC, zip
// decryption or encryption) and a sink. Each stage is itself a sink with a
// bounded ring the previous stage writes into, and writes no more into the
// next than that one says it can take; the rest waits for the next pass.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/ZipCRC.h"
#include "netlib/streams/DataSink.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/PwdProtect.h"

namespace tessik {

// How an entry is encrypted. The stages here act only on kCryptNone with
// passwordProtect set: traditional zip encryption.
class ZipCryptParams {
public:
    static constexpr int kCryptNone = 0;
    static constexpr int kCryptWinZipAes = 4;

    ZipCryptParams();
    virtual ~ZipCryptParams();

    // All five as they are; the password keeps its spaces, since the side
    // that decrypts uses it as given.
    void copyFrom(const ZipCryptParams& other);
    bool isEncrypting() const { return passwordProtect; }
    // Encrypting, and with the traditional cipher this stage applies.
    bool appliesTraditionalCipher() const { return passwordProtect && encryption == kCryptNone; }

    int encryption;
    int keyLengthBits;
    StringBuffer password;
    bool passwordProtect;
    // The CRC the traditional header takes its check byte from, known before
    // the data is encrypted.
    std::uint32_t checkCrc;
};

class DataProcessor : public MemoryDataSink, public TessikObject, public ZipCryptParams {
public:
    static constexpr int kChunkOk = 0;
    static constexpr int kChunkFailed = -1;

    DataProcessor();
    ~DataProcessor() override;

    virtual const char* getProcessorName() const;
    virtual void beginProcessing();
    virtual void endProcessing();
    // kChunkOk: went on; kChunkFailed: a read or write failed.
    virtual int processChunk(LogBase* log);

    // The first stage reads from a source; later stages are fed through
    // their ring.
    void setSource(DataSource* source) { m_source = source; }
    void setSink(DataSink* sink) { m_sink = sink; }
    // False when the buffer cannot be had.
    bool allocInputBuffer(std::uint32_t n);
    // Lent: the stage never frees it.
    void setInputBuffer(void* buffer, std::uint32_t n);
    bool isFailed() const { return m_failed; }
    bool isSourceFinished();
    const StringBuffer& getName() const { return m_name; }
    // Bytes taken in plus bytes passed on: the pipeline's measure of progress.
    std::uint64_t bytesMoved() const { return m_moved; }

protected:
    // Reads the source's next chunk into the input buffer: its size in
    // `count`, and whether the source is now exhausted in `eof`.
    bool readSource(std::uint32_t& count, bool& eof);
    // What the sink can take now (0 when it cannot say).
    std::uint32_t sinkCapacity();
    // Sends the 12-byte traditional encryption header ahead of the first
    // byte, once, when this stage applies the cipher and the sink has room
    // for it; the capacity shrinks by what it took.
    int sendCryptHeaderOnce(PwdProtect& cipher, std::uint32_t& capacity, std::uint64_t& bytesOut, LogBase* log);
    bool cryptHeaderOwed() const { return appliesTraditionalCipher() && !m_headerSent; }

    StringBuffer m_name;
    bool m_inputOwned;
    unsigned char* m_input;
    std::uint32_t m_inputSize;
    DataSource* m_source;
    DataSink* m_sink;
    bool m_failed;
    bool m_headerSent;
    std::uint64_t m_moved;
};

// A stage that hands its bytes on as they are, after an optional treatment
// of each byte (CRC, decryption, encryption).
class PassThroughStage : public DataProcessor {
public:
    PassThroughStage();
    ~PassThroughStage() override;

    int processChunk(LogBase* log) override;
    // Slot 2 of a stage reports the bytes it took in.
    std::uint64_t getNumBytesWritten64() override { return m_bytesIn; }
    std::uint64_t getNumBytesHeld64() override;
    std::uint64_t getNumBytesOut64() const { return m_bytesOut; }

protected:
    void clearCounts();
    // Sees every byte once, as it comes in.
    virtual void takeIn(const unsigned char* data, std::uint32_t n);
    // Readies the bytes in place just before they go to the sink.
    virtual void treatOut(unsigned char* data, std::uint32_t n);
    // Before any data of a pass: a header the stage owes (within capacity).
    virtual int beforeOut(std::uint32_t& capacity, LogBase* log);
    virtual bool owesOutput() const;

    std::uint64_t m_bytesIn;
    std::uint64_t m_bytesOut;
    unsigned char* m_pending;
    std::uint32_t m_pendingCount;

private:
    int passOn(unsigned char* data, std::uint32_t n, std::uint32_t& capacity, LogBase* log, std::uint32_t& passed);
    int processFromRing(LogBase* log);
};

class CrcProcessor : public PassThroughStage {
public:
    CrcProcessor();
    ~CrcProcessor() override;

    const char* getProcessorName() const override;
    void beginProcessing() override;
    void endProcessing() override;
    std::uint32_t getCrc() const { return m_crcResult; }
    // Set, endProcessing leaves the CRC result alone.
    void setKeepCrc(bool keep) { m_keepCrc = keep; }

protected:
    void takeIn(const unsigned char* data, std::uint32_t n) override;

private:
    std::uint32_t m_crcResult;
    ZipCRC m_zipCrc;
    bool m_keepCrc;
};

// Decrypts through a cipher the caller has checked the header with; without
// one it passes the bytes through untouched.
class ZipDecodeProcessor : public PassThroughStage {
public:
    ZipDecodeProcessor();
    ~ZipDecodeProcessor() override;

    const char* getProcessorName() const override;
    void beginProcessing() override;
    void setDecoder(PwdProtect* decoder) { m_decoder = decoder; }

protected:
    void treatOut(unsigned char* data, std::uint32_t n) override;

private:
    PwdProtect* m_decoder;
};

// CRC of stored entry data, or its traditional encryption behind a header
// made from the check CRC.
class ZipCrcProcessor : public PassThroughStage {
public:
    ZipCrcProcessor();
    ~ZipCrcProcessor() override;

    const char* getProcessorName() const override;
    void beginProcessing() override;
    void endProcessing() override;
    // The check CRC when encrypting, else the CRC of the data.
    std::uint32_t getCrc() const;
    void setKeepCrc(bool keep) { m_keepCrc = keep; }

protected:
    void takeIn(const unsigned char* data, std::uint32_t n) override;
    void treatOut(unsigned char* data, std::uint32_t n) override;
    int beforeOut(std::uint32_t& capacity, LogBase* log) override;
    bool owesOutput() const override;

private:
    PwdProtect m_cipher;
    std::uint32_t m_crcResult;
    ZipCRC m_zipCrc;
    bool m_keepCrc;
};

// Runs its stages, in order, pass after pass until the source is exhausted
// and no stage holds a byte. It owns none of them.
class DataPipeline {
public:
    DataPipeline();
    DataPipeline(const DataPipeline&) = delete;
    DataPipeline& operator=(const DataPipeline&) = delete;
    virtual ~DataPipeline();

    void addProcessor(DataProcessor* stage);
    bool run(ProgressMonitor* monitor, LogBase& log);
    const StringBuffer& getName() const { return m_name; }

private:
    ExtPtrArray m_stages;
    StringBuffer m_name;
};

} // namespace tessik
