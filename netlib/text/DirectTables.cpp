#include "netlib/text/DirectTables.h"

#include "netlib/text/HashConvert.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

constexpr unsigned kByteValues = 256;
constexpr unsigned kUnitValues = 0x10000;
constexpr unsigned kAsciiEnd = 0x80;

bool isSurrogate(unsigned u) {
    return u >= 0xD800 && u <= 0xDFFF;
}

// A stored UTF-16 value of a code: exactly one unit, else the page is not
// fit for the direct form.
bool unitOf(const unsigned char* v, unsigned length, std::uint16_t& unit) {
    if (length != 2)
        return false;
    unit = platform::LoadLe16(v);
    return unit != DirectDecodeTable::kNone;
}

std::uint32_t utf8Form(std::uint16_t u) {
    using T = DirectDecodeTable;
    if (u == T::kNone)
        return 0;
    if (u == 0)
        return T::kUtf8Present | T::kUtf8ZeroUnit;
    if (u < 0x80)
        return T::kUtf8Present | (1u << T::kUtf8LengthShift) | u;
    if (u < 0x800)
        return T::kUtf8Present | (2u << T::kUtf8LengthShift) | (0xC0u | (u >> 6)) | ((0x80u | (u & 0x3F)) << 8);
    return T::kUtf8Present | (3u << T::kUtf8LengthShift) | (0xE0u | (u >> 12)) | ((0x80u | ((u >> 6) & 0x3F)) << 8) |
           ((0x80u | (u & 0x3F)) << 16);
}

void finishDecode(DirectDecodeTable& t) {
    t.asciiTransparent = true;
    for (unsigned c = 1; c < kAsciiEnd; ++c)
        if (t.single[c] != c || t.leadsPair[c])
            t.asciiTransparent = false;
    auto note = [&](std::uint16_t u) {
        if (u != DirectDecodeTable::kNone && isSurrogate(u))
            t.yieldsSurrogates = true;
    };
    for (std::uint16_t u : t.single)
        note(u);
    for (std::uint16_t u : t.pairs)
        note(u);
    for (std::uint16_t u : t.triples)
        note(u);
    if (t.yieldsSurrogates)
        return;
    for (unsigned b = 0; b < kByteValues; ++b)
        t.singleUtf8[b] = utf8Form(t.single[b]);
    t.pairsUtf8.resize(t.pairs.size());
    for (std::size_t i = 0; i < t.pairs.size(); ++i)
        t.pairsUtf8[i] = utf8Form(t.pairs[i]);
    t.triplesUtf8.resize(t.triples.size());
    for (std::size_t i = 0; i < t.triples.size(); ++i)
        t.triplesUtf8[i] = utf8Form(t.triples[i]);
}

// Three-byte codes fit the form when they share one lead byte and no
// two-byte code starts with a pair of their bytes (the hashed decoder tries
// two bytes first).
void fillTriples(const HashConvert& table, DirectDecodeTable& t) {
    bool lead = false;
    table.forEachEntry([&](const unsigned char* key, unsigned keyLength, const unsigned char* v, unsigned length) {
        if (keyLength != 3)
            return;
        if (!lead) {
            lead = true;
            t.tripleLead = key[0];
            t.triples.assign(kUnitValues, DirectDecodeTable::kNone);
        }
        std::uint16_t& slot = t.triples[(key[1] << 8) | key[2]];
        // An earlier entry of the same key shadows a later one.
        if (key[0] != t.tripleLead || (slot == DirectDecodeTable::kNone && !unitOf(v, length, slot)))
            t.usable = false;
    });
    if (lead && t.leadsPair[t.tripleLead])
        t.usable = false;
}

} // namespace

void buildDirectDecode(const UnicodeLookup& lookup, DirectDecodeTable& t) {
    t.usable = true;
    for (unsigned b = 0; b < kByteValues; ++b) {
        std::uint16_t u = lookup.units[b];
        if (b == 0) {
            t.single[b] = 0;
        } else if (u == 0) {
            t.single[b] = DirectDecodeTable::kNone;
        } else {
            if (u == DirectDecodeTable::kNone)
                t.usable = false;
            t.single[b] = u;
        }
    }
    finishDecode(t);
}

