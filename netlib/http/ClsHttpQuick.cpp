// The HTTP component's methods that take a URL and do one common job:
// fetch into memory, text, a response or a file, send a body with POST or
// PUT, or a body-less PUT or DELETE. They share one frame.
#include <memory>
#include <string>
#include <string_view>

#include "netlib/core/ClsXml.h"
#include "netlib/core/Md5.h"
#include "netlib/core/XmlParser.h"
#include "netlib/core/XmlProlog.h"
#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/Gzip.h"
#include "netlib/text/BodyText.h"
#include "netlib/text/ContentCoding.h"
#include "platform/Cp1252Text.h"
#include "platform/Ticks.h"

namespace tessik {

namespace {

constexpr int kPlainPort = 80;
constexpr const char* kDefaultXmlCharset = "utf-8";

namespace quick_msg {
constexpr const char* kPostXmlFailed = "PostXml request failed.";
constexpr const char* kPutTextFailed = "PutText request failed.";
constexpr const char* kXmlRpcFailed = "XmlRpc request failed.";
constexpr const char* kXmlRpcPutFailed = "XmlRpcPut request failed.";
constexpr const char* kReplyNotXml = "The reply is not an XML document.";
constexpr const char* kXmlCharsetUnnamed = "The charset to send the XML in is not a name an XML declaration can carry.";
constexpr const char* kGzipFailed = "Failed to gzip the request body.";
} // namespace quick_msg

// The quick roads ask for no range: a 206 is the resource only when it
// begins at its first byte, as a download's file judges it.
bool partNotWhole(bool answered, const HttpResult& result, LogBase& log) {
    if (!answered || result.responseHeader.getStatusCode() != http_status::kPartialContent ||
        result.responseHeader.contentRangeBeginsAt(0))
        return false;
    log.logError(http_msg::kPartNotWhole);
    return true;
}

bool beginsWithHttps(const StringBuffer& url) {
    return url.beginsWithNoCase("https");
}

// The encoding an XML text's declaration names, UTF-8 where it names none.
void xmlCharset(XString& xml, StringBuffer& out) {
    const StringBuffer& text = xml.getUtf8Sb();
    if (!declaredXmlEncoding(text.getString(), static_cast<unsigned int>(text.getSize()), out))
        out.setString(kDefaultXmlCharset);
}

// An answer came, and it is no 2xx: the call fails, logged with why.
bool failsTheRule(bool answered, const HttpResult& result, const char* why, LogBase& log) {
    const std::uint32_t status = result.responseHeader.getStatusCode();
    if (!answered || http_status::fetched(status))
        return false;
    log.logError(why);
    log.logDataLong("statusCode", static_cast<int>(status));
    return true;
}

} // namespace

bool ClsHttp::notFetched(bool answered, const HttpResult& result, LogBase& log) {
    const std::uint32_t status = result.responseHeader.getStatusCode();
    return failsTheRule(answered, result,
                        status >= http_status::kRedirectFirst && status < http_status::kClientErrorFirst
                            ? http_msg::kRedirectNotFollowed
                            : http_msg::kNotFetched,
                        log);
}

bool ClsHttp::notWritten(bool answered, const HttpResult& result, LogBase& log) {
    return failsTheRule(answered, result, http_msg::kNotWritten, log);
}

// The frame every method of the table shares: the lock, the method's log
// context (unless the caller's is open), a progress monitor over the
// task's event recorder, and the closing line.
class ClsHttp::CallFrame {
public:
    enum class Context { Method, Plain };

    CallFrame(ClsHttp& http, const char* name, XString& url, bool nested, bool logUrl, ProgressEvent* progress,
              LogBase& log, Context context = Context::Method)
        : m_http(http), m_lock(http), m_log(log), m_opened(!nested || context == Context::Plain) {
        m_url.setString(url.getUtf8());
        m_url.trimWhitespace();
        if (m_opened) {
            if (context == Context::Plain)
                log.enterContext(name, true);
            else
                http.enterMethodLog(name, log);
        }
        // A NUL would cut the URL short: rather than the cut one, an empty
        // URL goes on, which every road refuses before connecting.
        if (TessikUrl::holdsNul(url.getUtf8Sb())) {
            log.logError(url_msg::kControlByteInUrl);
            m_url.clear();
        }
        if (logUrl) {
            log.logData("url", m_url.getString());
            if (http.m_pool.sessionLogFilename().getSizeUtf8() != 0)
                log.logData("sessionLogFilename", http.m_pool.sessionLogFilename().getUtf8());
        }
        http.m_historian.clearEvents();
        m_monitor = std::make_unique<ProgressMonitor>(&http.m_historian, http_cls::kMonitorTotal);
        http.m_historian.setTarget(progress);
        http.m_lastResult.clear();
    }
    ~CallFrame() { m_http.m_historian.setTarget(nullptr); }
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;

