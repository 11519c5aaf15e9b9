#pragma once
// The NTLM component: the three messages of an NTLM exchange over HTTP
// (NEGOTIATE, CHALLENGE, AUTHENTICATE, called TYPE1 to TYPE3) as the
// MS-NLMP protocol lays them out, and the response computations behind
// them. Messages travel as text in the component's encoding (Base64 without
// line breaks unless told otherwise).
#include <cstdint>

#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/XString.h"
#include "netlib/crypto/ClsEncode.h"

namespace tessik {

class LogBase;

namespace ntlm {
// Negotiate flags.
inline constexpr std::uint32_t kFlagUnicode = 0x1;
inline constexpr std::uint32_t kFlagOem = 0x2;
inline constexpr std::uint32_t kFlagRequestTarget = 0x4;
inline constexpr std::uint32_t kFlagNtlm = 0x200;
// With this server flag the LM response is a copy of the NT response.
inline constexpr std::uint32_t kFlagNtOnly = 0x400;
inline constexpr std::uint32_t kFlagDomainSupplied = 0x1000;
inline constexpr std::uint32_t kFlagWorkstationSupplied = 0x2000;
inline constexpr std::uint32_t kFlagAlwaysSign = 0x8000;
inline constexpr std::uint32_t kFlagExtendedSessionSecurity = 0x80000;
inline constexpr std::uint32_t kFlagVersion = 0x2000000;
inline constexpr std::uint32_t kDefaultFlags =
    kFlagUnicode | kFlagOem | kFlagRequestTarget | kFlagNtlm | kFlagAlwaysSign | kFlagExtendedSessionSecurity;

inline constexpr int kVersion1 = 1;
inline constexpr int kVersion2 = 2;

inline constexpr unsigned int kChallengeSize = 8;
inline constexpr unsigned int kHashSize = 16;
inline constexpr unsigned int kDesKeySize = 7;
inline constexpr unsigned int kDesBlockSize = 8;
inline constexpr unsigned int kDeslKeySize = 16;
inline constexpr unsigned int kDeslResponseSize = 24;
inline constexpr unsigned int kLmPasswordSize = 14;
// The shortest TYPE2 the parser takes: through the target information
// buffer, with the eight bytes of version room behind it.
inline constexpr unsigned int kMinType2Size = 60;

// Target information item ids the parser keeps; id 0 ends the list.
enum AvId : std::uint16_t {
    kAvEnd = 0,
    kAvNbComputer = 1,
    kAvNbDomain = 2,
    kAvDnsComputer = 3,
    kAvDnsDomain = 4,
};

inline constexpr const char* kMsgType2TooShort = "TYPE2 message is not long enough.";
inline constexpr const char* kMsgType2Signature = "Expected TYPE2 message to begin with NTLMSSP.";
inline constexpr const char* kMsgType2Type = "TYPE2 message type not equal to 2";
inline constexpr const char* kMsgType2TargetName = "Failed to get target name from TYPE2 message.";
inline constexpr const char* kMsgType2TargetInfo = "Failed to get target info data from TYPE2 message.";
inline constexpr const char* kMsgType3BadType2 = "Failed to decode TYPE2 input message.";
inline constexpr const char* kMsgFieldTooLong = "NTLM message field is too long.";

// The response computations, each writing a fresh out (cleared first).

// DES of one 8-byte block under a 7-byte key spread over 8 key bytes.
void ntlmDes7(const unsigned char key[kDesKeySize], const unsigned char block[kDesBlockSize],
              unsigned char out[kDesBlockSize]);
// Three ntlmDes7 under the 16-byte key padded to 21; empty out when the key
// is not 16 or the challenge not 8 bytes.
void ntlmDesl(const DataBuffer& key, const DataBuffer& challenge, DataBuffer& out);
// LM hash: the password upper-cased in oemCodePage, cut or zero-padded to 14
// bytes, each half the key of ntlmDes7 over "KGS!@#$%".
void ntlmLmHash(XString& password, int oemCodePage, DataBuffer& out);
// NT hash: MD4 of the UTF-16LE password.
void ntlmNtHash(XString& password, DataBuffer& out);
// NTLMv1 responses; NTLM2 session responses when serverFlags have
// kFlagExtendedSessionSecurity.
void ntlmV1Responses(std::uint32_t serverFlags, XString& password, int oemCodePage, const DataBuffer& serverChallenge,
                     const DataBuffer& clientChallenge, DataBuffer& lmResponse, DataBuffer& ntResponse);
// HMAC-MD5 under the NT hash of UTF-16LE(upper-case user, then domain).
void ntlmNtowfV2(XString& password, XString& user, XString& domain, DataBuffer& out);
// NTLMv2 responses; timestamp is the FILETIME count written into the blob.
void ntlmV2Responses(const DataBuffer& key, const DataBuffer& serverChallenge, const DataBuffer& clientChallenge,
                     std::uint64_t timestamp, const DataBuffer& targetInfo, DataBuffer& lmResponse,
                     DataBuffer& ntResponse);

// What a TYPE2 message says.
struct Type2 {
    std::uint32_t flags = 0;
    StringBuffer targetName;
    XString nbComputer;
    XString nbDomain;
    XString dnsComputer;
    XString dnsDomain;
    DataBuffer serverChallenge;
    DataBuffer targetInfo;