// Mirrors the hashed decoder: a two-byte code first, then the byte alone,
// where 0 and (on ASCII pages) 0x01 to 0x7F stand for themselves.
void buildDirectDecode(const HashConvert& table, DirectDecodeTable& t) {
    t.usable = table.maxKeyLength() <= 3;
    if (!t.usable)
        return;
    for (unsigned b = 0; b < kByteValues; ++b) {
        if (b == 0 || (b < kAsciiEnd && table.asciiCompatible)) {
            t.single[b] = static_cast<std::uint16_t>(b);
            continue;
        }
        unsigned char key = static_cast<unsigned char>(b);
        unsigned length = 0;
        const unsigned char* v = table.find(&key, 1, length);
        t.single[b] = DirectDecodeTable::kNone;
        if (v && !unitOf(v, length, t.single[b]))
            t.usable = false;
    }
    if (table.maxKeyLength() >= 2) {
        t.pairs.assign(kUnitValues, DirectDecodeTable::kNone);
        for (unsigned code = 0; code < kUnitValues; ++code) {
            unsigned char key[2];
            platform::StoreBe16(key, static_cast<std::uint16_t>(code));
            unsigned length = 0;
            const unsigned char* v = table.find(key, 2, length);
            if (!v)
                continue;
            if (!unitOf(v, length, t.pairs[code]))
                t.usable = false;
            t.leadsPair[code >> 8] = true;
        }
    }
    if (table.maxKeyLength() == 3)
        fillTriples(table, t);
    finishDecode(t);
}

// Mirrors the hashed encoder: ASCII on ASCII pages, then the table, then the
// unit 0 as the byte 0.
void buildDirectEncode(const HashConvert& table, DirectEncodeTable& t) {
    t.codes.assign(kUnitValues, 0);
    t.usable = true;
    for (unsigned u = 0; u < kUnitValues; ++u) {
        if (u < kAsciiEnd && table.asciiCompatible) {
            t.codes[u] = DirectEncodeTable::kPresent | (1u << DirectEncodeTable::kLengthShift) | u;
            continue;
        }
        unsigned char unit[2];
        platform::StoreLe16(unit, static_cast<std::uint16_t>(u));
        unsigned length = 0;
        const unsigned char* v = table.find(unit, 2, length);
        if (v) {
            if (length > 2) {
                t.usable = false;
                continue;
            }
            std::uint32_t code = DirectEncodeTable::kPresent | (length << DirectEncodeTable::kLengthShift);
            for (unsigned k = 0; k < length; ++k)
                code |= static_cast<std::uint32_t>(v[k]) << (8 * k);
            t.codes[u] = code;
        } else if (u == 0) {
            t.codes[u] = DirectEncodeTable::kPresent | (1u << DirectEncodeTable::kLengthShift);
        }
    }
    t.asciiTransparent = true;
    for (unsigned u = 0; u < kAsciiEnd; ++u)
        if (t.codes[u] != (DirectEncodeTable::kPresent | (1u << DirectEncodeTable::kLengthShift) | u))
            t.asciiTransparent = false;
}

// A code is read back as it is written when the decoder, at its first byte,
// takes exactly its bytes as that unit: a one-byte code whose byte could
// start a longer one depends on what follows, so it counts as one-way, and
// so does a byte the page's readers refuse alone.
void markOneWayCodes(const DirectDecodeTable& d, const LoneByteReadings& readAlone, DirectEncodeTable& t) {
    if (!d.usable || !t.usable)
        return;
    const bool hasTriples = !d.triples.empty();
    for (unsigned u = 0; u < kUnitValues; ++u) {
        const std::uint32_t code = t.codes[u];
        if (code == 0)
            continue;
        const unsigned length = (code >> DirectEncodeTable::kLengthShift) & 3u;
        const unsigned first = code & 0xFFu;
        bool back = false;
        if (length == 1)
            back = d.single[first] == u && readAlone[first] && !d.leadsPair[first] &&
                   !(hasTriples && first == d.tripleLead);
        else if (length == 2 && !d.pairs.empty())
            back = d.pairs[(first << 8) | ((code >> 8) & 0xFFu)] == u;
        if (!back)
            t.codes[u] = code | DirectEncodeTable::kOneWay;
    }
    t.oneWayMarked = true;
}

} // namespace tessik
