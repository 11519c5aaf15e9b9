// The "NTLM" security package on the library's own NTLM messages: the first
// step sends NEGOTIATE, the second answers the server's CHALLENGE with
// AUTHENTICATE and completes the context.
#include <cstdlib>
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/core/WinUtil.h"
#include "netlib/pki/ClsNtlm.h"
#include "netlib/pki/SecurityPackage.h"

namespace tessik {
namespace sspi {

namespace {

enum class NtlmStep { kStart, kNegotiateSent, kComplete };

class NtlmPackage : public SecurityPackage {
public:
    ~NtlmPackage() override { freeCredentials(); }

    const char* name() const override { return kPackageNtlm; }
    std::uint32_t maxToken() const override { return kMaxTokenNtlm; }

    std::uint32_t acquireCredentials(Identity* identity, LogBase& log) override {
        freeCredentials();
        if (identity == nullptr) {
            const char* path = std::getenv(kNtlmUserFileVariable);
            if (path == nullptr || *path == '\0') {
                log.logError(kMsgNoUserFile);
                return kSecENoCredentials;
            }
            StringBuffer user;
            getUserNameSb(user);
            if (!findNtlmUserFileEntry(path, user.getString(), m_identity, log))
                return kSecENoCredentials;
        } else {
            m_identity.domain.copyFromX(identity->domain);
            m_identity.user.copyFromX(identity->user);
            m_identity.password.copyFromX(identity->password);
        }
        m_haveCredentials = true;
        return kSecEOk;
    }

    void freeCredentials() override {
        m_identity.domain.clear();
        m_identity.user.clear();
        m_identity.password.secureClear();
        m_haveCredentials = false;
        deleteContext();
    }

    std::uint32_t initializeContext(const StringBuffer& /*targetHost*/, std::uint32_t& /*contextFlags*/,
                                    const DataBuffer& input, DataBuffer& output, LogBase& log) override {
        output.clear();
        if (!m_haveCredentials)
            return kSecEInvalidHandle;
        switch (m_step) {
        case NtlmStep::kStart: {
            m_messages = std::make_unique<ClsNtlm>();
            // The security package answers with NTLMv2, as the platform's
            // own does unless told otherwise.
            m_messages->setNtlmVersion(ntlm::kVersion2);
            m_messages->setDomain(m_identity.domain.getUtf8());
            m_messages->setUsername(m_identity.user.getUtf8());
            m_messages->setPassword(m_identity.password.getUtf8());
            StringBuffer computer;
            getComputerNameSb(computer);
            m_messages->setWorkstation(computer.getString());
            if (!m_messages->genType1Bytes(output, log))
                return kSecEInternalError;
            m_step = NtlmStep::kNegotiateSent;
            return kSecIContinueNeeded;
        }
        case NtlmStep::kNegotiateSent:
            if (input.getSize() == 0 || !m_messages->genType3Bytes(input, output, log)) {
                output.clear();
                return kSecEInvalidToken;
            }
            m_step = NtlmStep::kComplete;
            return kSecEOk;
        case NtlmStep::kComplete: break;
        }
        return kSecEOk;
    }

    void deleteContext() override {
        m_messages.reset();
        m_step = NtlmStep::kStart;
    }

private:
    Identity m_identity;
    bool m_haveCredentials = false;
    NtlmStep m_step = NtlmStep::kStart;
    std::unique_ptr<ClsNtlm> m_messages;
};

} // namespace

std::unique_ptr<SecurityPackage> makeNtlmPackage() {
    return std::make_unique<NtlmPackage>();
}

bool findNtlmUserFileEntry(const char* path, const char* user, Identity& out, LogBase& log) {
    DataBuffer content;
    if (!content.loadFileUtf8(path, nullptr) || content.getSize() > kMaxUserFileSize) {
        content.secureClear();
        log.logError(kMsgUserFileUnreadable);
        log.logData("path", path);
        return false;
    }
    StringBuffer text;
    text.appendDb(content);
    content.secureClear();
    bool found = false;
    const char* p = text.getString();
    while (*p != '\0' && !found) {
        const char* end = p;
        while (*end != '\0' && *end != '\n')
            ++end;
        StringBuffer line(p, static_cast<unsigned int>(end - p), 0);
        p = *end == '\n' ? end + 1 : end;
        if (line.lastChar() == '\r')
            line.shorten(1);
        const char* first = std::strchr(line.getString(), ':');
        const char* second = first != nullptr ? std::strchr(first + 1, ':') : nullptr;
        if (line.beginsWith("#") || second == nullptr)
            continue;
        StringBuffer name(first + 1, static_cast<unsigned int>(second - first - 1), 0);
        if (!name.equalsNoCase(user))
            continue;
        out.domain.setFromUtf8Bytes(line.getString(), static_cast<unsigned int>(first - line.getString()));
        out.user.setFromUtf8(name.getString());
        out.password.setFromUtf8(second + 1);
        line.secureClear();
        found = true;
    }
    text.secureClear();
    if (!found) {
        log.logError(kMsgNoUserFileEntry);
        log.logData("user", user);
    }
    return found;
}

} // namespace sspi
} // namespace tessik
