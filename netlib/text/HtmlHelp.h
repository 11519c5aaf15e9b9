#pragma once
// The charset an HTML document declares (its <meta>, found as browsers find
// it), and the regular form of a hand-written start tag that
// its attributes are read from.
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
    // The charset a <meta> names within the first 1,024 bytes, comments and
    // other tags passed over as browsers pass them over (the WHATWG
    // prescan); a label the library cannot read, or UTF-7 or UTF-32, names
    // none, and a 16-bit one reads as "utf-8". Leaves out unchanged when the
    // text declares no charset.
    static void getCharsetFromMeta(const char* html, StringBuffer& out);
    // The first start tag with every value quoted, colons dropped from
    // attribute names, line breaks flattened and a closing '>'. With a log,
    // the exit taken is logged with the output.
    static void cleanTag(const char* tag, StringBuffer& out, LogBase* log);
    // One attribute of a cleaned tag; empty when absent.
    static void getAttributeValue(const char* tag, const char* name, StringBuffer& out);
};

} // namespace tessik
