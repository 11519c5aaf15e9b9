#include "archive/ZipByteSource.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace archive {

ZipResult ZipByteSource::open(const void* source, std::uint64_t length, int kind, std::unique_ptr<ZipByteSource>* out) {
    std::unique_ptr<ZipByteSource> s(new (std::nothrow) ZipByteSource());
    if (!s)
        return ZipResult::NoMemory;
    switch (kind) {
    case kZipInputHandle:
        if (!source || *static_cast<const int*>(source) < 0)
            return ZipResult::BadArguments;
        s->fd_ = *static_cast<const int*>(source);
        break;
    case kZipInputFileName:
        if (!source)
            return ZipResult::BadArguments;
        s->fd_ = ::open(static_cast<const char*>(source), O_RDONLY | O_CLOEXEC);
        if (s->fd_ < 0)
            return ZipResult::CannotOpen;
        s->owned_ = true;
        break;
    case kZipInputMemory:
        if (!source)
            return ZipResult::BadArguments;
        s->memory_ = static_cast<const std::uint8_t*>(source);
        s->length_ = length;
        s->seekable_ = true;
        *out = std::move(s);
        return ZipResult::Ok;
    default: return ZipResult::BadArguments;
    }
    off_t pos = ::lseek(s->fd_, 0, SEEK_CUR);
    s->seekable_ = pos >= 0;
    s->base_ = pos >= 0 ? static_cast<std::uint64_t>(pos) : 0;
    *out = std::move(s);
    return ZipResult::Ok;
}

ZipByteSource::~ZipByteSource() {
    if (owned_ && fd_ >= 0)
        ::close(fd_);
}

std::uint64_t ZipByteSource::tell() const {
    if (memory_)
        return pos_;
    if (!seekable_)
        return 0;
    off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    return pos < 0 ? 0 : static_cast<std::uint64_t>(pos) - base_;
}

int ZipByteSource::seek(std::int64_t offset, int origin) {
    if (memory_) {
        std::int64_t target;
        switch (origin) {
        case kZipSeekStart: target = offset; break;
        case kZipSeekCurrent: target = static_cast<std::int64_t>(pos_) + offset; break;
        case kZipSeekEnd: target = static_cast<std::int64_t>(length_) + offset; break;
        default: return kZipSeekBadOrigin;
        }
        if (target < 0)
            return -1;
        pos_ = static_cast<std::uint64_t>(target);
        return 0;
    }
    if (!seekable_)
        return kZipSeekImpossible;
    off_t r;
    switch (origin) {
    case kZipSeekStart: r = ::lseek(fd_, static_cast<off_t>(base_) + offset, SEEK_SET); break;
    case kZipSeekCurrent: r = ::lseek(fd_, offset, SEEK_CUR); break;
    case kZipSeekEnd: r = ::lseek(fd_, offset, SEEK_END); break;
    default: return kZipSeekBadOrigin;
    }
    return r < 0 ? -1 : 0;
}

std::size_t ZipByteSource::read(void* buffer, std::size_t size, std::size_t count) {
    if (size == 0 || count == 0)
        return 0;
    std::size_t wanted = size * count;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    if (memory_) {
        if (pos_ < length_) {
            got = static_cast<std::size_t>(std::min<std::uint64_t>(wanted, length_ - pos_));
            std::memcpy(out, memory_ + pos_, got);
            pos_ += got;
        }
    } else {
        while (got < wanted) {
            ssize_t n = ::read(fd_, out + got, wanted - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                error_ = true;
                break;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
    }
    return got / size;
}

} // namespace archive
