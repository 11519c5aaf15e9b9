#include "netlib/pki/Asn1.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/text/ContentCoding.h"

namespace tessik {

using namespace asn;

namespace {
constexpr std::uint32_t kInlineMax = 4;
constexpr std::size_t kUtcTimeChars = 13;

void deleteNodes(ExtPtrArray* list) {
    if (!list)
        return;
    list->removeAllObjects();
    delete list;
}

void traceLine(StringBuffer* trace, const char* format, unsigned int value) {
    if (!trace)
        return;
    char line[48];
    std::snprintf(line, sizeof line, format, value);
    trace->append(line);
}

void appendBase128(std::uint32_t value, DataBuffer& out) {
    unsigned char groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
    } while (value);
    while (n > 1)
        out.appendChar(groups[--n] | 0x80);
    out.appendChar(groups[0]);
}

void encodeDerLength(std::uint32_t length, DataBuffer& out) {
    if (length < 0x80) {
        out.appendChar(static_cast<unsigned char>(length));
        return;
    }
    unsigned char bytes[4];
    int n = 0;
    for (std::uint32_t v = length; v; v >>= 8)
        bytes[n++] = static_cast<unsigned char>(v & 0xFF);
    out.appendChar(static_cast<unsigned char>(0x80 | n));
    while (n > 0)
        out.appendChar(bytes[--n]);
}

constexpr std::uint32_t kLimbBase = 1000000000;
constexpr std::ptrdiff_t kLimbDigits = 9;
constexpr std::uint32_t kArcsPerFirst = 40;
// 511 content bytes hold 3577 bits: no arc of more digits can fit.
constexpr std::ptrdiff_t kMaxArcDigits = 1077;

// Reads one decimal arc as base 10^9 limbs, least significant first; false
// when no digits are there or too many to fit an OID.
bool readArc(const char*& p, std::vector<std::uint32_t>& limbs) {
    const char* start = p;
    while (*p >= '0' && *p <= '9')
        ++p;
    if (p == start || p - start > kMaxArcDigits)
        return false;
    limbs.clear();
    for (const char* end = p; end > start;) {
        const char* from = end - std::min(kLimbDigits, end - start);
        std::uint32_t limb = 0;
        for (const char* c = from; c < end; ++c)
            limb = limb * 10 + static_cast<std::uint32_t>(*c - '0');
        limbs.push_back(limb);
        end = from;
    }
    return true;
}

// The arc as one subidentifier: base-128 groups, most significant first.
void appendSubidentifier(std::vector<std::uint32_t> limbs, DataBuffer& out) {
    std::vector<unsigned char> groups;
    do {
        std::uint64_t rest = 0;
        for (std::size_t i = limbs.size(); i-- > 0;) {
            const std::uint64_t v = limbs[i] + rest * kLimbBase;
            limbs[i] = static_cast<std::uint32_t>(v / 128);
            rest = v % 128;
        }
        groups.push_back(static_cast<unsigned char>(rest));
        while (limbs.size() > 1 && limbs.back() == 0)
            limbs.pop_back();
    } while (limbs.size() > 1 || limbs[0] != 0);
    for (std::size_t i = groups.size(); i-- > 1;)
        out.appendChar(groups[i] | 0x80);
    out.appendChar(groups[0]);
}
} // namespace

Asn1::~Asn1() {
    clear();
}

void Asn1::clear() {
    delete content;
    deleteNodes(children);
    delete rawContent;
    m_borrowed = nullptr;
    content = nullptr;
    children = nullptr;
    rawContent = nullptr;
    tagClass = 0;
    primitive = 1;
    indefinite = 0;
    encodedSize = 0;
    tag = 0;
    length = 0;
    std::memset(inlineContent, 0, sizeof inlineContent);
}

bool Asn1::setContent(const unsigned char* bytes, std::uint32_t n) {
    length = n;
    if (n == 0)
        return true;
    if (n <= kInlineMax) {
        std::memcpy(inlineContent, bytes, n);
        return true;
    }
    delete content;
    m_borrowed = nullptr;
    content = new (std::nothrow) DataBuffer();
    return content && content->appendExact(bytes, n);
}

bool Asn1::borrowContent(const unsigned char* bytes, std::uint32_t n) {
    if (n <= kInlineMax || !bytes)
        return setContent(bytes, n);
    length = n;
    delete content;
    content = nullptr;
    m_borrowed = bytes;
    return true;
}

