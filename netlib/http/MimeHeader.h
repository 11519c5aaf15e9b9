#pragma once
// Ordered header fields (request heads, response heads, MIME parts): names
// compared without ASCII case, several fields of one name allowed, values in
// UTF-8. Parsing repairs line ends, unfolds and finds the head's code page.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class LogBase;
class MimeField;

class MimeHeader {
public:
    MimeHeader();
    virtual ~MimeHeader();
    MimeHeader(const MimeHeader&) = delete;
    MimeHeader& operator=(const MimeHeader&) = delete;

    void clear();
    int getCount() const { return m_fields.getCount(); }
    const MimeField* getFieldAt(int index) const;
    // In the ANSI code page; false for a bad index.
    bool getNameAt(int index, StringBuffer& out) const;
    bool getValueAt(int index, StringBuffer& out) const;
    std::uint32_t getCodePage() const { return m_codePage; }
    // The page the values are rendered in when none is asked for.
    void setCodePage(std::uint32_t page) { m_codePage = page; }

    void copyFrom(const MimeHeader& other);
    bool hasField(const char* name) const;
    bool getFieldValue(const char* name, StringBuffer& out, LogBase& log) const;
    bool getFieldValueSilent(const char* name, StringBuffer& out) const;
    // '*' in the pattern matches any run, an empty one included.
    bool fieldMatches(const char* name, const char* pattern, bool caseInsensitive) const;
    bool fieldValueEquals(const char* name, const char* token) const;
    bool getFieldParam(const char* name, const char* paramName, StringBuffer& out) const;

    void removeField(const char* name, bool all);
    // Removes every field of that name, then adds one unless the value is
    // null or blank.
    void replaceField(const char* name, const char* value, bool atFront);
    void setField(const char* name, const char* value) { replaceField(name, value, false); }
    // Appended as it is: nothing decoded, unfolded, trimmed or merged.
    void appendVerbatim(const StringBuffer& name, const StringBuffer& value, bool noFold);

    // Appends the cookies of the Set-Cookie and Set-Cookie2 fields; those
    // without a domain get `defaultDomain`, or are dropped when it is null.
    void getSetCookies(ExtPtrArray& out, const char* defaultDomain) const;

    // Lines joined by CR LF, no line end after the last one. The HTTP form
    // leaves out Content-Type and Content-Length.
    void getMimeHeaderHttp(StringBuffer& out, const char* charset, LogBase& log, bool verbose) const;
    void AssembleMimeHeader(StringBuffer& out, const char* skipPrefix, const char* charset, bool contentOnly,
                            LogBase& log, bool verbose) const;
    // The fields as a cache keeps an answer's head: each line as it was read
    // (in UTF-8, unfolded, its words not decoded), so that the kept head,
    // read as UTF-8, gives the fields the answer gave.
    void AssembleKeptHead(StringBuffer& out) const;
    // With utf8Text the head is UTF-8 text (a kept head), read so rather
    // than in a page found for it.
    void ParseMimeHeader(const char* text, LogBase& log, bool verbose, bool utf8Text = false);
    // The field lines of an HTTP head (CR LF or LF ends, no blank line),
    // taken as ParseMimeHeader would take them. Heads with nothing for it to
    // decode (all 7-bit, no encoded word, escape or folded line) are read
    // line by line without its copies; the others go through it.
    void parseHttpFields(const unsigned char* data, std::uint32_t size, LogBase& log, bool utf8Text = false);
    static bool isPlainHttpHead(const unsigned char* data, std::uint32_t size);

private:
    void renderingCharset(const char* charset, StringBuffer& out) const;
    void render(StringBuffer& out, const char* skipPrefix, const char* charset, bool contentOnly, bool http,
                LogBase& log, bool verbose) const;
    void detectCodePage(const char* wholeText, const StringBuffer& head, LogBase& log, bool verbose);
    bool addParsedField(const StringBuffer& text, bool last, LogBase& log, bool verbose);
    // Closes the gaps the Content-Type fields a later one replaced left.
    void endParse();

    std::uint32_t m_codePage;
    // A 7-bit head holding an ISO-2022-JP escape: each value is read so.
    bool m_shiftedValues;
    ExtPtrArray m_fields;
    // While a head is read: where its Content-Type stands (-1 for none), and
    // whether an earlier one left a gap, so that each is dropped once.
    int m_parsedTypeAt;
    bool m_parsedGaps;
};

} // namespace tessik
