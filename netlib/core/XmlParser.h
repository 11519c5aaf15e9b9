#pragma once
// The lenient XML reader that builds TreeNode trees, and the byte preparation
// that brings a file's text to UTF-8 first. The writer is TreeNode::serialize.
#include "netlib/core/StringBuffer.h"

namespace tessik {

class DataBuffer;
class LogBase;
class ParseEngine;
class ProgressMonitor;
class TreeNode;

// Texts of the parser's log lines that callers and tests match exactly.
namespace xml_msg {
constexpr const char* kUnclosedComment = "Unclosed comment";
constexpr const char* kFailedDtd = "Failed to parse DTD";
constexpr const char* kClosingTagError = "Error in closing tag";
constexpr const char* kErrorTag = "error_tag";
constexpr const char* kZeroByte = "The XML holds a zero byte, which XML does not allow.";
constexpr const char* kNotNameChar = "The XML holds a name with a character that no XML name holds.";
constexpr const char* kNameTag = "name";
constexpr const char* kUndecodable = "The XML's bytes are not all text in its charset.";
constexpr const char* kShiftBytes =
    "The XML holds an escape, SO or SI, which no XML text holds: shifted text not read in its charset.";
constexpr const char* kReplacedBytes = "Bytes that are not text in the XML's charset were read as U+FFFD.";
constexpr const char* kEbcdicUnnamed =
    "The XML is in EBCDIC, but its declaration names no EBCDIC charset that reads it.";
constexpr const char* kEscapeAtStart =
    "The XML starts with an escape sequence that is not the designator of the charset it declares.";
constexpr const char* kSaveConversionFailed = "Failed to convert the XML to the declared encoding.";
constexpr const char* kNotReadBack = "The XML in its declared encoding would not read back as the same text.";
constexpr const char* kUnknownCharset = "The XML declares a charset the library has no decoder for.";
constexpr const char* kUnknownLabel = "The XML came labelled with a charset the library has no decoder for.";
constexpr const char* kMarkDisagrees =
    "The XML declares another encoding than its byte-order mark or its first bytes show.";
constexpr const char* kLabelAgainstShifts =
    "The XML shifts into two-byte text as an ISO-2022 form does, but came labelled with a charset without those "
    "shifts.";
constexpr const char* kBeyondNamedCharset =
    "The XML holds characters that the charset it declares does not have, only a vendor's extension of it.";
} // namespace xml_msg

// Parses from the engine's cursor. False only for a null outRoot; otherwise
// *outRoot is the last completed root (or the unfinished one), null when no
// element was read or the text holds a zero byte. The caller owns the tree.
bool parseXml(ParseEngine& engine, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent);
bool parseXmlText(const tessik::StringBuffer& text, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot,
                  bool trimContent);
// Loads, converts to UTF-8, parses; a declared UTF-16 encoding becomes utf-8.
bool parseXmlFile(const char* path, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent);
// The encoding is the byte-order mark's, else the charset the bytes came
// labelled with (outside, as a Content-Type's charset; ignored when null or
// empty), else the one the byte pattern of a 16-, 32-bit or EBCDIC text or
// an ISO-2022-KR designator shows, else the one the XML declaration
// standing at the start names, else UTF-8; the text becomes UTF-8 and a
// mark is dropped. Bytes that are not text in the charset become U+FFFD
// and the log says so. False, with the reason logged, for no bytes, a
// U+0000 or an escape, SO or SI in the text, a label or declaration naming
// a charset the library cannot decode whole, a mark (or 16- or 32-bit first
// bytes) before a declaration naming another encoding, a label without its
// shifts on a declared ISO-2022 text, an EBCDIC text whose declaration
// names no EBCDIC page, or an escape sequence at the start that is not the
// designator of the charset declared.
bool prepareXmlBytes(DataBuffer& bytes, LogBase* log = nullptr, const char* outside = nullptr);
// A document handed over as UTF-8 text is left as it stands, unless it
// holds the shifts of an ISO-2022 text (escape, SO, SI, which no XML text
// holds) and declares an ISO-2022 charset: those are bytes not yet read,
// read then as a file's are. False, with the reason logged, where a file's
// bytes would be refused (a declaration without a decoder, a mark against
// its declaration). Text that holds shifts otherwise is the caller's (an
// ASN.1 string's escapes) and left as it stands.
bool prepareXmlText(tessik::StringBuffer& text, LogBase* log);
// The same reading of bytes the caller keeps, into `out` (cleared first),
// and the charset it took them in by name. Refused as XML, `out` is still
// their text where something reads them: the text when only a zero byte
// or a shift refused it, else the text of the mark, a label with a decoder
// or the width of 16- or 32-bit first bytes (a mark against its
// declaration, a declaration or label without a decoder); the charset is
// empty when nothing reads them (a label without a decoder and no mark, an
// 8-bit declaration without one).
bool decodeXmlBytes(const unsigned char* bytes, unsigned int count, DataBuffer& out, LogBase* log = nullptr,
                    const char* outside = nullptr, tessik::StringBuffer* charset = nullptr);
// A document's UTF-8 text as the bytes of the charset named, laid out so
// that prepareXmlBytes finds the charset again: a declaration stays in
// ASCII before anything UTF-7 or ISO-2022 shifts into, while 16-, 32-bit
// and EBCDIC pages write it in their own bytes (with markWide, after a
// byte-order mark). False, with the reason logged, for a charset the
// library does not write, a character it has no bytes for, one only a
// vendor's extension of the charset named has (GBK's under "gb2312"), or
// bytes that would not read back as the same text.
bool encodeXmlText(const char* utf8, unsigned int n, const char* charset, bool markWide, DataBuffer& out, LogBase& log);
// The document's UTF-8 text with a declaration naming the charset given:
// the text itself where its declaration names that charset's page already
// (or, for UTF-8, none), else the declaration's version and standalone
// kept under the new encoding, or a declaration put first.
void declareXmlEncoding(const char* utf8, unsigned int n, const char* charset, tessik::StringBuffer& out);
// Under a 16- or 32-bit name that leaves the byte order open ("utf-16",
// "utf-32"), the page of the byte-order mark of that width the bytes start
// with, its length in mark; else page as given, and mark 0.
int pageByMark(const char* name, int page, const unsigned char* bytes, unsigned int count, unsigned int& mark);
// The encoding named by the XML declaration standing at text[0] (read by
// its grammar); false, with out empty, when none stands there or it names
// none. Every road that takes an encoding from a document reads it here.
bool declaredXmlEncoding(const char* text, unsigned int n, tessik::StringBuffer& out);
// The pseudo-attributes of a declaration or stylesheet instruction.
void parseDeclAttributes(ParseEngine& engine, TreeNode* node, LogBase* log);

// Appends text with the five named entities and character references
// decoded, in one pass, so an escaped "&amp;lt;" stays "&lt;". A reference
// that is incomplete or names no XML character stays as it is.
void appendXmlDecoded(const char* text, int n, tessik::StringBuffer& out);

} // namespace tessik
