#include "netlib/text/CodePageTables.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <memory>
#include <mutex>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/streams/TessikBzip2.h"
#include "netlib/text/CodePageTableText.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/text/DirectTables.h"
#include "netlib/text/HashConvert.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

const int kSingleBytePages[] = {
    37,    437,   500,   708,   720,   737,   775,   850,   852,   855,   857,   858,   860,   861,   862,   863,
    864,   865,   866,   869,   870,   874,   875,   1026,  1047,  1140,  1141,  1142,  1143,  1144,  1145,  1146,
    1147,  1148,  1149,  1250,  1251,  1252,  1253,  1254,  1255,  1256,  1257,  1258,  10000, 10004, 10005, 10006,
    10007, 10010, 10017, 10021, 10029, 10079, 10081, 10082, 20105, 20106, 20107, 20108, 20127, 20261, 20269, 20273,
    20277, 20278, 20280, 20284, 20285, 20290, 20297, 20420, 20423, 20424, 20838, 20866, 20871, 20880, 20905, 20924,
    21025, 21866, 28591, 28592, 28593, 28594, 28595, 28596, 28597, 28598, 28599, 28603, 28605, 38598};

struct MultiBytePage {
    int page;
    unsigned fromBuckets;
    unsigned toBuckets;
};
const MultiBytePage kMultiBytePages[] = {
    {932, 7669, 4919},   {936, 7649, 7649},   {949, 7669, 7669},   {950, 7649, 7649},   {1361, 7669, 7669},
    {10001, 4919, 4919}, {51932, 4919, 4919}, {51936, 7649, 7649}, {51949, 7669, 7669}, {54936, 7649, 7649}};

constexpr std::size_t kSingleCount = std::size(kSingleBytePages);
constexpr std::size_t kMultiCount = std::size(kMultiBytePages);

// A table built at most once; readers see it only when complete.
template <class T>
struct Slot {
    std::once_flag once;
    std::atomic<const T*> table{nullptr};
};

Slot<HashConvert> g_fromSingle[kSingleCount];
Slot<UnicodeLookup> g_toSingle[kSingleCount];
Slot<HashConvert> g_fromMulti[kMultiCount];
Slot<HashConvert> g_toMulti[kMultiCount];
// Single-byte pages first, then the multi-byte ones.
Slot<DirectDecodeTable> g_directDecode[kSingleCount + kMultiCount];
Slot<DirectEncodeTable> g_directEncode[kSingleCount + kMultiCount];

int singleIndex(int page) {
    const int* end = kSingleBytePages + kSingleCount;
    const int* it = std::lower_bound(kSingleBytePages, end, page);
    return it != end && *it == page ? static_cast<int>(it - kSingleBytePages) : -1;
}

int multiIndex(int page) {
    for (std::size_t i = 0; i < kMultiCount; ++i)
        if (kMultiBytePages[i].page == page)
            return static_cast<int>(i);
    return -1;
}

int directIndex(int page) {
    int i = singleIndex(page);
    if (i >= 0)
        return i;
    i = multiIndex(page);
    return i < 0 ? -1 : static_cast<int>(kSingleCount) + i;
}

template <class T, class Build>
const T* once(Slot<T>& slot, Build build) {
    std::call_once(slot.once, [&] { slot.table.store(build().release(), std::memory_order_release); });
    return slot.table.load(std::memory_order_acquire);
}

// A three-byte little-endian field: 16 bits, then the high byte.
unsigned int le24(const unsigned char* p) {
    return platform::LoadLe16(p) | (static_cast<unsigned int>(p[2]) << 16);
}

void insertPair(HashConvert& target, TableDirection direction, const unsigned char* code, unsigned int codeLength,
                unsigned int codePoint) {
    unsigned char unit[2];
    platform::StoreLe16(unit, static_cast<std::uint16_t>(codePoint));
    if (direction == TableDirection::ToUnicode)
        target.insert(code, codeLength, unit, 2);
    else
        target.insert(unit, 2, code, codeLength);
}

