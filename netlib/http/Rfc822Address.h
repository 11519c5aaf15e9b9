#pragma once
// RFC 822 mailboxes and address lists, as header values hold them.
#include <cstdint>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class ExtPtrArray;

class Rfc822ParseHelp {
public:
    virtual ~Rfc822ParseHelp();
};

class Rfc822Address : public Rfc822ParseHelp, public TessikObject {
public:
    // `flags` is reserved for callers that pass one; nothing reads it.
    Rfc822Address(const char* text, unsigned int flags);
    ~Rfc822Address() override;
    Rfc822Address(const Rfc822Address&) = delete;
    Rfc822Address& operator=(const Rfc822Address&) = delete;

    bool isValid() const { return m_valid != 0; }
    // The display name, encoded words decoded to UTF-8.
    void getName(StringBuffer& out) const;
    // The display name as the list held it, encoded words as they stand.
    void getNameAsParsed(StringBuffer& out) const { out.appendSb(m_name); }
    void getAddress(StringBuffer& out) const { out.appendSb(m_address); }

private:
    void parseX400(const StringBuffer& text);
    void parseMailbox(const StringBuffer& text);

    std::uint8_t m_valid;
    StringBuffer m_name;
    StringBuffer m_address;
};

// Appends the valid mailboxes of a header value to `list`: Rfc822Address
// objects, or StringBuffer addresses when `listHoldsAddressObjects` is false.
// Returns the number of mailboxes parsed.
int parseAddressList(const char* text, bool listHoldsAddressObjects, ExtPtrArray& list, bool skipDuplicates,
                     unsigned int flags);

// CR and LF dropped; a TAB right after an LF becomes one space.
void unfoldHeaderLines(const char* text, StringBuffer& out);

} // namespace tessik
