#include "netlib/http/HttpRequest.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include <memory>

#include "netlib/core/ClsBase.h"
#include "netlib/core/ClsXml.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TessikRand.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/MimeField.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Output.h"
#include "netlib/text/TsCharset.h"
#include "netlib/text/UrlCoding.h"
#include "netlib/text/WrittenText.h"
#include "platform/CodePage.h"
#include "platform/File.h"

namespace tessik {

namespace {

constexpr const char* kCrlf = "\r\n";
constexpr const char* kBlankLine = "\r\n\r\n";

struct MediaType {
    const char* ext;
    const char* type;
};

// Searched in order; the first match wins.
constexpr MediaType kMediaTypes[] = {
    {"jpg", "image/jpeg"},
    {"gif", "image/gif"},
    {"txt", "text/plain"},
    {"zip", "application/zip"},
    {"xml", "text/xml"},
    {"htm", "text/html"},
    {"html", "text/html"},
    {"jpeg", "image/jpeg"},
    {"js", "text/javascript"},
    {"pdf", "application/pdf"},
    {"exe", "application/octet-stream"},
    {"abs", "audio/mpeg"},
    {"ai", "application/postscript"},
    {"aif", "audio/aiff"},
    {"aifc", "audio/aiff"},
    {"aiff", "audio/aiff"},
    {"aim", "application/x-aim"},
    {"art", "image/x-jg"},
    {"wmv", "video/x-ms-wmv"},
    {"asf", "video/x-ms-asf"},
    {"asx", "video/x-ms-asf"},
    {"au", "audio/basic"},
    {"avi", "video/x-msvideo"},
    {"avx", "video/x-rad-screenplay"},
    {"bcpio", "application/x-bcpio"},
    {"bin", "application/octet-stream"},
    {"bmp", "image/bmp"},
    {"body", "text/html"},
    {"cdf", "application/x-cdf"},
    {"cer", "application/x-x509-ca-cert"},
    {"class", "application/java"},
    {"cpio", "application/x-cpio"},
    {"csh", "application/x-csh"},
    {"css", "text/css"},
    {"dib", "image/bmp"},
    {"doc", "application/msword"},
    {"dtd", "text/plain"},
    {"csv", "text/csv"},
    {"dv", "video/x-dv"},
    {"dvi", "application/x-dvi"},
    {"eps", "application/postscript"},
    {"etx", "text/x-setext"},
    {"gtar", "application/x-gtar"},
    {"gz", "application/x-gzip"},
    {"hdf", "application/x-hdf"},
    {"hqx", "application/mac-binhex40"},
    {"htc", "text/x-component"},
    {"hqx", "application/mac-binhex40"},
    {"ief", "image/ief"},
    {"jad", "text/vnd.sun.j2me.app-descriptor"},
    {"jar", "application/java-archive"},
    {"java", "text/plain"},
    {"jnlp", "application/x-java-jnlp-file"},
    {"jpe", "image/jpeg"},
    {"kar", "audio/x-midi"},
    {"latex", "application/x-latex"},
    {"m3u", "audio/x-mpegurl"},
    {"mac", "image/x-macpaint"},
    {"man", "application/x-troff-man"},
    {"me", "application/x-troff-me"},
    {"mid", "audio/x-midi"},
    {"midi", "audio/x-midi"},
    {"mif", "application/x-mif"},
    {"mov", "video/quicktime"},
    {"movie", "video/x-sgi-movie"},
    {"mp1", "audio/mpeg"},
    {"mp2", "audio/mpeg"},
    {"mp3", "audio/mpeg"},
    {"mpa", "audio/mpeg"},
    {"mpe", "video/mpeg"},
    {"mpeg", "video/mpeg"},
    {"mpega", "audio/mpeg"},
    {"mpg", "video/mpeg"},
    {"mpv2", "video/mpeg2"},
    {"ms", "application/x-wais-source"},
    {"nc", "application/x-netcdf"},
    {"oda", "application/oda"},
    {"p7m", "application/x-pkcs7-mime"},
    {"p7s", "application/x-pkcs7-signature"},
    {"pbm", "image/x-portable-bitmap"},
    {"pct", "image/pict"},
    {"pgm", "image/x-portable-graymap"},
    {"pic", "image/pict"},
    {"pict", "image/pict"},
    {"pls", "audio/x-scpls"},
    {"png", "image/png"},
    {"pnm", "image/x-portable-anymap"},
    {"pnt", "image/x-macpaint"},
    {"ppm", "image/x-portable-pixmap"},
    {"ps", "application/postscript"},
    {"psd", "image/x-photoshop"},
    {"qt", "video/quicktime"},
    {"qti", "image/x-quicktime"},
    {"qtif", "image/x-quicktime"},
    {"ras", "image/x-cmu-raster"},
    {"rgb", "image/x-rgb"},
    {"rm", "application/vnd.rn-realmedia"},
    {"roff", "application/x-troff"},
    {"rtf", "application/rtf"},
    {"rtx", "text/richtext"},
    {"sh", "application/x-sh"},
    {"shar", "application/x-shar"},
    {"smf", "audio/x-midi"},
    {"snd", "audio/basic"},
    {"src", "application/x-wais-source"},
    {"sv4cpio", "application/x-sv4cpio"},
    {"sv4crc", "application/x-sv4crc"},
    {"swf", "application/x-shockwave-flash"},
    {"t", "application/x-troff"},
    {"tar", "application/x-tar"},
    {"tcl", "application/x-tcl"},
    {"tex", "application/x-tex"},
    {"texi", "application/x-texinfo"},
    {"texinfo", "application/x-texinfo"},
    {"tif", "image/tiff"},
    {"tiff", "image/tiff"},
    {"tr", "application/x-troff"},
    {"tsv", "text/tab-separated-values"},
    {"ulw", "audio/basic"},
    {"ustar", "application/x-ustar"},
    {"xbm", "image/x-xbitmap"},
    {"xpm", "image/x-xpixmap"},
    {"xwd", "image/x-xwindowdump"},
    {"wav", "audio/x-wav"},
    {"wbmp", "image/vnd.wap.wbmp"},
    {"wml", "text/vnd.wap.wml"},
    {"wmlc", "application/vnd.wap.wmlc"},
    {"wmls", "text/vnd.wap.wmls"},
    {"wmlscriptc", "application/vnd.wap.wmlscriptc"},
    {"wrl", "x-world/x-vrml"},
    {"Z", "application/x-compress"},
    {"z", "application/x-compress"},
};

constexpr const char* kFieldsTag = "headerFields";
constexpr const char* kCodePageAttr = "codePage";

// The header's fields one by one, as they are: the rendered head beside them
// is a mail header's text, whose reading decodes encoded words, unfolds,
// trims and renames, and so would not give the same request back.
void saveFieldsXml(const MimeHeader& header, ClsXml& node) {
    std::unique_ptr<ClsXml> fields(node.newChild(kFieldsTag, ""));
    if (fields == nullptr)
        return;
    fields->updateAttributeInt(kCodePageAttr, static_cast<int>(header.getCodePage()));
    for (int i = 0; i < header.getCount(); ++i) {
        const MimeField* f = header.getFieldAt(i);
        std::unique_ptr<ClsXml> field(fields->newChild("field", ""));
        if (field == nullptr)
            return;
        field->addNewChildQp("name", f->getName());
        field->addNewChildQp("value", f->getValueSb());
        field->addNewChildBool("noFold", f->getNoFold());
    }
}

// False when the form holds no field list (it was saved before there was
// one): its rendered head is then read instead.
bool loadFieldsXml(ClsXml& node, MimeHeader& header) {
    std::unique_ptr<ClsXml> fields(node.findChild(kFieldsTag));
    if (fields == nullptr)
        return false;
    header.setCodePage(static_cast<std::uint32_t>(fields->getAttrValueInt(kCodePageAttr)));
    StringBuffer name;
    StringBuffer value;
    const int n = fields->getNumChildren();
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<ClsXml> field(fields->getChild(i));
        if (field == nullptr)
            continue;
        bool noFold = false;
        field->getChildContentQpSb("name", name);
        field->getChildContentQpSb("value", value);
        field->getChildBool("noFold", noFold);
        header.appendVerbatim(name, value, noFold);
    }
    return true;
}

// The page a request's charset names, read as every other road that sends
// text reads a caller's name ("oem" the OEM page, "default" UTF-8); 0 for
// the default. A name no text can be written in is refused before any
// text is written (checkSendable).
int requestPage(const char* charset) {
    _tsCharset named;
    named.setByName(charset);
    return named.getCodePage();
}

// The page of a multipart body's text values: ANSI for an empty or "ansi"
// charset (normalized), else the named one.
int multipartPage(const StringBuffer& charset) {
    if (charset.getSize() == 0 || charset.equals("ansi"))
        return static_cast<int>(platform::GetACP());
    return requestPage(charset.getString());
}

// A form's pairs and multipart values, their encoders chosen once.
FormCharset pairCharset(const char* charset) {
    return formCharset(charset, requestPage(charset));
}

FormCharset partCharset(const StringBuffer& charset) {
    return formCharset(charset.getString(), multipartPage(charset));
}

void multipartText(const DataBuffer& data, const FormCharset& charset, DataBuffer& out) {
    writeFormText(charset, data.getData(), data.getSize(), out);
}

void normalizedCharset(const char* charset, StringBuffer& out) {
    out.setString(charset != nullptr ? charset : "");
    out.trimWhitespace();
    out.toLowerCase();
}

// A quoted parameter of a part's head. A '"' would end the quotes early
// and let the rest read as parameters of its own: it goes as "%22", as
// browsers, curl and urllib3 write it.
void appendQuoted(XString& text, StringBuffer& out) {
    StringBuffer value(text.getAnsi());
    value.replaceAll("\"", "%22");
    out.appendChar('"');
    out.appendSb(value);
    out.appendChar('"');
}

// The part header of a multipart item; `withOwnType` lets the item's own
// content type win (the streamed form).
void partHeader(HttpRequestItem& item, const char* boundary, bool withOwnType, StringBuffer& out, LogBase& log) {
    out.append("--");
    out.append(boundary);
    out.append(kCrlf);
    out.append("Content-Disposition: form-data; name=");
    appendQuoted(item.name, out);
    log.logData("name", item.name.getUtf8());
    const bool hasFile = item.filePath.getSizeUtf8() != 0;
    if (hasFile) {
        out.append("; filename=");
        appendQuoted(item.filePath, out);
        log.logData("filename", item.filePath.getUtf8());
    }
    out.append(kCrlf);
    if (withOwnType && item.contentType.getSize() != 0) {
        out.append("Content-Type: ");
        out.appendSb(item.contentType);
        out.append(kBlankLine);
    } else if (hasFile) {
        out.append("Content-Type: ");
        out.append(mediaTypeForPath(item.filePath.getUtf8()));
        out.append(kBlankLine);
    } else {
        out.append(kCrlf);
    }
}

void closingLine(const char* boundary, StringBuffer& out) {
    out.append("--");
    out.append(boundary);
    out.append("--\r\n");
}

bool aborted(ProgressMonitor* pm, const char* message, LogBase& log) {
    if (pm == nullptr || !pm->abortCheckDefault())
        return false;
    log.logInfo(message);
    return true;
}

void logDashes(LogBase& log) {
    StringBuffer dashes;
    dashes.appendCharRepeated('-', http_req::kVerboseDashes);
    log.logInfo(dashes.getString());
}

} // namespace

