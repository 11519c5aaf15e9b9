// Response heads and bodies from untrusted servers, fed from memory: the
// head decides the framing, and a chunked body goes through the decoder in
// pieces whose sizes the input chooses. The decoder must stop inside the
// input, respect the size limit and never write past it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "netlib/core/DataBuffer.h"
#include "netlib/core/LogBase.h"
#include "netlib/http/HttpBodyFraming.h"
#include "netlib/http/HttpResponseHeader.h"
#include "netlib/text/TextServices.h"

namespace {
constexpr std::size_t kMaxInput = 65536;
constexpr std::uint64_t kMaxBody = 4096;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > kMaxInput)
        return 0;
    tessik::installTextServices();
    // The first byte chooses the piece size of the body reads.
    const std::uint32_t piece = 1u + data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t end = text.find("\r\n\r\n");
    const std::string head = end == std::string::npos ? text : text.substr(0, end + 4);
    const std::string body = end == std::string::npos ? std::string() : text.substr(end + 4);
    tessik::LogNull log;
    tessik::HttpResponseHeader header;
    header.parseBytes(reinterpret_cast<const unsigned char*>(head.data()), static_cast<std::uint32_t>(head.size()),
                      log);
    const tessik::BodyFraming framing = tessik::decideBodyFraming(header, (data[0] & 1) != 0);
    tessik::checkBodyLength(framing, kMaxBody, log);

    tessik::DataBuffer decoded;
    tessik::OutputDataBuffer sink(&decoded);
    tessik::CappedOutput out(sink, kMaxBody);
    tessik::ChunkedDecoder decoder(kMaxBody);
    std::size_t pos = 0;
    while (pos < body.size() && !decoder.isDone()) {
        const std::size_t n = std::min<std::size_t>(piece, body.size() - pos);
        std::uint32_t used = 0;
        const bool ok = decoder.feed(reinterpret_cast<const unsigned char*>(body.data() + pos),
                                     static_cast<std::uint32_t>(n), out, used, log, nullptr);
        if (used > n)
            std::abort();
        pos += used;
        if (!ok)
            break;
        if (used < n && !decoder.isDone())
            std::abort();
    }
    if (decoded.getSize() > kMaxBody || decoder.bodySize() != decoded.getSize())
        std::abort();
    tessik::undoContentCodings(header, decoded, kMaxBody, log, nullptr);
    if (decoded.getSize() > kMaxBody)
        std::abort();
    return 0;
}
