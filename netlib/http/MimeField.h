#pragma once
// One header field: name and UTF-8 value, read from an unfolded line and
// rendered for the wire (charset, encoded words, folding).
#include <cstdint>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class Cookie;
class LogBase;

class MimeField : public TessikObject {
public:
    MimeField();
    ~MimeField() override;
    MimeField(const MimeField&) = delete;
    MimeField& operator=(const MimeField&) = delete;

    void setNameValue(const char* name, const char* value);
    // Name, value and fold rule taken as they are: a field of a saved
    // request read back, already what the caller gave.
    void restore(const StringBuffer& name, const StringBuffer& value, bool noFold);
    // False for a line without ':'. A value is read in `shiftedPage` (a
    // 7-bit head's ISO-2022-JP) where that is not 0, on its own: a shift it
    // leaves open ends with it. Fields the client acts on are kept as sent.
    bool parse(const char* line, LogBase& log, bool verbose, std::uint32_t shiftedPage = 0);
    MimeField* clone() const;

    bool nameEquals(const char* name) const;
    const StringBuffer& getName() const { return m_name; }
    const StringBuffer& getValueSb() const { return m_value; }
    void getValue(StringBuffer& out) const { out.appendSb(m_value); }
    void getNameAnsi(StringBuffer& out) const;
    void getValueAnsi(StringBuffer& out) const;
    bool getNoFold() const { return m_noFold != 0; }
    // A field the client acts on (frames, unpacks, caches by, sends back or
    // follows): its value is kept as sent.
    bool keptAsSent() const;
    // Appends "name: value" as the value was read, its words not yet
    // decoded: a second reading of the line gives the field again.
    void keptLine(StringBuffer& out) const;

    // Appends "name: value" with the value encoded for `charset`.
    void render(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const;

    // Fills the cookie from a Set-Cookie value; its version is kept.
    void loadCookie(Cookie& cookie) const;

private:
    enum class WordKind { Q, B };
    struct RenderCtx;

    void encodeWithParams(RenderCtx& ctx, const StringBuffer& value, StringBuffer& out) const;
    void encodeText(RenderCtx& ctx, const StringBuffer& text, bool isParamValue, StringBuffer& out) const;
    void encodeAddressText(RenderCtx& ctx, const StringBuffer& text, StringBuffer& out) const;
    void appendWords(RenderCtx& ctx, const StringBuffer& text, StringBuffer& out) const;
    void fold(const StringBuffer& text, int column, bool sevenBitCase, StringBuffer& out, LogBase& log) const;
    void rebuildAddressList(bool commasProtected);

    std::uint8_t m_noFold;
    StringBuffer m_name;
    StringBuffer m_value;
    // The value as read before its words were decoded; empty when it held
    // none.
    StringBuffer m_undecoded;
};

} // namespace tessik
