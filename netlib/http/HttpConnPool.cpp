#include "netlib/http/HttpConnPool.h"

#include <cstring>
#include <memory>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/core/FileSys.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/Gzip.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/text/TsCharset.h"

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

HttpConnPool::HttpConnPool() : m_maxConnections(http_pool::kMaxConnections) {
    m_clients.setOwnsObjects(true);
}

HttpConnPool::~HttpConnPool() = default;

HttpClient* HttpConnPool::clientAt(int index) const {
    return dynamic_cast<HttpClient*>(m_clients.elementAt(index));
}

HttpClient* HttpConnPool::findOrCreateClient(const char* domain, int port, HttpControl& options, LogBase& /*log*/) {
    StringBuffer proxyHost;
    std::uint32_t proxyPort = 0;
    LogNull quiet;
    options.getProxy("http://", proxyHost, proxyPort, quiet, http_opt::kPoolCallerTag);
    StringBuffer wantHost(domain != nullptr ? domain : "");
    std::uint32_t wantPort = static_cast<std::uint32_t>(port);
    if (proxyHost.getSize() != 0) {
        wantHost.setSb(proxyHost);
        wantPort = proxyPort;
    }
    for (int i = 0; i < m_clients.getCount();) {
        HttpClient* c = clientAt(i);
        if (c == nullptr) {
            delete m_clients.removeAt(i);
            continue;
        }
        if (c->recordedPort() == wantPort && c->recordedHost().equalsNoCaseSb(wantHost)) {
            if (m_maxConnections != 0) {
                m_clients.removeAt(i);
                m_clients.appendPtr(c);
            }
            return c;
        }
        ++i;
    }
    if (m_maxConnections != 0 && m_clients.getCount() >= m_maxConnections)
        delete m_clients.removeAt(0);
    auto* fresh = new HttpClient;
    if (m_clients.appendPtr(fresh) == nullptr) {
        delete fresh;
        return nullptr;
    }
    return fresh;
}

void HttpConnPool::prepareClient(HttpClient& client) {
    const char* path = m_sessionLog.getUtf8();
    client.connection().setSessionLogPath(path);
    client.connection().setLogToFile(*path != '\0');
}

bool HttpConnPool::synchronousRequest(HttpControl& options, const char* domain, int port, bool tls,
                                      HttpRequest& request, HttpResult& result, DataBuffer& body, LogBase& log,
                                      ProgressMonitor* pm, bool logDetails) {
    if (domain == nullptr) {
        log.logError("No domain");
        return false;
    }
    if (port == 0)
        port = http_pool::kDefaultPort;
    HttpClient* client = findOrCreateClient(domain, port, options, log);
    if (client == nullptr)
        return false;
    prepareClient(*client);
    bool fresh = false;
    if (!client->httpConnect(options, domain, port, tls, log, pm, fresh))
        return false;
    // One run of the request, resent once on a new connection when the
    // kept-alive one turned out to be gone.
    auto run = [&]() {
        bool done = client->synchronousRequest(options, domain, port, tls, request, result, body, log, pm, logDetails);
        if (done || (pm != nullptr && pm->isAborted()) || !result.connectionFailed)
            return done;
        log.logError("Socket not writeable, re-opening connection with HTTP server (2)");
        client->closeConnection(options, pm, log);
        if (pm != nullptr)
            pm->progressInfo("HttpInfo",
                             "Existing connection with HTTP server no longer open, restarting with new connection.");
        result.connectionFailed = 0;
        if (!client->httpConnect(options, domain, port, tls, log, pm, fresh)) {
            log.logError("Failed to establish connection on retry.");
            return false;
        }
        return client->synchronousRequest(options, domain, port, tls, request, result, body, log, pm, logDetails);
    };
    bool ntlmTried = options.NTLMAuth != 0;
    bool ok = false;
    for (;;) {
        ok = run();
        const std::uint32_t status = result.responseHeader.getStatusCode();
        if (ok && status == http_pool::kStatusProxyAuth) {
            StringBuffer offer;
            result.responseHeader.getField("Proxy-Authenticate", offer);
            if (offer.containsSubstring("NTLM")) {
                log.logError(http_pool::kMsgProxyNtlmNotAvailable);
                return false;
            }
        } else if (ok && status == http_pool::kStatusUnauthorized && !ntlmTried && result.responseHeader.offersNtlm()) {
            log.logInfo("Re-trying with NTLM authentication...");
            if (!client->httpConnect(options, domain, port, tls, log, pm, fresh)) {
                log.logError("Failed to establish connection on retry.");
                return false;
            }
            // It stays on for the component's later requests.
            options.NTLMAuth = 1;
            ntlmTried = true;
            continue;
        }
        break;
    }
    return ok;
}