const unsigned char* Asn1::contentBytes() const {
    if (length == 0)
        return nullptr;
    if (length <= kInlineMax)
        return inlineContent;
    if (m_borrowed)
        return m_borrowed;
    return content && content->getSize() == length ? content->getData() : nullptr;
}

Asn1* Asn1::newPrimitive(std::uint32_t tagNumber, const unsigned char* bytes, std::uint32_t n) {
    Asn1* node = new (std::nothrow) Asn1();
    if (!node)
        return nullptr;
    node->tag = tagNumber;
    if (!node->setContent(bytes, bytes ? n : 0)) {
        delete node;
        return nullptr;
    }
    return node;
}

Asn1* Asn1::newConstructed(std::uint32_t tagNumber, std::uint8_t cls) {
    Asn1* node = new (std::nothrow) Asn1();
    if (!node)
        return nullptr;
    node->tag = tagNumber;
    node->tagClass = cls;
    node->primitive = 0;
    node->children = new (std::nothrow) ExtPtrArray();
    if (!node->children) {
        delete node;
        return nullptr;
    }
    return node;
}

Asn1* Asn1::newBoolean(bool value) {
    unsigned char b = value ? 0xFF : 0x00;
    return newPrimitive(kTagBoolean, &b, 1);
}

Asn1* Asn1::newInteger(std::int32_t value) {
    unsigned char bytes[4];
    auto u = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<unsigned char>(u >> (24 - 8 * i));
    int start = 0;
    // Drop leading bytes that only repeat the sign of the next one.
    while (start < 3 && ((bytes[start] == 0x00 && !(bytes[start + 1] & 0x80)) ||
                         (bytes[start] == 0xFF && (bytes[start + 1] & 0x80))))
        ++start;
    return newPrimitive(kTagInteger, bytes + start, static_cast<std::uint32_t>(4 - start));
}

Asn1* Asn1::newUnsignedInteger(const unsigned char* bytes, std::uint32_t n) {
    if (!bytes || n == 0)
        return nullptr;
    if (bytes[0] < 0x80)
        return newPrimitive(kTagInteger, bytes, n);
    DataBuffer padded;
    padded.appendChar(0);
    padded.append(bytes, n);
    return newPrimitive(kTagInteger, padded.getData(), padded.getSize());
}

Asn1* Asn1::newBitString(const unsigned char* bytes, std::uint32_t n) {
    if (!bytes || n == 0)
        return newPrimitive(kTagBitString, nullptr, 0);
    DataBuffer withUnused;
    withUnused.appendChar(0);
    withUnused.append(bytes, n);
    return newPrimitive(kTagBitString, withUnused.getData(), withUnused.getSize());
}

Asn1* Asn1::newOctetString(const unsigned char* bytes, std::uint32_t n) {
    return newPrimitive(kTagOctetString, bytes, n);
}

Asn1* Asn1::newNull() {
    return newPrimitive(kTagNull, nullptr, 0);
}

Asn1* Asn1::newOid(const char* text) {
    if (!text)
        return nullptr;
    StringBuffer trimmed(text);
    trimmed.trimWhitespace();
    const char* p = trimmed.getString();
    std::vector<std::uint32_t> x, y;
    if (!readArc(p, x) || *p++ != '.' || !readArc(p, y))
        return nullptr;
    // Only three roots exist, and under the first two the second arc is below 40.
    const bool smallY = y.size() == 1 && y[0] < kArcsPerFirst;
    if (x.size() != 1 || x[0] > 2 || (x[0] < 2 && !smallY))
        return nullptr;
    // Every arc is written exactly, however large, as the readers read it.
    std::uint64_t carry = x[0] * kArcsPerFirst;
    for (std::size_t i = 0; carry && i < y.size(); ++i) {
        const std::uint64_t v = y[i] + carry;
        y[i] = static_cast<std::uint32_t>(v % kLimbBase);
        carry = v / kLimbBase;
    }
    if (carry)
        y.push_back(static_cast<std::uint32_t>(carry));
    DataBuffer der;
    appendSubidentifier(y, der);
    while (*p) {
        if (*p++ != '.' || !readArc(p, y))
            return nullptr;
        appendSubidentifier(y, der);
        if (der.getSize() > kMaxOidContent)
            return nullptr;
    }
    if (der.getSize() > kMaxOidContent)
        return nullptr;
    return newPrimitive(kTagOid, der.getData(), der.getSize());
}

