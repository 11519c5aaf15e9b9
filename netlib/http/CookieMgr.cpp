#include "netlib/http/CookieMgr.h"

#include <cstring>
#include <string>

#include "netlib/core/ClsXml.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/HashMap.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlChars.h"
#include "netlib/http/ClsCache2.h"
#include "netlib/http/Cookie.h"
#include "netlib/http/CookieJar.h"
#include "netlib/http/PublicSuffix.h"
#include "netlib/http/TessikUrl.h"

namespace tessik {

namespace {

// Readers take any child of the root for a cookie, whatever its tag. An
// element an older version keyed "domain," holds cookies set without a
// Path, which it sent to every path: they are of "/", the key every reader
// and writer goes by.
bool readKey(const TreeNode& element, StringBuffer& key) {
    key.clear();
    if (!element.getAttrValue("key", key))
        return false;
    if (key.lastChar() == ',' && std::strchr(key.getString(), ',') == key.getString() + key.getSize() - 1)
        key.appendChar('/');
    return true;
}

bool hasKey(const TreeNode& element, const StringBuffer& key) {
    StringBuffer value;
    return readKey(element, value) && value.equals(key.getString());
}

// The attributes a cookie element gives all its names.
struct CookieAttributes {
    std::string version = "0";
    std::string expire;
    std::string maxAge;
    bool secure = false;
    bool discard = false;

    bool operator==(const CookieAttributes&) const = default;

    static CookieAttributes of(const TreeNode& element) {
        CookieAttributes a;
        StringBuffer value;
        if (element.getAttrValue("v", value))
            a.version = value.getString();
        if (element.getAttrValue("expire", value))
            a.expire = value.getString();
        if (element.getAttrValue("maxAge", value))
            a.maxAge = value.getString();
        a.secure = element.hasAttrWithValue("secure", "yes");
        a.discard = element.hasAttrWithValue("discard", "yes");
        return a;
    }

    // What the cookie sets replaces; what it does not set stays, but for
    // Secure, which is the new cookie's own: only an answer over TLS may
    // replace a Secure cookie (storeSetCookies), and it may drop the flag.
    void takeFrom(const Cookie& cookie) {
        version = std::to_string(cookie.getVersion());
        if (cookie.getExpire().getSize() != 0)
            expire = cookie.getExpire().getString();
        if (cookie.getMaxAge() != 0)
            maxAge = std::to_string(cookie.getMaxAge());
        secure = cookie.isSecure();
        discard = discard || cookie.getDiscard();
    }