// Login and password from a URL, for one call: the options' own come back
// when it ends.
class CallCredentials {
public:
    explicit CallCredentials(HttpControl& options) : m_options(options), m_active(false) {}
    ~CallCredentials() {
        if (!m_active)
            return;
        m_options.Login.secureClear();
        m_options.Password.secureClear();
        m_options.Login.copyFromX(m_login);
        m_options.Password.copyFromX(m_password);
        m_password.secureClear();
    }
    CallCredentials(const CallCredentials&) = delete;
    CallCredentials& operator=(const CallCredentials&) = delete;

    void use(const StringBuffer& login, const StringBuffer& password) {
        if (!m_active) {
            m_login.copyFromX(m_options.Login);
            m_password.copyFromX(m_options.Password);
            m_active = true;
        }
        m_options.Login.setFromUtf8(login.getString());
        m_options.Password.setFromUtf8(password.getString());
    }

private:
    HttpControl& m_options;
    bool m_active;
    XString m_login;
    XString m_password;
};

namespace {

constexpr std::uint32_t kStatusOk = 200;
constexpr std::uint32_t kStatusErrorFirst = 400;
constexpr int kPlainPort = 80;
constexpr unsigned char kGzipId1 = 0x1F;
constexpr unsigned char kGzipId2 = 0x8B;
constexpr int kCodePageUtf8 = 65001;
constexpr int kCodePageAscii = 20127;

bool offersProxyNtlm(const HttpResult& result) {
    StringBuffer offer;
    result.responseHeader.getField("Proxy-Authenticate", offer);
    return result.responseHeader.getStatusCode() == http_pool::kStatusProxyAuth && offer.containsSubstring("NTLM");
}

// Keeps the file's bytes from `from` on.
bool dropFilePrefix(const char* path, std::int64_t from, LogBase& log) {
    DataBuffer whole;
    if (!whole.loadFileUtf8(path, &log) || static_cast<std::int64_t>(whole.getSize()) < from)
        return false;
    whole.removeFront(static_cast<unsigned int>(from));
    OutputFile file;
    return file.createFile(path, log) && (whole.getSize() == 0 || file.writeDb(whole, nullptr, log));
}

bool endsWithNoCase(const StringBuffer& text, const char* tail) {
    const auto n = static_cast<int>(std::strlen(tail));
    return text.getSize() >= n &&
           asciiCompareNoCase(text.getString() + text.getSize() - n, tail, static_cast<unsigned long>(n)) == 0;
}

} // namespace