Asn1* Asn1::newUtf8String(const char* text) {
    return newPrimitive(kTagUtf8String, reinterpret_cast<const unsigned char*>(text ? text : ""),
                        static_cast<std::uint32_t>(text ? std::strlen(text) : 0));
}

Asn1* Asn1::newPrintableString(const char* text) {
    return newPrimitive(kTagPrintableString, reinterpret_cast<const unsigned char*>(text ? text : ""),
                        static_cast<std::uint32_t>(text ? std::strlen(text) : 0));
}

Asn1* Asn1::newT61String(const char* text) {
    return newPrimitive(kTagT61String, reinterpret_cast<const unsigned char*>(text ? text : ""),
                        static_cast<std::uint32_t>(text ? std::strlen(text) : 0));
}

Asn1* Asn1::newIa5String(const char* text) {
    return newPrimitive(kTagIa5String, reinterpret_cast<const unsigned char*>(text ? text : ""),
                        static_cast<std::uint32_t>(text ? std::strlen(text) : 0));
}

Asn1* Asn1::newUtcTime(const char* text) {
    if (!text || std::strlen(text) <= 4)
        return newUtcTimeNow();
    return newPrimitive(kTagUtcTime, reinterpret_cast<const unsigned char*>(text),
                        static_cast<std::uint32_t>(std::strlen(text)));
}

Asn1* Asn1::newUtcTimeNow() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::snprintf(text, sizeof text, "%02d%02d%02d%02d%02d%02dZ", (utc.tm_year + 1900) % 100, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return newPrimitive(kTagUtcTime, reinterpret_cast<const unsigned char*>(text), kUtcTimeChars);
}

Asn1* Asn1::newSequence() {
    return newConstructed(kTagSequence, kClassUniversal);
}
Asn1* Asn1::newSet() {
    return newConstructed(kTagSet, kClassUniversal);
}
Asn1* Asn1::newContextConstructed(std::uint32_t tagNumber) {
    return newConstructed(tagNumber, kClassContext);
}

Asn1* Asn1::newContextPrimitive(std::uint32_t tagNumber, DataBuffer* buffer) {
    Asn1* node = new (std::nothrow) Asn1();
    if (!node) {
        delete buffer;
        return nullptr;
    }
    node->tag = tagNumber;
    node->tagClass = kClassContext;
    if (!buffer)
        return node;
    node->length = buffer->getSize();
    if (node->length <= kInlineMax) {
        if (node->length)
            std::memcpy(node->inlineContent, buffer->getData(), node->length);
        delete buffer;
    } else {
        node->content = buffer;
    }
    return node;
}

bool Asn1::appendChild(Asn1* node) {
    if (!node || primitive || !children)
        return false;
    return children->appendPtr(node) != nullptr;
}

bool Asn1::getOidString(StringBuffer& out) const {
    out.clear();
    if (tag != kTagOid)
        return false;
    const unsigned char* p = contentBytes();
    // A malformed encoding gives no text, so it equals no OID.
    return p && appendOidText(p, length, out) && out.getSize() > 0;
}

void Asn1::getContent(DataBuffer& out) const {
    if (const unsigned char* p = contentBytes())
        out.getSize() == 0 ? out.appendExact(p, length) : out.append(p, length);
}

bool Asn1::contentEquals(const unsigned char* bytes, std::uint32_t n) const {
    const unsigned char* p = contentBytes();
    return primitive && length == n && (n == 0 || (p && std::memcmp(p, bytes, n) == 0));
}

void Asn1::getUnsignedContent(DataBuffer& out) const {
    const unsigned char* p = contentBytes();
    if (!p)
        return;
    if (length >= 2 && p[0] == 0)
        out.append(p + 1, length - 1);
    else
        out.append(p, length);
}

