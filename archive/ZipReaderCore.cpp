#include "archive/ZipReaderCore.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "archive/ZipCrypto.h"
#include "archive/ZipFormat.h"
#include "platform/ByteOrder.h"
#include "platform/Crc32.h"

namespace archive {
namespace {

constexpr std::size_t kEndSearchChunk = 1028;
// An end record may carry a comment of up to 65,535 bytes behind it.
constexpr std::uint64_t kEndSearchLimit = 0xFFFF + kZipEndRecordSize;
constexpr std::size_t kInputBufferSize = 16384;
// The central directory is walked at open through a window of this size.
constexpr std::size_t kDirectoryWindow = 65536;
// A size or offset that says the real one is in a Zip64 field.
constexpr std::uint32_t kZip64Marker = 0xFFFFFFFFu;
// An end record counts the records modulo this.
constexpr int kCountModulus = 0x10000;

} // namespace

class ZipEntryStream {
public:
    std::uint8_t input[kInputBufferSize];
    z_stream zs{};
    bool inflateReady = false;
    bool raw = false;
    bool finished = false;      // the deflate stream's end was checked
    std::uint64_t position = 0; // of the next compressed byte, relative
    std::uint64_t compressedLeft = 0;
    std::uint64_t uncompressedLeft = 0;
    std::uint32_t crc = 0;
    std::uint32_t expectedCrc = 0;
    bool encrypted = false;
    ZipKeys keys{};

    ~ZipEntryStream() {
        if (inflateReady)
            inflateEnd(&zs);
    }
};

ZipArchiveCore::ZipArchiveCore(std::unique_ptr<ZipByteSource> source) : source_(std::move(source)) {}

ZipArchiveCore::~ZipArchiveCore() = default;

int ZipArchiveCore::readAt(std::uint64_t position, void* buffer, std::size_t length) {
    if (source_->seek(static_cast<std::int64_t>(position), kZipSeekStart) != 0)
        return kCoreIo;
    if (length > 0 && source_->read(buffer, length, 1) != 1)
        return kCoreIo;
    return kCoreOk;
}

namespace {

// The end record nearest the end of the source, and the source's size from
// its base offset, or false.
bool FindEndRecord(ZipByteSource& source, std::uint64_t* position, std::uint64_t* sourceSize) {
    if (source.seek(0, kZipSeekEnd) != 0)
        return false;
    const std::uint64_t size = source.tell();
    *sourceSize = size;
    std::uint64_t limit = std::min(size, kEndSearchLimit);
    std::uint8_t buf[kEndSearchChunk];
    std::uint64_t back = 4;
    while (back < limit) {
        back = std::min(back + (kEndSearchChunk - 4), limit);
        std::uint64_t start = size - back;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kEndSearchChunk, size - start));
        if (source.seek(static_cast<std::int64_t>(start), kZipSeekStart) != 0 || source.read(buf, n, 1) != 1)
            return false;
        for (std::size_t i = n - 4 + 1; i-- > 0;) {
            if (platform::LoadLe32(buf + i) == kZipEndRecordSignature) {
                *position = start + i;
                return true;
            }
        }
    }
    return false;
}

void ParseCentralRecord(const std::uint8_t* h, ZipCentralRecord& r) {
    r.versionMadeBy = platform::LoadLe16(h + 4);
    r.versionNeeded = platform::LoadLe16(h + 6);
    r.flags = platform::LoadLe16(h + 8);
    r.method = platform::LoadLe16(h + 10);
    r.dosDateTime = platform::LoadLe32(h + 12);
    r.crc = platform::LoadLe32(h + 16);
    r.compressedSize = platform::LoadLe32(h + 20);
    r.uncompressedSize = platform::LoadLe32(h + 24);
    r.nameLength = platform::LoadLe16(h + 28);
    r.extraLength = platform::LoadLe16(h + 30);
    r.commentLength = platform::LoadLe16(h + 32);
    r.diskNumberStart = platform::LoadLe16(h + 34);
    r.internalAttributes = platform::LoadLe16(h + 36);
    r.externalAttributes = platform::LoadLe32(h + 38);
    r.localHeaderOffset = platform::LoadLe32(h + 42);
}

// Where the data of the entry whose local header h stands at offset ends.
std::uint64_t LocalDataEnd(std::uint32_t offset, const std::uint8_t* h, std::uint32_t compressedSize) {
    return static_cast<std::uint64_t>(offset) + kZipLocalHeaderSize + platform::LoadLe16(h + 26) +
           platform::LoadLe16(h + 28) + compressedSize;
}

} // namespace

