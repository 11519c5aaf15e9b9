#include "netlib/streams/DataProcessor.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "netlib/streams/StreamConstants.h"

namespace tessik {

namespace {

// Process-wide counters that only name objects.
std::atomic<int> g_processorCount{0};
std::atomic<int> g_pipelineCount{0};

constexpr std::uint32_t kInputBufferSlack = 4;
constexpr std::size_t kNameSize = 48;

void setCountedName(StringBuffer& name, const char* prefix, std::atomic<int>& counter) {
    char text[kNameSize];
    std::snprintf(text, sizeof text, "%s%d", prefix, counter.fetch_add(1));
    name.setString(text);
}

std::uint32_t min32(std::uint32_t a, std::uint32_t b) {
    return a < b ? a : b;
}

} // namespace

// ---------------------------------------------------------------- ZipCryptParams

ZipCryptParams::ZipCryptParams() : encryption(kCryptNone), keyLengthBits(0), passwordProtect(false), checkCrc(0) {}

ZipCryptParams::~ZipCryptParams() {
    password.secureClear();
}

void ZipCryptParams::copyFrom(const ZipCryptParams& other) {
    encryption = other.encryption;
    keyLengthBits = other.keyLengthBits;
    password.clear();
    password.appendSb(other.password);
    passwordProtect = other.passwordProtect;
    checkCrc = other.checkCrc;
}

// ---------------------------------------------------------------- DataProcessor

DataProcessor::DataProcessor()
    : m_inputOwned(false), m_input(nullptr), m_inputSize(0), m_source(nullptr), m_sink(nullptr), m_failed(false),
      m_headerSent(false), m_moved(0) {
    setCountedName(m_name, "processor_", g_processorCount);
    if (!m_ring.setCapacity(kStageRingSize))
        m_failed = true;
}

DataProcessor::~DataProcessor() {
    if (m_inputOwned)
        std::free(m_input);
}

const char* DataProcessor::getProcessorName() const {
    return "nothing";
}

void DataProcessor::beginProcessing() {}

void DataProcessor::endProcessing() {}

int DataProcessor::processChunk(LogBase*) {
    return kChunkOk;
}

bool DataProcessor::allocInputBuffer(std::uint32_t n) {
    if (m_inputOwned)
        std::free(m_input);
    m_input = static_cast<unsigned char*>(std::malloc(static_cast<std::size_t>(n) + kInputBufferSlack));
    m_inputOwned = m_input != nullptr;
    m_inputSize = m_input ? n : 0;
    return m_input != nullptr;
}

void DataProcessor::setInputBuffer(void* buffer, std::uint32_t n) {
    if (m_inputOwned)
        std::free(m_input);
    m_input = static_cast<unsigned char*>(buffer);
    m_inputSize = n;
    m_inputOwned = false;
}

bool DataProcessor::isSourceFinished() {
    return m_source == nullptr || m_source->endOfStream();
}

bool DataProcessor::readSource(std::uint32_t& count, bool& eof) {
    count = 0;
    if (m_input == nullptr || !m_source->readChunk(m_input, m_inputSize, &count, nullptr))
        return false;
    eof = m_source->endOfStream();
    m_moved += count;
    return true;
}

std::uint32_t DataProcessor::sinkCapacity() {
    std::uint32_t capacity = 0;
    if (m_sink == nullptr || !m_sink->getWritableCapacity(&capacity))
        return 0;
    return capacity;
}

int DataProcessor::sendCryptHeaderOnce(PwdProtect& cipher, std::uint32_t& capacity, std::uint64_t& bytesOut,
                                       LogBase* log) {
    if (!cryptHeaderOwed() || capacity < kZipCryptHeaderLength)
        return kChunkOk;
    LogNull silent;
    unsigned char header[kZipCryptHeaderLength];
    cipher.setPassword(password.getString());
    if (!cipher.makeHeader(checkCrc, header, silent)) {
        if (log)
            log->logError(stream_msg::kNoRandomBytes);
        return kChunkFailed;
    }
    m_headerSent = true;
    bytesOut += kZipCryptHeaderLength;
    m_moved += kZipCryptHeaderLength;
    capacity -= kZipCryptHeaderLength;
    return m_sink->writeBytes(header, kZipCryptHeaderLength, log) ? kChunkOk : kChunkFailed;
}

// ---------------------------------------------------------------- PassThroughStage

PassThroughStage::PassThroughStage() : m_bytesIn(0), m_bytesOut(0), m_pending(nullptr), m_pendingCount(0) {}

PassThroughStage::~PassThroughStage() = default;

void PassThroughStage::clearCounts() {
    m_bytesIn = m_bytesOut = 0;
    m_pending = nullptr;
    m_pendingCount = 0;
    m_headerSent = false;
}

void PassThroughStage::takeIn(const unsigned char*, std::uint32_t) {}

void PassThroughStage::treatOut(unsigned char*, std::uint32_t) {}

int PassThroughStage::beforeOut(std::uint32_t&, LogBase*) {
    return kChunkOk;
}

bool PassThroughStage::owesOutput() const {
    return false;
}

std::uint64_t PassThroughStage::getNumBytesHeld64() {
    std::uint64_t held = m_ring.getHeld() + (owesOutput() ? 1 : 0);
    return m_source ? held + m_pendingCount : held;
}

int PassThroughStage::passOn(unsigned char* data, std::uint32_t n, std::uint32_t& capacity, LogBase* log,
                             std::uint32_t& passed) {
    passed = min32(n, capacity);
    if (passed == 0)
        return kChunkOk;
    treatOut(data, passed);
    m_bytesOut += passed;
    m_moved += passed;
    capacity -= passed;
    return m_sink->writeBytes(data, passed, log) ? kChunkOk : kChunkFailed;
}

int PassThroughStage::processChunk(LogBase* log) {
    if (m_sink == nullptr)
        return kChunkFailed;
    if (m_source == nullptr)
        return processFromRing(log);

    bool eof = m_source->endOfStream();
    if (m_pendingCount == 0 && !eof) {
        std::uint32_t n = 0;
        if (!readSource(n, eof))
            return kChunkFailed;
        m_bytesIn += n;
        m_pending = m_input;
        m_pendingCount = n;
        takeIn(m_input, n);
    }
    std::uint32_t capacity = sinkCapacity();
    if (beforeOut(capacity, log) != kChunkOk)
        return kChunkFailed;
    if (m_pendingCount > 0) {
        std::uint32_t passed = 0;
        if (passOn(m_pending, m_pendingCount, capacity, log, passed) != kChunkOk)
            return kChunkFailed;
        m_pending += passed;
        m_pendingCount -= passed;
    }
    if (m_pendingCount == 0 && eof && !owesOutput())
        m_sink->setInputFinished();
    return kChunkOk;
}

int PassThroughStage::processFromRing(LogBase* log) {
    unsigned char* regions[2];
    std::uint32_t lengths[2];
    m_ring.getReadRegions(&regions[0], &lengths[0], &regions[1], &lengths[1]);
    if (lengths[0] == 0 && isInputFinished() && !owesOutput()) {
        m_sink->setInputFinished();
        return kChunkOk;
    }
    std::uint32_t capacity = sinkCapacity();
    if (beforeOut(capacity, log) != kChunkOk)
        return kChunkFailed;
    for (int i = 0; i < 2 && lengths[i] > 0 && capacity > 0; ++i) {
        std::uint32_t n = min32(lengths[i], capacity);
        takeIn(regions[i], n);
        m_bytesIn += n;
        std::uint32_t passed = 0;
        int result = passOn(regions[i], n, capacity, log, passed);
        m_ring.consume(passed);
        if (result != kChunkOk)
            return kChunkFailed;
    }
    return kChunkOk;
}

// ---------------------------------------------------------------- CrcProcessor

CrcProcessor::CrcProcessor() : m_crcResult(0), m_keepCrc(false) {}

CrcProcessor::~CrcProcessor() = default;

const char* CrcProcessor::getProcessorName() const {
    return "CrcProcessor";
}

void CrcProcessor::beginProcessing() {
    clearCounts();
    m_zipCrc.beginStream();
}

void CrcProcessor::endProcessing() {
    if (!m_keepCrc)
        m_crcResult = m_zipCrc.endStream();
}

void CrcProcessor::takeIn(const unsigned char* data, std::uint32_t n) {
    m_zipCrc.moreData(data, n);
}

// ---------------------------------------------------------------- ZipDecodeProcessor

ZipDecodeProcessor::ZipDecodeProcessor() : m_decoder(nullptr) {}

ZipDecodeProcessor::~ZipDecodeProcessor() = default;

const char* ZipDecodeProcessor::getProcessorName() const {
    return "PassThruProcessor";
}

void ZipDecodeProcessor::beginProcessing() {
    clearCounts();
}

void ZipDecodeProcessor::treatOut(unsigned char* data, std::uint32_t n) {
    if (m_decoder)
        m_decoder->decryptBytes(data, n);
}

// ---------------------------------------------------------------- ZipCrcProcessor

ZipCrcProcessor::ZipCrcProcessor() : m_crcResult(0), m_keepCrc(false) {}

ZipCrcProcessor::~ZipCrcProcessor() = default;

const char* ZipCrcProcessor::getProcessorName() const {
    return "CrcProcessor";
}

void ZipCrcProcessor::beginProcessing() {
    clearCounts();
    if (!isEncrypting())
        m_zipCrc.beginStream();
}

void ZipCrcProcessor::endProcessing() {
    if (!m_keepCrc && !isEncrypting())
        m_crcResult = m_zipCrc.endStream();
}

std::uint32_t ZipCrcProcessor::getCrc() const {
    return isEncrypting() ? checkCrc : m_crcResult;
}

void ZipCrcProcessor::takeIn(const unsigned char* data, std::uint32_t n) {
    if (!isEncrypting())
        m_zipCrc.moreData(data, n);
}

void ZipCrcProcessor::treatOut(unsigned char* data, std::uint32_t n) {
    if (appliesTraditionalCipher())
        m_cipher.encryptBytes(data, n);
}

int ZipCrcProcessor::beforeOut(std::uint32_t& capacity, LogBase* log) {
    return sendCryptHeaderOnce(m_cipher, capacity, m_bytesOut, log);
}

bool ZipCrcProcessor::owesOutput() const {
    // An empty entry still carries its header.
    return cryptHeaderOwed();
}

// ---------------------------------------------------------------- DataPipeline

DataPipeline::DataPipeline() {
    setCountedName(m_name, "DataPipeline_", g_pipelineCount);
}

DataPipeline::~DataPipeline() = default;

void DataPipeline::addProcessor(DataProcessor* stage) {
    m_stages.appendPtr(stage);
}

bool DataPipeline::run(ProgressMonitor* monitor, LogBase& log) {
    int count = m_stages.getCount();
    if (count == 0) {
        log.logError(stream_msg::kPipelineEmpty);
        return false;
    }
    auto stage = [this](int i) { return static_cast<DataProcessor*>(m_stages.elementAt(i)); };
    for (int i = 0; i < count; ++i)
        stage(i)->beginProcessing();

    std::uint64_t lastMoved = 0;
    int idlePasses = 0;
    for (;;) {
        std::uint64_t held = 0;
        std::uint64_t moved = 0;
        for (int i = 0; i < count; ++i) {
            DataProcessor* p = stage(i);
            if (p->processChunk(&log) == DataProcessor::kChunkFailed) {
                log.logError(stream_msg::kPipelineFailure1);
                return false;
            }
            if (p->isFailed()) {
                log.logError(stream_msg::kPipelineFailure2);
                return false;
            }
            if (monitor && monitor->abortCheckDefault()) {
                log.logError(stream_msg::kPipelineAborted);
                return false;
            }
            held += p->getNumBytesHeld64();
            moved += p->bytesMoved();
        }
        if (held == 0 && stage(0)->isSourceFinished())
            break;
        // Flags travel down the chain a stage a pass without moving bytes,
        // so a few idle passes are normal; an endless run of them is not.
        idlePasses = moved == lastMoved ? idlePasses + 1 : 0;
        lastMoved = moved;
        if (idlePasses > kPipelineMaxIdlePasses) {
            log.logError(stream_msg::kPipelineStalled);
            return false;
        }
    }
    for (int i = 0; i < count; ++i)
        stage(i)->endProcessing();
    return true;
}

} // namespace tessik
