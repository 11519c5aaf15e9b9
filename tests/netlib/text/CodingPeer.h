#pragma once
// Runs python3 (Debian's) or another tool over a batch of byte strings: one
// hex line in, one hex line out, so a whole table costs one process.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace codingpeer {

using Bytes = std::vector<unsigned char>;

std::string toHex(const Bytes& b);
Bytes fromHex(const std::string& hex);
Bytes bytesOf(const std::string& s);
std::string textOf(const Bytes& b);

// `body` is Python run once per input line with `data` bound to the line's
// bytes; it must leave its result (bytes) in `out`. Empty on failure.
std::vector<Bytes> python(const std::string& body, const std::vector<Bytes>& inputs);

// Runs a program with `input` on stdin and returns stdout.
Bytes runTool(const std::vector<std::string>& argv, const Bytes& input, int& status);

// Random bytes; `alphabet` empty means any byte.
Bytes randomBytes(std::mt19937& rng, std::size_t n, const std::string& alphabet = std::string());

}  // namespace codingpeer
