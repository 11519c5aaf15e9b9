#pragma once
// Process-wide step markers: long operations record how far they got, for a
// debugger or a crash dump to read; nothing decides anything on them. Any
// thread may write them at any time, so they are relaxed atomics.
#include <cstdint>

namespace tessik {

constexpr int kCheckpointWordCount = 8;

void setCheckpoint(int word, std::uint32_t step);
std::uint32_t getCheckpoint(int word);
// Every public component method starts here.
void resetCheckpoints();

} // namespace tessik
