#pragma once
// The HTTP component behind TsHttp: the options of all its requests, its
// pool of open connections and the result of the last request. It locks
// itself around a whole request, so threads that share one component take
// turns. Besides the fully described request it has methods that take a URL
// (fetch, download, upload), object-storage requests, and a background task
// that runs one of them on a thread of its own.
#include <functional>

#include "netlib/core/ClsBase.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/Progress.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/http/ClsBgTask.h"
#include "netlib/http/ClsHttpRequest.h"
#include "netlib/http/ClsHttpResponse.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

namespace http_cls {
inline constexpr unsigned int kMonitorTotal = 100;
inline constexpr const char* kDefaultS3ServiceHost = "s3.amazonaws.com";
} // namespace http_cls

// Methods a background task can run, by their dispatcher numbers.
enum class BgMethod : int {
    Download = 1,
    QuickGetStr = 2,
    DownloadAppend = 3,
    GetHead = 4,
    PostBinary = 5,
    PostUrlEncoded = 6,
    PostXml = 7,
    PutBinary = 8,
    PutText = 9,
    QuickDeleteStr = 10,
    QuickGet = 11,
    QuickGetObj = 12,
    QuickPutStr = 13,
    ResumeDownload = 14,
    SynchronousRequest = 15,
    XmlRpc = 16,
    XmlRpcPut = 17,
    PostMime = 18,
    S3DeleteBucket = 19,
    S3DeleteObject = 20,
    S3DownloadBytes = 21,
    S3DownloadFile = 22,
    S3DownloadString = 23,
    S3ListBucketObjects = 24,
    S3ListBuckets = 25,
    S3UploadBytes = 26,
    S3UploadFile = 27,
    S3UploadString = 28,
};

class ClsHttp : public ClsBase, public TessikCritSec, public ClsBgTask {
public:
    ClsHttp();
    // Waits for a background task that is still running.
    ~ClsHttp() override;

    // Sends the request to domain:port; the new response belongs to the
    // caller. Any HTTP status is a response; null when the exchange failed,
    // with the reason in the own log. With the use-thread flag on, the
    // request is queued instead and null comes back at once.
    ClsHttpResponse* SynchronousRequest(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                        ProgressEvent* progress);
    // The worker: the own log on a direct call, a task's log otherwise.
    ClsHttpResponse* synchronousRequestImpl(const char* domain, int port, bool ssl, ClsHttpRequest& request,
                                            ProgressEvent* progress, LogBase& log);
    // One request, then one 302 followed when the options allow it. With
    // useCallerBuffer the body goes to callerBody and the status to the last
    // result, and no response is made.
    ClsHttpResponse* requestFollowRedirect(const char* host, int port, bool ssl, ClsHttpRequest& request,
                                           ProgressEvent* progress, bool useCallerBuffer, DataBuffer* callerBody,
                                           bool& ok, LogBase& log, bool verbose);
    // Whether requestFollowRedirect follows a 302 of request, and by which
    // verb (redirectVerb, also when it does not).
    bool redirectVerbOf(ClsHttpRequest& request, StringBuffer& redirectVerb) const;
    ClsHttpResponse* fullRequest(const char* host, int port, bool ssl, ClsHttpRequest& request, ProgressEvent* progress,
                                 bool useCallerBuffer, DataBuffer* callerBody, bool& ok, LogBase& log, bool verbose);

    // ---- Methods that take a URL. After their own arguments each takes
    // `nested` (a method of this component already holds the lock and has
    // its frame open on log), a progress sink (may be null) and the log.
    // The fetches and the body-less PUT and DELETE fail on a status of 400
    // or more (the body is still stored); uploads succeed whatever the
    // status, which is in the last result.
    bool Download(XString& url, XString& localPath, bool nested, ProgressEvent* progress, LogBase& log);
    bool DownloadAppend(XString& url, XString& localPath, bool nested, ProgressEvent* progress, LogBase& log);
    // Continues a partial file from its size; a server that ignores the
    // range replaces it whole.
    bool ResumeDownload(XString& url, XString& localPath, bool nested, ProgressEvent* progress, LogBase& log);
    bool QuickGet(XString& url, DataBuffer& out, bool nested, ProgressEvent* progress, LogBase& log);
    bool QuickGetStr(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log);
    // QuickGetStr inside a plain log context, for the object-storage lists.
    bool HttpGet(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log);
    // The responses below belong to the caller; null when the exchange
    // failed.
    ClsHttpResponse* QuickGetObj(XString& url, bool nested, ProgressEvent* progress, LogBase& log);
    bool QuickPutStr(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log);
    bool QuickDeleteStr(XString& url, XString& out, bool nested, ProgressEvent* progress, LogBase& log);
    ClsHttpResponse* GetHead(XString& url, bool nested, ProgressEvent* progress, LogBase& log);
    // The URL's query parameters join the request's own.
    ClsHttpResponse* PostUrlEncoded(XString& url, ClsHttpRequest& request, bool nested, ProgressEvent* progress,
                                    LogBase& log);
    ClsHttpResponse* PostXml(XString& url, XString& xml, XString& charset, bool nested, ProgressEvent* progress,
                             LogBase& log);
    // A complete MIME text: header fields, an empty line, the body.
    ClsHttpResponse* PostMime(XString& url, XString& mime, bool nested, ProgressEvent* progress, LogBase& log);
    // With md5, a Content-MD5 of the bytes as given; with gzip, the body
    // goes out as one gzip member with "Content-Encoding: gzip".
    bool PostBinary(XString& url, DataBuffer& bytes, XString& contentType, bool md5, bool gzip, XString& out,
                    bool nested, ProgressEvent* progress, LogBase& log);
    bool PutBinary(XString& url, DataBuffer& bytes, XString& contentType, bool md5, bool gzip, XString& out,
                   bool nested, ProgressEvent* progress, LogBase& log);
    bool PutText(XString& url, XString& text, XString& charset, XString& contentType, bool md5, bool gzip, XString& out,
                 bool nested, ProgressEvent* progress, LogBase& log);
    // The XML goes out in the encoding its declaration names (utf-8 when
    // none); the reply comes back parsed and written out again.
    bool XmlRpc(XString& url, XString& xml, XString& out, bool nested, ProgressEvent* progress, LogBase& log);
    bool XmlRpcPut(XString& url, XString& xml, XString& out, bool nested, ProgressEvent* progress, LogBase& log);

