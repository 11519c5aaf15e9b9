#include "platform/CodePage.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<unsigned> g_override{0};
}

unsigned GetACP() {
    unsigned cp = g_override.load(std::memory_order_relaxed);
    return cp ? cp : kCodePageUtf8;
}

unsigned GetOEMCP() {
    return kCodePageOem;
}

void SetAnsiCodePageOverride(unsigned codePage) {
    g_override.store(codePage, std::memory_order_relaxed);
}

} // namespace platform