HttpClient* HttpConnPool::quickClient(const char* url, HttpControl& options, CallCredentials& credentials,
                                      StringBuffer& cleanUrl, LogBase& log) {
    XString x;
    x.setFromUtf8(url != nullptr ? url : "");
    cleanUrl.setString(x.getUtf8());
    cleanUrl.trimWhitespace();
    cleanUrl.replaceAll(" ", "%20");
    StringBuffer host, login, password, path, query, fragment;
    int port = kPlainPort;
    if (!TessikUrl::crackUrl(cleanUrl.getString(), host, port, login, password, path, query, fragment) ||
        host.getSize() == 0) {
        log.logError("Failed to parse URL");
        log.logData("url", cleanUrl.getString());
        return nullptr;
    }
    if (login.getSize() != 0 && password.getSize() != 0) {
        credentials.use(login, password);
        StringBuffer written("//");
        written.appendSb(login);
        written.appendChar(':');
        written.appendSb(password);
        written.appendChar('@');
        cleanUrl.replaceFirst(written.getString(), "//");
        written.secureClear();
        password.secureClear();
    }
    HttpClient* client = findOrCreateClient(host.getString(), port, options, log);
    if (client != nullptr)
        prepareClient(*client);
    return client;
}

bool HttpConnPool::quickGetToOutputOnExisting(HttpClient& client, const char* url, HttpControl& options, Output& out,
                                              HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    LogContext ctx(log, "QuickGetToOutput_OnExisting");
    return client.quickGetToOutput(url, options, out, result, log, pm, verbose);
}

bool HttpConnPool::quickRequest(const char* url, HttpControl& options, DataBuffer& out, HttpResult& result,
                                LogBase& log, ProgressMonitor* pm, bool verbose) {
    LogContext ctx(log, "QuickReq");
    CallCredentials credentials(options);
    StringBuffer target;
    HttpClient* client = quickClient(url, options, credentials, target, log);
    if (client == nullptr)
        return false;
    out.clear();
    OutputDataBuffer sink(&out);
    const bool ok = quickGetToOutputOnExisting(*client, target.getString(), options, sink, result, log, pm, verbose);
    if (ok && offersProxyNtlm(result)) {
        log.logError(http_pool::kMsgProxyNtlmNotAvailable);
        return false;
    }
    return ok;
}

bool HttpConnPool::quickGetText(const char* url, HttpControl& options, XString& text, HttpResult& result, LogBase& log,
                                ProgressMonitor* pm, bool verbose) {
    text.clear();
    DataBuffer body;
    if (!quickRequest(url, options, body, result, log, pm, verbose) || body.getSize() == 0)
        return body.getSize() == 0 && result.responseHeader.getStatusCode() != 0;
    StringBuffer charset;
    declaredBodyCharset(result.responseHeader, body, charset, log);
    if (charset.getSize() == 0) {
        log.logInfo("No charset specified, assuming Windows-1252");
        charset.setString("windows-1252");
    }
    _tsCharset cs;
    cs.setByName(charset.getString());
    const int codePage = cs.getCodePage();
    DataBuffer utf8;
    if (codePage == kCodePageUtf8 || codePage == kCodePageAscii) {
        utf8.appendDb(body);
    } else {
        log.logInfo("Converting to utf-8 charset.");
        log.logDataLong("ConvertFromCodePage", codePage);
        EncodingConvert convert;
        convert.convert(codePage, kCodePageUtf8, body.getData(), body.getSize(), utf8);
        if (utf8.getSize() == 0)
            utf8.appendDb(body);
    }
    utf8.replaceChar(0, ' ');
    utf8.appendChar(0);
    text.appendUtf8(reinterpret_cast<const char*>(utf8.getData()));
    return true;
}

bool HttpConnPool::downloadToFile(const char* url, HttpControl& options, const char* localPath, bool append,
                                  HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    return download(url, options, localPath, append, false, result, log, pm, verbose);
}

bool HttpConnPool::resumeDownload(const char* url, HttpControl& options, const char* localPath, HttpResult& result,
                                  LogBase& log, ProgressMonitor* pm, bool verbose) {
    return download(url, options, localPath, true, true, result, log, pm, verbose);
}

