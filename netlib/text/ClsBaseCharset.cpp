// The component base's conversion into a named charset. It lives with the
// charset holder it reads, above the core where the rest of the base is.
#include "netlib/core/ClsBase.h"
#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
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
    auto utf8Of = [&text] { return reinterpret_cast<const unsigned char*>(text.getUtf8Sb().getString()); };
    const auto count = static_cast<unsigned int>(text.getUtf8Sb().getSize());
    const unsigned int start = out.getSize();
    if (writeExactlyAsNamed(name, writtenPage(charset), utf8Of(), count, out))
        return true;
    // A browser's ISO-2022-JP writes half-width katakana as their
    // full-width forms, which python's codec of the name has not.
    DataBuffer fullWidth;
    if (withFullWidthKatakana(name, utf8Of(), count, fullWidth)) {
        XString written;
        written.setFromUtf8Bytes(reinterpret_cast<const char*>(fullWidth.getData()), fullWidth.getSize());
        out.shorten(out.getSize() - start);
        return convertToNamedCharset(name, written, out, addCharsetHint, log);
    }
    // Under the ISO-2022-JP names the yen sign and the overline go by a road
    // of their own, the page's writer having no escape to JIS X 0201 Roman;
    // the page's failure is not the text's then.
    const bool roman = holdsJisRoman(utf8Of(), count);
    LogNull quiet;
    const bool converted = convertToCharset(charset, text, out, false, addCharsetHint, false, roman ? quiet : log);
    const unsigned char* bytes = utf8Of();
    // What python's codec of the name writes, read back as the text.
    if (converted && writtenAsNamed(name, writtenPage(charset), out.getData(), out.getSize(), bytes, count))
        return true;
    if (roman) {
        out.clear();
        if (writeJisRomanAsNamed(name, writtenPage(charset), bytes, count, out))
            return true;
    } else if (!converted) {
        return false;
    }
    log.logError(cls_msg::kBeyondNamedCharset);
    log.logData("Charset", name);
    return false;
}

} // namespace tessik