    const char* url() const { return m_url.getString(); }
    ProgressMonitor* monitor() { return m_monitor.get(); }

    // A response for the URL's host, to be filled by the exchange.
    std::unique_ptr<ClsHttpResponse> newResponse() const {
        auto response = std::make_unique<ClsHttpResponse>();
        StringBuffer host;
        TessikUrl::crackUrlHostOnly(m_url.getString(), host);
        response->setDomain(host.getString());
        return response;
    }
    // Closes the frame; the response goes to the caller when the exchange
    // completed, with its request head copied into the last result.
    ClsHttpResponse* finishWith(std::unique_ptr<ClsHttpResponse> response, bool ok) {
        if (ok)
            m_http.m_lastResult.requestHeaderText.setSb(response->getResult().requestHeaderText);
        finish(ok);
        return ok ? response.release() : nullptr;
    }

    bool finish(bool ok, bool resultLine = true) {
        if (ok)
            m_monitor->endProgress(0);
        if (m_opened) {
            if (resultLine)
                logSuccessOrFailed(ok, m_log);
            m_log.leaveContext();
        }
        return ok;
    }

private:
    ClsHttp& m_http;
    CritSecExitor m_lock;
    LogBase& m_log;
    bool m_opened;
    StringBuffer m_url;
    std::unique_ptr<ProgressMonitor> m_monitor;
};

bool ClsHttp::bytesToText(const DataBuffer& bytes, const char* charset, XString& out, LogBase& log) {
    out.clear();
    DataBuffer utf8;
    if (charset == nullptr || *charset == '\0') {
        const std::string text = platform::Utf8OrCp1252ToUtf8(
            std::string_view(reinterpret_cast<const char*>(bytes.getData()), bytes.getSize()));
        utf8.append(text.data(), static_cast<unsigned int>(text.size()));
        utf8.replaceChar(0, ' ');
    } else if (!namedCharsetTextUtf8(charset, bytes, utf8)) {
        log.logError(http_msg::kNoDecoderForCharset);
        log.logData("charset", charset);
        return false;
    }
    out.setFromUtf8Bytes(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
    return true;
}

// ---- Fetches

bool ClsHttp::downloadRun(const char* name, XString& url, XString& localPath, bool append, bool resume, bool nested,
                          ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, name, url, nested, resume, progress, log);
    log.logDataLong("backgroundThread", &log == &m_taskLog ? 1 : 0);
    // The verb of an earlier request (a HEAD, a POST) stays in the options;
    // a download is a GET whatever came before.
    m_options.HttpMethod.setString("GET");
    const DWORD start = platform::GetTickCount();
    bool ok = resume ? m_pool.resumeDownload(frame.url(), m_options, localPath.getUtf8(), m_lastResult, log,
                                             frame.monitor(), m_verboseLogging)
                     : m_pool.downloadToFile(frame.url(), m_options, localPath.getUtf8(), append, m_lastResult, log,
                                             frame.monitor(), m_verboseLogging);
    // A redirect not followed fetched nothing of the URL, as an error
    // answer did not: the file is not what the caller asked for, unless a
    // resume found it whole already.
    if (!m_lastResult.alreadyWhole && notFetched(ok, m_lastResult, log))
        ok = false;
    log.logDataLong("totalElapsedMs", static_cast<int>(platform::GetTickCount() - start));
    log.logDataInt64("ContentLength", m_lastResult.responseHeader.getContentLength());
    return frame.finish(ok, !resume);
}

bool ClsHttp::Download(XString& url, XString& localPath, bool nested, ProgressEvent* progress, LogBase& log) {
    return downloadRun("Download", url, localPath, false, false, nested, progress, log);
}

bool ClsHttp::DownloadAppend(XString& url, XString& localPath, bool nested, ProgressEvent* progress, LogBase& log) {
    return downloadRun("DownloadAppend", url, localPath, true, false, nested, progress, log);
}

bool ClsHttp::ResumeDownload(XString& url, XString& localPath, bool nested, ProgressEvent* progress, LogBase& log) {
    return downloadRun("ResumeDownload", url, localPath, true, true, nested, progress, log);
}

bool ClsHttp::quickGetRun(const char* name, XString& url, DataBuffer& out, bool nested, ProgressEvent* progress,
                          LogBase& log) {
    CallFrame frame(*this, name, url, nested, false, progress, log);
    m_options.HttpMethod.setString("GET");
    const bool ok =
        m_pool.quickRequest(frame.url(), m_options, out, m_lastResult, log, frame.monitor(), m_verboseLogging);
    return frame.finish(ok && !notFetched(ok, m_lastResult, log) && !partNotWhole(ok, m_lastResult, log));
}

bool ClsHttp::QuickGet(XString& url, DataBuffer& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return quickGetRun("QuickGet", url, out, nested, progress, log);
}

bool ClsHttp::quickTextRun(const char* name, const char* verb, bool keepVerb, XString& url, XString& out, bool nested,
                           ProgressEvent* progress, LogBase& log) {
    const bool plain = std::string_view(name) == "HttpGet";
    const bool logUrl = std::string_view(verb) == "PUT";
    CallFrame frame(*this, name, url, nested, logUrl, progress, log,
                    plain ? CallFrame::Context::Plain : CallFrame::Context::Method);
    m_options.HttpMethod.setString(verb);
    const bool ok =
        m_pool.quickGetText(frame.url(), m_options, out, m_lastResult, log, frame.monitor(), m_verboseLogging);
    if (!keepVerb)
        m_options.HttpMethod.clear();
    if (ok && std::string_view(name) == "QuickGetStr") {
        log.logDataLong("VerboseLogging", m_verboseLogging ? 1 : 0);
        log.logDataLong("NumUtf8Bytes", out.getSizeUtf8());
    }
    // A DELETE or a PUT fetches nothing: any 2xx is its success, as a
    // write's is.
    if (std::string_view(verb) == "DELETE" || std::string_view(verb) == "PUT")
        return frame.finish(ok && !notWritten(ok, m_lastResult, log));
    return frame.finish(ok && !notFetched(ok, m_lastResult, log) && !partNotWhole(ok, m_lastResult, log));
}

bool ClsHttp::QuickGetStr(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return quickTextRun("QuickGetStr", "GET", true, url, out, nested, progress, log);
}

bool ClsHttp::HttpGet(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return quickTextRun("HttpGet", "GET", true, url, out, nested, progress, log);
}

bool ClsHttp::QuickPutStr(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return quickTextRun("QuickPutStr", "PUT", false, url, out, nested, progress, log);
}

bool ClsHttp::QuickDeleteStr(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return quickTextRun("QuickDeleteStr", "DELETE", false, url, out, nested, progress, log);
}

ClsHttpResponse* ClsHttp::QuickGetObj(XString& url, bool nested, ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, "QuickGetObj", url, nested, false, progress, log);
    m_options.HttpMethod.setString("GET");
    auto response = frame.newResponse();
    // The body as received: the response decodes it by its own charset.
    const bool ok = m_pool.quickRequest(frame.url(), m_options, response->getBody(), response->getResult(), log,
                                        frame.monitor(), m_verboseLogging);
    m_options.HttpMethod.clear();
    return frame.finishWith(std::move(response), ok);
}

