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
} // namespace stream_msg

} // namespace tessik
