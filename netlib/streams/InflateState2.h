#pragma once
// The library's raw-inflate decoder (RFC 1951: no zlib or gzip framing),
// driven three ways over one decoding core:
// - the buffer driver inflateDataB: a whole input in memory, out to a sink;
// - the source driver inflator: input pulled from a DataSource, out to a sink;
// - the chunk driver inflateChunk: input arriving in pieces, queued, decoding
//   resumable between calls (even inside a block), out to an Output.
// A stream that ends before its final block, or that breaks the format, fails
// in every driver; a distance reaching back before the start of the output
// is refused.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/streams/CircBuf.h"
#include "netlib/streams/DataSink.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"

namespace tessik {

// Driver codes: where a run stopped. Source driver success is 50; the chunk
// driver's result-1 codes are the kChunk... ones.
namespace inflate_code {
constexpr int kSourceSuccess = 50;
constexpr int kAborted = 67812;
constexpr int kChunkNoData = 1000;
constexpr int kChunkBelowLookahead = 1001;
constexpr int kChunkMidBlock = 1003;
constexpr int kChunkDone = 2000;
constexpr int kChunkBetweenBlocks = 2008;
constexpr int kChunkEmpty = 5036;
// Both drivers: a distance that reaches before the start of the output.
constexpr int kTooFarBack = 51;
} // namespace inflate_code

class InflateState2 {
public:
    static constexpr int kWindowSize = 32768;
    // The source driver reads this much at a time: enough that reads cost
    // little beside the decoding, small enough that a short body does not
    // map and fault a large buffer on every inflate.
    static constexpr std::uint32_t kSourceChunk = 256 * 1024;
    // The chunk driver's look-ahead for whole buffers.
    static constexpr std::uint32_t kBufferLookahead = 4096;

    // Block states.
    static constexpr int kNeedBlock = -1;
    static constexpr int kStoredSetup = 0;
    static constexpr int kFixedSetup = 1;
    static constexpr int kDynamicSetup = 2;
    static constexpr int kStoredData = 10;
    static constexpr int kFixedData = 11;
    static constexpr int kDynamicData = 12;

    InflateState2();
    InflateState2(const InflateState2&) = delete;
    InflateState2& operator=(const InflateState2&) = delete;
    virtual ~InflateState2();

    // Output of the buffer and source drivers.
    void setSink(DataSink* sink);

    // True only when the final block was decoded and all output taken;
    // `consumed`, when given, gets the bytes up to the end of the final
    // block (what follows it is not looked at).
    bool inflateDataB(const unsigned char* data, std::uint32_t size, LogBase& log, bool verbose,
                      std::uint32_t* consumed = nullptr);
    // `bytesLeftOver`: bytes read from the source past the end of the
    // deflate data.
    bool inflator(DataSource* source, std::uint32_t* bytesLeftOver, LogBase& log, bool verbose);

    // The chunk driver starts from here; every caller passes 32768.
    bool reset(int windowSize);
    // Queues the chunk and decodes as far as the queue allows. Result 1: no
    // error (read `code` and `finished`); 0: error, `code` says where.
    int inflateChunk(const unsigned char* data, std::uint32_t size, bool final, Output& out, bool& finished,
                     LogBase& log, int& code, std::uint32_t lookahead);
    int inflateDataBuffer(const DataBuffer& in, bool final, Output& out, bool& finished, LogBase& log, int& code);

    int state() const { return m_state; }
    // Once the chunk driver decoded the final block: the whole bytes it was
    // given behind it, and where they start (the rest of the byte the block
    // ended in is padding).
    std::uint32_t bytesAfterStream(const unsigned char** at) const;

    struct Tables; // decode tables of the block being decoded

private:
    enum class Driver { kBuffer, kSource, kChunk };
    // kContinue: a unit (header, stored run, block) is done, go on;
    // kFinished: the final block is done.
    enum class Run { kContinue, kFinished, kNeedInput, kFailed };
    enum class Fault {
        kNone,
        kEndInBlockType,
        kBadBlockType,
        kEndInStoredHeader,
        kStoredLengthMismatch,
        kEndInDynamicHeader,
        kTooManySymbols,
        kBadCodeLengthCode,
        kRepeatOverrun,
        kBadLiteralTable,
        kNoEndOfBlockCode,
        kBadDistanceTable,
        kEndInStoredData,
        kEndInData,
        kInvalidLiteral,
        kInvalidDistance,
        kTooFarBack,
        kOutputRefused,
        kAborted,
        kNoMemory,
    };

    struct Reader;

    bool allocate();
    void beginStream();
    // Decodes from `data`, starting `bitOffset` bits into its first byte;
    // `usedBits` is where it stopped (at a unit it can resume from).
    Run decode(const unsigned char* data, std::size_t size, unsigned bitOffset, bool final, std::uint64_t& usedBits);
    Run blockHeader(Reader& r, bool final);
    Run dynamicHeader(Reader& r, bool final);
    Run storedData(Reader& r, bool final);
    Run blockData(Reader& r, bool final);
    Run fail(Fault fault);
    Run endOfInput(bool final, Fault fault);

    // Output: bytes go to the window and on to the sink or Output as it fills.
    bool makeRoom();
    bool flushWindow();
    bool writeOut(const unsigned char* data, std::uint32_t n);
    int codeFor(Fault fault) const;
    // zlib's words for a fault of the data; null for the others.
    static const char* reasonFor(Fault fault);
    void logState(LogBase* log) const;

    int m_state;
    bool m_lastBlock;
    std::uint32_t m_storedRemaining;
    Driver m_driver;
    bool m_verbose;
    Fault m_fault;
    int m_faultState;
    LogBase* m_log;

    // The window: 32 KiB of history ahead of a flush area; matches may write
    // a little past the area's end.
    std::unique_ptr<unsigned char[]> m_window;
    unsigned char* m_out;
    unsigned char* m_validStart;
    unsigned char* m_flushed;
    std::uint64_t m_totalOut;

    std::unique_ptr<Tables> m_tables;
    DataSink* m_sink;
    Output* m_output;
    CircBuf m_queue;
};

} // namespace tessik