bool Asn1::encodeDer(DataBuffer& out, bool allowIndefinite, StringBuffer* trace, LogBase& log) const {
    if (out.getSize() == 0 && encodedSize)
        out.ensureCapacity(encodedSize);
    unsigned char id = static_cast<unsigned char>((tagClass << 6) | (primitive ? 0 : kConstructedBit));
    if (tag < kHighTagNumber) {
        id |= static_cast<unsigned char>(tag);
        out.appendChar(id);
    } else {
        id |= kHighTagNumber;
        out.appendChar(id);
        appendBase128(tag, out);
    }
    traceLine(trace, "id[%x]\n", id);

    if (primitive) {
        encodeDerLength(length, out);
        traceLine(trace, "len=%d\n", length);
        if (length == 0)
            return true;
        if (length <= kInlineMax)
            return out.append(inlineContent, length);
        if (m_borrowed)
            return out.append(m_borrowed, length);
        if (!content) {
            log.logError(asn_msg::kNoContent);
            return false;
        }
        if (content->getSize() != length) {
            log.logError(asn_msg::kLengthDisagreement);
            return false;
        }
        return out.appendDb(*content);
    }

    if (rawContent) {
        encodeDerLength(rawContent->getSize(), out);
        traceLine(trace, "totalLen=%d\n", rawContent->getSize());
        return out.appendDb(*rawContent);
    }
    if (!children)
        return false;

    DataBuffer body;
    if (encodedSize)
        body.ensureCapacity(encodedSize);
    StringBuffer childTrace;
    bool ok = true;
    for (int i = 0; i < children->getCount(); ++i) {
        auto* child = static_cast<const Asn1*>(children->elementAt(i));
        if (!child || !child->encodeDer(body, allowIndefinite, trace ? &childTrace : nullptr, log))
            ok = false;
    }
    if (!ok)
        return false;
    bool indefiniteForm = indefinite && allowIndefinite;
    if (indefiniteForm) {
        out.appendChar(kIndefiniteLength);
        if (trace)
            trace->append("indefinite_length\n");
    } else {
        encodeDerLength(body.getSize(), out);
        traceLine(trace, "totalLen=%d\n", body.getSize());
    }
    if (trace)
        trace->appendSb(childTrace);
    out.appendDb(body);
    if (indefiniteForm)
        out.appendCharRepeated(0, 2);
    return true;
}

namespace {

bool anyIndefinite(const Asn1& node) {
    if (node.indefinite)
        return true;
    for (int i = 0; i < node.getNumChildren(); ++i)
        if (anyIndefinite(*node.getChild(i)))
            return true;
    return false;
}

} // namespace

// Decoding changes nothing but length octets, and a definite length in more
// octets than it needs always adds to the size: the same size and no
// indefinite length is the same bytes.
bool Asn1::encodeDerAsWritten(DataBuffer& out, LogBase& log) const {
    out.clear();
    if (!encodeDer(out, false, nullptr, log))
        return false;
    if (out.getSize() == encodedSize && !anyIndefinite(*this))
        return true;
    log.logError(asn_msg::kNotWrittenAsDer);
    out.clear();
    return false;
}

// ---------------------------------------------------------------- BER decoding