std::unique_ptr<ZipArchiveCore> ZipArchiveCore::open(std::unique_ptr<ZipByteSource> source, int* error) {
    if (error)
        *error = kCoreBadZip;
    std::uint64_t endPos = 0;
    std::uint64_t sourceSize = 0;
    if (!FindEndRecord(*source, &endPos, &sourceSize))
        return nullptr;
    std::unique_ptr<ZipArchiveCore> core(new (std::nothrow) ZipArchiveCore(std::move(source)));
    if (!core)
        return nullptr;

    std::uint8_t end[kZipEndRecordSize];
    if (core->readAt(endPos, end, sizeof end) != kCoreOk)
        return nullptr;
    // The count on this disk, like the total, is only a claim: the records
    // decide, as in python's zipfile and unzip. The disk numbers are not
    // read: in one file every offset is this file's, as python's zipfile,
    // unzip and bsdtar take them, and each entry is still held to its
    // local header, its span and its CRC.
    std::uint16_t entriesTotal = platform::LoadLe16(end + 10);
    std::uint32_t directorySize = platform::LoadLe32(end + 12);
    std::uint32_t directoryOffset = platform::LoadLe32(end + 16);
    // Zip64 is not read here: refuse it rather than misread its fields. A
    // count of 0xFFFF without a locator is no marker: the records decide.
    if (directorySize == 0xFFFFFFFFu || directoryOffset == 0xFFFFFFFFu)
        return nullptr;
    if (endPos >= kZip64LocatorSize) {
        std::uint8_t sig[4];
        if (core->readAt(endPos - kZip64LocatorSize, sig, 4) == kCoreOk &&
            platform::LoadLe32(sig) == kZip64LocatorSignature)
            return nullptr;
    }

    std::uint64_t absoluteEnd = endPos + core->source_->baseOffset();
    std::uint64_t directoryEnd = static_cast<std::uint64_t>(directoryOffset) + directorySize;
    if (absoluteEnd < directoryEnd)
        return nullptr;
    core->bytesBefore_ = absoluteEnd - directoryEnd;
    const std::uint64_t absoluteSize = sourceSize + core->source_->baseOffset();
    core->source_->clearBaseOffset();
    core->directoryOffset_ = directoryOffset;
    core->directorySize_ = directorySize;
    int mapped = core->mapEntries(absoluteSize, entriesTotal);
    // The first record, its name too, must read from the file.
    if (mapped == kCoreOk && core->entryCount_ > 0 && core->goToEntry(0) != kCoreOk)
        mapped = kCoreBadZip;
    if (mapped != kCoreOk) {
        if (error)
            *error = mapped;
        return nullptr;
    }
    if (error)
        *error = kCoreOk;
    return core;
}

