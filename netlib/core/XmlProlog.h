#pragma once
// The document type declaration and processing instructions a tree keeps as
// text are written only where they are well-formed: the writer must not let
// a damaged or hand-set text spoil the document around it. The XML
// declaration is read here too, by its grammar, for every road that takes
// an encoding from a document.
#include <string_view>

namespace tessik {

class StringBuffer;

namespace xmlprolog {

// Length of the DOCTYPE-like construct at p (its "<" first) as its grammar
// bounds it, well-formed or not: quoted literals, and the comments,
// instructions and declarations of an internal subset, each run to their
// own end, so no "<", ">" or "<!DOCTYPE" inside them ends it. 0 when the
// text ends first. Reads each byte once.
int docTypeExtent(const char* p, int n);
// Length of the well-formed processing instruction at p; 0 when there is none.
int instructionLength(const char* p, int n);

// The XML declaration's fields, each empty when absent; they point into the
// text that was read.
struct Declaration {
    int length = 0; // "<?xml" through "?>"
    std::string_view version;
    std::string_view encoding;
    std::string_view standalone;
};
// The declaration standing at p[0], read by its grammar (white space being
// blank, TAB, CR and LF, also around "="); false when none stands there, as
// when anything else (a comment, white space, a byte-order mark) comes
// first: text elsewhere in a document never declares anything.
bool readDeclaration(const char* p, int n, Declaration& out);
// XML's EncName: a letter, then letters, digits, ".", "_" and "-".
bool isEncodingName(std::string_view name);
// Whether the instruction whose target starts at p (just after "<?") has
// this target, compared whole and case-sensitively.
bool instructionTargetIs(const char* p, int n, std::string_view target);

// The text's first well-formed declaration and a line end, as the reader
// keeps one; nothing when it holds none.
void appendDocType(const StringBuffer& text, StringBuffer& out);
// The text's well-formed instructions, each followed by a line end.
void appendInstructions(const StringBuffer& text, StringBuffer& out);

} // namespace xmlprolog
} // namespace tessik
