#include "archive/ZipReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "archive/ZipFormat.h"
#include "archive/ZipHandleSupport.h"
#include "archive/ZipTime.h"
#include "platform/ByteOrder.h"
#include "platform/Cp1252Text.h"
#include "platform/File.h"
#include "platform/PartFile.h"
#include "platform/QuietWrite.h"

namespace archive {
namespace {

constexpr std::size_t kExtractBufferSize = 16384;
constexpr std::uint16_t kUtTag = 0x5455; // "UT"

// Per thread, like the platform's last error: one thread's call never
// answers for another's.
thread_local ZipResult t_lastReaderResult = ZipResult::Ok;

ZipResult StoreReaderResult(ZipResult r) {
    t_lastReaderResult = r;
    return r;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

bool IsAbsolutePath(const std::string& p) {
    return (!p.empty() && IsSeparator(p[0])) || (p.size() >= 2 && p[1] == ':');
}

// mkdir -p, one level at a time; failures show when the file is created.
void CreateFolders(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/') {
            std::string part = path.substr(0, i);
            struct stat st;
            if (::stat(part.c_str(), &st) != 0)
                ::mkdir(part.c_str(), 0777);
        }
    }
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// What an entry that would not open tells the caller.
ZipResult OpenFailure(int rc) {
    switch (rc) {
    case kCoreWrongPassword: return ZipResult::WrongPassword;
    case kCoreUnsupportedEncryption: return ZipResult::UnsupportedEncryption;
    default: return ZipResult::DecompressError;
    }
}

} // namespace

std::string CleanEntryName(const std::string& whole) {
    // What follows a NUL is no part of the name: a C string ends there.
    const std::string stored = whole.substr(0, whole.find('\0'));
    // The old rules first: they decide what a listing has always shown.
    std::size_t start = 0;
    for (bool changed = true; changed && start < stored.size();) {
        changed = false;
        std::string_view rest(stored.data() + start, stored.size() - start);
        if (rest.size() >= 2 && rest[1] == ':') {
            start += 2;
            changed = true;
        } else if (IsSeparator(rest[0])) {
            start += 1;
            changed = true;
        } else {
            for (const char* dots : {"\\..\\", "\\../", "/../", "/..\\"}) {
                auto at = rest.find(dots);
                if (at != std::string_view::npos) {
                    start += at + 4;
                    changed = true;
                    break;
                }
            }
        }
    }
    // Then parts: empty, "." and ".." ones go, as python's zipfile drops them.
    std::string out;
    std::size_t i = start;
    while (i < stored.size()) {
        std::size_t j = i;
        while (j < stored.size() && !IsSeparator(stored[j]))
            ++j;
        std::string_view part(stored.data() + i, j - i);
        if (!part.empty() && part != "." && part != "..") {
            if (!out.empty())
                out += '/';
            out.append(part);
        }
        i = j + 1;
    }
    if (!out.empty() && IsSeparator(stored.back()))
        out += '/';
    return out;
}

std::uint32_t EntryAttributes(std::uint16_t versionMadeBy, std::uint32_t externalAttributes) {
    const unsigned host = versionMadeBy >> 8;
    if (host == 0 || host == 7 || host == 11 || host == 14) {
        return externalAttributes &
               (kZipAttrReadOnly | kZipAttrHidden | kZipAttrSystem | kZipAttrDirectory | kZipAttrArchive);
    }
    std::uint32_t a = kZipAttrArchive;
    if (externalAttributes & (1u << 30))
        a |= kZipAttrDirectory;
    if (!(externalAttributes & (1u << 23)))
        a |= kZipAttrReadOnly;
    return a;
}

ZipReader::ZipReader(const char* password) {
    if (password) {
        password_ = password;
        hasPassword_ = true;
    }
}

ZipReader::~ZipReader() {
    close();
}

ZipResult ZipReader::open(const void* source, std::uint64_t length, int kind) {
    if (core_)
        return ZipResult::NotReady;
    char cwd[4096];
    root_ = ::getcwd(cwd, sizeof cwd) ? cwd : ".";
    if (root_.back() != '/')
        root_ += '/';
    std::unique_ptr<ZipByteSource> src;
    ZipResult r = ZipByteSource::open(source, length, kind, &src);
    if (r != ZipResult::Ok)
        return r;
    if (kind == kZipInputHandle && !src->seekable())
        return ZipResult::SeekImpossible;
    int error = kCoreOk;
    core_ = ZipArchiveCore::open(std::move(src), &error);
    if (core_)
        return ZipResult::Ok;
    return error == kCoreOverlap ? ZipResult::Corrupt : ZipResult::CannotOpen;
}

ZipResult ZipReader::close() {
    closeOpenEntry();
    core_.reset();
    return ZipResult::Ok;
}

void ZipReader::closeOpenEntry() {
    if (core_)
        core_->closeCurrentEntry();
    openIndex_ = -1;
}

bool ZipReader::positionOn(int index) {
    return core_->goToEntry(index) == kCoreOk;
}

ZipResult ZipReader::getEntry(int index, ZipEntryInfo* record) {
    if (!core_)
        return ZipResult::NotReady;
    if (index < -1 || index >= core_->entryCount())
        return ZipResult::BadArguments;
    closeOpenEntry();
    if (index == lastIndex_ && index != -1) {
        *record = last_;
        return lastResult_;
    }
    if (index == -1) {
        *record = ZipEntryInfo{};
        record->index = core_->entryCount();
        return ZipResult::Ok;
    }
    lastIndex_ = -1;
    if (!positionOn(index))
        return ZipResult::Corrupt;

    ZipCentralRecord c;
    std::string stored;
    core_->getCurrentEntryInfo(&c, &stored);
    ZipLocalHeaderInfo local;
    const int header = core_->checkLocalHeader(&local);
    if (header == kCoreUnsupportedEncryption)
        return ZipResult::UnsupportedEncryption;
    if (header != kCoreOk)
        return ZipResult::Corrupt;
    // The local extra field is read whole, whatever its size.
    std::vector<std::uint8_t> extra(local.extraLength);
    ZipByteSource& src = core_->source();
    if (src.seek(static_cast<std::int64_t>(local.extraPosition + core_->bytesBefore()), kZipSeekStart) != 0 ||
        (!extra.empty() && src.read(extra.data(), extra.size(), 1) != 1))
        return ZipResult::ReadError;

    // Flagged names are UTF-8 and must be; others are what older writers
    // (this one among them) left: UTF-8, else the Windows code page.
    bool named = true;
    if (c.flags & kZipFlagUtf8)
        named = platform::IsValidUtf8(stored);
    else
        stored = platform::Utf8OrCp1252ToUtf8(stored);
    const std::string name = named ? CleanEntryName(stored) : std::string();
    // A name that gives no file name leaves the entry itself readable.
    named = !name.empty() && name.size() < kZipMaxPath;
    const std::string_view kept(stored.data(), std::min(stored.size(), stored.find('\0')));

    ZipEntryInfo info{};
    info.index = index;
    if (named)
        std::memcpy(info.name, name.c_str(), name.size() + 1);
    // A folder is a name ending in '/', as every peer judges it: a stray
    // directory bit must not turn a file's data into an empty folder unread.
    info.attributes = EntryAttributes(c.versionMadeBy, c.externalAttributes) & ~kZipAttrDirectory;
    if (!kept.empty() && IsSeparator(kept.back()))
        info.attributes |= kZipAttrDirectory;
    info.compressedSize = c.compressedSize;
    info.uncompressedSize = c.uncompressedSize;
    std::int64_t unixTime;
    if (DosDateTimeToUnix(c.dosDateTime, &unixTime)) {
        info.accessTime = info.creationTime = info.lastWriteTime = UnixToFileTime(unixTime);
    }

    // The first "UT" block's Unix times win over the DOS date-time.
    for (std::size_t pos = 0; pos + 4 < extra.size();) {
        std::uint16_t tag = platform::LoadLe16(&extra[pos]);
        std::size_t size = platform::LoadLe16(&extra[pos + 2]);
        if (tag != kUtTag) {
            pos += 4 + size;
            continue;
        }
        std::size_t blockEnd = std::min(extra.size(), pos + 4 + size);
        std::uint8_t flags = extra[pos + 4];
        std::size_t p = pos + 5;
        ZipFileTime* slots[3] = {&info.lastWriteTime, &info.accessTime, &info.creationTime};
        for (int bit = 0; bit < 3; ++bit) {
            if (!(flags & (1 << bit)))
                continue;
            if (p + 4 > blockEnd)
                break;
            *slots[bit] = UnixToFileTime(static_cast<std::int32_t>(platform::LoadLe32(&extra[p])));
            p += 4;
        }
        break;
    }

    last_ = info;
    lastIndex_ = index;
    lastResult_ = named ? ZipResult::Ok : ZipResult::NameUnusable;
    *record = info;
    return lastResult_;
}

std::string ZipReader::resolve(const std::string& path) const {
    std::string p = path;
    std::replace(p.begin(), p.end(), '\\', '/');
    return IsAbsolutePath(p) ? p : root_ + p;
}

ZipResult ZipReader::extract(int index, const void* target, std::uint64_t length, int kind) {
    if (!core_)
        return ZipResult::NotReady;
    if (kind != kZipTargetHandle && kind != kZipTargetFileName && kind != kZipTargetMemory)
        return ZipResult::BadArguments;
    if (!target)
        return ZipResult::BadArguments;
    if (kind == kZipTargetMemory)
        return extractToMemory(index, static_cast<std::uint8_t*>(const_cast<void*>(target)), length);

    closeOpenEntry();
    if (index < 0 || index >= core_->entryCount())
        return ZipResult::BadArguments;
    // An entry that can't be listed (damaged header, unsafe name) is not
    // extracted either.
    ZipEntryInfo record;
    ZipResult listed = getEntry(index, &record);
    if (listed != ZipResult::Ok && listed != ZipResult::NameUnusable)
        return listed;
    const bool folder = (record.attributes & kZipAttrDirectory) != 0;

    // The record may have come from the cache: put the core on the entry.
    if (!positionOn(index))
        return ZipResult::Corrupt;
    if (kind == kZipTargetHandle) {
        if (folder)
            return ZipResult::Ok;
        return extractToHandle(*static_cast<const int*>(target));
    }
    std::string path = resolve(static_cast<const char*>(target));
    if (folder) {
        CreateFolders(path);
        return IsFolder(path) ? ZipResult::Ok : ZipResult::CannotOpen;
    }
    return extractToFile(record, path);
}

ZipResult ZipReader::copyEntry(int fd) {
    if (buffer_.empty())
        buffer_.resize(kExtractBufferSize);
    for (;;) {
        bool end = false;
        long n = core_->readCurrentEntry(buffer_.data(), buffer_.size(), &end);
        if (n == kCoreWrongPassword)
            return ZipResult::WrongPassword;
        if (n < 0)
            return ZipResult::DecompressError;
        std::size_t done = 0;
        while (done < static_cast<std::size_t>(n)) {
            ssize_t w = ::write(fd, buffer_.data() + done, static_cast<std::size_t>(n) - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return w < 0 && platform::IsDiskFull(errno) ? ZipResult::DiskFull : ZipResult::WriteError;
            done += static_cast<std::size_t>(w);
        }
        if (end)
            break;
        if (n == 0)
            return ZipResult::DecompressError; // the data ends before the entry
    }
    return core_->closeCurrentEntry() == kCoreCrcMismatch ? ZipResult::DecompressError : ZipResult::Ok;
}

ZipResult ZipReader::extractToHandle(int fd) {
    int rc = core_->openCurrentEntry(hasPassword_ ? password_.c_str() : nullptr);
    if (rc != kCoreOk)
        return OpenFailure(rc);
    ZipResult r = copyEntry(fd);
    core_->closeCurrentEntry();
    return r;
}

ZipResult ZipReader::extractToFile(const ZipEntryInfo& record, const std::string& target) {
    // The password is checked before anything is created.
    int rc = core_->openCurrentEntry(hasPassword_ ? password_.c_str() : nullptr);
    if (rc != kCoreOk)
        return OpenFailure(rc);

    // A link is written through to its target, a device or a pipe as it
    // stands; anything else goes beside the target first and is renamed over
    // it only once the whole entry was written and its CRC matched.
    if (!target.empty() && target.back() == '/') {
        core_->closeCurrentEntry();
        return ZipResult::CannotOpen; // a folder path names no file
    }
    const std::string landing = platform::FollowLinks(target.c_str());
    const std::size_t slash = landing.rfind('/');
    if (slash != std::string::npos && slash > 0)
        CreateFolders(landing.substr(0, slash));
    // What the entry says of itself, and no more than the file it replaces.
    const mode_t limit = (record.attributes & kZipAttrReadOnly) ? 0444 : 07777;
    platform::PartFile file;
    if (file.Open(landing, limit) != 0) {
        core_->closeCurrentEntry();
        return ZipResult::CannotOpen;
    }
    ZipResult r;
    {
        // A FIFO whose reader leaves fails the extraction, as any write error does.
        const platform::WriteSignalsAsErrors quiet;
        r = copyEntry(file.Fd());
    }
    core_->closeCurrentEntry();
    if (r == ZipResult::Ok && !file.InPlace()) {
        struct timespec times[2] = {ToTimespec(record.accessTime), ToTimespec(record.lastWriteTime)};
        ::futimens(file.Fd(), times);
    }
    if (r != ZipResult::Ok)
        return r;
    const bool inPlace = file.InPlace();
    const int committed = file.Commit();
    if (platform::IsDiskFull(committed))
        return ZipResult::DiskFull;
    return committed == 0 ? ZipResult::Ok : inPlace ? ZipResult::WriteError : ZipResult::CannotOpen;
}

ZipResult ZipReader::extractToMemory(int index, std::uint8_t* target, std::uint64_t length) {
    if (index != openIndex_) {
        closeOpenEntry();
        if (index < 0 || index >= core_->entryCount())
            return ZipResult::BadArguments;
        if (!positionOn(index))
            return ZipResult::DecompressError;
        int rc = core_->openCurrentEntry(hasPassword_ ? password_.c_str() : nullptr);
        if (rc != kCoreOk)
            return OpenFailure(rc);
        openIndex_ = index;
    }
    bool end = false;
    long n =
        core_->readCurrentEntry(target, static_cast<std::size_t>(std::min<std::uint64_t>(length, 0x7FFFFFFF)), &end);
    if (n > 0 && !end)
        return ZipResult::MoreData;
    if (n > 0 || (n == 0 && end)) {
        // The whole entry was delivered: its CRC decides.
        openIndex_ = -1;
        return core_->closeCurrentEntry() == kCoreCrcMismatch ? ZipResult::DecompressError : ZipResult::Ok;
    }
    closeOpenEntry();
    if (n == kCoreWrongPassword)
        return ZipResult::WrongPassword;
    return ZipResult::DecompressError;
}

} // namespace archive

using archive::ZipReader;

namespace {

ZipReader* ReaderOf(ZipHandle* handle, ZipResult* refusal) {
    return archive::ObjectOf<ZipReader>(handle, ZipHandleKind::Reader, refusal);
}

} // namespace

ZipHandle* openZipReader(const void* source, std::uint64_t length, int kind, const char* password) {
    auto* reader = new (std::nothrow) ZipReader(password);
    if (!reader) {
        archive::StoreReaderResult(ZipResult::NoMemory);
        return nullptr;
    }
    ZipResult r = reader->open(source, length, kind);
    ZipHandle* handle = archive::WrapInHandle(reader, ZipHandleKind::Reader, &r);
    archive::StoreReaderResult(r);
    return handle;
}

ZipHandle* OpenZipArchive(const char* fileName, const char* password) {
    return openZipReader(fileName, 0, archive::kZipInputFileName, password);
}

ZipResult GetZipArchiveEntry(ZipHandle* handle, int index, ZipEntryInfo* record) {
    if (record) {
        record->index = 0;
        record->name[0] = '\0';
        record->uncompressedSize = 0;
    }
    ZipResult refusal = ZipResult::Ok;
    ZipReader* reader = ReaderOf(handle, &refusal);
    if (!reader)
        return archive::StoreReaderResult(refusal);
    if (!record)
        return archive::StoreReaderResult(ZipResult::BadArguments);
    return archive::StoreReaderResult(reader->getEntry(index, record));
}

ZipResult extractZipEntry(ZipHandle* handle, int index, const void* target, std::uint64_t length, int kind) {
    ZipResult refusal = ZipResult::Ok;
    ZipReader* reader = ReaderOf(handle, &refusal);
    if (!reader)
        return archive::StoreReaderResult(refusal);
    return archive::StoreReaderResult(reader->extract(index, target, length, kind));
}

ZipResult ExtractZipEntryToFile(ZipHandle* handle, int index, const char* targetPath) {
    return extractZipEntry(handle, index, targetPath, 0, archive::kZipTargetFileName);
}

ZipResult CloseZipReader(ZipHandle* handle) {
    ZipResult refusal = ZipResult::Ok;
    ZipReader* reader = ReaderOf(handle, &refusal);
    if (!reader)
        return archive::StoreReaderResult(refusal);
    ZipResult r = reader->close();
    delete reader;
    delete handle;
    return archive::StoreReaderResult(r);
}

ZipResult LastZipReaderResult() {
    return archive::t_lastReaderResult;
}
