#include "netlib/pki/CertificateFields.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <string_view>
#include <vector>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/crypto/CipherOids.h"
#include "netlib/pki/Asn1.h"
#include "netlib/pki/AsnItem.h"
#include "netlib/pki/MsCertificate.h"
#include "netlib/pki/PkiConstants.h"
#include "netlib/pki/TessikX509.h"
#include "platform/ByteOrder.h"
#include "platform/Cp1252Text.h"
#include "platform/WinTime.h"
#include "platform/Winsock.h"

namespace tessik {

namespace {

constexpr std::uint32_t kTagGeneralizedTime = 24;
constexpr unsigned char kContextConstructed0 = 0xA0;
constexpr std::int64_t kSecondsPerDay = 86400;
constexpr int kUtcTimeCenturyPivot = 50;

std::string bytesOf(const DataBuffer& db) {
    return std::string(reinterpret_cast<const char*>(db.getData()), db.getSize());
}

const unsigned char* bytePtr(std::string_view s) {
    return reinterpret_cast<const unsigned char*>(s.data());
}

// The whole encodings of the items one after the other in a range.
bool splitItems(std::string_view range, std::vector<std::string_view>& out) {
    out.clear();
    while (!range.empty()) {
        ExtPtrArray items;
        items.setOwnsObjects(true);
        std::uint32_t used = 0;
        LogNull quiet;
        if (!decodeBer(bytePtr(range), static_cast<std::uint32_t>(range.size()), items, 1, false, used, nullptr,
                       quiet) ||
            used == 0 || used > range.size())
            return false;
        out.push_back(range.substr(0, used));
        range.remove_prefix(used);
    }
    return true;
}

// The items inside one constructed item.
bool childItems(std::string_view item, std::vector<std::string_view>& out) {
    ExtPtrArray items;
    items.setOwnsObjects(true);
    std::uint32_t used = 0;
    LogNull quiet;
    if (!decodeBer(bytePtr(item), static_cast<std::uint32_t>(item.size()), items, 1, false, used, nullptr, quiet) ||
        items.getCount() != 1)
        return false;
    auto* node = static_cast<Asn1*>(items.elementAt(0));
    if (node->primitive || !node->rawContent)
        return false;
    std::size_t contentSize = node->rawContent->getSize();
    if (contentSize > item.size())
        return false;
    // The content is the tail of the item (definite lengths only).
    return splitItems(item.substr(item.size() - contentSize), out);
}

std::unique_ptr<Asn1> decoded(std::string_view item) {
    LogNull quiet;
    return std::unique_ptr<Asn1>(
        decodeBerFirst(bytePtr(item), static_cast<std::uint32_t>(item.size()), nullptr, quiet));
}

bool firstOid(std::string_view algorithm, std::string& out) {
    std::unique_ptr<Asn1> node = decoded(algorithm);
    const Asn1* oid = node ? node->getChild(0) : nullptr;
    if (!oid || !oid->isOid())
        return false;
    StringBuffer text;
    oid->getOidString(text);
    out = text.getString();
    return true;
}

// A BIT STRING's bits, whole bytes only.
bool bitStringBytes(const Asn1* node, std::string& out) {
    if (!node || node->tagClass != asn::kClassUniversal || node->tag != asn::kTagBitString || !node->primitive)
        return false;
    DataBuffer content;
    node->getContent(content);
    if (content.getSize() == 0 || content.getData()[0] != 0)
        return false;
    out.assign(reinterpret_cast<const char*>(content.getData()) + 1, content.getSize() - 1);
    return true;
}

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (i >= text.size() || text[i] < '0' || text[i] > '9')
            return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// UTCTime YYMMDDHHMM[SS]Z or GeneralizedTime YYYYMMDDHHMMSS[.f]Z, as Unix time.
bool parseAsnTime(const Asn1* node, std::int64_t& out) {
    constexpr std::size_t kUtcNoSeconds = 11, kUtcWithSeconds = 13, kGeneralizedFixed = 14;
    if (!node || node->tagClass != asn::kClassUniversal ||
        (node->tag != asn::kTagUtcTime && node->tag != kTagGeneralizedTime))
        return false;
    DataBuffer content;
    node->getContent(content);
    std::string text = bytesOf(content);
    if (text.empty() || text.back() != 'Z')
        return false;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    std::size_t at = 0;
    if (node->tag == asn::kTagUtcTime) {
        if (text.size() != kUtcNoSeconds && text.size() != kUtcWithSeconds)
            return false;
        if (!digits(text, 0, 2, year))
            return false;
        year += year >= kUtcTimeCenturyPivot ? 1900 : 2000;
        at = 2;
    } else {
        if (text.size() < kGeneralizedFixed + 1 || !digits(text, 0, 4, year))
            return false;
        at = 4;
        // A fraction of a second, if any, is dropped.
        if (text.size() > kGeneralizedFixed + 1 && text[kGeneralizedFixed] != '.')
            return false;
        for (std::size_t i = kGeneralizedFixed + 1; i + 1 < text.size(); ++i)
            if (text[i] < '0' || text[i] > '9')
                return false;
    }
    if (!digits(text, at, 2, month) || !digits(text, at + 2, 2, day) || !digits(text, at + 4, 2, hour) ||
        !digits(text, at + 6, 2, minute))
        return false;
    bool hasSeconds = node->tag == kTagGeneralizedTime || text.size() == kUtcWithSeconds;
    if (hasSeconds && !digits(text, at + 8, 2, second))
        return false;
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60)
        return false;
    out = platform::DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * kSecondsPerDay +
          hour * 3600 + minute * 60 + second;
    return true;
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }, as
// openssl decodes it: the numbers' sizes and signs are judged when a
// signature is checked, not here.
bool rsaKeyReads(std::string_view key) {
    std::unique_ptr<Asn1> node = decoded(key);
    if (!node || node->tagClass != asn::kClassUniversal || node->tag != asn::kTagSequence || node->primitive ||
        node->getNumChildren() != 2)
        return false;
    for (int i = 0; i < 2; ++i) {
        const Asn1* number = node->getChild(i);
        if (number->tagClass != asn::kClassUniversal || number->tag != asn::kTagInteger || !number->primitive)
            return false;
    }
    return true;
}

} // namespace

