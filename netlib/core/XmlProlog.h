#pragma once
// The document type declaration and processing instructions a tree keeps as
// text are written only where they are well-formed: the writer must not let
// a damaged or hand-set text spoil the document around it.
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

// The text's first well-formed declaration and a line end, as the reader
// keeps one; nothing when it holds none.
void appendDocType(const StringBuffer& text, StringBuffer& out);
// The text's well-formed instructions, each followed by a line end.
void appendInstructions(const StringBuffer& text, StringBuffer& out);

} // namespace xmlprolog
} // namespace tessik