const char* mediaTypeForPath(const char* path) {
    if (path == nullptr)
        return http_req::kOctetStream;
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr)
        return http_req::kOctetStream;
    StringBuffer ext(dot + 1);
    for (const MediaType& m : kMediaTypes) {
        if (ext.equalsNoCase(m.ext))
            return m.type;
    }
    return http_req::kOctetStream;
}

void generateBoundary(StringBuffer& out) {
    out.clear();
    out.appendCharRepeated('-', http_req::kBoundaryDashes);
    for (int i = 0; i < http_req::kBoundaryPairs; ++i) {
        out.appendChar('0');
        out.appendChar(static_cast<char>('0' + TessikRand::randomIntRange(0, 9)));
    }
}

bool fieldsMalformed(const MimeHeader& header) {
    for (int i = 0; i < header.getCount(); ++i) {
        const MimeField* f = header.getFieldAt(i);
        if (f != nullptr && (!TessikUrl::isToken(f->getName()) || !TessikUrl::isFieldValue(f->getValueSb())))
            return true;
    }
    return false;
}

// ---- HttpRequestItem ----

HttpRequestItem::HttpRequestItem() : stream(false), strUtf8(false) {}
HttpRequestItem::~HttpRequestItem() = default;

std::uint64_t HttpRequestItem::getDataSize(bool& ok, LogBase& log) {
    ok = true;
    // Only a regular file can be sized before it is sent; anything else (a
    // FIFO) is read to its end first and sent from memory.
    if (stream && filePath.getSizeUtf8() != 0 &&
        platform::GetPathKind(filePath.getUtf8()) == platform::PathKind::Other) {
        ok = loadStreamedFile(log);
        return data.getSize();
    }
    if (stream && filePath.getSizeUtf8() != 0) {
        const std::int64_t size = getFileSize64Utf8(filePath.getUtf8(), nullptr, ok);
        m_sizedAs = ok && size >= 0 ? static_cast<std::uint64_t>(size) : 0;
        return m_sizedAs;
    }
    return data.getSize();
}

