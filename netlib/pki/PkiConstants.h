#pragma once
// Limits and the log texts of the ASN.1 readers that callers and tests match.
#include <cstdint>

namespace tessik {

namespace asn {
// Universal tag numbers the readers and writers treat specially.
constexpr std::uint32_t kTagBoolean = 1;
constexpr std::uint32_t kTagInteger = 2;
constexpr std::uint32_t kTagBitString = 3;
constexpr std::uint32_t kTagOctetString = 4;
constexpr std::uint32_t kTagNull = 5;
constexpr std::uint32_t kTagOid = 6;
constexpr std::uint32_t kTagUtf8String = 12;
constexpr std::uint32_t kTagSequence = 16;
constexpr std::uint32_t kTagSet = 17;
constexpr std::uint32_t kTagNumericString = 18;
constexpr std::uint32_t kTagPrintableString = 19;
constexpr std::uint32_t kTagT61String = 20;
constexpr std::uint32_t kTagIa5String = 22;
constexpr std::uint32_t kTagUtcTime = 23;
constexpr std::uint32_t kTagUniversalString = 28;
constexpr std::uint32_t kTagBmpString = 30;

constexpr std::uint8_t kClassUniversal = 0;
constexpr std::uint8_t kClassApplication = 1;
constexpr std::uint8_t kClassContext = 2;
constexpr std::uint8_t kClassPrivate = 3;

constexpr std::uint8_t kConstructedBit = 0x20;
constexpr std::uint8_t kHighTagNumber = 31;
constexpr std::uint8_t kIndefiniteLength = 0x80;
constexpr unsigned int kMaxLengthBytes = 4;
constexpr unsigned int kMaxTagBytes = 4;
// Hostile input nests without end; no real structure comes near this.
constexpr int kMaxNestingDepth = 96;
// Octet strings of at least this size go to the caller's list by reference.
constexpr unsigned int kExtOctetsMin = 257;
constexpr int kBase64LineLength = 80;
constexpr unsigned int kMaxOidContent = 511;
} // namespace asn

namespace asn_msg {
constexpr const char* kPrematureA = "premature end of BER encoding (A)";
constexpr const char* kPrematureB = "premature end of BER encoding (B)";
constexpr const char* kPrematureC = "premature end of BER encoding (C)";
constexpr const char* kPrematureD = "premature end of BER encoding (D)";
constexpr const char* kPrematureE = "premature end of BER encoding (E)";
constexpr const char* kPrematureF1 = "premature end of BER encoding (F1)";
constexpr const char* kPrematureF2 = "premature end of BER encoding (F2)";
constexpr const char* kPrematureAsnA = "premature end of ASN encoding (A)";
constexpr const char* kZeroTagDer = "Error in BER encoding: tag is zero but length is not.";
constexpr const char* kZeroTagBer = "error in BER encoding: tag is zero but length is not.";
constexpr const char* kTagTooLong = "cannot parse BER tag > 4 octets";
constexpr const char* kShortTagInLongForm = "A tag number below 31 written in the long form.";
constexpr const char* kLengthTooLongDer = "ASN.1 length should not be more than 4 bytes in definite long-form.";
constexpr const char* kLengthTooLongBer = "ASN.1 length cannot be more than 4 bytes in definite long-form.";
constexpr const char* kLongerLengthThanNeeded = "A DER length is written in more bytes than it needs.";
constexpr const char* kNotWrittenAsDer = "A signed item is not written as DER.";
constexpr const char* kLengthHints[] = {
    "This error typically occurs when trying to decode data that is not ASN.1",
    "A common cause is when decrypting ASN.1 data with an invalid password,",
    "which results in garbage data. An attempt is made to decode the garbage bytes",
    "as ASN.1, and this error occurs...",
};
constexpr const char* kHeaderFailed = "Failed to parse ASN.1 header.";
constexpr const char* kConstructedTooLong = "ASN data length exceeds remaining number of bytes available.";
constexpr const char* kPrimitiveTooLong = "Data length exceeds remaining amount of ASN.1 data.";
constexpr const char* kBadBoolean = "Invalid ASN.1 - cannot decode boolean.";
constexpr const char* kBadInteger = "Invalid ASN.1 - cannot decode integer.";
constexpr const char* kBadBitString = "Invalid ASN.1 - cannot decode bit string.";
constexpr const char* kBadUtf8 = "Invalid ASN.1 - cannot decode UTF-8 string.";
constexpr const char* kBadOid = "Invalid ASN.1 - cannot decode object identifier.";
constexpr const char* kChildFailed = "ASN.1 decoding failed inside a constructed item.";
constexpr const char* kEocInDefinite = "End-of-contents octets inside a definite length.";
constexpr const char* kNoEoc = "Indefinite length without end-of-contents octets.";
constexpr const char* kPrimitiveIndefinite = "A primitive item cannot have an indefinite length.";
constexpr const char* kBadOctetSegment = "A constructed string holds an item that is not one of its segments.";
constexpr const char* kTrailingBytes = "Bytes follow the ASN.1 item.";
constexpr const char* kTooDeep = "ASN.1 nesting is too deep.";
constexpr const char* kEmptyDer = "Failed to decode DER -- number of bytes in DER is zero.";
constexpr const char* kNoNodes = "DER contains no ASN.1 nodes.";
constexpr const char* kNullBer = "null reference passed to BER decoder";
constexpr const char* kShortBer = "invalid length passed to BER decoder";
constexpr const char* kLengthDisagreement = "Length disagreement";
constexpr const char* kNoContent = "No content for primitive!";
constexpr const char* kNotAnOid = "NOT AN OID";
constexpr const char* kBadNull = "Invalid ASN.1 - NULL with content.";
constexpr const char* kBadBmpString = "Invalid ASN.1 - cannot decode BMPString.";
constexpr const char* kBadUniversalString = "Invalid ASN.1 - cannot decode UniversalString.";
constexpr const char* kConstructedPrimitive = "Invalid ASN.1 - a type that is always primitive is constructed.";
constexpr const char* kHighTagPadded = "A tag number written with a leading zero septet.";
} // namespace asn_msg

namespace x509_msg {
constexpr const char* kLoadingP7b = "Loading PKCS7 (p7b) certificate...";
constexpr const char* kNotCertificate = "The DER is not an X.509 certificate.";
constexpr const char* kIssuerUnreachable = "Cannot get certificate issuer value (1)";
constexpr const char* kSubjectUnreachable = "Navigation to the certificate subject failed.";
constexpr const char* kExpectedSet = "DistinguishedName: Expected set.";
constexpr const char* kExpectedSequence = "DistinguishedName: Expected sequence.";
constexpr const char* kExpectedOid = "DistinguishedName: Expected oid.";
constexpr const char* kInvalidDnDer = "Invalid DistinguishedName DER";
constexpr const char* kEmptyDn = "Nothing in DistinguishedName";
constexpr const char* kInvalidCmd = "InvalidCmd";
} // namespace x509_msg

} // namespace tessik
