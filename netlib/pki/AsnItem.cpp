#include "netlib/pki/AsnItem.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TreeNode.h"
#include "netlib/core/Utf.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/text/ContentCoding.h"
#include "platform/ByteOrder.h"
#include "platform/Cp1252Text.h"

namespace tessik {

using namespace asn;

namespace {

constexpr std::uint32_t kTagReal = 9;
constexpr std::uint32_t kTagEnumerated = 10;
constexpr std::uint32_t kTagRelativeOid = 13;
constexpr std::uint32_t kTagGeneralString = 27;
constexpr unsigned char kMaxUnusedBits = 7;
constexpr std::uint32_t kBmpUnitSize = 2;
constexpr std::uint32_t kUniversalCharSize = 4;
constexpr std::uint32_t kFirstSupplementary = 0x10000;
constexpr std::uint32_t kLastScalar = 0x10FFFF;
constexpr std::uint32_t kHighSurrogate = 0xD800;
constexpr std::uint32_t kLowSurrogate = 0xDC00;
constexpr std::uint32_t kSurrogateEnd = 0xE000;
constexpr unsigned int kSurrogateBits = 10;
constexpr std::uint32_t kSurrogateMask = 0x3FF;
constexpr unsigned char kSeptetMore = 0x80;
// Past this a subidentifier is refused rather than read (4096 bits).
constexpr std::uint32_t kMaxSubidentifierBytes = 586;

bool isSurrogate(std::uint32_t v) {
    return v >= kHighSurrogate && v < kSurrogateEnd;
}

bool isWellFormedUtf8(const unsigned char* p, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n;) {
        std::uint32_t value = 0;
        const int size = utf8ScalarAt(p + i, n - i, value);
        if (size == 0)
            return false;
        i += static_cast<std::uint32_t>(size);
    }
    return true;
}

// Big-endian UTF-16 with every surrogate in a pair.
bool isWellFormedBmp(const unsigned char* p, std::uint32_t n) {
    if (n % kBmpUnitSize)
        return false;
    for (std::uint32_t i = 0; i < n; i += kBmpUnitSize) {
        const std::uint32_t unit = platform::LoadBe16(p + i);
        if (!isSurrogate(unit))
            continue;
        if (unit >= kLowSurrogate || i + 2 * kBmpUnitSize > n)
            return false;
        const std::uint32_t next = platform::LoadBe16(p + i + kBmpUnitSize);
        if (next < kLowSurrogate || next >= kSurrogateEnd)
            return false;
        i += kBmpUnitSize;
    }
    return true;
}

// Big-endian UTF-32 of Unicode scalar values.
bool isWellFormedUniversal(const unsigned char* p, std::uint32_t n) {
    if (n % kUniversalCharSize)
        return false;
    for (std::uint32_t i = 0; i < n; i += kUniversalCharSize) {
        const std::uint32_t v = platform::LoadBe32(p + i);
        if (v > kLastScalar || isSurrogate(v))
            return false;
    }
    return true;
}

// The shortest two's-complement form: no leading octet that only repeats
// the sign of the next.
bool isMinimalInteger(const unsigned char* p, std::uint32_t n) {
    constexpr unsigned char kSignBit = 0x80, kAllOnes = 0xFF;
    if (n == 0)
        return false;
    return n == 1 || !((p[0] == 0 && !(p[1] & kSignBit)) || (p[0] == kAllOnes && (p[1] & kSignBit)));
}

} // namespace

bool asnOidWellFormed(const unsigned char* p, std::uint32_t n) {
    if (n == 0 || (p[n - 1] & kSeptetMore))
        return false;
    for (std::uint32_t start = 0, i = 0; i < n; ++i) {
        if (i == start && p[i] == kSeptetMore)
            return false;
        if (p[i] & kSeptetMore)
            continue;
        if (i + 1 - start > kMaxSubidentifierBytes)
            return false;
        start = i + 1;
    }
    return true;
}

bool isSegmentedString(std::uint32_t tag) {
    return tag == kTagOctetString || tag == kTagUtf8String || (tag >= kTagNumericString && tag <= kTagGeneralString) ||
           tag == kTagUniversalString || tag == kTagBmpString;
}

bool isCheckedString(std::uint32_t tag) {
    return tag == kTagUtf8String || tag == kTagBmpString || tag == kTagUniversalString;
}

bool asnContentAllowed(std::uint32_t tag, bool constructed, const unsigned char* p, std::uint32_t n, LogBase& log) {
    if (constructed) {
        const bool primitiveOnly = tag == kTagBoolean || tag == kTagInteger || tag == kTagNull || tag == kTagOid ||
                                   tag == kTagReal || tag == kTagEnumerated || tag == kTagRelativeOid;
        if (primitiveOnly)
            log.logError(asn_msg::kConstructedPrimitive);
        return !primitiveOnly;
    }
    const char* fault = nullptr;
    switch (tag) {
    case kTagBoolean:
        if (n != 1)
            fault = asn_msg::kBadBoolean;
        break;
    case kTagInteger:
    case kTagEnumerated:
        if (!isMinimalInteger(p, n))
            fault = asn_msg::kBadInteger;
        break;
    case kTagBitString:
        if (n == 0 || p[0] > kMaxUnusedBits || (n == 1 && p[0] != 0))
            fault = asn_msg::kBadBitString;
        break;
    case kTagNull:
        if (n != 0)
            fault = asn_msg::kBadNull;
        break;
    case kTagOid:
        if (n == 0)
            fault = asn_msg::kBadOid;
        break;
    case kTagUtf8String:
        if (!isWellFormedUtf8(p, n))
            fault = asn_msg::kBadUtf8;
        break;
    case kTagBmpString:
        if (!isWellFormedBmp(p, n))
            fault = asn_msg::kBadBmpString;
        break;
    case kTagUniversalString:
        if (!isWellFormedUniversal(p, n))
            fault = asn_msg::kBadUniversalString;
        break;
    default: break;
    }
    if (fault)
        log.logError(fault);
    return fault == nullptr;
}

