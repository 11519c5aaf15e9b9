#pragma once
// What the HTTP tests share: the log and body as text, and one
// request through a pool of its own (a POST carries a one-field form).
#include <cstdint>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/http/HttpConnPool.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/HttpRequest.h"
#include "netlib/http/HttpResponseHeader.h"

namespace authtest {

inline std::string logText(tessik::LogBase& log) {
    tessik::StringBuffer text;
    log.getLogText(text);
    return text.getString();
}

inline std::string text(const tessik::DataBuffer& b) {
    return std::string(reinterpret_cast<const char*>(b.getData()), b.getSize());
}

// The NTLMv2 CHALLENGE of MS-NLMP 4.2.4, Base64.
inline constexpr const char* kNtlmChallenge =
    "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2"
    "AGUAcgACAAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

// A whole response with a Content-Length.
inline std::string canned(const char* status, const std::string& fields, const std::string& body) {
    return std::string("HTTP/1.1 ") + status + "\r\n" + fields + "Content-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
}

inline bool poolRequest(tessik::HttpControl& options, const char* host, int port, const char* verb, const char* path,
                        std::string& body, std::uint32_t& status, tessik::Logger& log) {
    tessik::HttpRequest r;
    r.setVerb(verb);
    r.setPath(path);
    if (std::string(verb) == "POST") {
        r.setHeader("Content-Type", "application/x-www-form-urlencoded");
        r.addParam("entry", "pain 4");
    }
    tessik::HttpConnPool pool;
    tessik::HttpResult result;
    tessik::DataBuffer got;
    const bool ok = pool.synchronousRequest(options, host, port, false, r, result, got, log, nullptr, true);
    body = text(got);
    status = result.responseHeader.getStatusCode();
    return ok;
}

} // namespace authtest
