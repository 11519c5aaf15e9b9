#pragma once
// Decoded DER/BER items and their ASN.1 XML rendering: the element vocabulary
// the certificate, PKCS#7 and name code query by path.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

class DataBuffer;
class LogBase;
class StringBuffer;
class TreeNode;

// One decoded item. Constructed items hold their children; primitive ones
// hold their content by kind: BOOLEAN a value, INTEGER its bytes as they
// stand, BIT STRING one byte (0 or 1) per bit, UTF8String UTF-16 units,
// everything else (OBJECT IDENTIFIER too) bytes. `length` counts the
// content in those units (0 for constructed items, BOOLEAN and NULL).
// Blocks handed to the adopting setters must come from new[].
class AsnItem : public TessikObject {
public:
    AsnItem() = default;
    ~AsnItem() override;
    AsnItem(const AsnItem&) = delete;
    AsnItem& operator=(const AsnItem&) = delete;

    void clear();

    void setBool(bool value);
    void setInteger(const unsigned char* bytes, std::uint32_t n);
    void setBitString(unsigned char* bits, std::uint32_t count);
    void setNull();
    void setOid(const unsigned char* bytes, std::uint32_t n);
    void setUtf8(std::uint16_t* units, std::uint32_t count);
    void setOctets(const unsigned char* bytes, std::uint32_t n);
    void setUtcTime(const unsigned char* bytes, std::uint32_t n);
    void setIa5(const unsigned char* bytes, std::uint32_t n);
    void setT61(const unsigned char* bytes, std::uint32_t n);
    void setPrintable(const unsigned char* bytes, std::uint32_t n);
    void setSequence(ExtPtrArray* list);
    void setSet(ExtPtrArray* list);
    void setConstructed(std::uint32_t tagNumber, std::uint8_t cls, ExtPtrArray* list);
    void setPrimitive(std::uint32_t tagNumber, std::uint8_t cls, const unsigned char* bytes, std::uint32_t n);
    // A primitive item whose content stays where it was read: bytes must
    // outlive the item.
    void borrowPrimitive(std::uint32_t tagNumber, std::uint8_t cls, const unsigned char* bytes, std::uint32_t n);

    bool isUniversal(std::uint32_t tagNumber) const { return tagClass == 0 && tag == tagNumber; }
    // The child at index (still owned here); null for a primitive item.
    AsnItem* getSubItem(int index) const;
    int getNumSubItems() const;
    void getOidString(StringBuffer& out) const;
    bool getBool() const { return m_bool; }
    const std::uint16_t* getUnits() const { return m_units; }
    // Bytes of INTEGER, BIT STRING (one per bit) and the byte kinds.
    const unsigned char* getBytes() const { return m_bytes; }
    ExtPtrArray* getChildren() const { return m_children; }

    // Appends the XML rendering of the item and its subtree. With ext, the
    // contents of 257 bytes or more of OCTET STRINGs and of primitive items
    // of the other classes are appended there (borrowing what the item
    // borrows) and referred to by index: the element's text is the index,
    // and it carries src="ext".
    void toXml(StringBuffer& out, ExtPtrArray* ext) const;
    // Builds the element tree the rendering describes (texts unescaped, as a
    // parser would give them back) under parent, or as a new root when parent
    // is null. Returns the new element.
    TreeNode* toTree(TreeNode* parent) const;

    std::uint8_t constructed = 0;
    std::uint8_t tagClass = 0;
    std::uint32_t tag = 0;
    std::uint32_t length = 0;

private:
    void setBytesOf(std::uint32_t tagNumber, const unsigned char* bytes, std::uint32_t n);
    void toXmlTagged(StringBuffer& out, ExtPtrArray* ext) const;
    // The index in ext of a new entry holding the content, or -1.
    int appendToExt(ExtPtrArray& ext) const;
    // The element name and text of the rendering; false for items drawn by
    // toXmlTagged. rawText is true when the text needs no escaping.
    bool elementOf(const char*& name, StringBuffer& text, bool& rawText) const;

    bool m_bool = false;
    bool m_bytesBorrowed = false;
    ExtPtrArray* m_children = nullptr;
    std::uint16_t* m_units = nullptr;
    unsigned char* m_bytes = nullptr;
};

// The rules a reader holds lengths to: BER takes a definite length in more
// bytes than it needs (a long form below 128, or with leading zero bytes),
// DER refuses it (X.690 10.1).
enum class AsnLengths { Ber, Der };