bool HttpRequestItem::loadStreamedFile(LogBase& log) {
    if (!stream || filePath.getSizeUtf8() == 0) {
        stream = false;
        return true;
    }
    stream = false;
    data.clear();
    return data.loadFileUtf8(filePath.getUtf8(), &log);
}

bool HttpRequestItem::writeData(Output& out, LogBase& log, ProgressMonitor* pm, std::uint64_t& counter) {
    if (stream && filePath.getSizeUtf8() != 0) {
        FileDataSource* src = FileDataSource::openForRead(filePath.getUtf8(), &log);
        if (src == nullptr) {
            log.logError("Failed to open source file");
            log.logData("filename", filePath.getUtf8());
            return false;
        }
        // The size the multipart length was summed from, and no other.
        counter += m_sizedAs;
        ExactLengthSource sized(*src, m_sizedAs, http_req::kMsgBodyFileChanged);
        const bool ok = sized.copyToOutput(out, pm, &log) && sized.endedThere(&log);
        delete src;
        if (!ok)
            log.logError("Failed to copy file data to output.");
        return ok;
    }
    if (data.getSize() == 0)
        return true;
    if (out.writeBytes(data.getData(), data.getSize(), 1, pm, log) != 1) {
        log.logError("Failed to write in-memory data to output.");
        return false;
    }
    counter += data.getSize();
    return true;
}

void HttpRequestItem::logItem(LogBase& log) const {
    log.enterContext("RequestItem", true);
    auto& self = const_cast<HttpRequestItem&>(*this);
    log.logData("name", self.name.getUtf8());
    if (contentType.getSize() != 0)
        log.logData("contentType", contentType.getString());
    if (self.filePath.getSizeUtf8() != 0)
        log.logData("fileOnDisk", self.filePath.getUtf8());
    if ((strUtf8 || contentType.beginsWith("text")) && data.getSize() < http_req::kMaxLoggedValue) {
        StringBuffer value;
        value.appendDb(data);
        log.logData("value", value.getString());
    } else {
        log.logDataLong("numValueBytes", static_cast<int>(data.getSize()));
    }
    log.leaveContext();
}

void HttpRequestItem::saveXml(ClsXml& node) {
    node.addNewChildQp("name", name.getUtf8Sb());
    node.addNewChildQp("filename", filePath.getUtf8Sb());
    node.addNewChildQp("contentType", contentType);
    node.addNewChildBase64("data", data);
    node.addNewChildBool("strUtf8", strUtf8);
    node.addNewChildBool("stream", stream);
}

void HttpRequestItem::loadXml(ClsXml& node) {
    StringBuffer text;
    node.getChildContentQpSb("name", text);
    name.setFromUtf8Bytes(text.getString(), static_cast<unsigned int>(text.getSize()));
    node.getChildContentQpSb("filename", text);
    filePath.setFromUtf8Bytes(text.getString(), static_cast<unsigned int>(text.getSize()));
    node.getChildContentQpSb("contentType", contentType);
    node.getChildContentBase64Db("data", data);
    node.getChildBool("strUtf8", strUtf8);
    node.getChildBool("stream", stream);
}

// ---- HttpRequestData ----

HttpRequestData::HttpRequestData() {
    m_items.setOwnsObjects(true);
}
HttpRequestData::~HttpRequestData() = default;

void HttpRequestData::addParam(const char* utf8Name, const char* value, bool allowDuplicates) {
    if (utf8Name == nullptr)
        return;
    const unsigned int valueLen = value != nullptr ? static_cast<unsigned int>(std::strlen(value)) : 0;
    if (!allowDuplicates) {
        for (int i = 0; i < getCount(); ++i) {
            HttpRequestItem* item = getItem(i);
            if (item != nullptr && item->name.equalsUtf8(utf8Name)) {
                item->data.clear();
                item->data.append(value, valueLen);
                item->stream = false;
                return;
            }
        }
    }
    auto* item = new HttpRequestItem;
    item->name.setFromUtf8(utf8Name);
    if (valueLen != 0)
        item->data.append(value, valueLen);
    item->strUtf8 = true;
    addItem(item);
}

void HttpRequestData::addItem(HttpRequestItem* item) {
    if (item != nullptr && m_items.appendPtr(item) == nullptr)
        delete item;
}

void HttpRequestData::removeAll() {
    m_items.removeAllObjects();
}

