// The "Negotiate" and "Kerberos" security packages over GSSAPI (MIT
// Kerberos): SPNEGO or the Kerberos mechanism itself, to the host-based
// service "HTTP@" the target host. Default credentials are those the
// mechanisms find (the Kerberos credential cache); explicit ones are a
// Kerberos ticket got with the password.
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <krb5.h>

#include <atomic>
#include <cstring>

#include "netlib/core/LogBase.h"
#include "netlib/pki/SecurityPackage.h"

namespace tessik {
namespace sspi {

namespace {

constexpr const char* kServicePrefix = "HTTP@";
constexpr const char* kTicketCachePrefix = "MEMORY:gorvane-sspi-";
std::atomic<std::uint32_t> g_ticketCaches{0};
// 1.3.6.1.5.5.2
gss_OID_desc kSpnegoOid = {6, const_cast<char*>("\x2b\x06\x01\x05\x05\x02")};

// The texts GSSAPI gives for a status, under tag.
void logGssStatus(const char* tag, OM_uint32 major, OM_uint32 minor, gss_OID mech, LogBase& log) {
    StringBuffer text;
    for (int kind : {GSS_C_GSS_CODE, GSS_C_MECH_CODE}) {
        const OM_uint32 code = kind == GSS_C_GSS_CODE ? major : minor;
        if (kind == GSS_C_MECH_CODE && minor == 0)
            break;
        OM_uint32 context = 0;
        do {
            OM_uint32 ignored = 0;
            gss_buffer_desc piece = GSS_C_EMPTY_BUFFER;
            if (gss_display_status(&ignored, code, kind, mech, &context, &piece) != GSS_S_COMPLETE)
                break;
            if (text.getSize() != 0)
                text.append("; ");
            text.appendBytes(piece.value, static_cast<int>(piece.length));
            gss_release_buffer(&ignored, &piece);
        } while (context != 0);
    }
    log.logData(tag, text.getString());
}

class GssapiPackage : public SecurityPackage {
public:
    explicit GssapiPackage(bool spnego) : m_spnego(spnego) {}
    ~GssapiPackage() override { freeCredentials(); }

    const char* name() const override { return m_spnego ? kPackageNegotiate : kPackageKerberos; }
    std::uint32_t maxToken() const override { return m_spnego ? kMaxTokenNegotiate : kMaxTokenKerberos; }

    std::uint32_t acquireCredentials(Identity* identity, LogBase& log) override {
        freeCredentials();
        gss_OID_set_desc mechs = {1, mech()};
        OM_uint32 minor = 0;
        OM_uint32 major;
        if (identity == nullptr) {
            major = gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechs, GSS_C_INITIATE, &m_credentials,
                                     nullptr, nullptr);
        } else {
            StringBuffer principal;
            principal.append(identity->user.getUtf8());
            if (identity->domain.getSizeUtf8() != 0) {
                principal.appendChar('@');
                principal.append(identity->domain.getUtf8());
            }
            gss_buffer_desc nameText = {static_cast<size_t>(principal.getSize()),
                                        const_cast<char*>(principal.getString())};
            gss_name_t name = GSS_C_NO_NAME;
            major = gss_import_name(&minor, &nameText, GSS_C_NT_USER_NAME, &name);
            if (major == GSS_S_COMPLETE)
                major = acquireWithPassword(name, identity->password, minor);
            OM_uint32 ignored = 0;
            gss_release_name(&ignored, &name);
        }
        if (major == GSS_S_COMPLETE)
            return kSecEOk;
        logGssStatus("gssStatus", major, minor, mech(), log);
        m_credentials = GSS_C_NO_CREDENTIAL;
        if (GSS_ROUTINE_ERROR(major) == GSS_S_NO_CRED || GSS_ROUTINE_ERROR(major) == GSS_S_CREDENTIALS_EXPIRED)
            return kSecENoCredentials;
        if (GSS_ROUTINE_ERROR(major) == GSS_S_BAD_MECH)
            return kSecESecpkgNotFound;
        // The mechanism's own reason (a wrong password, an unknown user, no
        // KDC) reaches us only as the text logged above.
        return kSecEUnknownCredentials;
    }

    void freeCredentials() override {
        deleteContext();
        if (m_credentials != GSS_C_NO_CREDENTIAL) {
            OM_uint32 ignored = 0;
            gss_release_cred(&ignored, &m_credentials);
        }
        m_credentials = GSS_C_NO_CREDENTIAL;
        destroyTicketCache();
    }