bool HttpConnPool::download(const char* url, HttpControl& options, const char* localPath, bool append, bool resume,
                            HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose) {
    CallCredentials credentials(options);
    StringBuffer target;
    HttpClient* client = quickClient(url, options, credentials, target, log);
    if (client == nullptr)
        return false;
    const bool existed = fileExistsUtf8(localPath, nullptr);
    log.logDataLong("localFileAlreadyExists", existed ? 1 : 0);
    OutputFile file;
    const bool opened = append || resume ? file.openForAppend(localPath, log) : file.createFile(localPath, log);
    if (!opened)
        return false;
    // The resume point serves this call only.
    const std::int64_t savedResumePoint = options.ResumePoint;
    if (resume)
        options.ResumePoint = file.getSizeReached();
    bool ok;
    {
        LogContext ctx(log, resume ? "QuickGetToOutput_ResumeDownload" : "QuickGetToOutput_Download");
        ok = client->quickGetToOutput(target.getString(), options, file, result, log, pm, verbose);
    }
    const std::int64_t resumedFrom = options.ResumePoint;
    options.ResumePoint = savedResumePoint;
    const std::uint32_t status = result.responseHeader.getStatusCode();
    file.close();
    // A server that ignores the range sends the whole file: it replaces
    // the part that was there.
    if (ok && resume && resumedFrom != 0 && status == kStatusOk)
        ok = dropFilePrefix(localPath, resumedFrom, log);
    bool sizeKnown = false;
    const std::int64_t size = getFileSize64Utf8(localPath, nullptr, sizeKnown);
    bool deleted = false;
    if ((!ok && !existed) || status >= kStatusErrorFirst) {
        if (status >= kStatusErrorFirst || size == 0 || !ok) {
            deleteFileUtf8(localPath, &log);
            deleted = true;
        }
    } else {
        log.logDataInt64(resume ? "numBytesDownloaded" : "DownloadNumBytes", size);
    }
    if (ok && offersProxyNtlm(result)) {
        log.logError(http_pool::kMsgProxyNtlmNotAvailable);
        return false;
    }
    if (deleted || !ok)
        return ok;
    StringBuffer coding;
    result.responseHeader.getField("content-encoding", coding);
    StringBuffer path(localPath);
    if (!coding.equalsNoCase("gzip") || endsWithNoCase(path, ".gz") || endsWithNoCase(path, ".tgz"))
        return ok;
    unsigned char start[http_pool::kGzipPeekBytes] = {};
    std::uint32_t got = 0;
    std::unique_ptr<FileDataSource> source(FileDataSource::openForRead(localPath, &log));
    if (source == nullptr || !source->readChunk(start, sizeof start, &got, &log) || got < 2 || start[0] != kGzipId1 ||
        start[1] != kGzipId2)
        return ok;
    source.reset();
    log.logInfo(resume ? "Downloaded gzip compressed data." : "Download was compressed.  Decompressing...");
    ok = Gzip::unGzipFile(localPath, log);
    if (!resume) {
        bool sized = false;
        log.logDataInt64("DecompressedFileSize", getFileSize64Utf8(localPath, &log, sized));
    }
    return ok;
}

bool HttpConnPool::postMime(const char* url, HttpControl& options, const StringBuffer& mimeText, HttpResult& result,
                            DataBuffer& body, LogBase& log, ProgressMonitor* pm, bool logDetails) {
    CallCredentials credentials(options);
    StringBuffer target;
    HttpClient* client = quickClient(url, options, credentials, target, log);
    if (client == nullptr)
        return false;
    StringBuffer host, login, password, path, query, fragment;
    int port = kPlainPort;
    TessikUrl::crackUrl(target.getString(), host, port, login, password, path, query, fragment);
    const bool tls = target.beginsWithNoCase("https");
    bool fresh = false;
    if (!client->httpConnect(options, host.getString(), port, tls, log, pm, fresh))
        return false;
    const bool ok = client->postMimeAttempts(options, host.getString(), port, tls, target.getString(), mimeText, result,
                                             body, log, pm, logDetails);
    if (ok && offersProxyNtlm(result)) {
        log.logError(http_pool::kMsgProxyNtlmNotAvailable);
        return false;
    }
    return ok;
}

} // namespace tessik
