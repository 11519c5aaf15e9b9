#pragma once
// The memory one parse builds its tree from: nodes, tags, texts and
// attributes are carved from large blocks instead of one allocation each, so
// that building a big document and freeing it cost little. The blocks go
// when the last thing carved from them goes: a node may leave its tree, join
// another or be deleted on its own, and counts as a user of its arena until
// then.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace tessik {

class NodeArena {
public:
    // A new arena with one user, its creator (who builds in it and ends with
    // finishBuilding); null when out of memory.
    static NodeArena* create();

    NodeArena(const NodeArena&) = delete;
    NodeArena& operator=(const NodeArena&) = delete;

    // Objects carved here need no more alignment than this.
    static constexpr std::size_t kAlign = 8;

    // Room for n bytes aligned for an object; null when out of memory.
    void* allocate(std::size_t n);
    // A NUL-terminated copy of n bytes, packed after the last; null when out
    // of memory.
    char* copyText(const char* p, std::size_t n);

    // Only the thread that builds in the arena adds users: it takes them in
    // batches, so that a node costs no atomic operation to make.
    void addUser() {
        if (m_prepaid == 0) {
            m_users.fetch_add(kUserBatch, std::memory_order_relaxed);
            m_prepaid = kUserBatch;
        }
        --m_prepaid;
    }
    // The arena and all it handed out go with its last user.
    void releaseUser() { releaseUsers(1); }
    void releaseUsers(std::size_t n);
    // The builder is done: the creator lets go, with the users it took
    // ahead and did not hand out.
    void finishBuilding();

    struct Block;

private:
    NodeArena() = default;
    ~NodeArena();
    bool addBlock(std::size_t atLeast);

    static constexpr std::size_t kUserBatch = 4096;

    Block* m_blocks = nullptr;
    char* m_at = nullptr;
    char* m_end = nullptr;
    std::size_t m_nextBlockSize;
    std::size_t m_prepaid = 0;
    std::atomic<std::size_t> m_users{1};
};

// Class-level allocation for objects that may live in an arena (tree nodes
// and attribute sets): each carries a small header naming its arena, or none
// for a heap object, so that `delete` gives it back to the right place.
struct ArenaObject {
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept;
    static void* operator new(std::size_t size, NodeArena* arena, const std::nothrow_t&) noexcept;
    static void operator delete(void* p) noexcept;
    static void operator delete(void* p, const std::nothrow_t&) noexcept;
    static void operator delete(void* p, NodeArena* arena, const std::nothrow_t&) noexcept;
    // The arena the object at p was carved from; null for a heap object.
    static NodeArena* arenaOf(const void* p);
};

// While one lives on a thread, the objects deleted there let go of their
// arena together when the last of these ends, not one atomic operation each
// (a whole tree going, say). Nothing is freed earlier than it would be.
class ArenaReleaseBatch {
public:
    ArenaReleaseBatch();
    ~ArenaReleaseBatch();
    ArenaReleaseBatch(const ArenaReleaseBatch&) = delete;
    ArenaReleaseBatch& operator=(const ArenaReleaseBatch&) = delete;
};

} // namespace tessik
