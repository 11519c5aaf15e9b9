#include "netlib/core/Memory.h"

#include <cstdio>
#include <cstdlib>
#include <string.h>

namespace tessik {
namespace {
thread_local int t_failAfter = -1;

bool injectedFailure() {
    if (t_failAfter < 0)
        return false;
    if (t_failAfter == 0) {
        t_failAfter = -1;
        return true;
    }
    --t_failAfter;
    return false;
}
} // namespace

void* memAlloc(std::uint64_t size) {
    if (size == 0 || size > 0xFFFFFFFFull)
        return nullptr;
    if (injectedFailure())
        return nullptr;
    return std::malloc(static_cast<std::size_t>(size));
}

void* memAllocZeroed(std::uint64_t size) {
    if (size == 0 || size > 0xFFFFFFFFull)
        return nullptr;
    if (injectedFailure())
        return nullptr;
    return std::calloc(1, static_cast<std::size_t>(size));
}

void* memResize(void* p, std::uint64_t size) {
    if (size == 0 || size > 0xFFFFFFFFull)
        return nullptr;
    if (injectedFailure())
        return nullptr;
    return std::realloc(p, static_cast<std::size_t>(size));
}

void secureWipe(void* p, std::size_t n) {
    if (p && n)
        explicit_bzero(p, n);
}

void memFree(void* p) {
    std::free(p);
}

void fatalBadObject(const char* className, const char* operation) {
    std::fprintf(stderr, "Fatal: %s::%s on an object that is not alive (destroyed or overwritten)\n", className,
                 operation);
    std::fflush(stderr);
    std::abort();
}

namespace testing {
void failAllocationAfter(int okCount) {
    t_failAfter = okCount;
}
} // namespace testing

} // namespace tessik
