#include "netlib/core/ClsXml.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/FileSys.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/XmlChars.h"
#include "netlib/core/XmlParser.h"

namespace tessik {

namespace {

constexpr const char* kUnnamed = "unnamed";
// A text shorter than this that ends in ".xml" and holds no "<" is a file name.
constexpr int kMaxFileNameText = 100;

std::atomic<const XmlBinaryHooks*> g_hooks{nullptr};

bool isLive(const TreeNode* n) {
    return n && n->getMagic() == xmltree::kAlive;
}

// Trimmed copy of a caller's name.
StringBuffer trimmed(const char* text) {
    StringBuffer sb(text ? text : "");
    sb.trimWhitespace();
    return sb;
}

// Whether a name the writer would not rename stopped the text: it is named.
bool logUnwritableName(const StringBuffer& name, LogBase& log) {
    if (name.getSize() == 0)
        return false;
    log.logError(xml_msg::kNameNotWritten);
    // Logged as text: bytes that are not UTF-8 as U+FFFD.
    StringBuffer shown;
    xmlchars::appendEscaped(name.getString(), name.getSize(), xmlchars::TextKind::Cdata, false, shown);
    log.logData(xml_msg::kNameTag, shown.getString());
    return true;
}

} // namespace

void installXmlBinaryHooks(const XmlBinaryHooks* hooks) {
    g_hooks.store(hooks);
}

// ---------------------------------------------------------------- lifetime

ClsXml::ClsXml() : m_node(TreeNode::createRoot(kUnnamed)) {
    if (m_node)
        m_node->addRef();
}

ClsXml::~ClsXml() {
    CritSecExitor lock(*this);
    letGo();
}

TreeNode* ClsXml::live() const {
    return isLive(m_node) ? m_node : nullptr;
}

void ClsXml::letGo() {
    if (!isLive(m_node)) {
        m_node = nullptr;
        return;
    }
    m_node->release();
    if (m_node->getDocRefCount() == 0)
        m_node->deleteTree();
    m_node = nullptr;
}

void ClsXml::adoptRoot(TreeNode* root) {
    letGo();
    m_node = root;
    m_node->addRef();
}

void ClsXml::moveTo(TreeNode* node) {
    if (node == m_node)
        return;
    node->addRef();
    if (isLive(m_node))
        m_node->release();
    m_node = node;
}

bool ClsXml::clear() {
    CritSecExitor lock(*this);
    TreeNode* fresh = TreeNode::createRoot(kUnnamed);
    if (!fresh)
        return false;
    adoptRoot(fresh);
    return true;
}

ClsXml* ClsXml::createForNode(TreeNode* node) {
    auto* x = new (std::nothrow) ClsXml();
    if (!x)
        return nullptr;
    if (isLive(node)) {
        x->letGo();
        x->m_node = node;
        node->addRef();
    }
    return x;
}

// ---------------------------------------------------------------- public methods

bool ClsXml::LoadXmlFile(const char* path, bool trimContent) {
    CritSecExitor lock(*this);
    enterMethod("LoadXmlFile");
    m_log.logData("filename", path ? path : "");
    const bool ok = loadFromFile(path, m_log, trimContent);
    logSuccessOrFailed(ok);
    m_log.leaveContext();
    return ok;
}

bool ClsXml::SaveXml(const char* path) {
    CritSecExitor lock(*this);
    enterMethod("SaveXml");
    bool ok = false;
    if (!m_node)
        m_log.logError(xml_msg::kNullTree);
    else if (!live())
        m_log.logError(xml_msg::kInvalidTree);
    else
        ok = saveToFile(path, m_log);
    m_log.leaveContext();
    return ok;
}

bool ClsXml::LoadXml(const char* text, bool trimContent) {
    if (text && !std::strchr(text, '<')) {
        StringBuffer name = trimmed(text);
        StringBuffer lower(name);
        lower.toLowerCase();
        if (name.getSize() < kMaxFileNameText && lower.endsWith(".xml"))
            return LoadXmlFile(text, trimContent);
    }
    CritSecExitor lock(*this);
    enterMethod("LoadXml");
    StringBuffer sb(text ? text : "");
    TreeNode* root = nullptr;
    if (prepareXmlText(sb, &m_log))
        parseXmlText(sb, &m_log, nullptr, &root, trimContent);
    if (root)
        adoptRoot(root);
    m_log.leaveContext();
    return root != nullptr;
}

bool ClsXml::TessikPath(XString& path, XString& result) {
    CritSecExitor lock(*this);
    enterMethod("TessikPath");
    const bool ok = resolvePath(path.getUtf8(), result, m_log);
    m_log.leaveContext();
    return ok;
}

bool ClsXml::GetBinaryContent(DataBuffer& out, bool inflate, bool decrypt, const char* password) {
    TreeNode* node = live();
    if (!node)
        return false;
    if (!node->hasContent())
        return true;
    enterMethod("GetBinaryContent");
    out.clear();
    out.appendEncoded(node->getContent(), "base64");
    const XmlBinaryHooks* hooks = g_hooks.load();
    bool ok = true;
    if (decrypt) {
        DataBuffer plain;
        if (!hooks || !hooks->aesDecryptWithPassword) {
            m_log.logError(xml_msg::kNoAes);
            ok = false;
        } else {
            ok = hooks->aesDecryptWithPassword(password ? password : "", out, plain, m_log);
        }
        out.takeFrom(plain);
    }
    if (ok && inflate) {
        DataBuffer inflated;
        if (!hooks || !hooks->inflateRaw) {
            m_log.logError(xml_msg::kNoInflate);
            ok = false;
        } else {
            // What was inflated before a failure stays in the output.
            ok = hooks->inflateRaw(out, inflated, m_log);
            out.takeFrom(inflated);
        }
    }
    m_log.leaveContext();
    return ok;
}

// ---------------------------------------------------------------- loading and saving

bool ClsXml::loadFromFile(const char* path, LogBase& log, bool trimContent) {
    StringBuffer p = trimmed(path);
    TreeNode* root = nullptr;
    parseXmlFile(p.getString(), &log, nullptr, &root, trimContent);
    if (!root)
        return false;
    adoptRoot(root);
    return true;
}

bool ClsXml::saveToFile(const char* path, LogBase& log) {
    TreeNode* node = live();
    if (!node)
        return false;
    StringBuffer p = trimmed(path);
    StringBuffer encoding;
    if (!node->getDeclEncoding(encoding)) {
        node->setDeclEncoding("utf-8");
        encoding.setString("utf-8");
    }
    // A text cut short is not written: no file is better than a damaged one.
    StringBuffer xml;
    StringBuffer unwritable;
    if (!node->serialize(xml, 0, 0, false, &unwritable) || encoding.appendFailed()) {
        if (logUnwritableName(unwritable, log))
            return false;
        log.logError(xml_msg::kTextIncomplete);
        log.logDataInt64("bytesWritten", xml.getSize());
        return false;
    }
    if (encoding.equalsNoCase("utf-8"))
        return writeWholeFileUtf8(p.getString(), xml.getString(), static_cast<std::uint64_t>(xml.getSize()), &log);
    // A text that cannot be written in its declared charset, or would not
    // read back as itself, is not written at all.
    DataBuffer converted;
    if (!encodeXmlText(xml.getString(), static_cast<unsigned int>(xml.getSize()), encoding.getString(), false,
                       converted, log))
        return false;
    return writeWholeFileUtf8(p.getString(), converted.getData(), converted.getSize(), &log);
}

// ---------------------------------------------------------------- path queries

bool ClsXml::resolvePath(const char* path, XString& out, LogBase& log) {
    out.clear();
    TreeNode* cursor = live();
    if (!cursor || !path)
        return false;

    const char* step = path;
    for (const char* bar = std::strchr(step, '|'); bar; bar = std::strchr(step, '|')) {
        StringBuffer s;
        s.appendBytes(step, static_cast<int>(bar - step));
        step = bar + 1;
        TreeNode* next = cursor;
        const char* t = s.getString();
        if (s.equals("..")) {
            next = cursor->getParentPointerMember();
        } else if (s.beginsWith("/T/")) {
            next = cursor->searchTag(nullptr, t + 3);
        } else if (s.beginsWith("/C/")) {
            StringBuffer tag(t + 3);
            StringBuffer pattern;
            if (const char* comma = std::strchr(t + 3, ',')) {
                pattern.append(comma + 1);
                tag.chopAtFirstChar(',');
            }
            next = cursor->searchTagContent(nullptr, tag.getString(), pattern.getString());
        } else if (s.beginsWith("/A/")) {
            const char* c1 = std::strchr(t + 3, ',');
            const char* c2 = c1 ? std::strchr(c1 + 1, ',') : nullptr;
            if (!c2) {
                log.logData(xml_msg::kInvalidCmd, t);
                return false;
            }
            StringBuffer tag;
            tag.appendBytes(t + 3, static_cast<int>(c1 - (t + 3)));
            StringBuffer attr;
            attr.appendBytes(c1 + 1, static_cast<int>(c2 - (c1 + 1)));
            next = cursor->searchTagAttr(nullptr, tag.getString(), attr.getString(), c2 + 1);
        } else if (const char* br = std::strchr(t, '[')) {
            char* end = nullptr;
            const long n = std::strtol(br + 1, &end, 10);
            if (end != br + 1) {
                StringBuffer tag;
                tag.appendBytes(t, static_cast<int>(br - t));
                next = n < 0 ? nullptr : cursor->findChild(static_cast<int>(n), tag.getString());
            } else {
                next = cursor->findChild(0, t);
            }
        } else if (const char* brace = std::strchr(t, '{')) {
            // Without its closing brace the step names nothing.
            const char* close = std::strchr(brace + 1, '}');
            if (close) {
                StringBuffer text;
                text.appendBytes(brace + 1, static_cast<int>(close - (brace + 1)));
                next = cursor->findChildByContent(0, text.getString());
            } else {
                next = nullptr;
            }
        } else if (s.getSize() > 0) {
            next = cursor->findChild(0, t);
        }
        if (!isLive(next))
            return false;
        cursor = next;
    }
    if (*step == 0)
        return true;

    const char* final = step;
    if (std::strcmp(final, "*") == 0) {
        out.appendUtf8(cursor->getContent());
        return true;
    }
    if (std::strcmp(final, "$") == 0) {
        moveTo(cursor);
        return true;
    }
    if (final[0] == '(') {
        StringBuffer name(final + 1);
        name.chopAtFirstChar(')');
        StringBuffer value;
        if (!cursor->getAttrValue(name.getString(), value))
            return false;
        out.appendUtf8(value.getString());
        return true;
    }
    return false;
}

// ---------------------------------------------------------------- node access

const char* ClsXml::getTagPtr() {
    CritSecExitor lock(*this);
    return live() ? m_node->getTag() : "";
}

const char* ClsXml::getContentPtr() {
    CritSecExitor lock(*this);
    return live() ? m_node->getContent() : "";
}

bool ClsXml::setTag(const char* tag) {
    if (!live())
        return false;
    m_node->setTag(tag);
    return true;
}

bool ClsXml::setContent(const char* text) {
    if (!live())
        return false;
    m_node->setContent(text);
    return true;
}

int ClsXml::getContentSize() {
    return live() ? m_node->getContentSize() : 0;
}

int ClsXml::getContentInt() {
    return live() ? m_node->getContentInt() : 0;
}

bool ClsXml::getContentSb(StringBuffer& out) {
    if (!live())
        return false;
    if (m_node->hasContent())
        out.setString(m_node->getContent());
    return true;
}

bool ClsXml::tagEquals(const char* text) {
    return live() && std::strcmp(m_node->getTag(), text ? text : "") == 0;
}

bool ClsXml::contentEquals(const char* text) {
    return live() && std::strcmp(m_node->getContent(), text ? text : "") == 0;
}

int ClsXml::getNumChildren() {
    CritSecExitor lock(*this);
    return live() ? m_node->getNumChildren() : 0;
}

bool ClsXml::addAttribute(const char* name, const char* value) {
    CritSecExitor lock(*this);
    if (!live())
        return false;
    m_node->addAttribute(trimmed(name).getString(), value);
    return true;
}

bool ClsXml::updateAttribute(const char* name, const char* value) {
    if (!live())
        return false;
    m_node->updateAttribute(name, value);
    return true;
}

bool ClsXml::updateAttributeInt(const char* name, int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", value);
    return updateAttribute(name, text);
}

bool ClsXml::getAttrValueSb(const char* name, StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    return live() && m_node->getAttrValue(trimmed(name).getString(), out);
}

int ClsXml::getAttrValueInt(const char* name) {
    StringBuffer value;
    if (!live() || !m_node->getAttrValue(trimmed(name).getString(), value))
        return 0;
    return value.intValue();
}

bool ClsXml::hasAttrWithValue(const char* name, const char* value) {
    return live() && m_node->hasAttrWithValue(trimmed(name).getString(), value);
}

// ---------------------------------------------------------------- navigation

bool ClsXml::navigateToChild(int index) {
    TreeNode* c = live() ? m_node->getChild(index) : nullptr;
    if (!isLive(c))
        return false;
    moveTo(c);
    return true;
}

bool ClsXml::navigateToFirstChild() {
    return navigateToChild(0);
}

bool ClsXml::navigateToNextSibling() {
    TreeNode* n = live() ? m_node->getIntMember() : nullptr;
    if (!n)
        return false;
    moveTo(n);
    return true;
}

bool ClsXml::navigateToParent() {
    TreeNode* n = live() ? m_node->getParentPointerMember() : nullptr;
    if (!n)
        return false;
    moveTo(n);
    return true;
}

void ClsXml::navigateToRoot() {
    TreeNode* n = live() ? m_node->getRoot() : nullptr;
    if (n)
        moveTo(n);
}

ClsXml* ClsXml::getChild(int index) {
    CritSecExitor lock(*this);
    TreeNode* c = live() ? m_node->getChild(index) : nullptr;
    return isLive(c) ? createForNode(c) : nullptr;
}

ClsXml* ClsXml::getFirstChild() {
    TreeNode* c = live() ? m_node->getFirstChild() : nullptr;
    return isLive(c) ? createForNode(c) : nullptr;
}

ClsXml* ClsXml::newRefToSelf() {
    CritSecExitor lock(*this);
    return live() ? createForNode(m_node) : nullptr;
}

ClsXml* ClsXml::findChild(const char* tag) {
    TreeNode* c = live() ? m_node->findChild(0, trimmed(tag).getString()) : nullptr;
    return c ? createForNode(c) : nullptr;
}

ClsXml* ClsXml::getChildWithTag(const char* tag) {
    TreeNode* c = live() ? m_node->findChildWithAttrPair(trimmed(tag).getString(), nullptr) : nullptr;
    return c ? createForNode(c) : nullptr;
}

ClsXml* ClsXml::findChildWithAttr(const char* tag, const char* attrName, const char* pattern) {
    TreeNode* c = live() ? m_node->findChildWithAttrMatch(trimmed(tag).getString(), attrName, pattern) : nullptr;
    return c ? createForNode(c) : nullptr;
}

TreeNode* ClsXml::childWithTag(const char* tag, bool trim) const {
    if (!live())
        return nullptr;
    return m_node->findChild(0, trim ? trimmed(tag).getString() : tag);
}

bool ClsXml::childContentEquals(const char* tag, const char* text) {
    TreeNode* c = childWithTag(tag, true);
    return c && std::strcmp(c->getContent(), text ? text : "") == 0;
}

bool ClsXml::getChildContentSb(const char* tag, StringBuffer& out) {
    out.clear();
    TreeNode* c = childWithTag(tag, false);
    if (!c)
        return false;
    out.append(c->getContent());
    return true;
}

void ClsXml::getChildContentQpSb(const char* tag, StringBuffer& out) {
    out.clear();
    TreeNode* c = childWithTag(tag, false);
    DataBuffer bytes;
    bytes.appendEncoded(c ? c->getContent() : "", "qp");
    out.appendDb(bytes);
}

void ClsXml::getChildContentBase64Db(const char* tag, DataBuffer& out) {
    out.clear();
    TreeNode* c = childWithTag(tag, false);
    out.appendEncoded(c ? c->getContent() : "", "base64");
}

void ClsXml::getChildBool(const char* tag, bool& out) {
    TreeNode* c = childWithTag(tag, false);
    out = c && std::strcmp(c->getContent(), "true") == 0;
}

// ---------------------------------------------------------------- building

ClsXml* ClsXml::appendNewChild(const char* tag, const char* content) {
    if (!live())
        return nullptr;
    ClsXml* child = new (std::nothrow) ClsXml();
    if (!child || !child->live()) {
        delete child;
        return nullptr;
    }
    TreeNode* node = child->m_node;
    node->setTag(tag);
    node->setContent(content);
    node->release();
    if (!m_node->appendChild(node)) {
        node->addRef();
        delete child;
        return nullptr;
    }
    node->addRef();
    return child;
}

ClsXml* ClsXml::newChild(const char* tag, const char* content) {
    CritSecExitor lock(*this);
    StringBuffer t = trimmed(tag);
    t.replaceChar(' ', '_');
    return appendNewChild(t.getString(), content);
}

void ClsXml::addNewChild(const char* tag, const char* content) {
    delete newChild(tag, content);
}

void ClsXml::addNewChildBase64(const char* tag, const DataBuffer& bytes) {
    StringBuffer text;
    bytes.encodeToSb("base64", text);
    addNewChild(tag, text.getString());
}

void ClsXml::addNewChildQp(const char* tag, const StringBuffer& text) {
    // The reader trims the text before it decodes it: whitespace and line
    // ends at either end are written as escapes, which come back.
    auto white = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    const char* s = text.getString();
    int lead = 0;
    int trail = text.getSize();
    while (lead < trail && white(s[lead]))
        ++lead;
    while (trail > lead && white(s[trail - 1]))
        --trail;
    StringBuffer qp;
    auto escape = [&qp](const char* from, const char* to) {
        for (; from < to; ++from) {
            qp.appendChar('=');
            qp.appendHex(from, 1);
        }
    };
    escape(s, s + lead);
    DataBuffer middle;
    middle.append(s + lead, static_cast<unsigned int>(trail - lead));
    middle.encodeToSb("qp", qp);
    escape(s + trail, s + text.getSize());
    addNewChild(tag, qp.getString());
}

void ClsXml::addNewChildBool(const char* tag, bool value) {
    addNewChild(tag, value ? "true" : "false");
}

// ---------------------------------------------------------------- text forms

bool ClsXml::getXmlSb(StringBuffer& out) {
    CritSecExitor lock(*this);
    out.clear();
    if (!live())
        return false;
    StringBuffer unwritable;
    if (m_node->serialize(out, 0, 0, false, &unwritable))
        return true;
    if (!logUnwritableName(unwritable, m_log))
        m_log.logError(xml_msg::kTextIncomplete);
    out.clear();
    return false;
}

bool ClsXml::getXml(XString& out) {
    StringBuffer sb;
    const bool ok = getXmlSb(sb);
    out.setFromUtf8(sb.getString());
    return ok;
}

void ClsXml::loadXmlX(XString& text, bool trimContent) {
    LoadXml(text.getUtf8(), trimContent);
}

bool ClsXml::searchTagContentX(XString& tag, XString& out) {
    out.clear();
    TreeNode* n = live() ? m_node->searchTag(nullptr, tag.getUtf8()) : nullptr;
    if (!n)
        return false;
    out.setFromUtf8(n->getContent());
    return true;
}

void ClsXml::collectBinaryContent(DataBuffer& out, const ExtPtrArray* list) {
    if (live())
        m_node->collectBinaryContent(out, list);
}

} // namespace tessik
