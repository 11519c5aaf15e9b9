#pragma once
// A charset name with its Windows code page. Either both are set, or the
// page is 0 and the name empty ("default").
#include "netlib/core/StringBuffer.h"

namespace tessik {

class _tsCharset {
public:
    _tsCharset();
    virtual ~_tsCharset();
    _tsCharset(const _tsCharset&) = delete;
    _tsCharset& operator=(const _tsCharset&) = delete;

    void copyFrom(const _tsCharset& other);
    const char* getName() const { return m_name.getString(); }
    int getCodePage() const { return m_codePage; }
    void clear();
    // An unknown page clears both.
    void setByCodePage(int codePage);
    // "default" and "x-user-defined" (exact spelling) clear, "ansi" and "oem"
    // (any case) take the process pages, a known name its page and canonical
    // name; anything else clears. A null name changes nothing. False for a
    // name the library cannot write text in (EncodingConvert::
    // writesCharsetName): one it does not know (a blank one names the
    // default), or a known one whose page it has no table for.
    bool setByName(const char* name);

private:
    tessik::StringBuffer m_name;
    int m_codePage;
};

} // namespace tessik
