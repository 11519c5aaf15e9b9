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
constexpr const char* kUndecodable = "The XML's bytes are not all text in its charset.";
constexpr const char* kReplacedBytes = "Bytes that are not text in the XML's charset were read as U+FFFD.";
} // namespace xml_msg

// Parses from the engine's cursor. False only for a null outRoot; otherwise
// *outRoot is the last completed root (or the unfinished one), null when no
// element was read or the text holds a zero byte. The caller owns the tree.
bool parseXml(ParseEngine& engine, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent);
bool parseXmlText(const tessik::StringBuffer& text, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot,
                  bool trimContent);
// Loads, converts to UTF-8, parses; a declared UTF-16 encoding becomes utf-8.
bool parseXmlFile(const char* path, LogBase* log, ProgressMonitor* progress, TreeNode** outRoot, bool trimContent);
// The encoding is the byte-order mark's, else the one the byte pattern of a
// 16- or 32-bit text shows, else the one the XML declaration standing at
// the start names, else UTF-8; the text becomes UTF-8 and a mark is dropped. Bytes that are not text in the charset become U+FFFD and
// the log says so. False, with the reason logged, for no bytes, a zero byte
// in 8-bit text, or text a charset without replacement could not read whole.
bool prepareXmlBytes(DataBuffer& bytes, LogBase* log = nullptr);
// The charset prepareXmlBytes reads the bytes in, by name.
void xmlBytesCharset(const DataBuffer& bytes, tessik::StringBuffer& out);
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
