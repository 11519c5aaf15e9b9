#pragma once
// The toolbox the zip entry pipeline calls for each transformation of entry
// data: deflate, CRC scan, copy with CRC, decryption, CRC with traditional
// encryption, and inflate. Each routine builds a short pipeline (a source,
// one stage, a sink) for the one call, runs it and reads the results out;
// the inflate routines drive the inflater into a sink directly. Every
// failure is a false result with zeroed outputs.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/streams/DataProcessor.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/Output.h"
#include "netlib/streams/PwdProtect.h"

namespace tessik {

class PipelineHelp : public ZipCryptParams {
public:
    // Each stage reads this much from its source at a time.
    static constexpr std::uint32_t kStageInput = 60000;
    // Larger files are inflated from the file in pieces, smaller from memory.
    static constexpr std::int64_t kInflateInMemoryLimit = 4000000;

    PipelineHelp();
    ~PipelineHelp() override;

    void setMonitor(ProgressMonitor* monitor) { m_monitor = monitor; }

    // Deflate routines: the CRC (0 unless asked), compressed and uncompressed
    // sizes, all 0 on failure.
    struct Deflated {
        std::uint32_t crc = 0;
        std::uint32_t checksum = 0; // RFC 1950, with keepChecksum
        std::uint64_t compressedSize = 0;
        std::uint64_t uncompressedSize = 0;
    };
    bool deflateFileHandleToOutput(TessikHandle* handle, int level, bool computeCrc, Output& out, Deflated& result,
                                   LogBase& log);
    bool deflateMemoryToOutput(const void* data, std::uint64_t size, int level, bool computeCrc, Output& out,
                               Deflated& result, LogBase& log);
    bool deflateSourceToOutput(DataSource& source, int level, bool computeCrc, bool keepChecksum, Output& out,
                               Deflated& result, LogBase& log);
    bool deflateFileHandleToDb(TessikHandle* handle, int level, bool computeCrc, DataBuffer& out, Deflated& result,
                               LogBase& log);
    bool deflateMemoryToDb(const void* data, std::uint64_t size, int level, bool computeCrc, DataBuffer& out,
                           Deflated& result, LogBase& log);

    bool crcOfMemory(const void* data, std::uint64_t size, std::uint32_t* crc, LogBase& log);
    bool crcOfSource(DataSource& source, std::uint32_t* crc, LogBase& log);
    bool crcOfFileHandle(TessikHandle* handle, std::uint32_t* crc, LogBase& log);

    // Decryption pass-through with a cipher whose header the caller checked.
    bool decodeSourceToOutput(DataSource& source, PwdProtect* decoder, Output& out, LogBase& log);
    bool decodeMemoryToOutput(const void* data, std::uint64_t size, PwdProtect* decoder, Output& out, LogBase& log);

    // CRC of stored entry data, or its traditional encryption when the
    // crypt parameters ask: getCrc of the stage, bytes in and out.
    bool zipCrcFileHandleToOutput(TessikHandle* handle, Output& out, std::uint32_t* crc, std::uint64_t* bytesIn,
                                  std::uint64_t* bytesOut, LogBase& log);
    bool zipCrcSourceToOutput(DataSource& source, Output& out, std::uint32_t* crc, std::uint64_t* bytesIn,
                              std::uint64_t* bytesOut, LogBase& log);
    bool zipCrcMemoryToOutput(const void* data, std::uint64_t size, Output& out, std::uint32_t* crc,
                              std::uint64_t* bytesIn, std::uint64_t* bytesOut, LogBase& log);
    bool copyFileHandleWithCrc(TessikHandle* handle, Output& out, std::uint32_t* crc, std::uint64_t* bytes,
                               LogBase& log);
    bool copyMemoryWithCrc(const void* data, std::uint64_t size, Output& out, std::uint32_t* crc, LogBase& log);

    // Inflate routines: the CRC of the inflated data.
    bool inflateFileToOutput(const char* utf8Path, Output& out, std::uint32_t* crc, LogBase& log, bool verbose);
    bool inflateSourceToOutput(DataSource& source, Output& out, LogBase& log, std::uint32_t* bytesLeftOver,
                               std::uint32_t* crc, bool logCrc);
    // `consumed`, when given: the bytes up to the end of the final block.
    bool inflateMemoryToOutput(const void* data, std::uint32_t size, Output& out, std::uint32_t* crc, LogBase& log,
                               bool verbose, std::uint32_t* consumed = nullptr);

private:
    // Source -> stage -> sink, run as one pipeline.
    bool runStage(DataSource& source, DataProcessor& stage, DataSink& sink, LogBase& log);
    bool deflateTo(DataSource& source, int level, bool computeCrc, bool keepChecksum, DataSink& sink, Deflated& result,
                   LogBase& log);
    bool crcTo(DataSource& source, DataSink& sink, std::uint32_t* crc, std::uint64_t* bytes, LogBase& log);

    bool decodeTo(DataSource& source, PwdProtect* decoder, Output& out, LogBase& log);
    void watch(DataSource& source) const;
    // The inflater writes into `out` through `sink`, which keeps the CRC.
    void intoOutput(InflateState2& inflater, FileDataSink& sink, Output& out) const;

    ProgressMonitor* m_monitor;
};

} // namespace tessik