ClsHttpResponse* ClsHttp::GetHead(XString& url, bool nested, ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, "GetHead", url, nested, false, progress, log);
    XString target;
    target.setFromUtf8(frame.url());
    ClsHttpRequest request;
    request.SetFromUrl(target, true);
    request.setHeadVerb();
    StringBuffer host, login, password, path, query, fragment;
    int port = kPlainPort;
    TessikUrl::crackUrl(frame.url(), host, port, login, password, path, query, fragment);
    // The query goes out as written, as on the GET road: taken apart into
    // parameters it would come back re-encoded.
    request.request().reqData().removeAll();
    if (query.getSize() != 0) {
        path.appendChar('?');
        path.appendSb(query);
    }
    request.setPath(path.getString());
    const bool tls = beginsWithHttps(StringBuffer(frame.url()));
    if (m_verboseLogging) {
        request.logRequest(log);
        m_options.logOptions(log);
    }
    auto response = frame.newResponse();
    const bool ok =
        m_pool.synchronousRequest(m_options, host.getString(), port, tls, request.request(), response->getResult(),
                                  response->getBody(), log, frame.monitor(), m_verboseLogging);
    return frame.finishWith(std::move(response), ok);
}

// ---- Requests built from a URL

void ClsHttp::addDefaultHeaders(ClsHttpRequest& request, const char* host) {
    CritSecExitor lock(*this);
    if (m_options.UserAgent.getSize() != 0)
        request.addHeaderAnsi("User-Agent", m_options.UserAgent.getString());
    bool extraHost = false;
    const MimeHeader& extra = m_options.extraHeaders;
    for (int i = 0; i < extra.getCount(); ++i) {
        StringBuffer name, value;
        if (!extra.getNameAt(i, name) || !extra.getValueAt(i, value))
            continue;
        request.addHeaderAnsi(name.getString(), value.getString());
        extraHost = extraHost || name.equalsNoCase("host");
    }
    if (!extraHost)
        request.addHeaderAnsi("Host", host);
    const struct {
        const char* name;
        const StringBuffer& value;
    } optional[] = {{"Accept", m_options.Accept},
                    {"Accept-Charset", m_options.AcceptCharset},
                    {"Accept-Language", m_options.AcceptLanguage},
                    {"Referer", m_options.Referer}};
    for (const auto& field : optional)
        if (field.value.getSize() != 0 && !request.hasHeader(field.name))
            request.addHeaderAnsi(field.name, field.value.getString());
    if (!request.hasHeader("Accept-Encoding"))
        request.addHeaderAnsi("Accept-Encoding", m_options.AllowGzip ? "gzip" : "");
}