void HttpRequestData::joinParams(StringBuffer& out, const char* charset, bool encode) const {
    const FormCharset form = pairCharset(charset);
    for (int i = 0; i < getCount(); ++i) {
        HttpRequestItem* item = getItem(i);
        if (item == nullptr)
            continue;
        DataBuffer name;
        DataBuffer value;
        const StringBuffer& utf8Name = item->name.getUtf8Sb();
        writeFormText(form, reinterpret_cast<const unsigned char*>(utf8Name.getString()),
                      static_cast<unsigned int>(utf8Name.getSize()), name);
        writeFormText(form, item->data.getData(), item->data.getSize(), value);
        if (i != 0)
            out.appendChar('&');
        if (encode) {
            // Names are encoded like values, so '&', '=', '%' and '+' in a
            // name cannot be taken for separators or escapes by the server.
            urlEncodeDb(name, out);
            out.appendChar('=');
            urlEncodeDb(value, out);
        } else {
            out.appendDb(name);
            out.appendChar('=');
            out.appendDb(value);
        }
    }
}

bool HttpRequestData::textFitsCharset(const char* charset, bool pairs, bool multipart) const {
    StringBuffer cs;
    normalizedCharset(charset, cs);
    const FormCharset pair = pairCharset(charset);
    const FormCharset part = partCharset(cs);
    // Sent by the one rule the roads that write a form's text follow.
    auto fits = [](const FormCharset& form, const unsigned char* bytes, unsigned int n) {
        DataBuffer scratch;
        return writeFormText(form, bytes, n, scratch);
    };
    for (int i = 0; i < getCount(); ++i) {
        HttpRequestItem* item = getItem(i);
        if (item == nullptr)
            continue;
        const StringBuffer& name = item->name.getUtf8Sb();
        if (pairs && (!fits(pair, reinterpret_cast<const unsigned char*>(name.getString()),
                            static_cast<unsigned int>(name.getSize())) ||
                      !fits(pair, item->data.getData(), item->data.getSize())))
            return false;
        if (multipart && item->strUtf8 && !fits(part, item->data.getData(), item->data.getSize()))
            return false;
    }
    return true;
}

void HttpRequestData::urlEncodeParams(StringBuffer& out, const char* charset) const {
    joinParams(out, charset, true);
}

void HttpRequestData::joinParamsRaw(StringBuffer& out, const char* charset) const {
    joinParams(out, charset, false);
}

void HttpRequestData::logParams(LogBase& log) const {
    log.enterContext("RequestParams", true);
    for (int i = 0; i < getCount(); ++i) {
        if (getItem(i) != nullptr)
            getItem(i)->logItem(log);
    }
    log.leaveContext();
}

void HttpRequestData::saveXml(ClsXml& node) {
    for (int i = 0; i < getCount(); ++i) {
        std::unique_ptr<ClsXml> child(node.newChild("item", ""));
        if (child != nullptr && getItem(i) != nullptr)
            getItem(i)->saveXml(*child);
    }
}

void HttpRequestData::loadXml(ClsXml& node) {
    const int n = node.getNumChildren();
    for (int i = 0; i < n; ++i) {
        std::unique_ptr<ClsXml> child(node.getChild(i));
        if (child == nullptr)
            continue;
        auto* item = new HttpRequestItem;
        item->loadXml(*child);
        addItem(item);
    }
}

std::uint64_t HttpRequestData::computeMultipartSize(const char* boundary, const char* charset, LogBase& log) {
    StringBuffer cs;
    normalizedCharset(charset, cs);
    const FormCharset part = partCharset(cs);
    LogNull quiet;
    std::uint64_t total = 0;
    for (int i = 0; i < getCount(); ++i) {
        HttpRequestItem* item = getItem(i);
        if (item == nullptr)
            continue;
        StringBuffer head;
        partHeader(*item, boundary, true, head, quiet);
        total += static_cast<std::uint64_t>(head.getSize());
        if (item->strUtf8) {
            if (!item->loadStreamedFile(log))
                return 0;
            DataBuffer text;
            multipartText(item->data, part, text);
            total += text.getSize();
        } else {
            bool ok = false;
            const std::uint64_t n = item->getDataSize(ok, log);
            if (!ok)
                return 0;
            total += n;
        }
        total += 2;
    }
    StringBuffer closing;
    closingLine(boundary, closing);
    return total + static_cast<std::uint64_t>(closing.getSize());
}

bool HttpRequestData::buildMultipartBody(const char* boundary, const char* charset, DataBuffer& out, LogBase& log) {
    StringBuffer cs;
    normalizedCharset(charset, cs);
    const FormCharset part = partCharset(cs);
    log.enterContext("MultipartFormData", true);
    bool ok = true;
    for (int i = 0; ok && i < getCount(); ++i) {
        HttpRequestItem* item = getItem(i);
        if (item == nullptr)
            continue;
        if (!item->loadStreamedFile(log)) {
            ok = false;
            break;
        }
        log.enterContext("item", true);
        StringBuffer head;
        partHeader(*item, boundary, false, head, log);
        out.appendSb(head);
        if (item->strUtf8) {
            DataBuffer text;
            multipartText(item->data, part, text);
            out.appendDb(text);
            log.logDataLong("dataSize", static_cast<int>(text.getSize()));
        } else {
            out.appendDb(item->data);
            log.logDataLong("dataSize", static_cast<int>(item->data.getSize()));
        }
        out.appendStr(kCrlf);
        log.leaveContext();
    }
    log.leaveContext();
    if (!ok)
        return false;
    StringBuffer closing;
    closingLine(boundary, closing);
    out.appendSb(closing);
    return true;
}

