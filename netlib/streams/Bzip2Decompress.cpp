// The bzip2 decoder: a state machine with one state per field of the format,
// so that it can stop wherever input or output room runs out and resume on
// the next call. Every count and index read from the stream is checked
// before it is used; output never passes the room the caller gives.
#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/Bzip2Internal.h"
#include "platform/ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace tessik::bz2 {
namespace {

enum State {
    sMagicB = 10,
    sMagicZ,
    sMagicH,
    sBlockSize,
    sBlockMagic1,
    sBlockMagic2,
    sBlockMagic3,
    sBlockMagic4,
    sBlockMagic5,
    sBlockMagic6,
    sBlockCrc,
    sRandomised,
    sOrigPtr,
    sMapSummary,
    sMapGroup,
    sGroupCount,
    sSelectorCount,
    sSelectorBit,
    sTableStart,
    sLengthBit,
    sLengthStep,
    sSymbols,
    sOutput,
    sEndMagic2,
    sEndMagic3,
    sEndMagic4,
    sEndMagic5,
    sEndMagic6,
    sStreamCrc,
    sDone = 50,
};

constexpr int kFastBits = 10;
constexpr int kNeedMore = -1;
constexpr int kInvalid = -2;

// Canonical Huffman decoding: codes up to kFastBits long through one table
// lookup, longer ones by the first code and count of each length.
struct DecodeTable {
    std::uint16_t fast[1 << kFastBits]; // (symbol << 5) | length; 0 = none
    std::uint32_t first[kMaxCodeLen + 1];
    std::uint32_t count[kMaxCodeLen + 1];
    std::uint32_t offset[kMaxCodeLen + 1];
    std::uint16_t perm[kMaxAlphaSize];
    int maxLen;
    bool bad; // lengths that no prefix code can have

    void build(const std::uint8_t* len, int alphaSize) {
        std::fill(std::begin(count), std::end(count), 0u);
        for (int i = 0; i < alphaSize; i++)
            count[len[i]]++;
        maxLen = 0;
        bad = false;
        std::uint32_t code = 0, off = 0;
        for (int l = 1; l <= kMaxCodeLen; l++) {
            first[l] = code;
            offset[l] = off;
            if (count[l] > 0)
                maxLen = l;
            if (first[l] + count[l] > (1u << l))
                bad = true;
            off += count[l];
            code = (code + count[l]) << 1;
        }
        std::uint32_t next[kMaxCodeLen + 1];
        std::copy(std::begin(offset), std::end(offset), next);
        for (int i = 0; i < alphaSize; i++)
            perm[next[len[i]]++] = static_cast<std::uint16_t>(i);

        std::fill(std::begin(fast), std::end(fast), 0);
        if (bad)
            return;
        for (int l = 1; l <= kFastBits; l++) {
            for (std::uint32_t r = 0; r < count[l]; r++) {
                std::uint32_t c = first[l] + r;
                std::uint16_t e = static_cast<std::uint16_t>((perm[offset[l] + r] << 5) | l);
                std::uint32_t lo = c << (kFastBits - l), hi = (c + 1) << (kFastBits - l);
                for (std::uint32_t k = lo; k < hi; k++)
                    fast[k] = e;
            }
        }
    }

    // `bits` holds the next bits of the stream at its top, `avail` of them
    // real. Returns the symbol, kNeedMore or kInvalid.
    int decode(std::uint64_t bits, int avail, int* length) const {
        std::uint16_t e = fast[bits >> (64 - kFastBits)];
        if (e != 0) {
            int l = e & 31;
            if (l > avail)
                return kNeedMore;
            *length = l;
            return e >> 5;
        }
        for (int l = kFastBits + 1; l <= maxLen; l++) {
            if (l > avail)
                return kNeedMore;
            std::uint32_t c = static_cast<std::uint32_t>(bits >> (64 - l));
            std::uint32_t d = c - first[l];
            if (d < count[l]) {
                *length = l;
                return perm[offset[l] + d];
            }
        }
        return avail >= maxLen ? kInvalid : kNeedMore;
    }
};

struct DecodeState : EngineState {
    explicit DecodeState(Stream* s) : EngineState(kDecoder, s) {}