    void clear();
};

// Reads the decoded bytes of a TYPE2; false with one of the kMsgType2*
// messages.
bool parseType2Bytes(const DataBuffer& message, Type2& out, LogBase& log);

} // namespace ntlm

class ClsNtlm : public ClsBase, public ClsEncode, public TessikCritSec {
public:
    ClsNtlm();
    ~ClsNtlm() override;

    void setDomain(const char* utf8) { m_domain.setFromUtf8(utf8); }
    void setWorkstation(const char* utf8) { m_workstation.setFromUtf8(utf8); }
    void setUsername(const char* utf8) { m_username.setFromUtf8(utf8); }
    void setPassword(const char* utf8) { m_password.setFromUtf8(utf8); }
    // 1 answers with NTLMv1 (NTLM2 session responses when the server offers
    // them); any other number with NTLMv2.
    void setNtlmVersion(int version) { m_ntlmVersion = version; }
    int getNtlmVersion() const { return m_ntlmVersion; }
    void setOemCodePage(int codePage) { m_oemCodePage = codePage; }
    void setFlags(std::uint32_t flags) { m_flags = flags; }
    std::uint32_t getFlags() const { return m_flags; }
    // Used only when it holds exactly 8 bytes; else each TYPE3 draws its own.
    void setClientChallenge(const DataBuffer& challenge);

    // The NEGOTIATE message; records in the flags whether a domain and a
    // workstation are supplied.
    bool genType1(XString& out, LogBase& log);
    bool parseType2(XString& type2, std::uint32_t& flags, StringBuffer& targetName, XString& nbComputer,
                    XString& nbDomain, XString& dnsComputer, XString& dnsDomain, DataBuffer& serverChallenge,
                    DataBuffer& targetInfo, LogBase& log);
    // The AUTHENTICATE message answering type2.
    bool genType3(XString& type2, XString& out, LogBase& log);
    // The same two messages as bytes, for callers that carry them unencoded.
    bool genType1Bytes(DataBuffer& out, LogBase& log);
    bool genType3Bytes(const DataBuffer& type2, DataBuffer& out, LogBase& log);

private:
    bool parseType2Text(XString& type2, ntlm::Type2& out, LogBase& log);
    void appendText(XString& text, bool unicode, DataBuffer& out);

    int m_ntlmVersion;
    int m_oemCodePage;
    std::uint32_t m_flags;
    XString m_domain;
    XString m_workstation;
    XString m_username;
    XString m_password;
    DataBuffer m_clientChallenge;
};

} // namespace tessik