    void writeTo(TreeNode& element) const {
        element.addAttribute("v", version.c_str());
        if (!expire.empty())
            element.addAttribute("expire", expire.c_str());
        if (!maxAge.empty())
            element.addAttribute("maxAge", maxAge.c_str());
        if (secure)
            element.addAttribute("secure", "yes");
        if (discard)
            element.addAttribute("discard", "yes");
    }
};

TreeNode* findPair(TreeNode& element, const char* name) {
    for (int i = 0; i < element.getNumChildren(); ++i) {
        TreeNode* pair = element.getChild(i);
        StringBuffer pairName;
        if (pair == nullptr)
            continue;
        cookiePairName(*pair, pairName);
        if (pairName.equals(name))
            return pair;
    }
    return nullptr;
}

// A name that is an XML name of ASCII as it stands (and holds no ':', which
// namespace readers would take for a prefix) is the tag; any other keeps
// itself in an attribute beside the mended tag of its ASCII, which every
// reader takes and the writer never refuses, as it refuses a tag holding a
// character beyond ASCII that no name holds.
void appendPair(TreeNode& element, const char* name, const char* value) {
    StringBuffer tag;
    for (const char* p = name; *p; ++p)
        if (static_cast<unsigned char>(*p) < xmlchars::kAsciiEnd)
            tag.appendChar(*p == ':' ? '_' : *p);
    TreeNode* pair = TreeNode::createNode(&element, tag.getString());
    if (pair == nullptr)
        return;
    if (std::strcmp(pair->getTag(), name) != 0)
        pair->addAttribute(cookie_msg::kPairNameAttr, name);
    pair->setContent(value);
}

} // namespace

void cookiePairName(const TreeNode& pair, StringBuffer& out) {
    out.clear();
    if (!pair.getAttrValue(cookie_msg::kPairNameAttr, out))
        out.setString(pair.getTag());
}

CookieMgr::~CookieMgr() = default;

namespace {

// The text of the document for domain in memory: under its key, else under
// the key an older version gave it.
bool lookupDocument(const HashMap& memory, const char* domain, const StringBuffer& key, StringBuffer& text) {
    StringBuffer older;
    return memory.lookupString(key.getString(), text) ||
           (CookieMgr::getCookieHashKey(domain, older, true) && memory.lookupString(older.getString(), text));
}

// Whether a cookie document stands at path: a regular file. Whatever else
// stands there (a FIFO, a device) holds none, and is never read, which
// would wait for a writer that may never come.
bool documentStands(const char* path) {
    return pathKindUtf8(path) == platform::PathKind::Regular;
}

// The file the document for domain is read from: its own while it stands,
// else the one an older version named, where that stands. Whether the one
// chosen stands, each name looked up once: most hosts' older name is their
// own.
bool documentToRead(const char* cookieDir, const char* domain, const StringBuffer& path, StringBuffer& out) {
    out.setSb(path);
    if (documentStands(path.getString()))
        return true;
    StringBuffer older;
    if (!CookieMgr::getCookieFilePath(cookieDir, domain, older, true) || older.equals(path.getString()) ||
        !documentStands(older.getString()))
        return false;
    out.setSb(older);
    return true;
}

} // namespace

bool CookieMgr::getCookieHashKey(const char* domain, StringBuffer& out, bool legacy) {
    out.clear();
    StringBuffer d(domain != nullptr ? domain : "");
    d.trimWhitespace();
    if (d.beginsWith("."))
        d.removeChunk(0, 1);
    StringBuffer host;
    Cookie::cookieHost(d.getString(), host);
    if (host.getSize() == 0)
        return false;
    if (legacy)
        TessikUrl::getBaseDomain(host.getString(), out);
    else if (!public_suffix::registrableDomain(host.getString(), out))
        out.setSb(host);
    if (out.getSize() == 0)
        return false;
    out.replaceAll(".", "_");
    out.replaceAll(":", "_");
    out.append(".xml");
    return true;
}

bool CookieMgr::getCookieFilePath(const char* cookieDir, const char* domain, StringBuffer& out, bool legacy) {
    out.clear();
    StringBuffer name;
    if (!getCookieHashKey(domain, name, legacy))
        return false;
    out.append(cookieDir != nullptr ? cookieDir : "");
    if (out.getSize() != 0 && out.lastChar() != '/' && out.lastChar() != '\\')
        out.appendChar('/');
    out.appendSb(name);
    return true;
}

bool CookieMgr::isMemoryMode(const char* cookieDir, const HashMap* memory) {
    return memory != nullptr &&
           (cookieDir == nullptr || *cookieDir == '\0' || StringBuffer(cookieDir).equalsNoCase(cookie_msg::kMemoryDir));
}

bool CookieMgr::GetDomainCookiesXml(const char* cookieDir, HashMap* memory, const char* domain, ClsXml& xml,
                                    LogBase& log) {
    LogContext ctx(log, "GetDomainCookiesXml");
    log.logData("CookieDir", cookieDir != nullptr ? cookieDir : "");
    log.logData("Domain", domain != nullptr ? domain : "");
    if (isMemoryMode(cookieDir, memory)) {
        StringBuffer key;
        if (!getCookieHashKey(domain, key)) {
            log.logError(cookie_msg::kNoFilename);
            return false;
        }
        log.logData("HashKey", key.getString());
        StringBuffer text;
        if (!lookupDocument(*memory, domain, key, text)) {
            log.logError(cookie_msg::kNoCookiesYet);
            return false;
        }
        return xml.LoadXml(text.getString(), false);
    }
    StringBuffer named, path;
    if (!getCookieFilePath(cookieDir, domain, named)) {
        log.logError(cookie_msg::kNoFilename);
        return false;
    }
    // Not while another component of the process writes it (SaveCookies),
    // whose open keeps this one out.
    CacheFileLock hold(named, true, log);
    if (!hold.held())
        return false;
    if (!documentToRead(cookieDir, domain, named, path)) {
        log.logError(cookie_msg::kNoFile);
        log.logData("CookieFilename", path.getString());
        return false;
    }
    if (!xml.loadFromFile(path.getString(), log, false)) {
        log.logError(cookie_msg::kLoadFailed);
        log.logData("CookieFilename", path.getString());
        return false;
    }
    return true;
}

CookieJar* CookieMgr::LoadCookieJar(const char* cookieDir, HashMap* memory, const char* domain, const char* path,
                                    LogBase& log) {
    LogContext ctx(log, "LoadCookieJar");
    log.logData("Path", path != nullptr ? path : "");
    ClsXml xml;
    if (!GetDomainCookiesXml(cookieDir, memory, domain, xml, log))
        return nullptr;
    TreeNode* root = xml.getCurrentNode();
    if (root == nullptr || root->getNumChildren() == 0) {
        log.logError(cookie_msg::kEmpty);
        return nullptr;
    }
    auto* jar = new CookieJar;
    for (int i = 0; i < root->getNumChildren(); ++i) {
        const TreeNode* element = root->getChild(i);
        if (element == nullptr)
            continue;
        StringBuffer key, expire, flag;
        readKey(*element, key);
        const char* comma = std::strchr(key.getString(), ',');
        if (comma == nullptr || comma == key.getString())
            continue;
        StringBuffer domainPart;
        domainPart.appendBytes(key.getString(), static_cast<int>(comma - key.getString()));
        auto* cookie = new Cookie;
        cookie->setDomain(domainPart.getString());
        cookie->setPath(comma + 1);
        if (element->getAttrValue("expire", expire) && expire.getSize() != 0)
            cookie->setExpire(expire.getString());
        StringBuffer number;
        element->getAttrValue("v", number);
        const int version = number.intValue();
        if (version != 0)
            cookie->setVersion(version);
        cookie->setSecure(element->hasAttrWithValue("secure", "yes"));
        if (version == 1) {
            number.clear();
            element->getAttrValue("maxAge", number);
            if (number.intValue() != 0)
                cookie->setMaxAge(number.intValue());
            cookie->setDiscard(element->hasAttrWithValue("discard", "yes"));
        }
        for (int k = 0; k < element->getNumChildren(); ++k) {
            const TreeNode* pair = element->getChild(k);
            if (pair == nullptr)
                continue;
            StringBuffer name;
            cookiePairName(*pair, name);
            cookie->setNameValue(name.getString(), pair->getContent());
        }
        jar->addCookie(cookie);
    }
    if (jar->getCount() == 0) {
        delete jar;
        return nullptr;
    }
    return jar;
}

bool CookieMgr::openForSaving(const char* cookieDir, HashMap* memory, const char* domain, ClsXml& xml,
                              StringBuffer& where, LogBase& log) {
    bool loaded = false;
    if (isMemoryMode(cookieDir, memory)) {
        if (!getCookieHashKey(domain, where)) {
            log.logError(cookie_msg::kNoHashKey);
            log.logData("CookieDomain", domain);
            return false;
        }
        log.logData("HashKey", where.getString());
        StringBuffer text;
        loaded = lookupDocument(*memory, domain, where, text) && xml.LoadXml(text.getString(), false);
    } else {
        if (!getCookieFilePath(cookieDir, domain, where)) {
            log.logError(cookie_msg::kNoFilename);
            log.logData("CookieDomain", domain);
            return false;
        }
        // A new document starts from what an older version filed for the
        // host. A file that cannot be read is replaced: its cookies were
        // lost already.
        StringBuffer from;
        LogNull quiet;
        loaded = documentToRead(cookieDir, domain, where, from) && xml.loadFromFile(from.getString(), quiet, false);
    }
    if (!loaded) {
        xml.clear();
        xml.setTag(cookie_msg::kRootTag);
    }
    return xml.getCurrentNode() != nullptr;
}

void CookieMgr::removeName(TreeNode& root, const StringBuffer& key, const char* name, const TreeNode* keep) {
    for (int i = root.getNumChildren() - 1; i >= 0; --i) {
        TreeNode* element = root.getChild(i);
        if (element == nullptr || element == keep || !hasKey(*element, key))
            continue;
        for (TreeNode* pair; (pair = findPair(*element, name)) != nullptr;)
            delete pair;
        if (element->getNumChildren() == 0)
            delete element;
    }
}

void CookieMgr::dropExpired(TreeNode& root, std::int64_t nowUnixSeconds) {
    for (int i = root.getNumChildren() - 1; i >= 0; --i) {
        TreeNode* element = root.getChild(i);
        StringBuffer expire;
        if (element == nullptr || !element->getAttrValue("expire", expire))
            continue;
        Cookie probe;
        probe.setExpire(expire.getString());
        if (probe.isExpired(nowUnixSeconds))
            delete element;
    }
}

void CookieMgr::storePair(TreeNode& root, const StringBuffer& key, const Cookie& cookie, const char* name,
                          const char* value) {
    // The name keeps the attributes it had, with what the cookie sets
    // over them, and goes to an element of its key that has exactly those.
    CookieAttributes attributes;
    TreeNode* holder = nullptr;
    for (int i = 0; i < root.getNumChildren() && holder == nullptr; ++i) {
        TreeNode* element = root.getChild(i);
        if (element != nullptr && hasKey(*element, key) && findPair(*element, name) != nullptr)
            holder = element;
    }
    if (holder != nullptr)
        attributes = CookieAttributes::of(*holder);
    attributes.takeFrom(cookie);
    if (holder != nullptr && CookieAttributes::of(*holder) == attributes) {
        TreeNode* kept = findPair(*holder, name);
        kept->setContent(value);
        // The reader lets the last pair of a name win: an edited element may
        // hold more than one.
        for (int i = holder->getNumChildren() - 1; i >= 0; --i) {
            TreeNode* pair = holder->getChild(i);
            StringBuffer pairName;
            if (pair == nullptr || pair == kept)
                continue;
            cookiePairName(*pair, pairName);
            if (pairName.equals(name))
                delete pair;
        }
        removeName(root, key, name, holder);
        return;
    }
    removeName(root, key, name, nullptr);
    TreeNode* target = nullptr;
    for (int i = 0; i < root.getNumChildren() && target == nullptr; ++i) {
        TreeNode* element = root.getChild(i);
        if (element != nullptr && hasKey(*element, key) && CookieAttributes::of(*element) == attributes)
            target = element;
    }
    if (target == nullptr) {
        target = TreeNode::createNode(&root, cookie_msg::kCookieTag);
        if (target == nullptr)
            return;
        target->addAttribute("key", key.getString());
        attributes.writeTo(*target);
    }
    appendPair(*target, name, value);
}

bool CookieMgr::SaveCookie(const char* cookieDir, HashMap* memory, const char* domain, const Cookie& cookie,
                           std::int64_t nowUnixSeconds, LogBase& log, ProgressMonitor* pm) {
    return SaveCookies(cookieDir, memory, domain, {&cookie}, nowUnixSeconds, log, pm);
}

bool CookieMgr::SaveCookies(const char* cookieDir, HashMap* memory, const char* domain,
                            const std::vector<const Cookie*>& cookies, std::int64_t nowUnixSeconds, LogBase& log,
                            ProgressMonitor* pm) {
    StringBuffer host;
    Cookie::cookieHost(domain, host);
    for (const Cookie* cookie : cookies)
        cookie->reportSaving(cookieDir, pm);
    LogContext ctx(log, "SaveCookie");
    log.logData("CookieDir", cookieDir != nullptr ? cookieDir : "");
    log.logData("Domain", host.getString());
    // The document's read, change and write hold its file against the other
    // components of the process sharing the folder, or a cookie one of them
    // stores meanwhile is lost: the lock the cache files are held by.
    const bool inMemory = isMemoryMode(cookieDir, memory);
    StringBuffer file;
    if (!inMemory && !getCookieFilePath(cookieDir, host.getString(), file)) {
        log.logError(cookie_msg::kNoFilename);
        log.logData("CookieDomain", host.getString());
        return false;
    }
    CacheFileLock hold(file, !inMemory, log);
    if (!hold.held())
        return false;
    ClsXml xml;
    StringBuffer where;
    if (!openForSaving(cookieDir, memory, host.getString(), xml, where, log))
        return false;
    TreeNode* root = xml.getCurrentNode();
    dropExpired(*root, nowUnixSeconds);
    for (const Cookie* cookie : cookies) {
        StringBuffer key(cookie->getDomain());
        key.appendChar(',');
        key.appendSb(cookie->getPath());
        const bool expired = cookie->isExpired(nowUnixSeconds);
        for (int i = 0; i < cookie->getNumPairs(); ++i) {
            StringBuffer name, value;
            cookie->getPairName(i, name);
            cookie->getPairValue(i, value);
            if (expired)
                removeName(*root, key, name.getString(), nullptr);
            else
                storePair(*root, key, *cookie, name.getString(), value.getString());
        }
    }
    if (inMemory) {
        memory->remove(where.getString());
        StringBuffer text;
        xml.getXmlSb(text);
        memory->insertString(where.getString(), text.getString());
        return true;
    }
    StringBuffer work;
    ensureParentDirectory(where.getString(), work, nullptr);
    if (!xml.saveToFile(where.getString(), log)) {
        log.logError(cookie_msg::kSaveFailed);
        log.logData("CookieFilename", where.getString());
        return false;
    }
    return true;
}

} // namespace tessik