    int state = sMagicB;
    std::uint64_t bitBuf = 0; // next bits of the stream at the top
    int bitCount = 0;

    int blockSize100k = 0;
    std::uint32_t nblockMax = 0;
    RawArray<std::uint32_t> tt;

    std::uint32_t storedBlockCrc = 0;
    std::uint32_t storedCombinedCrc = 0;
    std::uint32_t calcBlockCrc = 0;
    std::uint32_t combinedCrc = 0;
    bool randomised = false;
    std::uint32_t origPtr = 0;

    std::uint32_t mapSummary = 0;
    int mapGroup = 0;
    bool inUse[256] = {};
    int nInUse = 0;
    std::uint8_t seqToUnseq[256] = {};
    int alphaSize = 0;

    int nGroups = 0;
    int nSelectors = 0;
    int selIndex = 0;
    int selValue = 0;
    std::uint8_t selectorMtf[kMaxSelectors] = {};
    std::uint8_t selector[kMaxSelectors] = {};

    int tableNo = 0;
    int symNo = 0;
    int curLen = 0;
    std::uint8_t len[kMaxGroups][kMaxAlphaSize] = {};
    DecodeTable tables[kMaxGroups];

    // Symbol decoding.
    int groupNo = 0;
    int groupPos = 0;
    const DecodeTable* table = nullptr;
    std::uint32_t nblock = 0;
    std::uint32_t runLen = 0;
    std::uint32_t runWeight = 1;
    std::uint32_t unzftab[256] = {};
    std::uint8_t mtf[256] = {};

    // Output of the block being written.
    std::uint32_t tPos = 0;
    std::uint32_t left = 0;
    std::uint32_t pendingLen = 0;
    std::uint8_t pendingCh = 0;
    int lastByte = -1;
    int sameCount = 0;
    std::int32_t randToGo = 0;
    int randPos = 0;

    // Moves whole bytes of input into the bit buffer.
    void refill() {
        Stream* s = strm;
        if (s->availIn >= 8 && bitCount <= 56) {
            bitBuf |= platform::LoadBe64(s->nextIn) >> bitCount;
            std::uint32_t bytes = static_cast<std::uint32_t>(63 - bitCount) >> 3;
            bitCount += static_cast<int>(bytes * 8);
            consume(bytes);
            // Bits of the next byte now sit below bitCount; they are the
            // stream's own bits, so a later refill writes the same values.
            return;
        }
        while (bitCount <= 56 && s->availIn > 0) {
            bitBuf |= static_cast<std::uint64_t>(*s->nextIn) << (56 - bitCount);
            bitCount += 8;
            consume(1);
        }
    }

    void consume(std::uint32_t bytes) {
        Stream* s = strm;
        s->nextIn += bytes;
        s->availIn -= bytes;
        std::uint32_t lo = s->totalInLo32 + bytes;
        if (lo < s->totalInLo32)
            s->totalInHi32++;
        s->totalInLo32 = lo;
    }

    bool need(int n) {
        if (bitCount < n)
            refill();
        return bitCount >= n;
    }

    std::uint32_t take(int n) {
        std::uint32_t v = static_cast<std::uint32_t>(bitBuf >> (64 - n));
        bitBuf <<= n;
        bitCount -= n;
        return v;
    }