bool ClsHttp::requestFromUrl(const char* url, ClsHttpRequest& request, RequestTarget& target, LogBase& log) {
    StringBuffer login, password, path, query, fragment;
    target.port = kPlainPort;
    if (!TessikUrl::crackUrl(url, target.host, target.port, login, password, path, query, fragment) ||
        target.host.getSize() == 0) {
        log.logError("Failed to parse URL");
        log.logData("url", url);
        return false;
    }
    target.tls = beginsWithHttps(StringBuffer(url));
    if (query.getSize() != 0) {
        path.appendChar('?');
        path.appendSb(query);
    }
    request.setPath(path.getString());
    StringBuffer hostField;
    HttpClient::appendHostField(target.host, hostField);
    if (target.port != kPlainPort && !(target.tls && target.port == static_cast<int>(http_conn::kTlsPort))) {
        hostField.appendChar(':');
        hostField.appendInt(target.port);
    }
    addDefaultHeaders(request, hostField.getString());
    return true;
}

bool ClsHttp::xmlRequest(const char* url, XString& xml, const char* charset, bool put, ClsHttpRequest& request,
                         RequestTarget& target, LogBase& log) {
    // What is sent says what its bytes are: its declaration and its
    // Content-Type name the charset, and bytes that would not read back as
    // the text are not sent.
    StringBuffer name(charset);
    name.trimWhitespace();
    if (!xmlprolog::isEncodingName(std::string_view(name.getString(), static_cast<std::size_t>(name.getSize())))) {
        log.logError(quick_msg::kXmlCharsetUnnamed);
        log.logData("charset", charset);
        return false;
    }
    const StringBuffer& text = xml.getUtf8Sb();
    StringBuffer declared;
    declareXmlEncoding(text.getString(), static_cast<unsigned int>(text.getSize()), name.getString(), declared);
    DataBuffer body;
    if (!encodeXmlText(declared.getString(), static_cast<unsigned int>(declared.getSize()), name.getString(), true,
                       body, log) ||
        !requestFromUrl(url, request, target, log))
        return false;
    if (put)
        request.setXmlPutBody(body, name.getString());
    else
        request.setXmlPostBody(body, name.getString());
    return true;
}