// ---------------------------------------------------------------- the item

AsnItem::~AsnItem() {
    clear();
}

void AsnItem::clear() {
    if (m_children) {
        m_children->removeAllObjects();
        delete m_children;
    }
    delete[] m_units;
    if (!m_bytesBorrowed)
        delete[] m_bytes;
    m_bytesBorrowed = false;
    m_children = nullptr;
    m_units = nullptr;
    m_bytes = nullptr;
    m_bool = false;
    constructed = 0;
    tagClass = 0;
    tag = 0;
    length = 0;
}

static unsigned char* copyBytes(const unsigned char* bytes, std::uint32_t n) {
    if (!bytes || n == 0)
        return nullptr;
    unsigned char* p = new (std::nothrow) unsigned char[n];
    if (p)
        std::memcpy(p, bytes, n);
    return p;
}

void AsnItem::setBool(bool value) {
    clear();
    tag = kTagBoolean;
    m_bool = value;
}

void AsnItem::setInteger(const unsigned char* bytes, std::uint32_t n) {
    clear();
    tag = kTagInteger;
    m_bytes = copyBytes(bytes, n);
    length = m_bytes ? n : 0;
}

void AsnItem::setBitString(unsigned char* bits, std::uint32_t count) {
    clear();
    tag = kTagBitString;
    m_bytes = bits;
    length = bits ? count : 0;
}

void AsnItem::setNull() {
    clear();
    tag = kTagNull;
}

void AsnItem::setOid(const unsigned char* bytes, std::uint32_t n) {
    setBytesOf(kTagOid, bytes, n);
}

void AsnItem::setUtf8(std::uint16_t* units, std::uint32_t count) {
    clear();
    tag = kTagUtf8String;
    m_units = units;
    length = units ? count : 0;
}

void AsnItem::setBytesOf(std::uint32_t tagNumber, const unsigned char* bytes, std::uint32_t n) {
    if (!bytes && n > 0)
        return;
    clear();
    tag = tagNumber;
    m_bytes = copyBytes(bytes, n);
    length = m_bytes ? n : 0;
}

void AsnItem::setOctets(const unsigned char* b, std::uint32_t n) {
    setBytesOf(kTagOctetString, b, n);
}
void AsnItem::setUtcTime(const unsigned char* b, std::uint32_t n) {
    setBytesOf(kTagUtcTime, b, n);
}
void AsnItem::setIa5(const unsigned char* b, std::uint32_t n) {
    setBytesOf(kTagIa5String, b, n);
}
void AsnItem::setT61(const unsigned char* b, std::uint32_t n) {
    setBytesOf(kTagT61String, b, n);
}
void AsnItem::setPrintable(const unsigned char* b, std::uint32_t n) {
    setBytesOf(kTagPrintableString, b, n);
}

void AsnItem::setConstructed(std::uint32_t tagNumber, std::uint8_t cls, ExtPtrArray* list) {
    clear();
    tag = tagNumber;
    tagClass = cls;
    constructed = 1;
    m_children = list ? list : new (std::nothrow) ExtPtrArray();
}

void AsnItem::setSequence(ExtPtrArray* list) {
    setConstructed(kTagSequence, kClassUniversal, list);
}
void AsnItem::setSet(ExtPtrArray* list) {
    setConstructed(kTagSet, kClassUniversal, list);
}

void AsnItem::setPrimitive(std::uint32_t tagNumber, std::uint8_t cls, const unsigned char* bytes, std::uint32_t n) {
    clear();
    tag = tagNumber;
    tagClass = cls;
    m_bytes = copyBytes(bytes, n);
    length = m_bytes ? n : 0;
}

void AsnItem::borrowPrimitive(std::uint32_t tagNumber, std::uint8_t cls, const unsigned char* bytes, std::uint32_t n) {
    clear();
    tag = tagNumber;
    tagClass = cls;
    m_bytes = const_cast<unsigned char*>(bytes);
    m_bytesBorrowed = true;
    length = bytes ? n : 0;
}

AsnItem* AsnItem::getSubItem(int index) const {
    if (!constructed || !m_children)
        return nullptr;
    return static_cast<AsnItem*>(m_children->elementAt(index));
}

int AsnItem::getNumSubItems() const {
    return constructed && m_children ? m_children->getCount() : 0;
}

void AsnItem::getOidString(StringBuffer& out) const {
    if (!isUniversal(kTagOid)) {
        out.append(asn_msg::kNotAnOid);
        return;
    }
    if (m_bytes)
        appendOidText(m_bytes, length, out);
}

// ---------------------------------------------------------------- content decoders

bool decodeUtf8ToUtf16(const unsigned char* p, std::uint32_t n, std::uint16_t*& units, std::uint32_t& count) {
    units = nullptr;
    count = 0;
    if (!p || n == 0)
        return false;
    // Never more units than bytes: a surrogate pair takes four bytes.
    std::uint16_t* out = new (std::nothrow) std::uint16_t[n];
    if (!out)
        return false;
    std::uint32_t i = 0, k = 0;
    while (i < n) {
        // Only well-formed characters: an overlong form, a stray continuation
        // byte or an encoded surrogate would read as other text.
        std::uint32_t value = 0;
        const int size = utf8ScalarAt(p + i, n - i, value);
        if (size == 0)
            break;
        if (value >= kFirstSupplementary) {
            value -= kFirstSupplementary;
            out[k++] = static_cast<std::uint16_t>(kHighSurrogate + (value >> kSurrogateBits));
            out[k++] = static_cast<std::uint16_t>(kLowSurrogate + (value & kSurrogateMask));
        } else {
            out[k++] = static_cast<std::uint16_t>(value);
        }
        i += static_cast<std::uint32_t>(size);
    }
    if (i < n) {
        delete[] out;
        return false;
    }
    units = out;
    count = k;
    return true;
}

