#include "netlib/core/TreeNode.h"

#include <climits>
#include <cstring>
#include <new>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "netlib/core/CStringUtil.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/Memory.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/StringPair.h"
#include "netlib/core/XmlChars.h"

namespace tessik {

using xmltree::kAlive;
using xmltree::kDead;

static_assert(alignof(TreeNode) <= NodeArena::kAlign && alignof(AttributeSet) <= NodeArena::kAlign,
              "arena objects are carved at the arena's alignment");

namespace {

bool isLive(const TreeNode* n) {
    return n && n->getMagic() == kAlive;
}
bool isLive(const TreeInfo* r) {
    return r && r->getMagic() == kAlive;
}

TreeNode* nodeAt(const ExtPtrArray* a, int i) {
    return a ? static_cast<TreeNode*>(a->elementAt(i)) : nullptr;
}

// Values up to this size are matched from a stack copy.
constexpr int kLocalValueSize = 500;
// One call removes at most this many attributes of a name.
constexpr int kMaxRemovals = 101;
// A node's binary content is an index into the caller's list when it is this short.
constexpr int kMaxExtIndexSize = 7;
// The largest code point a character reference may name.
constexpr unsigned long kMaxCodePoint = 0x10FFFF;

} // namespace

int xmlCharRefLength(const char* value, int i, int n, unsigned long* codeOut) {
    int j = i + 2;
    if (j >= n || value[i + 1] != '#')
        return 0;
    bool hex = value[j] == 'x';
    if (hex)
        ++j;
    const int digitsStart = j;
    unsigned long code = 0;
    for (; j < n; ++j) {
        char c = value[j];
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (hex && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else if (hex && c >= 'A' && c <= 'F') {
            d = c - 'A' + 10;
        } else {
            break;
        }
        code = code * (hex ? 16 : 10) + d;
        if (code > kMaxCodePoint)
            return 0;
    }
    if (j == digitsStart || j >= n || value[j] != ';' || !xmlchars::isChar(static_cast<std::uint32_t>(code)))
        return 0;
    if (codeOut)
        *codeOut = code;
    return j + 1 - i;
}

// ---------------------------------------------------------------- AttributeSet

AttributeSet::AttributeSet()
    : m_lengths(nullptr), m_bytes(nullptr), m_frozenLengths(nullptr), m_frozenBytes(nullptr), m_frozenCount(0) {}

AttributeSet::~AttributeSet() {
    delete m_lengths;
    delete m_bytes;
}

AttributeSet* AttributeSet::createFrozen(NodeArena* arena, const int* lengths, int lengthCount, const char* bytes,
                                         int byteCount) {
    auto* set = new (arena, std::nothrow) AttributeSet();
    if (!set)
        return nullptr;
    const std::size_t lengthBytes = static_cast<std::size_t>(lengthCount) * sizeof(int);
    auto* frozenLengths = static_cast<int*>(arena->allocate(lengthBytes));
    const char* frozenBytes = arena->copyText(bytes, static_cast<std::size_t>(byteCount));
    if (!frozenLengths || !frozenBytes) {
        delete set;
        return nullptr;
    }
    std::memcpy(frozenLengths, lengths, lengthBytes);
    set->m_frozenLengths = frozenLengths;
    set->m_frozenBytes = frozenBytes;
    set->m_frozenCount = lengthCount;
    return set;
}

// Into the heap form, which every change works on.
bool AttributeSet::thaw() {
    if (!m_frozenLengths)
        return true;
    m_lengths = new (std::nothrow) ExtIntArray(m_frozenCount > 6 ? m_frozenCount : 6, 15);
    int total = 0;
    for (int k = 0; k < m_frozenCount; ++k)
        total += m_frozenLengths[k];
    m_bytes = new (std::nothrow) StringBuffer(static_cast<unsigned>(total + 1));
    if (!m_lengths || !m_bytes) {
        delete m_lengths;
        delete m_bytes;
        m_lengths = nullptr;
        m_bytes = nullptr;
        return false;
    }
    for (int k = 0; k < m_frozenCount; ++k)
        m_lengths->append(m_frozenLengths[k]);
    m_bytes->appendBytes(m_frozenBytes, total);
    m_frozenLengths = nullptr;
    m_frozenBytes = nullptr;
    m_frozenCount = 0;
    return true;
}

int AttributeSet::lengthAt(int k) const {
    return m_frozenLengths ? m_frozenLengths[k] : m_lengths->elementAt(k);
}

const char* AttributeSet::bytesAt(int offset) const {
    return m_frozenLengths ? m_frozenBytes + offset : m_bytes->getPtrAt(offset);
}

bool AttributeSet::ensureStorage() {
    if (!thaw())
        return false;
    if (!m_lengths)
        m_lengths = new (std::nothrow) ExtIntArray(6, 15);
    if (!m_bytes)
        m_bytes = new (std::nothrow) StringBuffer(50u);
    return m_lengths && m_bytes;
}

int AttributeSet::getCount() const {
    if (m_frozenLengths)
        return m_frozenCount / 2;
    return m_lengths && m_bytes ? m_lengths->getCount() / 2 : 0;
}

bool AttributeSet::getAt(int index, StringBuffer& name, StringBuffer& value) const {
    name.clear();
    value.clear();
    if (index < 0 || index >= getCount())
        return false;
    const int offset = offsetOf(index);
    const int nameLen = lengthAt(2 * index);
    name.appendBytes(bytesAt(offset), nameLen);
    value.appendBytes(bytesAt(offset + nameLen), lengthAt(2 * index + 1));
    return true;
}

int AttributeSet::offsetOf(int index) const {
    int offset = 0;
    for (int i = 0; i < index * 2; ++i)
        offset += lengthAt(i);
    return offset;
}

int AttributeSet::find(const char* name, int from, int& offset) const {
    offset = 0;
    if (!name || !*name || getCount() == 0)
        return -1;
    int wantLen = static_cast<int>(std::strlen(name));
    int count = getCount();
    int pos = offsetOf(from);
    for (int i = from; i < count; ++i) {
        int nameLen = lengthAt(2 * i);
        if (nameLen == wantLen && std::memcmp(bytesAt(pos), name, wantLen) == 0) {
            offset = pos;
            return i;
        }
        pos += nameLen + lengthAt(2 * i + 1);
    }
    return -1;
}

void AttributeSet::add(const char* name, const char* value) {
    if (!name || !*name)
        return;
    if (!value)
        value = "";
    if (!ensureStorage())
        return;
    int nameLen = static_cast<int>(std::strlen(name));
    int valueLen = static_cast<int>(std::strlen(value));
    // Both lengths or neither, so names stay at even positions.
    if (!m_lengths->append(nameLen))
        return;
    if (!m_lengths->append(valueLen)) {
        m_lengths->removeAt(m_lengths->getCount() - 1);
        return;
    }
    m_bytes->appendBytes(name, nameLen);
    m_bytes->appendBytes(value, valueLen);
}

bool AttributeSet::getValue(const char* name, StringBuffer& out) const {
    out.clear();
    int offset;
    int i = find(name, 0, offset);
    if (i < 0)
        return false;
    out.appendBytes(bytesAt(offset + lengthAt(2 * i)), lengthAt(2 * i + 1));
    return true;
}

bool AttributeSet::hasAttr(const char* name) const {
    int offset;
    return find(name, 0, offset) >= 0;
}

bool AttributeSet::hasAttrWithValue(const char* name, const char* value) const {
    if (!value)
        value = "";
    int wantLen = static_cast<int>(std::strlen(value));
    int offset;
    for (int i = find(name, 0, offset); i >= 0; i = find(name, i + 1, offset)) {
        int valueLen = lengthAt(2 * i + 1);
        const char* stored = bytesAt(offset + lengthAt(2 * i));
        if (valueLen == wantLen && std::memcmp(stored, value, valueLen) == 0)
            return true;
    }
    return false;
}

bool AttributeSet::hasAttrMatching(const char* name, const char* pattern) const {
    if (!pattern)
        pattern = "";
    int offset;
    for (int i = find(name, 0, offset); i >= 0; i = find(name, i + 1, offset)) {
        int valueLen = lengthAt(2 * i + 1);
        const char* stored = bytesAt(offset + lengthAt(2 * i));
        bool match;
        if (valueLen < kLocalValueSize) {
            char local[kLocalValueSize];
            std::memcpy(local, stored, valueLen);
            local[valueLen] = 0;
            match = wildcardMatch(local, pattern, true);
        } else {
            std::vector<char> heap(stored, stored + valueLen);
            heap.push_back(0);
            match = wildcardMatch(heap.data(), pattern, true);
        }
        if (match)
            return true;
    }
    return false;
}

void AttributeSet::remove(const char* name) {
    if (!hasAttr(name) || !thaw())
        return;
    int offset;
    for (int removed = 0; removed < kMaxRemovals; ++removed) {
        int i = find(name, 0, offset);
        if (i < 0)
            return;
        int n = lengthAt(2 * i) + lengthAt(2 * i + 1);
        if (n > 0)
            m_bytes->removeChunk(offset, n);
        m_lengths->removeAt(2 * i + 1);
        m_lengths->removeAt(2 * i);
    }
}

namespace {

// Up to this many names are compared pairwise; more go through a hash set, so
// an element with a great many attributes costs linear time.
constexpr std::size_t kPairwiseLimit = 16;

// Which names a later one of the same text supersedes; false when none is.
bool markSuperseded(const std::vector<std::string_view>& names, std::vector<char>& superseded) {
    const std::size_t count = names.size();
    superseded.assign(count, 0);
    bool any = false;
    if (count <= kPairwiseLimit) {
        for (std::size_t i = 0; i < count; ++i)
            for (std::size_t j = i + 1; j < count && !superseded[i]; ++j)
                if (names[i] == names[j]) {
                    superseded[i] = 1;
                    any = true;
                }
        return any;
    }
    std::unordered_set<std::string_view> later;
    later.reserve(count);
    for (std::size_t i = count; i-- > 0;)
        if (!later.insert(names[i]).second) {
            superseded[i] = 1;
            any = true;
        }
    return any;
}

} // namespace

std::vector<std::string_view> AttributeSet::names() const {
    std::vector<std::string_view> v;
    const int count = getCount();
    v.reserve(static_cast<std::size_t>(count));
    int pos = 0;
    for (int i = 0; i < count; ++i) {
        const int nameLen = lengthAt(2 * i);
        v.emplace_back(bytesAt(pos), static_cast<std::size_t>(nameLen));
        pos += nameLen + lengthAt(2 * i + 1);
    }
    return v;
}

bool AttributeSet::mayRepeatNames() const {
    const int count = getCount();
    if (count < 2)
        return false;
    if (count > static_cast<int>(kPairwiseLimit))
        return true;
    // The parser's road for every start tag: no allocation.
    std::string_view local[kPairwiseLimit];
    int pos = 0;
    for (int i = 0; i < count; ++i) {
        const int nameLen = lengthAt(2 * i);
        local[i] = std::string_view(bytesAt(pos), static_cast<std::size_t>(nameLen));
        for (int j = 0; j < i; ++j)
            if (local[j] == local[i])
                return true;
        pos += nameLen + lengthAt(2 * i + 1);
    }
    return false;
}

void AttributeSet::removeDuplicates() {
    std::vector<char> superseded;
    if (!mayRepeatNames() || !markSuperseded(names(), superseded) || !thaw())
        return;
    ExtIntArray* lengths = new (std::nothrow) ExtIntArray(6, 15);
    StringBuffer* bytes = new (std::nothrow) StringBuffer(static_cast<unsigned>(m_bytes->getSize() + 1));
    if (!lengths || !bytes) {
        delete lengths;
        delete bytes;
        return;
    }
    int pos = 0;
    for (int i = 0; i < getCount(); ++i) {
        const int nameLen = lengthAt(2 * i);
        const int valueLen = lengthAt(2 * i + 1);
        if (!superseded[static_cast<std::size_t>(i)]) {
            lengths->append(nameLen);
            lengths->append(valueLen);
            bytes->appendBytes(bytesAt(pos), nameLen + valueLen);
        }
        pos += nameLen + valueLen;
    }
    delete m_lengths;
    delete m_bytes;
    m_lengths = lengths;
    m_bytes = bytes;
}

// Names are written as XML names and once each, the last value of a name
// winning, whatever the set holds.
void AttributeSet::serialize(StringBuffer& out, StringBuffer* unwritable) const {
    if (getCount() == 0)
        return;
    std::vector<std::string_view> written = names();
    StringBuffer mended;
    std::vector<std::pair<int, int>> mendedAt; // offset and length in `mended`
    bool anyMended = false;
    for (const std::string_view& n : written)
        anyMended = anyMended || !xmlchars::isName(n.data(), static_cast<int>(n.size()));
    if (anyMended) {
        for (const std::string_view& n : written) {
            const int start = mended.getSize();
            if (!xmlchars::appendName(n.data(), static_cast<int>(n.size()), mended)) {
                mended.shorten(mended.getSize() - start);
                if (unwritable) {
                    if (unwritable->getSize() == 0)
                        unwritable->appendBytes(n.data(), static_cast<int>(n.size()));
                } else {
                    // An instruction's pseudo-attribute is data, not a name:
                    // its characters are kept as read (its ASCII mended);
                    // bytes that are not one XML carries, and U+FFFD a
                    // decoder wrote for them, are left out.
                    StringBuffer chars;
                    const int size = static_cast<int>(n.size());
                    for (int r = 0, len = 1; r < size; r += len > 0 ? len : 1) {
                        std::uint32_t c = static_cast<unsigned char>(n[static_cast<std::size_t>(r)]);
                        len = c < xmlchars::kAsciiEnd ? 1 : xmlchars::utf8CharAt(n.data() + r, size - r, c);
                        if (len > 0 && xmlchars::isChar(c) && c != xmlchars::kReplacementChar)
                            chars.appendBytes(n.data() + r, len);
                    }
                    xmlchars::appendName(chars.getString(), chars.getSize(), mended);
                    if (chars.appendFailed())
                        mended.markAppendFailed();
                }
            }
            mendedAt.emplace_back(start, mended.getSize() - start);
        }
        for (std::size_t i = 0; i < written.size(); ++i)
            written[i] =
                std::string_view(mended.getString() + mendedAt[i].first, static_cast<std::size_t>(mendedAt[i].second));
    }
    if (mended.appendFailed() || (unwritable && unwritable->appendFailed()))
        out.markAppendFailed();
    std::vector<char> superseded;
    markSuperseded(written, superseded);
    int pos = 0;
    for (int i = 0; i < getCount(); ++i) {
        const int nameLen = lengthAt(2 * i);
        const int valueLen = lengthAt(2 * i + 1);
        const std::string_view& name = written[static_cast<std::size_t>(i)];
        if (!superseded[static_cast<std::size_t>(i)] && !name.empty()) {
            out.appendChar(' ');
            out.appendBytes(name.data(), static_cast<int>(name.size()));
            out.append("=\"");
            xmlchars::appendEscaped(bytesAt(pos + nameLen), valueLen, xmlchars::TextKind::Attribute, false, out);
            out.appendChar('"');
        }
        pos += nameLen + valueLen;
    }
}

// ---------------------------------------------------------------- TreeInfo

TreeInfo::TreeInfo(TreeNode* root)
    : m_magic(kAlive), m_root(root), m_declaration(nullptr), m_piText(nullptr), m_docTypeText(nullptr), m_refCount(0) {}

TreeInfo::~TreeInfo() {
    m_magic = kDead;
    delete m_docTypeText;
    delete m_piText;
    if (isLive(m_declaration))
        delete m_declaration;
    for (int i = 0; i < m_stylesheets.getCount(); ++i) {
        TreeNode* n = nodeAt(&m_stylesheets, i);
        if (isLive(n))
            delete n;
    }
    // The root outlives its record; its tree must not keep pointing at it.
    if (isLive(m_root) && m_root->m_document == this)
        m_root->setDocument(nullptr);
}

// ---------------------------------------------------------------- TreeNode

TreeNode::TreeNode()
    : m_document(nullptr), m_tag(nullptr), m_attributes(nullptr), m_content(nullptr), m_arenaContent(nullptr),
      m_arenaContentSize(0), m_isCdata(0), m_tagInArena(0), m_magic(kAlive), m_childrenInArena(0), m_children(nullptr),
      m_childCount(0), m_childCapacity(0), m_parent(nullptr), m_next(nullptr), m_prev(nullptr) {}

TreeNode::~TreeNode() {
    m_magic = kDead;
    releaseTag();
    delete m_content;
    delete m_attributes;
    m_content = nullptr;
    m_arenaContent = nullptr;
    m_attributes = nullptr;
    unlinkFromParent();

    // Descendants go without recursion, so a deep document cannot exhaust the stack.
    std::vector<TreeNode*> pending;
    auto takeChildren = [&pending](TreeNode* n) {
        for (int i = n->m_childCount - 1; i >= 0; --i) {
            TreeNode* c = n->m_children[i];
            if (!isLive(c))
                continue;
            c->m_parent = c->m_next = c->m_prev = nullptr;
            pending.push_back(c);
        }
        n->releaseChildren();
    };
    // Their arena (if any) is let go of once, when they are all gone.
    ArenaReleaseBatch batch;
    takeChildren(this);
    while (!pending.empty()) {
        TreeNode* c = pending.back();
        pending.pop_back();
        takeChildren(c);
        delete c;
    }

    if (isLive(m_document) && m_document->m_root == this) {
        TreeInfo* record = m_document;
        m_document = nullptr;
        delete record;
    }
    m_document = nullptr;
}

// A node deleted on its own leaves its parent and siblings consistent.
void TreeNode::unlinkFromParent() {
    if (m_prev)
        m_prev->m_next = m_next;
    if (m_next)
        m_next->m_prev = m_prev;
    if (isLive(m_parent)) {
        TreeNode** siblings = m_parent->m_children;
        const int count = m_parent->m_childCount;
        for (int i = 0; i < count; ++i) {
            if (siblings[i] == this) {
                std::memmove(siblings + i, siblings + i + 1,
                             static_cast<std::size_t>(count - i - 1) * sizeof *siblings);
                --m_parent->m_childCount;
                break;
            }
        }
    }
    m_parent = m_next = m_prev = nullptr;
}

TreeNode* TreeNode::createRoot(const char* tag) {
    TreeNode* node = new (std::nothrow) TreeNode();
    if (!node)
        return nullptr;
    node->m_document = new (std::nothrow) TreeInfo(node);
    if (!node->m_document) {
        delete node;
        return nullptr;
    }
    if (tag && *tag)
        node->setTag(tag);
    return node;
}

TreeNode* TreeNode::createNode(TreeNode* parent, const char* tag) {
    if (!parent)
        return createRoot(tag);
    if (!isLive(parent))
        return nullptr;
    TreeNode* node = new (std::nothrow) TreeNode();
    if (!node)
        return nullptr;
    if (tag && *tag)
        node->setTag(tag);
    if (!parent->appendChild(node)) {
        delete node;
        return nullptr;
    }
    return node;
}

TreeNode* TreeNode::createIn(NodeArena* arena, TreeNode* parent, const char* tag, int n, bool isName) {
    if (parent && !isLive(parent))
        return nullptr;
    TreeNode* node = new (arena, std::nothrow) TreeNode();
    if (!node)
        return nullptr;
    if (!parent) {
        node->m_document = new (std::nothrow) TreeInfo(node);
        if (!node->m_document) {
            delete node;
            return nullptr;
        }
    }
    if (n > 0)
        node->storeTag(tag, n, arena, isName);
    if (parent && !parent->appendChildIn(node, arena)) {
        delete node;
        return nullptr;
    }
    return node;
}

void TreeNode::releaseChildren() {
    if (!m_childrenInArena)
        memFree(m_children);
    m_children = nullptr;
    m_childCount = m_childCapacity = 0;
    m_childrenInArena = 0;
}

bool TreeNode::growChildren(NodeArena* arena) {
    constexpr int kFirstCapacity = 4;
    if (m_childCount < m_childCapacity)
        return true;
    if (m_childCapacity > 0x3FFFFFFF)
        return false;
    const int capacity = m_childCapacity ? 2 * m_childCapacity : kFirstCapacity;
    const std::size_t bytes = static_cast<std::size_t>(capacity) * sizeof(TreeNode*);
    auto* block = static_cast<TreeNode**>(arena ? arena->allocate(bytes) : memAlloc(bytes));
    if (!block)
        return false;
    if (m_childCount)
        std::memcpy(block, m_children, static_cast<std::size_t>(m_childCount) * sizeof(TreeNode*));
    // An arena block left behind goes with its arena.
    const int count = m_childCount;
    releaseChildren();
    m_children = block;
    m_childCount = count;
    m_childCapacity = capacity;
    m_childrenInArena = arena ? 1 : 0;
    return true;
}

bool TreeNode::appendChild(TreeNode* child) {
    return appendChildIn(child, nullptr);
}

bool TreeNode::appendChildIn(TreeNode* child, NodeArena* arena) {
    if (!alive() || !isLive(child))
        return false;
    if (child->m_parent && child->m_parent != this)
        return false;
    TreeInfo* childRecord = isLive(child->m_document) ? child->m_document : nullptr;
    unsigned int carried = childRecord ? childRecord->m_refCount : 0;
    if (child->m_document == m_document)
        return false;

    if (!growChildren(arena))
        return false;
    TreeNode* last = m_childCount ? m_children[m_childCount - 1] : nullptr;
    m_children[m_childCount++] = child;

    // The record of a former root goes, with its declaration and texts.
    if (childRecord) {
        child->m_document = nullptr;
        delete childRecord;
    }
    if (last)
        last->m_next = child;
    child->m_prev = last;
    child->m_next = nullptr;
    child->m_parent = this;
    child->setDocument(m_document);
    if (isLive(m_document))
        m_document->m_refCount += carried;
    return true;
}

void TreeNode::setDocument(TreeInfo* record) {
    if (!alive())
        return;
    if (m_childCount == 0) {
        m_document = record;
        return;
    }
    std::vector<TreeNode*> stack{this};
    while (!stack.empty()) {
        TreeNode* n = stack.back();
        stack.pop_back();
        n->m_document = record;
        for (int i = 0; i < n->m_childCount; ++i) {
            TreeNode* c = n->m_children[i];
            if (isLive(c))
                stack.push_back(c);
        }
    }
}

void TreeNode::deleteTree() {
    if (!alive())
        return;
    TreeNode* root = getRoot();
    if (isLive(root))
        delete root;
}

TreeInfo* TreeNode::getDocument() const {
    return alive() && isLive(m_document) ? m_document : nullptr;
}

// ---------------------------------------------------------------- tag and content

const char* TreeNode::getTag() const {
    return alive() && m_tag ? m_tag : "";
}

void TreeNode::releaseTag() {
    if (!m_tagInArena)
        memFree(m_tag);
    m_tag = nullptr;
    m_tagInArena = 0;
}

void TreeNode::storeTag(const char* tag, int n, NodeArena* arena, bool isName) {
    StringBuffer mended;
    if (!isName && !xmlchars::isName(tag, n)) {
        mended.appendBytes(tag, n);
        xmlchars::mendName(mended);
        tag = mended.getString();
        n = mended.getSize();
    }
    char* stored = arena ? arena->copyText(tag, static_cast<std::size_t>(n))
                         : static_cast<char*>(memAlloc(static_cast<std::uint64_t>(n) + 1));
    if (!stored)
        return;
    if (!arena) {
        std::memcpy(stored, tag, static_cast<std::size_t>(n));
        stored[n] = 0;
    }
    releaseTag();
    m_tag = stored;
    m_tagInArena = arena ? 1 : 0;
}

void TreeNode::setTag(const char* tag) {
    if (!alive() || (!tag && !m_tag))
        return;
    if (!tag)
        tag = "";
    storeTag(tag, static_cast<int>(std::strlen(tag)), nullptr);
}

bool TreeNode::tagEquals(const char* tag) const {
    return tag && std::strcmp(getTag(), tag) == 0;
}

const char* TreeNode::getContent() const {
    if (!alive())
        return "";
    if (m_content)
        return m_content->getString();
    return m_arenaContent ? m_arenaContent : "";
}

int TreeNode::getContentSize() const {
    if (!alive())
        return 0;
    return m_content ? m_content->getSize() : m_arenaContentSize;
}

int TreeNode::getContentInt() const {
    if (!alive())
        return 0;
    if (m_content)
        return m_content->intValue();
    return m_arenaContent ? StringBuffer(m_arenaContent).intValue() : 0;
}

bool TreeNode::hasContent() const {
    return getContentSize() > 0;
}

void TreeNode::setContent(const char* text) {
    if (!alive())
        return;
    m_arenaContent = nullptr;
    m_arenaContentSize = 0;
    if (!text) {
        if (m_content)
            m_content->clear();
        return;
    }
    if (m_content)
        m_content->setString(text);
    else
        m_content = new (std::nothrow) StringBuffer(text);
}

void TreeNode::setArenaContent(NodeArena* arena, const char* text, int n) {
    if (!alive())
        return;
    const char* stored = arena->copyText(text, static_cast<std::size_t>(n));
    if (!stored) {
        StringBuffer copy;
        copy.appendBytes(text, n);
        setContent(copy.getString());
        return;
    }
    delete m_content;
    m_content = nullptr;
    m_arenaContent = stored;
    m_arenaContentSize = n;
}

StringBuffer* TreeNode::getContentSb() {
    if (!alive())
        return nullptr;
    if (!m_content) {
        // The parser's bytes move into a buffer of their own, which can change.
        m_content = m_arenaContent ? new (std::nothrow) StringBuffer(m_arenaContent, m_arenaContentSize, 0)
                                   : new (std::nothrow) StringBuffer(120u);
        if (m_content) {
            m_arenaContent = nullptr;
            m_arenaContentSize = 0;
        }
    }
    return m_content;
}

// ---------------------------------------------------------------- attributes

// The name as stored: itself when it is an XML name, else mended into `mended`.
const char* TreeNode::attributeNameToStore(const char* name, StringBuffer& mended) {
    if (!alive() || !name || !*name)
        return nullptr;
    if (!m_attributes)
        m_attributes = new (std::nothrow) AttributeSet();
    if (!m_attributes)
        return nullptr;
    // The parser's names are nearly always stored as given: no copy for them.
    const int n = static_cast<int>(std::strlen(name));
    if (xmlchars::isName(name, n))
        return name;
    xmlchars::appendName(name, n, mended);
    return mended.getString();
}

// A name given again replaces the value it had.
void TreeNode::addAttribute(const char* name, const char* value) {
    StringBuffer mended;
    const char* stored = attributeNameToStore(name, mended);
    if (!stored)
        return;
    if (m_attributes->hasAttr(stored))
        m_attributes->remove(stored);
    m_attributes->add(stored, value);
}

void TreeNode::addParsedAttribute(const char* name, const char* value) {
    StringBuffer mended;
    if (const char* stored = attributeNameToStore(name, mended))
        m_attributes->add(stored, value);
}

void TreeNode::dropRepeatedAttributes() {
    if (alive() && m_attributes)
        m_attributes->removeDuplicates();
}

void TreeNode::setParsedAttributes(NodeArena* arena, const int* lengths, int lengthCount, const char* bytes,
                                   int byteCount, bool namesAreNames) {
    if (!alive() || lengthCount < 2)
        return;
    // Names that are XML names already, given once each: the common case,
    // kept as read. Anything else takes the road of single additions.
    bool plain = arena && lengthCount <= 2 * static_cast<int>(kPairwiseLimit);
    std::string_view names[kPairwiseLimit];
    for (int i = 0, pos = 0; plain && i < lengthCount / 2; ++i) {
        names[i] = std::string_view(bytes + pos, static_cast<std::size_t>(lengths[2 * i]));
        plain = lengths[2 * i] > 0 && (namesAreNames || xmlchars::isName(names[i].data(), lengths[2 * i]));
        for (int j = 0; plain && j < i; ++j)
            plain = names[j] != names[i];
        pos += lengths[2 * i] + lengths[2 * i + 1];
    }
    delete m_attributes;
    m_attributes = plain ? AttributeSet::createFrozen(arena, lengths, lengthCount, bytes, byteCount) : nullptr;
    if (m_attributes)
        return;
    StringBuffer name;
    StringBuffer value;
    for (int i = 0, pos = 0; i < lengthCount / 2; ++i) {
        name.clear();
        value.clear();
        name.appendBytes(bytes + pos, lengths[2 * i]);
        value.appendBytes(bytes + pos + lengths[2 * i], lengths[2 * i + 1]);
        addParsedAttribute(name.getString(), value.getString());
        pos += lengths[2 * i] + lengths[2 * i + 1];
    }
    dropRepeatedAttributes();
}

void TreeNode::updateAttribute(const char* name, const char* value) {
    if (!alive())
        return;
    if (!m_attributes)
        m_attributes = new (std::nothrow) AttributeSet();
    if (!m_attributes)
        return;
    if (m_attributes->hasAttr(name))
        m_attributes->remove(name);
    m_attributes->add(name, value);
}

bool TreeNode::getAttrValue(const char* name, StringBuffer& out) const {
    if (!alive() || !m_attributes)
        return false;
    return m_attributes->getValue(name, out);
}

bool TreeNode::hasAttrWithValue(const char* name, const char* value) const {
    return alive() && m_attributes && m_attributes->hasAttrWithValue(name, value);
}

// ---------------------------------------------------------------- children and navigation

int TreeNode::getNumChildren() const {
    return alive() ? m_childCount : 0;
}

TreeNode* TreeNode::getChild(int index) const {
    return alive() && index >= 0 && index < m_childCount ? m_children[index] : nullptr;
}

TreeNode* TreeNode::getFirstChild() const {
    return getChild(0);
}

TreeNode* TreeNode::findChild(int n, const char* tag) const {
    for (int i = 0; i < getNumChildren(); ++i) {
        TreeNode* c = getChild(i);
        if (isLive(c) && c->tagEquals(tag) && n-- == 0)
            return c;
    }
    return nullptr;
}

TreeNode* TreeNode::findChildByContent(int n, const char* text) const {
    if (!text)
        text = "";
    for (int i = 0; i < getNumChildren(); ++i) {
        TreeNode* c = getChild(i);
        if (isLive(c) && std::strcmp(c->getContent(), text) == 0 && n-- == 0)
            return c;
    }
    return nullptr;
}

TreeNode* TreeNode::findChildWithAttrPair(const char* tag, const StringPair* pair) const {
    for (int i = 0; i < getNumChildren(); ++i) {
        TreeNode* c = getChild(i);
        if (!isLive(c) || !c->tagEquals(tag))
            continue;
        if (!pair || c->hasAttrWithValue(pair->getKey(), pair->getValue()))
            return c;
    }
    return nullptr;
}

TreeNode* TreeNode::findChildWithAttrMatch(const char* tag, const char* attrName, const char* pattern) const {
    for (int i = 0; i < getNumChildren(); ++i) {
        TreeNode* c = getChild(i);
        if (isLive(c) && c->tagEquals(tag) && c->m_attributes && c->m_attributes->hasAttrMatching(attrName, pattern))
            return c;
    }
    return nullptr;
}

TreeNode* TreeNode::getParentPointerMember() const {
    return alive() && isLive(m_parent) ? m_parent : nullptr;
}

TreeNode* TreeNode::getIntMember() const {
    return alive() && isLive(m_next) ? m_next : nullptr;
}

TreeNode* TreeNode::getRoot() const {
    TreeInfo* record = getDocument();
    return record && isLive(record->m_root) ? record->m_root : nullptr;
}

// ---------------------------------------------------------------- breadth-first walks

// Level order: a node's children are queued once every node queued before
// them has been visited. Nodes up to and including `after` are not tested.
template <class Match>
TreeNode* TreeNode::walkBreadthFirst(const TreeNode* after, Match match) {
    if (!alive())
        return nullptr;
    tessik::_tsQueue pending;
    tessik::_tsQueue parents;
    bool testing = after == nullptr;
    if (!pending.push(this))
        return nullptr;
    while (pending.hasItems()) {
        TreeNode* node = static_cast<TreeNode*>(pending.pop());
        if (testing && match(node))
            return node;
        if (node == after)
            testing = true;
        if (node->getNumChildren() > 0)
            parents.push(node);
        if (!pending.hasItems() && parents.hasItems()) {
            TreeNode* parent = static_cast<TreeNode*>(parents.pop());
            for (int i = 0; i < parent->getNumChildren(); ++i) {
                TreeNode* c = parent->getChild(i);
                if (isLive(c))
                    pending.push(c);
            }
        }
    }
    return nullptr;
}

TreeNode* TreeNode::searchTag(const TreeNode* after, const char* tag) {
    return walkBreadthFirst(after, [tag](TreeNode* n) { return n->tagEquals(tag); });
}

TreeNode* TreeNode::searchTagAttr(const TreeNode* after, const char* tag, const char* attrName, const char* pattern) {
    return walkBreadthFirst(after, [&](TreeNode* n) {
        return n->tagEquals(tag) && n->m_attributes && n->m_attributes->hasAttrMatching(attrName, pattern);
    });
}

TreeNode* TreeNode::searchTagContent(const TreeNode* after, const char* tag, const char* pattern) {
    if (!tag)
        return nullptr;
    return walkBreadthFirst(after, [&](TreeNode* n) {
        return n->tagEquals(tag) && wildcardMatch(n->getContent(), pattern ? pattern : "", true);
    });
}

void TreeNode::collectBinaryContent(DataBuffer& out, const ExtPtrArray* list) {
    walkBreadthFirst(nullptr, [&](TreeNode* n) {
        if (n->getContentSize() <= kMaxExtIndexSize && list && n->hasAttrWithValue("src", "ext")) {
            auto* part = dynamic_cast<DataBuffer*>(list->elementAt(n->getContentInt()));
            if (part)
                out.appendDb(*part);
        } else {
            out.appendEncoded(n->getContent(), "base64");
        }
        return false;
    });
}

// ---------------------------------------------------------------- document and declaration

void TreeNode::addRef() {
    TreeInfo* record = getDocument();
    if (record)
        ++record->m_refCount;
}

void TreeNode::release() {
    TreeInfo* record = getDocument();
    if (record && record->m_refCount >= 1)
        --record->m_refCount;
}

unsigned int TreeNode::getDocRefCount() const {
    TreeInfo* record = getDocument();
    return record ? record->m_refCount : 0;
}

bool TreeNode::getDeclAttr(const char* name, StringBuffer& out) const {
    TreeInfo* record = getDocument();
    if (!record || !isLive(record->m_declaration))
        return false;
    return record->m_declaration->getAttrValue(name, out);
}

bool TreeNode::getDeclEncoding(StringBuffer& out) const {
    return getDeclAttr("encoding", out);
}

bool TreeNode::getStandalone(StringBuffer& out) const {
    return getDeclAttr("standalone", out);
}

void TreeNode::setDeclEncoding(const char* encoding) {
    TreeInfo* record = getDocument();
    if (!record)
        return;
    if (!isLive(record->m_declaration)) {
        record->m_declaration = createRoot("xml");
        if (!record->m_declaration)
            return;
        record->m_declaration->addAttribute("version", "1.0");
    }
    TreeNode* decl = record->m_declaration;
    if (decl->m_attributes)
        decl->m_attributes->remove("encoding");
    decl->addAttribute("encoding", encoding);
}

namespace {
void replaceText(StringBuffer*& field, const char* text, std::size_t n) {
    delete field;
    field = nullptr;
    if (text && n > 0 && n <= INT_MAX)
        field = new (std::nothrow) StringBuffer(text, static_cast<unsigned int>(n), 0);
}

void replaceText(StringBuffer*& field, const char* text) {
    replaceText(field, text, text ? std::strlen(text) : 0);
}
} // namespace

void TreeNode::setDocTypeText(const char* text) {
    TreeInfo* record = getDocument();
    if (record)
        replaceText(record->m_docTypeText, text);
}

void TreeNode::setDocTypeText(const char* text, int n) {
    TreeInfo* record = getDocument();
    if (record && n > 0)
        replaceText(record->m_docTypeText, text, static_cast<std::size_t>(n));
}

void TreeNode::setPiText(const char* text) {
    TreeInfo* record = getDocument();
    if (record)
        replaceText(record->m_piText, text);
}

// ---------------------------------------------------------------- queue

_tsQueue::~_tsQueue() {
    while (m_head) {
        QueuedObject* next = m_head->next;
        delete m_head;
        m_head = next;
    }
}

bool _tsQueue::push(void* value) {
    auto* item = new (std::nothrow) QueuedObject(value);
    if (!item)
        return false;
    if (m_tail)
        m_tail->next = item;
    else
        m_head = item;
    m_tail = item;
    return true;
}

void* _tsQueue::pop() {
    if (!m_head)
        return nullptr;
    QueuedObject* item = m_head;
    m_head = item->next;
    if (!m_head)
        m_tail = nullptr;
    void* value = item->value;
    delete item;
    return value;
}

} // namespace tessik
