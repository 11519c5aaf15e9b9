// The reader and the component's path queries over any bytes: the first
// line is a query, the rest a document the component loads both ways
// (trimmed and not) and the query runs on. A document expat (the system's
// libexpat) reads as well-formed is read to expat's tree: the same elements
// in the same places with the same attributes, and each element's text the
// same but for whitespace (the reader trims on request and joins runs of
// text with a blank, by design). Documents whose tree depends on a DTD are
// not compared: expat expands general entities, skips those it cannot see
// and normalises attributes by their declared types, the reader does none
// of that. The same bytes are also read as a file is read, their encoding
// taken from a byte-order mark or the declaration at the start (expat
// reads UTF-8, UTF-16, ISO-8859-1 and US-ASCII by itself; text like a
// declaration elsewhere names nothing to either). The component refuses a
// text only as a file of the same bytes is refused, where expat refuses
// them for their encoding too (a charset without a decoder, a mark against
// the declaration). fuzz_xml_writer holds what is read and written to
// expat.
#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "netlib/core/ClsXml.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XString.h"
#include "netlib/core/XmlParser.h"
#include "netlib/text/TextServices.h"

using namespace tessik;

namespace {

struct Element {
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attrs;
    std::string text;
    std::vector<Element> children;
};

struct ExpatRead {
    Element root;
    std::vector<Element*> open;
    bool hasRoot = false;
    bool dependsOnDtd = false;
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* read = static_cast<ExpatRead*>(data);
    Element* e = &read->root;
    if (!read->open.empty()) {
        read->open.back()->children.emplace_back();
        e = &read->open.back()->children.back();
    }
    read->hasRoot = true;
    e->tag = name;
    for (int i = 0; atts[i]; i += 2)
        e->attrs.emplace_back(atts[i], atts[i + 1]);
    read->open.push_back(e);
}

void XMLCALL onEnd(void* data, const XML_Char*) {
    static_cast<ExpatRead*>(data)->open.pop_back();
}

void XMLCALL onText(void* data, const XML_Char* s, int len) {
    auto* read = static_cast<ExpatRead*>(data);
    if (!read->open.empty())
        read->open.back()->text.append(s, static_cast<std::size_t>(len));
}

void XMLCALL onAttlist(void* data, const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    static_cast<ExpatRead*>(data)->dependsOnDtd = true;
}

bool isNameByte(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == ':' ||
           c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

// A reference to an entity other than the five predefined ones, anywhere.
bool refersToDeclaredEntity(const std::string& text) {
    static const char* const kPredefined[] = {"lt", "gt", "amp", "apos", "quot"};
    for (std::size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) {
        std::size_t end = at + 1;
        while (end < text.size() && isNameByte(text[end]))
            ++end;
        if (end == at + 1 || end >= text.size() || text[end] != ';')
            continue;
        const std::string name = text.substr(at + 1, end - at - 1);
        bool predefined = false;
        for (const char* p : kPredefined)
            predefined = predefined || name == p;
        if (!predefined)
            return true;
    }
    return false;
}

// Expat's tree of the document, when it reads it as well-formed and the
// tree is the document's own; in the encoding given, or (null) the one the
// document names.
bool readByExpat(const std::string& document, ExpatRead& read, const char* encoding) {
    XML_Parser p = XML_ParserCreate(encoding);
    XML_SetUserData(p, &read);
    XML_SetElementHandler(p, onStart, onEnd);
    XML_SetCharacterDataHandler(p, onText);
    XML_SetAttlistDeclHandler(p, onAttlist);
    const bool ok = XML_Parse(p, document.data(), static_cast<int>(document.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(p);
    return ok && read.hasRoot && !read.dependsOnDtd && !refersToDeclaredEntity(document);
}

// Expat, reading the bytes in the encoding they name, refuses that
// encoding: one it does not know, or one the bytes are not in.
bool expatRefusesEncoding(const std::string& document) {
    XML_Parser p = XML_ParserCreate(nullptr);
    const bool refused =
        XML_Parse(p, document.data(), static_cast<int>(document.size()), 1) != XML_STATUS_OK &&
        (XML_GetErrorCode(p) == XML_ERROR_UNKNOWN_ENCODING || XML_GetErrorCode(p) == XML_ERROR_INCORRECT_ENCODING);
    XML_ParserFree(p);
    return refused;
}

// The same bytes as a file's are refused, and expat refuses their encoding.
bool refusedAsFile(const std::string& document) {
    DataBuffer bytes;
    bytes.append(document.data(), static_cast<unsigned int>(document.size()));
    return !prepareXmlBytes(bytes) && expatRefusesEncoding(document);
}

std::string withoutWhitespace(const char* p, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        if (p[i] != ' ' && p[i] != '\t' && p[i] != '\r' && p[i] != '\n')
            s += p[i];
    return s;
}

[[noreturn]] void differ(const std::string& document, const std::string& where, const std::string& what) {
    std::fprintf(stderr, "the reader's tree differs from expat's at %s: %s\n----\n%s\n----\n", where.c_str(),
                 what.c_str(), document.c_str());
    std::abort();
}

void compare(const TreeNode* ours, const Element& theirs, const std::string& where, const std::string& document) {
    const std::string at = where + "/" + theirs.tag;
    if (theirs.tag != ours->getTag())
        differ(document, at, std::string("tag ") + ours->getTag());
    StringBuffer name, value;
    std::size_t count = 0;
    for (int i = 0; ours->getAttributes() && ours->getAttributes()->getAt(i, name, value); ++i, ++count) {
        if (count >= theirs.attrs.size() || theirs.attrs[count].first != name.getString() ||
            theirs.attrs[count].second != std::string(value.getString(), static_cast<std::size_t>(value.getSize())))
            differ(document, at, std::string("attribute ") + name.getString() + "=\"" + value.getString() + "\"");
    }
    if (count != theirs.attrs.size())
        differ(document, at, "attributes missing");
    const std::string text =
        withoutWhitespace(ours->getContent(), static_cast<std::size_t>(std::max(ours->getContentSize(), 0)));
    if (text != withoutWhitespace(theirs.text.data(), theirs.text.size()))
        differ(document, at, "content " + text);
    if (static_cast<std::size_t>(ours->getNumChildren()) != theirs.children.size())
        differ(document, at, std::to_string(ours->getNumChildren()) + " children");
    for (std::size_t i = 0; i < theirs.children.size(); ++i)
        compare(ours->getChild(static_cast<int>(i)), theirs.children[i], at, document);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 1 << 18)
        return 0;
    static const bool installed = [] {
        installTextServices();
        return true;
    }();
    (void)installed;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t lineEnd = input.find('\n');
    const std::string query = lineEnd == std::string::npos ? "" : input.substr(0, lineEnd);
    std::string document = lineEnd == std::string::npos ? input : input.substr(lineEnd + 1);
    // A text without "<" may name a file to load instead.
    if (document.find('<') == std::string::npos)
        return 0;
    // The component takes the text as a C string.
    document.resize(std::strlen(document.c_str()));
    ExpatRead expat;
    const bool judged = readByExpat(document, expat, "UTF-8");
    for (bool trim : {true, false}) {
        ClsXml xml;
        const bool loaded = xml.LoadXml(document.c_str(), trim);
        if (judged && !loaded && !refusedAsFile(document))
            differ(document, "", "no tree read");
        if (!loaded)
            continue;
        if (judged)
            compare(xml.getCurrentNode(), expat.root, trim ? "(trimmed)" : "", document);
        XString path;
        XString result;
        path.setFromUtf8(query.c_str());
        xml.TessikPath(path, result);
        result.getUtf8();
    }
    // The bytes as a file's: an 8-bit text (16-bit ones are the corpus
    // test's), its encoding read by both.
    ExpatRead declared;
    if (!readByExpat(document, declared, nullptr))
        return 0;
    DataBuffer bytes;
    bytes.append(document.data(), static_cast<unsigned int>(document.size()));
    if (!prepareXmlBytes(bytes))
        differ(document, "(bytes)", "no tree read");
    // Expat's table for 8- and 16-bit text takes U+00AA, U+00B5 and U+00BA
    // for name characters, which its reading of UTF-8 and XML 1.0 do not:
    // the same text in UTF-8 judges.
    const std::string text(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize());
    ExpatRead asUtf8;
    if (!readByExpat(text, asUtf8, "UTF-8"))
        return 0;
    TreeNode* root = nullptr;
    if (!parseXmlText(StringBuffer(text.data(), static_cast<unsigned int>(text.size()), 0), nullptr, nullptr, &root,
                      true) ||
        !root)
        differ(document, "(bytes)", "no tree read");
    compare(root, declared.root, "(bytes)", document);
    root->deleteTree();
    return 0;
}
