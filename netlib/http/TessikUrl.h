#pragma once
// Splitting URLs into their parts, and the registrable ("base") domain of a
// host name, under which cookies are grouped and stored.
#include "netlib/core/StringBuffer.h"

namespace tessik {

class TessikUrl {
public:
    virtual ~TessikUrl();

    // Every output is emptied first. The schemes http, https, ftp and
    // file:/// are recognised in any case; the port is the number after the
    // host, else 443 for https and 80 otherwise. The host comes out with its
    // ASCII letters in lower case and an IPv6 literal without its brackets;
    // the path is "/" when the URL has none, and a "c:" right after file:///
    // (or with no scheme) is a drive, not a host. False only for a null URL.
    static bool crackUrl(const char* url, StringBuffer& host, int& port, StringBuffer& user, StringBuffer& password,
                         StringBuffer& path, StringBuffer& query, StringBuffer& fragment);
    static bool crackUrlHostOnly(const char* url, StringBuffer& host);

    // "www.example.com" -> "example.com", "www.example.co.uk" ->
    // "example.co.uk"; a host without '.' is returned as it is.
    static void getBaseDomain(const char* host, StringBuffer& domain);
};

} // namespace tessik
