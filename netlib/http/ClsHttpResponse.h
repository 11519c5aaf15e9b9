#pragma once
// The implementation object behind TsHttpResponse: what came back for one
// request. The engine fills the body; the status and header fields join it
// with the response model.
#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/XString.h"

namespace tessik {

class ClsHttpResponse : public ClsBase, public TessikCritSec {
public:
    ClsHttpResponse();
    ~ClsHttpResponse() override;

    void setDomain(const char* host) { m_domain.setString(host); }
    const StringBuffer& getDomain() const { return m_domain; }
    DataBuffer& getBody() { return m_body; }

    // The body as text: UTF-8 behind a UTF-8 preamble, else the declared
    // charset, else windows-1252. Never fails; what cannot be converted is
    // left out.
    void BodyStr(XString& out);

private:
    // The charset the response declares for its body; empty when none.
    void getDeclaredCharset(StringBuffer& charset);

    DataBuffer m_body;
    StringBuffer m_domain;
};

} // namespace tessik