void parseTableRecords(const unsigned char* p, const unsigned char* end, HashConvert& target,
                       TableDirection direction) {
    unsigned int code = 0, point = 0;
    while (p + 3 <= end && p[0] != 0) {
        code = (code + p[0]) & 0xFF;
        point = (point + platform::LoadLe16(p + 1)) & 0xFFFF;
        unsigned char c = static_cast<unsigned char>(code);
        insertPair(target, direction, &c, 1, point);
        p += 3;
    }
    ++p;
    code = point = 0;
    while (p + 4 <= end && platform::LoadLe16(p) != 0) {
        code = (code + platform::LoadLe16(p)) & 0xFFFF;
        point = (point + platform::LoadLe16(p + 2)) & 0xFFFF;
        unsigned char c[2];
        platform::StoreBe16(c, static_cast<std::uint16_t>(code));
        insertPair(target, direction, c, 2, point);
        p += 4;
    }
    // Three-byte records follow on the pages that have them (EUC-JP's JIS X 0212).
    p += 2;
    code = point = 0;
    while (p + 5 <= end && le24(p) != 0) {
        code = (code + le24(p)) & 0xFFFFFF;
        point = (point + platform::LoadLe16(p + 3)) & 0xFFFF;
        unsigned char c[3];
        c[0] = static_cast<unsigned char>(code >> 16);
        platform::StoreBe16(c + 1, static_cast<std::uint16_t>(code));
        insertPair(target, direction, c, 3, point);
        p += 5;
    }
}

void replaceCodePoint(HashConvert& target, unsigned int point, const unsigned char* code, unsigned int length) {
    unsigned char unit[2] = {static_cast<unsigned char>(point), static_cast<unsigned char>(point >> 8)};
    target.removeKey(unit, 2);
    target.insert(unit, 2, code, length);
}

void parseTableOverrides(const unsigned char* p, const unsigned char* end, HashConvert& target) {
    while (p + 2 <= end && platform::LoadLe16(p) != 0) {
        unsigned char unit[2] = {p[0], p[1]};
        target.removeKey(unit, 2);
        p += 2;
    }
    p += 2;
    while (p + 3 <= end && p[0] != 0) {
        replaceCodePoint(target, platform::LoadLe16(p + 1), p, 1);
        p += 3;
    }
    ++p;
    while (p + 4 <= end && platform::LoadLe16(p) != 0) {
        replaceCodePoint(target, platform::LoadLe16(p + 2), p, 2);
        p += 4;
    }
}

std::unique_ptr<HashConvert> loadPage(int page, unsigned int buckets, TableDirection direction) {
    auto table = std::make_unique<HashConvert>();
    table->setBucketCount(buckets);
    StringBuffer text;
    appendTableText(page, text);
    loadTableText(text.getString(), *table, direction);
    return table;
}

} // namespace

bool isSingleByteTablePage(int page) {
    return singleIndex(page) >= 0;
}
bool isMultiByteTablePage(int page) {
    return multiIndex(page) >= 0;
}

bool appendTableText(int page, StringBuffer& out) {
    for (const cptext::PageText* t = cptext::kPageTexts; t->page; ++t) {
        if (t->page != page)
            continue;
        for (const char* const* b = t->blocks; *b; ++b)
            out.append(*b);
        return true;
    }
    return false;
}

bool loadTableText(const char* text, HashConvert& target, TableDirection direction) {
    if (!text || !*text)
        return false;
    DataBuffer decoded;
    unsigned int length = static_cast<unsigned int>(std::strlen(text + 1));
    if (!ContentCoding::decodeBase64(text + 1, length, decoded))
        return false;
    DataBuffer unpacked;
    const DataBuffer* table = &decoded;
    if (text[0] != 'x') {
        TessikBzip2 bz;
        if (!bz.decompressMemory(decoded, unpacked))
            return false;
        table = &unpacked;
    }
    if (table->getSize() < 2)
        return false;
    const unsigned char* p = table->getData();
    const unsigned char* end = p + table->getSize();
    target.asciiCompatible = p[0] == 'a';
    if (p[1] == 'd') {
        if (direction == TableDirection::FromUnicode)
            parseTableOverrides(p + 2, end, target);
    } else {
        parseTableRecords(p + 2, end, target, direction);
    }
    return true;
}

