#pragma once
// The implementation object behind TsHttpResponse: what came back for one
// request (status, header fields and the body as received) and the host it
// came from.
#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/TessikCritSec.h"
#include "netlib/core/XString.h"
#include "netlib/http/HttpResponseHeader.h"

namespace tessik {

class ClsHttpResponse : public ClsBase, public TessikCritSec {
public:
    ClsHttpResponse();
    ~ClsHttpResponse() override;

    void setDomain(const char* host) { m_domain.setString(host); }
    const StringBuffer& getDomain() const { return m_domain; }
    DataBuffer& getBody() { return m_body; }
    HttpResult& getResult() { return m_result; }
    std::uint32_t getStatusCode() const { return m_result.responseHeader.getStatusCode(); }
    // The value of the field of that name as UTF-8; false (out empty) when
    // there is none.
    bool getHeaderField(const char* name, XString& out) const;

    // The body as text: its Content-Type charset, else (for an HTML body
    // with bytes past 7 bits) the page's own declaration; a UTF-8 preamble
    // wins over both; else windows-1252. Never fails; what cannot be
    // converted is left out.
    void BodyStr(XString& out);

private:
    HttpResult m_result;
    DataBuffer m_body;
    StringBuffer m_domain;
};

} // namespace tessik