bool HttpRequestData::streamMultipart(const char* boundary, const char* charset, Output& out,
                                      const StringBuffer& headerText, StringBuffer& headerTextOut, LogBase& log,
                                      ProgressMonitor* pm, bool verbose) {
    StringBuffer cs;
    normalizedCharset(charset, cs);
    const FormCharset part = partCharset(cs);
    const std::uint64_t length = computeMultipartSize(boundary, charset, log);
    StringBuffer header(headerText);
    header.append("Content-Type: multipart/form-data; boundary=");
    header.append(boundary);
    header.append(kCrlf);
    header.append("Content-Length: ");
    if (length == 0) {
        log.logError("Failed to calculate content length");
        return false;
    }
    header.appendInt64(static_cast<std::int64_t>(length));
    log.logDataInt64("calculatedContentLength", static_cast<std::int64_t>(length));
    if (pm != nullptr)
        pm->setTotalInt64(static_cast<std::int64_t>(length));
    headerTextOut.setSb(header);
    header.append(kBlankLine);
    if (verbose) {
        logDashes(log);
        log.logData("UploadHeader", header.getString());
        logDashes(log);
    }
    if (pm != nullptr) {
        pm->progressInfo("RequestHeader", header.getString());
        pm->progressInfoInt64("StartSendingRequest", static_cast<std::int64_t>(length));
    }
    if (!out.writeSb(header, pm, log)) {
        log.logError("Failed to send HTTP header to output.");
        return false;
    }

    log.enterContext("MultipartFormData", true);
    std::uint64_t counter = 0;
    bool ok = true;
    for (int i = 0; ok && i < getCount(); ++i) {
        HttpRequestItem* item = getItem(i);
        if (item == nullptr)
            continue;
        log.enterContext("item", true);
        ok = false;
        do {
            if (pm != nullptr && item->filePath.getSizeUtf8() != 0)
                pm->progressInfo("UploadFilename", item->filePath.getUtf8());
            StringBuffer head;
            partHeader(*item, boundary, true, head, log);
            counter += static_cast<std::uint64_t>(head.getSize());
            if (pm != nullptr)
                pm->progressInfo("SubPartHeader", head.getString());
            if (!out.writeSb(head, pm, log)) {
                log.logError("Failed to send HTTP sub-header to output.");
                break;
            }
            if (aborted(pm, "Application aborted HTTP operation (6)", log))
                break;
            if (!item->strUtf8) {
                if (!item->writeData(out, log, pm, counter)) {
                    log.logError("Failed to send data to output");
                    break;
                }
            } else {
                if (!item->loadStreamedFile(log))
                    break;
                DataBuffer text;
                multipartText(item->data, part, text);
                counter += text.getSize();
                if (!out.writeDb(text, pm, log)) {
                    log.logError("Failed to send text to output");
                    break;
                }
            }
            if (aborted(pm, "Application aborted HTTP operation (4)", log))
                break;
            counter += 2;
            if (!out.writeSb(StringBuffer(kCrlf), pm, log)) {
                log.logError("Failed to send CRLF to output");
                break;
            }
            if (aborted(pm, "Application aborted HTTP operation (5)", log))
                break;
            ok = true;
        } while (false);
        log.leaveContext();
    }
    if (ok) {
        StringBuffer closing;
        closingLine(boundary, closing);
        counter += static_cast<std::uint64_t>(closing.getSize());
        log.logDataInt64("actualContentLength", static_cast<std::int64_t>(counter));
        if (!out.writeSb(closing, pm, log)) {
            log.logError("Failed to send final boundary to output");
            ok = false;
        }
    }
    log.leaveContext();
    return ok;
}

// ---- HttpRequest ----

HttpRequest::HttpRequest()
    : m_httpVersion(http_req::kDefaultHttpVersion), m_verb(http_req::kDefaultVerb), m_path("/"),
      m_charset(http_req::kDefaultCharset), m_sendCharset(false) {}

HttpRequest::~HttpRequest() = default;

void HttpRequest::setFromUrl(const char* url, bool clearParams) {
    StringBuffer host;
    StringBuffer user;
    StringBuffer password;
    StringBuffer path;
    StringBuffer query;
    StringBuffer fragment;
    int port = 0;
    if (clearParams)
        m_reqData.removeAll();
    m_path.clear();
    if (!TessikUrl::crackUrl(url, host, port, user, password, path, query, fragment))
        return;
    m_path.setSb(path);
    ExtPtrArray pieces;
    pieces.setOwnsObjects(true);
    query.split(pieces, '&', true, true);
    for (int i = 0; i < pieces.getCount(); ++i) {
        auto* piece = static_cast<StringBuffer*>(pieces.elementAt(i));
        if (piece == nullptr || piece->getSize() == 0)
            continue;
        StringBuffer name(piece->getString());
        StringBuffer value;
        const char* eq = std::strchr(piece->getString(), '=');
        if (eq != nullptr) {
            name.chopAtFirstChar('=');
            value.setString(eq + 1);
        }
        DataBuffer nameBytes;
        DataBuffer valueBytes;
        urlDecode(name, nameBytes);
        urlDecode(value, valueBytes);
        // Decoded bytes are in the ANSI code page; the model keeps UTF-8.
        XString n;
        XString v;
        n.setFromAnsi(
            StringBuffer(reinterpret_cast<const char*>(nameBytes.getData()), nameBytes.getSize(), 0).getString());
        v.setFromAnsi(
            StringBuffer(reinterpret_cast<const char*>(valueBytes.getData()), valueBytes.getSize(), 0).getString());
        m_reqData.addParam(n.getUtf8(), v.getUtf8(), true);
    }
}

void HttpRequest::setPath(const char* path) {
    m_path.setString(path != nullptr ? path : "");
    m_path.trimWhitespace();
    if (m_path.getSize() == 0) {
        m_path.setString("/");
        return;
    }
    if (m_path.charAt(0) == '\\')
        m_path.replaceChar('\\', '/');
    if (m_path.charAt(0) != '/')
        m_path.prepend("/");
}

bool HttpRequest::checkSendable(LogBase& log) const {
    if (m_badUrl || TessikUrl::holdsControlByte(m_path)) {
        log.logError(url_msg::kControlByteInUrl);
        return false;
    }
    if (m_badField || fieldsMalformed(m_mimeHeader) || (m_sendCharset && !TessikUrl::isFieldValue(m_charset)) ||
        partHeadsMalformed()) {
        log.logError(url_msg::kMalformedField);
        return false;
    }
    if (!TessikUrl::isToken(m_verb)) {
        log.logError(url_msg::kVerbNotToken);
        return false;
    }
    // Under a name the library does not write text in, the text would go
    // as UTF-8 (or as nothing) under a name that says otherwise, where
    // PutText and SaveXml refuse the name.
    if (sendsTextInCharset() && !_tsCharset().setByName(m_charset.getString())) {
        log.logError(cls_msg::kUnknownCharset);
        log.logData("Charset", m_charset.getString());
        return false;
    }
    // A character the charset has no code for would be dropped from the
    // value, where PutText refuses it.
    const bool multipart = isMultipartFormData();
    const bool pairs = m_verb.equalsNoCase("GET") || (!multipart && sendsTextInCharset());
    if (!m_reqData.textFitsCharset(m_charset.getString(), pairs, multipart)) {
        log.logError(cls_msg::kConversionFailed);
        log.logData("Charset", m_charset.getString());
        return false;
    }
    bool version = m_httpVersion.getSize() != 0;
    for (int i = 0; i < m_httpVersion.getSize(); ++i)
        version = version && (std::isdigit(static_cast<unsigned char>(m_httpVersion.charAt(i))) != 0 ||
                              m_httpVersion.charAt(i) == '.');
    if (!version) {
        log.logError(url_msg::kBadHttpVersion);
        return false;
    }
    return true;
}

