#include "netlib/text/DirectConvert.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/Utf.h"
#include "netlib/text/CodePageTables.h"
#include "netlib/text/DirectTables.h"
#include "platform/ByteOrder.h"

namespace tessik {
namespace {

constexpr int kUtf8Page = 65001;
// Pages whose encoders do more than a table lookup.
constexpr int kArabicPages[] = {1256, 28596};

// Input taken per round; the output room for a round is made beforehand.
constexpr unsigned kRound = 1u << 16;
// Worst output per input byte: UTF-8 from a page, and a page's codes.
constexpr unsigned kUtf8PerByte = 3;
constexpr unsigned kCodePerByte = 2;
// Slack for a character straddling the end of a round and whole-word stores.
constexpr unsigned kRoundSlack = 16;

constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
constexpr std::uint64_t kLowBits = 0x0101010101010101ull;
constexpr unsigned kWord = 8;

std::uint64_t load64(const unsigned char* p) {
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

bool hasZeroByte(std::uint64_t v) {
    return ((v - kLowBits) & ~v & kHighBits) != 0;
}

// Output written straight into the buffer's block, room made round by round
// and grown geometrically.
class DirectOut {
public:
    explicit DirectOut(DataBuffer& out) : m_out(out) {}
    ~DirectOut() { commit(); }
    DirectOut(const DirectOut&) = delete;
    DirectOut& operator=(const DirectOut&) = delete;

    // Room for n more bytes; false when the buffer cannot grow that far.
    bool reserve(std::uint64_t n) {
        if (m_w && static_cast<std::uint64_t>(m_end - m_w) >= n)
            return true;
        commit();
        const std::uint64_t size = m_out.getSize();
        const std::uint64_t need = size + n;
        constexpr std::uint64_t kMax32 = 0xFFFFFFFFull;
        if (need > kMax32)
            return false;
        if (m_out.getCapacity() < need) {
            const std::uint64_t wanted = std::min(std::max(need, size + size / 2), kMax32);
            if (!m_out.ensureCapacity(static_cast<unsigned int>(wanted)) || m_out.getCapacity() < need)
                return false;
        }
        m_w = m_out.getData() + size;
        m_end = m_out.getData() + m_out.getCapacity();
        return true;
    }
    void commit() {
        if (m_w)
            m_out.setSize(static_cast<unsigned int>(m_w - m_out.getData()));
    }

    unsigned char* m_w = nullptr;

private:
    DataBuffer& m_out;
    unsigned char* m_end = nullptr;
};

// Where page bytes to UTF-8 write; nothing is dropped on the way out.
struct Utf8Writer {
    unsigned char* w;
    std::uint64_t dropped = 0;
    bool ok = true;
};

// Units to a page's codes, as the hashed encoder writes them.
// Codes carrying any of RefusedBits are refused as a missing one is.
template <std::uint32_t RefusedBits = 0>
struct PageSink {
    const DirectEncodeTable& table;
    unsigned char* w;
    std::uint64_t dropped = 0;
    bool ok = true;

    void ascii8(std::uint64_t v) {
        std::memcpy(w, &v, kWord);
        w += kWord;
    }
    void unit(std::uint16_t u) {
        const std::uint32_t code = table.codes[u];
        if (code == 0 || (code & RefusedBits) != 0) {
            dropped += 2;
            ok = false;
            return;
        }
        // Both bytes stored, the length decides how many count.
        platform::StoreLe16(w, static_cast<std::uint16_t>(code));
        w += (code >> DirectEncodeTable::kLengthShift) & 3u;
    }
};

// One round of page bytes from p[i] to at least p[stop]; a two- or
// three-byte code may end up to two bytes beyond.
template <class Sink>
void decodePage(const DirectDecodeTable& t, bool asciiWords, const unsigned char* p, unsigned n, unsigned& i,
                unsigned stop, Sink& sink, std::uint64_t& dropped) {
    const bool hasPairs = !t.pairs.empty();
    const bool hasTriples = !t.triples.empty();
    while (i < stop) {
        if (asciiWords) {
            while (stop - i >= kWord) {
                const std::uint64_t v = load64(p + i);
                if ((v & kHighBits) || hasZeroByte(v))
                    break;
                sink.ascii8(v);
                i += kWord;
            }
            if (i >= stop)
                break;
        }
        const unsigned c = p[i];
        if (hasPairs && t.leadsPair[c] && i + 1 < n) {
            const std::uint16_t u = t.pairs[(c << 8) | p[i + 1]];
            if (u != DirectDecodeTable::kNone) {
                sink.unit(u);
                i += 2;
                continue;
            }
        }
        if (hasTriples && c == t.tripleLead && i + 2 < n) {
            const std::uint16_t u = t.triples[(p[i + 1] << 8) | p[i + 2]];
            if (u != DirectDecodeTable::kNone) {
                sink.unit(u);
                i += 3;
                continue;
            }
        }
        ++i;
        const std::uint16_t u = t.single[c];
        if (u == DirectDecodeTable::kNone)
            ++dropped;
        else
            sink.unit(u);
    }
}

constexpr unsigned char kReplacementUtf8[] = {0xEF, 0xBF, 0xBD};

// One round of page bytes to UTF-8 through the table's UTF-8 forms, from
// p[i] to at least p[stop] (a two- or three-byte code may end up to two
// bytes beyond). As the road through UTF-16 writes them, the unit 0 and
// unmapped bytes dropped and counted in `dropped`; or, Replacing, the unit
// 0 kept and each unmapped byte U+FFFD, counted there.
template <bool Replacing>
unsigned char* pageToUtf8(const DirectDecodeTable& t, const std::uint32_t* singles, const unsigned char* p, unsigned n,
                          unsigned& i, unsigned stop, unsigned char* w, std::uint64_t& dropped) {
    using T = DirectDecodeTable;
    // Bytes that lead no pair find 0 there, so the byte alone decides.
    const std::uint32_t* pairs = t.pairsUtf8.empty() ? nullptr : t.pairsUtf8.data();
    const std::uint32_t* triples = t.triplesUtf8.empty() ? nullptr : t.triplesUtf8.data();
    const unsigned lastByte = n - 1;
    while (i < stop) {
        unsigned c = p[i];
        if (c < 0x80 && t.asciiTransparent) {
            while (stop - i >= kWord) {
                const std::uint64_t v = load64(p + i);
                if ((v & kHighBits) || hasZeroByte(v))
                    break;
                std::memcpy(w, &v, kWord);
                w += kWord;
                i += kWord;
            }
            if (i >= stop)
                break;
            c = p[i];
        }
        std::uint32_t e = pairs && i < lastByte ? pairs[(c << 8) | p[i + 1]] : 0;
        if (e) {
            i += 2;
        } else if (triples && c == t.tripleLead && i + 2 < n && (e = triples[(p[i + 1] << 8) | p[i + 2]]) != 0) {
            i += 3;
        } else {
            e = singles[c];
            ++i;
            if (!e) {
                ++dropped;
                if constexpr (Replacing) {
                    std::memcpy(w, kReplacementUtf8, sizeof kReplacementUtf8);
                    w += sizeof kReplacementUtf8;
                }
                continue;
            }
        }
        // All four bytes stored, the length decides how many count.
        std::memcpy(w, &e, sizeof e);
        w += (e >> T::kUtf8LengthShift) & 3u;
        if (e & T::kUtf8ZeroUnit) {
            if constexpr (Replacing)
                *w++ = 0;
            else
                dropped += 2;
        }
    }
    return w;
}

// The direct table a page decodes to UTF-8 through, or null.
const DirectDecodeTable* utf8DecodeTable(int page) {
    if (page == kGb18030Page || !isTablePage(page))
        return nullptr;
    const DirectDecodeTable* dec = directDecodeTable(page);
    // A surrogate unit would pair with its neighbour in UTF-8.
    return dec && dec->usable && !dec->yieldsSurrogates ? dec : nullptr;
}

// Runs the rounds: `decode` consumes input from i up to a stop into the sink.
template <class Sink, class Decode>
bool run(unsigned n, unsigned perByte, Sink& sink, DataBuffer& out, Decode decode) {
    DirectOut o(out);
    std::uint64_t dropped = 0;
    unsigned i = 0;
    while (i < n) {
        const unsigned round = std::min(n - i, kRound);
        if (!o.reserve(static_cast<std::uint64_t>(round) * perByte + kRoundSlack)) {
            noteDroppedInput(dropped + sink.dropped);
            return false;
        }
        sink.w = o.m_w;
        decode(i, i + round, dropped);
        o.m_w = sink.w;
    }
    noteDroppedInput(dropped + sink.dropped);
    return sink.ok;
}

// UTF-8 into a table page, codes carrying RefusedBits refused as missing
// ones are. Each road has its own instance and calls the UTF-8 decoder
// once, so that it is inlined into its loop: a decoder shared by two calls
// stayed out of line, at half the speed.
template <std::uint32_t RefusedBits>
bool utf8ToPage(const DirectEncodeTable& enc, bool words, const unsigned char* p, unsigned int n, DataBuffer& out) {
    PageSink<RefusedBits> sink{enc, nullptr};
    return run(n, kCodePerByte, sink, out, [&](unsigned& i, unsigned stop, std::uint64_t& dropped) {
        decodeUtf8Units(p, n, i, stop, words, sink, dropped);
    });
}

bool isArabicPage(int page) {
    return std::find(std::begin(kArabicPages), std::end(kArabicPages), page) != std::end(kArabicPages);
}

} // namespace

int convertDirect(int from, int to, const unsigned char* p, unsigned int n, DataBuffer& out) {
    if (from == to || from == kGb18030Page || to == kGb18030Page || isArabicPage(to))
        return -1;
    if ((from != kUtf8Page && !isTablePage(from)) || (to != kUtf8Page && !isTablePage(to)))
        return -1;
    const DirectDecodeTable* dec = from == kUtf8Page ? nullptr : directDecodeTable(from);
    const DirectEncodeTable* enc = to == kUtf8Page ? nullptr : directEncodeTable(to);
    if (from != kUtf8Page && (!dec || !dec->usable))
        return -1;
    if (to != kUtf8Page && (!enc || !enc->usable))
        return -1;

    if (from == kUtf8Page)
        return utf8ToPage<0>(*enc, enc->asciiTransparent, p, n, out);
    if (to == kUtf8Page) {
        if (!utf8DecodeTable(from))
            return -1;
        Utf8Writer sink{nullptr};
        run(n, kUtf8PerByte, sink, out, [&](unsigned& i, unsigned stop, std::uint64_t& dropped) {
            sink.w = pageToUtf8<false>(*dec, dec->singleUtf8, p, n, i, stop, sink.w, dropped);
        });
        return 1;
    }
    PageSink<> sink{*enc, nullptr};
    const bool words = dec->asciiTransparent && enc->asciiTransparent;
    return run(n, kCodePerByte, sink, out, [&](unsigned& i, unsigned stop, std::uint64_t& dropped) {
        decodePage(*dec, words, p, n, i, stop, sink, dropped);
    });
}

bool decodeDirectToUtf8Replacing(int page, const unsigned char* p, unsigned int n, DataBuffer& out,
                                 std::uint64_t& replaced) {
    const DirectDecodeTable* dec = utf8DecodeTable(page);
    if (!dec)
        return false;
    // Lone bytes as the Standard's decoders read them (the lossy road keeps
    // the page's own).
    std::uint32_t singles[256];
    for (unsigned c = 0; c < 256; ++c)
        singles[c] = isStandardLoneByte(page, static_cast<unsigned char>(c), dec->single[c]) ? dec->singleUtf8[c] : 0;
    DirectOut o(out);
    unsigned i = 0;
    while (i < n) {
        const unsigned round = std::min(n - i, kRound);
        if (!o.reserve(static_cast<std::uint64_t>(round) * kUtf8PerByte + kRoundSlack))
            return false;
        o.m_w = pageToUtf8<true>(*dec, singles, p, n, i, i + round, o.m_w, replaced);
    }
    return true;
}

int convertUtf8Exactly(int to, const unsigned char* p, unsigned int n, DataBuffer& out) {
    if (to == kGb18030Page || isArabicPage(to) || !isTablePage(to))
        return -1;
    const DirectEncodeTable* enc = directEncodeTable(to);
    const DirectDecodeTable* dec = directDecodeTable(to);
    if (!enc || !enc->usable || !enc->oneWayMarked || !dec || !dec->usable)
        return -1;
    // ASCII words skip the lookup only where both directions leave ASCII as it is.
    const bool words = enc->asciiTransparent && dec->asciiTransparent;
    return utf8ToPage<DirectEncodeTable::kOneWay>(*enc, words, p, n, out) ? 1 : 0;
}

} // namespace tessik