std::unique_ptr<CertificateFields> readCertificateFields(platform::PCCERT_CONTEXT context) {
    if (!context || !context->pbCertEncoded || context->cbCertEncoded == 0)
        return nullptr;
    return readCertificateFields(
        std::string_view(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded));
}

std::unique_ptr<CertificateFields> readCertificateFields(std::string_view der) {
    if (der.empty())
        return nullptr;
    auto cert = std::make_unique<CertificateFields>();
    cert->der.assign(der);
    std::vector<std::string_view> outer, tbs;
    if (!childItems(cert->der, outer) || outer.size() != 3 || !childItems(outer[0], tbs))
        return nullptr;
    std::size_t at = !tbs.empty() && static_cast<unsigned char>(tbs[0][0]) == kContextConstructed0 ? 1 : 0;
    if (at == 1) {
        std::unique_ptr<Asn1> wrap = decoded(tbs[0]);
        const Asn1* number = wrap ? wrap->getChild(0) : nullptr;
        DataBuffer value;
        if (number && number->tag == asn::kTagInteger)
            number->getContent(value);
        cert->version = value.getSize() == 1 ? value.getData()[0] + 1 : 0;
    }
    constexpr std::size_t kIssuer = 2, kValidity = 3, kSubject = 4, kKeyInfo = 5;
    if (tbs.size() < at + kKeyInfo + 1)
        return nullptr;
    cert->tbs = std::string(outer[0]);
    std::unique_ptr<Asn1> serial = decoded(tbs[at]);
    if (!serial || serial->tagClass != asn::kClassUniversal || serial->tag != asn::kTagInteger || !serial->primitive)
        return nullptr;
    DataBuffer serialBytes;
    serial->getContent(serialBytes);
    cert->serial = bytesOf(serialBytes);
    cert->issuer = std::string(tbs[at + kIssuer]);
    cert->subject = std::string(tbs[at + kSubject]);
    if (!firstOid(outer[1], cert->signatureOid))
        return nullptr;
    cert->signatureAlgorithmMismatch = outer[1] != tbs[at + 1];
    // A malformed signature stays empty and fails its check.
    std::unique_ptr<Asn1> signature = decoded(outer[2]);
    if (!bitStringBytes(signature.get(), cert->signature))
        cert->signature.clear();
    std::unique_ptr<Asn1> keyInfo = decoded(tbs[at + kKeyInfo]);
    if (!keyInfo || !keyInfo->getChild(0) || !bitStringBytes(keyInfo->getChild(1), cert->key))
        return nullptr;
    const Asn1* keyOid = keyInfo->getChild(0)->getChild(0);
    if (!keyOid || !keyOid->isOid())
        return nullptr;
    StringBuffer oidText;
    keyOid->getOidString(oidText);
    cert->keyOid = oidText.getString();
    std::unique_ptr<Asn1> validity = decoded(tbs[at + kValidity]);
    cert->timesRead = validity && parseAsnTime(validity->getChild(0), cert->notBefore) &&
                      parseAsnTime(validity->getChild(1), cert->notAfter);
    // One decoding serves both readings of the extensions.
    std::unique_ptr<Asn1> whole = decoded(cert->der);
    DataBuffer ski;
    MsCertificate::getKeyIdentifiers(whole.get(), ski, cert.get());
    MsCertificate::getExtensionFacts(whole.get(), cert->facts);
    return cert;
}

