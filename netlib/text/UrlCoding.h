#pragma once
// Form URL coding ("application/x-www-form-urlencoded"): letters and digits
// stay, a space becomes '+', every other byte %XX.
namespace tessik {

class DataBuffer;

class StringBuffer;

void urlEncodeBytes(const void* bytes, unsigned int n, StringBuffer& out);
// One byte as "%XX", upper-case hex.
void appendPercentEscape(unsigned char c, StringBuffer& out);
void urlEncodeDb(const DataBuffer& in, StringBuffer& out);
// Appends the decoded bytes; never fails. A '%' cut off by the end of the
// text ends the decoding; one followed by a non-hex character stays a '%'.
void urlDecode(const StringBuffer& text, DataBuffer& out);

} // namespace tessik
