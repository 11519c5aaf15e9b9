// Parses any bytes both ways (trimmed and not), writes the tree and reads
// the writing back. The lenient reader keeps names the writer cannot always
// give back (a tag may begin with "!"), so a root is not required the second
// time; the sanitizers judge.
#include <cstdint>
#include <initializer_list>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ParseEngine.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlParser.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 18)
        return 0;
    DataBuffer bytes;
    bytes.append(data, static_cast<unsigned>(size));
    prepareXmlBytes(bytes);
    for (bool trim : {true, false}) {
        ParseEngine engine(bytes);
        TreeNode* root = nullptr;
        parseXml(engine, nullptr, nullptr, &root, trim);
        if (!root)
            continue;
        StringBuffer out;
        root->serialize(out, 0, 0, false);
        root->deleteTree();
        TreeNode* again = nullptr;
        parseXmlText(out, nullptr, nullptr, &again, trim);
        if (again)
            again->deleteTree();
    }
    return 0;
}