namespace {

std::string nameDer(const Asn1& name) {
    DataBuffer der;
    LogNull quiet;
    if (name.tagClass != asn::kClassUniversal || name.tag != asn::kTagSequence || name.primitive ||
        !name.encodeDer(der, false, nullptr, quiet))
        return std::string();
    return bytesOf(der);
}

} // namespace

namespace {

// Universal tags of name values openssl keeps as written (a BIT STRING, a
// NumericString and the types it reads without knowing them); any other
// type not compared as text makes a name it cannot read.
constexpr std::uint32_t kTagsKeptAsWritten[] = {asn::kTagBitString,     7, 8, 9, 11, 13, 14, 15,
                                                asn::kTagNumericString, 29};
constexpr std::uint32_t kFirstSurrogate = 0xD800, kLastSurrogate = 0xDFFF, kLastScalar = 0x10FFFF;

bool nameSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A part of a key, its length first, so that no two lists of parts join
// into the same bytes.
void appendKeyPart(std::string& key, std::string_view part) {
    unsigned char size[4];
    platform::StoreBe32(size, static_cast<std::uint32_t>(part.size()));
    key.append(reinterpret_cast<const char*>(size), sizeof size);
    key.append(part);
}

std::string comparedText(std::string_view utf8) {
    std::string out;
    std::size_t begin = 0, end = utf8.size();
    while (begin < end && nameSpace(utf8[begin]))
        ++begin;
    while (end > begin && nameSpace(utf8[end - 1]))
        --end;
    bool inSpace = false;
    for (std::size_t i = begin; i < end; ++i) {
        if (nameSpace(utf8[i])) {
            if (!inSpace)
                out += ' ';
            inSpace = true;
        } else {
            out += utf8[i];
            inSpace = false;
        }
    }
    return asciiLowered(std::move(out));
}

// A value of a string type openssl compares as text, as UTF-8; false for
// another type or text it cannot convert (a lone or paired surrogate in a
// BMPString, which it reads as UCS-2, a UniversalString value past
// U+10FFFF).
bool valueUtf8(std::uint32_t tag, const std::string& content, std::string& out) {
    switch (tag) {
    case asn::kTagUtf8String: out = content; return platform::IsValidUtf8(content);
    case asn::kTagPrintableString:
    case asn::kTagT61String:
    case asn::kTagIa5String: {
        // Latin-1: each byte the code point of its value.
        std::vector<std::uint16_t> units;
        units.reserve(content.size());
        for (unsigned char b : content)
            units.push_back(b);
        out = utf8OfUnits(units.data(), static_cast<std::uint32_t>(units.size()));
        return true;
    }
    case asn::kTagBmpString:
        if (content.size() % 2 != 0)
            return false;
        for (std::size_t i = 0; i < content.size(); i += 2) {
            const std::uint16_t unit = platform::LoadBe16(bytePtr(content) + i);
            if (unit >= kFirstSurrogate && unit <= kLastSurrogate)
                return false;
        }
        out = utf8OfBmpString(content);
        return true;
    case asn::kTagUniversalString:
        if (content.size() % 4 != 0)
            return false;
        for (std::size_t i = 0; i < content.size(); i += 4) {
            const std::uint32_t value = platform::LoadBe32(bytePtr(content) + i);
            if (value > kLastScalar || (value >= kFirstSurrogate && value <= kLastSurrogate))
                return false;
        }
        out = utf8OfUniversalString(content);
        return true;
    default: return false;
    }
}

// The size each item of a decoded value was written in, depth first: with
// its content and indefinite lengths they give back the bytes written.
void appendWrittenSizes(const Asn1& node, std::string& key) {
    appendKeyPart(key, std::to_string(node.encodedSize));
    for (int i = 0; i < node.getNumChildren(); ++i)
        appendWrittenSizes(*node.getChild(i), key);
}

// One attribute value's part of a name's key: its text, or its type and
// content as written; no value for a type a name may not hold.
std::optional<std::string> valueKey(const Asn1& value) {
    if (value.tagClass != asn::kClassUniversal)
        return std::nullopt;
    std::string key(1, static_cast<char>(value.tag));
    if (value.tag == asn::kTagSequence) {
        // openssl compares such a value by the bytes written, length octets
        // and all: as DER, or with the size each item took.
        DataBuffer der;
        LogNull quiet;
        if (value.primitive)
            return std::nullopt;
        if (value.encodeDerAsWritten(der, quiet))
            return key + bytesOf(der);
        if (!value.encodeDer(der, true, nullptr, quiet))
            return std::nullopt;
        key += "w" + bytesOf(der);
        appendWrittenSizes(value, key);
        return key;
    }
    std::string content, text;
    if (!joinedContent(&value, content))
        return std::nullopt;
    if (valueUtf8(value.tag, content, text))
        return std::string("t") + comparedText(text);
    if (std::find(std::begin(kTagsKeptAsWritten), std::end(kTagsKeptAsWritten), value.tag) !=
        std::end(kTagsKeptAsWritten))
        return key + content;
    return std::nullopt;
}

} // namespace

