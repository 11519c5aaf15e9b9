#include "netlib/core/Checkpoints.h"

#include <atomic>
#include <cassert>

namespace tessik {

namespace {
std::atomic<std::uint32_t> g_words[kCheckpointWordCount];

bool inRange(int word) {
    return word >= 0 && word < kCheckpointWordCount;
}
} // namespace

void setCheckpoint(int word, std::uint32_t step) {
    assert(inRange(word));
    if (inRange(word))
        g_words[word].store(step, std::memory_order_relaxed);
}

std::uint32_t getCheckpoint(int word) {
    return inRange(word) ? g_words[word].load(std::memory_order_relaxed) : 0;
}

void resetCheckpoints() {
    for (auto& w : g_words)
        w.store(0, std::memory_order_relaxed);
}

} // namespace tessik
