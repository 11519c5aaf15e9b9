#pragma once
// The open connections of one HTTP component, least recently used first,
// and the synchronous request driver over them: find or make the
// connection, connect it, run the request, and send once more on a fresh
// connection when the kept-alive one had been dropped by the server.
#include <cstdint>
#include <memory>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"
#include "netlib/http/HttpClient.h"

namespace tessik {

class CallCredentials;
class HttpControl;
class Output;
class HttpRequest;
class HttpResult;
class LogBase;
class ProgressMonitor;

namespace http_pool {
inline constexpr int kMaxConnections = 10;
inline constexpr int kDefaultPort = 80;
} // namespace http_pool

class HttpConnPool : public TessikObject {
public:
    HttpConnPool();
    ~HttpConnPool() override;
    HttpConnPool(const HttpConnPool&) = delete;
    HttpConnPool& operator=(const HttpConnPool&) = delete;

    // The kept client of the origin whose connection was opened by the way
    // the options now give (see HttpClient::connectionRoute), else a new
    // one; null only when no connection object can be had. That way is
    // read from the settings here, once, and handed to the client for the
    // request (HttpClient::decideProxy).
    HttpClient* findOrCreateClient(const char* domain, int port, bool tls, HttpControl& options, LogBase& log);
    // The answer's body has its content codings undone, unless the caller
    // follows answers itself (road not kConnection): it then undoes them on
    // the answer it hands over (HttpClient::undoHandedCodings).
    bool synchronousRequest(HttpControl& options, const char* domain, int port, bool tls, HttpRequest& request,
                            HttpResult& result, DataBuffer& body, LogBase& log, ProgressMonitor* pm, bool logDetails,
                            RoadFollows road = RoadFollows::kConnection);

    // The quick drivers take a URL (trimmed, spaces sent as %20). Login and
    // password written in it serve that call only: the options' own are put
    // back afterwards, and the URL goes out without them.
    // GET into a buffer (its content codings undone, or the call fails).
    bool quickRequest(const char* url, HttpControl& options, DataBuffer& out, HttpResult& result, LogBase& log,
                      ProgressMonitor* pm, bool verbose);
    // GET of a text: the body converted to UTF-8 from its declared charset
    // (Content-Type, else an HTML page's own, else a UTF-8 preamble, else
    // windows-1252); NULs become spaces.
    bool quickGetText(const char* url, HttpControl& options, XString& text, HttpResult& result, LogBase& log,
                      ProgressMonitor* pm, bool verbose);
    // GET into a local file, created anew or appended to; a failed download
    // or an error status leaves no file that was not there before. A coded
    // answer is unpacked in place (a gzip one kept when the name ends in .gz
    // or .tgz); one that cannot be is a failure that leaves the file as it was.
    bool downloadToFile(const char* url, HttpControl& options, const char* localPath, bool append, HttpResult& result,
                        LogBase& log, ProgressMonitor* pm, bool verbose);
    // GET of the rest of a partial local file, from its size on.
    bool resumeDownload(const char* url, HttpControl& options, const char* localPath, HttpResult& result, LogBase& log,
                        ProgressMonitor* pm, bool verbose);
    // POST of a caller-made MIME text (header fields, empty line, body).
    bool postMime(const char* url, HttpControl& options, const StringBuffer& mimeText, HttpResult& result,
                  DataBuffer& body, LogBase& log, ProgressMonitor* pm, bool logDetails);

    int getCount() const { return m_clients.getCount(); }
    HttpClient* clientAt(int index) const;
    XString& sessionLogFilename() { return m_sessionLog; }

private:
    void prepareClient(HttpClient& client);
    // The kept client for the origin and route, else a new one.
    HttpClient* pickClient(const StringBuffer& wantHost, std::uint32_t wantPort, const StringBuffer& route);
    // The connection for a quick driver's URL; null when the URL cannot be
    // read. cleanUrl gets the URL to request.
    HttpClient* quickClient(const char* url, HttpControl& options, CallCredentials& credentials, StringBuffer& cleanUrl,
                            LogBase& log);
    bool quickGetToOutputOnExisting(HttpClient& client, const char* url, HttpControl& options, Output& out,
                                    HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose);
    bool download(const char* url, HttpControl& options, const char* localPath, bool append, bool resume,
                  HttpResult& result, LogBase& log, ProgressMonitor* pm, bool verbose);

    int m_maxConnections;
    ExtPtrArray m_clients;
    // Room for each request's decided way before it goes to its client.
    std::unique_ptr<ProxySetting> m_decision;
    XString m_sessionLog;
};

} // namespace tessik