std::optional<std::string> nameComparisonKey(std::string_view nameDer) {
    std::unique_ptr<Asn1> name = decoded(nameDer);
    ExtPtrArray holder;
    holder.setOwnsObjects(true);
    std::vector<const Asn1*> rdns, pairs;
    if (!name || name->tagClass != asn::kClassUniversal || name->tag != asn::kTagSequence ||
        !listItems(*name, holder, rdns))
        return std::nullopt;
    std::string key;
    for (const Asn1* rdn : rdns) {
        if (rdn->tagClass != asn::kClassUniversal || rdn->tag != asn::kTagSet || !listItems(*rdn, holder, pairs))
            return std::nullopt;
        std::vector<std::string> entries;
        for (const Asn1* pair : pairs) {
            const Asn1* type = pair->getChild(0);
            const Asn1* value = pair->getChild(1);
            if (pair->tagClass != asn::kClassUniversal || pair->tag != asn::kTagSequence ||
                pair->getNumChildren() != 2 || type->tagClass != asn::kClassUniversal || !type->isOid() ||
                !type->primitive)
                return std::nullopt;
            std::optional<std::string> valuePart = valueKey(*value);
            if (!valuePart)
                return std::nullopt;
            DataBuffer oid;
            type->getContent(oid);
            std::string entry;
            appendKeyPart(entry, bytesOf(oid));
            appendKeyPart(entry, *valuePart);
            entries.push_back(std::move(entry));
        }
        // An RDN is a set; an empty one is no part of the name.
        if (entries.empty())
            continue;
        std::sort(entries.begin(), entries.end());
        std::string set;
        for (const std::string& entry : entries)
            appendKeyPart(set, entry);
        appendKeyPart(key, set);
    }
    return key;
}