namespace {

// Subidentifiers of at most this many bytes hold at most 56 bits, written
// in at most 17 digits and a dot.
constexpr std::uint32_t kSmallSubidentifierBytes = 8;
constexpr std::size_t kSmallArcChars = 18;
// The text of an OID of up to 32 bytes is written on the stack.
constexpr std::size_t kSmallOidRoom = 32 * kSmallArcChars + kSmallArcChars + 1;
constexpr std::uint32_t kLimbBase = 1000000000;
constexpr int kLimbDigits = 9;
// First subidentifiers below this split as 0.x and 1.x; from it on, 2.(v-80).
constexpr std::uint32_t kFirstArcTwo = 80;
constexpr std::uint32_t kArcsPerFirst = 40;

// One subidentifier's value, base 10^9 limbs from the least significant, so
// that an arc of any length is read whole rather than wrapped.
void readSubidentifier(const unsigned char* p, std::uint32_t n, std::vector<std::uint32_t>& limbs) {
    limbs.assign(1, 0);
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint64_t carry = p[i] & 0x7F;
        for (std::uint32_t& limb : limbs) {
            const std::uint64_t v = std::uint64_t{limb} * 128 + carry;
            limb = static_cast<std::uint32_t>(v % kLimbBase);
            carry = v / kLimbBase;
        }
        if (carry)
            limbs.push_back(static_cast<std::uint32_t>(carry));
    }
}

void appendLimbs(const std::vector<std::uint32_t>& limbs, std::string& out) {
    std::size_t top = limbs.size();
    while (top > 1 && limbs[top - 1] == 0)
        --top;
    out += std::to_string(limbs[top - 1]);
    for (std::size_t i = top - 1; i-- > 0;) {
        const std::string digits = std::to_string(limbs[i]);
        out.append(kLimbDigits - digits.size(), '0');
        out += digits;
    }
}

} // namespace

bool appendOidText(const unsigned char* p, std::uint32_t n, StringBuffer& out) {
    // Every arc of nearly every OID fits in 56 bits: read in one pass.
    std::uint32_t longest = 0;
    for (std::uint32_t start = 0, i = 0; i < n; ++i)
        if (!(p[i] & 0x80)) {
            longest = std::max(longest, i + 1 - start);
            start = i + 1;
        }
    if (n != 0 && longest <= kSmallSubidentifierBytes && !(p[n - 1] & 0x80)) {
        // At most 17 digits and a dot per subidentifier, one more arc for the
        // first, and the terminator.
        const std::size_t room = static_cast<std::size_t>(n) * kSmallArcChars + kSmallArcChars + 1;
        char small[kSmallOidRoom];
        std::vector<char> large(room > kSmallOidRoom ? room : 0);
        char* const text = room > kSmallOidRoom ? large.data() : small;
        char* at = text;
        const auto put = [&at](std::uint64_t v) {
            char digits[kSmallArcChars];
            int k = 0;
            do {
                digits[k++] = static_cast<char>('0' + v % 10);
                v /= 10;
            } while (v);
            while (k)
                *at++ = digits[--k];
        };
        std::uint64_t value = 0;
        bool first = true;
        for (std::uint32_t i = 0; i < n; ++i) {
            if (value == 0 && p[i] == 0x80)
                return false;
            value = value << 7 | (p[i] & 0x7F);
            if (p[i] & 0x80)
                continue;
            if (first) {
                const std::uint64_t arc = value < kFirstArcTwo ? value / kArcsPerFirst : 2;
                put(arc);
                value -= arc * kArcsPerFirst;
                first = false;
            }
            *at++ = '.';
            put(value);
            value = 0;
        }
        *at = '\0';
        out.append(text);
        return true;
    }
    std::string text;
    std::vector<std::uint32_t> limbs;
    for (std::uint32_t start = 0; start < n;) {
        std::uint32_t end = start;
        while (end < n && (p[end] & 0x80))
            ++end;
        // X.690 8.19.2: no leading 0x80; and no subidentifier left unfinished.
        if (end == n || p[start] == 0x80 || end + 1 - start > kMaxSubidentifierBytes)
            return false;
        readSubidentifier(p + start, end + 1 - start, limbs);
        if (start == 0) {
            const bool small = limbs.size() == 1 && limbs[0] < kFirstArcTwo;
            const std::uint32_t first = small ? limbs[0] / kArcsPerFirst : 2;
            text += std::to_string(first);
            text += '.';
            // Minus 40 times the first arc, borrowing through the limbs.
            std::uint32_t borrow = first * kArcsPerFirst;
            for (std::size_t i = 0; borrow && i < limbs.size(); ++i) {
                if (limbs[i] >= borrow) {
                    limbs[i] -= borrow;
                    borrow = 0;
                } else {
                    limbs[i] = limbs[i] + kLimbBase - borrow;
                    borrow = 1;
                }
            }
        } else {
            text += '.';
        }
        appendLimbs(limbs, text);
        start = end + 1;
    }
    out.append(text.c_str());
    return true;
}

// ---------------------------------------------------------------- decoding

// Lengths below it have the short form.
constexpr std::uint32_t kShortFormLimit = 0x80;

