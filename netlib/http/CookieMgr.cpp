#include "netlib/http/CookieMgr.h"

#include <cstddef>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

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

// A name that is an XML name of ASCII as it stands (and holds no ':', which
// namespace readers would take for a prefix) is the tag; any other keeps
// itself in an attribute beside the mended tag of its ASCII, which every
// reader takes and the writer never refuses, as it refuses a tag holding a
// character beyond ASCII that no name holds.
TreeNode* appendPair(TreeNode& element, const char* name, const char* value) {
    StringBuffer tag;
    for (const char* p = name; *p; ++p)
        if (static_cast<unsigned char>(*p) < xmlchars::kAsciiEnd)
            tag.appendChar(*p == ':' ? '_' : *p);
    TreeNode* pair = TreeNode::createNode(&element, tag.getString());
    if (pair == nullptr)
        return nullptr;
    if (std::strcmp(pair->getTag(), name) != 0)
        pair->addAttribute(cookie_msg::kPairNameAttr, name);
    pair->setContent(value);
    return pair;
}

// A document's cookie elements by key and attributes and its pairs by key
// and name, kept as pairs are stored and removed: each cookie of an answer
// is stored in time apart from how many the document and the answer hold.
// The choices are the scans' they replace: the first element in the
// document's order, the first pair of a name in an element.
class StoredPairs {
public:
    explicit StoredPairs(TreeNode& root) : m_root(root) {
        StringBuffer key, name;
        for (int i = 0; i < root.getNumChildren(); ++i) {
            TreeNode* element = root.getChild(i);
            if (element == nullptr || !readKey(*element, key))
                continue;
            Element& e = add(element, key.getString(), CookieAttributes::of(*element));
            if (element->getNumChildren() == 0)
                m_emptyOfKey[e.key].push_back(element);
            for (int j = 0; j < element->getNumChildren(); ++j) {
                TreeNode* pair = element->getChild(j);
                if (pair == nullptr)
                    continue;
                cookiePairName(*pair, name);
                m_pairs[pairKey(e.key, name.getString())].push_back(pair);
            }
        }
    }

    // Takes the name out of every element of the key but keep, and every
    // element of the key that holds nothing then.
    void removeName(const std::string& key, const char* name, const TreeNode* keep) {
        auto empty = m_emptyOfKey.find(key);
        if (empty != m_emptyOfKey.end()) {
            for (TreeNode* element : empty->second)
                if (element != keep && element->getNumChildren() == 0)
                    dropElement(element);
            m_emptyOfKey.erase(empty);
        }
        auto found = m_pairs.find(pairKey(key, name));
        if (found == m_pairs.end())
            return;
        std::vector<TreeNode*> kept;
        for (TreeNode* pair : found->second) {
            TreeNode* element = pair->getParentPointerMember();
            if (element == keep) {
                kept.push_back(pair);
                continue;
            }
            delete pair;
            if (element != nullptr && element->getNumChildren() == 0)
                dropElement(element);
        }
        if (kept.empty())
            m_pairs.erase(found);
        else
            found->second.swap(kept);
    }

    // The name keeps the attributes it had, with what the cookie sets
    // over them, and goes to an element of its key that has exactly those.
    void store(const std::string& key, const Cookie& cookie, const char* name, const char* value) {
        CookieAttributes attributes;
        std::vector<TreeNode*>* pairs = nullptr;
        auto found = m_pairs.find(pairKey(key, name));
        TreeNode* holder = nullptr;
        if (found != m_pairs.end()) {
            pairs = &found->second;
            for (TreeNode* pair : *pairs)
                if (holder == nullptr ||
                    m_elements.at(pair->getParentPointerMember()).order < m_elements.at(holder).order)
                    holder = pair->getParentPointerMember();
            attributes = m_elements.at(holder).attributes;
        }
        attributes.takeFrom(cookie);
        if (holder != nullptr && m_elements.at(holder).attributes == attributes) {
            // The reader lets the last pair of a name win: an edited element
            // may hold more than one.
            TreeNode* kept = nullptr;
            std::vector<TreeNode*> others;
            for (TreeNode* pair : *pairs) {
                if (pair->getParentPointerMember() != holder)
                    others.push_back(pair);
                else if (kept == nullptr)
                    kept = pair;
                else
                    delete pair;
            }
            kept->setContent(value);
            others.push_back(kept);
            pairs->swap(others);
            removeName(key, name, holder);
            return;
        }
        removeName(key, name, nullptr);
        TreeNode* target = nullptr;
        auto same = m_byAttributes.find(attributesKey(key, attributes));
        if (same != m_byAttributes.end() && !same->second.empty())
            target = same->second.begin()->second;
        if (target == nullptr) {
            target = TreeNode::createNode(&m_root, cookie_msg::kCookieTag);
            if (target == nullptr)
                return;
            target->addAttribute("key", key.c_str());
            attributes.writeTo(*target);
            add(target, key, attributes);
        }
        if (TreeNode* pair = appendPair(*target, name, value))
            m_pairs[pairKey(key, name)].push_back(pair);
    }

private:
    struct Element {
        std::size_t order;
        std::string key;
        CookieAttributes attributes;
    };

    static std::string pairKey(const std::string& key, const char* name) {
        std::string k = key;
        k.push_back('\0');
        return k.append(name);
    }

    static std::string attributesKey(const std::string& key, const CookieAttributes& a) {
        std::string k = key;
        for (const std::string* part : {&a.version, &a.expire, &a.maxAge}) {
            k.push_back('\0');
            k.append(*part);
        }
        k.push_back(a.secure ? 's' : '-');
        k.push_back(a.discard ? 'd' : '-');
        return k;
    }

    Element& add(TreeNode* element, const std::string& key, const CookieAttributes& attributes) {
        Element& e = m_elements[element];
        e = Element{m_next++, key, attributes};
        m_byAttributes[attributesKey(key, attributes)][e.order] = element;
        return e;
    }

    void dropElement(TreeNode* element) {
        auto e = m_elements.find(element);
        if (e != m_elements.end()) {
            auto same = m_byAttributes.find(attributesKey(e->second.key, e->second.attributes));
            if (same != m_byAttributes.end())
                same->second.erase(e->second.order);
            m_elements.erase(e);
        }
        delete element;
    }

    TreeNode& m_root;
    std::size_t m_next = 0;
    std::unordered_map<const TreeNode*, Element> m_elements;
    std::unordered_map<std::string, std::map<std::size_t, TreeNode*>> m_byAttributes;
    std::unordered_map<std::string, std::vector<TreeNode*>> m_pairs;
    // Elements of a key that held no pair when read, which the first
    // removal of a name of their key takes away.
    std::unordered_map<std::string, std::vector<TreeNode*>> m_emptyOfKey;
};

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
    StoredPairs stored(*root);
    for (const Cookie* cookie : cookies) {
        std::string key(cookie->getDomain().getString());
        key.push_back(',');
        key.append(cookie->getPath().getString());
        const bool expired = cookie->isExpired(nowUnixSeconds);
        for (int i = 0; i < cookie->getNumPairs(); ++i) {
            StringBuffer name, value;
            cookie->getPairName(i, name);
            cookie->getPairValue(i, value);
            if (expired)
                stored.removeName(key, name.getString(), nullptr);
            else
                stored.store(key, *cookie, name.getString(), value.getString());
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