void ClsHttp::contentMd5Base64(const DataBuffer& bytes, StringBuffer& out) {
    unsigned char digest[kMd5DigestSize];
    Md5 md5;
    md5.digestDb(bytes, digest);
    out.clear();
    ContentCoding::encodeBase64NoCrlf(digest, sizeof digest, out);
}

ClsHttpResponse* ClsHttp::PostUrlEncoded(XString& url, ClsHttpRequest& request, bool nested, ProgressEvent* progress,
                                         LogBase& log) {
    CallFrame frame(*this, "PostUrlEncoded", url, nested, true, progress, log);
    XString target;
    target.setFromUtf8(frame.url());
    request.SetFromUrl(target, false);
    request.UsePostUrlEncoded();
    StringBuffer host, login, password, path, query, fragment;
    int port = kPlainPort;
    TessikUrl::crackUrl(frame.url(), host, port, login, password, path, query, fragment);
    bool ok = false;
    ClsHttpResponse* response = nullptr;
    if (host.getSize() == 0) {
        log.logError("Failed to parse URL");
    } else {
        response = requestFollowRedirect(host.getString(), port, beginsWithHttps(StringBuffer(frame.url())), request,
                                         progress, false, nullptr, ok, log, m_verboseLogging);
    }
    frame.finish(response != nullptr);
    return response;
}

ClsHttpResponse* ClsHttp::PostXml(XString& url, XString& xml, XString& charset, bool nested, ProgressEvent* progress,
                                  LogBase& log) {
    CallFrame frame(*this, "PostXml", url, nested, true, progress, log);
    log.logData("charset", charset.getUtf8());
    log.logDataLong("xmlSizeInChars", xml.getNumChars());
    StringBuffer sendIn(charset.getUtf8());
    sendIn.trimWhitespace();
    if (sendIn.getSize() == 0)
        xmlCharset(xml, sendIn);
    ClsHttpRequest request;
    RequestTarget target;
    if (!xmlRequest(frame.url(), xml, sendIn.getString(), false, request, target, log)) {
        frame.finish(false);
        return nullptr;
    }
    bool ok = false;
    ClsHttpResponse* response = requestFollowRedirect(target.host.getString(), target.port, target.tls, request,
                                                      progress, false, nullptr, ok, log, m_verboseLogging);
    if (response == nullptr)
        log.logError(quick_msg::kPostXmlFailed);
    frame.finish(response != nullptr);
    return response;
}

ClsHttpResponse* ClsHttp::PostMime(XString& url, XString& mime, bool nested, ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, "PostMime", url, nested, true, progress, log);
    log.logDataLong("mimeSizeInChars", mime.getNumChars());
    const StringBuffer mimeText(mime.getUtf8());
    auto response = frame.newResponse();
    const bool ok = m_pool.postMime(frame.url(), m_options, mimeText, response->getResult(), response->getBody(), log,
                                    frame.monitor(), m_verboseLogging);
    return frame.finishWith(std::move(response), ok);
}

// ---- Uploads

bool ClsHttp::sendBody(const char* verb, XString& url, DataBuffer& bytes, XString& contentType, bool md5, bool gzip,
                       XString& out, ProgressEvent* progress, LogBase& log) {
    out.clear();
    ClsHttpRequest request;
    const bool put = StringBuffer(verb).equalsNoCase("PUT");
    if (put)
        request.setPutVerb();
    else
        request.UsePostUrlEncoded();
    if (md5) {
        StringBuffer digest;
        contentMd5Base64(bytes, digest);
        request.addHeaderAnsi("Content-MD5", digest.getString());
    }
    // Lives until the request has been sent: the request borrows it.
    DataBuffer packed;
    if (bytes.getSize() != 0) {
        // The coding named is the coding sent: a whole gzip member.
        if (gzip && !Gzip::gzipMemory(bytes, packed, log)) {
            log.logError(quick_msg::kGzipFailed);
            return false;
        }
        // The caller's bytes go out as they lie, never copied.
        request.request().borrowAltBody(gzip ? packed : bytes);
        if (gzip)
            request.addHeaderAnsi("Content-Encoding", "gzip");
    }
    request.addHeaderAnsi("Content-Type", contentType.getUtf8());
    // Cut at a NUL, the type would go out as another one.
    if (TessikUrl::holdsNul(contentType.getUtf8Sb()))
        request.request().markBadField();
    RequestTarget target;
    if (!requestFromUrl(url.getUtf8(), request, target, log))
        return false;
    DataBuffer reply;
    bool ok = false;
    requestFollowRedirect(target.host.getString(), target.port, target.tls, request, progress, true, &reply, ok, log,
                          m_verboseLogging);
    if (!ok)
        return false;
    DataBuffer utf8;
    responseBodyText(m_lastResult.responseHeader, reply, utf8, log);
    out.setFromUtf8Bytes(reinterpret_cast<const char*>(utf8.getData()), utf8.getSize());
    return true;
}

