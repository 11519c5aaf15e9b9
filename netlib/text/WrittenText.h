#pragma once
// The codes text goes out in under a caller's charset name. Every road
// writes what python's codec of the name writes; a form's values go first
// in what a browser's encoder for the label writes, as a browser's form
// would send them.

namespace tessik {

class DataBuffer;

// Whether bytes written in `page` (the library's page for the name, or the
// one it wrote the name's text in) are what python's codec of the name
// writes for the text (UTF-8): codes of the standard the name stands for,
// read back by the codec's reading as the text. A page without a decoder
// here is held to the standard's codes alone.
bool writtenAsNamed(const char* name, int page, const unsigned char* bytes, unsigned int count,
                    const unsigned char* utf8, unsigned int n);

// A text (UTF-8) appended in the name's page where every character has a
// code the page reads back as it and the codes are the named standard's:
// what python's codec of the name writes then, with nothing to read back.
// False (the output as it was) where that does not hold: the caller then
// writes the text by the rule that reads it back.
bool writeExactlyAsNamed(const char* name, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out);

// Under a label of a browser's ISO-2022-JP, the text (UTF-8) with its
// half-width katakana as their full-width forms, as that encoder writes
// them; false (the output unfinished) for a text without them or another
// label.
bool withFullWidthKatakana(const char* name, const unsigned char* utf8, unsigned int n, DataBuffer& out);

// Whether a text (UTF-8) holds the yen sign or the overline.
bool holdsJisRoman(const unsigned char* utf8, unsigned int n);

// A text (UTF-8) holding the yen sign or the overline, appended in the
// codes python's codec of an ISO-2022-JP name writes: JIS X 0201 Roman's
// '\\' and '~' behind ESC ( J, which the pages' writers have not, and which
// the codec reads back as the two. False for a text without them, another
// name, or a text the codec does not write, the output then unfinished.
bool writeJisRomanAsNamed(const char* name, int page, const unsigned char* utf8, unsigned int n, DataBuffer& out);

// A form's charset label with its encoders chosen, once for all the
// form's values: `page` is the library's page for the name (0 or UTF-8's
// for text that stays UTF-8), `browserPage` the page that reads the
// label's browser encoding `encoding` (0 and null where a browser writes
// no codes of its own for the label). `label` is borrowed.
struct FormCharset {
    const char* label = nullptr;
    int page = 0;
    const char* encoding = nullptr;
    int browserPage = 0;
};

FormCharset formCharset(const char* label, int page);

// A form's text (UTF-8) under its charset label, appended: in the codes a
// browser's encoder for the label writes where it writes the text, else in
// those python's codec of the name writes. False where neither writes it,
// the output then unfinished.
bool writeFormText(const FormCharset& charset, const unsigned char* utf8, unsigned int n, DataBuffer& out);

} // namespace tessik