    std::uint32_t initializeContext(const StringBuffer& targetHost, std::uint32_t& contextFlags,
                                    const DataBuffer& input, DataBuffer& output, LogBase& log) override {
        output.clear();
        if (m_complete) {
            // Whatever the server adds once the context stands (a 200 that
            // repeats its last token) needs no answer.
            return kSecEOk;
        }
        OM_uint32 minor = 0;
        if (m_target == GSS_C_NO_NAME) {
            if (targetHost.getSize() == 0)
                return kSecETargetUnknown;
            StringBuffer service(kServicePrefix);
            service.appendSb(targetHost);
            log.logData("gssTarget", service.getString());
            gss_buffer_desc text = {static_cast<size_t>(service.getSize()), const_cast<char*>(service.getString())};
            if (gss_import_name(&minor, &text, GSS_C_NT_HOSTBASED_SERVICE, &m_target) != GSS_S_COMPLETE) {
                m_target = GSS_C_NO_NAME;
                return kSecETargetUnknown;
            }
        }
        // A context under way needs the server's token to go on: SPNEGO in
        // the mechanism library reads through a missing one and crashes, where
        // the Kerberos mechanism calls it defective, as we do for both.
        if (m_context != GSS_C_NO_CONTEXT && input.getSize() == 0)
            return kSecEInvalidToken;
        gss_buffer_desc in = {static_cast<size_t>(input.getSize()), input.getData()};
        gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
        OM_uint32 granted = 0;
        const OM_uint32 major = gss_init_sec_context(
            &minor, m_credentials, &m_context, m_target, mech(), contextFlags & kIscReqMask, 0,
            GSS_C_NO_CHANNEL_BINDINGS, input.getSize() != 0 ? &in : GSS_C_NO_BUFFER, nullptr, &out, &granted, nullptr);
        if (out.length != 0)
            output.append(out.value, static_cast<unsigned int>(out.length));
        OM_uint32 ignored = 0;
        gss_release_buffer(&ignored, &out);
        if (major == GSS_S_COMPLETE) {
            contextFlags = granted & kIscReqMask;
            m_complete = true;
            return kSecEOk;
        }
        if (major == GSS_S_CONTINUE_NEEDED) {
            contextFlags = granted & kIscReqMask;
            return kSecIContinueNeeded;
        }
        logGssStatus("gssStatus", major, minor, mech(), log);
        output.clear();
        switch (GSS_ROUTINE_ERROR(major)) {
        case GSS_S_DEFECTIVE_TOKEN:
        case GSS_S_BAD_SIG:
        case GSS_S_DUPLICATE_TOKEN:
        case GSS_S_OLD_TOKEN: return kSecEInvalidToken;
        case GSS_S_NO_CRED:
        case GSS_S_CREDENTIALS_EXPIRED:
        case GSS_S_DEFECTIVE_CREDENTIAL: return kSecENoCredentials;
        case GSS_S_BAD_NAME:
        case GSS_S_BAD_NAMETYPE: return kSecETargetUnknown;
        case GSS_S_NO_CONTEXT: return kSecEInvalidHandle;
        default: return kSecEInternalError;
        }
    }

    void deleteContext() override {
        OM_uint32 ignored = 0;
        if (m_context != GSS_C_NO_CONTEXT)
            gss_delete_sec_context(&ignored, &m_context, GSS_C_NO_BUFFER);
        m_context = GSS_C_NO_CONTEXT;
        if (m_target != GSS_C_NO_NAME)
            gss_release_name(&ignored, &m_target);
        m_target = GSS_C_NO_NAME;
        m_complete = false;
    }

private:
    // A Kerberos ticket for name. SPNEGO would hand name and password to
    // every mechanism it knows, some of which mishandle them, so it gets the
    // ticket from a memory credential cache of this package instead.
    OM_uint32 acquireWithPassword(gss_name_t name, XString& password, OM_uint32& minor) {
        gss_OID_set_desc krb5 = {1, const_cast<gss_OID>(gss_mech_krb5)};
        gss_buffer_desc secret = {static_cast<size_t>(password.getSizeUtf8()), const_cast<char*>(password.getUtf8())};
        gss_cred_id_t ticket = GSS_C_NO_CREDENTIAL;
        OM_uint32 major = gss_acquire_cred_with_password(&minor, name, &secret, GSS_C_INDEFINITE, &krb5, GSS_C_INITIATE,
                                                         m_spnego ? &ticket : &m_credentials, nullptr, nullptr);
        if (!m_spnego || major != GSS_S_COMPLETE)
            return major;
        m_ticketCache.setString(kTicketCachePrefix);
        m_ticketCache.appendUint32(++g_ticketCaches);
        gss_key_value_element_desc element = {"ccache", m_ticketCache.getString()};
        gss_key_value_set_desc store = {1, &element};
        major = gss_store_cred_into(&minor, ticket, GSS_C_INITIATE, const_cast<gss_OID>(gss_mech_krb5), 1, 0, &store,
                                    nullptr, nullptr);
        OM_uint32 ignored = 0;
        gss_release_cred(&ignored, &ticket);
        if (major != GSS_S_COMPLETE)
            return major;
        // The cache holds that ticket alone, so no name is needed (the other
        // mechanisms would be handed it too).
        gss_OID_set_desc spnego = {1, mech()};
        return gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &spnego, GSS_C_INITIATE, &store,
                                     &m_credentials, nullptr, nullptr);
    }

    void destroyTicketCache() {
        if (m_ticketCache.getSize() == 0)
            return;
        krb5_context context = nullptr;
        if (krb5_init_context(&context) == 0) {
            krb5_ccache cache = nullptr;
            if (krb5_cc_resolve(context, m_ticketCache.getString(), &cache) == 0)
                krb5_cc_destroy(context, cache);
            krb5_free_context(context);
        }
        m_ticketCache.clear();
    }

    gss_OID mech() const { return m_spnego ? &kSpnegoOid : const_cast<gss_OID>(gss_mech_krb5); }

    bool m_spnego;
    gss_cred_id_t m_credentials = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t m_context = GSS_C_NO_CONTEXT;
    gss_name_t m_target = GSS_C_NO_NAME;
    bool m_complete = false;
    StringBuffer m_ticketCache;
};

} // namespace

std::unique_ptr<SecurityPackage> makeGssapiPackage(const char* name) {
    return std::make_unique<GssapiPackage>(name != nullptr && std::strcmp(name, kPackageNegotiate) == 0);
}

} // namespace sspi
} // namespace tessik