std::string nameAsDer(std::string_view encoded) {
    std::unique_ptr<Asn1> name = decoded(encoded);
    return name ? nameDer(*name) : std::string();
}

bool readCertificateId(const Asn1* node, CertificateId& out) {
    out = CertificateId();
    if (!node)
        return false;
    if (node->tagClass == asn::kClassContext && node->tag == 0) {
        out.byKeyId = true;
        return joinedContent(node, out.keyId) && !out.keyId.empty();
    }
    if (node->tagClass != asn::kClassUniversal || node->tag != asn::kTagSequence || node->getNumChildren() != 2)
        return false;
    const Asn1* serial = node->getChild(1);
    if (serial->tagClass != asn::kClassUniversal || serial->tag != asn::kTagInteger || !serial->primitive)
        return false;
    DataBuffer value;
    serial->getContent(value);
    out.serial = bytesOf(value);
    out.issuer = nameDer(*node->getChild(0));
    return !out.issuer.empty() && !out.serial.empty();
}

namespace {

// The issuer compared as the chain compares names, its key's length first
// so that the serial after it cannot pass for a part of it. The decoder
// takes an INTEGER only in its shortest form, so equal values are equal
// octets. Empty for a name openssl could not read.
std::string issuerSerialKey(std::string_view issuer, const std::string& serial) {
    const std::optional<std::string> name = issuer.empty() || serial.empty() ? std::nullopt : nameComparisonKey(issuer);
    if (!name)
        return std::string();
    std::string key = "i";
    appendKeyPart(key, *name);
    return key + serial;
}

} // namespace

std::string certificateIdKey(const CertificateId& id) {
    if (id.byKeyId)
        return id.keyId.empty() ? std::string() : "k" + id.keyId;
    return issuerSerialKey(id.issuer, id.serial);
}

std::string certificateKeyIdKey(const CertificateFields& cert) {
    return !cert.subjectKeyId || cert.subjectKeyId->empty() || cert.subjectKeyIdUnreadable ? std::string()
                                                                                           : "k" + *cert.subjectKeyId;
}

void certificateIdKeys(const CertificateFields& cert, std::string& byIssuer, std::string& byKeyId) {
    byIssuer = issuerSerialKey(cert.issuer, cert.serial);
    byKeyId = certificateKeyIdKey(cert);
}

bool certificateHasId(const CertificateFields& cert, const CertificateId& id) {
    const std::string wanted = certificateIdKey(id);
    if (wanted.empty())
        return false;
    std::string byIssuer, byKeyId;
    certificateIdKeys(cert, byIssuer, byKeyId);
    return wanted == (id.byKeyId ? byKeyId : byIssuer);
}

platform::PCCERT_CONTEXT nextCertificateWithId(platform::HCERTSTORE store, const CertificateId& id,
                                               platform::PCCERT_CONTEXT from) {
    for (platform::PCCERT_CONTEXT c = platform::CertEnumCertificatesInStore(store, from); c;
         c = platform::CertEnumCertificatesInStore(store, c)) {
        std::unique_ptr<CertificateFields> fields = readCertificateFields(c);
        if (fields && certificateHasId(*fields, id))
            return c;
    }
    return nullptr;
}

