#pragma once
// One HTTP request before it goes on the wire (verb, path, header fields,
// parameters, an explicit body or a body file) and its renderings: the
// url-encoded form, the whole request text, and multipart/form-data built in
// memory or streamed to an Output with its length known up front.
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"
#include "netlib/http/MimeHeader.h"

namespace tessik {

class ClsXml;
class HttpControl;
class LogBase;
class Output;
class ProgressMonitor;

namespace http_req {
inline constexpr const char* kDefaultHttpVersion = "1.1";
inline constexpr const char* kDefaultVerb = "GET";
inline constexpr const char* kDefaultCharset = "utf-8";
inline constexpr const char* kOctetStream = "application/octet-stream";
inline constexpr const char* kMultipartFormData = "multipart/form-data";
// A body up to this size joins the head in one write; a larger one is sent
// after it, from where it lies.
inline constexpr std::uint32_t kInlineBodyBytes = 16384;
// Placeholder of the in-memory multipart head, replaced by the body length.
inline constexpr const char* kLengthPlaceholder = "CLENGTH";
inline constexpr int kBoundaryDashes = 12;
inline constexpr int kBoundaryPairs = 12;
// Shorter text values are logged whole, longer ones by their size.
inline constexpr unsigned int kMaxLoggedValue = 1024;
inline constexpr int kVerboseDashes = 45;
inline constexpr const char* kMsgBodyFileNotRegular =
    "The request body file is a FIFO or a device: its length must be sent before it.";
inline constexpr const char* kMsgBodyFileChanged =
    "A file of the request's body changed size while it was sent: the body is not the one its length announced.";
} // namespace http_req

// Media type for a file name's extension; "application/octet-stream" when
// it has none or none is known.
const char* mediaTypeForPath(const char* path);
// "------------" and twelve pairs of '0' and a random digit 0-8.
void generateBoundary(StringBuffer& out);
// Whether a field's name is no token or its value no field value.
bool fieldsMalformed(const MimeHeader& header);

class HttpRequestItem : public TessikObject {
public:
    HttpRequestItem();
    ~HttpRequestItem() override;

    // Size of the file still to stream, else of the data; ok false when the
    // file's size cannot be read. writeData then sends the file only when it
    // is still of that size.
    std::uint64_t getDataSize(bool& ok, LogBase& log);
    // Replaces the data by the streamed file's contents; false when it cannot
    // be read. The stream flag is cleared either way.
    bool loadStreamedFile(LogBase& log);
    bool writeData(Output& out, LogBase& log, ProgressMonitor* pm, std::uint64_t& counter);
    void logItem(LogBase& log) const;
    void saveXml(ClsXml& node);
    void loadXml(ClsXml& node);

    DataBuffer data;
    XString name;
    StringBuffer contentType;
    bool stream;
    XString filePath;
    bool strUtf8;

private:
    std::uint64_t m_sizedAs = 0;
};

class HttpRequestData {
public:
    HttpRequestData();
    virtual ~HttpRequestData();
    HttpRequestData(const HttpRequestData&) = delete;
    HttpRequestData& operator=(const HttpRequestData&) = delete;

    void addParam(const char* utf8Name, const char* value, bool allowDuplicates);
    // Takes ownership.
    void addItem(HttpRequestItem* item);
    int getCount() const { return m_items.getCount(); }
    HttpRequestItem* getItem(int index) const { return static_cast<HttpRequestItem*>(m_items.elementAt(index)); }
    void removeAll();

    // Whether every character of the names and values (pairs) and of the
    // multipart text values goes into the charset, as the writers below
    // write it.
    bool textFitsCharset(const char* charset, bool pairs, bool multipart) const;
    // name=value pairs joined by '&'; names and values URL-encoded.
    void urlEncodeParams(StringBuffer& out, const char* charset) const;
    // The same pairs with no encoding at all.
    void joinParamsRaw(StringBuffer& out, const char* charset) const;
    void logParams(LogBase& log) const;
    // One "item" child per item / one item appended per child.
    void saveXml(ClsXml& node);
    void loadXml(ClsXml& node);

    // Body bytes the stream writer sends after the blank line; 0 on failure.
    std::uint64_t computeMultipartSize(const char* boundary, const char* charset, LogBase& log);
    bool streamMultipart(const char* boundary, const char* charset, Output& out, const StringBuffer& headerText,
                         StringBuffer& headerTextOut, LogBase& log, ProgressMonitor* pm, bool verbose);
    // Whole multipart body in memory (parts and closing line).
    bool buildMultipartBody(const char* boundary, const char* charset, DataBuffer& out, LogBase& log);

private:
    void joinParams(StringBuffer& out, const char* charset, bool encode) const;