    int decodeSymbols();
    void startOutput();
    bool writeOutput();
};

void DecodeState::startOutput() {
    std::uint32_t cftab[257];
    cftab[0] = 0;
    for (int i = 0; i < 256; i++)
        cftab[i + 1] = cftab[i] + unzftab[i];
    std::uint32_t* t = tt.data();
    for (std::uint32_t i = 0; i < nblock; i++) {
        std::uint8_t uc = static_cast<std::uint8_t>(t[i] & 0xff);
        t[cftab[uc]++] |= i << 8;
    }
    tPos = t[origPtr] >> 8;
    left = nblock;
    pendingLen = 0;
    lastByte = -1;
    sameCount = 0;
    randToGo = 0;
    randPos = 0;
    calcBlockCrc = 0xffffffffu;
}

// Undoes the first-stage run-length coding while walking the inverse
// transform. Returns false when the output room is used up.
bool DecodeState::writeOutput() {
    Stream* s = strm;
    const std::uint32_t* t = tt.data();
    std::uint8_t* out = s->nextOut;
    std::uint32_t room = s->availOut;
    std::uint32_t crc = calcBlockCrc;
    bool more = true;

    for (;;) {
        if (pendingLen > 0) {
            std::uint32_t n = std::min(pendingLen, room);
            for (std::uint32_t i = 0; i < n; i++) {
                out[i] = pendingCh;
                crc = crcUpdate(crc, pendingCh);
            }
            out += n;
            room -= n;
            pendingLen -= n;
            if (pendingLen > 0) {
                more = false;
                break;
            }
        }
        if (left == 0)
            break;
        if (room == 0) {
            more = false;
            break;
        }
        // Fast path: plain bytes straight to the output.
        if (!randomised) {
            while (left > 0 && room > 0 && sameCount < 4) {
                tPos = t[tPos];
                std::uint8_t b = static_cast<std::uint8_t>(tPos & 0xff);
                tPos >>= 8;
                left--;
                *out++ = b;
                room--;
                crc = crcUpdate(crc, b);
                if (b == lastByte) {
                    sameCount++;
                } else {
                    lastByte = b;
                    sameCount = 1;
                }
            }
            if (sameCount < 4)
                continue;
            if (left == 0)
                break;
        }
        tPos = t[tPos];
        std::uint8_t b = static_cast<std::uint8_t>(tPos & 0xff);
        tPos >>= 8;
        left--;
        if (randomised) {
            if (randToGo == 0) {
                randToGo = kRandNums[randPos];
                randPos = (randPos + 1) & 511;
            }
            randToGo--;
            b ^= (randToGo == 1) ? 1 : 0;
        }
        if (sameCount == 4) {
            // The byte after four equal ones counts further copies.
            pendingCh = static_cast<std::uint8_t>(lastByte);
            pendingLen = b;
            sameCount = 0;
            lastByte = -1;
            continue;
        }
        pendingCh = b;
        pendingLen = 1;
        if (b == lastByte) {
            sameCount++;
        } else {
            lastByte = b;
            sameCount = 1;
        }
    }

    std::uint32_t written = static_cast<std::uint32_t>(out - s->nextOut);
    s->nextOut = out;
    s->availOut = room;
    std::uint32_t lo = s->totalOutLo32 + written;
    if (lo < s->totalOutLo32)
        s->totalOutHi32++;
    s->totalOutLo32 = lo;
    calcBlockCrc = crc;
    return more;
}

// Decodes Huffman symbols into the block until the end-of-block symbol.
// Returns kOk when input ran out (resume later), kStreamEnd at the
// end-of-block symbol, or a format error.
int DecodeState::decodeSymbols() {
    const int eob = nInUse + 1;
    std::uint32_t* t = tt.data();
    for (;;) {
        if (groupPos == 0) {
            groupNo++;
            if (groupNo >= nSelectors)
                return kSelectorRange;
            table = &tables[selector[groupNo]];
            if (table->bad)
                return kBadCode;
            groupPos = kGroupSize;
        }
        if (bitCount < kMaxCodeLen)
            refill();
        int l = 0;
        int sym = table->decode(bitBuf, bitCount, &l);
        if (sym == kNeedMore)
            return kOk;
        if (sym == kInvalid || sym >= alphaSize)
            return kBadCode;
        bitBuf <<= l;
        bitCount -= l;
        groupPos--;

        if (sym <= kRunB) {
            if (runLen == 0)
                runWeight = 1;
            runLen += runWeight << sym;
            runWeight <<= 1;
            if (runLen > nblockMax)
                return kRunTooLong;
            continue;
        }
        if (runLen > 0) {
            if (runLen > nblockMax - nblock)
                return kRunPastBlock;
            std::uint8_t uc = seqToUnseq[mtf[0]];
            unzftab[uc] += runLen;
            std::fill(t + nblock, t + nblock + runLen, uc);
            nblock += runLen;
            runLen = 0;
        }
        if (sym == eob)
            return kStreamEnd;
        if (nblock >= nblockMax)
            return kSymbolPastBlock;
        int nn = sym - 1;
        std::uint8_t v = mtf[nn];
        std::memmove(mtf + 1, mtf, static_cast<std::size_t>(nn));
        mtf[0] = v;
        std::uint8_t uc = seqToUnseq[v];
        unzftab[uc]++;
        t[nblock++] = uc;
    }
}

DecodeState* stateOf(Stream* strm) {
    if (strm == nullptr || strm->state == nullptr)
        return nullptr;
    auto* base = static_cast<EngineState*>(strm->state);
    if (base->kind != EngineState::kDecoder || base->strm != strm)
        return nullptr;
    return static_cast<DecodeState*>(base);
}

int expectByte(DecodeState* s, std::uint8_t want, int next, int error, int* result) {
    if (!s->need(8)) {
        *result = kOk;
        return 0;
    }
    if (s->take(8) != want) {
        *result = error;
        return 0;
    }
    s->state = next;
    return 1;
}

int run(DecodeState* s) {
    int r = kOk;
    for (;;) {
        switch (s->state) {
        case sMagicB:
            if (!expectByte(s, 0x42, sMagicZ, kHeaderB, &r))
                return r;
            break;
        case sMagicZ:
            if (!expectByte(s, 0x5A, sMagicH, kHeaderZ, &r))
                return r;
            break;
        case sMagicH:
            if (!expectByte(s, 0x68, sBlockSize, kHeaderH, &r))
                return r;
            break;
        case sBlockSize: {
            if (!s->need(8))
                return kOk;
            std::uint32_t c = s->take(8);
            if (c < '1' || c > '9')
                return kHeaderBlockSize;
            s->blockSize100k = static_cast<int>(c - '0');
            s->nblockMax = kBlockUnit * static_cast<std::uint32_t>(s->blockSize100k);
            if (!s->tt.allocate(s->nblockMax))
                return kMemError;
            s->state = sBlockMagic1;
            break;
        }
        case sBlockMagic1: {
            if (!s->need(8))
                return kOk;
            std::uint32_t c = s->take(8);
            if (c == 0x17)
                s->state = sEndMagic2;
            else if (c == 0x31)
                s->state = sBlockMagic2;
            else
                return kBlockMagic1;
            break;
        }
        case sBlockMagic2:
            if (!expectByte(s, 0x41, sBlockMagic3, kBlockMagic2, &r))
                return r;
            break;
        case sBlockMagic3:
            if (!expectByte(s, 0x59, sBlockMagic4, kBlockMagic3, &r))
                return r;
            break;
        case sBlockMagic4:
            if (!expectByte(s, 0x26, sBlockMagic5, kBlockMagic4, &r))
                return r;
            break;
        case sBlockMagic5:
            if (!expectByte(s, 0x53, sBlockMagic6, kBlockMagic5, &r))
                return r;
            break;
        case sBlockMagic6:
            if (!expectByte(s, 0x59, sBlockCrc, kBlockMagic6, &r))
                return r;
            break;
        case sBlockCrc:
            if (!s->need(32))
                return kOk;
            s->storedBlockCrc = s->take(32);
            s->state = sRandomised;
            break;
        case sRandomised:
            if (!s->need(1))
                return kOk;
            s->randomised = s->take(1) != 0;
            s->state = sOrigPtr;
            break;
        case sOrigPtr:
            if (!s->need(24))
                return kOk;
            s->origPtr = s->take(24);
            if (s->origPtr > 10 + s->nblockMax)
                return kOrigPtrHigh;
            s->state = sMapSummary;
            break;
        case sMapSummary:
            if (!s->need(16))
                return kOk;
            s->mapSummary = s->take(16);
            std::fill(std::begin(s->inUse), std::end(s->inUse), false);
            s->mapGroup = 0;
            s->state = sMapGroup;
            break;
        case sMapGroup:
            for (; s->mapGroup < 16; s->mapGroup++) {
                if (!(s->mapSummary & (0x8000u >> s->mapGroup)))
                    continue;
                if (!s->need(16))
                    return kOk;
                std::uint32_t bits = s->take(16);
                for (int j = 0; j < 16; j++)
                    if (bits & (0x8000u >> j))
                        s->inUse[s->mapGroup * 16 + j] = true;
            }
            s->nInUse = 0;
            for (int i = 0; i < 256; i++)
                if (s->inUse[i])
                    s->seqToUnseq[s->nInUse++] = static_cast<std::uint8_t>(i);
            if (s->nInUse == 0)
                return kNoBytesUsed;
            s->alphaSize = s->nInUse + 2;
            s->state = sGroupCount;
            break;
        case sGroupCount:
            if (!s->need(3))
                return kOk;
            s->nGroups = static_cast<int>(s->take(3));
            if (s->nGroups < kMinGroups || s->nGroups > kMaxGroups)
                return kGroupCount;
            s->state = sSelectorCount;
            break;
        case sSelectorCount:
            if (!s->need(15))
                return kOk;
            s->nSelectors = static_cast<int>(s->take(15));
            if (s->nSelectors < 1)
                return kNoSelectors;
            s->selIndex = 0;
            s->selValue = 0;
            s->state = sSelectorBit;
            break;
        case sSelectorBit:
            while (s->selIndex < s->nSelectors) {
                if (!s->need(1))
                    return kOk;
                if (s->take(1) != 0) {
                    if (++s->selValue >= s->nGroups)
                        return kSelectorValue;
                    continue;
                }
                // Selectors past the format's limit are read but not kept:
                // no block can use them.
                if (s->selIndex < kMaxSelectors)
                    s->selectorMtf[s->selIndex] = static_cast<std::uint8_t>(s->selValue);
                s->selIndex++;
                s->selValue = 0;
            }
            s->nSelectors = std::min(s->nSelectors, kMaxSelectors);
            {
                std::uint8_t pos[kMaxGroups];
                for (int i = 0; i < s->nGroups; i++)
                    pos[i] = static_cast<std::uint8_t>(i);
                for (int i = 0; i < s->nSelectors; i++) {
                    int v = s->selectorMtf[i];
                    std::uint8_t tmp = pos[v];
                    for (; v > 0; v--)
                        pos[v] = pos[v - 1];
                    pos[0] = tmp;
                    s->selector[i] = tmp;
                }
            }
            s->tableNo = 0;
            s->state = sTableStart;
            break;
        case sTableStart:
            if (s->tableNo == s->nGroups) {
                for (int t = 0; t < s->nGroups; t++)
                    s->tables[t].build(s->len[t], s->alphaSize);
                s->groupNo = -1;
                s->groupPos = 0;
                s->nblock = 0;
                s->runLen = 0;
                s->runWeight = 1;
                std::fill(std::begin(s->unzftab), std::end(s->unzftab), 0u);
                for (int i = 0; i < 256; i++)
                    s->mtf[i] = static_cast<std::uint8_t>(i);
                s->state = sSymbols;
                break;
            }
            if (!s->need(5))
                return kOk;
            s->curLen = static_cast<int>(s->take(5));
            s->symNo = 0;
            s->state = sLengthBit;
            break;
        case sLengthBit:
            // Each length: delta bits "1x" until a "0" ends it.
            for (;;) {
                if (s->symNo == s->alphaSize) {
                    s->tableNo++;
                    s->state = sTableStart;
                    break;
                }
                if (s->curLen < 1 || s->curLen > kMaxCodeLen)
                    return kCodeLength;
                if (!s->need(1))
                    return kOk;
                if (s->take(1) == 0) {
                    s->len[s->tableNo][s->symNo++] = static_cast<std::uint8_t>(s->curLen);
                    continue;
                }
                s->state = sLengthStep;
                if (!s->need(1))
                    return kOk;
                s->curLen += s->take(1) == 0 ? 1 : -1;
                s->state = sLengthBit;
            }
            break;
        case sLengthStep:
            if (!s->need(1))
                return kOk;
            s->curLen += s->take(1) == 0 ? 1 : -1;
            s->state = sLengthBit;
            break;
        case sSymbols: {
            int res = s->decodeSymbols();
            if (res != kStreamEnd)
                return res;
            if (s->origPtr >= s->nblock)
                return kOrigPtrPastBlock;
            s->startOutput();
            s->state = sOutput;
            break;
        }
        case sOutput:
            if (!s->writeOutput())
                return kOk;
            s->calcBlockCrc = ~s->calcBlockCrc;
            if (s->calcBlockCrc != s->storedBlockCrc)
                return kBlockCrcError;
            s->combinedCrc = ((s->combinedCrc << 1) | (s->combinedCrc >> 31)) ^ s->calcBlockCrc;
            s->state = sBlockMagic1;
            break;
        case sEndMagic2:
            if (!expectByte(s, 0x72, sEndMagic3, kEndMagic2, &r))
                return r;
            break;
        case sEndMagic3:
            if (!expectByte(s, 0x45, sEndMagic4, kEndMagic3, &r))
                return r;
            break;
        case sEndMagic4:
            if (!expectByte(s, 0x38, sEndMagic5, kEndMagic4, &r))
                return r;
            break;
        case sEndMagic5:
            if (!expectByte(s, 0x50, sEndMagic6, kEndMagic5, &r))
                return r;
            break;
        case sEndMagic6:
            if (!expectByte(s, 0x90, sStreamCrc, kEndMagic6, &r))
                return r;
            break;
        case sStreamCrc:
            if (!s->need(32))
                return kOk;
            s->storedCombinedCrc = s->take(32);
            if (s->storedCombinedCrc != s->combinedCrc)
                return kStreamCrcError;
            s->state = sDone;
            return kStreamEnd;
        case sDone: return kStreamEnd;
        default: return kSequenceError;
        }
    }
}

} // namespace

