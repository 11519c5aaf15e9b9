#pragma once
// The base of every component object behind the public facade (HTTP, XML,
// crypt, cache, NTLM ...): its own log, which after each public call explains
// that call, a liveness value, and the frame every public method opens and
// closes:
//
//     enterMethod("Name");            // clears the log, opens "Name"
//     ... log arguments and work ...
//     logSuccessOrFailed(ok);         // "Success." or "Failed."
//     m_log.leaveContext();
//
// A method that refuses at once (for example while a background call runs)
// logs its reason and leaves the context without "Success."/"Failed.".
#include <cstdint>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/Logger.h"
#include "netlib/core/TessikObject.h"
#include "netlib/core/XString.h"

namespace tessik {

// Set while the object lives, cleared by the destructor; code that is handed
// a component through an untyped pointer checks it first.
constexpr std::uint32_t kClsBaseMagic = 0x991144AA;

// Texts of the frame that callers and tests match exactly.
namespace cls_msg {
constexpr const char* kSuccess = "Success.";
constexpr const char* kFailed = "Failed.";
constexpr const char* kConversionFailed = "Character encoding conversion failed.";
constexpr const char* kBeyondNamedCharset =
    "The text holds characters that the charset named does not have, only a vendor's extension of it.";
constexpr const char* kUnknownCharset = "The charset named is not one the library writes text in.";
constexpr const char* kCharsetHint = "Set the Charset property equal to an appropriate charset "
                                     "(see the list of charset names in the library's documentation)";
} // namespace cls_msg

class ClsBase : public TessikObject {
public:
    ClsBase();
    ~ClsBase() override;
    ClsBase(const ClsBase&) = delete;
    ClsBase& operator=(const ClsBase&) = delete;

    // The method-entry frame on the own log, or on a log the caller passes
    // (a background task's).
    void enterMethod(const char* methodName);
    void enterMethodLog(const char* methodName, LogBase& log);
    // The closing line; the caller leaves the context afterwards.
    void logSuccessOrFailed(bool ok);
    static void logSuccessOrFailed(bool ok, LogBase& log);

    // The own log's whole text as UTF-8; optionally with every line end made
    // CR LF (stray CRs dropped).
    void getLastErrorText(XString& out, bool normaliseLineEnds);

    // The text in the charset's code page (ISO-8859-1 is written as
    // windows-1252), optionally behind a byte-order mark. On failure the
    // reason goes to log, out keeps what was converted, and with
    // failClosesMethod the method's context on log is closed as failed.
    bool convertToCharset(const _tsCharset& charset, XString& text, DataBuffer& out, bool withBom, bool addCharsetHint,
                          bool failClosesMethod, LogBase& log);
    // The text to send under a charset name a caller gives, as
    // convertToCharset writes it; it fails where the bytes are not what
    // python's codec of the name writes for the text (writtenAsNamed): a
    // code only the vendor's page a standard's name (gb2312, shift_jis)
    // maps to has, or one that reads back as another character; and under
    // a name the library does not write text in (unknown, or without a
    // table: EUC-TW), as SaveXml does. Under a label of a browser's
    // ISO-2022-JP half-width katakana go as that encoder writes them, in
    // their full-width forms.
    bool convertToNamedCharset(const char* name, XString& text, DataBuffer& out, bool addCharsetHint, LogBase& log);

    bool isAlive() const { return m_magic == kClsBaseMagic; }
    Logger& getLog() { return m_log; }

protected:
    Logger m_log;

private:
    std::uint32_t m_magic;
};

// The "Language" line of the frame: the binding through which the library is
// used. This build is used from C++ only, binding 0.
const char* bindingLanguageName(int binding);

} // namespace tessik