    ExtPtrArray m_items;
};

class HttpRequest : public TessikObject {
public:
    HttpRequest();
    ~HttpRequest() override;
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    void setFromUrl(const char* url, bool clearParams);
    void setPath(const char* path);
    void getPath(StringBuffer& out) const { out.appendSb(m_path); }
    const StringBuffer& pathSb() const { return m_path; }
    void getPathAnsi(StringBuffer& out) const;
    void getVerb(StringBuffer& out) const { out.setSb(m_verb); }
    void setVerb(const char* verb) { m_verb.setString(verb != nullptr ? verb : ""); }
    void setHttpVersion(const char* v) { m_httpVersion.setString(v != nullptr ? v : ""); }
    void setCharset(const char* c) { m_charset.setString(c != nullptr ? c : ""); }
    void setSendCharset(bool on) { m_sendCharset = on; }
    void setBodyFilePath(const char* utf8Path) { m_bodyFilePath.setFromUtf8(utf8Path); }
    XString& bodyFilePath() { return m_bodyFilePath; }
    const DataBuffer& altBody() const { return m_altBody; }
    bool isHead() const { return m_verb.equalsNoCase("HEAD"); }
    // Parameters, an explicit body or a body file, for a verb that sends one.
    bool hasBody() const;
    // The verb gives a body a meaning, so an empty one is sent as
    // "Content-Length: 0" rather than left out.
    bool verbTakesBody() const;
    // Sending it twice does what sending it once does.
    bool isIdempotent() const;
    void setAltBody(const DataBuffer& body);
    // The caller's bytes as the body, not copied: they must stay as they
    // are until the request has been sent.
    void borrowAltBody(const DataBuffer& body);
    void addParam(const char* name, const char* value);
    HttpRequestData& reqData() { return m_reqData; }
    MimeHeader& mimeHeader() { return m_mimeHeader; }

    void setHeader(const char* name, const char* value);
    bool getHeader(const char* name, StringBuffer& out) const;
    bool hasHeader(const char* name) const;
    void removeHeader(const char* name);
    bool isMultipartFormData() const;
    // Text goes out in the request's charset: parameters in the target or
    // the body, or a multipart body's text values.
    bool sendsTextInCharset() const;
    void getPathWithQuery(StringBuffer& out) const;
    void appendMimeHeader(StringBuffer& out, bool forBody, LogBase& log);
    void logRequest(LogBase& log) const;
    void saveXml(ClsXml& node, LogBase& log);
    void loadXml(ClsXml& node, LogBase& log);

    // A URL given to the request that held a control byte, or a header
    // field that a NUL cut short: the request is then refused when it would
    // be sent, rather than sent re-encoded or cut.
    void setBadUrl(bool bad) { m_badUrl = bad; }
    void markBadField() { m_badField = true; }
    // False, the reason logged, when the path holds a control byte, a header
    // field (a part's head of a multipart body too) is malformed, a
    // URL or field given to it was bad, the verb is no token, the version
    // is not digits and dots, or text goes out in a charset the library
    // does not write or that has no code for one of its characters.
    bool checkSendable(LogBase& log) const;

    // The whole request: start line, header block, blank line and body (not
    // a body file, which the sender streams after the head). Given
    // bodyAfter, a body larger than kInlineBodyBytes stays out of `out` and
    // bodyAfter points at it, for the sender to send after the head as it
    // lies; otherwise it is set to null.
    bool generateRequest(DataBuffer& out, StringBuffer& headerText, const char* extraLines, const char* pathPrefix,
                         const char* authValue, LogBase& log, const DataBuffer** bodyAfter = nullptr);
    bool sendMultipartRequest(const char* host, HttpControl& options, const StringBuffer& authLines,
                              const StringBuffer& extraLines, const char* pathPrefix, Output& out,
                              StringBuffer& headerText, LogBase& log, ProgressMonitor* pm, bool verbose);

private:
    bool useUrlEncoding() const;
    bool partHeadsMalformed() const;
    // An empty body of the request's own.
    void ownAltBody();
    void encodeParams(StringBuffer& out) const;
    bool generateMultipartInMemory(const char* host, const char* pathPrefix, const char* authValue,
                                   const char* extraLines, DataBuffer& out, StringBuffer& headerText, LogBase& log);

    StringBuffer m_httpVersion;
    StringBuffer m_verb;
    StringBuffer m_path;
    StringBuffer m_charset;
    bool m_sendCharset;
    MimeHeader m_mimeHeader;
    HttpRequestData m_reqData;
    DataBuffer m_altBody;
    // Mutable: reading an XString fills its cached forms.
    mutable XString m_bodyFilePath;
    bool m_badUrl = false;
    bool m_badField = false;
};

} // namespace tessik
