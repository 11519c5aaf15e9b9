// Object-storage requests of the HTTP component: signature version 2
// (HMAC-SHA1 over a canonical string, Base64) and the bucket and object
// methods, each an ordinary quick request with its signing header fields.
#include <string_view>

#include "netlib/crypto/HashAlgorithms.h"
#include "netlib/crypto/Hmac.h"
#include "netlib/http/ClsHttp.h"
#include "netlib/http/HttpConstants.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/text/ContentCoding.h"
#include "netlib/text/DateParser.h"
#include "netlib/text/UrlCoding.h"

namespace tessik {

namespace {

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// The options' fields as they were before a signed request; they come
// back when it ends.
class SigningFieldsScope {
public:
    explicit SigningFieldsScope(HttpControl& options) : m_options(options) { m_fields.copyFrom(options.extraHeaders); }
    ~SigningFieldsScope() { m_options.extraHeaders.copyFrom(m_fields); }
    SigningFieldsScope(const SigningFieldsScope&) = delete;
    SigningFieldsScope& operator=(const SigningFieldsScope&) = delete;

private:
    HttpControl& m_options;
    MimeHeader m_fields;
};

// What botocore takes for a bucket name before it connects: the name
// becomes part of the host, where '/', ':', '@', '#', '?' or a space would
// make another one.
bool isBucketName(const StringBuffer& name) {
    const std::string_view text(name.getString(), static_cast<std::size_t>(name.getSize()));
    if (text.empty() || text.size() > http_s3::kMaxBucketName)
        return false;
    for (const char c : text)
        if (!isUnreserved(static_cast<unsigned char>(c)) || c == '~')
            return false;
    return true;
}

// The frame of an object-storage method: the component's lock, the method's
// context with the names it works on, and the closing line.
class S3Frame {
public:
    S3Frame(ClsHttp& http, const char* name, LogBase& log, XString* bucket = nullptr, XString* object = nullptr)
        : m_lock(http), m_log(log) {
        http.enterMethodLog(name, log);
        if (bucket != nullptr)
            log.logData("bucketName", bucket->getUtf8());
        if (object != nullptr)
            log.logData("objectName", object->getUtf8());
    }
    S3Frame(const S3Frame&) = delete;
    S3Frame& operator=(const S3Frame&) = delete;

