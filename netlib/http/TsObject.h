#pragma once
// Root of the library's public facade classes.

namespace tessik {

class TsObject {
public:
    virtual ~TsObject();
};

} // namespace tessik
