// The bzip2 compressor: first-stage run-length coding into the block, block
// sorting, move-to-front and zero-run coding, and the Huffman section.
#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/Bzip2Internal.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <memory>
#include <new>

namespace tessik::bz2 {
namespace {

enum Mode { kIdle = 1, kRunning = 2, kFlushing = 3, kFinishing = 4 };
enum IoState { kOutput = 1, kInput = 2 };

// Longest code the compressor makes; the format allows 20, shorter codes
// leave headroom and decode through smaller tables.
constexpr int kCompressorMaxCodeLen = 17;
constexpr int kIterations = 4;
constexpr std::uint8_t kLesserCost = 0;
constexpr std::uint8_t kGreaterCost = 15;
constexpr std::uint32_t kNoByte = 256;

struct CompressState : EngineState {
    explicit CompressState(Stream* s) : EngineState(kCompressor, s) {}
    int mode = kRunning;
    int ioState = kInput;
    std::uint32_t availInExpect = 0;

    int blockSize100k = 0;
    std::uint32_t nblockMax = 0;
    int workFactor = kDefaultWorkFactor;
    bool randomise = false;
    bool outOfMemory = false; // a block could not be sorted; the stream is lost

    RawArray<std::uint8_t> block;
    RawArray<std::uint32_t> ptr;
    SortScratch sort;
    RawArray<std::uint16_t> mtfv; // the coded symbols of a block
    RawArray<std::uint8_t> zbuf;

    std::uint32_t nblock = 0;
    std::uint32_t stateInCh = kNoByte;
    std::uint32_t stateInLen = 0;
    bool inUse[256] = {};
    std::uint32_t blockCrc = 0;
    std::uint32_t combinedCrc = 0;
    int blockNo = 0;

    std::uint32_t numZ = 0;
    std::uint32_t outPos = 0;
    std::uint64_t bitBuf = 0;
    int bitLive = 0;

    // Symbol coding of the current block.
    std::uint32_t origPtr = 0;
    std::uint32_t nMtf = 0;
    int nInUse = 0;
    std::uint8_t unseqToSeq[256] = {};
    std::int32_t mtfFreq[kMaxAlphaSize] = {};
    std::uint8_t len[kMaxGroups][kMaxAlphaSize] = {};
    std::uint32_t code[kMaxGroups][kMaxAlphaSize] = {};
    std::int32_t rfreq[kMaxGroups][kMaxAlphaSize] = {};
    std::uint8_t selector[kMaxSelectors] = {};
    std::uint8_t selectorMtf[kMaxSelectors] = {};

