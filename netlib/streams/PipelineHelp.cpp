#include "netlib/streams/PipelineHelp.h"

#include "netlib/core/FileSys.h"
#include "netlib/core/XString.h"
#include "netlib/streams/DeflateProcessor.h"
#include "netlib/streams/InflateState2.h"
#include "netlib/streams/StreamConstants.h"
#include "platform/File.h"

namespace tessik {

namespace {

// A source over the caller's block; false for a null block.
bool memorySource(MemoryDataSource& source, const void* data, std::uint64_t size) {
    if (data == nullptr)
        return false;
    source.setData(data, size, false);
    return true;
}

// A source over a lent, open handle.
bool handleSource(FileDataSource& source, TessikHandle* handle) {
    if (handle == nullptr || !handle->isOpen())
        return false;
    source.setHandle(handle);
    source.setCrcWhileReading(false);
    return true;
}

} // namespace

PipelineHelp::PipelineHelp() : m_monitor(nullptr) {}

PipelineHelp::~PipelineHelp() = default;

void PipelineHelp::watch(DataSource& source) const {
    if (m_monitor)
        source.setMonitor(m_monitor);
}

bool PipelineHelp::runStage(DataSource& source, DataProcessor& stage, DataSink& sink, LogBase& log) {
    watch(source);
    stage.copyFrom(*this);
    stage.setSource(&source);
    stage.setSink(&sink);
    if (!stage.allocInputBuffer(kStageInput)) {
        log.logError(stream_msg::kNoMemoryForStage);
        return false;
    }
    DataPipeline pipeline;
    pipeline.addProcessor(&stage);
    return pipeline.run(m_monitor, log);
}

// ---------------------------------------------------------------- deflate

bool PipelineHelp::deflateTo(DataSource& source, int level, bool computeCrc, bool keepChecksum, DataSink& sink,
                             Deflated& result, LogBase& log) {
    result = Deflated();
    DeflateProcessor stage;
    stage.setLevel(level);
    stage.setComputeCrc(computeCrc);
    stage.setKeepChecksum(keepChecksum);
    if (!runStage(source, stage, sink, log))
        return false;
    result.crc = computeCrc ? stage.getCrc() : 0;
    result.checksum = keepChecksum ? stage.getChecksum() : 0;
    result.compressedSize = stage.getNumBytesOut64();
    result.uncompressedSize = stage.getNumBytesWritten64();
    return true;
}

bool PipelineHelp::deflateFileHandleToOutput(TessikHandle* handle, int level, bool computeCrc, Output& out,
                                             Deflated& result, LogBase& log) {
    result = Deflated();
    FileDataSource source;
    if (!handleSource(source, handle))
        return false;
    FileDataSink sink;
    sink.setOutput(&out);
    // The results stand even when the output failed; the call does not.
    return deflateTo(source, level, computeCrc, false, sink, result, log) && !sink.isFailed();
}

bool PipelineHelp::deflateMemoryToOutput(const void* data, std::uint64_t size, int level, bool computeCrc, Output& out,
                                         Deflated& result, LogBase& log) {
    result = Deflated();
    MemoryDataSource source;
    if (!memorySource(source, data, size))
        return false;
    FileDataSink sink;
    sink.setOutput(&out);
    return deflateTo(source, level, computeCrc, false, sink, result, log) && !sink.isFailed();
}

bool PipelineHelp::deflateSourceToOutput(DataSource& source, int level, bool computeCrc, bool keepChecksum, Output& out,
                                         Deflated& result, LogBase& log) {
    FileDataSink sink;
    sink.setOutput(&out);
    return deflateTo(source, level, computeCrc, keepChecksum, sink, result, log) && !sink.isFailed();
}

bool PipelineHelp::deflateFileHandleToDb(TessikHandle* handle, int level, bool computeCrc, DataBuffer& out,
                                         Deflated& result, LogBase& log) {
    result = Deflated();
    FileDataSource source;
    if (!handleSource(source, handle))
        return false;
    DataBufferSink sink(&out);
    return deflateTo(source, level, computeCrc, false, sink, result, log);
}

bool PipelineHelp::deflateMemoryToDb(const void* data, std::uint64_t size, int level, bool computeCrc, DataBuffer& out,
                                     Deflated& result, LogBase& log) {
    result = Deflated();
    MemoryDataSource source;
    if (!memorySource(source, data, size))
        return false;
    DataBufferSink sink(&out);
    return deflateTo(source, level, computeCrc, false, sink, result, log);
}

// ---------------------------------------------------------------- CRC and copies

bool PipelineHelp::crcTo(DataSource& source, DataSink& sink, std::uint32_t* crc, std::uint64_t* bytes, LogBase& log) {
    CrcProcessor stage;
    bool ok = runStage(source, stage, sink, log);
    if (crc)
        *crc = ok ? stage.getCrc() : 0;
    if (bytes)
        *bytes = ok ? stage.getNumBytesOut64() : 0;
    return ok;
}

bool PipelineHelp::crcOfMemory(const void* data, std::uint64_t size, std::uint32_t* crc, LogBase& log) {
    if (crc)
        *crc = 0;
    MemoryDataSource source;
    if (!memorySource(source, data, size)) {
        log.logError(stream_msg::kCrcNullData);
        return false;
    }
    NullDataSink sink;
    return crcTo(source, sink, crc, nullptr, log);
}

bool PipelineHelp::crcOfSource(DataSource& source, std::uint32_t* crc, LogBase& log) {
    NullDataSink sink;
    return crcTo(source, sink, crc, nullptr, log);
}

bool PipelineHelp::crcOfFileHandle(TessikHandle* handle, std::uint32_t* crc, LogBase& log) {
    if (crc)
        *crc = 0;
    FileDataSource source;
    if (!handleSource(source, handle)) {
        log.logError(stream_msg::kCrcHandleNotOpen);
        return false;
    }
    NullDataSink sink;
    if (crcTo(source, sink, crc, nullptr, log))
        return true;
    log.logError(stream_msg::kPipelineIncomplete);
    return false;
}

bool PipelineHelp::copyFileHandleWithCrc(TessikHandle* handle, Output& out, std::uint32_t* crc, std::uint64_t* bytes,
                                         LogBase& log) {
    if (crc)
        *crc = 0;
    if (bytes)
        *bytes = 0;
    FileDataSource source;
    if (!handleSource(source, handle))
        return false;
    FileDataSink sink;
    sink.setOutput(&out);
    return crcTo(source, sink, crc, bytes, log) && !sink.isFailed();
}

bool PipelineHelp::copyMemoryWithCrc(const void* data, std::uint64_t size, Output& out, std::uint32_t* crc,
                                     LogBase& log) {
    if (crc)
        *crc = 0;
    MemoryDataSource source;
    if (!memorySource(source, data, size))
        return false;
    FileDataSink sink;
    sink.setOutput(&out);
    return crcTo(source, sink, crc, nullptr, log) && !sink.isFailed();
}

bool PipelineHelp::zipCrcSourceToOutput(DataSource& source, Output& out, std::uint32_t* crc, std::uint64_t* bytesIn,
                                        std::uint64_t* bytesOut, LogBase& log) {
    FileDataSink sink;
    sink.setOutput(&out);
    ZipCrcProcessor stage;
    if (!runStage(source, stage, sink, log))
        return false;
    *crc = stage.getCrc();
    *bytesIn = stage.getNumBytesWritten64();
    *bytesOut = stage.getNumBytesOut64();
    return !sink.isFailed();
}

bool PipelineHelp::zipCrcFileHandleToOutput(TessikHandle* handle, Output& out, std::uint32_t* crc,
                                            std::uint64_t* bytesIn, std::uint64_t* bytesOut, LogBase& log) {
    *crc = 0;
    *bytesIn = *bytesOut = 0;
    FileDataSource source;
    return handleSource(source, handle) && zipCrcSourceToOutput(source, out, crc, bytesIn, bytesOut, log);
}

bool PipelineHelp::zipCrcMemoryToOutput(const void* data, std::uint64_t size, Output& out, std::uint32_t* crc,
                                        std::uint64_t* bytesIn, std::uint64_t* bytesOut, LogBase& log) {
    *crc = 0;
    *bytesIn = *bytesOut = 0;
    MemoryDataSource source;
    return memorySource(source, data, size) && zipCrcSourceToOutput(source, out, crc, bytesIn, bytesOut, log);
}

// ---------------------------------------------------------------- decryption

bool PipelineHelp::decodeTo(DataSource& source, PwdProtect* decoder, Output& out, LogBase& log) {
    FileDataSink sink;
    sink.setOutput(&out);
    ZipDecodeProcessor stage;
    stage.setDecoder(decoder);
    return runStage(source, stage, sink, log) && !sink.isFailed();
}

bool PipelineHelp::decodeSourceToOutput(DataSource& source, PwdProtect* decoder, Output& out, LogBase& log) {
    return decodeTo(source, decoder, out, log);
}

bool PipelineHelp::decodeMemoryToOutput(const void* data, std::uint64_t size, PwdProtect* decoder, Output& out,
                                        LogBase& log) {
    MemoryDataSource source;
    if (!memorySource(source, data, size))
        return false;
    return decodeTo(source, decoder, out, log);
}

// ---------------------------------------------------------------- inflate

void PipelineHelp::intoOutput(InflateState2& inflater, FileDataSink& sink, Output& out) const {
    sink.setOutput(&out);
    sink.setCrcWhileWriting(true);
    sink.setMonitor(m_monitor);
    inflater.setSink(&sink);
}

bool PipelineHelp::inflateFileToOutput(const char* utf8Path, Output& out, std::uint32_t* crc, LogBase& log,
                                       bool verbose) {
    *crc = 0;
    if (utf8Path == nullptr || *utf8Path == '\0') {
        log.logError(stream_msg::kInflateNoFilename);
        return false;
    }
    InflateState2 inflater;
    FileDataSink sink;
    intoOutput(inflater, sink, out);

    // Opened once: a large regular file is inflated as it is read, anything
    // else read whole first, a FIFO to its end.
    XString path;
    path.setFromUtf8(utf8Path);
    TessikHandle handle;
    int errorKind = 0;
    if (!openFileForRead(handle, path, errorKind, &log))
        return false;
    const bool streamed =
        platform::IsRegularHandle(handle.getHandle()) && handle.getFileSize64(nullptr) > kInflateInMemoryLimit;
    bool ok = false;
    if (streamed) {
        FileDataSource source;
        source.setHandle(&handle);
        watch(source);
        std::uint32_t leftOver = 0;
        ok = inflater.inflator(&source, &leftOver, log, verbose);
        if (m_monitor && m_monitor->isAborted()) {
            log.logError(stream_msg::kInflateAborted);
            ok = false;
        }
    } else {
        DataBuffer whole;
        if (!whole.loadOpenedFile(handle, utf8Path, &log))
            return false;
        ok = inflater.inflateDataB(whole.getData(), whole.getSize(), log, verbose);
    }
    if (sink.isFailed()) {
        log.logError(stream_msg::kInflateOutputFailed);
        return false;
    }
    if (ok)
        *crc = sink.getSinkCrc();
    return ok;
}

bool PipelineHelp::inflateSourceToOutput(DataSource& source, Output& out, LogBase& log, std::uint32_t* bytesLeftOver,
                                         std::uint32_t* crc, bool logCrc) {
    *crc = 0;
    InflateState2 inflater;
    FileDataSink sink;
    intoOutput(inflater, sink, out);
    watch(source);
    bool ok = inflater.inflator(&source, bytesLeftOver, log, false);
    if (m_monitor && m_monitor->isAborted()) {
        log.logError(stream_msg::kInflateAbortedSource);
        ok = false;
    } else if (!ok) {
        log.logError(stream_msg::kInflateSourceFailed2);
    }
    if (sink.isFailed()) {
        log.logError(stream_msg::kInflateSinkFailed);
        return false;
    }
    if (ok) {
        *crc = sink.getSinkCrc();
        if (logCrc)
            log.logHex("inflatorOutputCrc", *crc);
    } else if (logCrc) {
        log.logError(stream_msg::kInflateFailed);
    }
    return ok;
}

bool PipelineHelp::inflateMemoryToOutput(const void* data, std::uint32_t size, Output& out, std::uint32_t* crc,
                                         LogBase& log, bool verbose, std::uint32_t* consumed) {
    *crc = 0;
    if (data == nullptr) {
        log.logError(stream_msg::kNoInputData);
        return false;
    }
    InflateState2 inflater;
    FileDataSink sink;
    intoOutput(inflater, sink, out);
    bool ok = inflater.inflateDataB(static_cast<const unsigned char*>(data), size, log, verbose, consumed);
    if (sink.isFailed()) {
        log.logError(stream_msg::kSinkWriteFailed);
        return false;
    }
    if (!ok) {
        log.logError(stream_msg::kHuffmanError);
        return false;
    }
    *crc = sink.getSinkCrc();
    return true;
}

} // namespace tessik