int ZipArchiveCore::mapEntries(std::uint64_t sourceSize, std::uint16_t endRecordCount) {
    // The fixed part of each record, read through one window, from the
    // directory's offset to its end, as python's zipfile reads them: the
    // last record's name, extra field or comment may reach past that end.
    // The walk stops early at a record that is cut short or has no
    // signature: the entries from there on can't be reached by listing
    // either, and have no span.
    const std::uint64_t directoryEnd = directoryOffset_ + directorySize_ + bytesBefore_;
    std::vector<std::uint8_t> window(kDirectoryWindow);
    std::uint64_t windowStart = 0;
    std::size_t windowLength = 0;
    std::vector<std::uint32_t> compressed;
    // Never more than the directory's size can hold, whatever the count.
    const std::size_t expected =
        static_cast<std::size_t>(std::min<std::uint64_t>(endRecordCount, directorySize_ / kZipCentralHeaderSize));
    spans_.reserve(expected);
    compressed.reserve(expected);
    std::uint64_t position = directoryOffset_ + bytesBefore_;
    std::uint64_t lastRecord = position;
    bool tailTooShort = false;
    while (position < directoryEnd) {
        if (position + kZipCentralHeaderSize > directoryEnd) {
            tailTooShort = true;
            break;
        }
        if (position < windowStart || position + kZipCentralHeaderSize > windowStart + windowLength) {
            windowStart = position;
            windowLength = static_cast<std::size_t>(std::min<std::uint64_t>(kDirectoryWindow, directoryEnd - position));
            if (readAt(windowStart, window.data(), windowLength) != kCoreOk)
                break;
        }
        const std::uint8_t* h = window.data() + (position - windowStart);
        if (platform::LoadLe32(h) != kZipCentralHeaderSignature)
            break;
        ZipCentralRecord r;
        ParseCentralRecord(h, r);
        spans_.push_back({r.localHeaderOffset, 0, position - bytesBefore_});
        compressed.push_back(r.compressedSize);
        lastRecord = position;
        position += kZipCentralHeaderSize + r.nameLength + r.extraLength + r.commentLength;
    }

    // In order of their local headers; those whose offset is in a Zip64
    // field are never read here, and keep a span that holds nothing.
    std::vector<std::uint32_t> order;
    const auto sortByOffset = [&] {
        order.clear();
        order.reserve(spans_.size());
        for (std::uint32_t i = 0; i < spans_.size(); ++i) {
            if (spans_[i].offset != kZip64Marker)
                order.push_back(i);
        }
        std::stable_sort(order.begin(), order.end(),
                         [&](std::uint32_t a, std::uint32_t b) { return spans_[a].offset < spans_[b].offset; });
    };
    sortByOffset();
    // A record that repeats an earlier one byte for byte is that entry
    // again, taken once where it first stands (bsdtar lists it once): it
    // reads nothing the first did not. A count that counts the copies
    // names one local header twice, and records on one header that differ
    // overlap. So do copies that, taken where they last stand, would order
    // the entries otherwise: the last entry would not be the one python's
    // zipfile and unzip end on.
    std::vector<bool> copy;
    std::vector<std::uint32_t> lastCopy;
    for (std::size_t k = 1, first = 0; k < order.size(); ++k) {
        if (spans_[order[k]].offset != spans_[order[first]].offset) {
            first = k;
            continue;
        }
        if (!sameRecord(spans_[order[first]].record, spans_[order[k]].record))
            return kCoreOverlap;
        if (copy.empty()) {
            copy.resize(spans_.size());
            lastCopy.resize(spans_.size());
            for (std::uint32_t i = 0; i < lastCopy.size(); ++i)
                lastCopy[i] = i;
        }
        copy[order[k]] = true;
        lastCopy[order[first]] = order[k];
    }
    if (!copy.empty()) {
        if (spans_.size() % kCountModulus == endRecordCount)
            return kCoreOverlap;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < spans_.size(); ++i) {
            if (!copy[i]) {
                if (kept > 0 && lastCopy[i] < lastCopy[kept - 1])
                    return kCoreOverlap;
                lastCopy[kept] = lastCopy[i];
                spans_[kept] = spans_[i];
                compressed[kept++] = compressed[i];
            }
        }
        spans_.resize(kept);
        compressed.resize(kept);
        sortByOffset();
    }

    // Read to its end, the directory's records are the entries, as python's
    // zipfile and unzip list them whatever the end record counts: a count
    // below them (one wrapped past 65,535 too) would hide entries, one
    // above them would offer entries that are not there. A last record
    // reaching past the end is whole only where the count agrees (unzip's
    // check, modulo 65,536) and no record begins inside it: a count made to
    // agree must not hide the records it swallows. Bytes too few for a
    // record after the last one are slack on the same terms, as unzip
    // passes over them: the last record swallows none either.
    // Cut short, the entries past the last record that reads answer
    // Corrupt, as many as the end record counts and at least one, so that
    // no entry hides behind the damage; a directory without one record is
    // no archive.
    const int records = static_cast<int>(spans_.size());
    const bool counted = records > 0 && records % kCountModulus == endRecordCount;
    if (position == directoryEnd || (counted && (position > directoryEnd || tailTooShort) &&
                                     !holdsRecordStart(lastRecord + kZipCentralHeaderSize, directoryEnd, window)))
        entryCount_ = records;
    else if (records == 0)
        return kCoreBadZip;
    else
        entryCount_ = std::max<int>(endRecordCount, records + 1);

    // Their local headers in that order, through the same window: a run of
    // small entries costs one read, and no byte is read twice.
    windowStart = 0;
    windowLength = 0;
    bool windowRead = false;
    for (std::size_t k = 0; k < order.size(); ++k) {
        ZipEntrySpan& span = spans_[order[k]];
        if (k + 1 < order.size() && spans_[order[k + 1]].offset == span.offset)
            return kCoreOverlap;
        span.limit = k + 1 < order.size() ? std::min<std::uint64_t>(spans_[order[k + 1]].offset, directoryOffset_)
                                          : directoryOffset_;
        const std::uint64_t at = span.offset + bytesBefore_;
        if (compressed[order[k]] == kZip64Marker || at + kZipLocalHeaderSize > sourceSize)
            continue;
        if (at + kZipLocalHeaderSize > windowStart + windowLength) {
            std::uint64_t end = at + kZipLocalHeaderSize;
            for (std::size_t j = k + 1; j < order.size(); ++j) {
                const std::uint64_t next = spans_[order[j]].offset + bytesBefore_ + kZipLocalHeaderSize;
                if (next > at + kDirectoryWindow || next > sourceSize)
                    break;
                end = next;
            }
            windowStart = at;
            windowLength = static_cast<std::size_t>(end - at);
            windowRead = readAt(windowStart, window.data(), windowLength) == kCoreOk;
        }
        // A header that can't be read, or is no local header, fails the
        // entry when it is listed; its span still bounds it then.
        const std::uint8_t* h = window.data() + (at - windowStart);
        if (!windowRead || platform::LoadLe32(h) != kZipLocalHeaderSignature)
            continue;
        if (LocalDataEnd(span.offset, h, compressed[order[k]]) > span.limit)
            return kCoreOverlap;
    }
    return kCoreOk;
}

