#include "archive/ZipWriter.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <new>

#include "archive/ZipBytes.h"
#include "archive/ZipDeflater.h"
#include "archive/ZipHandleSupport.h"
#include "archive/ZipTime.h"
#include "platform/Cp1252Text.h"
#include "platform/Crc32.h"
#include "platform/CryptProv.h"

namespace archive {
namespace {

constexpr int kDeflateLevel = 8;
constexpr std::size_t kMaxNameLength = kZipMaxPath - 1;
constexpr std::size_t kMaxEntries = 0xFFFF;

// Names whose data is already compressed are stored as they are.
constexpr const char* kStoredExtensions[] = {".Z", ".zip", ".zoo", ".arc", ".lzh", ".arj", ".gz", ".tgz"};

// Unix mode bits kept in the high half of the external attributes.
constexpr std::uint32_t kModeRegular = 0x80000000u;
constexpr std::uint32_t kModeOwnerRead = 0x01000000u;
constexpr std::uint32_t kModeOwnerWrite = 0x00800000u;
constexpr std::uint32_t kModeOwnerExec = 0x00400000u;

constexpr std::uint8_t kUtFlagsAllTimes = 7;

bool HasStoredExtension(const std::string& name) {
    auto dot = name.rfind('.');
    if (dot == std::string::npos)
        return false;
    std::string ext = name.substr(dot);
    for (const char* candidate : kStoredExtensions) {
        if (strcasecmp(ext.c_str(), candidate) == 0)
            return true;
    }
    return false;
}

// The fields local and central headers share, from the method to the name length.
void PutSharedFields(std::vector<std::uint8_t>& h, std::uint16_t method, std::uint32_t dosDateTime, std::uint32_t crc,
                     std::uint32_t compressed, std::uint32_t uncompressed, std::size_t nameLength) {
    PutLe16(h, method);
    PutLe32(h, dosDateTime);
    PutLe32(h, crc);
    PutLe32(h, compressed);
    PutLe32(h, uncompressed);
    PutLe16(h, static_cast<std::uint32_t>(nameLength));
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t count, std::size_t* written) {
    *written = 0;
    while (*written < count) {
        ssize_t n = ::write(fd, data + *written, count - *written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0)
            return false;
        *written += static_cast<std::size_t>(n);
    }
    return true;
}

// Per thread, like the platform's last error: one thread's call never
// answers for another's.
thread_local ZipResult t_lastWriterResult = ZipResult::Ok;

ZipResult StoreWriterResult(ZipResult r) {
    t_lastWriterResult = r;
    return r;
}

} // namespace

ZipWriter::ZipWriter(const char* password, ZipRandomSource random)
    : random_(random ? std::move(random) : ZipRandomSource(platform::SystemRandomBytes)) {
    if (password && *password) {
        password_ = password;
        hasPassword_ = true;
    }
}

ZipWriter::~ZipWriter() {
    closeSource();
    releaseOutput();
}

ZipResult ZipWriter::openOutput(const void* target, std::uint64_t size, int kind) {
    if (outputOpen_ || error_ != ZipResult::Ok || finished_)
        return ZipResult::NotReady;
    switch (kind) {
    case kZipOutputHandle: {
        if (!target || *static_cast<const int*>(target) < 0)
            return ZipResult::BadArguments;
        fd_ = *static_cast<const int*>(target);
        ownsFd_ = false;
        off_t pos = ::lseek(fd_, 0, SEEK_CUR);
        seekable_ = pos >= 0;
        baseOffset_ = seekable_ ? static_cast<std::uint64_t>(pos) : 0;
        break;
    }
    case kZipOutputFileName: {
        if (!target)
            return ZipResult::BadArguments;
        int fd = ::open(static_cast<const char*>(target), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return ZipResult::CannotOpen;
        fd_ = fd;
        ownsFd_ = true;
        // open() wrote through a link and left a device or a pipe as it
        // stands; a pipe cannot go back to finish the headers.
        seekable_ = ::lseek(fd, 0, SEEK_CUR) >= 0;
        baseOffset_ = 0;
        break;
    }
    case kZipOutputMemory: {
        if (size == 0)
            return ZipResult::OutputTooSmall;
        if (target) {
            memory_ = static_cast<std::uint8_t*>(const_cast<void*>(target));
        } else {
            void* p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (p == MAP_FAILED)
                return ZipResult::NoMemory;
            memory_ = static_cast<std::uint8_t*>(p);
            mapped_ = true;
        }
        capacity_ = size;
        memoryPos_ = 0;
        seekable_ = true;
        baseOffset_ = 0;
        break;
    }
    default: return ZipResult::BadArguments;
    }
    outputOpen_ = true;
    return ZipResult::Ok;
}

void ZipWriter::releaseOutput() {
    if (mapped_)
        ::munmap(memory_, capacity_);
    if (ownsFd_ && fd_ >= 0)
        ::close(fd_);
    mapped_ = false;
    memory_ = nullptr;
    capacity_ = 0;
    fd_ = -1;
    ownsFd_ = false;
    outputOpen_ = false;
}

std::size_t ZipWriter::writeOutput(const std::uint8_t* data, std::size_t count) {
    if (!outputOpen_) {
        error_ = ZipResult::NotReady;
        return 0;
    }
    if (encrypting_) {
        if (scratch_.size() < count)
            scratch_.resize(count);
        std::memcpy(scratch_.data(), data, count);
        zipEncodeBuffer(keys_, scratch_.data(), count);
        data = scratch_.data();
    }
    std::size_t written = 0;
    if (memory_) {
        if (memoryPos_ + count > capacity_) {
            error_ = ZipResult::OutputTooSmall;
            return 0;
        }
        std::memcpy(memory_ + memoryPos_, data, count);
        memoryPos_ += count;
        written = count;
    } else {
        WriteAll(fd_, data, count, &written);
    }
    // Counting what really went out keeps later offsets true after a short write.
    offset_ += written;
    return written;
}

ZipResult ZipWriter::rewriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count) {
    if (!seekable_) {
        error_ = ZipResult::SeekImpossible;
        return error_;
    }
    if (memory_) {
        if (offset + count > capacity_) {
            error_ = ZipResult::OutputTooSmall;
            return error_;
        }
        std::memcpy(memory_ + offset, data, count);
        return ZipResult::Ok;
    }
    std::size_t done = 0;
    while (done < count) {
        ssize_t n = ::pwrite(fd_, data + done, count - done, static_cast<off_t>(baseOffset_ + offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == ESPIPE) {
            error_ = ZipResult::SeekImpossible;
            return error_;
        }
        if (n <= 0)
            return ZipResult::WriteError;
        done += static_cast<std::size_t>(n);
    }
    return ZipResult::Ok;
}

void ZipWriter::sourceTimesNow() {
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    source_.atime = source_.mtime = source_.ctime = now;
    source_.dosDateTime = UnixToDosDateTime(now);
}

ZipResult ZipWriter::sourceInfoFromFd(int fd) {
    struct statx sx{};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0)
        return ZipResult::CannotOpen;
    if (S_ISDIR(sx.stx_mode))
        return ZipResult::CannotOpen;
    // No Zip64 here: a source of 4 GiB or more can't be described.
    if (sx.stx_size > kZipMax32)
        return ZipResult::CannotOpen;

    bool readOnly = (sx.stx_mode & S_IWUSR) == 0;
    std::uint32_t attrs = kZipAttrArchive | kModeRegular | kModeOwnerRead;
    if (readOnly)
        attrs |= kZipAttrReadOnly;
    else
        attrs |= kModeOwnerWrite;
    if (sx.stx_mode & S_IXUSR)
        attrs |= kModeOwnerExec;
    source_.externalAttributes = attrs;
    source_.sizeKnown = true;
    source_.size = sx.stx_size;
    source_.atime = sx.stx_atime.tv_sec;
    source_.mtime = sx.stx_mtime.tv_sec;
    source_.ctime = (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec : sx.stx_mtime.tv_sec;
    source_.dosDateTime = UnixToDosDateTime(source_.mtime);
    return ZipResult::Ok;
}

ZipResult ZipWriter::openSource(const void* source, std::uint64_t length, int kind) {
    source_ = Source{};
    switch (kind) {
    case kZipSourceFileName: {
        if (!source)
            return ZipResult::BadArguments;
        int fd = ::open(static_cast<const char*>(source), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return ZipResult::CannotOpen;
        ZipResult r = sourceInfoFromFd(fd);
        if (r != ZipResult::Ok) {
            ::close(fd);
            return r;
        }
        source_.fd = fd;
        source_.owned = true;
        return ZipResult::Ok;
    }
    case kZipSourceHandle: {
        if (!source || *static_cast<const int*>(source) < 0)
            return ZipResult::BadArguments;
        int fd = *static_cast<const int*>(source);
        if (::lseek(fd, 0, SEEK_CUR) < 0) {
            // A pipe: the caller may announce its length; its time is now.
            if (length > kZipMax32)
                return ZipResult::CannotOpen;
            source_.externalAttributes = kZipStreamAttributes;
            source_.sizeKnown = length != 0;
            source_.size = length;
            sourceTimesNow();
        } else {
            ZipResult r = sourceInfoFromFd(fd);
            if (r != ZipResult::Ok)
                return r;
            if (::lseek(fd, 0, SEEK_SET) < 0)
                return ZipResult::CannotOpen;
        }
        source_.fd = fd;
        return ZipResult::Ok;
    }
    case kZipSourceMemory:
        if (!source || length == 0)
            return ZipResult::BadArguments;
        if (length > kZipMax32)
            return ZipResult::CannotOpen;
        source_.memory = static_cast<const std::uint8_t*>(source);
        source_.memoryLength = length;
        source_.externalAttributes = kZipStreamAttributes;
        source_.sizeKnown = true;
        source_.size = length;
        sourceTimesNow();
        return ZipResult::Ok;
    case kZipSourceFolder:
        source_.externalAttributes = kZipFolderAttributes;
        source_.sizeKnown = true;
        sourceTimesNow();
        return ZipResult::Ok;
    default: return ZipResult::BadArguments;
    }
}

void ZipWriter::closeSource() {
    if (source_.owned && source_.fd >= 0)
        ::close(source_.fd);
    source_.fd = -1;
    source_.owned = false;
}

long ZipWriter::readSource(std::uint8_t* buffer, std::size_t length) {
    std::size_t n = 0;
    if (source_.memory) {
        std::uint64_t left = source_.memoryLength - source_.memoryPos;
        n = static_cast<std::size_t>(std::min<std::uint64_t>(left, length));
        std::memcpy(buffer, source_.memory + source_.memoryPos, n);
        source_.memoryPos += n;
    } else if (source_.fd >= 0) {
        ssize_t r;
        do
            r = ::read(source_.fd, buffer, length);
        while (r < 0 && errno == EINTR);
        if (r < 0) {
            // A read error must not pass as the end of a shorter file.
            source_.readFailed = true;
            return 0;
        }
        n = static_cast<std::size_t>(r);
    }
    if (source_.bytesRead + n > kZipMax32) {
        source_.tooLarge = true;
        return 0;
    }
    source_.bytesRead += n;
    source_.crc = platform::Crc32(source_.crc, buffer, n);
    return static_cast<long>(n);
}

bool ZipWriter::storeEntry(std::uint64_t* dataLength) {
    *dataLength = 0;
    for (;;) {
        long n = readSource(io_, sizeof io_);
        if (n <= 0)
            return true;
        std::size_t written = writeOutput(io_, static_cast<std::size_t>(n));
        *dataLength += written;
        if (written != static_cast<std::size_t>(n))
            return false;
    }
}

bool ZipWriter::deflateEntry(Record& record, std::uint64_t* dataLength) {
    if (!deflater_) {
        deflater_.reset(new (std::nothrow) ZipDeflater());
        if (!deflater_)
            return false;
    }
    ZipDeflater::ReadFn read = [this](std::uint8_t* b, std::size_t n) { return readSource(b, n); };
    ZipDeflater::FlushFn flush = [this](const std::uint8_t* d, std::size_t n) { return writeOutput(d, n) == n; };
    *dataLength = deflater_->compress(read, flush, io_, sizeof io_, kDeflateLevel, &record.centralFlags);
    return deflater_->error() == nullptr;
}

std::vector<std::uint8_t> ZipWriter::localHeader(const Record& r) const {
    std::vector<std::uint8_t> h;
    h.reserve(kZipLocalHeaderSize + r.name.size() + kZipLocalExtraSize);
    PutLe32(h, kZipLocalHeaderSignature);
    PutLe16(h, kZipVersionNeeded);
    PutLe16(h, r.localFlags);
    PutSharedFields(h, r.method, r.dosDateTime, r.crc, r.compressedSize, r.uncompressedSize, r.name.size());
    PutLe16(h, kZipLocalExtraSize);
    h.insert(h.end(), r.name.begin(), r.name.end());
    h.push_back('U');
    h.push_back('T');
    PutLe16(h, kZipLocalExtraSize - 4);
    h.push_back(kUtFlagsAllTimes);
    PutLe32(h, r.mtime);
    PutLe32(h, r.atime);
    PutLe32(h, r.ctime);
    return h;
}

ZipResult ZipWriter::addEntry(const char* name, const void* source, std::uint64_t length, int kind) {
    if (error_ != ZipResult::Ok)
        return ZipResult::PreviousError;
    if (finished_)
        return ZipResult::AlreadyFinished;
    if (!name || !*name)
        return ZipResult::BadArguments;
    Record rec;
    // Names are written as UTF-8; a name that is not is read as the Windows
    // code page, as every other text from Windows is.
    rec.name = platform::Utf8OrCp1252ToUtf8(name);
    std::replace(rec.name.begin(), rec.name.end(), '\\', '/');
    const bool folder = kind == kZipSourceFolder;
    if (folder && rec.name.back() != '/')
        rec.name += '/';
    if (rec.name.size() > kMaxNameLength)
        return ZipResult::BadArguments;
    if (entries_.size() >= kMaxEntries || offset_ + baseOffset_ > kZipMax32)
        return ZipResult::WriteError;
    rec.method = folder || HasStoredExtension(rec.name) ? kZipMethodStored : kZipMethodDeflated;

    ZipResult opened = openSource(source, length, kind);
    if (opened != ZipResult::Ok)
        return opened;

    const bool encrypted = hasPassword_ && !folder;
    const std::uint64_t headerExtra = encrypted ? kZipCryptHeaderSize : 0;
    rec.localFlags = rec.centralFlags = encrypted ? (kZipFlagDescriptor | kZipFlagEncrypted) : kZipFlagDescriptor;
    // Readers take unflagged names as an old DOS code page.
    if (std::any_of(rec.name.begin(), rec.name.end(), [](char ch) { return static_cast<unsigned char>(ch) >= 0x80; }))
        rec.localFlags = rec.centralFlags = static_cast<std::uint16_t>(rec.localFlags | kZipFlagUtf8);
    rec.dosDateTime = source_.dosDateTime;
    rec.crc = 0;
    // With bit 3 set, an unknown size stays 0 here and follows in the descriptor.
    rec.uncompressedSize = source_.sizeKnown ? static_cast<std::uint32_t>(source_.size) : 0;
    if (rec.method == kZipMethodStored && source_.sizeKnown && source_.size + headerExtra <= kZipMax32)
        rec.compressedSize = static_cast<std::uint32_t>(source_.size + headerExtra);
    rec.externalAttributes = source_.externalAttributes;
    rec.localHeaderOffset = static_cast<std::uint32_t>(offset_ + baseOffset_);
    rec.mtime = static_cast<std::uint32_t>(source_.mtime);
    rec.atime = static_cast<std::uint32_t>(source_.atime);
    rec.ctime = static_cast<std::uint32_t>(source_.ctime);
    const std::uint32_t announcedCompressed = rec.compressedSize;
    const std::uint64_t localOffset = offset_;

    std::vector<std::uint8_t> header = localHeader(rec);
    if (writeOutput(header.data(), header.size()) != header.size()) {
        closeSource();
        return error_ != ZipResult::Ok ? error_ : ZipResult::WriteError;
    }

    if (encrypted) {
        // The check byte is the DOS time's high byte: the entry has a descriptor.
        std::uint8_t cryptHeader[kZipCryptHeaderSize];
        auto check = static_cast<std::uint8_t>(rec.dosDateTime >> 8);
        if (!makeZipCryptHeader(keys_, password_.c_str(), check, random_, cryptHeader) ||
            writeOutput(cryptHeader, sizeof cryptHeader) != sizeof cryptHeader) {
            closeSource();
            return error_ != ZipResult::Ok ? error_ : ZipResult::WriteError;
        }
    }

    std::uint64_t dataLength = 0;
    bool dataOk = true;
    encrypting_ = encrypted;
    if (rec.method == kZipMethodDeflated)
        dataOk = deflateEntry(rec, &dataLength);
    else if (!folder)
        dataOk = storeEntry(&dataLength);
    encrypting_ = false;
    closeSource();

    if (error_ != ZipResult::Ok)
        return error_;
    if (source_.readFailed || source_.tooLarge)
        return ZipResult::CannotOpen;
    if (!dataOk || dataLength + headerExtra > kZipMax32)
        return ZipResult::WriteError;

    rec.crc = source_.crc;
    rec.compressedSize = static_cast<std::uint32_t>(dataLength + headerExtra);
    rec.uncompressedSize = static_cast<std::uint32_t>(source_.bytesRead);

    if (seekable_ && !encrypted) {
        rec.centralFlags &= static_cast<std::uint16_t>(~kZipFlagDescriptor);
        rec.localFlags = rec.centralFlags;
        header = localHeader(rec);
        ZipResult r = rewriteAt(localOffset, header.data(), header.size());
        if (r != ZipResult::Ok)
            return r;
    } else {
        if (rec.method == kZipMethodStored && rec.compressedSize != announcedCompressed)
            return ZipResult::EntryUnfinished;
        std::vector<std::uint8_t> d;
        PutLe32(d, kZipDescriptorSignature);
        PutLe32(d, rec.crc);
        PutLe32(d, rec.compressedSize);
        PutLe32(d, rec.uncompressedSize);
        if (writeOutput(d.data(), d.size()) != d.size() && error_ == ZipResult::Ok)
            return ZipResult::WriteError;
        rec.centralFlags = rec.localFlags;
    }
    if (error_ != ZipResult::Ok)
        return error_;
    entries_.push_back(std::move(rec));
    return ZipResult::Ok;
}

ZipResult ZipWriter::writeCentralDirectory() {
    const std::uint64_t start = offset_ + baseOffset_;
    std::uint64_t size = 0;
    std::vector<std::uint8_t> h;
    for (const Record& r : entries_) {
        h.clear();
        PutLe32(h, kZipCentralHeaderSignature);
        PutLe16(h, kZipVersionMadeBy);
        PutLe16(h, kZipVersionNeeded);
        PutLe16(h, r.centralFlags);
        PutSharedFields(h, r.method, r.dosDateTime, r.crc, r.compressedSize, r.uncompressedSize, r.name.size());
        PutLe16(h, kZipCentralExtraSize);
        PutLe16(h, 0); // comment length
        PutLe16(h, 0); // disk number start
        PutLe16(h, 0); // internal attributes
        PutLe32(h, r.externalAttributes);
        PutLe32(h, r.localHeaderOffset);
        h.insert(h.end(), r.name.begin(), r.name.end());
        h.push_back('U');
        h.push_back('T');
        PutLe16(h, kZipCentralExtraSize - 4);
        h.push_back(kUtFlagsAllTimes);
        PutLe32(h, r.mtime);
        if (writeOutput(h.data(), h.size()) != h.size())
            return ZipResult::WriteError;
        size += h.size();
    }
    if (start > kZipMax32 || size > kZipMax32)
        return ZipResult::WriteError;
    h.clear();
    PutLe32(h, kZipEndRecordSignature);
    PutLe16(h, 0);
    PutLe16(h, 0);
    PutLe16(h, static_cast<std::uint32_t>(entries_.size()));
    PutLe16(h, static_cast<std::uint32_t>(entries_.size()));
    PutLe32(h, static_cast<std::uint32_t>(size));
    PutLe32(h, static_cast<std::uint32_t>(start));
    PutLe16(h, 0);
    if (writeOutput(h.data(), h.size()) != h.size())
        return ZipResult::WriteError;
    return ZipResult::Ok;
}

ZipResult ZipWriter::finish() {
    ZipResult r = ZipResult::Ok;
    if (!finished_) {
        finished_ = true;
        r = writeCentralDirectory();
    }
    entries_.clear();
    releaseOutput();
    return r;
}

} // namespace archive

using archive::ZipWriter;

ZipHandle* createZipWriter(const void* target, std::uint64_t size, int kind, const char* password,
                           archive::ZipRandomSource random) {
    auto* writer = new (std::nothrow) ZipWriter(password, std::move(random));
    if (!writer) {
        archive::StoreWriterResult(ZipResult::NoMemory);
        return nullptr;
    }
    ZipResult r = writer->openOutput(target, size, kind);
    ZipHandle* handle = archive::WrapInHandle(writer, ZipHandleKind::Writer, &r);
    archive::StoreWriterResult(r);
    return handle;
}

ZipResult addZipEntry(ZipHandle* handle, const char* nameInArchive, const void* source, std::uint64_t length,
                      int kind) {
    ZipResult refusal = ZipResult::Ok;
    auto* writer = archive::ObjectOf<ZipWriter>(handle, ZipHandleKind::Writer, &refusal);
    if (!writer)
        return archive::StoreWriterResult(refusal);
    return archive::StoreWriterResult(writer->addEntry(nameInArchive, source, length, kind));
}

ZipHandle* CreateZipArchive(const char* fileName, const char* password) {
    return createZipWriter(fileName, 0, archive::kZipOutputFileName, password);
}

ZipResult AddFileToZipArchive(ZipHandle* handle, const char* nameInArchive, const char* sourcePath) {
    return addZipEntry(handle, nameInArchive, sourcePath, 0, archive::kZipSourceFileName);
}

ZipResult CloseZipWriter(ZipHandle* handle) {
    ZipResult refusal = ZipResult::Ok;
    auto* writer = archive::ObjectOf<ZipWriter>(handle, ZipHandleKind::Writer, &refusal);
    if (!writer)
        return archive::StoreWriterResult(refusal);
    ZipResult r = writer->finish();
    delete writer;
    delete handle;
    return archive::StoreWriterResult(r);
}

bool IsZipReaderHandle(const ZipHandle* handle) {
    return handle && handle->kind == ZipHandleKind::Reader;
}

ZipResult LastZipWriterResult() {
    return archive::t_lastWriterResult;
}
