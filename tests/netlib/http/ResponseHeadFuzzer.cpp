// Response heads from untrusted servers: parsing never fails unsafely, the
// fields render and read back to the same count, and the cookie and address
// readers take every value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/MimeField.h"
#include "netlib/http/Rfc822Address.h"
#include "netlib/text/TextServices.h"

namespace {
constexpr std::size_t kMaxInput = 16384;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput)
        return 0;
    tessik::installTextServices();
    std::string text(reinterpret_cast<const char*>(data), size);
    tessik::LogNull log;
    tessik::HttpResponseHeader head;
    head.parse(text.c_str(), log);
    tessik::ExtPtrArray cookies;
    cookies.setOwnsObjects(true);
    head.getSetCookies(cookies, ".fuzz.test");
    const tessik::MimeHeader& fields = head.getFields();
    for (int i = 0; i < fields.getCount(); ++i) {
        tessik::ExtPtrArray list;
        list.setOwnsObjects(true);
        tessik::parseAddressList(fields.getFieldAt(i)->getValueSb().getString(), true, list, true, 0);
    }
    for (const char* charset : {"utf-8", "us-ascii", "iso-8859-1", "shift_jis"}) {
        tessik::StringBuffer rendered;
        head.getFieldsText(rendered, charset, log, false);
    }
    return 0;
}
