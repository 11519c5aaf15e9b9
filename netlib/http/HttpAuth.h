#pragma once
// Basic and Digest authorization: the credential lines a request carries,
// and the Digest answer to a server's challenge.
#include <cstdint>
#include <memory>

#include "netlib/core/StringBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/http/MimeHeader.h"

namespace tessik {

class HttpControl;
class LogBase;

namespace http_auth {
inline constexpr const char* kMsgNonDigestChallenge = "401 authentication challenge for non-digest authentication.";
inline constexpr const char* kMsgNoCredentials =
    "401 authentication challenge, but there is no login/password to send.";
inline constexpr const char* kMsgUnsupportedQop = "Unsupported qop for HTTP digest authentication.";
inline constexpr const char* kMsgUnsupportedAlgorithm = "Unsupported algorithm for HTTP digest authentication.";
// RFC 2617's hexadecimal digest: 32 digits and a terminating zero.
inline constexpr int kDigestHexSize = 33;
inline constexpr int kCnonceBytes = 8;
inline constexpr const char* kFirstNonceCount = "00000001";
} // namespace http_auth

// The options' login, password and prepared Digest answer kept out of one
// call (a redirect that leaves their origin, or a call with credentials of
// its own); they come back when it ends.
class CredentialsWithheld {
public:
    explicit CredentialsWithheld(HttpControl& options);
    ~CredentialsWithheld();
    CredentialsWithheld(const CredentialsWithheld&) = delete;
    CredentialsWithheld& operator=(const CredentialsWithheld&) = delete;

private:
    HttpControl& m_options;
    XString m_login;
    XString m_password;
    StringBuffer m_digest;
};

// The Authorization, Cookie and Host fields a caller put among the options'
// extra fields, kept out of one call; they come back when it ends.
class CallerFieldsWithheld {
public:
    explicit CallerFieldsWithheld(HttpControl& options);
    ~CallerFieldsWithheld();
    CallerFieldsWithheld(const CallerFieldsWithheld&) = delete;
    CallerFieldsWithheld& operator=(const CallerFieldsWithheld&) = delete;

private:
    HttpControl& m_options;
    MimeHeader m_kept;
};

// For a redirect from one absolute URL to another: when it leaves their
// scheme, host or port, the options' credentials and the caller's fields
// above stay out of the call (and come back when it ends), as curl keeps
// them to their origin.
class OriginFieldsWithheld {
public:
    OriginFieldsWithheld(HttpControl& options, const char* fromUrl, const char* toUrl, LogBase& log);

private:
    std::unique_ptr<CredentialsWithheld> m_credentials;
    std::unique_ptr<CallerFieldsWithheld> m_fields;
};

// "Basic " and the Base64 of login ":" password, taken as UTF-8 (the
// server's line) or in the ANSI code page (a proxy's).
void basicCredentials(XString& login, XString& password, bool ansi, StringBuffer& out);

// RFC 2617, section 3.2.2.1: HA1, and for "MD5-sess" (any case) HA1 over
// the first HA1, the nonce and the client nonce; lower-case hex.
void digestCalcHa1(const char* algorithm, const char* user, const char* realm, const char* password, const char* nonce,
                   const char* cnonce, char out[http_auth::kDigestHexSize]);
// The response digest; nc, cnonce and qop take part only with a qop.
void digestCalcResponse(const char* ha1, const char* nonce, const char* nc, const char* cnonce, const char* qop,
                        const char* method, const char* uri, const char* entityHash,
                        char out[http_auth::kDigestHexSize]);

// The "Authorization: Digest ..." line (no line end) that answers the
// challenge (the WWW-Authenticate value, with or without the field name).
// False for a qop list without "auth" or an algorithm other than MD5 and
// MD5-sess.
bool HttpDigestAuth(const char* login, const char* password, const char* method, const char* uri, const char* challenge,
                    StringBuffer& outLine, LogBase& log);

} // namespace tessik
