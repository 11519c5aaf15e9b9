// Huffman code lengths for the compressor, limited to a maximum length by
// flattening the frequencies and rebuilding until the tree is shallow enough.
#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/Bzip2Internal.h"

#include <cassert>

namespace tessik::bz2 {
namespace {

// Weights carry the frequency in the upper 24 bits and the subtree depth in
// the lower 8, so that among equal frequencies the shallower tree wins.
inline std::uint32_t addWeights(std::uint32_t a, std::uint32_t b) {
    std::uint32_t da = a & 0xff, db = b & 0xff;
    return ((a & 0xffffff00u) + (b & 0xffffff00u)) | (1 + (da > db ? da : db));
}

} // namespace

void makeCodeLengths(std::uint8_t* len, const std::int32_t* freq, int alphaSize, int maxLen) {
    assert(alphaSize >= 2 && alphaSize <= kMaxAlphaSize);
    constexpr int kNodes = 2 * kMaxAlphaSize;
    std::int32_t heap[kMaxAlphaSize + 2];
    std::uint32_t weight[kNodes];
    std::int32_t parent[kNodes];

    for (int i = 0; i < alphaSize; i++)
        weight[i + 1] = static_cast<std::uint32_t>(freq[i] == 0 ? 1 : freq[i]) << 8;

    for (;;) {
        int nNodes = alphaSize;
        int nHeap = 0;
        heap[0] = 0;
        weight[0] = 0;
        parent[0] = -2;

        auto upHeap = [&](int z) {
            std::int32_t tmp = heap[z];
            while (weight[tmp] < weight[heap[z >> 1]]) {
                heap[z] = heap[z >> 1];
                z >>= 1;
            }
            heap[z] = tmp;
        };
        auto downHeap = [&](int z) {
            std::int32_t tmp = heap[z];
            for (;;) {
                int y = z << 1;
                if (y > nHeap)
                    break;
                if (y < nHeap && weight[heap[y + 1]] < weight[heap[y]])
                    y++;
                if (weight[tmp] < weight[heap[y]])
                    break;
                heap[z] = heap[y];
                z = y;
            }
            heap[z] = tmp;
        };

        for (int i = 1; i <= alphaSize; i++) {
            parent[i] = -1;
            heap[++nHeap] = i;
            upHeap(nHeap);
        }
        while (nHeap > 1) {
            std::int32_t n1 = heap[1];
            heap[1] = heap[nHeap--];
            downHeap(1);
            std::int32_t n2 = heap[1];
            heap[1] = heap[nHeap--];
            downHeap(1);
            nNodes++;
            parent[n1] = parent[n2] = nNodes;
            weight[nNodes] = addWeights(weight[n1], weight[n2]);
            parent[nNodes] = -1;
            heap[++nHeap] = nNodes;
            upHeap(nHeap);
        }

        bool tooLong = false;
        for (int i = 1; i <= alphaSize; i++) {
            int depth = 0;
            for (int k = i; parent[k] >= 0; k = parent[k])
                depth++;
            len[i - 1] = static_cast<std::uint8_t>(depth);
            if (depth > maxLen)
                tooLong = true;
        }
        if (!tooLong)
            return;

        for (int i = 1; i <= alphaSize; i++) {
            std::uint32_t f = weight[i] >> 8;
            f = 1 + (f / 2);
            weight[i] = f << 8;
        }
    }
}

} // namespace tessik::bz2