    // ---- Object-storage requests, signed with the S3 keys. Object names
    // are percent-encoded in the URL and signed as sent. The signing header
    // fields serve their one request: the options are as before afterwards.
    bool S3_ListBuckets(XString& out, ProgressEvent* progress, LogBase& log);
    bool S3_ListBucketObjects(XString& bucket, XString& out, ProgressEvent* progress, LogBase& log);
    bool S3_DownloadBytes(XString& bucket, XString& object, DataBuffer& out, ProgressEvent* progress, LogBase& log);
    bool S3_DownloadString(XString& bucket, XString& object, XString& charset, XString& out, ProgressEvent* progress,
                           LogBase& log);
    bool S3_DownloadFile(XString& bucket, XString& object, XString& localPath, ProgressEvent* progress, LogBase& log);
    bool S3_UploadBytes(XString& bucket, XString& object, XString& contentType, DataBuffer& bytes,
                        ProgressEvent* progress, LogBase& log);
    bool S3_UploadString(XString& bucket, XString& object, XString& contentType, XString& charset, XString& text,
                         ProgressEvent* progress, LogBase& log);
    bool S3_UploadFile(XString& bucket, XString& object, XString& contentType, XString& localPath,
                       ProgressEvent* progress, LogBase& log);
    bool S3_DeleteObject(XString& bucket, XString& object, ProgressEvent* progress, LogBase& log);
    bool S3_DeleteBucket(XString& bucket, ProgressEvent* progress, LogBase& log);

    void setS3Keys(const char* accessKey, const char* secretKey);
    // The object-storage service's host, with ":port" when not 80.
    void setS3ServiceHost(const char* host) { m_s3ServiceHost.setString(host); }

    // The lines of a signature-version-2 string to sign: the verb, the
    // Content-MD5 of a body of one byte or more, the content type, the date,
    // the canonical extra header lines (each ending in LF; empty for none)
    // and the canonical resource. contentMd5 receives the second line.
    static void buildS3StringToSign(const char* verb, const DataBuffer* body, const char* contentType, const char* date,
                                    const char* canonicalHeaders, const char* resource, StringBuffer& out,
                                    StringBuffer& contentMd5);
    // Base64 of HMAC-SHA1 of the text under the key.
    static void signS3(const StringBuffer& secretKey, const StringBuffer& stringToSign, StringBuffer& signature);
    // An object name as it goes into the URL path and the canonical
    // resource: every byte outside A-Z a-z 0-9 - . _ ~ and '/' as %XX,
    // runs of '/' made single and no '/' in front.
    static void s3ObjectPath(const char* utf8Object, StringBuffer& out);
    // Base64 of the MD5 digest of the bytes.
    static void contentMd5Base64(const DataBuffer& bytes, StringBuffer& out);
    // User-Agent, the options' extra fields, Host (unless an extra field is
    // named so), Accept, Accept-Charset, Accept-Language, Referer and
    // Accept-Encoding, each only when not there already.
    void addDefaultHeaders(ClsHttpRequest& request, const char* host);

