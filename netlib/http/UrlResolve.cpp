#include "netlib/http/UrlResolve.h"

#include <cstring>

#include "netlib/http/HttpClient.h"
#include "netlib/http/TessikUrl.h"

namespace tessik {

namespace {

constexpr int kMaxFolds = 100;
constexpr int kHttpPort = 80;
constexpr int kHttpsPort = 443;

void replaceUntilGone(StringBuffer& text, const char* find, const char* replacement) {
    while (text.replaceAll(find, replacement) != 0) {
    }
}

} // namespace

bool resolveRedirectUrl(const char* baseUrl, const char* location, StringBuffer& out) {
    StringBuffer target(location != nullptr ? location : "");
    target.trimWhitespace();
    out.clear();
    StringBuffer base(baseUrl != nullptr ? baseUrl : "");
    if (base.getSize() == 0 || target.getSize() == 0 || target.beginsWithNoCase("http:") ||
        target.beginsWithNoCase("https:")) {
        out.setSb(target);
        return true;
    }
    // The query and fragment of the location are no part of its path.
    const char* cut = std::strpbrk(target.getString(), "?#");
    StringBuffer tail(cut != nullptr ? cut : "");
    if (cut != nullptr)
        target.shorten(static_cast<int>(std::strlen(cut)));
    const bool https = base.beginsWithNoCase("https:");
    out.append(https ? "https:" : "http:");
    if (target.beginsWith("//")) {
        // A network-path reference: only the scheme comes from the base.
        out.appendSb(target);
    } else {
        StringBuffer host, user, password, path, query, fragment;
        int port = 0;
        TessikUrl::crackUrl(base.getString(), host, port, user, password, path, query, fragment);
        StringBuffer merged;
        if (target.beginsWith("/"))
            merged.setSb(target);
        else
            mergeUrlPath(path.getString(), target.getString(), merged);
        out.append("//");
        HttpClient::appendHostForUrl(host, out);
        if (port != (https ? kHttpsPort : kHttpPort)) {
            out.appendChar(':');
            out.appendInt(port);
        }
        out.appendSb(merged);
    }
    collapseDotSegments(out);
    out.appendSb(tail);
    return true;
}

void mergeUrlPath(const char* basePath, const char* relativePath, StringBuffer& out) {
    out.setString(basePath != nullptr ? basePath : "");
    out.chopAtLastChar('/');
    if (out.lastChar() != '/')
        out.appendChar('/');
    const char* rest = relativePath != nullptr ? relativePath : "";
    while (*rest == '/')
        ++rest;
    out.append(rest);
}

void collapseDotSegments(StringBuffer& url) {
    replaceUntilGone(url, "/./", "/");
    for (int fold = 0; fold < kMaxFolds; ++fold) {
        const char* text = url.getString();
        const char* up = std::strstr(text, "/../");
        if (up == nullptr || up == text)
            return;
        const int at = static_cast<int>(up - text);
        int segment = at - 1;
        while (segment >= 0 && text[segment] != '/')
            --segment;
        StringBuffer folded;
        if (segment > 0 && text[segment - 1] == '/') {
            // Nothing to climb above the host: the "/../" only goes, and
            // the later ones still fold.
            folded.appendBytes(text, at);
        } else if (segment >= 0) {
            folded.appendBytes(text, segment);
        }
        folded.append(up + 3);
        url.setSb(folded);
    }
    replaceUntilGone(url, "/../", "/");
}

} // namespace tessik