bool ZipArchiveCore::holdsRecordStart(std::uint64_t from, std::uint64_t to, std::vector<std::uint8_t>& window) {
    // In windows that overlap by a signature's length less one byte; bytes
    // that can't be read may hold one.
    constexpr std::size_t kSignatureSize = 4;
    for (std::uint64_t at = from; at + kSignatureSize <= to; at += window.size() - (kSignatureSize - 1)) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(window.size(), to - at));
        if (readAt(at, window.data(), n) != kCoreOk)
            return true;
        for (std::size_t i = 0; i + kSignatureSize <= n; ++i) {
            if (platform::LoadLe32(window.data() + i) == kZipCentralHeaderSignature)
                return true;
        }
    }
    return false;
}

bool ZipArchiveCore::sameRecord(std::uint64_t first, std::uint64_t second) {
    std::uint8_t a[kZipCentralHeaderSize];
    std::uint8_t b[kZipCentralHeaderSize];
    if (readAt(first + bytesBefore_, a, sizeof a) != kCoreOk || readAt(second + bytesBefore_, b, sizeof b) != kCoreOk ||
        std::memcmp(a, b, sizeof a) != 0)
        return false;
    const std::size_t rest =
        static_cast<std::size_t>(platform::LoadLe16(a + 28)) + platform::LoadLe16(a + 30) + platform::LoadLe16(a + 32);
    std::vector<std::uint8_t> restA(rest);
    std::vector<std::uint8_t> restB(rest);
    return readAt(first + bytesBefore_ + kZipCentralHeaderSize, restA.data(), rest) == kCoreOk &&
           readAt(second + bytesBefore_ + kZipCentralHeaderSize, restB.data(), rest) == kCoreOk && restA == restB;
}

int ZipArchiveCore::readCentralRecord() {
    std::uint8_t h[kZipCentralHeaderSize];
    int rc = readAt(currentPosition_ + bytesBefore_, h, sizeof h);
    if (rc != kCoreOk)
        return rc;
    if (platform::LoadLe32(h) != kZipCentralHeaderSignature)
        return kCoreBadZip;
    ZipCentralRecord& r = current_;
    ParseCentralRecord(h, r);
    currentName_.assign(r.nameLength, '\0');
    if (r.nameLength > 0 && source_->read(currentName_.data(), r.nameLength, 1) != 1)
        return kCoreIo;
    return kCoreOk;
}

int ZipArchiveCore::goToEntry(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= spans_.size())
        return kCoreEndOfList;
    if (currentValid_ && index == currentNumber_)
        return kCoreOk;
    currentPosition_ = spans_[index].record;
    currentNumber_ = index;
    int rc = readCentralRecord();
    currentValid_ = rc == kCoreOk;
    return rc;
}

int ZipArchiveCore::getCurrentEntryInfo(ZipCentralRecord* record, std::string* name) const {
    if (!currentValid_)
        return kCoreBadParameter;
    if (record)
        *record = current_;
    if (name)
        *name = currentName_;
    return kCoreOk;
}

