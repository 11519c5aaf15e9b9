#pragma once
// Object identifiers of the content-encryption and PBE algorithms that
// PKCS#7 envelopes name.

namespace tessik {

namespace alg_oid {
constexpr const char* kRsaEncryption = "1.2.840.113549.1.1.1";
constexpr const char* kRc2Cbc = "1.2.840.113549.3.2";
constexpr const char* kAes128Cbc = "2.16.840.1.101.3.4.1.2";
constexpr const char* kAes192Cbc = "2.16.840.1.101.3.4.1.22";
constexpr const char* kAes256Cbc = "2.16.840.1.101.3.4.1.42";
constexpr const char* kDesCbc = "1.3.14.3.2.7";
constexpr const char* kDesEde3Cbc = "1.2.840.113549.3.7";
constexpr const char* kRc4 = "1.2.840.113549.3.4";
constexpr const char* kPkcs12PbePrefix = "1.2.840.113549.1.12.1";
} // namespace alg_oid

} // namespace tessik