namespace {

bool oidWellFormed(const unsigned char* p, std::uint32_t n, LogBase& log) {
    if (asnOidWellFormed(p, n))
        return true;
    log.logError(asn_msg::kBadOid);
    return false;
}

// The content of a constructed string, its segments joined at any depth.
void joinSegments(const Asn1& node, DataBuffer& out) {
    for (int i = 0; i < node.getNumChildren(); ++i) {
        const Asn1* segment = node.getChild(i);
        if (segment->primitive)
            segment->getContent(out);
        else
            joinSegments(*segment, out);
    }
}

// One level of items into out. False (logged) when anything in the range or
// below it is malformed; eoc tells that an end-of-contents pair closed the
// level. A message (asMessage) is read borrowing its bytes, and held to the
// rules of the rendering's reader: OIDs whole and in shortest form, and
// strings in segments (segmentsOf names the string type whose segments the
// level holds, 0 for none) of OCTET STRINGs or their own type, judged once
// joined.
bool decodeBerLevel(const unsigned char* data, std::uint32_t length, ExtPtrArray& out, int maxItems, bool deep,
                    bool asMessage, std::uint32_t& consumed, bool& eoc, StringBuffer* trace, LogBase& log, int depth,
                    std::uint32_t segmentsOf = 0) {
    consumed = 0;
    eoc = false;
    if (!data) {
        log.logError(asn_msg::kNullBer);
        return false;
    }
    if (length < 2) {
        log.logError(asn_msg::kShortBer);
        return false;
    }
    if (depth > kMaxNestingDepth) {
        log.logError(asn_msg::kTooDeep);
        return false;
    }
    const unsigned char* p = data;
    std::uint32_t remaining = length;
    int count = 0;
    while (remaining > 0) {
        traceLine(trace, "id[%x]\n", p[0]);
        if (p[0] == 0) {
            consumed += 1;
            if (remaining == 1) {
                log.logError(asn_msg::kPrematureF1);
                return false;
            }
            if (p[1] == 0) {
                consumed += 1;
                eoc = true;
                return true;
            }
            log.logError(asn_msg::kZeroTagBer);
            return false;
        }
        AsnHeader h;
        if (!readAsnHeader(p, remaining, h, log, AsnLengths::Ber))
            return false;
        if (segmentsOf && (h.cls != kClassUniversal || (h.tag != kTagOctetString && h.tag != segmentsOf))) {
            log.logError(asn_msg::kBadOctetSegment);
            return false;
        }
        if (h.indefinite && !h.constructed) {
            log.logError(asn_msg::kPrimitiveIndefinite);
            return false;
        }
        if (h.constructed && h.cls == kClassUniversal && !asnContentAllowed(h.tag, true, nullptr, 0, log))
            return false;
        auto node = std::make_unique<Asn1>();
        node->tagClass = h.cls;
        node->primitive = h.constructed ? 0 : 1;
        node->tag = h.tag;
        node->indefinite = h.indefinite ? 1 : 0;
        std::uint32_t len = h.length;
        traceLine(trace, node->primitive ? "len=%d\n" : "totalLen=%d\n", len);
        consumed += h.size;
        p += h.size;
        remaining -= h.size;
        if (remaining == 0 && (len != 0 || h.indefinite)) {
            log.logError(asn_msg::kPrematureE);
            return false;
        }
        if (len > remaining || (h.indefinite && remaining < 2)) {
            log.logError(asn_msg::kPrematureF2);
            log.logDataLong("length", static_cast<int>(len));
            log.logDataLong("numBytesLeft", static_cast<int>(remaining));
            return false;
        }
        std::uint32_t span = len;
        bool ok = true;
        if (node->primitive) {
            ok = (h.cls != kClassUniversal || segmentsOf || asnContentAllowed(h.tag, false, p, len, log)) &&
                 (!asMessage || segmentsOf || h.cls != kClassUniversal || h.tag != kTagOid ||
                  oidWellFormed(p, len, log)) &&
                 (asMessage ? node->borrowContent(p, len) : node->setContent(p, len));
        } else if (h.indefinite || (deep && len > 0)) {
            // Indefinite content is always walked: only its end-of-contents
            // pair tells where it stops.
            node->children = new (std::nothrow) ExtPtrArray();
            std::uint32_t used = 0;
            bool closed = false;
            const bool segmented = asMessage && h.cls == kClassUniversal && isSegmentedString(h.tag);
            const std::uint32_t childSegments = segmented ? (segmentsOf ? segmentsOf : h.tag) : 0;
            ok = node->children && decodeBerLevel(p, h.indefinite ? remaining : len, *node->children, 0, deep,
                                                  asMessage, used, closed, trace, log, depth + 1, childSegments);
            // An OCTET STRING's content is not judged: a streamed message's
            // content is not gathered again only to pass.
            if (ok && segmented && !segmentsOf && isCheckedString(h.tag)) {
                DataBuffer joined;
                joinSegments(*node, joined);
                ok = asnContentAllowed(h.tag, false, joined.getData(), joined.getSize(), log);
            }
            if (ok && h.indefinite != closed) {
                log.logError(h.indefinite ? asn_msg::kNoEoc : asn_msg::kEocInDefinite);
                ok = false;
            }
            if (!ok)
                log.logError(asn_msg::kChildFailed);
            if (h.indefinite)
                span = used;
        } else if (deep) {
            // The rendering's reader opens a level below every constructed
            // item, an empty one too, and refuses it past the deepest.
            if (asMessage && depth + 1 > kMaxNestingDepth) {
                log.logError(asn_msg::kTooDeep);
                return false;
            }
            node->children = new (std::nothrow) ExtPtrArray();
            ok = node->children != nullptr;
        } else {
            node->rawContent = new (std::nothrow) DataBuffer();
            ok = node->rawContent && node->rawContent->appendExact(p, len);
        }
        if (!ok)
            return false;
        node->encodedSize = h.size + span;
        out.appendPtr(node.release());
        consumed += span;
        p += span;
        remaining -= span;
        ++count;
        if (maxItems != 0 && count >= maxItems)
            return true;
    }
    return true;
}

} // namespace