    void putBits(int n, std::uint32_t v) {
        bitBuf = (bitBuf << n) | v;
        bitLive += n;
        while (bitLive >= 8) {
            bitLive -= 8;
            zbuf[numZ++] = static_cast<std::uint8_t>(bitBuf >> bitLive);
        }
    }
    void putByte(std::uint8_t c) { putBits(8, c); }
    void putWord(std::uint32_t v) {
        putBits(16, v >> 16);
        putBits(16, v & 0xffff);
    }
    void finishBits() {
        if (bitLive > 0)
            zbuf[numZ++] = static_cast<std::uint8_t>(bitBuf << (8 - bitLive));
        bitLive = 0;
    }
};

CompressState* stateOf(Stream* strm) {
    if (strm == nullptr || strm->state == nullptr)
        return nullptr;
    auto* base = static_cast<EngineState*>(strm->state);
    if (base->kind != EngineState::kCompressor || base->strm != strm)
        return nullptr;
    return static_cast<CompressState*>(base);
}

void prepareNewBlock(CompressState* s) {
    s->nblock = 0;
    s->numZ = 0;
    s->outPos = 0;
    s->blockCrc = 0xffffffffu;
    std::fill(std::begin(s->inUse), std::end(s->inUse), false);
    s->blockNo++;
}

bool runIsEmpty(const CompressState* s) {
    return !(s->stateInCh < kNoByte && s->stateInLen > 0);
}

void addPairToBlock(CompressState* s) {
    const std::uint8_t ch = static_cast<std::uint8_t>(s->stateInCh);
    for (std::uint32_t i = 0; i < s->stateInLen; i++)
        s->blockCrc = crcUpdate(s->blockCrc, ch);
    s->inUse[ch] = true;
    std::uint8_t* b = s->block.data() + s->nblock;
    switch (s->stateInLen) {
    case 1:
        b[0] = ch;
        s->nblock += 1;
        break;
    case 2:
        b[0] = b[1] = ch;
        s->nblock += 2;
        break;
    case 3:
        b[0] = b[1] = b[2] = ch;
        s->nblock += 3;
        break;
    default:
        s->inUse[s->stateInLen - 4] = true;
        b[0] = b[1] = b[2] = b[3] = ch;
        b[4] = static_cast<std::uint8_t>(s->stateInLen - 4);
        s->nblock += 5;
        break;
    }
}

void flushRun(CompressState* s) {
    if (s->stateInCh < kNoByte)
        addPairToBlock(s);
    s->stateInCh = kNoByte;
    s->stateInLen = 0;
}

// Feeds input into the block until the block is full or the input (the
// expected input, while flushing or finishing) runs out.
bool copyInput(CompressState* s) {
    Stream* strm = s->strm;
    const bool limited = s->mode != kRunning;
    std::uint32_t avail = limited ? std::min(strm->availIn, s->availInExpect) : strm->availIn;
    const std::uint8_t* in = strm->nextIn;
    const std::uint8_t* start = in;
    std::uint32_t ch = s->stateInCh;
    std::uint32_t runLen = s->stateInLen;
    std::uint8_t* block = s->block.data();

    while (s->nblock < s->nblockMax && avail > 0) {
        std::uint32_t c = *in++;
        avail--;
        if (c != ch && runLen == 1) {
            // The common case: a single byte ends; write it straight out.
            std::uint8_t b = static_cast<std::uint8_t>(ch);
            s->blockCrc = crcUpdate(s->blockCrc, b);
            s->inUse[b] = true;
            block[s->nblock++] = b;
            ch = c;
        } else if (c != ch || runLen == 255) {
            if (ch < kNoByte) {
                s->stateInCh = ch;
                s->stateInLen = runLen;
                addPairToBlock(s);
            }
            ch = c;
            runLen = 1;
        } else {
            runLen++;
        }
    }
    s->stateInCh = ch;
    s->stateInLen = runLen;

    const std::uint32_t used = static_cast<std::uint32_t>(in - start);
    strm->nextIn = in;
    strm->availIn -= used;
    if (limited)
        s->availInExpect -= used;
    std::uint32_t lo = strm->totalInLo32 + used;
    if (lo < strm->totalInLo32)
        strm->totalInHi32++;
    strm->totalInLo32 = lo;
    return used > 0;
}

bool copyOutput(CompressState* s) {
    Stream* strm = s->strm;
    std::uint32_t n = std::min(strm->availOut, s->numZ - s->outPos);
    if (n == 0)
        return false;
    std::memcpy(strm->nextOut, s->zbuf.data() + s->outPos, n);
    s->outPos += n;
    strm->nextOut += n;
    strm->availOut -= n;
    std::uint32_t lo = strm->totalOutLo32 + n;
    if (lo < strm->totalOutLo32)
        strm->totalOutHi32++;
    strm->totalOutLo32 = lo;
    return true;
}

void randomiseBlock(CompressState* s) {
    std::int32_t toGo = 0;
    int tPos = 0;
    std::fill(std::begin(s->inUse), std::end(s->inUse), false);
    for (std::uint32_t i = 0; i < s->nblock; i++) {
        if (toGo == 0) {
            toGo = kRandNums[tPos];
            tPos = (tPos + 1) & 511;
        }
        toGo--;
        s->block[i] ^= (toGo == 1) ? 1 : 0;
        s->inUse[s->block[i]] = true;
    }
}

// Move-to-front over the used bytes of the sorted block with runs of the
// front symbol coded as RUNA/RUNB digits; ends with the end-of-block symbol.
void generateMtfValues(CompressState* s, std::uint16_t* mtfv) {
    s->nInUse = 0;
    for (int i = 0; i < 256; i++)
        if (s->inUse[i])
            s->unseqToSeq[i] = static_cast<std::uint8_t>(s->nInUse++);
    const int eob = s->nInUse + 1;
    std::fill(s->mtfFreq, s->mtfFreq + eob + 1, 0);

    std::uint8_t yy[256];
    for (int i = 0; i < s->nInUse; i++)
        yy[i] = static_cast<std::uint8_t>(i);

    std::uint32_t wr = 0;
    std::uint32_t zPend = 0;
    auto emitRun = [&]() {
        zPend--;
        for (;;) {
            int sym = (zPend & 1) ? kRunB : kRunA;
            mtfv[wr++] = static_cast<std::uint16_t>(sym);
            s->mtfFreq[sym]++;
            if (zPend < 2)
                break;
            zPend = (zPend - 2) / 2;
        }
        zPend = 0;
    };

    const std::uint32_t n = s->nblock;
    const std::uint32_t* ptr = s->ptr.data();
    const std::uint8_t* block = s->block.data();
    for (std::uint32_t i = 0; i < n; i++) {
        std::uint32_t j = ptr[i] == 0 ? n - 1 : ptr[i] - 1;
        std::uint8_t ll = s->unseqToSeq[block[j]];
        if (yy[0] == ll) {
            zPend++;
            continue;
        }
        if (zPend > 0)
            emitRun();
        std::uint8_t prev = yy[0];
        int pos = 1;
        for (;;) {
            std::uint8_t cur = yy[pos];
            yy[pos] = prev;
            if (cur == ll)
                break;
            prev = cur;
            pos++;
        }
        yy[0] = ll;
        mtfv[wr++] = static_cast<std::uint16_t>(pos + 1);
        s->mtfFreq[pos + 1]++;
    }
    if (zPend > 0)
        emitRun();
    mtfv[wr++] = static_cast<std::uint16_t>(eob);
    s->mtfFreq[eob]++;
    s->nMtf = wr;
}

int groupCountFor(std::uint32_t nMtf) {
    if (nMtf < 200)
        return 2;
    if (nMtf < 600)
        return 3;
    if (nMtf < 1200)
        return 4;
    if (nMtf < 2400)
        return 5;
    return 6;
}

void sendMtfValues(CompressState* s, const std::uint16_t* mtfv) {
    const int alphaSize = s->nInUse + 2;
    const std::uint32_t nMtf = s->nMtf;
    for (auto& row : s->len)
        std::fill(std::begin(row), std::end(row), kGreaterCost);

    const int nGroups = groupCountFor(nMtf);

    // Starting tables: each covers a slice of the alphabet with about an
    // equal share of the symbol frequencies.
    {
        int nPart = nGroups;
        std::int32_t remF = static_cast<std::int32_t>(nMtf);
        int gs = 0;
        while (nPart > 0) {
            std::int32_t tFreq = remF / nPart;
            int ge = gs - 1;
            std::int32_t aFreq = 0;
            while (aFreq < tFreq && ge < alphaSize - 1) {
                ge++;
                aFreq += s->mtfFreq[ge];
            }
            if (ge > gs && nPart != nGroups && nPart != 1 && ((nGroups - nPart) % 2 == 1)) {
                aFreq -= s->mtfFreq[ge];
                ge--;
            }
            for (int v = 0; v < alphaSize; v++)
                s->len[nPart - 1][v] = (v >= gs && v <= ge) ? kLesserCost : kGreaterCost;
            nPart--;
            gs = ge + 1;
            remF -= aFreq;
        }
    }

    int nSelectors = 0;
    for (int iter = 0; iter < kIterations; iter++) {
        for (int t = 0; t < nGroups; t++)
            std::fill(std::begin(s->rfreq[t]), std::end(s->rfreq[t]), 0);
        nSelectors = 0;
        for (std::uint32_t gs = 0; gs < nMtf;) {
            std::uint32_t ge = std::min(gs + kGroupSize - 1, nMtf - 1);
            std::uint32_t cost[kMaxGroups] = {};
            for (std::uint32_t i = gs; i <= ge; i++) {
                const std::uint16_t v = mtfv[i];
                for (int t = 0; t < nGroups; t++)
                    cost[t] += s->len[t][v];
            }
            int bt = 0;
            std::uint32_t bc = cost[0];
            for (int t = 1; t < nGroups; t++) {
                if (cost[t] < bc) {
                    bc = cost[t];
                    bt = t;
                }
            }
            s->selector[nSelectors++] = static_cast<std::uint8_t>(bt);
            for (std::uint32_t i = gs; i <= ge; i++)
                s->rfreq[bt][mtfv[i]]++;
            gs = ge + 1;
        }
        for (int t = 0; t < nGroups; t++)
            makeCodeLengths(s->len[t], s->rfreq[t], alphaSize, kCompressorMaxCodeLen);
    }
    assert(nSelectors <= kMaxSelectors);

    // Selectors are sent move-to-front coded.
    {
        std::uint8_t pos[kMaxGroups];
        for (int i = 0; i < nGroups; i++)
            pos[i] = static_cast<std::uint8_t>(i);
        for (int i = 0; i < nSelectors; i++) {
            const std::uint8_t want = s->selector[i];
            int j = 0;
            std::uint8_t tmp = pos[0];
            while (tmp != want) {
                j++;
                std::swap(tmp, pos[j]);
            }
            pos[0] = tmp;
            s->selectorMtf[i] = static_cast<std::uint8_t>(j);
        }
    }

    // Canonical codes from the lengths.
    for (int t = 0; t < nGroups; t++) {
        int minLen = 32, maxLen = 0;
        for (int i = 0; i < alphaSize; i++) {
            minLen = std::min<int>(minLen, s->len[t][i]);
            maxLen = std::max<int>(maxLen, s->len[t][i]);
        }
        std::uint32_t vec = 0;
        for (int n = minLen; n <= maxLen; n++) {
            for (int i = 0; i < alphaSize; i++)
                if (s->len[t][i] == n)
                    s->code[t][i] = vec++;
            vec <<= 1;
        }
    }

    // The used-byte map: which groups of 16 are used, then each used group.
    {
        bool inUse16[16];
        for (int i = 0; i < 16; i++) {
            inUse16[i] = false;
            for (int j = 0; j < 16; j++)
                if (s->inUse[i * 16 + j])
                    inUse16[i] = true;
        }
        for (int i = 0; i < 16; i++)
            s->putBits(1, inUse16[i] ? 1 : 0);
        for (int i = 0; i < 16; i++) {
            if (!inUse16[i])
                continue;
            for (int j = 0; j < 16; j++)
                s->putBits(1, s->inUse[i * 16 + j] ? 1 : 0);
        }
    }

    s->putBits(3, static_cast<std::uint32_t>(nGroups));
    s->putBits(15, static_cast<std::uint32_t>(nSelectors));
    for (int i = 0; i < nSelectors; i++) {
        for (int j = 0; j < s->selectorMtf[i]; j++)
            s->putBits(1, 1);
        s->putBits(1, 0);
    }

    for (int t = 0; t < nGroups; t++) {
        int curr = s->len[t][0];
        s->putBits(5, static_cast<std::uint32_t>(curr));
        for (int i = 0; i < alphaSize; i++) {
            while (curr < s->len[t][i]) {
                s->putBits(2, 2);
                curr++;
            }
            while (curr > s->len[t][i]) {
                s->putBits(2, 3);
                curr--;
            }
            s->putBits(1, 0);
        }
    }

    int selCtr = 0;
    for (std::uint32_t gs = 0; gs < nMtf;) {
        std::uint32_t ge = std::min(gs + kGroupSize - 1, nMtf - 1);
        const int t = s->selector[selCtr++];
        const std::uint8_t* l = s->len[t];
        const std::uint32_t* c = s->code[t];
        for (std::uint32_t i = gs; i <= ge; i++)
            s->putBits(l[mtfv[i]], c[mtfv[i]]);
        gs = ge + 1;
    }
}

bool compressBlock(CompressState* s, bool lastBlock) {
    if (s->nblock > 0) {
        s->blockCrc = ~s->blockCrc;
        s->combinedCrc = ((s->combinedCrc << 1) | (s->combinedCrc >> 31)) ^ s->blockCrc;
        if (s->randomise)
            randomiseBlock(s);
        std::int64_t origin = blockSort(s->block.data(), s->nblock, s->ptr.data(), s->sort, s->workFactor);
        if (origin < 0)
            return false;
        s->origPtr = static_cast<std::uint32_t>(origin);
    }
    s->numZ = 0;
    if (s->blockNo == 1) {
        s->putByte('B');
        s->putByte('Z');
        s->putByte('h');
        s->putByte(static_cast<std::uint8_t>('0' + s->blockSize100k));
    }
    if (s->nblock > 0) {
        for (std::uint8_t b : {0x31, 0x41, 0x59, 0x26, 0x53, 0x59})
            s->putByte(b);
        s->putWord(s->blockCrc);
        s->putBits(1, s->randomise ? 1 : 0);
        s->putBits(24, s->origPtr);
        generateMtfValues(s, s->mtfv.data());
        sendMtfValues(s, s->mtfv.data());
    }
    if (lastBlock) {
        for (std::uint8_t b : {0x17, 0x72, 0x45, 0x38, 0x50, 0x90})
            s->putByte(b);
        s->putWord(s->combinedCrc);
        s->finishBits();
    }
    return true;
}

bool handleCompress(CompressState* s) {
    bool progressIn = false, progressOut = false;
    Stream* strm = s->strm;
    for (;;) {
        if (s->ioState == kOutput) {
            progressOut |= copyOutput(s);
            if (s->outPos < s->numZ)
                break;
            if (s->mode == kFinishing && s->availInExpect == 0 && runIsEmpty(s))
                break;
            prepareNewBlock(s);
            s->ioState = kInput;
            if (s->mode == kFlushing && s->availInExpect == 0 && runIsEmpty(s))
                break;
        }
        if (s->ioState == kInput) {
            progressIn |= copyInput(s);
            if (s->mode != kRunning && s->availInExpect == 0) {
                flushRun(s);
                if (!compressBlock(s, s->mode == kFinishing)) {
                    s->outOfMemory = true;
                    return false;
                }
                s->ioState = kOutput;
            } else if (s->nblock >= s->nblockMax) {
                if (!compressBlock(s, false)) {
                    s->outOfMemory = true;
                    return false;
                }
                s->ioState = kOutput;
            } else if (strm->availIn == 0) {
                break;
            }
        }
    }
    return progressIn || progressOut;
}

int compressStep(CompressState* s, int action) {
    Stream* strm = s->strm;
    for (;;) {
        switch (s->mode) {
        case kIdle: return kSequenceError;
        case kRunning:
            if (action == kRun)
                return handleCompress(s) ? kRunOk : kParamError;
            if (action == kFlush) {
                s->availInExpect = strm->availIn;
                s->mode = kFlushing;
                continue;
            }
            if (action == kFinish) {
                s->availInExpect = strm->availIn;
                s->mode = kFinishing;
                continue;
            }
            return kParamError;
        case kFlushing:
            if (action != kFlush || s->availInExpect != strm->availIn)
                return kSequenceError;
            handleCompress(s);
            if (s->availInExpect > 0 || !runIsEmpty(s) || s->outPos < s->numZ)
                return kFlushOk;
            s->mode = kRunning;
            return kRunOk;
        case kFinishing:
            if (action != kFinish || s->availInExpect != strm->availIn)
                return kSequenceError;
            if (!handleCompress(s))
                return kSequenceError;
            if (s->availInExpect > 0 || !runIsEmpty(s) || s->outPos < s->numZ)
                return kFinishOk;
            s->mode = kIdle;
            return kStreamEnd;
        default: return kParamError;
        }
    }
}

} // namespace

void setRandomisedForTesting(Stream* strm) {
    if (CompressState* s = stateOf(strm))
        s->randomise = true;
}

int compressInit(Stream* strm, int blockSize100k, int verbosity, int workFactor) {
    (void)verbosity; // the engine reports nothing
    if (strm == nullptr || blockSize100k < 1 || blockSize100k > 9 || workFactor < 0 || workFactor > kMaxWorkFactor)
        return kParamError;
    if (workFactor == 0)
        workFactor = kDefaultWorkFactor;

    std::unique_ptr<CompressState> s(new (std::nothrow) CompressState(strm));
    if (!s)
        return kMemError;
    const std::uint32_t blockBytes = kBlockUnit * static_cast<std::uint32_t>(blockSize100k);
    // Room for the largest block the coder can write: every symbol at the
    // longest code, every selector at its longest, every table delta.
    const std::size_t maxBits = static_cast<std::size_t>(kCompressorMaxCodeLen) * (blockBytes + 1) +
                                7u * kMaxSelectors + kMaxGroups * kMaxAlphaSize * 41u + 4096;
    if (!s->block.allocate(blockBytes + 20) || !s->ptr.allocate(blockBytes) ||
        !s->sort.work.allocate(std::max<std::uint32_t>(65537, blockBytes + blockBytes / 32 + 64)) ||
        !s->sort.doubled.allocate(2 * static_cast<std::size_t>(blockBytes) + 8) || !s->mtfv.allocate(blockBytes + 1) ||
        !s->zbuf.allocate(maxBits / 8 + 64))
        return kMemError;
    s->blockSize100k = blockSize100k;
    s->nblockMax = blockBytes - 19;
    s->workFactor = workFactor;
    s->mode = kRunning;
    s->ioState = kInput;
    s->combinedCrc = 0;
    s->blockNo = 0;
    s->stateInCh = kNoByte;
    s->stateInLen = 0;
    prepareNewBlock(s.get());

    strm->totalInLo32 = strm->totalInHi32 = 0;
    strm->totalOutLo32 = strm->totalOutHi32 = 0;
    strm->state = static_cast<EngineState*>(s.release());
    return kOk;
}

int compress(Stream* strm, int action) {
    CompressState* s = stateOf(strm);
    if (s == nullptr || s->outOfMemory)
        return s == nullptr ? kParamError : kMemError;
    int r = compressStep(s, action);
    return s->outOfMemory ? kMemError : r;
}

int compressEnd(Stream* strm) {
    CompressState* s = stateOf(strm);
    if (s == nullptr)
        return kParamError;
    delete s;
    strm->state = nullptr;
    return kOk;
}

} // namespace tessik::bz2