static void logLengthTooLong(LogBase& log, const char* first) {
    log.logError(first);
    for (const char* line : asn_msg::kLengthHints)
        log.logError(line);
}

bool readAsnHeader(const unsigned char* p, std::uint32_t n, AsnHeader& h, LogBase& log, AsnLengths rules) {
    h.cls = p[0] >> 6;
    h.constructed = (p[0] & kConstructedBit) != 0;
    std::uint32_t pos = 1;
    if ((p[0] & 0x1F) == kHighTagNumber) {
        if (n < 2) {
            log.logError(asn_msg::kPrematureA);
            return false;
        }
        std::uint32_t t = 0;
        for (unsigned int k = 0;; ++k) {
            if (pos >= n) {
                log.logError(asn_msg::kPrematureB);
                return false;
            }
            // X.690 8.1.2.4.2 c: the number starts in the first septet.
            if (k == 0 && p[pos] == kSeptetMore) {
                log.logError(asn_msg::kHighTagPadded);
                return false;
            }
            if (k == kMaxTagBytes - 1 && (p[pos] & 0x80)) {
                log.logError(asn_msg::kTagTooLong);
                return false;
            }
            t = (t << 7) | (p[pos] & 0x7F);
            if (!(p[pos++] & 0x80))
                break;
        }
        // A number below 31 has the short form only; read in the long one,
        // tag 0 would be end-of-contents to one reader and an item to another.
        if (t < kHighTagNumber) {
            log.logError(asn_msg::kShortTagInLongForm);
            return false;
        }
        h.tag = t;
    } else {
        h.tag = p[0] & 0x1F;
    }
    if (pos >= n) {
        log.logError(asn_msg::kPrematureC);
        return false;
    }
    unsigned char l = p[pos++];
    h.indefinite = false;
    if (l == kIndefiniteLength) {
        h.indefinite = true;
        h.length = 0;
    } else if (l < 0x80) {
        h.length = l;
    } else {
        unsigned int count = l & 0x7F;
        if (count > kMaxLengthBytes) {
            logLengthTooLong(log, rules == AsnLengths::Der ? asn_msg::kLengthTooLongDer : asn_msg::kLengthTooLongBer);
            return false;
        }
        std::uint32_t len = 0;
        for (unsigned int k = 0; k < count; ++k) {
            if (pos >= n) {
                log.logError(asn_msg::kPrematureD);
                return false;
            }
            len = (len << 8) | p[pos++];
        }
        // Two spellings of one length would let one item be read two ways.
        if (rules == AsnLengths::Der && (len < kShortFormLimit || p[pos - count] == 0)) {
            log.logError(asn_msg::kLongerLengthThanNeeded);
            return false;
        }
        h.length = len;
    }
    h.size = pos;
    return true;
}

namespace {

void logQp(LogBase& log, const unsigned char* p, std::uint32_t n) {
    std::string text(reinterpret_cast<const char*>(p), n);
    log.logDataQuotedPrintable("qp_string", text.c_str());
}

void logPrimitiveVerbose(LogBase& log, const AsnItem& item, const unsigned char* p, std::uint32_t n) {
    switch (item.tag) {
    case kTagBoolean: log.logInfo("Boolean"); break;
    case kTagInteger:
        log.logInfo("Integer");
        log.logDataHex("intBytes", p, n);
        break;
    case kTagBitString: log.logInfo("Bit String"); break;
    case kTagOctetString:
        log.logInfo("OctetString");
        log.logDataLong("length", static_cast<int>(n));
        logQp(log, p, n);
        break;
    case kTagNull: log.logInfo("Null"); break;
    case kTagOid: {
        StringBuffer oid;
        item.getOidString(oid);
        if (const char* name = getOidFriendlyName(oid.getString())) {
            oid.append(" (");
            oid.append(name);
            oid.append(")");
        }
        log.logData("Oid", oid.getString());
        break;
    }
    case kTagUtf8String: log.logInfo("UTF-8 String"); break;
    case kTagPrintableString: log.logInfo("Printable String"); break;
    case kTagIa5String: log.logInfo("IA5 String"); break;
    case kTagT61String: log.logInfo("T61 String"); break;
    case kTagUtcTime: log.logInfo("UTC String"); break;
    default:
        log.logInfo("Primitive Universal");
        log.logHex("tag", item.tag);
        log.logDataLong("numBytes", static_cast<int>(n));
        break;
    }
    bool hasOwnLines = item.tag == kTagBoolean || item.tag == kTagInteger || item.tag == kTagBitString ||
                       item.tag == kTagOctetString || item.tag == kTagNull || item.tag == kTagOid;
    if (!hasOwnLines)
        logQp(log, p, n);
}

// Fills item from primitive universal content; false (logged) when it does
// not decode.
bool decodeUniversal(AsnItem& item, std::uint32_t tag, const unsigned char* p, std::uint32_t n, LogBase& log) {
    if (!asnContentAllowed(tag, false, p, n, log))
        return false;
    switch (tag) {
    case kTagBoolean:
        // BER takes any non-zero content as true.
        item.setBool(p[0] != 0);
        return true;
    case kTagInteger: item.setInteger(p, n); return true;
    case kTagBitString: {
        std::uint32_t count = static_cast<std::uint32_t>((n - 1) * 8 - p[0]);
        unsigned char* bits = count ? new (std::nothrow) unsigned char[count] : nullptr;
        if (count && !bits)
            return false;
        for (std::uint32_t i = 0; i < count; ++i)
            bits[i] = (p[1 + i / 8] >> (7 - i % 8)) & 1;
        item.setBitString(bits, count);
        return true;
    }
    case kTagNull: item.setNull(); return true;
    case kTagOid:
        // Whole and in shortest form: every arc reads exactly, and an
        // unknown OID stays apart from a known one.
        if (!asnOidWellFormed(p, n)) {
            log.logError(asn_msg::kBadOid);
            return false;
        }
        item.setOid(p, n);
        return true;
    case kTagUtf8String: {
        std::uint16_t* units = nullptr;
        std::uint32_t count = 0;
        // An empty string is a value of its own, not a failure to decode.
        if (n > 0 && !decodeUtf8ToUtf16(p, n, units, count)) {
            log.logError(asn_msg::kBadUtf8);
            return false;
        }
        item.setUtf8(units, count);
        return true;
    }
    default: item.setPrimitive(tag, kClassUniversal, p, n); return true;
    }
}

void deleteItems(ExtPtrArray* list) {
    if (!list)
        return;
    list->removeAllObjects();
    delete list;
}

// Joins the segments of a constructed string, each held raw (nested ones
// were joined already), and reads the whole as the string's type, so that a
// character may straddle two segments; nested in another string's segments
// the whole stays raw for that string to join.
bool joinSegments(AsnItem& item, std::uint32_t tag, ExtPtrArray* children, bool nested, LogBase& log) {
    // Joined in room of the whole's size (the segments lie within one
    // input): a large content grown step by step was held twice at a step.
    std::uint32_t total = 0;
    for (int i = 0; children && i < children->getCount(); ++i)
        if (auto* c = static_cast<AsnItem*>(children->elementAt(i)); c && c->getBytes())
            total += c->length;
    DataBuffer joined;
    joined.ensureCapacity(total);
    for (int i = 0; children && i < children->getCount(); ++i) {
        auto* c = static_cast<AsnItem*>(children->elementAt(i));
        if (c && c->getBytes())
            joined.append(c->getBytes(), c->length);
    }
    deleteItems(children);
    if (nested) {
        item.setPrimitive(tag, kClassUniversal, joined.getData(), joined.getSize());
        return true;
    }
    item.tag = tag;
    return decodeUniversal(item, tag, joined.getData(), joined.getSize(), log);
}

// The items a rendering shows empty, found by where they start in the input.
struct Skipping {
    const unsigned char* base;
    const std::vector<AsnSkipped>* items;
    // Of the item last matched: its content and, when indefinite, its end.
    mutable std::uint32_t contentSize = 0;

