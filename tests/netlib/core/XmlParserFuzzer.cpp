// The reader and the component's path queries over any bytes: the first
// line is a query, the rest a document the component loads both ways
// (trimmed and not) and the query runs on. The sanitizers judge;
// fuzz_xml_writer holds what is read and written to expat.
#include <cstdint>
#include <initializer_list>
#include <string>

#include "netlib/core/ClsXml.h"
#include "netlib/core/XString.h"

using namespace tessik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 18)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string query = lineEnd == std::string::npos ? "" : input.substr(0, lineEnd);
    const std::string document = lineEnd == std::string::npos ? input : input.substr(lineEnd + 1);
    // A text without "<" may name a file to load instead.
    if (document.find('<') == std::string::npos)
        return 0;
    for (bool trim : {true, false}) {
        ClsXml xml;
        if (!xml.LoadXml(document.c_str(), trim))
            continue;
        XString path;
        XString result;
        path.setFromUtf8(query.c_str());
        xml.TessikPath(path, result);
        result.getUtf8();
    }
    return 0;
}
