#pragma once
// The XML document component: one object holds a reference on one node of a
// tree (its current node); several objects may share a tree, which goes when
// the last of them lets go. Path queries ("a|b[1]|/T/c|*") navigate it.
#include "netlib/core/ClsBase.h"
#include "netlib/core/TessikCritSec.h"

namespace tessik {

class ExtPtrArray;
class StringBuffer;
class TreeNode;

// Raw inflate and password AES decryption live in layers above the core;
// they reach GetBinaryContent through these hooks. Until installed, a call
// that needs one fails with a log line saying so.
struct XmlBinaryHooks {
    // Appends the inflated bytes (partial output kept); false on a failure.
    bool (*inflateRaw)(const DataBuffer& in, DataBuffer& out, LogBase& log);
    // AES-128 CBC, zero IV, key from the password; appends the plain bytes.
    bool (*aesDecryptWithPassword)(const char* password, const DataBuffer& in, DataBuffer& out, LogBase& log);
};
void installXmlBinaryHooks(const XmlBinaryHooks* hooks);

namespace xml_msg {
constexpr const char* kNoInflate = "Raw inflate is not installed in this build.";
constexpr const char* kNoAes = "AES decryption is not installed in this build.";
constexpr const char* kInvalidCmd = "InvalidCmd";
constexpr const char* kNullTree = "null tree";
constexpr const char* kInvalidTree = "invalid tree";
constexpr const char* kTextIncomplete =
    "The XML text could not be completed: it is too large for one buffer, or memory ran out.";
constexpr const char* kNameNotWritten =
    "A name holds a character that no XML name holds: it is not renamed, and no text is written.";
} // namespace xml_msg

class ClsXml : public ClsBase, public TessikCritSec {
public:
    ClsXml();
    ~ClsXml() override;

    // Public methods: each opens its own log context.
    bool LoadXmlFile(const char* path, bool trimContent);
    bool SaveXml(const char* path);
    bool LoadXml(const char* text, bool trimContent);
    bool TessikPath(XString& path, XString& result);
    bool GetBinaryContent(DataBuffer& out, bool inflate, bool decrypt, const char* password);

    bool clear();
    // A new object on the node, or on a fresh tree when the node is not live.
    static ClsXml* createForNode(TreeNode* node);

    const char* getTagPtr();
    const char* getContentPtr();
    bool setTag(const char* tag);
    bool setContent(const char* text);
    int getContentSize();
    int getContentInt();
    bool getContentSb(tessik::StringBuffer& out);
    bool tagEquals(const char* text);
    bool contentEquals(const char* text);
    int getNumChildren();

    bool addAttribute(const char* name, const char* value);
    bool updateAttribute(const char* name, const char* value);
    bool updateAttributeInt(const char* name, int value);
    bool getAttrValueSb(const char* name, tessik::StringBuffer& out);
    int getAttrValueInt(const char* name);
    bool hasAttrWithValue(const char* name, const char* value);

    bool navigateToChild(int index);
    bool navigateToFirstChild();
    bool navigateToNextSibling();
    bool navigateToParent();
    void navigateToRoot();

    // New objects the caller owns; null when there is no such node.
    ClsXml* getChild(int index);
    ClsXml* getFirstChild();
    ClsXml* newRefToSelf();
    ClsXml* findChild(const char* tag);
    ClsXml* getChildWithTag(const char* tag);
    ClsXml* findChildWithAttr(const char* tag, const char* attrName, const char* pattern);

    bool childContentEquals(const char* tag, const char* text);
    bool getChildContentSb(const char* tag, tessik::StringBuffer& out);
    void getChildContentQpSb(const char* tag, tessik::StringBuffer& out);
    void getChildContentBase64Db(const char* tag, DataBuffer& out);
    void getChildBool(const char* tag, bool& out);

    ClsXml* newChild(const char* tag, const char* content);
    void addNewChild(const char* tag, const char* content);
    void addNewChildBase64(const char* tag, const DataBuffer& bytes);
    void addNewChildQp(const char* tag, const tessik::StringBuffer& text);
    void addNewChildBool(const char* tag, bool value);

    bool getXmlSb(tessik::StringBuffer& out);
    bool getXml(XString& out);
    void loadXmlX(XString& text, bool trimContent);
    bool searchTagContentX(XString& tag, XString& out);
    void collectBinaryContent(DataBuffer& out, const ExtPtrArray* list);

    bool resolvePath(const char* path, XString& out, LogBase& log);
    bool loadFromFile(const char* path, LogBase& log, bool trimContent);
    bool saveToFile(const char* path, LogBase& log);

    TreeNode* getCurrentNode() const { return m_node; }

private:
    TreeNode* live() const;
    // Lets go of the current tree and holds `node` (already referenced).
    void adoptRoot(TreeNode* root);
    void letGo();
    void moveTo(TreeNode* node);
    ClsXml* appendNewChild(const char* tag, const char* content);
    TreeNode* childWithTag(const char* tag, bool trim) const;

    TreeNode* m_node;
};

} // namespace tessik
