#pragma once
// A body received over HTTP as text. Its media type decides how its charset
// is found: an XML type (RFC 7303's) by its byte-order mark, then
// the Content-Type's charset, then the document's own (RFC 7303); anything
// else by its byte-order mark, then the Content-Type's charset and, for
// text/html, the browsers' prescan, each label read as browsers read it
// (the WHATWG Encoding Standard), else UTF-8 for JSON, windows-1252 for
// the rest.
namespace tessik {

class DataBuffer;
class LogBase;
class StringBuffer;

enum class BodyMediaKind { Html, Xml, Json, Other };

// By the type/subtype before the first ';' (white space around it and the
// letters' case aside), never by the parameters: XML as RFC 7303 names it
// (text/xml, application/xml, "+xml"), JSON (application/json, "+json").
BodyMediaKind bodyMediaKind(const char* contentType);

// The encoding a body of any but an XML type is read in (a name
// webEncodingName gives), and the length of the byte-order mark that
// chose it, 0 for none.
const char* bodyWebEncoding(const char* contentType, const char* headerCharset, const DataBuffer& body,
                            unsigned int& mark);

// The body's text as UTF-8, without its byte-order mark; bytes its charset
// does not map read as U+FFFD and a zero byte as a blank. An XML body the
// XML reader refuses is still read by its mark, a label with a decoder or
// the width of its first bytes; one nothing reads (a label or an 8-bit
// declaration without a decoder, and no mark) is one U+FFFD. The charset
// found is logged ("charset").
void bodyTextUtf8(const char* contentType, const char* headerCharset, const DataBuffer& body, DataBuffer& utf8,
                  LogBase& log);

// Bytes in a charset the caller names (a name of the library's own table,
// as its writers take it) as UTF-8, read as a body is: U+FFFD for what the
// charset does not map, a zero byte as a blank; under "utf-16" or "utf-32"
// a byte-order mark decides the byte order and is dropped. False, with utf8
// empty, for a name the library does not decode whole (decodesCharsetName).
bool namedCharsetTextUtf8(const char* charset, const DataBuffer& bytes, DataBuffer& utf8);

// Bytes of a code page appended as UTF-8, read as a body is (U+FFFD for
// what the page does not map, a zero byte as a blank). False, with nothing
// appended, for a page without a decoder or bytes the decoder could not
// account for.
bool pageTextUtf8(int page, const unsigned char* bytes, unsigned int count, DataBuffer& utf8);
// A page's text made UTF-8 in place, as pageTextUtf8 reads it; as UTF-8
// (U+FFFD for what is not well-formed) where the page has no decoder.
void pageTextToUtf8(int page, StringBuffer& text);

} // namespace tessik
