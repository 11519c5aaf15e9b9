#include "netlib/http/HttpConnPool.h"

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/TessikHandle.h"
#include "netlib/http/DownloadOutput.h"
#include "netlib/http/HttpAuth.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/streams/DataSource.h"
#include "netlib/streams/OutputFile.h"
#include "netlib/streams/StreamConstants.h"

#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/http/HttpClient.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

HttpConnPool::HttpConnPool()
    : m_maxConnections(http_pool::kMaxConnections), m_decision(std::make_unique<ProxySetting>()) {
    m_clients.setOwnsObjects(true);
}

HttpConnPool::~HttpConnPool() = default;

HttpClient* HttpConnPool::clientAt(int index) const {
    return dynamic_cast<HttpClient*>(m_clients.elementAt(index));
}

HttpClient* HttpConnPool::findOrCreateClient(const char* domain, int port, bool tls, HttpControl& options,
                                             LogBase& log) {
    // The request's way is decided here, once, and goes with the client.
    StringBuffer wantHost;
    HttpClient::normalizeHost(domain, wantHost);
    const bool read = options.getProxy(tls ? "https://" : "http://", wantHost.getString(), *m_decision, log, 0);
    StringBuffer route;
    HttpClient::connectionRoute(*m_decision, route);
    HttpClient* chosen = pickClient(wantHost, static_cast<std::uint32_t>(port), route);
    if (chosen != nullptr)
        chosen->takeProxyDecision(wantHost, port, tls, m_decision, read, route);
    // The secrets of the one handed back stay with no one.
    m_decision->reset(0);
    return chosen;
}

