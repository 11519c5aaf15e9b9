#pragma once
// Characters python's codec of a page's Microsoft names (cp932, cp950)
// writes as the code of another character, which it reads back instead.

#include <cstdint>

namespace tessik {

struct CodecOneWay {
    int page;
    std::uint32_t character;
    // What the code reads back as, and the page writes as that code.
    std::uint32_t twin;
};

const CodecOneWay* codecOneWayBegin();
const CodecOneWay* codecOneWayEnd();

} // namespace tessik
