#include "netlib/core/NodeArena.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace tessik {

namespace {

constexpr std::size_t kAlign = NodeArena::kAlign;
constexpr std::size_t kFirstBlock = 16 * 1024;
constexpr std::size_t kLargestBlock = 1024 * 1024;

std::uintptr_t roundUp(std::uintptr_t n) {
    return (n + kAlign - 1) & ~(kAlign - 1);
}

// Ahead of every arena object: its arena, or null for a heap one.
struct Header {
    NodeArena* arena;
};
static_assert(sizeof(Header) == kAlign, "objects after the header stay aligned");

} // namespace

struct NodeArena::Block {
    Block* next;
    std::size_t size;
};

namespace {

// Freed blocks of the usual sizes are kept, up to a limit, for the next
// arena: parsing one document after another then does not ask the system
// for fresh pages each time.
constexpr std::size_t kCachedBytesLimit = 8 * 1024 * 1024;
std::mutex g_cacheLock;
NodeArena::Block* g_cache = nullptr;
std::size_t g_cachedBytes = 0;

bool isUsualSize(std::size_t size) {
    for (std::size_t s = kFirstBlock; s <= kLargestBlock; s *= 2)
        if (s == size)
            return true;
    return false;
}

NodeArena::Block* takeCached(std::size_t size) {
    std::lock_guard<std::mutex> lock(g_cacheLock);
    for (NodeArena::Block** at = &g_cache; *at; at = &(*at)->next) {
        if ((*at)->size == size) {
            NodeArena::Block* block = *at;
            *at = block->next;
            g_cachedBytes -= size;
            return block;
        }
    }
    return nullptr;
}

void giveBack(NodeArena::Block* block) {
    if (isUsualSize(block->size)) {
        std::lock_guard<std::mutex> lock(g_cacheLock);
        if (g_cachedBytes + block->size <= kCachedBytesLimit) {
            block->next = g_cache;
            g_cache = block;
            g_cachedBytes += block->size;
            return;
        }
    }
    std::free(block);
}

} // namespace

NodeArena* NodeArena::create() {
    auto* arena = new (std::nothrow) NodeArena();
    if (arena)
        arena->m_nextBlockSize = kFirstBlock;
    return arena;
}

NodeArena::~NodeArena() {
    while (m_blocks) {
        Block* next = m_blocks->next;
        giveBack(m_blocks);
        m_blocks = next;
    }
}

void NodeArena::releaseUsers(std::size_t n) {
    if (n && m_users.fetch_sub(n, std::memory_order_acq_rel) == n)
        delete this;
}

void NodeArena::finishBuilding() {
    const std::size_t unused = m_prepaid;
    m_prepaid = 0;
    if (m_users.fetch_sub(unused + 1, std::memory_order_acq_rel) == unused + 1)
        delete this;
}

bool NodeArena::addBlock(std::size_t atLeast) {
    const std::size_t head = static_cast<std::size_t>(roundUp(sizeof(Block)));
    std::size_t size = m_nextBlockSize;
    if (size < atLeast + head)
        size = atLeast + head;
    Block* block = takeCached(size);
    if (!block)
        block = static_cast<Block*>(std::malloc(size));
    if (!block)
        return false;
    block->size = size;
    block->next = m_blocks;
    m_blocks = block;
    m_at = reinterpret_cast<char*>(block) + head;
    m_end = reinterpret_cast<char*>(block) + size;
    if (m_nextBlockSize < kLargestBlock)
        m_nextBlockSize *= 2;
    return true;
}

void* NodeArena::allocate(std::size_t n) {
    n = static_cast<std::size_t>(roundUp(n == 0 ? 1 : n));
    // Texts leave the cursor anywhere; blocks start aligned.
    char* at = reinterpret_cast<char*>(roundUp(reinterpret_cast<std::uintptr_t>(m_at)));
    if (m_at == nullptr || at > m_end || static_cast<std::size_t>(m_end - at) < n) {
        if (!addBlock(n))
            return nullptr;
        at = m_at;
    }
    m_at = at + n;
    return at;
}

char* NodeArena::copyText(const char* p, std::size_t n) {
    if (static_cast<std::size_t>(m_end - m_at) < n + 1 && !addBlock(n + 1))
        return nullptr;
    char* text = m_at;
    if (n)
        std::memcpy(text, p, n);
    text[n] = 0;
    m_at += n + 1;
    return text;
}

void* ArenaObject::operator new(std::size_t size, const std::nothrow_t&) noexcept {
    auto* header = static_cast<Header*>(std::malloc(sizeof(Header) + size));
    if (!header)
        return nullptr;
    header->arena = nullptr;
    return header + 1;
}

void* ArenaObject::operator new(std::size_t size, NodeArena* arena, const std::nothrow_t&) noexcept {
    if (!arena)
        return operator new(size, std::nothrow);
    auto* header = static_cast<Header*>(arena->allocate(sizeof(Header) + size));
    if (!header)
        return nullptr;
    header->arena = arena;
    arena->addUser();
    return header + 1;
}

namespace {

// The releases an ArenaReleaseBatch holds back on this thread.
struct HeldReleases {
    int batches = 0;
    NodeArena* arena = nullptr;
    std::size_t count = 0;

    void flush() {
        NodeArena* a = arena;
        const std::size_t n = count;
        arena = nullptr;
        count = 0;
        if (a)
            a->releaseUsers(n);
    }
};
thread_local HeldReleases t_held;

} // namespace

ArenaReleaseBatch::ArenaReleaseBatch() {
    ++t_held.batches;
}

ArenaReleaseBatch::~ArenaReleaseBatch() {
    if (--t_held.batches == 0)
        t_held.flush();
}

void ArenaObject::operator delete(void* p) noexcept {
    if (!p)
        return;
    Header* header = static_cast<Header*>(p) - 1;
    NodeArena* arena = header->arena;
    if (!arena) {
        std::free(header);
    } else if (t_held.batches == 0) {
        arena->releaseUser();
    } else {
        if (t_held.arena != arena)
            t_held.flush();
        t_held.arena = arena;
        ++t_held.count;
    }
}

void ArenaObject::operator delete(void* p, const std::nothrow_t&) noexcept {
    operator delete(p);
}

void ArenaObject::operator delete(void* p, NodeArena*, const std::nothrow_t&) noexcept {
    operator delete(p);
}

NodeArena* ArenaObject::arenaOf(const void* p) {
    return p ? (static_cast<const Header*>(p) - 1)->arena : nullptr;
}

} // namespace tessik
