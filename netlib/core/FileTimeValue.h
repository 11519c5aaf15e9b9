#pragma once
// A FILETIME (100-ns ticks since 1601-01-01) as the library passes it around;
// it lives below streams and text because both hand file times on.
#include <cstdint>

namespace tessik {

struct FileTimeValue {
    std::uint32_t low = 0;
    std::uint32_t high = 0;

    FileTimeValue() = default;
    void clear() { low = high = 0; }
    void setFromFileTime(std::uint32_t lowWord, std::uint32_t highWord) {
        low = lowWord;
        high = highWord;
    }
    std::uint32_t getLowWord() const { return low; }
    std::uint32_t getHighWord() const { return high; }
    std::uint64_t ticks() const { return (static_cast<std::uint64_t>(high) << 32) | low; }
    bool toLocalFileTime(FileTimeValue& out) const;
};

} // namespace tessik
