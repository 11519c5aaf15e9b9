#include "archive/ZipDeflater.h"

#include <cassert>
#include <new>

namespace archive {
namespace {

// Central-flag bits announcing the compression level.
constexpr std::uint16_t kFlagMaximum = 0x2;
constexpr std::uint16_t kFlagFast = 0x4;
constexpr int kMaximumFromLevel = 8;
constexpr int kFastBelowLevel = 3;

} // namespace

ZipDeflater::ZipDeflater() = default;

ZipDeflater::~ZipDeflater() = default;

std::uint64_t ZipDeflater::compress(const ReadFn& read, const FlushFn& flush, std::uint8_t* outBuffer,
                                    std::size_t outSize, int level, std::uint16_t* centralFlags) {
    assert(outSize >= 64);
    error_ = nullptr;
    if (level < kMinLevel || level > kMaxLevel) {
        error_ = kDeflateBadLevel;
        return 0;
    }
    if (centralFlags)
        *centralFlags |= level >= kMaximumFromLevel ? kFlagMaximum : level < kFastBelowLevel ? kFlagFast : 0;

    // Made at the first entry and reused for every later one.
    if (!engine_) {
        engine_ = platform::DeflateEngine::create(io_, level);
        input_.reset(new (std::nothrow) std::uint8_t[kInputSize]);
        if (!engine_ || !input_) {
            engine_.reset();
            error_ = kDeflateNoMemory;
            return 0;
        }
    } else {
        engine_->reset(level);
    }
    io_ = platform::DeflateIo();
    const std::uint32_t room = outSize > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(outSize);

    bool endOfInput = false;
    for (;;) {
        if (io_.availIn == 0 && !endOfInput) {
            long n = read(input_.get(), kInputSize);
            if (n <= 0) {
                endOfInput = true;
            } else {
                io_.nextIn = input_.get();
                io_.availIn = static_cast<std::uint32_t>(n);
            }
        }
        io_.nextOut = outBuffer;
        io_.availOut = room;
        using Flush = platform::DeflateEngine::Flush;
        auto result = engine_->deflate(endOfInput ? Flush::kFinish : Flush::kNone);
        std::size_t produced = room - io_.availOut;
        if (produced > 0 && !flush(outBuffer, produced)) {
            // Nothing more is written or read after a failed write.
            error_ = kDeflateFlushFailed;
            return io_.totalOut;
        }
        if (result == platform::DeflateEngine::Result::kStreamEnd)
            return io_.totalOut;
        if (result == platform::DeflateEngine::Result::kStreamError) {
            error_ = kDeflateStreamError;
            return io_.totalOut;
        }
    }
}

} // namespace archive
