#pragma once
// The ASN.1 model for building and writing DER: typed constructors, a DER
// encoder, a BER decoder with an item limit and lazily kept constructed
// content, and nodes rebuilt from the name subtrees of the XML rendering.
#include <cstdint>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class DataBuffer;
class LogBase;
class StringBuffer;
class TreeNode;

class Asn1 : public TessikObject {
public:
    Asn1() = default;
    ~Asn1() override;
    Asn1(const Asn1&) = delete;
    Asn1& operator=(const Asn1&) = delete;

    void clear();

    static Asn1* newBoolean(bool value);
    static Asn1* newInteger(std::int32_t value);
    // Null for no bytes.
    static Asn1* newUnsignedInteger(const unsigned char* bytes, std::uint32_t n);
    static Asn1* newBitString(const unsigned char* bytes, std::uint32_t n);
    static Asn1* newOctetString(const unsigned char* bytes, std::uint32_t n);
    static Asn1* newNull();
    // Null unless the text starts with two numbers joined by '.', or when the
    // content would pass 511 bytes. Arcs of any size are written exactly.
    static Asn1* newOid(const char* text);
    static Asn1* newUtf8String(const char* text);
    static Asn1* newPrintableString(const char* text);
    static Asn1* newT61String(const char* text);
    static Asn1* newIa5String(const char* text);
    static Asn1* newUtcTime(const char* text);
    static Asn1* newUtcTimeNow();
    static Asn1* newSequence();
    static Asn1* newSet();
    static Asn1* newContextConstructed(std::uint32_t tagNumber);
    // Adopts content (null gives empty content).
    static Asn1* newContextPrimitive(std::uint32_t tagNumber, DataBuffer* content);
    // A node from an element of the ASN.1 XML rendering (name subtrees).
    static Asn1* fromXml(const TreeNode* element, LogBase& log);

    // False for a primitive parent or a null node; the parent then owns it.
    bool appendChild(Asn1* node);
    bool isOid() const { return tag == 6; }
    bool getOidString(StringBuffer& out) const;
    // The content, without a leading 00 when two or more bytes follow it.
    void getUnsignedContent(DataBuffer& out) const;
    // The content bytes of a primitive node.
    void getContent(DataBuffer& out) const;
    // Whether a primitive node's content is exactly these bytes.
    bool contentEquals(const unsigned char* bytes, std::uint32_t n) const;
    // Sets a primitive node's content and length (copied).
    bool setContent(const unsigned char* bytes, std::uint32_t n);
    // The same, the bytes borrowed: they must outlive the node.
    bool borrowContent(const unsigned char* bytes, std::uint32_t n);
    bool encodeDer(DataBuffer& out, bool allowIndefinite, StringBuffer* trace, LogBase& log) const;
    // The DER of a decoded item, false when the item was not written as DER
    // (a length in more octets than it needs, or an indefinite one): what a
    // signature covers is judged as the bytes that were signed.
    bool encodeDerAsWritten(DataBuffer& out, LogBase& log) const;

    int getNumChildren() const { return children ? children->getCount() : 0; }
    Asn1* getChild(int index) const { return children ? static_cast<Asn1*>(children->elementAt(index)) : nullptr; }

    std::uint8_t tagClass = 0;
    std::uint8_t primitive = 1;
    std::uint8_t indefinite = 0;
    // Identifier, length and content octets as decoded (0 for a built node).
    std::uint32_t encodedSize = 0;
    std::uint32_t tag = 0;
    std::uint32_t length = 0;
    unsigned char inlineContent[4] = {0, 0, 0, 0};
    DataBuffer* content = nullptr;
    ExtPtrArray* children = nullptr;
    DataBuffer* rawContent = nullptr;

private:
    // Content that stays where it was read (borrowContent), in place of
    // content: a message's thousands of items hold no buffer each.
    const unsigned char* m_borrowed = nullptr;

    static Asn1* newPrimitive(std::uint32_t tagNumber, const unsigned char* bytes, std::uint32_t n);
    static Asn1* newConstructed(std::uint32_t tagNumber, std::uint8_t cls);
    const unsigned char* contentBytes() const;
};

// Appends the items of the range to out (which owns them). maxItems 0 means
// no limit; deep decodes constructed content, otherwise it is kept raw. False
// (logged) when an item at any depth is malformed: a length past its parent,
// children that do not fill their parent, an indefinite length without its
// end-of-contents pair.
bool decodeBer(const unsigned char* data, std::uint32_t length, ExtPtrArray& out, int maxItems, bool deep,
               std::uint32_t& consumed, StringBuffer* trace, LogBase& log);
// The first item with its subtree decoded (caller owns it), or null.
Asn1* decodeBerFirst(const unsigned char* data, std::uint32_t length, StringBuffer* trace, LogBase& log);
// The same for a message read whole: its contents borrowed from data rather
// than copied (data must outlive the tree), and its items held to the rules
// the ASN.1 XML rendering's reader holds them to (OIDs whole and in shortest
// form, string segments of their string's type), so that what it reads the
// rendering would read.
Asn1* decodeBerFirstBorrowing(const unsigned char* data, std::uint32_t length, LogBase& log);

} // namespace tessik