    bool finish(bool ok) {
        ClsBase::logSuccessOrFailed(ok, m_log);
        m_log.leaveContext();
        return ok;
    }

private:
    CritSecExitor m_lock;
    LogBase& m_log;
};

} // namespace

// ---- Signing

void ClsHttp::setS3Keys(const char* accessKey, const char* secretKey) {
    CritSecExitor lock(*this);
    m_s3AccessKey.setString(accessKey != nullptr ? accessKey : "");
    m_s3SecretKey.secureClear();
    m_s3SecretKey.setString(secretKey != nullptr ? secretKey : "");
}

void ClsHttp::s3ObjectPath(const char* utf8Object, StringBuffer& out) {
    out.clear();
    for (const char* p = utf8Object != nullptr ? utf8Object : ""; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (isUnreserved(c) || c == '/') {
            out.appendChar(static_cast<char>(c));
            continue;
        }
        appendPercentEscape(c, out);
    }
    while (out.containsSubstring("//"))
        out.replaceAll("//", "/");
    if (out.beginsWith("/"))
        out.removeChunk(0, 1);
}

void ClsHttp::buildS3StringToSign(const char* verb, const DataBuffer* body, const char* contentType, const char* date,
                                  const char* canonicalHeaders, const char* resource, StringBuffer& out,
                                  StringBuffer& contentMd5) {
    contentMd5.clear();
    if (body != nullptr && body->getSize() != 0)
        contentMd5Base64(*body, contentMd5);
    out.setString(verb);
    out.appendChar('\n');
    out.appendSb(contentMd5);
    out.appendChar('\n');
    out.append(contentType != nullptr ? contentType : "");
    out.appendChar('\n');
    out.append(date != nullptr ? date : "");
    out.appendChar('\n');
    out.append(canonicalHeaders != nullptr ? canonicalHeaders : "");
    out.append(resource != nullptr ? resource : "");
}

void ClsHttp::signS3(const StringBuffer& secretKey, const StringBuffer& stringToSign, StringBuffer& signature) {
    unsigned char mac[kSha1DigestSize];
    Hmac hmac;
    hmac.hmacSha1(secretKey.getString(), secretKey.getSize(), stringToSign.getString(),
                  static_cast<std::uint32_t>(stringToSign.getSize()), mac);
    signature.clear();
    ContentCoding::encodeBase64NoCrlf(mac, sizeof mac, signature);
}

void ClsHttp::s3Sign(const char* verb, const DataBuffer* body, const char* contentType, const char* resource,
                     LogBase& log) {
    StringBuffer date;
    DateParser dates;
    dates.generateCurrentGmtDate(date);
    StringBuffer toSign;
    StringBuffer contentMd5;
    buildS3StringToSign(verb, body, contentType, date.getString(), "", resource, toSign, contentMd5);
    log.logData("stringToSign", toSign.getString());
    StringBuffer signature;
    signS3(m_s3SecretKey, toSign, signature);
    StringBuffer authorization("AWS ");
    authorization.appendSb(m_s3AccessKey);
    authorization.appendChar(':');
    authorization.appendSb(signature);
    MimeHeader& fields = m_options.extraHeaders;
    log.logData("Authorization", authorization.getString());
    fields.replaceField("Authorization", authorization.getString(), false);
    fields.replaceField("Date", date.getString(), false);
    fields.replaceField("Content-MD5", contentMd5.getString(), false);
}

bool ClsHttp::s3Target(XString& bucket, XString* object, StringBuffer& resource, StringBuffer& url, LogBase& log) {
    if (!isBucketName(bucket.getUtf8Sb())) {
        log.logError(http_s3::kMsgBadBucketName);
        return false;
    }
    // Encoded, an object name's control bytes would go out as escapes: the
    // name is refused instead, as a URL holding them is.
    if (object != nullptr && TessikUrl::holdsControlByte(object->getUtf8Sb())) {
        log.logError(url_msg::kControlByteInUrl);
        return false;
    }
    StringBuffer path;
    if (object != nullptr)
        s3ObjectPath(object->getUtf8(), path);
    resource.setString("/");
    resource.append(bucket.getUtf8());
    resource.appendChar('/');
    resource.appendSb(path);
    url.setString("http://");
    url.append(bucket.getUtf8());
    url.appendChar('.');
    url.appendSb(m_s3ServiceHost);
    url.appendChar('/');
    url.appendSb(path);
    return true;
}

// ---- The signed requests

bool ClsHttp::s3Get(XString& bucket, XString& object, DataBuffer* outBytes, XString* localPath, ProgressEvent* progress,
                    LogBase& log) {
    if (outBytes != nullptr)
        outBytes->clear();
    StringBuffer resource, url;
    if (!s3Target(bucket, &object, resource, url, log))
        return false;
    SigningFieldsScope scope(m_options);
    s3Sign("GET", nullptr, "", resource.getString(), log);
    XString target;
    target.setFromUtf8(url.getString());
    // Both roads judge the answer by the fetch rule before the caller's file
    // or bytes are touched; a second test here would fail a call whose file
    // was already replaced.
    return localPath != nullptr ? Download(target, *localPath, true, progress, log)
                                : QuickGet(target, *outBytes, true, progress, log);
}

bool ClsHttp::s3Put(XString& bucket, XString& object, XString& contentType, DataBuffer& body, ProgressEvent* progress,
                    LogBase& log) {
    StringBuffer resource, url;
    if (!s3Target(bucket, &object, resource, url, log))
        return false;
    log.logData("resource", resource.getString());
    SigningFieldsScope scope(m_options);
    s3Sign("PUT", &body, contentType.getUtf8(), resource.getString(), log);
    XString target, reply;
    target.setFromUtf8(url.getString());
    const bool ok = PutBinary(target, body, contentType, false, false, reply, true, progress, log);
    log.logData("responseBody", reply.getUtf8());
    return ok && !notWritten(ok, m_lastResult, log);
}

bool ClsHttp::s3Delete(XString& bucket, XString* object, ProgressEvent* progress, LogBase& log) {
    StringBuffer resource, url;
    if (!s3Target(bucket, object, resource, url, log))
        return false;
    SigningFieldsScope scope(m_options);
    s3Sign("DELETE", nullptr, "", resource.getString(), log);
    XString target, reply;
    target.setFromUtf8(url.getString());
    const bool ok = QuickDeleteStr(target, reply, true, progress, log);
    StringBuffer head;
    m_lastResult.responseHeader.getFullHeader(head, "utf-8", log, false);
    log.logData("responseHeader", head.getString());
    log.logData("responseBody", reply.getUtf8());
    return ok && !notWritten(ok, m_lastResult, log);
}

// ---- The public methods

bool ClsHttp::S3_ListBuckets(XString& out, ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_ListBuckets", log);
    SigningFieldsScope scope(m_options);
    s3Sign("GET", nullptr, "", "/", log);
    StringBuffer url("http://");
    url.appendSb(m_s3ServiceHost);
    url.appendChar('/');
    XString target;
    target.setFromUtf8(url.getString());
    const bool ok = HttpGet(target, out, true, progress, log);
    log.logData("responseBody", out.getUtf8());
    return frame.finish(ok);
}

bool ClsHttp::S3_ListBucketObjects(XString& bucket, XString& out, ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_ListBucketObjects", log, &bucket);
    StringBuffer resource, url;
    if (!s3Target(bucket, nullptr, resource, url, log))
        return frame.finish(false);
    SigningFieldsScope scope(m_options);
    s3Sign("GET", nullptr, "", resource.getString(), log);
    XString target;
    target.setFromUtf8(url.getString());
    const bool ok = HttpGet(target, out, true, progress, log);
    log.logData("responseBody", out.getUtf8());
    return frame.finish(ok);
}

bool ClsHttp::S3_DownloadBytes(XString& bucket, XString& object, DataBuffer& out, ProgressEvent* progress,
                               LogBase& log) {
    S3Frame frame(*this, "S3_DownloadBytes", log, &bucket, &object);
    return frame.finish(s3Get(bucket, object, &out, nullptr, progress, log));
}

bool ClsHttp::S3_DownloadString(XString& bucket, XString& object, XString& charset, XString& out,
                                ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_DownloadString", log, &bucket, &object);
    log.logData("charset", charset.getUtf8());
    out.clear();
    DataBuffer bytes;
    bool ok = s3Get(bucket, object, &bytes, nullptr, progress, log);
    if (ok) {
        log.logDataLong("numContentBytes", static_cast<int>(bytes.getSize()));
        ok = bytesToText(bytes, charset.getUtf8(), out, log);
        log.logDataLong("numChars", out.getNumChars());
    }
    return frame.finish(ok);
}

bool ClsHttp::S3_DownloadFile(XString& bucket, XString& object, XString& localPath, ProgressEvent* progress,
                              LogBase& log) {
    S3Frame frame(*this, "S3_DownloadFile", log, &bucket, &object);
    log.logData("localFilePath", localPath.getUtf8());
    return frame.finish(s3Get(bucket, object, nullptr, &localPath, progress, log));
}

bool ClsHttp::S3_UploadBytes(XString& bucket, XString& object, XString& contentType, DataBuffer& bytes,
                             ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_UploadBytes", log, &bucket, &object);
    log.logData("contentType", contentType.getUtf8());
    log.logDataLong("numBytes", static_cast<int>(bytes.getSize()));
    return frame.finish(s3Put(bucket, object, contentType, bytes, progress, log));
}

bool ClsHttp::S3_UploadString(XString& bucket, XString& object, XString& contentType, XString& charset, XString& text,
                              ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_UploadString", log, &bucket, &object);
    log.logData("contentType", contentType.getUtf8());
    log.logData("charset", charset.getUtf8());
    DataBuffer bytes;
    if (!convertToNamedCharset(charset.getUtf8(), text, bytes, true, log))
        return frame.finish(false);
    log.logDataLong("numBytesToUpload", static_cast<int>(bytes.getSize()));
    return frame.finish(s3Put(bucket, object, contentType, bytes, progress, log));
}

bool ClsHttp::S3_UploadFile(XString& bucket, XString& object, XString& contentType, XString& localPath,
                            ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_UploadFile", log, &bucket, &object);
    log.logData("contentType", contentType.getUtf8());
    log.logData("localFilePath", localPath.getUtf8());
    DataBuffer bytes;
    if (!bytes.loadFileUtf8(localPath.getUtf8(), &log))
        return frame.finish(false);
    return frame.finish(s3Put(bucket, object, contentType, bytes, progress, log));
}

bool ClsHttp::S3_DeleteObject(XString& bucket, XString& object, ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_DeleteObject", log, &bucket, &object);
    return frame.finish(s3Delete(bucket, &object, progress, log));
}

bool ClsHttp::S3_DeleteBucket(XString& bucket, ProgressEvent* progress, LogBase& log) {
    S3Frame frame(*this, "S3_DeleteBucket", log, &bucket);
    return frame.finish(s3Delete(bucket, nullptr, progress, log));
}

} // namespace tessik
