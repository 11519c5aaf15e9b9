#pragma once
// zlib as the judge of our deflate and the maker of streams for our inflate.
#include <cstdint>
#include <string>
#include <vector>

namespace zpeer {

using Bytes = std::vector<std::uint8_t>;

// Inflates raw deflate data (window bits -15) or, with `zlibFramed`, an
// RFC 1950 stream. True when every byte was accepted; `complete` tells
// whether the final block was met (flushed chunks end without one).
bool inflate(const Bytes& in, Bytes* out, bool zlibFramed = false, bool* complete = nullptr);

// zlib's verdict on a whole stream given at once: what it decodes, whether
// it reaches the stream's end, and the message of a refusal of the data
// ("" when there is none: accepted, or only cut short).
struct Verdict {
    Bytes out;
    bool complete = false;
    std::string refusal;
};
Verdict judge(const Bytes& in, bool zlibFramed = false);

struct Piece {
    std::size_t length; // input bytes of this piece
    int flush;          // Z_NO_FLUSH, Z_SYNC_FLUSH, Z_FULL_FLUSH, Z_FINISH ...
};
// zlib's deflate at `level` and `strategy`, raw or zlib-framed, fed piece by
// piece with each piece's flush (a missing tail is fed with Z_FINISH).
Bytes deflate(const Bytes& in, int level, int strategy, bool zlibFramed, const std::vector<Piece>& pieces = {});

// Bytes from a seeded generator: incompressible, and the same every run.
Bytes randomBytes(std::size_t n, unsigned seed);

} // namespace zpeer
