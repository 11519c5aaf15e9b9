// libFuzzer harness over the bzip2 decoder: whole-buffer decoding into a
// room the input chooses, and the same streams fed in small pieces, which
// must reach the same result (concatenated streams read one after another,
// input after the last that fails the stream magic left unread).
#include "netlib/streams/Bzip2Engine.h"
#include "netlib/streams/TessikBzip2.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace tessik;

namespace {

constexpr std::size_t kMaxRoom = 1 << 20;
constexpr std::uint8_t kGuard = 0xA5;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    // The first two bytes pick the output room.
    std::size_t room = (static_cast<std::size_t>(data[0]) << 12 | static_cast<std::size_t>(data[1]) << 4);
    room = room % kMaxRoom;
    data += 2;
    size -= 2;

    std::vector<std::uint8_t> whole(room + 16, kGuard);
    unsigned int len = static_cast<unsigned int>(room);
    TessikBzip2 bz;
    bool ok = bz.decompressBuffer(whole.data(), &len, data, static_cast<unsigned int>(size));
    for (std::size_t i = room; i < whole.size(); i++)
        if (whole[i] != kGuard)
            std::abort(); // wrote past the room
    if (!ok && len != 0)
        std::abort();

    // Pieces of 7 bytes of input and 13 of room.
    bz2::Stream s;
    if (bz2::decompressInit(&s) != bz2::kOk)
        return 0;
    std::vector<std::uint8_t> piecewise(room);
    std::size_t inPos = 0;
    int r = bz2::kOk;
    bool later = false; // past the first stream
    for (;;) {
        std::size_t inChunk = std::min<std::size_t>(7, size - inPos);
        std::size_t outPos = s.totalOutLo32;
        std::size_t outChunk = std::min<std::size_t>(13, room - outPos);
        s.nextIn = data + inPos;
        s.availIn = static_cast<std::uint32_t>(inChunk);
        s.nextOut = piecewise.data() + outPos;
        s.availOut = static_cast<std::uint32_t>(outChunk);
        r = bz2::decompress(&s);
        inPos += inChunk - s.availIn;
        if (r == bz2::kStreamEnd) {
            // The pieces lie in one block: what was read ahead is given back.
            bz2::decompressUnread(&s);
            inPos = static_cast<std::size_t>(s.nextIn - data);
            if (inPos == size)
                break;
            if (bz2::decompressRestart(&s) != bz2::kOk)
                return 0;
            later = true;
            continue;
        }
        if (later && bz2::isStreamMagicError(r))
            r = bz2::kStreamEnd;
        if (r != bz2::kOk)
            break;
        if (inChunk == s.availIn && s.totalOutLo32 == outPos)
            break; // no progress: input used up or room full
    }
    bool pieceOk = r == bz2::kStreamEnd;
    if (pieceOk != ok)
        std::abort();
    if (ok && s.totalOutLo32 != len)
        std::abort();
    if (ok && len > 0 && std::memcmp(piecewise.data(), whole.data(), len) != 0)
        std::abort();
    bz2::decompressEnd(&s);
    return 0;
}