bool HttpRequest::partHeadsMalformed() const {
    for (int i = 0; i < m_reqData.getCount(); ++i) {
        HttpRequestItem* item = m_reqData.getItem(i);
        if (item != nullptr &&
            (!TessikUrl::isFieldValue(item->name.getUtf8Sb()) || !TessikUrl::isFieldValue(item->filePath.getUtf8Sb()) ||
             !TessikUrl::isFieldValue(item->contentType)))
            return true;
    }
    return false;
}

void HttpRequest::getPathAnsi(StringBuffer& out) const {
    XString x;
    x.setFromUtf8(m_path.getString());
    out.append(x.getAnsi());
}

bool HttpRequest::hasBody() const {
    if (m_verb.equalsNoCase("GET") || m_verb.equalsNoCase("HEAD") || m_verb.equalsNoCase("DELETE"))
        return false;
    return m_altBody.getSize() != 0 || m_reqData.getCount() != 0 || m_bodyFilePath.getSizeUtf8() != 0;
}

bool HttpRequest::verbTakesBody() const {
    return m_verb.equalsNoCase("POST") || m_verb.equalsNoCase("PUT") || m_verb.equalsNoCase("PATCH");
}

bool HttpRequest::isIdempotent() const {
    for (const char* verb : {"GET", "HEAD", "PUT", "DELETE", "OPTIONS", "TRACE"})
        if (m_verb.equalsNoCase(verb))
            return true;
    return false;
}

void HttpRequest::setAltBody(const DataBuffer& body) {
    ownAltBody();
    m_altBody.appendDb(body);
}

void HttpRequest::ownAltBody() {
    // Emptied, a borrowed buffer would still be written in place: the
    // caller's bytes are let go first.
    if (m_altBody.isBorrowed())
        m_altBody.borrowData(nullptr, 0);
    m_altBody.clear();
}

void HttpRequest::borrowAltBody(const DataBuffer& body) {
    m_altBody.borrowData(body.getData(), body.getSize());
}

void HttpRequest::addParam(const char* name, const char* value) {
    if (name == nullptr)
        return;
    StringBuffer n(name);
    n.trimWhitespace();
    n.removeChar(' ');
    n.removeChar('\n');
    n.removeChar('\r');
    n.removeChar('\t');
    StringBuffer v(value != nullptr ? value : "");
    v.removeChar('\r');
    v.replaceAll("\n", "\r\n");
    m_reqData.addParam(n.getString(), v.getString(), true);
}

void HttpRequest::setHeader(const char* name, const char* value) {
    if (name == nullptr)
        return;
    m_mimeHeader.replaceField(name, value != nullptr ? value : "", false);
}

bool HttpRequest::getHeader(const char* name, StringBuffer& out) const {
    return name != nullptr && m_mimeHeader.getFieldValueSilent(name, out);
}

bool HttpRequest::hasHeader(const char* name) const {
    return name != nullptr && m_mimeHeader.hasField(name);
}

void HttpRequest::removeHeader(const char* name) {
    if (name != nullptr)
        m_mimeHeader.removeField(name, true);
}

bool HttpRequest::isMultipartFormData() const {
    // Asked on every send: the first Content-Type read in place, not copied.
    for (int i = 0; i < m_mimeHeader.getCount(); ++i) {
        const MimeField* f = m_mimeHeader.getFieldAt(i);
        if (f->nameEquals("Content-Type"))
            return f->getValueSb().containsSubstringNoCase(http_req::kMultipartFormData);
    }
    return false;
}

bool HttpRequest::sendsTextInCharset() const {
    // A GET's parameters go in its target, whatever its body.
    if (m_verb.equalsNoCase("GET") && m_reqData.getCount() != 0)
        return true;
    if (!isMultipartFormData())
        return m_reqData.getCount() != 0 && m_altBody.getSize() == 0 && m_bodyFilePath.getSizeUtf8() == 0;
    for (int i = 0; i < m_reqData.getCount(); ++i)
        if (const HttpRequestItem* item = m_reqData.getItem(i); item != nullptr && item->strUtf8)
            return true;
    return false;
}

bool HttpRequest::useUrlEncoding() const {
    StringBuffer ct;
    m_mimeHeader.getFieldValueSilent("Content-Type", ct);
    return ct.getSize() == 0 || ct.containsSubstringNoCase("urlencoded");
}

void HttpRequest::encodeParams(StringBuffer& out) const {
    if (useUrlEncoding())
        m_reqData.urlEncodeParams(out, m_charset.getString());
    else
        m_reqData.joinParamsRaw(out, m_charset.getString());
}

void HttpRequest::getPathWithQuery(StringBuffer& out) const {
    StringBuffer written(m_path);
    if (m_verb.equalsNoCase("GET") && m_reqData.getCount() != 0) {
        written.appendChar('?');
        m_reqData.urlEncodeParams(written, m_charset.getString());
    }
    out.clear();
    TessikUrl::appendRequestTarget(written, out);
}