bool ClsHttp::sendBodyRun(const char* name, const char* verb, XString& url, DataBuffer& bytes, XString& contentType,
                          bool md5, bool gzip, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, name, url, nested, true, progress, log);
    XString target;
    target.setFromUtf8(frame.url());
    return frame.finish(sendBody(verb, target, bytes, contentType, md5, gzip, out, progress, log));
}

bool ClsHttp::PostBinary(XString& url, DataBuffer& bytes, XString& contentType, bool md5, bool gzip, XString& out,
                         bool nested, ProgressEvent* progress, LogBase& log) {
    return sendBodyRun("PostBinary", "POST", url, bytes, contentType, md5, gzip, out, nested, progress, log);
}

bool ClsHttp::PutBinary(XString& url, DataBuffer& bytes, XString& contentType, bool md5, bool gzip, XString& out,
                        bool nested, ProgressEvent* progress, LogBase& log) {
    return sendBodyRun("PutBinary", "PUT", url, bytes, contentType, md5, gzip, out, nested, progress, log);
}

bool ClsHttp::PutText(XString& url, XString& text, XString& charset, XString& contentType, bool md5, bool gzip,
                      XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, "PutText", url, nested, true, progress, log);
    DataBuffer bytes;
    if (!convertToNamedCharset(charset.getUtf8(), text, bytes, true, log))
        return frame.finish(false);
    XString target;
    target.setFromUtf8(frame.url());
    const bool ok = sendBody("PUT", target, bytes, contentType, md5, gzip, out, progress, log);
    if (!ok)
        log.logError(quick_msg::kPutTextFailed);
    return frame.finish(ok);
}

bool ClsHttp::xmlRpcRun(const char* name, bool put, XString& url, XString& xml, XString& out, bool nested,
                        ProgressEvent* progress, LogBase& log) {
    CallFrame frame(*this, name, url, nested, true, progress, log);
    out.clear();
    // Sent in the encoding its own declaration names: text inside it names none.
    StringBuffer charset;
    xmlCharset(xml, charset);
    ClsHttpRequest request;
    RequestTarget target;
    if (!xmlRequest(frame.url(), xml, charset.getString(), put, request, target, log))
        return frame.finish(false);
    DataBuffer reply;
    bool ok = false;
    requestFollowRedirect(target.host.getString(), target.port, target.tls, request, progress, true, &reply, ok, log,
                          m_verboseLogging);
    if (!ok) {
        log.logError(put ? quick_msg::kXmlRpcPutFailed : quick_msg::kXmlRpcFailed);
        return frame.finish(false);
    }
    // The reply in its own encoding (its mark, its Content-Type's charset,
    // its declaration), read and written out as UTF-8.
    ClsXml doc;
    StringBuffer text;
    StringBuffer labelled;
    m_lastResult.responseHeader.getCharset(labelled);
    if (prepareXmlBytes(reply, &log, labelled.getString()))
        text.appendDb(reply);
    if (!text.containsChar('<') || !doc.LoadXml(text.getString(), false) || !doc.getXml(out)) {
        log.logError(quick_msg::kReplyNotXml);
        out.clear();
        return frame.finish(false);
    }
    return frame.finish(true);
}

bool ClsHttp::XmlRpc(XString& url, XString& xml, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return xmlRpcRun("XmlRpc", false, url, xml, out, nested, progress, log);
}

bool ClsHttp::XmlRpcPut(XString& url, XString& xml, XString& out, bool nested, ProgressEvent* progress, LogBase& log) {
    return xmlRpcRun("XmlRpcPut", true, url, xml, out, nested, progress, log);
}

} // namespace tessik
