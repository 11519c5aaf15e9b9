#pragma once
// The stored cookie documents: one XML document per registrable domain (per
// host where it has none: an address, a public suffix), a file in the
// cookie directory or, in memory mode, a text in the options' string table.
// Every host a Domain cookie may reach shares the document it is filed in;
// which of its cookies a host takes is Cookie::matchesRequest's business.
// A document older versions filed under their guess at the base domain is
// read while none of the new name stands, and is where the new one starts
// from. A key's domain
// is the bare host for a cookie of that host alone, '.' and a domain for
// one its Domain attribute scoped.
//
// <cookies>
//     <cookie key="www.example.com,/" v="0">
//         <sid>abc</sid>
//     </cookie>
//     <cookie key=".example.com,/" v="0" expire="..." secure="yes">
//         <lang>en</lang>
//         <A1P_JAR name="1P_JAR">x</A1P_JAR>
//     </cookie>
// </cookies>
//
// A pair's element is named after the cookie; a name XML cannot take as it
// stands gets the XML service's mended form and keeps itself in "name".
#include <cstdint>
#include <vector>

#include "netlib/core/StringBuffer.h"

namespace tessik {

class ClsXml;
class Cookie;
class CookieJar;
class HashMap;
class LogBase;
class ProgressMonitor;
class TreeNode;

namespace cookie_msg {
inline constexpr const char* kMemoryDir = "memory";
inline constexpr const char* kRootTag = "cookies";
inline constexpr const char* kCookieTag = "cookie";
inline constexpr const char* kPairNameAttr = "name";
inline constexpr const char* kNoFilename = "Failed to get cookie filename.";
inline constexpr const char* kNoHashKey = "Failed to get cookie hashkey.";
inline constexpr const char* kNoCookiesYet = "No cookies exist yet.";
inline constexpr const char* kNoFile = "Cookie file does not exist.";
inline constexpr const char* kLoadFailed = "Failed to load cookie jar XML.";
inline constexpr const char* kEmpty = "Cookie XML is empty";
inline constexpr const char* kSaveFailed = "Failed to save cookie jar XML";
} // namespace cookie_msg

class CookieMgr {
public:
    CookieMgr() = default;
    virtual ~CookieMgr();
    CookieMgr(const CookieMgr&) = delete;
    CookieMgr& operator=(const CookieMgr&) = delete;

    // "a_b.xml" for any host whose registrable domain is "a.b" (a leading
    // '.' of the domain dropped); false for an empty domain. With legacy,
    // the name older versions gave the document.
    static bool getCookieHashKey(const char* domain, StringBuffer& out, bool legacy = false);
    static bool getCookieFilePath(const char* cookieDir, const char* domain, StringBuffer& out, bool legacy = false);
    // Memory mode: a map is given and the directory is empty or "memory".
    static bool isMemoryMode(const char* cookieDir, const HashMap* memory);

    bool GetDomainCookiesXml(const char* cookieDir, HashMap* memory, const char* domain, ClsXml& xml, LogBase& log);
    // The domain's cookies for the caller to delete, or null when there are
    // none (every element without a ',' in its key, or with an empty domain
    // part, is passed over).
    CookieJar* LoadCookieJar(const char* cookieDir, HashMap* memory, const char* domain, const char* path,
                             LogBase& log);
    // Merges the cookie into the document of domain and stores it. Each
    // name keeps its own attributes: what the cookie sets over what the name
    // had (so Secure, once set, stays), in an element of the cookie's key
    // ("domain,path") that has exactly those, made when there is none. A
    // cookie that has expired by nowUnixSeconds takes its names out of the
    // elements of its key instead (and an element that holds none goes).
    // Stored cookies whose Expires date has passed are dropped.
    bool SaveCookie(const char* cookieDir, HashMap* memory, const char* domain, const Cookie& cookie,
                    std::int64_t nowUnixSeconds, LogBase& log, ProgressMonitor* pm);
    // As SaveCookie for each cookie in turn (one answer's), the document
    // written once.
    bool SaveCookies(const char* cookieDir, HashMap* memory, const char* domain,
                     const std::vector<const Cookie*>& cookies, std::int64_t nowUnixSeconds, LogBase& log,
                     ProgressMonitor* pm);

private:
    // The domain's document in xml, or a new one with the root "cookies";
    // where is the file path or the hash key.
    bool openForSaving(const char* cookieDir, HashMap* memory, const char* domain, ClsXml& xml, StringBuffer& where,
                       LogBase& log);
    // Cookies whose Expires date has passed go when a document is stored.
    static void dropExpired(TreeNode& root, std::int64_t nowUnixSeconds);
};

// A pair element's cookie name: its "name" attribute, else its tag.
void cookiePairName(const TreeNode& pair, StringBuffer& out);

} // namespace tessik