int decompressInit(Stream* strm) {
    if (strm == nullptr)
        return kParamError;
    auto* s = new (std::nothrow) DecodeState(strm);
    if (s == nullptr)
        return kMemError;
    strm->totalInLo32 = strm->totalInHi32 = 0;
    strm->totalOutLo32 = strm->totalOutHi32 = 0;
    strm->state = static_cast<EngineState*>(s);
    return kOk;
}

int decompress(Stream* strm) {
    DecodeState* s = stateOf(strm);
    if (s == nullptr)
        return kParamError;
    return run(s);
}

std::uint32_t decompressUnread(Stream* strm) {
    DecodeState* s = stateOf(strm);
    if (s == nullptr || s->state != sDone)
        return 0;
    // What is left of the buffer past the stream's last byte.
    const std::uint32_t bytes = static_cast<std::uint32_t>(s->bitCount) / 8;
    s->bitCount -= static_cast<int>(bytes * 8);
    strm->nextIn -= bytes;
    strm->availIn += bytes;
    const std::uint64_t total = (static_cast<std::uint64_t>(strm->totalInHi32) << 32 | strm->totalInLo32) - bytes;
    strm->totalInLo32 = static_cast<std::uint32_t>(total);
    strm->totalInHi32 = static_cast<std::uint32_t>(total >> 32);
    return bytes;
}

int decompressRestart(Stream* strm) {
    if (stateOf(strm) == nullptr)
        return kParamError;
    const Stream at = *strm;
    decompressEnd(strm);
    const int init = decompressInit(strm);
    void* const fresh = strm->state;
    *strm = at;
    strm->state = fresh;
    return init;
}

int decompressEnd(Stream* strm) {
    DecodeState* s = stateOf(strm);
    if (s == nullptr)
        return kParamError;
    delete s;
    strm->state = nullptr;
    return kOk;
}

} // namespace tessik::bz2
