#pragma once
// Sizes and message texts shared by the outputs, sources and zip encryption
// of the streams layer; callers and tests match these texts exactly.
#include <cstdint>

namespace tessik {

// Bulk copies and scans move this many bytes at a time.
constexpr std::uint32_t kCopyChunkSize = 20000;
// Headroom kept past a memory output's content when it grows.
constexpr std::uint32_t kOutputGrowthHeadroom = 8;
// A memory output that moved its content to a file keeps this little.
constexpr std::uint32_t kReroutedBlockSize = 4;

namespace stream_msg {
constexpr const char* kAborted = "Aborted by application.";
constexpr const char* kReadAborted = "Aborted by application";
constexpr const char* kRerouting = "Rerouting in-memory output to file because of size.";
constexpr const char* kRerouteFailed = "Failed to move in-memory output to its reroute file.";
constexpr const char* kOutputAllocFailed = "Failed to allocate memory for output data buffer.";
constexpr const char* kBlockTooLarge = "Block too large for an in-memory output.";
constexpr const char* kBlockOverflow = "Element size times count overflows.";
constexpr const char* kShortWrite = "Failed to write all bytes to file.";
constexpr const char* kNotRegularFile = "The path holds something other than a regular file: it is not replaced.";
constexpr const char* kZeroSizeBuffer = "zero-size buffer passed to get-next-chunk.";
constexpr const char* kNullBuffer = "NULL buffer passed to get-next-chunk.";
constexpr const char* kNoRelativeSeekLent = "Cannot seek relative on non-owned file handle";
constexpr const char* kRelativeSeekClosed = "Cannot fseek relative, file already closed.";
constexpr const char* kRelativeSeekFailed = "Failed to seek to relative offset in file";
constexpr const char* kCopyAborted = "Copy-to-output aborted in application event callback.";
constexpr const char* kCopyWriteFailed = "Failed to write data to output.";
constexpr const char* kFileNotFound = "File does not exist.";
constexpr const char* kBeyondDataLength = "Address is beyond data length";
constexpr const char* kNotEnoughRemaining = "Not enough bytes remaining to fulfill memory-data request.";
constexpr const char* kFileAccessNoData = "File access error: no data available.";
constexpr const char* kFileAccessShortRead = "File access error: did not read full requested amount of data.";
constexpr const char* kNoRandomBytes = "Failed to get random bytes for the encryption header.";
// Deflate stream and data pipelines.
constexpr const char* kUnexpectedPendingZlib = "Unexpected pending output in Zlib compression stream.";
constexpr const char* kZlibStreamError2 = "Zlib compression stream error (2).";
constexpr const char* kPipelineFailure1 = "Data pipeline failure (1)";
constexpr const char* kPipelineFailure2 = "Data pipeline failure (2)";
constexpr const char* kPipelineAborted = "Application aborted data pipeline.";
constexpr const char* kPipelineStalled = "Data pipeline stalled: no bytes moved.";
constexpr const char* kPipelineEmpty = "Data pipeline has no stages.";
constexpr const char* kDeflateNoMemory = "Failed to allocate the deflate stream.";
constexpr const char* kDeflateStepFailed = "Deflate step failed.";
constexpr const char* kNoMemoryForStage = "Failed to allocate a pipeline stage buffer.";
// Inflate.
constexpr const char* kNoDataToInflate = "No data to inflate.";
constexpr const char* kInflateNoMemory = "Failed to allocate memory for inflating.";
constexpr const char* kInflateSourceInternal = "Internal error occurred when inflating from data source.";
constexpr const char* kInflateSourceFailed = "Inflate from data source failed.";
constexpr const char* kInflateAbortedByCallback = "Inflate aborted by application event callback.";
// Pipeline routines.
constexpr const char* kCrcNullData = "Cannot scan to find CRC, data is NULL.";
constexpr const char* kCrcHandleNotOpen = "Failed to scan for CRC, file handle is not open.";
constexpr const char* kPipelineIncomplete = "Data pipeline did not complete!";
constexpr const char* kInflateNoFilename = "Inflate failed: no input filename";
constexpr const char* kInflateAborted = "Inflate aborted by application.";
constexpr const char* kInflateOutputFailed = "Inflate failed to write to output file";
constexpr const char* kInflateSourceFailed2 = "Failed to inflate from data source (2)";
constexpr const char* kInflateAbortedSource = "Inflate aborted by application..";
constexpr const char* kInflateSinkFailed = "Failed to inflate from data source because sink write failed.";
constexpr const char* kInflateFailed = "Inflate failed.";
constexpr const char* kNoInputData = "No input data";
constexpr const char* kHuffmanError = "Internal error in huffman decoding.";
constexpr const char* kSinkWriteFailed = "Sink write failed.";
// Zlib framing.
constexpr const char* kDeflateNotInitialized = "Deflate not initialized.";
constexpr const char* kDeflateAborted2 = "Deflate aborted by application (2)";
constexpr const char* kDeflatedEndedEarly = "Deflated data ended prematurely.";
} // namespace stream_msg

// Pipeline stages: a 50000-byte ring between stages, a 25000-byte deflate
// output buffer.
constexpr std::uint32_t kStageRingSize = 50000;
constexpr std::uint32_t kDeflateOutputSize = 25000;
// A pipeline whose passes move no byte this many times in a row has a sink
// that never takes anything.
constexpr int kPipelineMaxIdlePasses = 1000;

} // namespace tessik
