#pragma once
// Root of the library's public facade classes. Building one starts the
// library's services (idempotent), so the application needs no start call.

namespace tessik {

class TsObject {
public:
    TsObject();
    virtual ~TsObject();
};

} // namespace tessik
