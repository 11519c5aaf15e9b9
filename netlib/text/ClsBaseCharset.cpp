// The component base's conversion into a named charset. It lives with the
// charset holder it reads, above the core where the rest of the base is.
#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/XString.h"
#include "netlib/text/TsCharset.h"
#include "netlib/text/WrittenText.h"

namespace tessik {

namespace {
constexpr int kCodePageLatin1 = 28591;
constexpr int kCodePageWindows1252 = 1252;

// The page text under a charset is written in, BOM aside: what is labelled
// ISO-8859-1 is read as windows-1252 everywhere, so the euro sign and the
// curly quotes survive.
int writtenPage(const _tsCharset& charset) {
    return charset.getCodePage() == kCodePageLatin1 ? kCodePageWindows1252 : charset.getCodePage();
}

} // namespace

bool ClsBase::convertToCharset(const _tsCharset& charset, XString& text, DataBuffer& out, bool withBom,
                               bool addCharsetHint, bool failClosesMethod, LogBase& log) {
    bool ok;
    if (withBom)
        ok = text.getConvertedWithBom(charset, out);
    else if (writtenPage(charset) != charset.getCodePage())
        ok = text.getConvertedToCodePage(writtenPage(charset), false, out);
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
    // What python's codec of the name writes, read back as the text.
    const StringBuffer& utf8 = text.getUtf8Sb();
    if (writtenAsNamed(name, writtenPage(charset), out.getData(), out.getSize(),
                       reinterpret_cast<const unsigned char*>(utf8.getString()),
                       static_cast<unsigned int>(utf8.getSize())))
        return true;
    log.logError(cls_msg::kBeyondNamedCharset);
    log.logData("Charset", name);
    return false;
}

} // namespace tessik
