#pragma once
// Heap blocks of the buffers and arrays. Blocks handed to or taken from
// callers (takeData, adoptData) are malloc/free blocks.
#include <cstddef>
#include <cstdint>

namespace tessik {

// Null for a size of 0, for a size beyond 32 bits, or when the heap is out.
void* memAlloc(std::uint64_t size);
void* memAllocZeroed(std::uint64_t size);
// Moves a block to `size` bytes keeping its contents up to the smaller size,
// often without copying; null on failure, the old block then untouched.
void* memResize(void* p, std::uint64_t size);
void memFree(void* p);
// Zeroes n bytes where no optimiser may skip it: for secrets, not for data
// that anyone on the wire could read.
void secureWipe(void* p, std::size_t n);

// Fatal internal error: an object was used after destruction or overwritten.
[[noreturn]] void fatalBadObject(const char* className, const char* operation);

namespace testing {
// Lets the next `okCount` allocations of the calling thread succeed and the
// one after them fail (once). -1 turns it off.
void failAllocationAfter(int okCount);
} // namespace testing

} // namespace tessik