    bool skips(const unsigned char* start, const AsnHeader& h, std::uint32_t room) const {
        const auto offset = static_cast<std::uint32_t>(start - base);
        for (const AsnSkipped& item : *items)
            if (item.offset == offset && item.size >= h.size &&
                (h.indefinite ? item.size - h.size <= room : item.size - h.size == room)) {
                contentSize = item.size - h.size;
                return true;
            }
        return false;
    }
};

// One level of items into list. False (logged) when anything in the range or
// below it is malformed: nothing of a broken encoding is kept. eoc tells that
// an end-of-contents pair closed the level; maxItems > 0 stops the walk after
// that many items. segmentsOf names the string type whose segments the level
// holds (0 for none): they are OCTET STRINGs or of that type, kept raw.
bool decodeLevel(const unsigned char* data, std::uint32_t length, ExtPtrArray& list, std::uint32_t& consumed, bool& eoc,
                 LogBase& log, bool verbose, AsnLengths rules, bool borrowLarge, int depth, int maxItems,
                 const Skipping* skipping, std::uint32_t segmentsOf = 0) {
    consumed = 0;
    eoc = false;
    if (depth > kMaxNestingDepth) {
        log.logError(asn_msg::kTooDeep);
        return false;
    }
    const unsigned char* p = data;
    std::uint32_t remaining = length;
    int count = 0;
    while (remaining > 0 && (maxItems <= 0 || count < maxItems)) {
        if (p[0] == 0) {
            if (remaining == 1) {
                log.logError(asn_msg::kPrematureAsnA);
                return false;
            }
            if (p[1] == 0) {
                consumed += 2;
                eoc = true;
                return true;
            }
            log.logError(asn_msg::kZeroTagDer);
            return false;
        }
        AsnHeader h;
        if (!readAsnHeader(p, remaining, h, log, rules)) {
            log.logError(asn_msg::kHeaderFailed);
            return false;
        }
        if (remaining == h.size && (h.length != 0 || h.indefinite)) {
            log.logError(asn_msg::kPrematureE);
            log.logError(asn_msg::kHeaderFailed);
            return false;
        }
        if (segmentsOf && (h.cls != kClassUniversal || (h.tag != kTagOctetString && h.tag != segmentsOf))) {
            log.logError(asn_msg::kBadOctetSegment);
            return false;
        }
        consumed += h.size;
        p += h.size;
        remaining -= h.size;
        ++count;

        if (h.constructed) {
            if (!h.indefinite && h.length > remaining) {
                log.logError(asn_msg::kConstructedTooLong);
                log.logDataLong("tag", static_cast<int>(h.tag));
                log.logDataLong("idClass", h.cls);
                log.logDataLong("bConstructed", 1);
                log.logDataLong("headerLen", static_cast<int>(h.size));
                log.logDataLong("dataLen", static_cast<int>(h.length));
                log.logDataLong("inlen", static_cast<int>(remaining));
                return false;
            }
            if (h.cls == kClassUniversal && !asnContentAllowed(h.tag, true, nullptr, 0, log))
                return false;
            const bool segmented = h.cls == kClassUniversal && isSegmentedString(h.tag);
            const bool octets = h.cls == kClassUniversal && h.tag == kTagOctetString;
            if (verbose) {
                if (h.cls == kClassUniversal && h.tag == kTagSequence)
                    log.logInfo("SEQUENCE");
                else if (h.cls == kClassUniversal && h.tag == kTagSet)
                    log.logInfo("SET");
                else if (octets)
                    log.logInfo("Constructed Octet String");
                else
                    log.logInfo("Tag=Constructed");
                if (h.indefinite)
                    log.logInfo("Indefinite length...");
            }
            std::uint32_t span = h.indefinite ? remaining : h.length;
            std::uint32_t used = 0;
            bool closed = false;
            bool nestedVerbose = verbose && !segmented;
            if (nestedVerbose)
                log.enterContext("DecodeAsnConstructed", true);
            auto* children = new (std::nothrow) ExtPtrArray();
            const std::uint32_t childSegments = segmented ? (segmentsOf ? segmentsOf : h.tag) : 0;
            bool ok = children != nullptr;
            if (ok && skipping && skipping->skips(p - h.size, h, span)) {
                used = skipping->contentSize;
                closed = h.indefinite;
            } else {
                ok = ok && decodeLevel(p, span, *children, used, closed, log, nestedVerbose, rules, borrowLarge,
                                       depth + 1, 0, skipping, childSegments);
            }
            if (nestedVerbose)
                log.leaveContext();
            if (ok && h.indefinite && !closed) {
                log.logError(asn_msg::kNoEoc);
                ok = false;
            } else if (ok && !h.indefinite && closed) {
                log.logError(asn_msg::kEocInDefinite);
                ok = false;
            }
            if (!ok) {
                log.logError(asn_msg::kChildFailed);
                deleteItems(children);
                return false;
            }
            auto* item = new (std::nothrow) AsnItem();
            if (!item) {
                deleteItems(children);
                return false;
            }
            if (segmented) {
                if (!joinSegments(*item, h.tag, children, segmentsOf != 0, log)) {
                    delete item;
                    return false;
                }
            } else {
                item->setConstructed(h.tag, h.cls, children);
            }
            list.appendPtr(item);
            consumed += used;
            p += used;
            remaining -= used;
            continue;
        }

        if (h.indefinite) {
            log.logError(asn_msg::kPrimitiveIndefinite);
            return false;
        }
        if (h.length > remaining) {
            log.logError(asn_msg::kPrimitiveTooLong);
            return false;
        }
        auto* item = new (std::nothrow) AsnItem();
        if (!item)
            return false;
        if (segmentsOf) {
            // Judged once joined: a character may straddle two segments.
            // Joined before the reading returns, a segment borrows its bytes.
            item->borrowPrimitive(h.tag, h.cls, p, h.length);
        } else if (borrowLarge && h.length >= kExtOctetsMin && (h.cls != kClassUniversal || h.tag == kTagOctetString)) {
            item->borrowPrimitive(h.tag, h.cls, p, h.length);
            if (verbose)
                logPrimitiveVerbose(log, *item, p, h.length);
        } else if (h.cls == kClassUniversal) {
            item->tag = h.tag;
            if (!decodeUniversal(*item, h.tag, p, h.length, log)) {
                delete item;
                return false;
            }
            if (verbose)
                logPrimitiveVerbose(log, *item, p, h.length);
        } else {
            item->setPrimitive(h.tag, h.cls, p, h.length);
        }
        list.appendPtr(item);
        consumed += h.length;
        p += h.length;
        remaining -= h.length;
    }
    return true;
}

ExtPtrArray* decodeItems(const unsigned char* data, std::uint32_t length, std::uint32_t& consumed, LogBase& log,
                         bool verbose, int maxItems, AsnLengths rules, bool borrowLargeOctets,
                         const Skipping* skipping) {
    consumed = 0;
    if (!data || length == 0)
        return nullptr;
    auto* list = new (std::nothrow) ExtPtrArray();
    if (!list)
        return nullptr;
    bool eoc = false;
    if (!decodeLevel(data, length, *list, consumed, eoc, log, verbose, rules, borrowLargeOctets, 0, maxItems,
                     skipping)) {
        deleteItems(list);
        consumed = 0;
        return nullptr;
    }
    return list;
}

} // namespace

