#include "netlib/core/ClsBase.h"

#include <bit>
#include <string>

#include "netlib/core/Checkpoints.h"
#include "netlib/core/StringBuffer.h"
#include "netlib/core/WinUtil.h"

namespace tessik {

namespace {

// The library's build date as the frame reports it.
constexpr const char* kDllDate = "Jun 16 2011";
constexpr int kCppBinding = 0;

struct Binding {
    int number;
    const char* language;
};

constexpr Binding kBindings[] = {
    {1, ".NET 1.*"}, {2, ".NET 2.0"},      {264, ".NET 2.0 / x64"}, {4, ".NET 4.0"},      {464, ".NET 4.0 / x64"},
    {3, "ActiveX"},  {10, "Windows Ruby"}, {11, "Windows Python"},  {12, "Windows Perl"}, {13, "Windows Java"},
};
constexpr const char* kDefaultLanguage = "Visual C++ 10.0";

// "machine:user", looked up once per process: every public method's log
// begins with it, and reading the account database each time would cost
// more than a small request.
const std::string& machineAndUser() {
    static const std::string names = [] {
        StringBuffer text;
        getComputerNameSb(text);
        if (text.getSize() > 0)
            text.appendChar(':');
        getUserNameSb(text);
        return std::string(text.getString());
    }();
    return names;
}

// Known when compiled: every method's frame logs it.
constexpr const char* kArchitecture = std::endian::native == std::endian::big
                                          ? (sizeof(void*) == 8 ? "Big Endian; 64-bit" : "Big Endian; 32-bit")
                                          : (sizeof(void*) == 8 ? "Little Endian; 64-bit" : "Little Endian; 32-bit");

} // namespace

const char* bindingLanguageName(int binding) {
    for (const Binding& b : kBindings)
        if (b.number == binding)
            return b.language;
    return kDefaultLanguage;
}

ClsBase::ClsBase() : m_magic(kClsBaseMagic) {}

ClsBase::~ClsBase() {
    m_magic = 0;
}

void ClsBase::enterMethod(const char* methodName) {
    enterMethodLog(methodName, m_log);
}

void ClsBase::enterMethodLog(const char* methodName, LogBase& log) {
    resetCheckpoints();
    log.clearLog();
    log.enterContext(methodName, true);
    log.logData("DllDate", kDllDate);

    log.logData("Username", machineAndUser().c_str());

    log.logData("Architecture", kArchitecture);
    log.logData("Language", bindingLanguageName(kCppBinding));
}

void ClsBase::logSuccessOrFailed(bool ok) {
    logSuccessOrFailed(ok, m_log);
}

void ClsBase::logSuccessOrFailed(bool ok, LogBase& log) {
    if (ok)
        log.logInfo(cls_msg::kSuccess);
    else
        log.logError(cls_msg::kFailed);
}

void ClsBase::getLastErrorText(XString& out, bool normaliseLineEnds) {
    StringBuffer text;
    m_log.getLogText(text);
    if (normaliseLineEnds)
        text.toCRLF();
    out.setFromUtf8(text.getString());
}

} // namespace tessik
