// Response heads from untrusted servers, as bytes (NULs and bare LFs
// included): parsing never fails unsafely, a refused head keeps nothing, a
// taken one has a three-digit status and a length that is a number or
// marked invalid, the framing decided from it is one of the known kinds,
// and the cookie and address readers take every field value.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/ExtPtrArray.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/http/MimeField.h"
#include "netlib/http/Rfc822Address.h"
#include "netlib/text/TextServices.h"

namespace {
constexpr std::size_t kMaxInput = 16384;
// Each name parses the head again: a bound keeps a head of many fields quick.
constexpr int kMaxNamesCompared = 64;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput)
        return 0;
    tessik::installTextServices();
    tessik::LogNull log;
    tessik::HttpResponseHeader head;
    const bool taken = head.parseBytes(data, static_cast<std::uint32_t>(size), log);
    // Fields looked up straight from the lines agree with the reader's. A
    // fresh head for each name: one the reader must answer (Subject, To)
    // takes the head apart, and later names would go through the reader too.
    const tessik::MimeHeader& fields = head.getFields();
    for (int i = 0; i < fields.getCount() && i < kMaxNamesCompared; ++i) {
        tessik::HttpResponseHeader lazy;
        lazy.parseBytes(data, static_cast<std::uint32_t>(size), log);
        tessik::StringBuffer name, byLines, byReader;
        fields.getNameAt(i, name);
        if (lazy.getField(name.getString(), byLines) != head.getField(name.getString(), byReader) ||
            std::string(byLines.getString(), static_cast<std::size_t>(byLines.getSize())) !=
                std::string(byReader.getString(), static_cast<std::size_t>(byReader.getSize())))
            std::abort();
    }
    if (!taken && (head.getStatusCode() != 0 || fields.getCount() != 0))
        std::abort();
    if (taken && (head.getStatusCode() < 100 || head.getStatusCode() > 999))
        std::abort();
    if (std::memchr(data, 0, size) != nullptr && taken)
        std::abort();
    if (head.getContentLength() < 0 || (head.contentLengthInvalid() && head.getContentLength() != 0))
        std::abort();
    for (bool headRequest : {false, true}) {
        const tessik::BodyFraming framing = tessik::decideBodyFraming(head, headRequest);
        if (framing.kind < tessik::BodyFraming::kNone || framing.kind > tessik::BodyFraming::kBadCoding)
            std::abort();
    }
    tessik::ExtPtrArray cookies;
    cookies.setOwnsObjects(true);
    head.getSetCookies(cookies, ".fuzz.test");
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