ExtPtrArray* decodeAsnItems(const unsigned char* data, std::uint32_t length, std::uint32_t& consumed, LogBase& log,
                            bool verbose, int maxItems, AsnLengths rules, bool borrowLargeOctets) {
    return decodeItems(data, length, consumed, log, verbose, maxItems, rules, borrowLargeOctets, nullptr);
}

AsnItem* DecodeAsn(const unsigned char* data, std::uint32_t length, LogBase& log, bool verbose) {
    if (verbose)
        log.enterContext("DecodeAsn", true);
    std::uint32_t consumed = 0;
    ExtPtrArray* list = decodeAsnItems(data, length, consumed, log, verbose, 1);
    AsnItem* first = nullptr;
    if (list && list->getCount() > 0)
        first = static_cast<AsnItem*>(list->removeAt(0));
    deleteItems(list);
    if (verbose)
        log.leaveContext();
    return first;
}

const char* getOidFriendlyName(const char* oid) {
    static const struct {
        const char* oid;
        const char* name;
    } kNames[] = {
        {"1.2.840.113549.1.7.1", "PKCS7 Data"},          {"1.2.840.113549.1.7.2", "PKCS7 SignedData"},
        {"1.2.840.113549.1.7.3", "PKCS7 EnvelopedData"}, {"1.2.840.113549.1.7.4", "PKCS7 SignedAndEnvelopedData"},
        {"1.2.840.113549.1.7.5", "PKCS7 DigestedData"},  {"1.2.840.113549.1.7.6", "PKCS7 EncryptedData"},
        {"1.2.840.113549.1.12.1.1", "PKCS12 KeyBag"},    {"1.2.840.113549.1.12.1.2", "PKCS12 Pkcs8ShroudedKeyBag"},
        {"1.2.840.113549.1.12.1.3", "PKCS12 CertBag"},   {"1.2.840.113549.1.12.1.4", "PKCS12 SecretBag"},
        {"1.2.840.113549.1.12.1.5", "PKCS12 CrlBag"},    {"1.2.840.113549.1.12.1.6", "PKCS12 SafeContentsBag"},
    };
    if (!oid)
        return nullptr;
    for (const auto& row : kNames)
        if (std::strcmp(oid, row.oid) == 0)
            return row.name;
    if (std::strncmp(oid, "1.2.840.113549.1.9", 18) == 0)
        return "PKCS9 Signature Attribute";
    return nullptr;
}