int ZipArchiveCore::checkLocalHeader(ZipLocalHeaderInfo* info) {
    if (!currentValid_)
        return kCoreBadParameter;
    const ZipCentralRecord& c = current_;
    // Zip64 sizes and offsets live in extra fields this reader does not read.
    if (c.compressedSize == kZip64Marker || c.uncompressedSize == kZip64Marker || c.localHeaderOffset == kZip64Marker)
        return kCoreBadZip;
    // The record must still say what it said at open, where its span was set.
    if (static_cast<std::size_t>(currentNumber_) >= spans_.size() ||
        spans_[currentNumber_].offset != c.localHeaderOffset)
        return kCoreBadZip;
    // The header and the name as long as the central record says, in one read.
    std::vector<std::uint8_t> local(kZipLocalHeaderSize + c.nameLength);
    int rc = readAt(c.localHeaderOffset + bytesBefore_, local.data(), local.size());
    if (rc != kCoreOk)
        return rc;
    const std::uint8_t* h = local.data();
    if (platform::LoadLe32(h) != kZipLocalHeaderSignature)
        return kCoreBadZip;
    std::uint16_t flags = platform::LoadLe16(h + 6);
    std::uint16_t method = platform::LoadLe16(h + 8);
    if (method == kZipMethodAes && c.method == kZipMethodAes && (c.flags & kZipFlagEncrypted))
        return kCoreUnsupportedEncryption;
    if (method != c.method || (method != kZipMethodStored && method != kZipMethodDeflated))
        return kCoreBadZip;
    if (!(flags & kZipFlagDescriptor) &&
        (platform::LoadLe32(h + 14) != c.crc || platform::LoadLe32(h + 18) != c.compressedSize ||
         platform::LoadLe32(h + 22) != c.uncompressedSize))
        return kCoreBadZip;
    std::uint16_t nameLength = platform::LoadLe16(h + 26);
    std::uint16_t extraLength = platform::LoadLe16(h + 28);
    if (nameLength != c.nameLength)
        return kCoreBadZip;
    // One entry, one name: which of two a peer writes out is its own choice.
    if (currentName_.compare(0, std::string::npos, reinterpret_cast<const char*>(h + kZipLocalHeaderSize),
                             nameLength) != 0)
        return kCoreBadZip;
    if (LocalDataEnd(c.localHeaderOffset, h, c.compressedSize) > spans_[currentNumber_].limit)
        return kCoreBadZip;
    if (info) {
        info->extraPosition = static_cast<std::uint64_t>(c.localHeaderOffset) + kZipLocalHeaderSize + nameLength;
        info->extraLength = extraLength;
        info->nameAndExtraLength = static_cast<std::uint32_t>(nameLength) + extraLength;
    }
    return kCoreOk;
}

int ZipArchiveCore::openCurrentEntry(const char* password) {
    if (!currentValid_)
        return kCoreBadParameter;
    if (stream_)
        closeCurrentEntry();
    ZipLocalHeaderInfo local;
    const int header = checkLocalHeader(&local);
    if (header != kCoreOk)
        return header == kCoreUnsupportedEncryption ? header : kCoreBadZip;

    std::unique_ptr<ZipEntryStream> s(new (std::nothrow) ZipEntryStream());
    if (!s)
        return kCoreNoMemory;
    const ZipCentralRecord& c = current_;
    s->raw = c.method == kZipMethodStored;
    if (!s->raw) {
        if (inflateInit2(&s->zs, -MAX_WBITS) != Z_OK)
            return kCoreNoMemory;
        s->inflateReady = true;
    }
    s->expectedCrc = c.crc;
    s->compressedLeft = c.compressedSize;
    s->uncompressedLeft = c.uncompressedSize;
    s->position = static_cast<std::uint64_t>(c.localHeaderOffset) + kZipLocalHeaderSize + local.nameAndExtraLength;
    s->encrypted = (c.flags & kZipFlagEncrypted) != 0;
    if (s->encrypted) {
        if (s->compressedLeft < kZipCryptHeaderSize)
            return kCoreBadZip;
        std::uint8_t header[kZipCryptHeaderSize];
        int rc = readAt(s->position + bytesBefore_, header, sizeof header);
        if (rc != kCoreOk)
            return rc;
        keyZipKeys(s->keys, password);
        zipDecodeBuffer(s->keys, header, sizeof header);
        std::uint8_t expected = (c.flags & kZipFlagDescriptor) ? static_cast<std::uint8_t>(c.dosDateTime >> 8)
                                                               : static_cast<std::uint8_t>(c.crc >> 24);
        if (header[kZipCryptHeaderSize - 1] != expected)
            return kCoreWrongPassword;
        s->position += kZipCryptHeaderSize;
        s->compressedLeft -= kZipCryptHeaderSize;
    }
    stream_ = std::move(s);
    return kCoreOk;
}