    // ---- The background task (no operation of the application uses it).
    // Refused at once while a task is queued or running (false, see
    // refusedWhileBusy); otherwise, under the lock, the arguments are
    // cleared, `push` queues the method's arguments in its order and the
    // thread starts.
    bool queueBackgroundTask(BgMethod method, const char* methodName, const std::function<void(ClsBgTask&)>& push);
    // True, at once, while a task is queued or runs: the call is refused,
    // not kept waiting for the task to let go of the component. The reason
    // is logged where the log is free: the lock's holder's, or anyone's
    // while the task runs (a queued task's queuer may still write it).
    bool refusedWhileBusy(const char* methodName);
    bool startBackgroundTask(const char* methodName);
    // The thread procedure: runs the queued method with the task log.
    static int backgroundThreadProc(ClsHttp* component);
    void setUseBackgroundThread(bool on);
    // The readers take the task's state lock only, never the component's:
    // they answer at once while a task runs (its results are those of the
    // last task that ended, cleared when the next one starts).
    bool backgroundTaskBusy();
    bool backgroundTaskFinished();
    bool backgroundTaskResult();
    void backgroundStringResult(XString& out);
    void backgroundBytesResult(DataBuffer& out);
    void backgroundTaskLog(XString& out);
    // Waits until no task is queued or running; false when timeoutMs passed.
    bool waitForBackgroundTask(unsigned int timeoutMs);
    // Replaces (and deletes) the last response; under the state lock.
    void setLastResponse(ClsHttpResponse* response);
    // The response a background task delivered, now the caller's; null
    // when there is none.
    ClsHttpResponse* takeLastResponse();

    HttpControl& options() { return m_options; }
    HttpConnPool& pool() { return m_pool; }
    HttpResult& lastResult() { return m_lastResult; }
    void setVerboseLogging(bool on) { m_verboseLogging = on; }

private:
    class CallFrame;

    // The runs the table of methods shares.
    bool quickGetRun(const char* name, XString& url, DataBuffer& out, bool nested, ProgressEvent* progress,
                     LogBase& log);
    bool quickTextRun(const char* name, const char* verb, bool keepVerb, XString& url, XString& out, bool nested,
                      ProgressEvent* progress, LogBase& log);
    bool downloadRun(const char* name, XString& url, XString& localPath, bool append, bool resume, bool nested,
                     ProgressEvent* progress, LogBase& log);
    bool sendBodyRun(const char* name, const char* verb, XString& url, DataBuffer& bytes, XString& contentType,
                     bool md5, bool gzip, XString& out, bool nested, ProgressEvent* progress, LogBase& log);
    bool sendBody(const char* verb, XString& url, DataBuffer& bytes, XString& contentType, bool md5, bool gzip,
                  XString& out, ProgressEvent* progress, LogBase& log);
    bool xmlRpcRun(const char* name, bool put, XString& url, XString& xml, XString& out, bool nested,
                   ProgressEvent* progress, LogBase& log);
    // Where a request built from a URL goes.
    struct RequestTarget {
        StringBuffer host;
        int port = 0;
        bool tls = false;
    };
    // Path, query and TLS of a URL into a request with the default fields.
    bool requestFromUrl(const char* url, ClsHttpRequest& request, RequestTarget& target, LogBase& log);
    // The XML in the charset as the body of a POST (or PUT) to the URL.
    bool xmlRequest(const char* url, XString& xml, const char* charset, bool put, ClsHttpRequest& request,
                    RequestTarget& target, LogBase& log);

    // An answer came, and it is no 2xx: the resource was not fetched (a
    // redirect not followed fetched nothing either), or a write (an
    // object's PUT, a DELETE) was not done. Logged with its status.
    static bool notFetched(bool answered, const HttpResult& result, LogBase& log);
    static bool notWritten(bool answered, const HttpResult& result, LogBase& log);

    // Object storage: the signed GET, PUT and DELETE.
    bool s3Get(XString& bucket, XString& object, DataBuffer* outBytes, XString* localPath, ProgressEvent* progress,
               LogBase& log);
    bool s3Put(XString& bucket, XString& object, XString& contentType, DataBuffer& body, ProgressEvent* progress,
               LogBase& log);
    bool s3Delete(XString& bucket, XString* object, ProgressEvent* progress, LogBase& log);
    // Signs the request, logs its lines and sets the signing header fields.
    // The Host is the URL's own, written by the road like any other.
    void s3Sign(const char* verb, const DataBuffer* body, const char* contentType, const char* resource, LogBase& log);
    // The canonical resource and URL of a bucket, or of an object in it;
    // false (logged) for a bucket name outside [a-zA-Z0-9._-]{1,255}, which
    // would move the request to another host, or an object name holding a
    // control byte.
    bool s3Target(XString& bucket, XString* object, StringBuffer& resource, StringBuffer& url, LogBase& log);
    // Bytes in a named charset as text, read as a body is
    // (namedCharsetTextUtf8); without a charset, UTF-8 when they are that,
    // else Windows-1252. False (logged) for a charset without a decoder.
    static bool bytesToText(const DataBuffer& bytes, const char* charset, XString& out, LogBase& log);

    // Runs the queued method; its results go to the out arguments.
    void dispatchBackgroundTask(bool& result, XString& text, DataBuffer& bytes);
    // The task's end: its results kept, busy off, the waiters woken.
    void endBackgroundTask(bool result, XString& text, DataBuffer& bytes);

    HttpControl m_options;
    HttpConnPool m_pool;
    HttpResult m_lastResult;
    StringBuffer m_s3AccessKey;
    StringBuffer m_s3SecretKey;
    StringBuffer m_s3ServiceHost;
    ClsHttpResponse* m_lastResponse;
    bool m_verboseLogging;
};

} // namespace tessik
