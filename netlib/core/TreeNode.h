#pragma once
// The in-memory XML document: element nodes, the record every node of one
// tree shares, the flat attribute store, and the queue the breadth-first
// walks use. All text is 8-bit (UTF-8 as the parser uses it) and compared
// byte by byte.
#include <cstdint>
#include <string_view>
#include <vector>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/NodeArena.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class DataBuffer;
class StringPair;
class TreeInfo;
class StringBuffer;

namespace xmltree {
constexpr std::uint8_t kAlive = 0xCE;
constexpr std::uint8_t kDead = 0x31;
} // namespace xmltree

// Length of the character reference ("&#N;" or "&#xH;") at value[i], or 0
// when none is complete there or it names no character XML allows; the code
// point goes to codeOut when given.
int xmlCharRefLength(const char* value, int i, int n, unsigned long* codeOut);

// Names and values packed into one byte buffer, their lengths into one list
// (name 0, value 0, name 1, ...). Names may repeat; order is kept. A set the
// parser made keeps both in its arena until the first change, which moves
// them to the heap.
class AttributeSet : public ArenaObject {
public:
    AttributeSet();
    virtual ~AttributeSet();
    // A set of the arena holding copies of the lengths and bytes; null when
    // out of memory.
    static AttributeSet* createFrozen(NodeArena* arena, const int* lengths, int lengthCount, const char* bytes,
                                      int byteCount);

    AttributeSet(const AttributeSet&) = delete;
    AttributeSet& operator=(const AttributeSet&) = delete;

    void add(const char* name, const char* value);
    bool getValue(const char* name, tessik::StringBuffer& out) const;
    bool hasAttr(const char* name) const;
    bool hasAttrWithValue(const char* name, const char* value) const;
    bool hasAttrMatching(const char* name, const char* pattern) const;
    void remove(const char* name);
    int getCount() const;
    // The attribute at index in stored order; false when out of range.
    bool getAt(int index, tessik::StringBuffer& name, tessik::StringBuffer& value) const;
    // Keeps the last attribute of each name, where it stands.
    void removeDuplicates();
    // Names are written mended and once each, with the last value given. A
    // name holding a character beyond ASCII that no name holds is left out
    // and, the first such, copied into `unwritable` when given; without it
    // (an instruction's pseudo-attributes, which are data) it is written as
    // read, its ASCII mended and bytes no XML character is left out.
    void serialize(tessik::StringBuffer& out, tessik::StringBuffer* unwritable = nullptr) const;

private:
    bool ensureStorage();
    bool thaw();
    int lengthAt(int k) const;
    const char* bytesAt(int offset) const;
    // Index of the first attribute of that name at or after `from`, or -1;
    // `offset` receives the byte offset of its name.
    int find(const char* name, int from, int& offset) const;
    int offsetOf(int index) const;
    // Views into the stored bytes, valid until the set changes.
    std::vector<std::string_view> names() const;
    // False when no name can be given twice (checked without allocating for
    // a few attributes).
    bool mayRepeatNames() const;

    ExtIntArray* m_lengths;
    tessik::StringBuffer* m_bytes;
    const int* m_frozenLengths;
    const char* m_frozenBytes;
    int m_frozenCount;
};

class TreeNode : public TessikObject, public ArenaObject {
public:
    using ArenaObject::operator delete;
    using ArenaObject::operator new;

    ~TreeNode() override;

    TreeNode(const TreeNode&) = delete;
    TreeNode& operator=(const TreeNode&) = delete;

    static TreeNode* createRoot(const char* tag);
    static TreeNode* createNode(TreeNode* parent, const char* tag);
    // The parser's road: the node, its tag (n bytes, mended unless the
    // reader found it an XML name already), and what it is given later
    // through the calls below, carved from the arena; a root when parent is
    // null.
    static TreeNode* createIn(NodeArena* arena, TreeNode* parent, const char* tag, int n, bool isName = false);