void HttpRequest::appendMimeHeader(StringBuffer& out, bool forBody, LogBase& log) {
    StringBuffer savedType;
    bool swapped = false;
    if (m_sendCharset && m_charset.getSize() != 0 && m_mimeHeader.getFieldValueSilent("Content-Type", savedType)) {
        StringBuffer withCharset(savedType);
        withCharset.chopAtFirstChar(';');
        withCharset.append("; charset=\"");
        withCharset.appendSb(m_charset);
        withCharset.append("\"");
        m_mimeHeader.replaceField("Content-Type", withCharset.getString(), false);
        swapped = true;
    }
    StringBuffer rendered;
    if (forBody) {
        m_mimeHeader.AssembleMimeHeader(rendered, nullptr, nullptr, false, log, false);
        rendered.replaceFirst("\r\n\t boundary=", " boundary=");
    } else {
        m_mimeHeader.getMimeHeaderHttp(rendered, nullptr, log, false);
    }
    if (swapped)
        m_mimeHeader.replaceField("Content-Type", savedType.getString(), false);
    while (rendered.endsWith("\r\n"))
        rendered.shorten(2);
    out.appendSb(rendered);
}

void HttpRequest::logRequest(LogBase& log) const {
    log.enterContext("RequestData", true);
    log.logData("HttpVersion", m_httpVersion.getString());
    log.logData("Verb", m_verb.getString());
    log.logData("Path", m_path.getString());
    log.logData("Charset", m_charset.getString());
    log.logDataLong("SendCharset", m_sendCharset ? 1 : 0);
    StringBuffer header;
    m_mimeHeader.AssembleMimeHeader(header, nullptr, "utf-8", false, log, false);
    log.logData("MimeHeader", header.getString());
    m_reqData.logParams(log);
    log.leaveContext();
}

void HttpRequest::saveXml(ClsXml& node, LogBase& /*log*/) {
    node.addNewChildBase64("altBody", m_altBody);
    node.addNewChildQp("bodyFile", m_bodyFilePath.getUtf8Sb());
    node.addNewChildQp("path", m_path);
    node.addNewChildBool("sendCharset", m_sendCharset);
    node.addNewChildQp("charset", m_charset);
    node.addNewChildQp("verb", m_verb);
    node.addNewChildQp("httpVersion", m_httpVersion);
    std::unique_ptr<ClsXml> data(node.newChild("reqData", ""));
    if (data != nullptr)
        m_reqData.saveXml(*data);
    StringBuffer header;
    LogNull quiet;
    m_mimeHeader.AssembleMimeHeader(header, nullptr, "utf-8", false, quiet, false);
    node.addNewChildQp("mimeHeader", header);
    saveFieldsXml(m_mimeHeader, node);
    // The text above cannot say that a field was cut by a NUL, and a field's
    // CR LF would read back as two fields: the refusal travels by itself.
    node.addNewChildBool("badUrl", m_badUrl || TessikUrl::holdsControlByte(m_path));
    node.addNewChildBool("badField", m_badField || fieldsMalformed(m_mimeHeader));
}

void HttpRequest::loadXml(ClsXml& node, LogBase& log) {
    ownAltBody();
    node.getChildContentBase64Db("altBody", m_altBody);
    node.getChildContentQpSb("path", m_path);
    node.getChildContentQpSb("charset", m_charset);
    node.getChildContentQpSb("verb", m_verb);
    node.getChildContentQpSb("httpVersion", m_httpVersion);
    node.getChildBool("sendCharset", m_sendCharset);
    std::unique_ptr<ClsXml> data(node.findChild("reqData"));
    if (data != nullptr)
        m_reqData.loadXml(*data);
    StringBuffer text;
    node.getChildContentQpSb("bodyFile", text);
    m_bodyFilePath.setFromUtf8Bytes(text.getString(), static_cast<unsigned int>(text.getSize()));
    m_mimeHeader.clear();
    if (!loadFieldsXml(node, m_mimeHeader)) {
        node.getChildContentQpSb("mimeHeader", text);
        m_mimeHeader.ParseMimeHeader(text.getString(), log, false);
    }
    m_badUrl = false;
    m_badField = false;
    node.getChildBool("badUrl", m_badUrl);
    node.getChildBool("badField", m_badField);
}

bool HttpRequest::generateMultipartInMemory(const char* host, const char* pathPrefix, const char* authValue,
                                            const char* extraLines, DataBuffer& out, StringBuffer& headerText,
                                            LogBase& log) {
    StringBuffer head;
    head.appendSb(m_verb);
    head.appendChar(' ');
    if (pathPrefix != nullptr)
        head.append(pathPrefix);
    TessikUrl::appendRequestTarget(m_path, head);
    head.append(" HTTP/");
    head.appendSb(m_httpVersion);
    log.logData("HTTP_StartLine", head.getString());
    head.append(kCrlf);
    if (!m_mimeHeader.hasField("host")) {
        head.append("Host: ");
        head.append(host);
        head.append(kCrlf);
    }
    if (authValue != nullptr) {
        head.append("Authorization: ");
        head.append(authValue);
        head.append(kCrlf);
    }
    if (extraLines != nullptr && *extraLines != '\0')
        head.append(extraLines);
    StringBuffer fields;
    m_mimeHeader.getMimeHeaderHttp(fields, nullptr, log, false);
    head.appendSb(fields);
    head.trimWhitespace();
    head.append(kCrlf);

    StringBuffer boundary;
    generateBoundary(boundary);
    head.append("Content-Type: multipart/form-data; boundary=");
    head.appendSb(boundary);
    head.append(kCrlf);
    head.append("Content-Length: ");
    head.append(http_req::kLengthPlaceholder);
    headerText.setSb(head);
    head.append(kBlankLine);

    DataBuffer body;
    if (!m_reqData.buildMultipartBody(boundary.getString(), m_charset.getString(), body, log))
        return false;
    StringBuffer length;
    length.appendUint32(body.getSize());
    head.replaceFirst(http_req::kLengthPlaceholder, length.getString());
    headerText.replaceFirst(http_req::kLengthPlaceholder, length.getString());
    out.appendSb(head);
    out.appendDb(body);
    return true;
}

