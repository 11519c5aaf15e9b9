// The component base's conversion into a named charset. It lives with the
// charset holder it reads, above the core where the rest of the base is.
#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/EncodingConvert.h"
#include "netlib/text/TsCharset.h"

namespace tessik {

namespace {
constexpr int kCodePageLatin1 = 28591;
constexpr int kCodePageWindows1252 = 1252;
} // namespace

bool ClsBase::convertToCharset(const _tsCharset& charset, XString& text, DataBuffer& out, bool withBom,
                               bool addCharsetHint, bool failClosesMethod, LogBase& log) {
    bool ok;
    if (withBom)
        ok = text.getConvertedWithBom(charset, out);
    else if (charset.getCodePage() == kCodePageLatin1)
        // What is labelled ISO-8859-1 is read as windows-1252 everywhere, so
        // the euro sign and the curly quotes survive.
        ok = text.getConvertedToCodePage(kCodePageWindows1252, false, out);
    else
        ok = text.getConverted(charset, out);
    if (ok)
        return true;

    log.logError(cls_msg::kConversionFailed);
    log.logDataLong("NumCharsIn", text.getNumChars());
    log.logData("Charset", charset.getName());
    log.logDataLong("ConvertedToNumBytes", static_cast<int>(out.getSize()));
    if (addCharsetHint)
        log.logInfo(cls_msg::kCharsetHint);
    if (failClosesMethod) {
        // The context being closed is on log, so its closing line goes there.
        logSuccessOrFailed(false, log);
        log.leaveContext();
    }
    return false;
}

bool ClsBase::convertToNamedCharset(const char* name, XString& text, DataBuffer& out, bool addCharsetHint,
                                    LogBase& log) {
    _tsCharset charset;
    if (!charset.setByName(name)) {
        // Sent as UTF-8, it would go out under a name that says otherwise.
        log.logError(cls_msg::kUnknownCharset);
        log.logData("Charset", name);
        if (addCharsetHint)
            log.logInfo(cls_msg::kCharsetHint);
        return false;
    }
    if (!convertToCharset(charset, text, out, false, addCharsetHint, false, log))
        return false;
    if (EncodingConvert::withinNamedCharset(name, out.getData(), out.getSize()))
        return true;
    log.logError(cls_msg::kBeyondNamedCharset);
    log.logData("Charset", name);
    return false;
}

} // namespace tessik
