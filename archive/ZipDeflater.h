#pragma once
// The writer's raw-deflate compressor (RFC 1951). Input is pulled and output
// pushed through callbacks so an entry of any size streams through buffers
// allocated once per writer; the compression itself is the shared engine of
// platform/Deflate.h.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/Deflate.h"

namespace archive {

// Texts of the compressor's error message.
inline constexpr const char* kDeflateBadLevel = "bad pack level";
inline constexpr const char* kDeflateFlushFailed = "output flush failed";
inline constexpr const char* kDeflateNoMemory = "out of memory for the compressor";
inline constexpr const char* kDeflateStreamError = "compressor stream error";

class ZipDeflater {
public:
    // Fills the buffer from the entry's source: the count, or 0 / -1 at the end.
    using ReadFn = std::function<long(std::uint8_t* buffer, std::size_t length)>;
    // Writes bytes to the archive; false when they could not all be written.
    using FlushFn = std::function<bool(const std::uint8_t* data, std::size_t length)>;

    static constexpr int kMinLevel = 1;
    static constexpr int kMaxLevel = 8;

    ZipDeflater();
    ~ZipDeflater();
    ZipDeflater(const ZipDeflater&) = delete;
    ZipDeflater& operator=(const ZipDeflater&) = delete;

    // Compresses one entry: reads the source to its end and returns the number
    // of compressed bytes produced. `outBuffer` (at least 64 bytes) collects
    // output between flushes. `centralFlags`, when given, receives the level
    // bits. After a failed flush nothing more is written; error() tells why.
    std::uint64_t compress(const ReadFn& read, const FlushFn& flush, std::uint8_t* outBuffer, std::size_t outSize,
                           int level, std::uint16_t* centralFlags);

    // Null after a clean run, else the reason the output is not to be trusted.
    const char* error() const { return error_; }

private:
    // The first read asks for as much as the engine's window holds.
    static constexpr std::size_t kInputSize = 2 * platform::DeflateEngine::kWSize;

    platform::DeflateIo io_;
    std::unique_ptr<platform::DeflateEngine> engine_;
    std::unique_ptr<std::uint8_t[]> input_;
    const char* error_ = nullptr;
};

} // namespace archive