namespace {

// A name of the certificate against a host name, both lower case.
bool dnsNameMatches(const std::string& pattern, const std::string& host) {
    if (pattern.empty())
        return false;
    if (pattern.find('*') == std::string::npos)
        return pattern == host;
    const std::size_t dot = pattern.find('.');
    // "*" alone, "*" past the first label or inside it: never a match.
    if (dot == std::string::npos || dot != 1 || pattern[0] != '*' || pattern.find('*', 1) != std::string::npos)
        return false;
    // Over a single label ("*.com", "*.localhost") it would name a whole
    // domain of registrants.
    const std::size_t nextDot = pattern.find('.', dot + 1);
    if (nextDot == std::string::npos || nextDot + 1 == pattern.size())
        return false;
    const std::size_t hostDot = host.find('.');
    if (hostDot == 0 || hostDot == std::string::npos)
        return false;
    return host.compare(hostDot, std::string::npos, pattern, dot, std::string::npos) == 0;
}

// Host-name characters, and a dot between two of them.
bool commonNameClaimsHost(std::string_view name) {
    const std::size_t dot = name.find('.', 1);
    return dot != std::string_view::npos && dot + 1 < name.size() && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                      c == '.' || c == '_' || c == '*';
           });
}

} // namespace

bool readableAsOpensslReads(const CertificateFields& cert, bool asIssuer) {
    // The key is read only for an issuer: a message may carry thousands of
    // certificates that no chain asks for.
    return !cert.facts.extensionUnreadable && !cert.subjectKeyIdUnreadable && !cert.authorityKeyId.unreadable &&
           !(asIssuer && cert.keyOid == alg_oid::kRsaEncryption && !rsaKeyReads(cert.key));
}

std::string asciiLowered(std::string text) {
    constexpr char kCaseBit = 'a' - 'A';
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + kCaseBit);
    return text;
}

ClaimedNames claimedNames(const CertificateExtensionFacts& facts, bool endEntity) {
    ClaimedNames names;
    for (const std::string& name : facts.dnsNames)
        names.dns.push_back(asciiLowered(name));
    if (endEntity && facts.dnsNames.empty() && !facts.malformed && !facts.commonNameNotText)
        for (const std::string& name : facts.commonNames)
            if (commonNameClaimsHost(name))
                names.dns.push_back(asciiLowered(name));
    names.ip = facts.ipAddresses;
    return names;
}

bool CertificateExtensionFacts::allowsPurpose(const std::string& oid) const {
    return !hasExtendedKeyUsage ||
           std::any_of(extendedKeyUsages.begin(), extendedKeyUsages.end(),
                       [&](const std::string& usage) { return usage == kOidAnyExtendedKeyUsage || usage == oid; });
}

bool certificateNamesHost(const CertificateFields& cert, const std::string& hostText) {
    std::string host = hostText;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    // An IPv6 literal's zone names an interface of this machine: the
    // certificate names the address alone.
    host = host.substr(0, platform::Ipv6ZoneStart(host));
    host = asciiLowered(host);
    unsigned char address[16] = {};
    std::size_t addressSize = 0;
    if (inet_pton(AF_INET, host.c_str(), address) == 1)
        addressSize = 4;
    else if (inet_pton(AF_INET6, host.c_str(), address) == 1)
        addressSize = 16;
    const ClaimedNames names = claimedNames(cert.facts, true);
    // An address is named only by an address: never by a DNS name or the
    // common name, which may spell one.
    if (addressSize != 0) {
        const std::string wanted(reinterpret_cast<const char*>(address), addressSize);
        return std::find(names.ip.begin(), names.ip.end(), wanted) != names.ip.end();
    }
    return std::any_of(names.dns.begin(), names.dns.end(),
                       [&](const std::string& name) { return dnsNameMatches(name, host); });
}

} // namespace tessik