    bool appendChild(TreeNode* child);
    void setDocument(TreeInfo* record);
    void deleteTree();

    std::uint8_t getMagic() const { return m_magic; }
    TreeInfo* getDocument() const;

    // Tag and content
    const char* getTag() const;
    void setTag(const char* tag);
    const char* getContent() const;
    int getContentSize() const;
    int getContentInt() const;
    bool hasContent() const;
    void setContent(const char* text);
    // The content as a buffer to change; created when absent.
    tessik::StringBuffer* getContentSb();
    // The parser's road, for a node without content: the n bytes in the arena.
    void setArenaContent(NodeArena* arena, const char* text, int n);
    bool isCdata() const { return m_isCdata != 0; }
    void setCdata() { m_isCdata = 1; }

    // Attributes: names are mended into XML names; a name added again
    // replaces the earlier value.
    void addAttribute(const char* name, const char* value);
    // The parser's road: mended, appended without a search; once the start
    // tag is read, dropRepeatedAttributes keeps the last of each name.
    void addParsedAttribute(const char* name, const char* value);
    void dropRepeatedAttributes();
    // The parser's road for a whole start tag: lengths and bytes as an
    // AttributeSet packs them, names as read; mended, a repeated name
    // keeping its last value, and kept in the arena. `namesAreNames`: the
    // reader found every name an XML name already.
    void setParsedAttributes(NodeArena* arena, const int* lengths, int lengthCount, const char* bytes, int byteCount,
                             bool namesAreNames = false);
    void updateAttribute(const char* name, const char* value);
    bool getAttrValue(const char* name, tessik::StringBuffer& out) const;
    bool hasAttrWithValue(const char* name, const char* value) const;
    AttributeSet* getAttributes() const { return m_attributes; }

    // Children and navigation
    int getNumChildren() const;
    TreeNode* getChild(int index) const;
    TreeNode* getFirstChild() const;
    TreeNode* findChild(int n, const char* tag) const;
    TreeNode* findChildByContent(int n, const char* text) const;
    TreeNode* findChildWithAttrPair(const char* tag, const StringPair* pair) const;
    TreeNode* findChildWithAttrMatch(const char* tag, const char* attrName, const char* pattern) const;
    TreeNode* getParentPointerMember() const;
    TreeNode* getIntMember() const; // the next sibling
    TreeNode* getRoot() const;

    // Breadth-first searches; the start node is tested first.
    TreeNode* searchTag(const TreeNode* after, const char* tag);
    TreeNode* searchTagAttr(const TreeNode* after, const char* tag, const char* attrName, const char* pattern);
    TreeNode* searchTagContent(const TreeNode* after, const char* tag, const char* pattern);

    // Document and declaration
    void addRef();
    void release();
    unsigned int getDocRefCount() const;
    bool getDeclEncoding(tessik::StringBuffer& out) const;
    bool getStandalone(tessik::StringBuffer& out) const;
    void setDeclEncoding(const char* encoding);
    void setDocTypeText(const char* text);
    // The n bytes at text, which a larger text may go on past.
    void setDocTypeText(const char* text, int n);
    void setPiText(const char* text);
    void collectBinaryContent(DataBuffer& out, const ExtPtrArray* list);