HttpClient* HttpConnPool::pickClient(const StringBuffer& wantHost, std::uint32_t wantPort, const StringBuffer& route) {
    // A kept connection serves the origin it was opened to, by the way it
    // was opened (direct, or through the same proxy with the same
    // credentials).
    for (int i = 0; i < m_clients.getCount();) {
        HttpClient* c = clientAt(i);
        if (c == nullptr) {
            delete m_clients.removeAt(i);
            continue;
        }
        if (c->recordedPort() == wantPort && c->recordedHost().equalsNoCaseSb(wantHost) &&
            c->recordedRoute().equals(route.getString())) {
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

namespace {

// The road a call reads on, for the length of the call.
class RoadScope {
public:
    RoadScope(HttpClient& client, RoadFollows road) : m_client(client) { m_client.leaveFollowingToRoad(road); }
    ~RoadScope() { m_client.leaveFollowingToRoad(RoadFollows::kConnection); }
    RoadScope(const RoadScope&) = delete;
    RoadScope& operator=(const RoadScope&) = delete;

private:
    HttpClient& m_client;
};

} // namespace

void HttpConnPool::prepareClient(HttpClient& client) {
    client.setSessionLogFilename(m_sessionLog.getUtf8());
}

bool HttpConnPool::synchronousRequest(HttpControl& options, const char* domain, int port, bool tls,
                                      HttpRequest& request, HttpResult& result, DataBuffer& body, LogBase& log,
                                      ProgressMonitor* pm, bool logDetails, RoadFollows road) {
    if (domain == nullptr) {
        log.logError("No domain");
        return false;
    }
    // The host as a URL's is read, bare: every road hands one over so.
    if (!TessikUrl::isBareHost(domain)) {
        log.logError(TessikUrl::holdsControlByte(domain, std::strlen(domain)) ? url_msg::kControlByteInUrl
                                                                              : url_msg::kBadHostName);
        return false;
    }
    if (!HttpClient::checkSendable(nullptr, options, log) || !request.checkSendable(log))
        return false;
    if (port == 0)
        port = http_pool::kDefaultPort;
    HttpClient* client = findOrCreateClient(domain, port, tls, options, log);
    if (client == nullptr)
        return false;
    prepareClient(*client);
    const RoadScope codings(*client, road);
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
    bool proxyNtlmTried = false;
    bool ok = false;
    for (;;) {
        ok = run();
        const std::uint32_t status = result.responseHeader.getStatusCode();
        if (ok && status == http_status::kProxyAuthRequired && !proxyNtlmTried) {
            if (!client->proxyAskedNtlm(result))
                break;
            if (!client->answerProxyNtlm(options, domain, port, pm, log))
                return false;
            proxyNtlmTried = true;
            log.logInfo("Retrying SynchronousRequest after proxy authentication...");
            continue;
        } else if (ok && status == http_status::kUnauthorized && !ntlmTried && result.responseHeader.offersNtlm()) {
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

// Login and password from a URL, for one call: the options' own (and their
// prepared Digest answer) stand aside and come back when it ends.
class CallCredentials {
public:
    explicit CallCredentials(HttpControl& options) : m_options(options) {}

    void use(const StringBuffer& login, const StringBuffer& password) {
        if (m_withheld == nullptr)
            m_withheld = std::make_unique<CredentialsWithheld>(m_options);
        m_options.Login.setFromUtf8(login.getString());
        m_options.Password.setFromUtf8(password.getString());
    }

private:
    HttpControl& m_options;
    std::unique_ptr<CredentialsWithheld> m_withheld;
};

namespace {

constexpr int kPlainPort = 80;
// A whole coded download up to this size is unpacked from memory into its
// own part file, sparing a second part.
constexpr std::int64_t kPackedHeldBytes = 1 << 20;

// Copies the next `count` bytes of source to out.
bool copyBytes(DataSource& source, std::int64_t count, Output& out, LogBase& log) {
    std::vector<unsigned char> buffer(kCopyChunkSize);
    while (count > 0) {
        const auto want = static_cast<std::uint32_t>(
            count < static_cast<std::int64_t>(buffer.size()) ? count : static_cast<std::int64_t>(buffer.size()));
        std::uint32_t got = 0;
        if (!source.readChunk(buffer.data(), want, &got, &log) || got == 0 ||
            out.writeBytes(buffer.data(), got, 1, nullptr, log) != 1)
            return false;
        count -= got;
    }
    return true;
}

// Replaces the regular file at target (or makes it) through a part file
// beside it, a piece at a time: the first `keep` bytes of source stay, and
// what `rest` writes of the bytes from there on follows them. The file is
// replaced only when all of it went through; otherwise it stays as it was.
bool rewriteFile(DataSource& source, const char* target, std::int64_t keep,
                 const std::function<bool(DataSource&, Output&)>& rest, LogBase& log) {
    OutputFile replacement;
    return source.seekAbsolute64(0, &log) && replacement.createReplacement(target, log) &&
           copyBytes(source, keep, replacement, log) && rest(source, replacement) && replacement.commit(log);
}

// Unpacks a whole coded download that waits beside its path into that same
// part file: its packed bytes are read into memory, the part emptied and
// written anew. False with packed empty when it was not read (too big to
// hold, or its read failed), the part then as it was; false otherwise when
// it failed.
bool unpackBeside(DownloadOutput& file, DataSource& written, TessikHandle& reader,
                  const std::function<bool(DataSource&, Output&)>& unpack, DataBuffer& packed, LogBase& log) {
    const std::int64_t size = file.bytesInFile();
    if (size > kPackedHeldBytes || !file.isRegularFile())
        return false;
    OutputDataBuffer held(&packed);
    if (!written.seekAbsolute64(0, &log) || !copyBytes(written, size, held, log)) {
        packed.clear();
        return false;
    }
    // The reader shares the part's lock, which would outlive the commit.
    reader.close();
    Output* out = file.rewriteBeside(log);
    if (out == nullptr)
        return false;
    MemoryDataSource source;
    source.setData(packed.getData(), packed.getSize(), false);
    return unpack(source, *out) && file.commit(log);
}

} // namespace

HttpClient* HttpConnPool::quickClient(const char* url, HttpControl& options, CallCredentials& credentials,
                                      StringBuffer& cleanUrl, LogBase& log) {
    XString x;
    x.setFromUtf8(url != nullptr ? url : "");
    cleanUrl.setString(x.getUtf8());
    cleanUrl.trimWhitespace();
    cleanUrl.replaceAll(" ", "%20");
    if (!HttpClient::checkSendable(cleanUrl.getString(), options, log))
        return nullptr;
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
    HttpClient* client = findOrCreateClient(host.getString(), port, cleanUrl.beginsWithNoCase("https:"), options, log);
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
    if (!ok || !client->proxyAskedNtlm(result))
        return ok;
    if (!client->answerProxyNtlmFor(target.getString(), options, pm, log))
        return false;
    log.logInfo("Retrying after proxy authentication...");
    sink.resetOutput(log);
    return quickGetToOutputOnExisting(*client, target.getString(), options, sink, result, log, pm, verbose);
}

bool HttpConnPool::quickGetText(const char* url, HttpControl& options, XString& text, HttpResult& result, LogBase& log,
                                ProgressMonitor* pm, bool verbose) {
    text.clear();
    DataBuffer body;
    // A failed request is a failure even when an answer came (a redirect
    // refused); an answer without a body is an empty text.
    if (!quickRequest(url, options, body, result, log, pm, verbose))
        return false;
    if (body.getSize() == 0)
        return result.responseHeader.getStatusCode() != 0;
    DataBuffer utf8;
    responseBodyText(result.responseHeader, body, utf8, log);
    {
        // The body goes before its text is copied: at most two of the three
        // are held at once.
        DataBuffer spent;
        spent.takeFrom(body);
    }
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
    DownloadOutput file(localPath, append, resume, result, options.MaxResponseSize);
    if (!file.prepare(log))
        return false;
    log.logDataLong("localFileAlreadyExists", file.pathExisted() ? 1 : 0);
    // Where the file ended as the call found it: a resume asks from there.
    const std::int64_t appendedAt = file.startPosition();
    // The resume point serves this call only.
    const std::int64_t savedResumePoint = options.ResumePoint;
    if (resume)
        options.ResumePoint = appendedAt;
    file.expectRangeFrom(options.ResumePoint);
    bool ok;
    for (bool proxyTried = false;; proxyTried = true) {
        {
            LogContext ctx(log, resume ? "QuickGetToOutput_ResumeDownload" : "QuickGetToOutput_Download");
            ok = client->quickGetToOutput(target.getString(), options, file, result, log, pm, verbose);
        }
        if (!ok || proxyTried || !client->proxyAskedNtlm(result))
            break;
        ok = client->answerProxyNtlmFor(target.getString(), options, pm, log);
        if (!ok)
            break;
        log.logInfo(resume ? "Retrying resume download after proxy authentication..."
                           : "Retrying Download after proxy authentication...");
        // The 407's body is not the download.
        ok = rewindOutput(file, appendedAt, log);
        if (!ok)
            break;
    }
    options.ResumePoint = savedResumePoint;
    const std::uint32_t status = result.responseHeader.getStatusCode();
    // A resume of a file already whole asks for a range past its end: the
    // 416 that names the file's length says it has the resource.
    if (ok && resume && appendedAt != 0 && status == http_status::kRangeNotSatisfiable &&
        result.responseHeader.contentRangeUnsatisfiedOf(appendedAt)) {
        log.logInfo(http_msg::kResumeAlreadyWhole);
        result.alreadyWhole = 1;
        file.discard();
        return true;
    }
    // Only a successful answer's body is the download: anything else leaves
    // the path as it was before the call, but for what a resume received
    // before the transfer broke, which the next resume goes on from.
    if (!ok || !http_status::fetched(status)) {
        if (resume && !ok)
            file.keepWhatLanded(log);
        else
            file.discardFailed(log);
        return ok;
    }
    if (!file.complete(log)) {
        file.discardFailed(log);
        return false;
    }
    log.logDataInt64(resume ? "numBytesDownloaded" : "DownloadNumBytes", file.bytesInFile());
    // A device or a pipe took the body as it came, its codings undone or
    // checked on the way.
    if (!file.isRegularFile()) {
        ok = file.endStream(log) && file.commit(log);
        if (!ok)
            file.discard();
        return ok;
    }
    // What came is the content already (from a cache, or with no coding to
    // undo, or in a coding the caller asked for).
    if (!result.bodyCoded)
        return file.commit(log);
    // A whole answer to a resume replaces what was there; an append's bytes
    // begin where the file ended as it was opened.
    const std::int64_t from = file.replacedWhole() ? 0 : file.startPosition();
    const auto packedSize = static_cast<std::uint64_t>(file.bytesInFile() - from);
    const auto unpack = [&](DataSource& in, Output& out) {
        return undoContentCodings(result.responseHeader, in, packedSize, out, options.MaxResponseSize, log);
    };
    TessikHandle handle;
    FileDataSource written;
    written.setHandle(&handle);
    if (!file.readBack(handle, log)) {
        file.discardFailed(log);
        return false;
    }
    // A gzip file's name keeps the member packed, once it is read through
    // and found whole: a resume's range continues the member the file
    // begins, an append (and a resume that found no file) adds one of its
    // own. The limit capped the member as written; what it unpacks to is
    // never written, so has none.
    if (file.keepsPacked()) {
        const std::int64_t memberAt = resume && appendedAt != 0 ? 0 : from;
        Output nowhere;
        constexpr std::uint64_t kContentUnlimited = 0;
        ok = written.seekAbsolute64(memberAt, &log) &&
             undoContentCodings(result.responseHeader, written,
                                static_cast<std::uint64_t>(file.bytesInFile() - memberAt), nowhere, kContentUnlimited,
                                log);
        // The reader shares the part's lock, which would outlive the commit.
        handle.close();
        ok = ok && file.commit(log);
        if (!ok)
            file.discardFailed(log);
        return ok;
    }
    log.logInfo(resume ? "Downloaded compressed data." : "Download was compressed.  Decompressing...");
    // Only what this call wrote is unpacked: an appended file keeps its
    // earlier bytes as they were. The content takes the path's place whole,
    // or the path stays as it was before the call.
    DataBuffer packed;
    if (from == 0 && file.writesBeside()) {
        ok = unpackBeside(file, written, handle, unpack, packed, log);
        if (!ok && packed.getSize() == 0)
            ok = rewriteFile(written, localPath, from, unpack, log);
    } else {
        ok = rewriteFile(written, localPath, from, unpack, log);
    }
    if (ok)
        file.discard();
    else
        file.discardFailed(log);
    if (ok && !resume) {
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
    bool namesHost = false;
    if (client == nullptr || !HttpClient::checkMimeHead(mimeText, namesHost, log))
        return false;
    StringBuffer host, login, password, path, query, fragment;
    int port = kPlainPort;
    TessikUrl::crackUrl(target.getString(), host, port, login, password, path, query, fragment);
    const bool tls = target.beginsWithNoCase("https");
    // It follows no redirect: a 3xx is its answer, judged as any other.
    const RoadScope following(*client, RoadFollows::kNothing);
    bool fresh = false;
    if (!client->httpConnect(options, host.getString(), port, tls, log, pm, fresh))
        return false;
    bool ok = client->postMimeAttempts(options, host.getString(), port, tls, target.getString(), mimeText, result, body,
                                       log, pm, logDetails);
    if (ok && client->proxyAskedNtlm(result)) {
        if (!client->answerProxyNtlm(options, host.getString(), port, pm, log))
            return false;
        log.logInfo("Retrying POST MIME after proxy authentication...");
        ok = client->postMimeAttempts(options, host.getString(), port, tls, target.getString(), mimeText, result, body,
                                      log, pm, logDetails);
    }
    if (!ok || HttpClient::undoHandedCodings(result, body, 0, options.MaxResponseSize, log, pm))
        return ok;
    client->closeConnection(options, pm, log);
    return false;
}

} // namespace tessik
