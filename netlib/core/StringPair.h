#pragma once
// A key and a value text (header fields, form fields, recorded events).
#include "netlib/core/TessikObject.h"

namespace tessik {

class StringBuffer;

class StringPair : public TessikObject {
public:
    StringPair(const char* key, const char* value);
    ~StringPair() override;

    StringPair(const StringPair&) = delete;
    StringPair& operator=(const StringPair&) = delete;

    const char* getKey() const;
    const char* getValue() const;
    tessik::StringBuffer* getKeyBuf();
    tessik::StringBuffer* getValueBuf();

private:
    tessik::StringBuffer* m_key;
    tessik::StringBuffer* m_value;
};

} // namespace tessik