// The top-level items of data (caller owns the list and the items); null with
// consumed 0 for no data and for any malformed item at any depth (logged):
// a broken encoding is never handed on in part. An end-of-contents pair at
// the top ends the walk. maxItems > 0 stops after that many items, so
// consumed then tells where they end. Lengths are held to DER's rules
// unless BER's are asked for (PKCS#7); both read the indefinite length.
// borrowLargeOctets: OCTET STRINGs of 257 bytes or more borrow data's bytes
// (data must outlive the items).
ExtPtrArray* decodeAsnItems(const unsigned char* data, std::uint32_t length, std::uint32_t& consumed, LogBase& log,
                            bool verbose, int maxItems = 0, AsnLengths rules = AsnLengths::Der,
                            bool borrowLargeOctets = false);
// The first top-level item (caller owns it), or null when it does not decode;
// what follows it is not read.
AsnItem* DecodeAsn(const unsigned char* data, std::uint32_t length, LogBase& log, bool verbose);
// DER bytes to ASN.1 XML; several top-level items are wrapped in one
// sequence element. False for empty input or input that does not decode.
// The entries ext receives borrow der's bytes: der must outlive them, so
// that a message read whole is not held again in its parts.
// An item of der the rendering shows as an empty one of its tag (its
// content read elsewhere): where it starts, and its size in all.
struct AsnSkipped {
    std::uint32_t offset;
    std::uint32_t size;
};
// skipped (may be null): constructed items so shown, in der's order.
bool derToXml(const DataBuffer& der, StringBuffer& out, ExtPtrArray* ext, LogBase& log, bool verbose,
              AsnLengths rules = AsnLengths::Der, const std::vector<AsnSkipped>* skipped = nullptr);
// The same decoding, built as an element tree (caller owns the root).
TreeNode* derToTree(const DataBuffer& der, LogBase& log, bool verbose);

// Identifier and length octets of one item.
struct AsnHeader {
    std::uint8_t cls = 0;
    bool constructed = false;
    std::uint32_t tag = 0;
    bool indefinite = false;
    std::uint32_t length = 0;
    std::uint32_t size = 0; // identifier and length bytes
};
// Reads the header at p (n >= 1 bytes, p[0] not 0); false, with the reason
// logged, when it is cut short or malformed.
bool readAsnHeader(const unsigned char* p, std::uint32_t n, AsnHeader& h, LogBase& log, AsnLengths rules);

// An OID's content of whole subidentifiers, none with a leading 0x80 (not
// in its shortest form, X.690 8.19.2) nor past 586 bytes: one the rendering
// reads, every arc exactly.
bool asnOidWellFormed(const unsigned char* p, std::uint32_t n);

// Types whose constructed form is segments of their content (X.690 8.23),
// from OCTET STRING through the character strings and times: each segment
// is an OCTET STRING or of the string's own type.
bool isSegmentedString(std::uint32_t tag);
// Those of them whose content asnContentAllowed judges: only these need
// their segments joined to be judged.
bool isCheckedString(std::uint32_t tag);

// Whether a universal item's content may stand (content null for a
// constructed item), as X.690 has it for BER and DER alike; false (logged)
// for a BOOLEAN not of one octet, an INTEGER or ENUMERATED not in its
// shortest form, a BIT STRING whose unused-bits octet passes 7, NULL with
// content, an empty OID, malformed UTF-8 (overlong forms, stray continuation
// bytes, surrogates), a BMPString of odd length or with a lone surrogate, a
// UniversalString not of whole scalar values, and a type that is always
// primitive written constructed. Character sets are not judged otherwise.
bool asnContentAllowed(std::uint32_t tag, bool constructed, const unsigned char* p, std::uint32_t n, LogBase& log);

// The text of a string value: a NUL inside is written \00 and a backslash
// \\ (RFC 4514), so that a name never loses a byte unseen nor reads as
// another name.
void appendStringValue(const char* p, std::size_t n, StringBuffer& text);
// UTF-16 units (host order) as UTF-8, the NULs among them kept for
// appendStringValue.
std::string utf8OfUnits(const std::uint16_t* units, std::uint32_t count);

// Friendly names of PKCS#7, PKCS#9 and PKCS#12 OIDs; null when unknown.
const char* getOidFriendlyName(const char* oid);

// UTF-8 to UTF-16 units, characters beyond the Basic Multilingual Plane as
// surrogate pairs; false for empty or malformed text. units is new[] storage.
bool decodeUtf8ToUtf16(const unsigned char* p, std::uint32_t n, std::uint16_t*& units, std::uint32_t& count);
// Dotted arcs, each read whole however large, the first subidentifier split
// as X.690 prescribes. False, with nothing appended, for a subidentifier that
// starts with 0x80, is left unfinished or passes 586 bytes.
bool appendOidText(const unsigned char* p, std::uint32_t n, StringBuffer& out);

} // namespace tessik