bool HttpRequest::generateRequest(DataBuffer& out, StringBuffer& headerText, const char* extraLines,
                                  const char* pathPrefix, const char* authValue, LogBase& log,
                                  const DataBuffer** bodyAfter) {
    out.clear();
    if (bodyAfter != nullptr)
        *bodyAfter = nullptr;
    if (isMultipartFormData() && authValue == nullptr) {
        log.logInfo("Generating multipart/form-data request.");
        return generateMultipartInMemory("HOSTNAME", pathPrefix, nullptr, nullptr, out, headerText, log);
    }
    const bool withBody = authValue == nullptr && (hasBody() || verbTakesBody());

    StringBuffer target(m_path);
    if (!withBody && m_reqData.getCount() != 0) {
        target.appendChar('?');
        encodeParams(target);
    }
    StringBuffer text;
    text.appendSb(m_verb);
    text.appendChar(' ');
    if (pathPrefix != nullptr)
        text.append(pathPrefix);
    TessikUrl::appendRequestTarget(target, text);
    text.append(" HTTP/");
    text.appendSb(m_httpVersion);
    text.append(kCrlf);

    StringBuffer params;
    if (withBody) {
        std::uint64_t length = 0;
        if (m_altBody.getSize() != 0) {
            length = m_altBody.getSize();
        } else if (m_bodyFilePath.getSizeUtf8() != 0) {
            // Its length goes before it, so only a regular file can be sent:
            // a FIFO's would be 0, and its bytes would follow unannounced.
            if (platform::GetPathKind(m_bodyFilePath.getUtf8()) == platform::PathKind::Other) {
                log.logError(http_req::kMsgBodyFileNotRegular);
                log.logData("filePath", m_bodyFilePath.getUtf8());
                out.appendSb(text);
                return false;
            }
            bool ok = false;
            const std::int64_t size = getFileSize64Utf8(m_bodyFilePath.getUtf8(), &log, ok);
            if (!ok || size < 0) {
                log.logError("Failed to get file size.");
                log.logData("filePath", m_bodyFilePath.getUtf8());
                out.appendSb(text);
                return false;
            }
            length = static_cast<std::uint64_t>(size);
        } else {
            encodeParams(params);
            length = static_cast<std::uint64_t>(params.getSize());
        }
        StringBuffer lengthText;
        lengthText.appendInt64(static_cast<std::int64_t>(length));
        m_mimeHeader.replaceField("Content-Length", lengthText.getString(), false);
    }

    StringBuffer block;
    appendMimeHeader(block, withBody, log);
    if (extraLines != nullptr) {
        block.trimWhitespace();
        block.append(kCrlf);
        block.append(extraLines);
    }
    if (authValue != nullptr) {
        block.trimWhitespace();
        block.append("\r\nAuthorization: ");
        block.append(authValue);
    }
    block.trimWhitespace();
    text.appendSb(block);
    headerText.setSb(text);
    // With no header lines the start line's own CR LF begins the blank line.
    text.append(block.getSize() != 0 ? kBlankLine : kCrlf);
    // A large body is not copied behind the head: the sender sends it
    // from where it lies.
    const bool bodyFollows = withBody && bodyAfter != nullptr && m_altBody.getSize() > http_req::kInlineBodyBytes;
    if (bodyFollows)
        *bodyAfter = &m_altBody;
    // Exactly the room the request takes: it goes out as it is and never
    // grows, and a byte buffer's first growth step is far larger.
    std::uint64_t bodyBytes = 0;
    if (withBody && !bodyFollows)
        bodyBytes = m_altBody.getSize() != 0            ? m_altBody.getSize()
                    : m_bodyFilePath.getSizeUtf8() == 0 ? static_cast<std::uint64_t>(params.getSize())
                                                        : 0;
    const std::uint64_t whole = static_cast<std::uint64_t>(text.getSize()) + bodyBytes;
    if (whole <= UINT32_MAX)
        out.ensureCapacity(static_cast<unsigned int>(whole));
    out.appendSb(text);
    if (withBody && !bodyFollows) {
        if (m_altBody.getSize() != 0)
            out.appendDb(m_altBody);
        else if (m_bodyFilePath.getSizeUtf8() == 0)
            out.appendSb(params);
    }
    return true;
}

bool HttpRequest::sendMultipartRequest(const char* host, HttpControl& options, const StringBuffer& authLines,
                                       const StringBuffer& extraLines, const char* pathPrefix, Output& out,
                                       StringBuffer& headerText, LogBase& log, ProgressMonitor* pm, bool verbose) {
    StringBuffer target;
    if (pathPrefix != nullptr) {
        log.logData("extraForProxy", pathPrefix);
        target.append(pathPrefix);
    }
    TessikUrl::appendRequestTarget(m_path, target);
    log.logData("targetPathForUpload", target.getString());
    StringBuffer sent;
    TessikUrl::appendRequestTarget(m_path, sent);
    // A prefix is given for a request to a proxy alone.
    if (pathPrefix != nullptr && *pathPrefix != '\0' && !options.ProxyPartialUrl)
        sent.setSb(target);
    options.digestUri.setSb(sent);
    StringBuffer head;
    head.appendSb(m_verb);
    head.appendChar(' ');
    head.appendSb(sent);
    head.append(" HTTP/");
    head.appendSb(m_httpVersion);
    log.logData("HttpStartLine", head.getString());
    head.append(kCrlf);
    if (!m_mimeHeader.hasField("host")) {
        head.append("Host: ");
        head.append(host != nullptr ? host : "");
        head.append(kCrlf);
    }
    head.appendSb(authLines);
    head.appendSb(extraLines);
    m_mimeHeader.removeField("Content-Length", true);
    StringBuffer fields;
    m_mimeHeader.getMimeHeaderHttp(fields, nullptr, log, false);
    fields.trimWhitespace();
    // No fields must not leave an empty line, which would end the head early.
    if (fields.getSize() != 0) {
        head.appendSb(fields);
        head.append(kCrlf);
    }
    if (verbose) {
        logDashes(log);
        log.logData("UploadHeader0", head.getString());
        logDashes(log);
    }
    StringBuffer boundary;
    generateBoundary(boundary);
    return m_reqData.streamMultipart(boundary.getString(), m_charset.getString(), out, head, headerText, log, pm,
                                     verbose);
}

} // namespace tessik
