#pragma once
// The byte buffer's named encodings ("base64", "qp", "url") live in the text
// layer above the core; it installs them here. Without them those names
// decode and encode nothing.
class DataBuffer;
namespace tessik {
class StringBuffer;
}

struct NamedCodings {
    // `name` is trimmed; `text` as the caller gave it. False when the
    // decoded bytes could not be appended.
    bool (*decode)(const char* name, const char* text, DataBuffer& out);
    void (*encode)(const char* name, const void* bytes, unsigned int n, tessik::StringBuffer& out);
};

// Installed once by the text layer; null removes them.
void installNamedCodings(const NamedCodings* codings);
