#pragma once
// A canonical one-line-per-element dump of a tree, the form in which the XML
// tests compare whole documents with python's expat (see
// tests/data/core/xml_dump.py, which writes the same form).
#include <string>
#include <string_view>

namespace tessik {
class TreeNode;
}

namespace xmltest {

// depth*2 blanks, tag, ' name="value"' per attribute, ' |content|'; bytes
// outside printable ASCII and the backslash as \xHH.
std::string Dump(const tessik::TreeNode* root);
// Bytes outside printable ASCII, and the backslash, as \xHH.
std::string Escaped(std::string_view bytes);
// Parses the text (trimContent as given) and dumps the root, "" for none.
std::string ParseAndDump(const std::string& text, bool trimContent);

} // namespace xmltest
