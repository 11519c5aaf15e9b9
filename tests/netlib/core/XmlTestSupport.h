#pragma once
// A canonical one-line-per-element dump of a tree, the form in which the XML
// tests compare whole documents with python's expat (see
// tests/data/core/xml_dump.py, which writes the same form).
#include <string>
#include <string_view>
#include <vector>

namespace tessik {
class TreeNode;
}
namespace grvtest {
class TempDir;
}

namespace xmltest {

// depth*2 blanks, tag, ' name="value"' per attribute, ' |content|'; bytes
// outside printable ASCII and the backslash as \xHH.
std::string Dump(const tessik::TreeNode* root);
// Bytes outside printable ASCII, and the backslash, as \xHH.
std::string Escaped(std::string_view bytes);
// Parses the text (trimContent as given) and dumps the root, "" for none.
std::string ParseAndDump(const std::string& text, bool trimContent);

// The folder of the XML test data and its scripts.
std::string DataDir();
// The files a script of the test data writes into the folder (its first
// argument), as it names them, one a line.
std::vector<std::string> MadeFiles(const char* script, const grvtest::TempDir& dir,
                                   const std::vector<std::string>& more = {});
// Expat's dumps of the files, in order (xml_dump.py); with asUtf8, each file
// is read as UTF-8 whatever its declaration names, as a text is.
std::vector<std::string> ExpatDumps(const std::vector<std::string>& files, bool asUtf8 = false);
// libxml2's tree of each file: the text xmllint writes of it (as UTF-8, no
// external DTD loaded) dumped as expat dumps any file.
std::vector<std::string> Libxml2Dumps(const std::vector<std::string>& files);
// libxml2's reading of each file (lxml), names as the current XML
// Recommendation has them, dumped as expat dumps any file.
std::vector<std::string> Libxml2Reads(const std::vector<std::string>& files);

} // namespace xmltest
