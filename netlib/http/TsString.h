#pragma once
// A text value of the public facade, and the ring of them through which a
// facade object returns C strings.
#include <memory>

#include "netlib/core/XString.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/TsObject.h"

namespace tessik {

class TsString : public TsObject {
public:
    TsString();
    ~TsString() override;
    TsString(const TsString&) = delete;
    TsString& operator=(const TsString&) = delete;

    // Valid until the value changes or the object dies.
    const char* getAnsi();
    const char* getUtf8();
    void clear();

    XString& value() { return *m_impl; }

private:
    XString* m_impl;
};

// Ten result strings. Each string-returning call takes the next slot, so a
// returned pointer stays valid through the next nine such calls on the same
// object. Not locked: a facade object is used by one thread at a time.
class TsStringRing {
public:
    TsStringRing();
    TsStringRing(const TsStringRing&) = delete;
    TsStringRing& operator=(const TsStringRing&) = delete;

    // Advances (the first call of a new object uses slot 1) and empties the
    // slot for the caller to fill.
    XString& next();
    // The slot last handed out, in ANSI or UTF-8.
    const char* current(bool utf8);

private:
    // A slot is made when first used: most objects (a response per request)
    // never return a string, and ten made up front were a tenth of a small
    // request's work.
    TsString& slot(int index);

    int m_index;
    std::unique_ptr<TsString> m_slots[kResultRingSize];
};

} // namespace tessik
