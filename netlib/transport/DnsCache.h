#pragma once
// The process-wide cache of name lookups: cleaned host name -> dotted quad.
// No expiry by time: an answer lives until two rollovers of the current map
// (one every kDnsCacheRollover insertions) have passed.
#include <cstdint>

namespace tessik {

class StringBuffer;

inline constexpr std::uint32_t kDnsCacheBuckets = 1000;
inline constexpr int kDnsCacheRollover = 800;

// A dotted-quad name is its own answer.
bool dnsCacheLookup(const char* name, StringBuffer& ipText);
void dnsCacheInsert(const char* name, const char* ipText);

// Test-only: forgets every answer and restarts the insertion count.
void dnsCacheResetForTests();

} // namespace tessik