    // Writes the node and its subtree: CR LF line ends, four blanks per
    // level; at a record's root the declaration (unless noDeclaration),
    // stylesheets, DOCTYPE and instruction texts come first. False when the
    // text could not be completed (the buffer could not grow), or a tag or
    // attribute name holds a character beyond ASCII that no XML name holds
    // (the first such name in `unwritable`): `out` then holds only part of it.
    bool serialize(tessik::StringBuffer& out, int index, int depth, bool noDeclaration,
                   tessik::StringBuffer* unwritable = nullptr);

private:
    friend class TreeInfo;
    TreeNode();
    bool alive() const { return m_magic == xmltree::kAlive; }
    bool tagEquals(const char* tag) const;
    // The tag as n bytes, mended unless known to be a name, on the heap or in
    // the arena.
    void storeTag(const char* tag, int n, NodeArena* arena, bool isName = false);
    void releaseTag();
    bool getDeclAttr(const char* name, tessik::StringBuffer& out) const;
    // Creates the attribute set when absent; null when no attribute can be added.
    const char* attributeNameToStore(const char* name, tessik::StringBuffer& mended);
    template <class Match>
    TreeNode* walkBreadthFirst(const TreeNode* after, Match match);
    void unlinkFromParent();
    // Room for one more child; from the arena only while the parser builds.
    bool growChildren(NodeArena* arena);
    void releaseChildren();
    bool appendChildIn(TreeNode* child, NodeArena* arena);
    void emitDocumentHead(tessik::StringBuffer& out, bool noDeclaration);
    void emitStylesheets(tessik::StringBuffer& out);
    // A name that cannot be written goes into `unwritable` (the first one).
    // False when the node was written whole as an empty-element tag.
    bool emitStartTag(tessik::StringBuffer& out, int depth, tessik::StringBuffer& unwritable) const;
    void emitContent(tessik::StringBuffer& out) const;
    void emitEndTag(tessik::StringBuffer& out, int depth, tessik::StringBuffer& unwritable) const;

    TreeInfo* m_document;
    char* m_tag; // null reads as ""
    AttributeSet* m_attributes;
    // The content: a buffer once set or changed through these calls, else
    // the bytes the parser left in the arena, else none.
    tessik::StringBuffer* m_content;
    const char* m_arenaContent;
    int m_arenaContentSize;
    std::uint8_t m_isCdata;
    std::uint8_t m_tagInArena;
    // Beside the other bytes, so that the node stays small.
    std::uint8_t m_magic;
    std::uint8_t m_childrenInArena;
    // The children in order: a block of pointers in the arena when the
    // parser made the list, else on the heap.
    TreeNode** m_children;
    int m_childCount;
    int m_childCapacity;
    TreeNode* m_parent;
    TreeNode* m_next;
    TreeNode* m_prev;
};

class TreeInfo : public TessikObject {
public:
    ~TreeInfo() override;

    TreeInfo(const TreeInfo&) = delete;
    TreeInfo& operator=(const TreeInfo&) = delete;

    std::uint8_t getMagic() const { return m_magic; }
    TreeNode* getRoot() const { return m_root; }
    TreeNode* getDeclaration() const { return m_declaration; }
    // Owned "xml-stylesheet" nodes, in document order.
    ExtPtrArray& getStylesheets() { return m_stylesheets; }
    const tessik::StringBuffer* getPiText() const { return m_piText; }
    const tessik::StringBuffer* getDocTypeText() const { return m_docTypeText; }
    unsigned int getRefCount() const { return m_refCount; }
    // Takes ownership; a former declaration is deleted.
    void setDeclaration(TreeNode* declaration);

private:
    friend class TreeNode;
    explicit TreeInfo(TreeNode* root);

    std::uint8_t m_magic;
    TreeNode* m_root;
    TreeNode* m_declaration;
    ExtPtrArray m_stylesheets;
    tessik::StringBuffer* m_piText;
    tessik::StringBuffer* m_docTypeText;
    unsigned int m_refCount;
};

class QueuedObject {
public:
    explicit QueuedObject(void* value) : value(value), next(nullptr) {}
    virtual ~QueuedObject() = default;

    void* value;
    QueuedObject* next;
};

// First in, first out; the pointers are not owned.
class _tsQueue {
public:
    _tsQueue() = default;
    virtual ~_tsQueue();

    _tsQueue(const _tsQueue&) = delete;
    _tsQueue& operator=(const _tsQueue&) = delete;

    bool push(void* value);
    void* pop();
    bool hasItems() const { return m_head != nullptr; }

private:
    QueuedObject* m_head = nullptr;
    QueuedObject* m_tail = nullptr;
};

} // namespace tessik