// ---------------------------------------------------------------- rendering

namespace {

void appendBase64(const unsigned char* p, std::uint32_t n, StringBuffer& out) {
    ContentCoding coder;
    coder.setLineLength(kBase64LineLength);
    coder.encodeBase64(p, n, out);
}

// Certificate texts are escaped so no field can add elements of its own.
void appendEscaped(const StringBuffer& text, StringBuffer& out) {
    for (int i = 0; i < text.getSize(); ++i) {
        char c = text.getString()[i];
        switch (c) {
        case '&': out.append("&amp;"); break;
        case '<': out.append("&lt;"); break;
        case '>': out.append("&gt;"); break;
        case '"': out.append("&quot;"); break;
        case '\'': out.append("&apos;"); break;
        default: out.appendChar(c);
        }
    }
}

} // namespace

void appendStringValue(const char* p, std::size_t n, StringBuffer& text) {
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] == '\0')
            text.append("\\00");
        else if (p[i] == '\\')
            text.append("\\\\");
        else
            text.appendChar(p[i]);
    }
}

std::string utf8OfUnits(const std::uint16_t* units, std::uint32_t count) {
    std::string out;
    std::uint32_t from = 0;
    for (std::uint32_t i = 0; i <= count; ++i) {
        if (i < count && units[i] != 0)
            continue;
        DataBuffer run;
        if (i > from)
            utf16ToUtf8(reinterpret_cast<const unsigned char*>(units + from), (i - from) * 2, run);
        out.append(reinterpret_cast<const char*>(run.getData()), run.getSize());
        if (i < count)
            out.push_back('\0');
        from = i + 1;
    }
    return out;
}

namespace {

const char* className(std::uint8_t cls) {
    static const char* kNames[] = {"universal", "application", "contextSpecific", "private"};
    return kNames[cls & 3];
}

} // namespace

bool AsnItem::elementOf(const char*& name, StringBuffer& text, bool& rawText) const {
    rawText = true;
    if (tagClass != kClassUniversal)
        return false;
    if (constructed) {
        if (tag == kTagSequence)
            name = "sequence";
        else if (tag == kTagSet)
            name = "set";
        else
            return false;
        return true;
    }
    switch (tag) {
    case kTagNull: name = "null"; return true;
    case kTagBoolean:
        name = "bool";
        text.append(m_bool ? "1" : "0");
        return true;
    case kTagInteger:
        name = "int";
        text.appendHex(m_bytes, static_cast<int>(length));
        return true;
    case kTagBitString: {
        name = "bits";
        for (std::uint32_t i = 0; i < length; i += 8) {
            unsigned char b = 0;
            for (std::uint32_t j = 0; j < 8; ++j)
                if (i + j < length && m_bytes[i + j])
                    b |= static_cast<unsigned char>(0x80 >> j);
            text.appendHex(&b, 1);
        }
        return true;
    }
    case kTagOctetString:
        name = "octets";
        appendBase64(m_bytes, length, text);
        return true;
    case kTagOid:
        name = "oid";
        getOidString(text);
        return true;
    case kTagUtf8String: {
        name = "utf8";
        rawText = false;
        const std::string utf8 = m_units ? utf8OfUnits(m_units, length) : std::string();
        appendStringValue(utf8.data(), utf8.size(), text);
        return true;
    }
    case kTagPrintableString:
    case kTagIa5String:
    case kTagUtcTime:
        name = tag == kTagPrintableString ? "printable" : (tag == kTagIa5String ? "ia5" : "utctime");
        rawText = false;
        appendStringValue(reinterpret_cast<const char*>(m_bytes), m_bytes ? length : 0, text);
        return true;
    case kTagT61String: {
        name = "t61";
        rawText = false;
        // The ANSI code page is UTF-8 here; other bytes are read as cp1252.
        std::string s = platform::Utf8OrCp1252ToUtf8(
            std::string_view(reinterpret_cast<const char*>(m_bytes ? m_bytes : (const unsigned char*)""), length));
        appendStringValue(s.data(), s.size(), text);
        return true;
    }
    default: return false;
    }
}

int AsnItem::appendToExt(ExtPtrArray& ext) const {
    auto entry = std::make_unique<DataBuffer>();
    if (m_bytesBorrowed)
        entry->borrowData(m_bytes, length);
    else if (!entry->appendExact(m_bytes, length))
        return -1;
    const int index = ext.getCount();
    return ext.appendPtr(entry.release()) ? index : -1;
}