int ZipArchiveCore::fillInput(ZipEntryStream& s) {
    if (s.zs.avail_in != 0 || s.compressedLeft == 0)
        return kCoreOk;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(kInputBufferSize, s.compressedLeft));
    int rc = readAt(s.position + bytesBefore_, s.input, n);
    if (rc != kCoreOk)
        return rc;
    if (s.encrypted)
        zipDecodeBuffer(s.keys, s.input, n);
    s.position += n;
    s.compressedLeft -= n;
    s.zs.next_in = s.input;
    s.zs.avail_in = static_cast<uInt>(n);
    return kCoreOk;
}

int ZipArchiveCore::finishInflate(ZipEntryStream& s, bool ended) {
    // Every byte announced was delivered: the stream must end here, within
    // the entry's data, with no byte more to give. Bytes of the data after
    // its end are passed over, as unzip and python's zipfile pass over them.
    std::uint8_t past;
    while (!ended) {
        int rc = fillInput(s);
        if (rc != kCoreOk)
            return rc;
        s.zs.next_out = &past;
        s.zs.avail_out = sizeof past;
        rc = inflate(&s.zs, Z_SYNC_FLUSH);
        if (s.zs.avail_out == 0 || (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR))
            return Z_DATA_ERROR;
        if (rc == Z_BUF_ERROR && s.zs.avail_in == 0 && s.compressedLeft == 0)
            return Z_DATA_ERROR; // the data ends inside the stream
        ended = rc == Z_STREAM_END;
    }
    s.finished = true;
    return kCoreOk;
}

long ZipArchiveCore::readCurrentEntry(std::uint8_t* buffer, std::size_t length, bool* end) {
    *end = false;
    if (!stream_)
        return kCoreBadParameter;
    ZipEntryStream& s = *stream_;
    if (length == 0)
        return 0;
    if (s.uncompressedLeft == 0) {
        if (!s.raw && !s.finished) {
            int rc = finishInflate(s, false);
            if (rc != kCoreOk)
                return rc;
        }
        *end = true;
        return 0;
    }
    const std::size_t space = static_cast<std::size_t>(std::min<std::uint64_t>(length, s.uncompressedLeft));
    std::size_t delivered = 0;
    while (delivered < space) {
        int filled = fillInput(s);
        if (filled != kCoreOk)
            return filled;
        if (s.raw) {
            if (s.zs.avail_in == 0)
                return static_cast<long>(delivered); // data ends early
            std::size_t n = std::min<std::size_t>(space - delivered, s.zs.avail_in);
            std::memcpy(buffer + delivered, s.zs.next_in, n);
            s.zs.next_in += n;
            s.zs.avail_in -= static_cast<uInt>(n);
            s.crc = platform::Crc32(s.crc, buffer + delivered, n);
            delivered += n;
            s.uncompressedLeft -= n;
            if (s.uncompressedLeft == 0)
                *end = true;
            continue;
        }
        s.zs.next_out = buffer + delivered;
        s.zs.avail_out = static_cast<uInt>(space - delivered);
        int rc = inflate(&s.zs, Z_SYNC_FLUSH);
        std::size_t produced = static_cast<std::size_t>(s.zs.next_out - (buffer + delivered));
        s.crc = platform::Crc32(s.crc, buffer + delivered, produced);
        delivered += produced;
        s.uncompressedLeft -= produced;
        // A stream that ends short of the announced size is damaged, not done.
        if (rc == Z_STREAM_END && s.uncompressedLeft > 0)
            return Z_DATA_ERROR;
        if (rc == Z_STREAM_END || s.uncompressedLeft == 0) {
            // One that runs on past it, or never ends, too.
            int finished = finishInflate(s, rc == Z_STREAM_END);
            if (finished != kCoreOk)
                return finished;
            *end = true;
            return static_cast<long>(delivered);
        }
        if (rc != Z_OK)
            return rc;
        // No input left and nothing produced: the data ends before the entry.
        if (produced == 0 && s.zs.avail_in == 0 && s.compressedLeft == 0)
            return static_cast<long>(delivered);
    }
    return static_cast<long>(delivered);
}

int ZipArchiveCore::closeCurrentEntry() {
    if (!stream_)
        return kCoreOk;
    int rc = stream_->uncompressedLeft == 0 && stream_->crc != stream_->expectedCrc ? kCoreCrcMismatch : kCoreOk;
    stream_.reset();
    return rc;
}

} // namespace archive
