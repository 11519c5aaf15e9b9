#pragma once
// The records that tie the library to CryptoAPI providers: one algorithm a
// provider offers (with its ASN.1 OID), and the provider and key container
// to take a private key from.
#include <cstdint>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikObject.h"

namespace tessik {

// ALG_ID classes (bits 0xE000) and the sub-id mask.
constexpr std::uint32_t kAlgClassMask = 0xE000;
constexpr std::uint32_t kAlgClassHash = 0x8000;
constexpr std::uint32_t kAlgClassDataEncrypt = 0x6000;
constexpr std::uint32_t kAlgClassMsgEncrypt = 0x4000;
constexpr std::uint32_t kAlgSubIdMask = 0x1FF;

class CryptoAlg : public TessikObject {
public:
    CryptoAlg(std::uint32_t algId, std::uint32_t bits, const char* name);
    ~CryptoAlg() override;

    const char* getStringMemberChars() const { return m_name.getString(); }
    std::uint32_t getAlgId() const { return m_algId; }
    std::uint32_t getKeyBits() const { return m_bits; }
    // Appends the dotted OID; false when the algorithm was not recognised
    // (a default OID is appended all the same, except for other classes).
    bool getOid(StringBuffer& out) const;

private:
    std::uint32_t m_algId;
    std::uint32_t m_bits;
    StringBuffer m_name;
};

class CryptoSettings2 {
public:
    CryptoSettings2();
    virtual ~CryptoSettings2();

    StringBuffer m_providerName; // logged as "cspProviderName"
    StringBuffer m_containerName;
    // Kept zero and empty: nothing in the library reads them yet.
    std::uint8_t m_flag = 0;
    std::uint32_t m_num1 = 0;
    std::uint32_t m_num2 = 0;
    std::uint32_t m_num3 = 0;
    StringBuffer m_text1;
    std::uint32_t m_num4 = 0;
    std::uint32_t m_num5 = 0;
    StringBuffer m_text2;
};

} // namespace tessik