void AsnItem::toXmlTagged(StringBuffer& out, ExtPtrArray* ext) const {
    const char* name = className(tagClass);
    out.appendChar('<');
    out.append(name);
    out.append(" tag=\"");
    out.appendUint32(tag);
    out.append("\" constructed=\"");
    out.append(constructed ? "1" : "0");
    out.appendChar('"');
    bool hasBody = constructed ? m_children != nullptr : m_bytes != nullptr;
    if (!hasBody) {
        out.append(" />");
        return;
    }
    const int index =
        ext && !constructed && tagClass != kClassUniversal && length >= kExtOctetsMin ? appendToExt(*ext) : -1;
    if (index >= 0) {
        out.append(" src=\"ext\">");
        out.appendInt(index);
    } else {
        out.appendChar('>');
    }
    if (constructed) {
        for (int i = 0; i < m_children->getCount(); ++i)
            if (auto* c = static_cast<AsnItem*>(m_children->elementAt(i)))
                c->toXml(out, ext);
    } else if (index < 0) {
        appendBase64(m_bytes, length, out);
    }
    out.append("</");
    out.append(name);
    out.appendChar('>');
}

void AsnItem::toXml(StringBuffer& out, ExtPtrArray* ext) const {
    if (tagClass == kClassUniversal && !constructed && tag == kTagNull) {
        out.append("<null />");
        return;
    }
    if (tagClass == kClassUniversal && !constructed && tag == kTagBitString && length == 0) {
        out.append("<bits n=\"0\" />");
        return;
    }
    const int index =
        ext && tagClass == kClassUniversal && !constructed && tag == kTagOctetString && length >= kExtOctetsMin
            ? appendToExt(*ext)
            : -1;
    if (index >= 0) {
        out.append("<octets src=\"ext\">");
        out.appendInt(index);
        out.append("</octets>");
        return;
    }
    const char* name = nullptr;
    StringBuffer text;
    bool rawText = true;
    if (!elementOf(name, text, rawText)) {
        toXmlTagged(out, ext);
        return;
    }
    out.appendChar('<');
    out.append(name);
    if (tag == kTagBitString && !constructed) {
        out.append(" n=\"");
        out.appendUint32(length);
        out.appendChar('"');
    }
    out.appendChar('>');
    if (constructed) {
        for (int i = 0; m_children && i < m_children->getCount(); ++i)
            if (auto* c = static_cast<AsnItem*>(m_children->elementAt(i)))
                c->toXml(out, ext);
    } else if (rawText) {
        out.appendSb(text);
    } else {
        appendEscaped(text, out);
    }
    out.append("</");
    out.append(name);
    out.appendChar('>');
}

TreeNode* AsnItem::toTree(TreeNode* parent) const {
    const char* name = nullptr;
    StringBuffer text;
    bool rawText = true;
    bool plain = elementOf(name, text, rawText);
    TreeNode* node = TreeNode::createNode(parent, plain ? name : className(tagClass));
    if (!node)
        return nullptr;
    if (!plain) {
        StringBuffer number;
        number.appendUint32(tag);
        node->addAttribute("tag", number.getString());
        node->addAttribute("constructed", constructed ? "1" : "0");
        if (!constructed && m_bytes)
            appendBase64(m_bytes, length, text);
    } else if (!constructed && tag == kTagBitString) {
        StringBuffer number;
        number.appendUint32(length);
        node->addAttribute("n", number.getString());
    }
    if (text.getSize() > 0)
        node->setContent(text.getString());
    for (int i = 0; constructed && m_children && i < m_children->getCount(); ++i)
        if (auto* c = static_cast<AsnItem*>(m_children->elementAt(i)))
            c->toTree(node);
    return node;
}

// ---------------------------------------------------------------- DER to XML

namespace {

ExtPtrArray* decodeForRendering(const DataBuffer& der, LogBase& log, bool verbose, AsnLengths rules,
                                bool borrowLargeOctets, const std::vector<AsnSkipped>* skipped = nullptr) {
    if (der.getSize() == 0) {
        log.logError(asn_msg::kEmptyDer);
        return nullptr;
    }
    std::uint32_t consumed = 0;
    Skipping skipping{der.getData(), skipped};
    ExtPtrArray* list = decodeItems(der.getData(), der.getSize(), consumed, log, verbose, 0, rules, borrowLargeOctets,
                                    skipped ? &skipping : nullptr);
    if (list && list->getCount() == 0) {
        log.logError(asn_msg::kNoNodes);
        delete list;
        return nullptr;
    }
    return list;
}

} // namespace

bool derToXml(const DataBuffer& der, StringBuffer& out, ExtPtrArray* ext, LogBase& log, bool verbose, AsnLengths rules,
              const std::vector<AsnSkipped>* skipped) {
    out.clear();
    std::uint32_t shown = der.getSize();
    for (std::size_t i = 0; skipped && i < skipped->size(); ++i)
        shown -= std::min(shown, (*skipped)[i].size);
    out.reserveExtra(static_cast<int>(shown * 2));
    ExtPtrArray* list = decodeForRendering(der, log, verbose, rules, ext != nullptr, skipped);
    if (!list)
        return false;
    bool wrap = list->getCount() > 1;
    if (wrap)
        out.append("<sequence>");
    for (int i = 0; i < list->getCount(); ++i)
        static_cast<AsnItem*>(list->elementAt(i))->toXml(out, ext);
    if (wrap)
        out.append("</sequence>");
    deleteItems(list);
    return true;
}

TreeNode* derToTree(const DataBuffer& der, LogBase& log, bool verbose) {
    ExtPtrArray* list = decodeForRendering(der, log, verbose, AsnLengths::Der, false);
    if (!list)
        return nullptr;
    TreeNode* root = nullptr;
    if (list->getCount() == 1) {
        root = static_cast<AsnItem*>(list->elementAt(0))->toTree(nullptr);
    } else {
        root = TreeNode::createRoot("sequence");
        for (int i = 0; root && i < list->getCount(); ++i)
            static_cast<AsnItem*>(list->elementAt(i))->toTree(root);
    }
    deleteItems(list);
    return root;
}

} // namespace tessik