void fillSingleByteLookup(const HashConvert& source, UnicodeLookup& target) {
    for (unsigned int b = 1; b < 256; ++b) {
        if (source.asciiCompatible && b < 0x80) {
            target.units[b] = static_cast<std::uint16_t>(b);
            continue;
        }
        unsigned char key = static_cast<unsigned char>(b);
        unsigned int length = 0;
        const unsigned char* v = source.find(&key, 1, length);
        target.units[b] = length == 2 ? static_cast<std::uint16_t>(platform::LoadLe16(v)) : 0;
    }
}

const HashConvert* fromUnicodeTable(int page) {
    int i = singleIndex(page);
    if (i >= 0)
        return once(g_fromSingle[i], [&] { return loadPage(page, 269, TableDirection::FromUnicode); });
    i = multiIndex(page);
    if (i < 0)
        return nullptr;
    const MultiBytePage& m = kMultiBytePages[i];
    return once(g_fromMulti[i], [&] { return loadPage(page, m.fromBuckets, TableDirection::FromUnicode); });
}

const UnicodeLookup* singleByteToUnicodeTable(int page) {
    int i = singleIndex(page);
    if (i < 0)
        return nullptr;
    return once(g_toSingle[i], [&] {
        std::unique_ptr<HashConvert> map = loadPage(page, 283, TableDirection::ToUnicode);
        auto lookup = std::make_unique<UnicodeLookup>();
        fillSingleByteLookup(*map, *lookup);
        return lookup;
    });
}

const HashConvert* multiByteToUnicodeTable(int page) {
    int i = multiIndex(page);
    if (i < 0)
        return nullptr;
    const MultiBytePage& m = kMultiBytePages[i];
    if (page == 10001) {
        // Derived from the encoder's table, so that both directions agree.
        return once(g_toMulti[i], [&] {
            auto table = std::make_unique<HashConvert>();
            table->setBucketCount(m.toBuckets);
            const HashConvert* from = fromUnicodeTable(page);
            from->buildInverse(*table);
            table->asciiCompatible = from->asciiCompatible;
            return table;
        });
    }
    return once(g_toMulti[i], [&] { return loadPage(page, m.toBuckets, TableDirection::ToUnicode); });
}

const DirectDecodeTable* directDecodeTable(int page) {
    int i = directIndex(page);
    if (i < 0)
        return nullptr;
    return once(g_directDecode[i], [&] {
        auto direct = std::make_unique<DirectDecodeTable>();
        if (isSingleByteTablePage(page))
            buildDirectDecode(*singleByteToUnicodeTable(page), *direct);
        else
            buildDirectDecode(*multiByteToUnicodeTable(page), *direct);
        return direct;
    });
}

const DirectEncodeTable* directEncodeTable(int page) {
    int i = directIndex(page);
    if (i < 0)
        return nullptr;
    return once(g_directEncode[i], [&] {
        auto direct = std::make_unique<DirectEncodeTable>();
        buildDirectEncode(*fromUnicodeTable(page), *direct);
        const DirectDecodeTable& decode = *directDecodeTable(page);
        LoneByteReadings readAlone{};
        for (unsigned c = 0; c < readAlone.size(); ++c)
            readAlone[c] = isReadLoneByte(page, static_cast<unsigned char>(c), decode.single[c]);
        markOneWayCodes(decode, readAlone, *direct);
        for (std::uint32_t& code : direct->codes) {
            const unsigned length = (code >> DirectEncodeTable::kLengthShift) & 3u;
            if (length == 2 && isCodeReadOtherwise(page, ((code & 0xFFu) << 8) | ((code >> 8) & 0xFFu)))
                code |= DirectEncodeTable::kOneWay;
        }
        return direct;
    });
}

const unsigned char* jisExtensionTable() {
    static const DataBuffer* table = [] {
        auto* db = new DataBuffer;
        ContentCoding::decodeBase64(cptext::kJisExtension,
                                    static_cast<unsigned int>(std::strlen(cptext::kJisExtension)), *db);
        return db;
    }();
    return table->getData();
}

} // namespace tessik
