#pragma once
// The charset an HTML document declares (found as browsers find it), and
// the regular form of a hand-written start tag that
// its attributes are read from.
#include <cstddef>

#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"

namespace tessik {

class HtmlHelp {
public:
    // Valued attributes after which a tag is cut off.
    static constexpr int kMaxAttributes = 100;

    HtmlHelp();
    virtual ~HtmlHelp();

    static void getCharsetFromMetaSb(const StringBuffer& html, StringBuffer& out);
    // The encoding browsers' prescan of the first 1,024 bytes finds (WHATWG
    // HTML): "utf-16le" or "utf-16be" for "<?x" in UTF-16 at the start, else
    // the one a <meta> names, comments and other tags passed over as
    // browsers pass them over, else the one an XML declaration at the start
    // names. Labels are read as browsers read them (webEncodingName) and
    // the encoding's name given; in a <meta> or declaration a 16-bit one
    // reads as "utf-8", and in a <meta> x-user-defined as "windows-1252".
    // Leaves out unchanged when the text declares no charset.
    static void getCharsetFromMeta(const char* html, StringBuffer& out);
    // The same over bytes that may hold zeros (a 16-bit text).
    static void getCharsetFromBytes(const void* html, std::size_t n, StringBuffer& out);
    // The first start tag with every value quoted, colons dropped from
    // attribute names, line breaks flattened and a closing '>'. With a log,
    // the exit taken is logged with the output.
    static void cleanTag(const char* tag, StringBuffer& out, LogBase* log);
    // One attribute of a cleaned tag; empty when absent.
    static void getAttributeValue(const char* tag, const char* name, StringBuffer& out);
};

} // namespace tessik
