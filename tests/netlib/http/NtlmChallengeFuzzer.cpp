// CHALLENGE messages from untrusted servers: reading one and answering it
// never fails unsafely, and an answer exists exactly when the reading took
// the message.
#include <cstdint>
#include <cstdlib>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/pki/ClsNtlm.h"
#include "netlib/text/TextServices.h"

namespace {
constexpr std::size_t kMaxInput = 70000;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxInput)
        return 0;
    tessik::installTextServices();
    tessik::DataBuffer message;
    message.append(data, static_cast<unsigned int>(size));
    tessik::LogNull log;
    tessik::ntlm::Type2 parsed;
    const bool taken = tessik::ntlm::parseType2Bytes(message, parsed, log);
    for (int version : {tessik::ntlm::kVersion1, tessik::ntlm::kVersion2}) {
        tessik::ClsNtlm ntlm;
        ntlm.setUsername("fuzz");
        ntlm.setPassword("secret");
        ntlm.setDomain("DOMAIN");
        ntlm.setNtlmVersion(version);
        tessik::DataBuffer answer;
        const bool answered = ntlm.genType3Bytes(message, answer, log);
        // Only a target information list near the 64 KiB limit makes a
        // taken message unanswerable.
        if (answered != taken && parsed.targetInfo.getSize() < 0xFF00)
            std::abort();
    }
    return 0;
}