bool decodeBer(const unsigned char* data, std::uint32_t length, ExtPtrArray& out, int maxItems, bool deep,
               std::uint32_t& consumed, StringBuffer* trace, LogBase& log) {
    bool eoc = false;
    return decodeBerLevel(data, length, out, maxItems, deep, false, consumed, eoc, trace, log, 0);
}

namespace {

Asn1* decodeFirst(const unsigned char* data, std::uint32_t length, bool asMessage, StringBuffer* trace, LogBase& log) {
    ExtPtrArray list;
    std::uint32_t consumed = 0;
    bool eoc = false;
    bool ok = decodeBerLevel(data, length, list, 1, true, asMessage, consumed, eoc, trace, log, 0);
    Asn1* first = ok && list.getCount() > 0 ? static_cast<Asn1*>(list.removeAt(0)) : nullptr;
    list.removeAllObjects();
    return first;
}

} // namespace

Asn1* decodeBerFirst(const unsigned char* data, std::uint32_t length, StringBuffer* trace, LogBase& log) {
    return decodeFirst(data, length, false, trace, log);
}

Asn1* decodeBerFirstBorrowing(const unsigned char* data, std::uint32_t length, LogBase& log) {
    return decodeFirst(data, length, true, nullptr, log);
}

// ---------------------------------------------------------------- from the XML rendering

namespace {

void decodeBase64Content(const TreeNode* element, DataBuffer& out) {
    DataBuffer scratch;
    ContentCoding::decodeBase64(element->getContent(), static_cast<unsigned int>(element->getContentSize()), scratch);
    out.appendDb(scratch);
}

bool appendConverted(Asn1* parent, const TreeNode* element, LogBase& log) {
    for (int i = 0; i < element->getNumChildren(); ++i)
        if (Asn1* child = Asn1::fromXml(element->getChild(i), log))
            if (!parent->appendChild(child))
                delete child;
    return true;
}

bool is(const TreeNode* element, const char* name) {
    return std::strcmp(element->getTag(), name) == 0;
}

} // namespace

Asn1* Asn1::fromXml(const TreeNode* element, LogBase& log) {
    if (!element)
        return nullptr;
    const char* text = element->getContent();
    if (is(element, "sequence") || is(element, "set")) {
        Asn1* node = is(element, "sequence") ? newSequence() : newSet();
        if (node)
            appendConverted(node, element, log);
        return node;
    }
    if (is(element, "null"))
        return newNull();
    if (is(element, "bool"))
        return newBoolean(element->getContentInt() != 0);
    if (is(element, "int") || is(element, "bits")) {
        // Both are rendered as hex.
        DataBuffer bytes;
        decodeHexBytes(text, static_cast<unsigned int>(element->getContentSize()), bytes);
        if (is(element, "int"))
            return newUnsignedInteger(bytes.getData(), bytes.getSize());
        return newBitString(bytes.getData(), bytes.getSize());
    }
    if (is(element, "octets")) {
        DataBuffer bytes;
        decodeBase64Content(element, bytes);
        return newOctetString(bytes.getData(), bytes.getSize());
    }
    if (is(element, "oid"))
        return newOid(text);
    if (is(element, "ia5"))
        return newIa5String(text);
    if (is(element, "t61"))
        return newT61String(text);
    if (is(element, "printable"))
        return newPrintableString(text);
    if (is(element, "utf8"))
        return newUtf8String(text);
    if (is(element, "utctime"))
        return newUtcTime(text);
    bool context = is(element, "contextSpecific");
    // Universal items without an element of their own (BMPString,
    // GeneralizedTime ...) keep their tag, so a name re-encodes whole.
    if (context || is(element, "universal")) {
        StringBuffer number;
        element->getAttrValue("tag", number);
        auto tagNumber = static_cast<std::uint32_t>(number.intValue());
        std::uint8_t cls = context ? kClassContext : kClassUniversal;
        if (element->hasAttrWithValue("constructed", "1")) {
            Asn1* node = newConstructed(tagNumber, cls);
            if (node)
                appendConverted(node, element, log);
            return node;
        }
        auto* bytes = new (std::nothrow) DataBuffer();
        if (bytes)
            decodeBase64Content(element, *bytes);
        Asn1* node = newContextPrimitive(tagNumber, bytes);
        if (node)
            node->tagClass = cls;
        return node;
    }
    return nullptr;
}

} // namespace tessik
