#pragma once
// The hook through which the byte buffer reaches its named encodings
// ("base64", "qp", "url"), which live in the text layer above the core;
// netlib/text/NamedCodingsInstaller.cpp fills it. Until then those names
// decode and encode nothing.
namespace tessik {

class DataBuffer;
class StringBuffer;

struct NamedCodings {
    // `name` is trimmed; `text` as the caller gave it. False when the
    // decoded bytes could not be appended.
    bool (*decode)(const char* name, const char* text, DataBuffer& out);
    void (*encode)(const char* name, const void* bytes, unsigned int n, tessik::StringBuffer& out);
};

// Set by the text layer at the library's start; null removes them.
void installNamedCodings(const NamedCodings* codings);

} // namespace tessik
