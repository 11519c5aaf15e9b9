#include "netlib/http/HttpAuth.h"

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "netlib/core/LogBase.h"
#include "netlib/core/Md5.h"
#include "netlib/http/HttpControl.h"
#include "netlib/http/TessikUrl.h"
#include "netlib/text/ContentCoding.h"
#include "platform/CryptProv.h"

namespace tessik {

namespace {

constexpr int kMd5Size = 16;
constexpr char kHexDigits[] = "0123456789abcdef";

// High nibble first, lower-case.
void digestToHex(const unsigned char* bytes, int n, char* out) {
    for (int i = 0; i < n; ++i) {
        out[2 * i] = kHexDigits[bytes[i] >> 4];
        out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
    out[2 * n] = '\0';
}

// MD5 over pieces joined by ':'.
void md5Joined(std::initializer_list<std::string_view> pieces, unsigned char digest[kMd5Size]) {
    Md5 md5;
    bool first = true;
    for (std::string_view piece : pieces) {
        if (!first)
            md5.update(":", 1);
        md5.update(piece.data(), static_cast<std::uint32_t>(piece.size()));
        first = false;
    }
    md5.final(digest);
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

struct AuthParam {
    std::string name;
    std::string value;
};

// The parameters of a challenge: comma-separated name=token or
// name="quoted string" (backslash escapes taken), after the scheme word.
std::vector<AuthParam> challengeParams(std::string_view text) {
    std::vector<AuthParam> params;
    std::size_t i = 0;
    auto skipBlanks = [&] {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n'))
            ++i;
    };
    while (i < text.size()) {
        skipBlanks();
        const std::size_t nameStart = i;
        while (i < text.size() && text[i] != '=' && text[i] != ',' && text[i] != ' ' && text[i] != '\t')
            ++i;
        std::string name(text.substr(nameStart, i - nameStart));
        skipBlanks();
        if (i >= text.size() || text[i] != '=') {
            // A word without a value (the scheme, or a stray token).
            if (i < text.size() && text[i] == ',')
                ++i;
            continue;
        }
        ++i;
        skipBlanks();
        std::string value;
        if (i < text.size() && text[i] == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\' && i + 1 < text.size())
                    ++i;
                value += text[i];
            }
            ++i;
        } else {
            const std::size_t valueStart = i;
            while (i < text.size() && text[i] != ',' && text[i] != ' ' && text[i] != '\t')
                ++i;
            value = std::string(text.substr(valueStart, i - valueStart));
        }
        skipBlanks();
        if (i < text.size() && text[i] == ',')
            ++i;
        params.push_back({std::move(name), std::move(value)});
    }
    return params;
}

std::string paramValue(const std::vector<AuthParam>& params, const char* name) {
    for (const AuthParam& p : params)
        if (equalsNoCase(p.name, name))
            return p.value;
    return {};
}

// Whether a comma-separated qop list offers `wanted`.
bool qopOffers(std::string_view list, std::string_view wanted) {
    std::size_t at = 0;
    while (at <= list.size()) {
        std::size_t comma = list.find(',', at);
        if (comma == std::string_view::npos)
            comma = list.size();
        std::string_view item = list.substr(at, comma - at);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        if (equalsNoCase(item, wanted))
            return true;
        at = comma + 1;
    }
    return false;
}

// name="value" with '"' and '\' escaped; control bytes, which could end
// the header line, are left out.
void appendQuoted(StringBuffer& out, const char* name, std::string_view value) {
    out.append(name);
    out.append("=\"");
    for (char c : value) {
        if (!TessikUrl::isFieldValue(&c, 1))
            continue;
        if (c == '"' || c == '\\')
            out.appendChar('\\');
        out.appendChar(c);
    }
    out.appendChar('"');
}

} // namespace

CredentialsWithheld::CredentialsWithheld(HttpControl& options) : m_options(options) {
    m_login.copyFromX(options.Login);
    m_password.copyFromX(options.Password);
    m_digest.setSb(options.digestAuthHeader);
    options.Login.clear();
    options.Password.clear();
    options.digestAuthHeader.clear();
}

CredentialsWithheld::~CredentialsWithheld() {
    // Whatever stood in for them during the call goes first.
    m_options.Password.secureClear();
    m_options.Login.copyFromX(m_login);
    m_options.Password.copyFromX(m_password);
    m_options.digestAuthHeader.setSb(m_digest);
    m_password.secureClear();
}

CallerFieldsWithheld::CallerFieldsWithheld(HttpControl& options) : m_options(options) {
    m_kept.copyFrom(options.extraHeaders);
    options.extraHeaders.removeField("Authorization", true);
    options.extraHeaders.removeField("Cookie", true);
    options.extraHeaders.removeField("Host", true);
}

CallerFieldsWithheld::~CallerFieldsWithheld() {
    m_options.extraHeaders.copyFrom(m_kept);
}

void basicCredentials(XString& login, XString& password, bool ansi, StringBuffer& out) {
    StringBuffer pair;
    pair.append(ansi ? login.getAnsi() : login.getUtf8());
    pair.appendChar(':');
    pair.append(ansi ? password.getAnsi() : password.getUtf8());
    out.setString("Basic ");
    ContentCoding::encodeBase64NoCrlf(pair.getString(), static_cast<unsigned int>(pair.getSize()), out);
    pair.secureClear();
}

void digestCalcHa1(const char* algorithm, const char* user, const char* realm, const char* password, const char* nonce,
                   const char* cnonce, char out[http_auth::kDigestHexSize]) {
    unsigned char ha1[kMd5Size];
    md5Joined({user, realm, password}, ha1);
    digestToHex(ha1, kMd5Size, out);
    // The session key hashes the hex text of HA1, as RFC 2617's text (not
    // its sample code) and RFC 7616 say, and as servers and curl compute it.
    if (algorithm != nullptr && equalsNoCase(algorithm, "md5-sess")) {
        md5Joined({out, nonce, cnonce}, ha1);
        digestToHex(ha1, kMd5Size, out);
    }
}

void digestCalcResponse(const char* ha1, const char* nonce, const char* nc, const char* cnonce, const char* qop,
                        const char* method, const char* uri, const char* entityHash,
                        char out[http_auth::kDigestHexSize]) {
    unsigned char digest[kMd5Size];
    const bool authInt = qop != nullptr && equalsNoCase(qop, "auth-int");
    if (authInt)
        md5Joined({method, uri, entityHash != nullptr ? entityHash : ""}, digest);
    else
        md5Joined({method, uri}, digest);
    char ha2[http_auth::kDigestHexSize];
    digestToHex(digest, kMd5Size, ha2);
    if (qop != nullptr && *qop != '\0')
        md5Joined({ha1, nonce, nc, cnonce, qop, ha2}, digest);
    else
        md5Joined({ha1, nonce, ha2}, digest);
    digestToHex(digest, kMd5Size, out);
}

bool HttpDigestAuth(const char* login, const char* password, const char* method, const char* uri, const char* challenge,
                    StringBuffer& outLine, LogBase& log) {
    LogContext ctx(log, "HttpDigestAuth");
    {
        LogContext params(log, "params");
        log.logData("login", login);
        log.logData("httpMethod", method);
        log.logData("httpUri", uri);
    }
    outLine.clear();
    log.logData("WwwAuthenticate", challenge);
    std::string_view text(challenge != nullptr ? challenge : "");
    if (text.size() >= 17 && equalsNoCase(text.substr(0, 17), "WWW-Authenticate:"))
        text.remove_prefix(17);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    if (text.size() >= 6 && equalsNoCase(text.substr(0, 6), "Digest"))
        text.remove_prefix(6);
    const std::vector<AuthParam> params = challengeParams(text);
    log.logDataLong("NumParams", static_cast<int>(params.size()));
    const std::string realm = paramValue(params, "realm");
    const std::string nonce = paramValue(params, "nonce");
    std::string algorithm = paramValue(params, "algorithm");
    const std::string qopList = paramValue(params, "qop");
    const std::string opaque = paramValue(params, "opaque");
    log.logData("realm", realm.c_str());
    log.logData("nonce", nonce.c_str());
    log.logData("algorithm", algorithm.c_str());
    log.logData("qop", qopList.c_str());
    if (algorithm.empty())
        algorithm = "MD5";
    if (!equalsNoCase(algorithm, "MD5") && !equalsNoCase(algorithm, "MD5-sess")) {
        log.logError(http_auth::kMsgUnsupportedAlgorithm);
        return false;
    }
    // "auth" when it is offered; a challenge without qop is answered in the
    // form that predates it.
    const char* qop = "";
    if (!qopList.empty()) {
        if (!qopOffers(qopList, "auth")) {
            log.logError(http_auth::kMsgUnsupportedQop);
            return false;
        }
        qop = "auth";
    }
    unsigned char random[http_auth::kCnonceBytes];
    if (!platform::SystemRandomBytes(random, sizeof random))
        return false;
    char cnonce[2 * http_auth::kCnonceBytes + 1];
    digestToHex(random, http_auth::kCnonceBytes, cnonce);
    char ha1[http_auth::kDigestHexSize];
    char response[http_auth::kDigestHexSize];
    digestCalcHa1(algorithm.c_str(), login, realm.c_str(), password, nonce.c_str(), cnonce, ha1);
    digestCalcResponse(ha1, nonce.c_str(), http_auth::kFirstNonceCount, cnonce, qop, method, uri, "", response);

    outLine.setString("Authorization: Digest ");
    appendQuoted(outLine, "username", login);
    outLine.append(", ");
    appendQuoted(outLine, "realm", realm);
    outLine.append(", ");
    appendQuoted(outLine, "nonce", nonce);
    outLine.append(", ");
    appendQuoted(outLine, "uri", uri);
    outLine.append(", algorithm=");
    outLine.append(algorithm.c_str());
    outLine.append(", ");
    appendQuoted(outLine, "response", response);
    if (*qop != '\0') {
        outLine.append(", qop=");
        outLine.append(qop);
        outLine.append(", nc=");
        outLine.append(http_auth::kFirstNonceCount);
        outLine.append(", ");
        appendQuoted(outLine, "cnonce", cnonce);
    }
    if (!opaque.empty()) {
        outLine.append(", ");
        appendQuoted(outLine, "opaque", opaque);
    }
    log.logData("AuthorizationHdr", outLine.getString());
    return true;
}

} // namespace tessik
