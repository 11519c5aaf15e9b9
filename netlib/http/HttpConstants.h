#pragma once
// Message texts and fixed values of the HTTP component that callers and
// tests match exactly, and the status codes the client acts on.
#include <cstddef>
#include <cstdint>

namespace tessik {

namespace http_status {
inline constexpr std::uint32_t kContinue = 100;
inline constexpr std::uint32_t kSwitchingProtocols = 101;
inline constexpr std::uint32_t kSuccessFirst = 200;
inline constexpr std::uint32_t kOk = 200;
inline constexpr std::uint32_t kPartialContent = 206;
inline constexpr std::uint32_t kNoContent = 204;
inline constexpr std::uint32_t kRedirectFirst = 300;
inline constexpr std::uint32_t kMovedPermanently = 301;
inline constexpr std::uint32_t kFound = 302;
inline constexpr std::uint32_t kSeeOther = 303;
inline constexpr std::uint32_t kNotModified = 304;
inline constexpr std::uint32_t kTemporaryRedirect = 307;
inline constexpr std::uint32_t kPermanentRedirect = 308;
inline constexpr std::uint32_t kClientErrorFirst = 400;
inline constexpr std::uint32_t kUnauthorized = 401;
inline constexpr std::uint32_t kForbidden = 403;
inline constexpr std::uint32_t kMethodNotAllowed = 405;
inline constexpr std::uint32_t kProxyAuthRequired = 407;
inline constexpr std::uint32_t kRangeNotSatisfiable = 416;
inline constexpr std::uint32_t kServerError = 500;
inline constexpr std::uint32_t kUnavailable = 503;

// The one rule a road that fetches a resource (a download, the quick GETs
// and their text forms) succeeds by: its final answer is a 2xx. A road that
// hands the answer itself back (a response object, an upload's reply) takes
// any final answer; a 101 is never one (the reader refuses it).
inline constexpr bool fetched(std::uint32_t status) {
    return status >= kSuccessFirst && status < kRedirectFirst;
}
} // namespace http_status

namespace http_s3 {
// A bucket name is 1 to this many of [a-zA-Z0-9._-], as botocore checks it.
inline constexpr std::size_t kMaxBucketName = 255;
inline constexpr const char* kMsgBadBucketName =
    "The bucket name is not 1 to 255 letters, digits, '.', '-' and '_': refused, nothing was sent.";
} // namespace http_s3

// Slots in each facade object's ring of returned strings.
constexpr int kResultRingSize = 10;

namespace http_msg {
constexpr const char* kFormContentType = "application/x-www-form-urlencoded";
constexpr const char* kNoDecoderForCharset =
    "The library has no decoder for the charset named, or it could not read every byte: no text is given.";
constexpr const char* kDownloadPathNotAFile = "The local path of a download is empty or a folder.";
constexpr const char* kDownloadSeekBeforeStart = "A download never writes over the bytes that were there before it.";
constexpr const char* kRedirectNotFollowed =
    "The answer is a redirect that was not followed: the resource was not fetched, the call fails with its status.";
constexpr const char* kNotFetched =
    "The final answer is no 2xx: the resource was not fetched, the call fails with its status.";
constexpr const char* kResumeAlreadyWhole =
    "The server has no bytes past the file's end and names its length as the file's: the file is whole already.";
constexpr const char* kMadeFileLeft =
    "The file this download made was left: its name no longer leads to it, and what it leads to is not this call's.";
constexpr const char* kMadeFileNotRemoved = "The file this download made could not be removed:";
constexpr const char* kNotWritten =
    "The final answer is no 2xx: the object was not stored or deleted, the call fails with its status.";
constexpr const char* kBodyBeforeStatus =
    "Body bytes came before their answer's status was known: nothing is written, the call fails.";
constexpr const char* kDownloadRangeMismatch =
    "A 206 answer whose Content-Range does not begin where the requested range does: the file is left as it was.";
constexpr const char* kPartNotWhole =
    "A 206 answer to a request for the whole resource whose Content-Range does not begin at its first byte: the part "
    "is not the resource, the call fails.";
} // namespace http_msg

} // namespace tessik
